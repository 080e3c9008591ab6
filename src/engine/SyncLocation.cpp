#include "engine/SyncLocation.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

#include "common/ErrorReport.h"
#include "profiles/ExclusionSet.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionPool.h"
#include "transfer/FtpLocation.h"
#include "transfer/LocalFileOperations.h"
#include "transfer/Progress.h"
#include "transfer/TimedCommand.h"
#include "transfer/UnfinishedUploads.h"

namespace {

constexpr const char* kNoConnection = "Not connected to an FTP server";

bool isDotName(const std::string& name) {
    return name == "." || name == "..";
}

// The modification time as the local calendar shows it, as the FTP side gives its times. A
// time before 1980 has no packed date, and a time of day without its date means nothing.
void setLocalModificationTime(FileEntry& entry, std::time_t modified) {
    std::tm local{};
    if (localtime_r(&modified, &local) == nullptr) {
        return;
    }
    if (entry.date.set(local.tm_mday, local.tm_mon + 1, local.tm_year + 1900)) {
        // A leap second (tm_sec 60) is not a time the packed form accepts.
        entry.time.set(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59));
    }
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

}  // namespace

void SyncLocation::setExclusions(const ExclusionSet* first, const ExclusionSet* second) {
    first_ = first;
    second_ = second;
}

bool SyncLocation::listFolder(const std::string& folder, std::vector<FileEntryPtr>& files,
                              std::vector<FileEntryPtr>& folders) {
    files.clear();
    folders.clear();
    std::vector<FileEntryPtr> entries;
    if (!listEntries(folder, entries)) {
        return false;
    }
    splitListing(std::move(entries), files, folders);
    return true;
}

void SyncLocation::splitListing(std::vector<FileEntryPtr> entries, std::vector<FileEntryPtr>& files,
                                std::vector<FileEntryPtr>& folders) {
    files.clear();
    folders.clear();
    for (FileEntryPtr& entry : entries) {
        if (isDotName(entry->name)) {
            continue;
        }
        if (entry->kind == EntryKind::File) {
            files.push_back(std::move(entry));
        } else if (entry->kind == EntryKind::Folder) {
            folders.push_back(std::move(entry));
        }
    }
    // Stable, so that names differing only in letter case keep the order they were listed in.
    std::stable_sort(files.begin(), files.end(), EntryPathOrder{});
    std::stable_sort(folders.begin(), folders.end(), EntryPathOrder{});
}

bool SyncLocation::isExcludedByFirst(const FileEntry& entry) const {
    return first_ != nullptr && first_->isExcluded(entry);
}

bool SyncLocation::isExcludedBySecond(const FileEntry& entry) const {
    return second_ != nullptr && second_->isExcluded(entry);
}

// ---- The local side ----

bool LocalSyncLocation::listEntries(const std::string& folder, std::vector<FileEntryPtr>& entries) {
    entries.clear();
    std::string folderPath = folder;
    if (folderPath.empty() || folderPath.back() != kLocalSeparator) {
        folderPath.push_back(kLocalSeparator);
    }
    std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(folderPath.c_str()));
    if (!directory) {
        setLastErrorFromCode(errno);
        return false;
    }
    const int directoryFd = ::dirfd(directory.get());
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(directory.get());
        if (item == nullptr) {
            if (errno != 0) {
                setLastErrorFromCode(errno);
                entries.clear();
                return false;
            }
            break;
        }
        std::string name = item->d_name;
        if (isDotName(name)) {
            continue;
        }
        // Following links: a link stands for what it points at, and a broken one for nothing.
        struct stat status {};
        if (::fstatat(directoryFd, name.c_str(), &status, 0) != 0) {
            continue;
        }
        auto entry = std::make_shared<FileEntry>();
        if (S_ISDIR(status.st_mode)) {
            entry->kind = EntryKind::Folder;
            // Each sub-folder's ".." links to it (ext4, tmpfs, xfs; btrfs counts 1).
            if (status.st_nlink > 2) {
                entry->subFolders = static_cast<std::uint32_t>(status.st_nlink - 2);
            }
        } else if (S_ISREG(status.st_mode)) {
            entry->kind = EntryKind::File;
            entry->size = static_cast<std::uint64_t>(status.st_size);
        } else {
            // Pipes, sockets and devices are not content of a web site, and opening a pipe to
            // upload it would wait for a writer that never comes.
            continue;
        }
        entry->folder = folderPath;
        entry->name = std::move(name);
        entry->remote = false;
        setLocalModificationTime(*entry, status.st_mtim.tv_sec);
        entries.push_back(std::move(entry));
    }
    return true;
}

bool LocalSyncLocation::leadsBackUp(const FileEntry& folder) const {
    const std::string path = folder.fullPath();
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return false;
    }
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
        return false;
    }
    // Each folder on the path as the walk met it, links followed: the chain of the walk, so a
    // link that loops through another link is caught as well.
    std::string above = folder.folder;
    while (!above.empty()) {
        struct stat held {};
        if (::stat(above.c_str(), &held) == 0 && held.st_dev == target.st_dev &&
            held.st_ino == target.st_ino) {
            setLastError("The link leads back to " + above + ", a folder that holds it");
            return true;
        }
        above.pop_back();
        const std::size_t separator = above.rfind(kLocalSeparator);
        if (separator == std::string::npos) {
            break;
        }
        above.erase(separator + 1);
    }
    return false;
}

bool LocalSyncLocation::copyFile(const FileEntry& source, const FileEntry& target) {
    bytesDone += source.size;
    return copyLocalFile(source.fullPath(), target.fullPath(), false, false);
}

bool LocalSyncLocation::deleteFile(const FileEntry& entry) {
    return deleteLocalFile(entry.fullPath(), false);
}

bool LocalSyncLocation::createFolder(const FileEntry& entry) {
    return createLocalDirectory(entry.fullPath());
}

// ---- The FTP side ----

FtpSyncLocation::~FtpSyncLocation() {
    if (aheadRule_) {
        setCommandWaitTask(nullptr);
    }
}

void FtpSyncLocation::setConnection(std::shared_ptr<ConnectionDetails> connection) {
    connection_ = std::move(connection);
}

bool FtpSyncLocation::isReady() const {
    return connection_ != nullptr && connection_->isConnected();
}

bool FtpSyncLocation::listingFoundNoFolder() const {
    return connection_ != nullptr && connection_->listingFoundNoFolder();
}

namespace {

// Listings fetched ahead and not yet walked, at most; more would only hold memory.
constexpr std::size_t kMostAhead = 256;

std::vector<FileEntryPtr> entriesOf(const PoolJob& job, const std::string& folder) {
    std::vector<FileEntryPtr> entries;
    entries.reserve(job.listing.size());
    for (const ftp::ListingEntry& item : job.listing) {
        entries.push_back(fileEntryFromListing(item, folder));
    }
    std::stable_sort(entries.begin(), entries.end(), EntryNameOrder{});
    return entries;
}

}  // namespace

bool FtpSyncLocation::listEntries(const std::string& folder, std::vector<FileEntryPtr>& entries) {
    entries.clear();
    if (!connection_) {
        setLastError(kNoConnection);
        return false;
    }
    if (pool_ != nullptr) {
        expandAhead();
        if (const auto listed = listedAhead_.find(folder); listed != listedAhead_.end()) {
            entries = std::move(listed->second.entries);
            listedAhead_.erase(listed);
            return true;
        }
        if (const auto ahead = ahead_.find(folder); ahead != ahead_.end()) {
            const std::shared_ptr<PoolJob> job = ahead->second.job;
            ahead_.erase(ahead);
            if (!pool_->withdraw(job)) {
                // Another login is at it. Rather than wait, this connection lists the next
                // folders the walk will come to (a failure there is met again, and reported,
                // when the walk gets to that folder).
                while (!job->done.load() && !stopRequested.load()) {
                    const std::shared_ptr<PoolJob> next = pool_->takeNext();
                    if (!next) {
                        break;
                    }
                    const auto taken = ahead_.find(next->remotePath);
                    if (taken == ahead_.end()) {
                        continue;
                    }
                    const std::string local = std::move(taken->second.local);
                    ahead_.erase(taken);
                    std::vector<FileEntryPtr> listing;
                    if (connection_->listFolderAt(next->remotePath, listing)) {
                        listedAhead_[next->remotePath] = Listed{std::move(listing), local};
                    }
                    expandAhead();
                }
            }
            // Withdrawn jobs are done and never ran: the walk lists the folder itself.
            const bool done = job->done.load() || pool_->wait(*job);
            if (done && job->ran && job->succeeded) {
                entries = entriesOf(*job, folder);
                return true;
            }
        }
    }
    // Always a fresh listing: the connection stays open between runs, and a listing kept from
    // the last run would hide what other tools changed on the server since. Listed by its path,
    // without changing into it: every folder of the site is listed on every run, and a CWD
    // first would add a round trip to each.
    return connection_->listFolderAt(folder, entries);
}

void FtpSyncLocation::setPool(ConnectionPool* pool) {
    stopListingAhead();
    pool_ = pool;
}

void FtpSyncLocation::setAheadRule(AheadRule rule) {
    aheadRule_ = std::move(rule);
    if (aheadRule_) {
        // While the walk waits for its own listing, too, the logins that are done get more.
        setCommandWaitTask([this] { expandAhead(); });
    } else {
        setCommandWaitTask(nullptr);
    }
}

void FtpSyncLocation::stopListingAhead() {
    setAheadRule(nullptr);
    if (pool_ != nullptr) {
        for (const auto& [folder, fetch] : ahead_) {
            pool_->withdraw(fetch.job);
        }
    }
    ahead_.clear();
    listedAhead_.clear();
}

void FtpSyncLocation::listAhead(const std::vector<AheadFolder>& folders) {
    if (pool_ == nullptr || folders.empty()) {
        return;
    }
    std::vector<std::shared_ptr<PoolJob>> jobs;
    jobs.reserve(folders.size());
    for (const AheadFolder& folder : folders) {
        if (ahead_.contains(folder.remote) || listedAhead_.contains(folder.remote)) {
            continue;
        }
        auto job = std::make_shared<PoolJob>();
        job->kind = PoolJob::Kind::List;
        job->remotePath = folder.remote;
        // The walk itself lists over the run's own connection.
        job->mayUseMain = false;
        ahead_.emplace(folder.remote, Fetch{job, folder.local});
        jobs.push_back(std::move(job));
    }
    pool_->submitFirst(jobs);
}

void FtpSyncLocation::expandAhead() {
    if (pool_ == nullptr || !aheadRule_ || expanding_) {
        return;
    }
    expanding_ = true;
    for (auto it = ahead_.begin(); it != ahead_.end();) {
        const PoolJob& job = *it->second.job;
        if (job.done.load() && job.ran && job.succeeded) {
            listedAhead_[it->first] =
                Listed{entriesOf(job, it->first), std::move(it->second.local)};
            it = ahead_.erase(it);
        } else {
            ++it;
        }
    }
    // The first folders in path order are the walk's next; they go to the front of the queue
    // last, so that they are fetched first.
    std::size_t room = ahead_.size() + listedAhead_.size() < kMostAhead
                           ? kMostAhead - ahead_.size() - listedAhead_.size()
                           : 0;
    std::vector<std::vector<AheadFolder>> below;
    for (auto& [folder, listed] : listedAhead_) {
        if (room == 0 || stopRequested.load()) {
            break;
        }
        if (listed.expanded) {
            continue;
        }
        listed.expanded = true;
        std::vector<AheadFolder> folders = aheadRule_(listed.local, listed.entries);
        if (folders.size() > room) {
            folders.resize(room);
        }
        room -= folders.size();
        below.push_back(std::move(folders));
    }
    for (auto it = below.rbegin(); it != below.rend(); ++it) {
        listAhead(*it);
    }
    expanding_ = false;
}

bool FtpSyncLocation::copyFile(const FileEntry& source, const FileEntry& target) {
    if (!connection_) {
        setLastError(kNoConnection);
        return false;
    }
    return connection_->uploadFile(source.fullPath(), target.fullPath());
}

bool FtpSyncLocation::deleteFile(const FileEntry& entry) {
    if (!connection_) {
        setLastError(kNoConnection);
        return false;
    }
    return connection_->deleteFile(entry.fullPath());
}

bool FtpSyncLocation::hasUnfinishedUpload(const FileEntry& entry) const {
    const UnfinishedUploads* unfinished = unfinishedUploads();
    return unfinished != nullptr && connection_ != nullptr &&
           unfinished->contains(*connection_, entry.fullPath());
}

bool FtpSyncLocation::createFolder(const FileEntry& entry) {
    if (!connection_) {
        setLastError(kNoConnection);
        return false;
    }
    return connection_->createDirectory(entry.fullPath());
}
