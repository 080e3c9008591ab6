#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/Synchroniser.h"
#include "profiles/AppSettings.h"
#include "ui/mainwindow/QtSynchroniserView.h"

namespace Ui {
class CSynchroniserDlg;
}

class QAbstractButton;
class QComboBox;
class SettingsStore;
class WindowDialogs;

// The program's main window: the open profile or batch, the two locations, the options, the
// commands and the running display. What a run decides lives in the Synchroniser it owns; this
// class decides what the window shows, enables and asks.
//
// Constructing it initialises it from the settings and opens the command-line file (or the file
// left open at the last exit); its timers then start an automatic run and watch the connection.
// Every dialog it opens comes from `dialogs`, every file chooser from fileDialogs(), every
// message from prompter().
class CSynchroniserDlg : public QDialog {
    Q_OBJECT

  public:
    CSynchroniserDlg(WindowDialogs& dialogs, SettingsStore& store,
                     const std::filesystem::path& settingsFolder,
                     const std::string& commandLineFile, QWidget* parent = nullptr);
    ~CSynchroniserDlg() override;

    Synchroniser& synchroniser() { return sync_; }
    AppSettings& settings() { return settings_; }
    WindowDialogs& dialogs() { return dialogs_; }

    // The enabled, shown and checked states of every control, from the window's values.
    void refreshControls();

    // The running display, on the window's thread.
    void showStatus(const QString& text);
    void showPhase(const QString& label);
    void showProgress(int thousandths, const QString& percent, const QString& timeRemaining);
    void showRetries(const QString& label, const QString& count);

    // Exit on completion: the window leaves as "Exit" does, once the run has returned.
    void closeProgram();

    // Where Help finds the user guide: the build's copy beside the program, the one installed
    // next to bin/, the source tree's, or the one at the configured prefix.
    static std::filesystem::path userGuidePath();

    // ---- Commands (the handlers of the buttons, boxes and timers) ----
    void OnSynch12();
    void OnRunbatch();
    void OnOpen();
    void OnSelchangeRecentFiles(int index);
    void OnClose();
    void OnSave();
    void OnSaveas();
    void OnBatch();
    void OnMoreOptions();
    void OnConfiguration();
    void OnConnect();
    void OnLocalLocation();
    void OnFtpLocation();
    void OnFtpBrowse();
    void OnFtpExclusions();
    void OnLocalExclusions();
    void OnLastReport();
    void OnHelp();
    void OnStop();
    void OnExit();
    void OnCancel();
    void OnTimer(int id);
    // A location typed or picked in its box.
    void useLocalLocation(const std::string& location);
    void useFtpLocation(const std::string& location);

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void initialise(const std::string& commandLineFile);
    void applyConfiguration();
    void applyTooltips();
    void connectControls();
    // A check box sets its option and the profile's field; `interlock` then switches off the
    // options it rules out.
    void connectCheckBox(QAbstractButton* box, bool Synchroniser::Options::*option,
                         bool Profile::*field, void (CSynchroniserDlg::*interlock)(bool) = nullptr);
    void setOption(bool Synchroniser::Options::*option, bool Profile::*field, bool on);
    void onCheckActions(bool on);
    void onSilentMode(bool on);
    void setLocation(std::string Synchroniser::Options::*option, std::string Profile::*field,
                     const std::string& location);

    // The option defaults of the settings, as the window's values (no profile open).
    void takeOptionDefaults();
    // The window's values, as the option defaults written at exit.
    OptionDefaults optionDefaults() const;
    // The window's values into the profile, before it is written.
    void storeValuesInProfile();

    // The save prompts: Yes saves as "Save" does.
    void askToSaveBatch();
    void askToSaveProfile();
    void askToSaveChanges();
    // Writes the profile (or, with asBatch, the batch) to `path`; false after reporting why.
    bool writeOpenFile(const std::string& path, bool asBatch, const char* context);
    // "Open" (path null: the file chooser asks) and a pick in the recent-files box; false when
    // no file was loaded.
    bool openFile(const std::string* path);
    void moveConnectionsFile(std::string newPath);
    void reloadConnections();
    // After a dialog in which the connection manager changed the list.
    void saveChangedConnections(bool changed);
    // Where the FTP browse dialogs start: the path of the FTP location, until Connect clears
    // it after the connections were changed (the location's path may not exist on another
    // server); a new location brings its path back.
    std::string ftpFolderPath() const;
    void clearFtpFolderPath();
    void exitProgram();

    void fillLocationBox(QComboBox& box, const LocationHistory& history,
                         const std::string& current);
    void fillRecentFilesBox();

    std::unique_ptr<Ui::CSynchroniserDlg> ui_;
    WindowDialogs& dialogs_;
    SettingsStore& store_;
    AppSettings settings_;
    QtSynchroniserView view_;
    Synchroniser sync_;
    QTimer timer1_;
    QTimer timer4_;
    bool autoStart_ = false;
    bool exiting_ = false;
    bool exitQueued_ = false;
    // The FTP location the folder path was cleared for.
    std::optional<std::string> ftpFolderClearedFor_;
};
