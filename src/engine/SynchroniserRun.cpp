// The road of one run after connecting: analysis, review, estimate, execution, report.

#include <atomic>
#include <memory>

#include "common/ErrorReport.h"
#include "engine/Synchroniser.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"

namespace {

template <typename Map>
void keepReviewedPairs(Map& pairs, const EntrySet& kept) {
    std::erase_if(pairs, [&kept](const auto& item) { return !kept.contains(item.second.target); });
}

void keepReviewedEntries(EntrySet& entries, const EntrySet& kept) {
    std::erase_if(entries, [&kept](const FileEntryPtr& entry) { return !kept.contains(entry); });
}

template <typename Map>
EntrySet targetsOf(const Map& pairs) {
    EntrySet targets;
    for (const auto& [source, pair] : pairs) {
        targets.insert(pair.target);
    }
    return targets;
}

// Stop ends the wait for a command at once, but its worker goes on until it next looks at the
// flag (an upload between two chunks) and then cleans up after itself. The run clears the flag
// as it ends, often before that: the worker is told through its abandon marker instead, or an
// upload cut short would carry on to the end behind a report that calls it failed.
void abandonCommandInFlight() {
    if (const std::shared_ptr<std::atomic<bool>> marker = commandState().current.load()) {
        marker->store(true);
    }
}

}  // namespace

void Synchroniser::runSynchronisation(const std::string& source, const std::string& target) {
    bytesDone = 0;
    view_.refreshControls();

    problemList.clear();
    stopRequested = false;
    fileConfirmation = {};
    folderConfirmation = {};
    lists.clear();
    totalWork_ = 0;
    lastShownThousandths_ = -1;
    lastShownRetries_ = -1;

    if (selectedConnection != nullptr) {
        selectedConnection->lostConnection = false;
    }

    view_.setPhase("Analysing");
    RetryDisplay* previousDisplay = setRetryDisplay(&retryAdapter_);
    prepareLocations();

    // Extra logins begin as soon as the run's own login is accepted (at once when it already
    // is); the walk then finds listings fetched ahead.
    startPool();
    setStatus("Checking folder: " + source);
    const bool analysed = analyseDirectory(source, target);
    target_.stopListingAhead();
    if (!analysed) {
        showReport(source, target, true, false);
    }

    bool reviewed = true;
    if (analysed && !stopRequested.load()) {
        if (dryRun) {
            // A dry run shows the plan the way the review would and stops there.
            PlanForReview plan = planForReview();
            view_.reviewPlan(plan);
        } else if (!quietMode.load() && options.checkActions) {
            // Logins left idle while the person reviews may be closed by the server; new ones
            // are made for the execution.
            endPool();
            reviewed = reviewPlannedActions();
        }
    }

    if (analysed && reviewed && !dryRun && !stopRequested.load()) {
        setStatus("Estimating amount of work to do...");
        estimateWork();
        startPool();
        view_.setPhase("Execution");
        runStartMs_ = processClockMs();
        lastShownThousandths_ = -1;
        processFiles();
        bytesDone = 0;
    }
    endPool();
    if (stopRequested.load()) {
        abandonCommandInFlight();
    }

    setRetryDisplay(previousDisplay);
    running = false;
    lastSource = source;
    lastTarget = target;
    setStatus("");
    view_.setPhase("Execution");
    view_.refreshControls();

    if (analysed && reviewed && !dryRun) {
        showReport(source, target, false, false);
    }

    if (stopRequested.load()) {
        // A connection that dropped and could not be made again ends the run the way Stop does,
        // but no one chose that: the run has failed.
        const bool lost = selectedConnection != nullptr && selectedConnection->lostConnection;
        recordOutcome(lost ? RunOutcome::Failed : RunOutcome::Stopped);
        batchAborted = true;
    } else if (!analysed) {
        recordOutcome(RunOutcome::Failed);
    } else if (!reviewed) {
        recordOutcome(RunOutcome::NotRun);
    } else {
        recordOutcome(problemList.empty() ? RunOutcome::Done : RunOutcome::DoneWithProblems);
    }
    stopRequested = false;

    if (options.exitOnCompletion) {
        requestClose();
    }
}

PlanForReview Synchroniser::planForReview() const {
    PlanForReview plan;
    plan.overwriteTargets = targetsOf(lists.overwriteFiles);
    plan.addFileTargets = targetsOf(lists.addFiles);
    plan.deleteFiles = lists.deleteFiles;
    plan.addFolderTargets = targetsOf(lists.addFolders);
    plan.deleteFolders = lists.deleteFolders;
    return plan;
}

bool Synchroniser::reviewPlannedActions() {
    PlanForReview plan = planForReview();
    const bool accepted = view_.reviewPlan(plan);
    if (accepted) {
        keepReviewedPairs(lists.overwriteFiles, plan.overwriteTargets);
        keepReviewedPairs(lists.addFiles, plan.addFileTargets);
        keepReviewedEntries(lists.deleteFiles, plan.deleteFiles);
        keepReviewedPairs(lists.addFolders, plan.addFolderTargets);
        keepReviewedEntries(lists.deleteFolders, plan.deleteFolders);
    }
    // The review can take long enough for the idle time-out to close the connection.
    if (selectedConnection != nullptr && !selectedConnection->isConnected()) {
        selectedConnection->connectFtp();
    }
    return accepted;
}
