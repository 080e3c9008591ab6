// Opening profiles and batch files, choosing the FTP location, and the batch loop.

#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "engine/Synchroniser.h"
#include "profiles/LocationHistory.h"
#include "profiles/PersistentRecord.h"
#include "profiles/RecentFiles.h"
#include "profiles/SettingsStore.h"
#include "transfer/FtpLocation.h"

namespace {

constexpr const char* kRunBatchContext = "CSynchroniserDlg::OnRunbatch";

}  // namespace

bool Synchroniser::loadFile(const std::string& path, bool resetBatch, bool addToRecent) {
    if (settings_ != nullptr) {
        settings_->writeString("OpenPath", path);
    }
    bool loaded = false;
    switch (fileKind(path)) {
        case FileKind::Profile:
            if (resetBatch) {
                batch.profilePaths.clear();
                batch.modified = false;
            }
            batchPath.clear();
            loaded = loadProfileData(path);
            if (loaded) {
                openedPath = path;
            }
            break;
        case FileKind::Batch:
            profilePath.clear();
            profile.reset();
            batchPath = path;
            loaded = loadBatchData(path);
            break;
        case FileKind::None:
            break;
    }
    if (!loaded) {
        recordOutcome(RunOutcome::Failed);
        return false;
    }
    if (addToRecent && recent_ != nullptr) {
        recent_->addRecent(path);
    }
    return true;
}

bool Synchroniser::loadProfileData(const std::string& path) {
    constexpr const char* kContext = "CSynchroniserDlg::loadProfileData";
    if (!profile.loadFromFile(path)) {
        reportError(kContext, "Could not open file: " + path, false);
        return false;
    }
    if (!profile.valid) {
        reportError(kContext, path + " is not a valid Kelvane profile", false);
        // The window is left with no file open.
        profile.reset();
        profilePath.clear();
        openedPath.clear();
        view_.refreshControls();
        return false;
    }

    profilePath = path;
    options.deleteMissing = profile.delete_files;
    options.confirmDeletes = profile.confirm_deletes;
    options.addMissing = profile.add_files;
    options.checkSubFolders = profile.check_sub_folders;
    options.checkActions = profile.check_actions;
    options.silentMode = profile.silent_mode;
    options.exitOnCompletion = profile.exit_on_completion;
    if (unattended) {
        options.silentMode = true;
        options.checkActions = false;
    }
    quietMode = options.silentMode;
    options.localLocation = profile.location1;
    if (localHistory_ != nullptr) {
        localHistory_->use(profile.location1);
    }
    selectFtpLocation(profile.location2);
    view_.refreshControls();
    return true;
}

bool Synchroniser::loadBatchData(const std::string& path) {
    constexpr const char* kContext = "CSynchroniserDlg::loadBatchData";
    if (!batch.loadFromFile(path)) {
        reportError(kContext, "Could not open file: " + path, false);
        return false;
    }
    if (!batch.valid) {
        reportError(kContext, path + " is not a valid Kelvane batch file", false);
        batch.profilePaths.clear();
        batch.modified = false;
        batchPath.clear();
        openedPath.clear();
        view_.refreshControls();
        return false;
    }
    batchPath = path;
    openedPath = path;
    view_.refreshControls();
    return true;
}

void Synchroniser::selectFtpLocation(const std::string& location) {
    options.ftpLocation = location;
    if (ftpHistory_ != nullptr) {
        ftpHistory_->use(location);
    }
    std::string name;
    std::string path;
    parseFtpLocation(location, name, path);
    std::shared_ptr<ConnectionDetails> named = findConnection(connections, name);
    if (selectedConnection != nullptr && selectedConnection != named &&
        selectedConnection->isConnected()) {
        if (!quietMode.load() && !prompter().askYesNo("Break current connection?")) {
            return;
        }
        selectedConnection->disconnectFtp();
    }
    selectedConnection = named;
}

void Synchroniser::runBatch() {
    if (running) {
        const bool quiet = quietMode.exchange(false);
        reportError(kRunBatchContext, "There is already a batch or synchronisation running", false);
        quietMode = quiet;
        return;
    }
    resetOutcome();
    closeRequested_ = false;
    // A run stopped on its own before this batch must not make the batch run nothing.
    batchAborted = false;
    const std::string keptBatchPath = batchPath;

    if (batch.modified &&
        prompter().askYesNo(
            "The current batch file has been modified.\nDo you wish to save your changes?")) {
        if (!batch.saveToFile(keptBatchPath)) {
            reportError("CSynchroniserDlg::OnSave", "Could not open file: " + keptBatchPath, false);
        }
    }

    // Loading a profile leaves the batch alone, but a batch file among the paths would replace
    // it: walk a copy.
    const std::vector<std::string> paths = batch.profilePaths;
    for (const std::string& path : paths) {
        if (batchAborted || closeRequested_) {
            break;
        }
        if (!loadFile(path, false, false)) {
            continue;
        }
        if (profile.auto_start == 0) {
            reportError(kRunBatchContext,
                        "The profile " + path +
                            "\n must have Auto Start selected to be used as a batch profile",
                        false);
            recordOutcome(RunOutcome::Failed);
            continue;
        }
        openedPath = path;
        view_.refreshControls();
        synchronise();
    }

    // Exit on completion ended the program with that profile's run, and the batch with it. A
    // batch that was never saved has no file to show again.
    if (!closeRequested_ && !keptBatchPath.empty()) {
        loadFile(keptBatchPath, true, true);
    }
    batchAborted = false;
}
