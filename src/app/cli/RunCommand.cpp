#include "app/cli/RunCommand.h"

#include <unistd.h>

#include <iostream>

#include "app/cli/CliFrontEnd.h"
#include "app/cli/CliView.h"
#include "common/ErrorReport.h"
#include "engine/LogFile.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/UnfinishedUploads.h"

namespace {

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
    view.setConnectionsFile(connectionsFilePath(options).string());
    CliFrontEnd frontEnd(err, &view, true);
    stopRequested.store(false);
    // Uploads a killed run left unfinished are overwritten by this one, and this one's are
    // recorded for the next.
    UnfinishedUploads unfinished(settingsFolder(options) / kUnfinishedUploadsFileName);
    UnfinishedUploads* previousUnfinished = setUnfinishedUploads(&unfinished);

    Synchroniser synchroniser(view);
    synchroniser.connections = loadConnections(connectionsFilePath(options));
    for (const std::shared_ptr<ConnectionDetails>& connection : synchroniser.connections) {
        applyTlsFingerprint(options, *connection);
    }
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
    setUnfinishedUploads(previousUnfinished);
    if (CliMessagePump::receivedSignal() != 0) {
        status = kExitStopped;
    }
    out.flush();
    return status;
}
