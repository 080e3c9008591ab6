#pragma once

#include <memory>
#include <string>

class QWidget;
class Profile;
class BatchList;
class ConnectionDetails;
struct ConfigurationSettings;
struct PlanForReview;
struct ReportData;

// The modal dialogs that the main window opens. The Qt implementation builds the real dialogs
// and shows them with exec(); the window's tests script the answers instead, so no test ever
// blocks in a dialog's event loop.
class WindowDialogs {
  public:
    virtual ~WindowDialogs() = default;
    // "More Options" on the open profile; true on OK, with the profile changed in place.
    virtual bool moreOptions(QWidget* parent, Profile& profile) = 0;
    // "Configuration" on copies of the settings; true on OK with the edited values in both
    // arguments. The caller applies and stores them.
    virtual bool configuration(QWidget* parent, ConfigurationSettings& settings,
                               std::string& connectionsFileName) = 0;
    // "Batch List" on the open batch; true on OK, when the batch's paths have been replaced and
    // it is marked modified.
    virtual bool batchList(QWidget* parent, BatchList& batch) = 0;
    // SyncResultsDlg in review mode; the plan is trimmed in place. True on OK.
    virtual bool reviewPlan(QWidget* parent, PlanForReview& plan) = 0;
    // SyncReportDlg after a run and for "Last Report"; "View Details" opens SyncResultsDlg in
    // results mode on the report's lists. Closes at once while quietMode is on.
    virtual void report(QWidget* parent, const ReportData& report) = 0;
    // ConnectingDlg, the "Please wait..." dialog; true when the connection is open.
    virtual bool connecting(QWidget* parent,
                            const std::shared_ptr<ConnectionDetails>& connection) = 0;
};
