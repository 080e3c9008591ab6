#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "profiles/AppSettings.h"

class AboutDlg;
namespace Ui {
class ConfigurationDlg;
}

// "Configuration": the program-wide settings. It edits copies; on OK the values that passed
// their checks are handed back, and the caller applies and stores them (and moves the
// connections file when its path changed).
class ConfigurationDlg : public QDialog {
    Q_OBJECT

  public:
    ConfigurationDlg(ConfigurationSettings& settings, std::string& connectionsFileName,
                     QWidget* parent = nullptr);
    ~ConfigurationDlg() override;

    // What "About" opens.
    std::unique_ptr<AboutDlg> makeAbout();

  public slots:
    void OnConnectionTimeout();
    void OnBrowse();
    void OnAbout();
    // Checks the values; a refusal has been told and the dialog stays open.
    void accept() override;

  private:
    std::unique_ptr<Ui::ConfigurationDlg> ui_;
    ConfigurationSettings& settings_;
    std::string& connectionsFileName_;
};
