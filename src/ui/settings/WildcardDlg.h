#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class WildcardDlg;
}

// "Wildcard entry": a name pattern to exclude, optionally bound to a folder chosen with
// "Browse Folders". The text is used as typed; no check is made. OK remembers the dialog's
// folder for the next Browse and wildcard entry.
class WildcardDlg : public QDialog {
    Q_OBJECT

  public:
    explicit WildcardDlg(const std::string& folder, QWidget* parent = nullptr);
    ~WildcardDlg() override;

    std::string wildcard() const;
    void setWildcard(const std::string& text);
    const std::string& folder() const { return folder_; }

  public slots:
    // "Select Folder" from the dialog's folder; the chosen folder becomes the whole text, with
    // the caret at its end for the pattern.
    void OnBrowseFolders();
    void accept() override;

  private:
    std::unique_ptr<Ui::WildcardDlg> ui_;
    std::string folder_;
};
