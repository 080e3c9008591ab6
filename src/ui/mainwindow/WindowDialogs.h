#pragma once

#include <memory>
#include <optional>
#include <string>

#include "transfer/ConnectionsFile.h"

class QWidget;
class Profile;
class BatchList;
class ConnectionDetails;
class ExclusionSet;
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
    // ConnectingDlg, the "Please wait..." dialog; true when the connection is open. With
    // askTrust (a person pressed Connect) a refused server certificate is put to the question.
    virtual bool connecting(QWidget* parent, const std::shared_ptr<ConnectionDetails>& connection,
                            bool askTrust = false) = 0;

    // The folder tree titled "Select Local Folder", starting at `startPath`; the chosen folder
    // (with a trailing separator), nothing on Cancel.
    virtual std::optional<std::string> chooseLocalFolder(QWidget* parent,
                                                         const std::string& startPath) = 0;

    // "Browse FTP Connection" on the window's connection list and active connection, starting
    // in `startFolder`. The person may connect, or choose or edit connections in the connection
    // manager: `active` and `connections` then change in place, OK or Cancel.
    struct FtpBrowse {
        bool accepted = false;
        std::string folder;               // "Current Directory" when the dialog closed
        bool connectionsChanged = false;  // the caller saves the connections file
    };
    virtual FtpBrowse browseFtp(QWidget* parent, ConnectionList& connections,
                                std::shared_ptr<ConnectionDetails>& active,
                                const std::string& startFolder) = 0;

    // "FTP Exclusion Files" on a copy of the profile's FTP set, given the connections and the
    // FTP location's path for its Browse and Lost Files; true on OK with the copy edited.
    virtual bool ftpExclusions(QWidget* parent, ExclusionSet& exclusions,
                               ConnectionList& connections,
                               std::shared_ptr<ConnectionDetails>& active,
                               const std::string& ftpPath, bool& connectionsChanged) = 0;
    // "Local Exclusion Files" on a copy of the profile's local set; true on OK with it edited.
    virtual bool localExclusions(QWidget* parent, ExclusionSet& exclusions) = 0;
};
