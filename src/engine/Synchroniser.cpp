#include "engine/Synchroniser.h"

#include <cerrno>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "common/Prompter.h"
#include "engine/LogFile.h"
#include "transfer/ConnectionPool.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/FtpLocation.h"

bool batchAborted = false;

namespace {

constexpr const char* kOnSynchContext = "CSynchroniserDlg::OnSynch12";

// How bad an outcome is, for the worst outcome of a batch.
int severity(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::NotRun:
            return 0;
        case RunOutcome::Done:
            return 1;
        case RunOutcome::DoneWithProblems:
            return 2;
        case RunOutcome::Failed:
            return 3;
        case RunOutcome::Stopped:
            return 4;
    }
    return 0;
}

}  // namespace

Synchroniser::Synchroniser(SynchroniserView& view) : view_(view) {}

Synchroniser::~Synchroniser() {
    // A run restores the previous listener when it ends; this covers a run that never got there.
    RetryDisplay* current = setRetryDisplay(nullptr);
    if (current != &retryAdapter_) {
        setRetryDisplay(current);
    }
}

void Synchroniser::resetOutcome() {
    lastOutcome_ = RunOutcome::NotRun;
    worstOutcome_ = RunOutcome::NotRun;
}

void Synchroniser::recordOutcome(RunOutcome outcome) {
    lastOutcome_ = outcome;
    if (severity(outcome) > severity(worstOutcome_)) {
        worstOutcome_ = outcome;
    }
}

void Synchroniser::requestClose() {
    closeRequested_ = true;
    view_.closeProgram();
}

void Synchroniser::startLogFile(const std::string& source, const std::string& destination) {
    // A dry run changes nothing, the log included: opened to overwrite, it would lose the record
    // of the last real run.
    if (!profile.log_file_on || dryRun) {
        return;
    }
    LogFile& log = LogFile::instance();
    if (!log.open(profile.log_file_path, profile.log_file_append)) {
        setLastErrorFromCode(errno);
        reportError("CSynchroniserDlg::startLogFile",
                    "Could not open log file: " + profile.log_file_path, true);
        return;
    }
    log.writeRunHeader(profilePath, source, destination, profile);
}

void Synchroniser::synchronise() {
    if (running) {
        // Shown even in silent mode: the person pressed a button and must learn why nothing
        // happens. The run in progress goes on untouched.
        const bool quiet = quietMode.exchange(false);
        reportError(kOnSynchContext, "There is already a batch or synchronisation running", false);
        quietMode = quiet;
        return;
    }
    closeRequested_ = false;
    startLogFile(options.localLocation, options.ftpLocation);
    std::string serverPath;
    if (connectForRun(serverPath)) {
        running = true;
        runSynchronisation(options.localLocation, serverPath);
    }
    LogFile::instance().close();
}

bool Synchroniser::connectForRun(std::string& serverPath) {
    std::string name;
    parseFtpLocation(options.ftpLocation, name, serverPath);
    const auto noConnection = [this, &name] {
        reportError(kOnSynchContext, "You must first select a web location", false);
        if (!name.empty() && findConnection(connections, name) == nullptr) {
            view_.connectionNotFound(name);
        }
        recordOutcome(RunOutcome::Failed);
        return false;
    };
    if (selectedConnection == nullptr) {
        return noConnection();
    }

    if (selectedConnection->name != name) {
        // The location names another connection than the selected one (the person kept the old
        // connection when asked to break it). The run goes where the location says: running
        // the old server with the new location's path could delete files on the wrong site.
        std::shared_ptr<ConnectionDetails> named = findConnection(connections, name);
        if (named == nullptr) {
            return noConnection();
        }
        if (selectedConnection->isConnected()) {
            if (!quietMode.load() && !prompter().askYesNo("Break current connection?")) {
                recordOutcome(RunOutcome::NotRun);
                return false;
            }
            selectedConnection->disconnectFtp();
        }
        selectedConnection = named;
    }
    if (selectedConnection->isConnected()) {
        return true;
    }

    setStatus("Connecting...");
    messagePump().pumpOnce();
    // The run's extra logins start as soon as the server has taken this one, while it still
    // sets itself up, and the first of them lists the folder the walk begins with. That is the
    // location's path as written; one that begins at the root lists the same on any login.
    prepareLocations();
    startPool(true);
    if (pool_ != nullptr) {
        selectedConnection->onLoggedIn = pool_->loginGate();
        if (!serverPath.empty() && serverPath.front() == kFtpSeparator) {
            target_.listAhead({{serverPath, options.localLocation}});
        }
    }
    const bool connected = view_.connectWithDialog(selectedConnection);
    selectedConnection->onLoggedIn = nullptr;
    view_.refreshControls();
    if (!connected) {
        endPool();
        if (stopRequested.load()) {
            // Stop in the connecting dialog is a Stop of the run: a batch ends here too.
            recordOutcome(RunOutcome::Stopped);
            batchAborted = true;
            stopRequested = false;
        } else {
            recordOutcome(RunOutcome::Failed);
        }
        return false;
    }
    return true;
}

void Synchroniser::showReport(const std::string& source, const std::string& target, bool failed,
                              bool last) {
    std::string heading;
    if (last) {
        heading = lastReportHeading;
    } else if (failed) {
        heading = "Synchronisation failed\n";
    } else if (stopRequested.load()) {
        heading = "Synchronisation interrupted\n";
    } else {
        heading = "Synchronisation done:\n";
    }
    lastReportHeading = heading;
    LogFile::instance().writeResults(lists, problemList);
    view_.showReport(ReportData{heading, source, target, &lists, &problemList});
}
