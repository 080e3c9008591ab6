#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class DirNameDlg;
}

// Asks for the name of a new folder; the name is used exactly as typed.
class DirNameDlg : public QDialog {
    Q_OBJECT

  public:
    explicit DirNameDlg(QWidget* parent = nullptr);
    ~DirNameDlg() override;

    std::string directoryName() const;
    void setDirectoryName(const std::string& name);

  private:
    std::unique_ptr<Ui::DirNameDlg> ui_;
};
