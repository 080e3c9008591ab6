#pragma once

#include <QDialog>
#include <memory>

class Profile;
namespace Ui {
class MoreOptionsDlg;
}

// "More Options" of the open profile: auto start, the comparison and the server's time
// adjustment, and the log file. The profile changes only on OK, and only once every value has
// passed its check.
class MoreOptionsDlg : public QDialog {
    Q_OBJECT

  public:
    explicit MoreOptionsDlg(Profile& profile, QWidget* parent = nullptr);
    ~MoreOptionsDlg() override;

  public slots:
    void OnLogFile();
    void OnBrowse();
    // Checks the values; a refusal has been told and the dialog stays open.
    void accept() override;

  private:
    void enableLogControls();

    std::unique_ptr<Ui::MoreOptionsDlg> ui_;
    Profile& profile_;
};
