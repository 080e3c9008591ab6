#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ActionLists.h"
#include "engine/RetryAdapter.h"
#include "engine/SyncLocation.h"
#include "engine/SynchroniserView.h"
#include "profiles/BatchList.h"
#include "profiles/Profile.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionsFile.h"

class SettingsStore;
class ConnectionPool;
struct NameMatch;
struct PoolJob;
class RecentFiles;
class LocationHistory;

// Set by a run that ends with Stop; a batch loads no further profile while it is set.
extern bool batchAborted;

// How a run ended, for the command line's exit status.
enum class RunOutcome {
    NotRun,            // nothing ran: not attempted yet, or the person called it off (review
                       // cancelled, the open connection kept)
    Done,              // done without problems
    DoneWithProblems,  // done, but the problem list is not empty
    Failed,            // file not loaded or not valid, connection failed or lost during the
                       // run, analysis failed
    Stopped            // Stop (or SIGINT/SIGTERM) ended it
};

// The non-visual half of the main window: the open profile or batch, the connections, the two
// sides of a run, the plan and its outcome, and the run itself. The desktop window and
// kelvane-cli each own one and show what it tells them through SynchroniserView; operations keep
// the names (and the report contexts) the main window has always used.
class Synchroniser {
  public:
    explicit Synchroniser(SynchroniserView& view);
    ~Synchroniser();
    Synchroniser(const Synchroniser&) = delete;
    Synchroniser& operator=(const Synchroniser&) = delete;
    // Optional: where loadFile remembers "OpenPath" and which recent list it adds to.
    void setSettings(SettingsStore* settings) { settings_ = settings; }
    void setRecentFiles(RecentFiles* recent) { recent_ = recent; }
    // Optional: the recent lists of the two location boxes; loading a profile and selecting an
    // FTP location add to them.
    void setLocationHistories(LocationHistory* local, LocationHistory* ftp) {
        localHistory_ = local;
        ftpHistory_ = ftp;
    }

    // The main window's option values ("control values").
    struct Options {
        bool addMissing = true;
        bool deleteMissing = true;
        bool confirmDeletes = false;
        bool checkSubFolders = true;
        bool checkActions = true;
        bool silentMode = false;
        bool exitOnCompletion = false;
        std::string localLocation;  // the source folder
        std::string ftpLocation;    // "FTP:" + connection name + "/" + server path
    };
    Options options;

    Profile profile;
    std::string profilePath;
    BatchList batch;
    std::string batchPath;
    std::string openedPath;

    ConnectionList connections;
    std::shared_ptr<ConnectionDetails> selectedConnection;

    ActionLists lists;
    ProblemList problemList;
    ConfirmationFlags fileConfirmation;
    ConfirmationFlags folderConfirmation;

    bool running = false;
    std::string lastSource;
    std::string lastTarget;

    // Set by a front end with no one at the screen (kelvane-cli): every profile it loads, those
    // of a batch included, runs silently and without review, whatever the profile says.
    bool unattended = false;

    // With dryRun the run analyses, hands the plan to the view's reviewPlan (which may print it)
    // and executes nothing.
    bool dryRun = false;

    // Files.
    bool loadFile(const std::string& path, bool resetBatch, bool addToRecent);
    bool loadProfileData(const std::string& path);
    bool loadBatchData(const std::string& path);
    // Selects the connection named by an FTP location (and remembers the location).
    void selectFtpLocation(const std::string& location);

    // Runs.
    void synchronise();  // the "Synchronise Web Site" command
    void runBatch();     // the "Run Batch" command
    void runSynchronisation(const std::string& source, const std::string& target);
    // Step 4 of runSynchronisation: the exclusion sets of both sides (the local set tests source
    // entries, the FTP set target entries) and the selected connection for the target side.
    void prepareLocations();
    bool analyseDirectory(const std::string& sourceFolder, const std::string& targetFolder);
    // The matched sub-folders the walk will enter (neither side excluded).
    std::vector<AheadFolder> foldersToEnter(const std::vector<FileEntryPtr>& sourceFolders,
                                            const std::vector<FileEntryPtr>& targetFolders,
                                            const NameMatch& folders) const;
    // foldersToEnter below a folder whose server listing is in, ahead of the walk.
    std::vector<AheadFolder> foldersBelow(const std::string& sourceFolder,
                                          const std::vector<FileEntryPtr>& targetEntries);
    void processFiles();
    // The planned entries are shared, so the failed flag set here is seen by every holder; the
    // overloads taking a plain entry work on a copy of it.
    void copyDirectory(const FileEntryPtr& sourceFolder, const FileEntryPtr& targetFolder);
    void deleteDirectory(const FileEntryPtr& targetFolder);
    void copyDirectory(const FileEntry& sourceFolder, const FileEntry& targetFolder);
    void deleteDirectory(const FileEntry& targetFolder);
    void estimateWork();
    std::uint64_t estimateFolder(SyncLocation& location, const FileEntry& folder, bool deleting);
    void updateProgress();
    void setStatus(const std::string& text);
    // The text last given to setStatus.
    const std::string& status() const { return status_; }
    void showReport(const std::string& source, const std::string& target, bool failed, bool last);
    void startLogFile(const std::string& source, const std::string& destination);

    // The outcome of the last run, and the worst outcome since resetOutcome (a batch).
    RunOutcome lastOutcome() const { return lastOutcome_; }
    RunOutcome worstOutcome() const { return worstOutcome_; }
    void resetOutcome();

    std::uint64_t totalWork() const { return totalWork_; }
    // The logins the server accepted for the last run's execution (or its analysis when nothing
    // was executed), its own connection included.
    int lastRunLogins() const { return lastRunLogins_; }

  private:
    // The steps of synchronise() up to an open connection; false ends the run there.
    bool connectForRun(std::string& serverPath);
    // The review of step 8 of runSynchronisation; false when the user cancelled it.
    bool reviewPlannedActions();
    PlanForReview planForReview() const;
    // A source folder that is a link back to a folder above it: reported and not entered.
    bool refusedFolderLink(const FileEntry& folder);
    // Redraws the retries and the progress when they changed. Safe on any thread: the timed
    // commands' workers call it through retryAdapter_.
    void showProgress();
    void recordOutcome(RunOutcome outcome);
    void requestClose();

    // ---- Execution over several logins (Execution.cpp) ----
    // What one operation did, to be recorded in the result sets and the problem list. Called
    // with false, lastErrorText holds the reason.
    using Outcome = std::function<void(bool succeeded)>;
    // An operation sent to the pool and how to record it; outcomes are recorded in the order
    // the operations were planned, so that the problem list reads as a run of one connection.
    struct PendingOutcome {
        std::shared_ptr<PoolJob> job;  // null: known already
        bool succeeded = false;        // when there is no job
        std::string errorText;         // when there is no job
        Outcome record;
    };
    // The extra logins of the run, or null when it uses its own connection alone. Started once
    // the run's own connection is logged in: a server that limits the sessions of one address
    // must never turn the run's own login away for the sake of an extra one.
    // beforeLogin: while the run's own connection logs in (its onLoggedIn starts the logins).
    void startPool(bool beforeLogin = false);
    void endPool();
    // Hands the run's own connection to the pool, or takes it back after recording every
    // outcome; a connection that broke meanwhile is logged in again (or the run ends as lost).
    void lendConnection();
    void reclaimConnection();
    // Uploads and deletes: on the pool when there is one, else at once. Outcomes in order.
    void sendFile(const FileEntry& source, const FileEntry& target, Outcome record);
    void deleteServerFile(const FileEntry& target, Outcome record);
    // A folder is made before anything goes into it: waits for the server's answer.
    bool makeServerFolder(const FileEntry& target, Outcome record);
    // Records an outcome known now, after the ones still pending.
    void recordInOrder(bool succeeded, Outcome record);
    // Records the outcomes at the front that are done; with `all`, waits for every one. Also
    // waits while more than a few operations per login are pending.
    void recordOutcomes(bool all);
    void recordPending(PendingOutcome& pending);

    std::unique_ptr<ConnectionPool> pool_;
    // The last pool, its logins on their way out while the run's own connection goes on; it is
    // waited for before the next pool logs in, or at the end.
    std::unique_ptr<ConnectionPool> closingPool_;
    std::shared_ptr<ConnectionDetails> poolConnection_;  // whose logins the pool holds
    int lastRunLogins_ = 1;
    std::deque<PendingOutcome> pending_;

    SynchroniserView& view_;
    SettingsStore* settings_ = nullptr;
    RecentFiles* recent_ = nullptr;
    LocationHistory* localHistory_ = nullptr;
    LocationHistory* ftpHistory_ = nullptr;
    LocalSyncLocation source_;
    FtpSyncLocation target_;
    std::string status_;
    // Read by workers through showProgress, hence atomic.
    std::atomic<std::uint64_t> totalWork_{0};
    std::atomic<std::int64_t> runStartMs_{0};
    std::atomic<int> lastShownThousandths_{-1};
    std::atomic<int> lastShownRetries_{-1};
    RetryAdapter retryAdapter_{[this] { showProgress(); }};
    // Exit on completion asked the front end to close the program: a batch runs no further.
    bool closeRequested_ = false;
    RunOutcome lastOutcome_ = RunOutcome::NotRun;
    RunOutcome worstOutcome_ = RunOutcome::NotRun;
};
