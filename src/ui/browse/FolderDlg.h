#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>

class CTreeFileCtrl;
namespace Ui {
class FolderDlg;
}

// "Select folder": one local folder picked in the folder tree. The prompt above the tree says
// what the folder is for ("Select Local Folder", "Select Folder"). After OK, path() is the chosen
// folder with a trailing separator ("/" when nothing with a path was chosen).
class FolderDlg : public QDialog {
    Q_OBJECT

  public:
    FolderDlg(const std::string& initialPath, const QString& prompt, QWidget* parent = nullptr);
    ~FolderDlg() override;

    // The chosen folder: while the dialog is open the tree's selected path, after OK with its
    // trailing separator.
    std::string path() const { return path_; }
    CTreeFileCtrl& tree() const { return *tree_; }

    // The opening work (options, the tree filled, the initial path selected); done once, when
    // the dialog is first shown. Public so that a test that never shows the dialog can run it.
    void initialise();

  public slots:
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onTreeSelection();

    std::unique_ptr<Ui::FolderDlg> ui_;
    CTreeFileCtrl* tree_;
    std::string initialPath_;
    std::string path_;
    bool initialised_ = false;
};
