#pragma once

#include "ui/mainwindow/WindowDialogs.h"

class SettingsStore;

// The real dialogs of the main window, each shown with exec() (the browse, folder and exclusion
// dialogs through runModal, so that a test can drive the real ones). The dialogs the person
// opens from the main window show their messages even in silent mode: quietMode is off while
// they are open and restored afterwards.
class QtWindowDialogs final : public WindowDialogs {
  public:
    // `settings` (not owned; may be null) keeps "OpenPath", where the Batch List dialog's file
    // chooser starts and what it remembers.
    explicit QtWindowDialogs(SettingsStore* settings = nullptr);

    bool moreOptions(QWidget* parent, Profile& profile) override;
    bool configuration(QWidget* parent, ConfigurationSettings& settings,
                       std::string& connectionsFileName) override;
    bool batchList(QWidget* parent, BatchList& batch) override;
    bool reviewPlan(QWidget* parent, PlanForReview& plan) override;
    void report(QWidget* parent, const ReportData& report) override;
    bool connecting(QWidget* parent, const std::shared_ptr<ConnectionDetails>& connection,
                    bool askTrust = false) override;
    std::optional<std::string> chooseLocalFolder(QWidget* parent,
                                                 const std::string& startPath) override;
    FtpBrowse browseFtp(QWidget* parent, ConnectionList& connections,
                        std::shared_ptr<ConnectionDetails>& active,
                        const std::string& startFolder) override;
    bool ftpExclusions(QWidget* parent, ExclusionSet& exclusions, ConnectionList& connections,
                       std::shared_ptr<ConnectionDetails>& active, const std::string& ftpPath,
                       bool& connectionsChanged) override;
    bool localExclusions(QWidget* parent, ExclusionSet& exclusions) override;

  private:
    SettingsStore* settings_;
};
