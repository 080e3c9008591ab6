#include "app/cli/RunCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <iostream>

#include "app/cli/CliMessagePump.h"
#include "app/cli/CliPrompter.h"
#include "app/cli/CliView.h"
#include "engine/LogFile.h"
#include "profiles/AppSettings.h"
#include "profiles/PersistentRecord.h"
#include "profiles/SettingsStore.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/ErrorReport.h"
#include "transfer/TimedCommand.h"

namespace {

// Workers left behind by Stop end quickly once their connection is closed; the program waits
// that long for them so that it does not end under their feet.
constexpr std::chrono::milliseconds kWorkerGrace{3000};

// Everything that stands in for the person at the screen, installed for as long as the
// command runs and put back afterwards: the pump that turns SIGINT and SIGTERM into Stop, the
// prompter that answers for itself, and the view as the error log beside the log file.
class RunFrontEnd {
  public:
    RunFrontEnd(std::ostream& err, CliView& view) : prompter_(err) {
        previousPump_ = setMessagePump(&pump_);
        previousPrompter_ = setPrompter(&prompter_);
        previousLog_ = setErrorLog(&view);
        previousQuiet_ = quietMode.exchange(true);
    }
    ~RunFrontEnd() {
        waitForCommandWorkers(kWorkerGrace);
        quietMode.store(previousQuiet_);
        setErrorLog(previousLog_);
        setPrompter(previousPrompter_);
        setMessagePump(previousPump_);
    }
    RunFrontEnd(const RunFrontEnd&) = delete;
    RunFrontEnd& operator=(const RunFrontEnd&) = delete;

  private:
    CliMessagePump pump_;
    CliPrompter prompter_;
    MessagePump* previousPump_ = nullptr;
    Prompter* previousPrompter_ = nullptr;
    ErrorLog* previousLog_ = nullptr;
    bool previousQuiet_ = false;
};

void applyCommandSettings(const CliOptions& options) {
    const std::filesystem::path folder = settingsFolder(options);
    FileSettingsStore store(folder);
    AppSettings settings(store, folder);
    settings.readAtStart();
    commandTimeout.store(settings.configuration.commandTimeout);
    maxCommandRetries.store(static_cast<int>(
        std::min<std::uint32_t>(settings.configuration.maxCommandRetries, INT_MAX)));
}

void closeConnections(const ConnectionList& connections) {
    for (const std::shared_ptr<ConnectionDetails>& connection : connections) {
        if (connection->isConnected()) {
            connection->disconnectFtp();
        }
    }
}

}  // namespace

int exitStatusFor(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Done:
            return kExitDone;
        case RunOutcome::DoneWithProblems:
            return kExitProblems;
        case RunOutcome::Stopped:
            return kExitStopped;
        case RunOutcome::Failed:
        case RunOutcome::NotRun:
            // A call that ran nothing at all did not do what it was asked.
            break;
    }
    return kExitFailed;
}

int runRunCommand(const CliOptions& options, const std::string& file, bool dryRun,
                  std::ostream& out, std::ostream& err) {
    const FileKind kind = fileKind(file);
    if (kind == FileKind::None) {
        err << "kelvane-cli: " << file << " is neither a profile (.kvp) nor a batch (.kvb)\n";
        return kExitFailed;
    }
    applyCommandSettings(options);

    const bool terminal = &err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
    CliView view(out, err, terminal, dryRun);
    RunFrontEnd frontEnd(err, view);
    stopRequested.store(false);

    Synchroniser synchroniser(view);
    synchroniser.connections = loadConnections(connectionsFilePath(options));
    synchroniser.dryRun = dryRun;
    // No one is at the screen: every profile loaded, a batch's included, runs silently and
    // without review, as an automatic start would.
    synchroniser.unattended = true;
    synchroniser.resetOutcome();

    int status = kExitFailed;
    if (synchroniser.loadFile(file, true, false)) {
        if (kind == FileKind::Batch) {
            synchroniser.runBatch();
        } else {
            synchroniser.synchronise();
        }
        status = exitStatusFor(synchroniser.worstOutcome());
    }
    // A run closes its log itself; this is for a run that never got that far, so that the log
    // does not keep handing lines to a view that is about to go.
    LogFile::instance().close();
    view.endProgress();
    closeConnections(synchroniser.connections);
    if (CliMessagePump::receivedSignal() != 0) {
        status = kExitStopped;
    }
    out.flush();
    return status;
}
