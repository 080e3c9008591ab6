// Execution over several logins: the operations of the plan go out on the pool in their planned
// order and their outcomes are recorded in that order, so that the result sets, the counters and
// the problem list are those of a run over one connection; only the time differs.

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "common/ErrorReport.h"
#include "engine/Synchroniser.h"
#include "transfer/ConnectionPool.h"
#include "transfer/UnfinishedUploads.h"

namespace {

// Operations sent ahead per login: enough that no login waits for the next, few enough that the
// status line names a file that is on its way.
constexpr std::size_t kPendingPerLogin = 2;

constexpr const char* kTimedOut = "Timed out";

// `record`, called once a job on `remotePath` has ended; when it succeeded, the file's
// unfinished-upload note goes first: a file that arrived whole, or that is gone, is no longer a
// part of one.
std::function<void(bool)> clearingUnfinished(std::shared_ptr<ConnectionDetails> connection,
                                             std::string remotePath,
                                             std::function<void(bool)> record) {
    return [connection = std::move(connection), remotePath = std::move(remotePath),
            record = std::move(record)](bool succeeded) {
        if (UnfinishedUploads* unfinished = unfinishedUploads();
            succeeded && unfinished != nullptr && connection != nullptr) {
            unfinished->finish(*connection, remotePath);
        }
        record(succeeded);
    };
}

}  // namespace

void Synchroniser::startPool(bool beforeLogin) {
    if (pool_ != nullptr && poolConnection_ == selectedConnection) {
        return;
    }
    endPool();
    pending_.clear();
    lastRunLogins_ = 1;
    const int size = ftpConnections.load();
    if (size > 1 && selectedConnection != nullptr &&
        (beforeLogin || selectedConnection->isConnected())) {
        // A server that limits the sessions per address counts the last pool's until they end.
        closingPool_.reset();
        pool_ = std::make_unique<ConnectionPool>(selectedConnection, size, beforeLogin);
        poolConnection_ = selectedConnection;
        target_.setPool(pool_.get());
        if (options.checkSubFolders && !source_.isRemote()) {
            target_.setAheadRule(
                [this](const std::string& localFolder, const std::vector<FileEntryPtr>& entries) {
                    return foldersBelow(localFolder, entries);
                });
        }
    }
}

void Synchroniser::endPool() {
    recordOutcomes(true);
    target_.setPool(nullptr);
    if (pool_ != nullptr) {
        lastRunLogins_ = pool_->acceptedLogins();
        pool_->close();
        closingPool_ = std::move(pool_);
    }
    poolConnection_.reset();
}

void Synchroniser::lendConnection() {
    if (pool_ == nullptr || selectedConnection == nullptr || !selectedConnection->isConnected()) {
        return;
    }
    // Uploads and deletes may change what the cached listing of the current directory says.
    selectedConnection->listingCache.clear();
    pool_->lendMainConnection();
}

void Synchroniser::reclaimConnection() {
    if (pool_ == nullptr) {
        return;
    }
    recordOutcomes(true);
    if (pool_->finish() || selectedConnection == nullptr) {
        return;
    }
    if (stopRequested.load()) {
        // Broken or cut after Stop: closed, so that the next command logs in afresh.
        selectedConnection->disconnectFtp();
        return;
    }
    // The run's own connection broke while it was lent; what it carried has gone out on
    // another login. A run of one connection logs in again at that point, and so does this one.
    selectedConnection->disconnectFtp();
    if (!selectedConnection->connectFtp()) {
        selectedConnection->lostConnection = true;
        requestStop();
    }
}

void Synchroniser::sendFile(const FileEntry& source, const FileEntry& target, Outcome record) {
    if (pool_ == nullptr) {
        record(target_.copyFile(source, target));
        return;
    }
    const std::string remotePath = target.fullPath();
    // Recorded before the first byte goes out, as a run of one connection does, so that a
    // crash or a lost connection leaves the next run a note to send the whole file again.
    if (UnfinishedUploads* unfinished = unfinishedUploads(); unfinished != nullptr) {
        unfinished->begin(*selectedConnection, remotePath, source.size);
    }
    PendingOutcome pending;
    pending.job = pool_->submit(PoolJob::Kind::Upload, remotePath, source.fullPath());
    pending.record = clearingUnfinished(selectedConnection, remotePath, std::move(record));
    pending_.push_back(std::move(pending));
    recordOutcomes(false);
}

void Synchroniser::deleteServerFile(const FileEntry& target, Outcome record) {
    if (pool_ == nullptr) {
        record(target_.deleteFile(target));
        return;
    }
    const std::string remotePath = target.fullPath();
    PendingOutcome pending;
    pending.job = pool_->submit(PoolJob::Kind::DeleteFile, remotePath);
    pending.record = clearingUnfinished(selectedConnection, remotePath, std::move(record));
    pending_.push_back(std::move(pending));
    recordOutcomes(false);
}

bool Synchroniser::makeServerFolder(const FileEntry& target, Outcome record) {
    if (pool_ == nullptr) {
        const bool made = target_.createFolder(target);
        record(made);
        return made;
    }
    // Ahead of the uploads already queued: the files of this folder wait for it.
    PendingOutcome pending;
    pending.job = pool_->submit(PoolJob::Kind::MakeDirectory, target.fullPath(), {}, true);
    pending.record = std::move(record);
    const std::shared_ptr<PoolJob> job = pending.job;
    pending_.push_back(std::move(pending));
    const bool done = pool_->wait(*job);
    recordOutcomes(false);
    return done && job->succeeded;
}

void Synchroniser::recordInOrder(bool succeeded, Outcome record) {
    if (pending_.empty()) {
        record(succeeded);
        return;
    }
    PendingOutcome pending;
    pending.succeeded = succeeded;
    pending.errorText = lastErrorText();
    pending.record = std::move(record);
    pending_.push_back(std::move(pending));
}

void Synchroniser::recordPending(PendingOutcome& pending) {
    if (!pending.job) {
        setLastError(pending.errorText);
        pending.record(pending.succeeded);
        return;
    }
    PoolJob& job = *pending.job;
    if (!job.done.load()) {
        // Stop, and the job hung past the time of a command: its login has been cut.
        setLastError(kTimedOut);
        pending.record(false);
        return;
    }
    if (!job.ran) {
        // Taken off the queue by Stop before it went out: nothing happened to the file.
        if (UnfinishedUploads* unfinished = unfinishedUploads();
            job.kind == PoolJob::Kind::Upload && unfinished != nullptr) {
            unfinished->finish(*selectedConnection, job.remotePath);
        }
        return;
    }
    if (job.connectionLost && selectedConnection != nullptr) {
        // As a second drop ends a run of one connection.
        selectedConnection->lostConnection = true;
        requestStop();
    }
    if (!job.succeeded) {
        setLastError(job.errorText);
    }
    pending.record(job.succeeded);
}

void Synchroniser::recordOutcomes(bool all) {
    if (pool_ == nullptr) {
        return;
    }
    const std::size_t window =
        kPendingPerLogin * static_cast<std::size_t>(std::max(1, pool_->liveMembers()));
    while (!pending_.empty()) {
        PendingOutcome& front = pending_.front();
        const bool known = !front.job || front.job->done.load();
        if (!known) {
            if (!all && pending_.size() <= window && !stopRequested.load()) {
                return;
            }
            pool_->wait(*front.job);
        }
        PendingOutcome pending = std::move(front);
        pending_.pop_front();
        recordPending(pending);
    }
}
