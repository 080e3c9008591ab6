#include "ui/mainwindow/QtWindowDialogs.h"

#include "common/ErrorReport.h"
#include "engine/SynchroniserView.h"
#include "ui/ModalDialog.h"
#include "ui/browse/BrowseFtpDlg.h"
#include "ui/browse/FolderDlg.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/report/SyncReportDlg.h"
#include "ui/report/SyncResultsDlg.h"
#include "ui/settings/BatchDlg.h"
#include "ui/settings/ConfigurationDlg.h"
#include "ui/settings/FtpExclusionsDlg.h"
#include "ui/settings/LocalExclusionsDlg.h"
#include "ui/settings/MoreOptionsDlg.h"

QtWindowDialogs::QtWindowDialogs(SettingsStore* settings) : settings_(settings) {}

namespace {

// Messages of a dialog the person opened are always shown, silent mode or not.
class QuietModeOff {
  public:
    QuietModeOff() : saved_(quietMode.exchange(false)) {}
    ~QuietModeOff() { quietMode = saved_; }
    QuietModeOff(const QuietModeOff&) = delete;
    QuietModeOff& operator=(const QuietModeOff&) = delete;

  private:
    bool saved_;
};

}  // namespace

bool QtWindowDialogs::moreOptions(QWidget* parent, Profile& profile) {
    const QuietModeOff messagesShown;
    MoreOptionsDlg dialog(profile, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool QtWindowDialogs::configuration(QWidget* parent, ConfigurationSettings& settings,
                                    std::string& connectionsFileName) {
    const QuietModeOff messagesShown;
    ConfigurationDlg dialog(settings, connectionsFileName, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool QtWindowDialogs::batchList(QWidget* parent, BatchList& batch) {
    const QuietModeOff messagesShown;
    BatchDlg dialog(batch, settings_, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool QtWindowDialogs::reviewPlan(QWidget* parent, PlanForReview& plan) {
    SyncResultsDlg dialog(plan, parent);
    return dialog.exec() == QDialog::Accepted;
}

void QtWindowDialogs::report(QWidget* parent, const ReportData& report) {
    SyncReportDlg dialog(report, parent);
    dialog.exec();
}

bool QtWindowDialogs::connecting(QWidget* parent,
                                 const std::shared_ptr<ConnectionDetails>& connection,
                                 bool askTrust) {
    ConnectingDlg dialog(connection, parent, askTrust);
    return dialog.exec() == QDialog::Accepted;
}

std::optional<std::string> QtWindowDialogs::chooseLocalFolder(QWidget* parent,
                                                              const std::string& startPath) {
    const QuietModeOff messagesShown;
    FolderDlg dialog(startPath, QStringLiteral("Select Local Folder"), parent);
    if (runModal(dialog) != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.path();
}

WindowDialogs::FtpBrowse QtWindowDialogs::browseFtp(QWidget* parent, ConnectionList& connections,
                                                    std::shared_ptr<ConnectionDetails>& active,
                                                    const std::string& startFolder) {
    const QuietModeOff messagesShown;
    BrowseFtpDlg dialog(connections, active, startFolder, nullptr, parent);
    FtpBrowse browsed;
    browsed.accepted = runModal(dialog) == QDialog::Accepted;
    browsed.folder = dialog.currentDirectory();
    browsed.connectionsChanged = dialog.connectionsChanged();
    return browsed;
}

bool QtWindowDialogs::ftpExclusions(QWidget* parent, ExclusionSet& exclusions,
                                    ConnectionList& connections,
                                    std::shared_ptr<ConnectionDetails>& active,
                                    const std::string& ftpPath, bool& connectionsChanged) {
    const QuietModeOff messagesShown;
    FtpExclusionsDlg dialog(exclusions, connections, active, ftpPath, parent);
    const bool accepted = runModal(dialog) == QDialog::Accepted;
    connectionsChanged = dialog.connectionsChanged();
    return accepted;
}

bool QtWindowDialogs::localExclusions(QWidget* parent, ExclusionSet& exclusions) {
    const QuietModeOff messagesShown;
    LocalExclusionsDlg dialog(exclusions, parent);
    return runModal(dialog) == QDialog::Accepted;
}
