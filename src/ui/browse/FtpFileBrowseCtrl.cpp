#include "ui/browse/FtpFileBrowseCtrl.h"

#include "common/ErrorReport.h"
#include "engine/ConfirmDelete.h"
#include "transfer/ConnectionDetails.h"
#include "ui/ModalDialog.h"
#include "ui/browse/BrowseListener.h"
#include "ui/browse/DirNameDlg.h"
#include "ui/browse/FileListModel.h"

namespace {

constexpr const char* kNotConnected = "You are not currently connected to an FTP server";

}  // namespace

FtpFileBrowseCtrl::FtpFileBrowseCtrl(std::vector<FileEntryPtr>& selection, BrowseListener& listener,
                                     bool showActions, QWidget* parent)
    : FileBrowseCtrl(selection, listener, showActions, parent) {
    setCurrentFolder(folderEntryFor("", true));
    setRenamable(true);
}

void FtpFileBrowseCtrl::setConnection(std::shared_ptr<ConnectionDetails> connection) {
    connection_ = std::move(connection);
}

bool FtpFileBrowseCtrl::connected() const {
    return connection_ != nullptr && connection_->isConnected();
}

bool FtpFileBrowseCtrl::listServerFolder(const FileEntry& folder, bool refresh,
                                         std::vector<FileEntryPtr>& entries) {
    const std::string path = listingPathOf(folder);
    return (path.empty() || connection_->changeDirectory(path)) &&
           connection_->listDirectory(entries, refresh);
}

bool FtpFileBrowseCtrl::setDirectory(const std::string& path) {
    if (!connected()) {
        return false;
    }
    if (!path.empty()) {
        return FileBrowseCtrl::setDirectory(path);
    }
    constexpr const char* kContext = "FtpFileBrowseCtrl::setDirectory";
    Activity activity(*this, "Getting current directory");
    FileEntry here;
    if (!connection_->currentFolderEntry(here)) {
        report(kContext, "Failed to read current directory", true);
        return false;
    }
    activity.status("Getting directory listing");
    std::vector<FileEntryPtr> entries;
    if (!connection_->listDirectory(entries, false)) {
        report(kContext, "Failed to read directory listing", true);
        return false;
    }
    showListing(std::make_shared<FileEntry>(here), std::move(entries), true);
    return true;
}

bool FtpFileBrowseCtrl::refresh() {
    if (!connected()) {
        // Disconnected: nothing of the server is to be seen any more.
        showListing(currentFolder(), {}, false);
        return false;
    }
    Activity activity(*this, "Getting directory listing");
    std::vector<FileEntryPtr> entries;
    if (!listServerFolder(*currentFolder(), true, entries)) {
        report("FtpFileBrowseCtrl::refresh", "Failed to read directory listing", true);
        return false;
    }
    showListing(currentFolder(), std::move(entries), true);
    return true;
}

bool FtpFileBrowseCtrl::changeDirectory() {
    if (!connected() || selection().empty() || !selection().front()->isFolder()) {
        return false;
    }
    constexpr const char* kContext = "FtpFileBrowseCtrl::changeDirectory";
    const FileEntryPtr folder = selection().front();
    folder->remote = true;
    Activity activity(*this, "Changing directory");
    if (!connection_->changeDirectory(folder->childFolderPath())) {
        report(kContext, "Could not change directory to: " + folder->fullPath(), true);
        return false;
    }
    activity.status("Getting directory listing");
    std::vector<FileEntryPtr> entries;
    if (!connection_->listDirectory(entries, false)) {
        report(kContext, "Could not get directory listing for: " + folder->fullPath(), true);
        return false;
    }
    showListing(folder, std::move(entries), true);
    return true;
}

bool FtpFileBrowseCtrl::upDirectory() {
    if (!connected()) {
        return false;
    }
    constexpr const char* kContext = "FtpFileBrowseCtrl::upDirectory";
    const FileEntryPtr parent = parentFolderOf(*currentFolder());
    Activity activity(*this, "Getting directory listing");
    // From the folder this list shows, wherever the tree has taken the server since.
    const std::string here = listingPathOf(*currentFolder());
    std::vector<FileEntryPtr> entries;
    if ((!here.empty() && !connection_->changeDirectory(here)) || !connection_->upDirectory() ||
        !connection_->listDirectory(entries, false)) {
        report(kContext, "Could not get directory listing for: " + parent->fullPath(), true);
        return false;
    }
    activity.status("Getting current directory");
    FileEntry reached;
    if (!connection_->currentFolderEntry(reached)) {
        report(kContext, "Could not determine current directory", true);
        return false;
    }
    showListing(std::make_shared<FileEntry>(reached), std::move(entries), true);
    return true;
}

bool FtpFileBrowseCtrl::createDirectory() {
    if (!connected()) {
        report("FtpFileBrowseCtrl::createDirectory", kNotConnected, false);
        return false;
    }
    DirNameDlg dialog(this);
    if (runModal(dialog) != QDialog::Accepted) {
        return false;
    }
    auto folder = std::make_shared<FileEntry>();
    folder->folder = listingPathOf(*currentFolder());
    folder->name = dialog.directoryName();
    folder->kind = EntryKind::Folder;
    folder->remote = true;
    bool created = false;
    {
        Activity activity(*this, "Creating directory: " + folder->fullPath());
        created = connection_->createDirectory(folder->fullPath());
    }
    if (!created) {
        report("FtpFileBrowseCtrl::createDirectory", "Could not create directory", true);
        return false;
    }
    listener().folderAdded(folder);
    refresh();
    return true;
}

bool FtpFileBrowseCtrl::renameSelected(const FileEntryPtr& renamed, int row) {
    if (!connected() || selection().empty()) {
        return false;
    }
    constexpr const char* kContext = "FtpFileBrowseCtrl::renameSelected";
    const FileEntryPtr old = selection().front();
    if (nameInUse(renamed->name)) {
        // Most servers would replace the other file without a word.
        setLastError("A file or folder of that name already exists");
        return completeRename(kContext, old, renamed, row, false);
    }
    bool done = false;
    {
        Activity activity(*this, "Renaming");
        done = connection_->renameFile(old->fullPath(), renamed->fullPath());
    }
    return completeRename(kContext, old, renamed, row, done);
}

bool FtpFileBrowseCtrl::deleteItem() {
    constexpr const char* kContext = "FtpFileBrowseCtrl::deleteItem";
    if (!connected()) {
        report(kContext, kNotConnected, false);
        return false;
    }
    fileAnswers_ = {};
    folderAnswers_ = {};
    return deleteEach(kContext, [this, kContext](const FileEntryPtr& entry, Activity& activity) {
        const std::string path = entry->fullPath();
        if (entry->isFolder()) {
            activity.status("Removing directory: " + entry->name);
            const int answer = askAbout(
                "Delete Folder", "Delete folder and all of its contents: " + path, folderAnswers_);
            if (answer != kDeleteIt) {
                return answer == kCancelRun ? Next::End : Next::Continue;
            }
            if (!deleteDirectory(*entry)) {
                if (stopRequested) {
                    reportStopped(kContext, path);
                }
                return Next::End;
            }
            listener().folderRemoved(entry);
            return Next::Continue;
        }
        activity.status("Deleting file: " + entry->name);
        const int answer = askAbout("Delete File", "Delete file: " + path, fileAnswers_);
        if (answer == kDeleteIt && !connection_->deleteFile(path)) {
            report(kContext, "Could not delete file: " + path, true);
        }
        return answer == kCancelRun ? Next::End : Next::Continue;
    });
}

bool FtpFileBrowseCtrl::deleteDirectory(const FileEntry& folder) {
    constexpr const char* kContext = "FtpFileBrowseCtrl::deleteDirectory";
    // A command cut short by Stop fails too; the caller tells of the Stop once.
    const auto failed = [kContext](const std::string& message) {
        if (!stopRequested) {
            report(kContext, message, true);
        }
        return false;
    };
    // Listed by its path: the server's current folder never moves, so there is nothing to
    // change back to afterwards, and a tree of many folders costs no round trips for it.
    std::vector<FileEntryPtr> entries;
    if (!connection_->listFolderAt(folder.childFolderPath(), entries)) {
        return failed("Could not read folder: " + folder.fullPath());
    }
    for (const FileEntryPtr& entry : entries) {
        if (stopRequested) {
            return false;
        }
        if (entry->name == "." || entry->name == "..") {
            continue;
        }
        if (entry->isFolder()) {
            if (!deleteDirectory(*entry)) {
                return false;
            }
            continue;
        }
        listener().showStatus("Deleting file: " + entry->fullPath());
        if (!connection_->deleteFile(entry->fullPath())) {
            return failed("Could not delete file: " + entry->fullPath());
        }
    }
    if (stopRequested) {
        return false;
    }
    listener().showStatus("Deleting folder: " + folder.fullPath());
    if (!connection_->removeDirectory(folder.fullPath())) {
        return failed("Could not delete folder: " + folder.fullPath());
    }
    return true;
}
