#include "ui/mainwindow/QtWindowDialogs.h"

#include "common/ErrorReport.h"
#include "engine/SynchroniserView.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/report/SyncReportDlg.h"
#include "ui/report/SyncResultsDlg.h"
#include "ui/settings/BatchDlg.h"
#include "ui/settings/ConfigurationDlg.h"
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
                                 const std::shared_ptr<ConnectionDetails>& connection) {
    ConnectingDlg dialog(connection, parent);
    return dialog.exec() == QDialog::Accepted;
}
