#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/ActionLists.h"

class ConnectionDetails;

// What the report of a run shows (and what the log's results block is written from).
struct ReportData {
    std::string heading;  // "Synchronisation done:\n", "... interrupted\n", "... failed\n"
    std::string source;
    std::string target;
    const ActionLists* lists = nullptr;
    const ProblemList* problems = nullptr;
};

// The five planned collections as target entries, in the order the review shows them; the
// review removes what the user does not want.
struct PlanForReview {
    EntrySet overwriteTargets;
    EntrySet addFileTargets;
    EntrySet deleteFiles;
    EntrySet addFolderTargets;
    EntrySet deleteFolders;
};

// Everything a run shows to, or asks of, the person at the screen. The desktop program shows
// windows; kelvane-cli writes to the terminal and answers for itself; tests record the calls.
class SynchroniserView {
  public:
    virtual ~SynchroniserView() = default;
    // The status line.
    virtual void setStatus(const std::string& text) = 0;
    // "Analysing" or "Execution".
    virtual void setPhase(const std::string& label) = 0;
    // Progress in thousandths (0..1000) with the percentage and "hh:mm:ss" remaining texts; both
    // texts empty when nothing is known yet.
    virtual void setProgress(int thousandths, const std::string& percent,
                             const std::string& timeRemaining) = 0;
    // The retry label and count ("Retries", "2"), both empty when there is none.
    virtual void setRetries(const std::string& label, const std::string& count) = 0;
    // The review of the plan; false cancels the run. The plan is edited in place.
    virtual bool reviewPlan(PlanForReview& plan) = 0;
    // The report at the end of a run. With quietMode on it must close at once. The
    // synchroniser writes the results block to the log before it calls this.
    virtual void showReport(const ReportData& report) = 0;
    // The "Please wait..." connecting dialog; true when connected.
    virtual bool connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) = 0;
    // The running and idle states of the controls changed.
    virtual void refreshControls() = 0;
    // Exit on completion.
    virtual void closeProgram() = 0;
    // The FTP location names a connection that the connection list does not hold; called after
    // "You must first select a web location" has been reported, for a front end that can say
    // where it looked.
    virtual void connectionNotFound(const std::string& /*name*/) {}
};
