// The work estimate and the running display: status line, progress, time remaining, retries.

#include <algorithm>
#include <vector>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "engine/ProgressEstimate.h"
#include "engine/Synchroniser.h"
#include "transfer/CommandState.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"

namespace {

// Every file operation counts this much on top of the bytes it moves, so that deletes and
// folder commands show progress too.
constexpr std::uint64_t kOperationWork = 1024;

// lastShownThousandths_ while the bar is blank (fewer than two bytes done).
constexpr int kBlankShown = -2;

}  // namespace

void Synchroniser::estimateWork() {
    std::uint64_t work = 0;
    for (const auto& [source, pair] : lists.overwriteFiles) {
        work += pair.source->size + kOperationWork;
    }
    for (const auto& [source, pair] : lists.addFiles) {
        work += pair.source->size + kOperationWork;
    }
    work += kOperationWork * lists.deleteFiles.size();
    // The folders are walked whole, which on a large tree takes a while: Stop ends the walk (and
    // the run, which then executes nothing).
    for (const auto& [source, pair] : lists.addFolders) {
        if (stopRequested.load()) {
            break;
        }
        work += estimateFolder(source_, *pair.source, false);
    }
    for (const FileEntryPtr& folder : lists.deleteFolders) {
        if (stopRequested.load()) {
            break;
        }
        work += estimateFolder(target_, *folder, true);
    }
    totalWork_ = work;
}

std::uint64_t Synchroniser::estimateFolder(SyncLocation& location, const FileEntry& folder,
                                           bool deleting) {
    std::uint64_t work = kOperationWork;
    // A local listing is no timed command, so nothing else lets Stop (or Ctrl+C) through here.
    messagePump().pumpOnce();
    std::vector<FileEntryPtr> entries;
    if (stopRequested.load() || !location.listEntries(folder.childFolderPath(), entries)) {
        return work;
    }
    for (const FileEntryPtr& entry : entries) {
        if (stopRequested.load()) {
            break;
        }
        if (entry->isFolder()) {
            // The upload leaves out a link back up the tree (and reports it); so does the count.
            if (!location.leadsBackUp(*entry)) {
                work += estimateFolder(location, *entry, deleting);
            }
        } else if (entry->kind == EntryKind::File) {
            work += deleting ? kOperationWork : entry->size + kOperationWork;
        }
    }
    return work;
}

void Synchroniser::setStatus(const std::string& text) {
    status_ = text;
    view_.setStatus(text);
    updateProgress();
}

void Synchroniser::updateProgress() {
    showProgress();
    messagePump().pumpOnce();
}

void Synchroniser::showProgress() {
    const int retries = std::max(0, commandState().retryCount.load());
    if (lastShownRetries_.exchange(retries) != retries) {
        const RetryTexts texts = retryTexts(retries);
        view_.setRetries(texts.label, texts.number);
    }

    const std::uint64_t done = bytesDone.load();
    if (done < 2) {
        if (lastShownThousandths_.exchange(kBlankShown) != kBlankShown) {
            view_.setProgress(0, "", "");
        }
        return;
    }
    // Upload chunks come thick and fast: only a new whole thousandth is worth a redraw.
    const int thousandths = progressThousandths(done, totalWork_.load());
    if (lastShownThousandths_.exchange(thousandths) == thousandths) {
        return;
    }
    const std::int64_t elapsed = processClockMs() - runStartMs_.load();
    view_.setProgress(thousandths, progressPercentText(thousandths),
                      timeRemainingText(thousandths, elapsed));
}
