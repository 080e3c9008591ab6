#include "ui/mainwindow/QtWindowDialogs.h"

#include "common/ErrorReport.h"
#include "engine/SynchroniserView.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/report/SyncReportDlg.h"
#include "ui/report/SyncResultsDlg.h"

QtWindowDialogs::QtWindowDialogs(SettingsStore* settings) : settings_(settings) {}

// The options dialogs are not in this commit yet: they answer Cancel, which changes nothing.
bool QtWindowDialogs::moreOptions(QWidget*, Profile&) {
    return false;
}

bool QtWindowDialogs::configuration(QWidget*, ConfigurationSettings&, std::string&) {
    return false;
}

bool QtWindowDialogs::batchList(QWidget*, BatchList&) {
    return false;
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
