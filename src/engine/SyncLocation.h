#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/FileEntry.h"

class ConnectionDetails;
class ConnectionPool;
class ExclusionSet;
struct PoolJob;

// One side of a run behind one interface: the local folder tree is the source, an FTP folder the
// target. Each holds two exclusion sets ("first" and "second"; the run decides which is which).
class SyncLocation {
  public:
    virtual ~SyncLocation() = default;
    void setExclusions(const ExclusionSet* first, const ExclusionSet* second);
    // The raw listing of one folder, without "." and "..".
    virtual bool listEntries(const std::string& folder, std::vector<FileEntryPtr>& entries) = 0;
    // The listing split into files and folders, each sorted by name in path order; on failure
    // both stay empty.
    bool listFolder(const std::string& folder, std::vector<FileEntryPtr>& files,
                    std::vector<FileEntryPtr>& folders);
    // A raw listing split as listFolder splits it.
    static void splitListing(std::vector<FileEntryPtr> entries, std::vector<FileEntryPtr>& files,
                             std::vector<FileEntryPtr>& folders);
    virtual bool isReady() const = 0;
    // True for a folder that a walk must not enter: a link to the folder that holds it or to one
    // of the folders above that, which would make every walk of the tree go round for ever. The
    // reason is left in lastErrorText. Other links are followed.
    virtual bool leadsBackUp(const FileEntry&) const { return false; }
    bool isExcludedByFirst(const FileEntry& entry) const;
    bool isExcludedBySecond(const FileEntry& entry) const;
    virtual bool isRemote() const = 0;
    virtual bool copyFile(const FileEntry& source, const FileEntry& target) = 0;
    virtual bool deleteFile(const FileEntry& entry) = 0;
    virtual bool createFolder(const FileEntry& entry) = 0;

  private:
    const ExclusionSet* first_ = nullptr;
    const ExclusionSet* second_ = nullptr;
};

class LocalSyncLocation : public SyncLocation {
  public:
    bool listEntries(const std::string& folder, std::vector<FileEntryPtr>& entries) override;
    bool isReady() const override { return true; }
    bool leadsBackUp(const FileEntry& folder) const override;
    bool isRemote() const override { return false; }
    bool copyFile(const FileEntry& source, const FileEntry& target) override;
    bool deleteFile(const FileEntry& entry) override;
    bool createFolder(const FileEntry& entry) override;
};

// A server folder a walk will enter, and the local folder it will compare it with.
struct AheadFolder {
    std::string remote;  // ending with "/"
    std::string local;
};

// The sub-folders a walk will enter below a folder, given that folder's local path and its raw
// server listing.
using AheadRule = std::function<std::vector<AheadFolder>(
    const std::string& localFolder, const std::vector<FileEntryPtr>& targetEntries)>;

class FtpSyncLocation : public SyncLocation {
  public:
    FtpSyncLocation() = default;
    ~FtpSyncLocation() override;
    FtpSyncLocation(const FtpSyncLocation&) = delete;
    FtpSyncLocation& operator=(const FtpSyncLocation&) = delete;
    void setConnection(std::shared_ptr<ConnectionDetails> connection);
    const std::shared_ptr<ConnectionDetails>& connection() const { return connection_; }
    bool listEntries(const std::string& folder, std::vector<FileEntryPtr>& entries) override;
    bool isReady() const override;
    // Whether the last listing that failed did so because the server said the folder is not
    // there, rather than for a time-out, a broken connection or another refusal.
    bool listingFoundNoFolder() const;
    bool isRemote() const override { return true; }
    bool copyFile(const FileEntry& source, const FileEntry& target) override;
    bool deleteFile(const FileEntry& entry) override;
    bool createFolder(const FileEntry& entry) override;
    // Whether an upload to this file began and never finished (unfinishedUploads()): what the
    // server holds may be only a part of it, whatever its date and size say.
    bool hasUnfinishedUpload(const FileEntry& entry) const;

    // The extra logins of the run (null: none). Setting it forgets the listings asked for and
    // the rule.
    void setPool(ConnectionPool* pool);
    ConnectionPool* pool() const { return pool_; }
    // Has the extra logins fetch the listings of folders that a walk will soon ask for, the
    // first of them first and ahead of those asked for earlier, so that a depth-first walk
    // finds them ready. listEntries takes a listing fetched ahead instead of asking the server
    // itself, and lists the folder itself, as ever, when the fetch failed or has not begun yet:
    // its failures are then exactly those of a walk alone.
    void listAhead(const std::vector<AheadFolder>& folders);
    // With a rule, each listing fetched ahead has the folders below it fetched ahead in turn as
    // soon as it is in, rather than when the walk gets to it: the walk itself waits for one
    // listing after the other, and without this the logins would wait with it.
    void setAheadRule(AheadRule rule);
    // Drops the rule and what was asked for and not yet walked; queued fetches are withdrawn.
    void stopListingAhead();

  private:
    // Turns the fetches that are in into listings and asks for the folders below them.
    void expandAhead();

    struct Fetch {
        std::shared_ptr<PoolJob> job;
        std::string local;
    };
    struct Listed {
        std::vector<FileEntryPtr> entries;
        std::string local;
        bool expanded = false;
    };
    std::shared_ptr<ConnectionDetails> connection_;
    ConnectionPool* pool_ = nullptr;
    AheadRule aheadRule_;
    bool expanding_ = false;
    std::map<std::string, Fetch> ahead_;
    // Listings that are in: fetched ahead, or made by the run's own connection while the walk
    // waited for one fetched ahead.
    std::map<std::string, Listed> listedAhead_;
};
