#include "ui/browse/SysFileBrowseCtrl.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "common/ErrorReport.h"
#include "engine/ConfirmDelete.h"
#include "engine/SyncLocation.h"
#include "transfer/LocalFileOperations.h"
#include "transfer/TimedCommand.h"
#include "ui/ModalDialog.h"
#include "ui/browse/BrowseListener.h"
#include "ui/browse/DirNameDlg.h"
#include "ui/browse/FileListModel.h"

namespace {

// The attributes of a path itself (a link's own, not its target's): false with lastErrorText
// set when they cannot be read.
bool readAttributes(const std::string& path, struct stat& status) {
    if (::lstat(path.c_str(), &status) != 0) {
        setLastErrorFromCode(errno);
        return false;
    }
    return true;
}

bool isReadOnly(const struct stat& status) {
    return (status.st_mode & S_IWUSR) == 0;
}

bool clearReadOnly(const std::string& path, const struct stat& status) {
    return ::chmod(path.c_str(), (status.st_mode & 07777) | S_IWUSR) == 0;
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// One folder's entries as a timed local command: a folder on a slow or hung file system keeps
// the window alive, and Stop ends the wait.
bool listLocalFolder(const std::string& folder, std::vector<FileEntryPtr>& entries) {
    auto command = std::make_shared<TimedCommand>();
    command->directory = folder;
    if (!runLocalCommand(command, [](TimedCommand& record) {
            LocalSyncLocation local;
            return local.listEntries(record.directory, record.entries);
        })) {
        return false;
    }
    entries = command->entries;
    return true;
}

}  // namespace

SysFileBrowseCtrl::SysFileBrowseCtrl(std::vector<FileEntryPtr>& selection, BrowseListener& listener,
                                     bool showActions, QWidget* parent)
    : FileBrowseCtrl(selection, listener, showActions, parent) {
    setCurrentFolder(folderEntryFor("", false));
    setRenamable(true);
}

bool SysFileBrowseCtrl::showLocalFolder(const FileEntryPtr& folder, const char* context,
                                        const char* failure) {
    folder->remote = false;
    const std::string path = folder->childFolderPath();
    std::vector<FileEntryPtr> entries;
    bool listed = false;
    {
        Activity activity(*this, "Getting directory listing for" + path);
        listed = listLocalFolder(path, entries);
    }
    if (!listed) {
        report(context, failure + path, true);
        return false;
    }
    showListing(folder, std::move(entries), true);
    return true;
}

bool SysFileBrowseCtrl::setDirectory(const std::string& path) {
    std::string folder = path.empty() ? std::string(1, kLocalSeparator) : path;
    if (folder.back() != kLocalSeparator) {
        folder.push_back(kLocalSeparator);
    }
    return showLocalFolder(folderEntryFor(folder, false), "SysFileBrowseCtrl::setDirectory",
                           "Failed to read directory: ");
}

bool SysFileBrowseCtrl::refresh() {
    if (currentFolder()->fullPath().empty()) {
        return false;
    }
    return showLocalFolder(currentFolder(), "SysFileBrowseCtrl::refresh",
                           "Failed to read directory listing for: ");
}

bool SysFileBrowseCtrl::changeDirectory() {
    if (selection().empty() || !selection().front()->isFolder()) {
        return false;
    }
    return showLocalFolder(selection().front(), "SysFileBrowseCtrl::changeDirectory",
                           "Could not get directory listing for: ");
}

bool SysFileBrowseCtrl::upDirectory() {
    if (!canGoUp()) {
        return false;
    }
    return showLocalFolder(parentFolderOf(*currentFolder()), "SysFileBrowseCtrl::upDirectory",
                           "Could not get directory listing for: ");
}

void SysFileBrowseCtrl::updateRowImages() {
    listener().currentPathChanged(listingPathOf(*currentFolder()));
    FileBrowseCtrl::updateRowImages();
}

bool SysFileBrowseCtrl::createDirectory() {
    DirNameDlg dialog(this);
    if (runModal(dialog) != QDialog::Accepted) {
        return false;
    }
    const std::string path = currentFolder()->childFolderPath() + dialog.directoryName();
    bool created = false;
    if (exists(path)) {
        // The person asked for a new folder; one that is there already is not it.
        setLastErrorFromCode(EEXIST);
    } else if (createLocalDirectory(path)) {
        created = true;
    } else {
        setLastError("");
    }
    if (!created) {
        report("SysFileBrowseCtrl::createDirectory", "Could not create directory: " + path, true);
        return false;
    }
    refresh();
    return true;
}

bool SysFileBrowseCtrl::renameSelected(const FileEntryPtr& renamed, int row) {
    if (selection().empty()) {
        return false;
    }
    const FileEntryPtr old = selection().front();
    const std::string target = old->folder + renamed->name;
    bool done = false;
    if (nameInUse(renamed->name) || exists(target)) {
        // A rename over another file would replace it without a word.
        setLastErrorFromCode(EEXIST);
    } else {
        done = moveLocalFile(old->fullPath(), target, false);
    }
    return completeRename("SysFileBrowseCtrl::renameSelected", old, renamed, row, done);
}

int SysFileBrowseCtrl::askAboutEntry(const FileEntry& entry, bool readOnly) {
    const std::string path = entry.fullPath();
    if (entry.isFolder()) {
        return readOnly
                   ? askAbout("Delete Read Only Folder", "Delete Read Only folder: " + path,
                              readOnlyFolderAnswers_)
                   : askAbout("Delete Folder", "Delete folder and all of its contents: " + path,
                              folderAnswers_);
    }
    return readOnly ? askAbout("Delete Read Only File", "Delete Read Only file: " + path,
                               readOnlyFileAnswers_)
                    : askAbout("Delete File", "Delete file: " + path, fileAnswers_);
}

bool SysFileBrowseCtrl::deleteItem() {
    constexpr const char* kContext = "SysFileBrowseCtrl::deleteItem";
    fileAnswers_ = {};
    readOnlyFileAnswers_ = {};
    folderAnswers_ = {};
    readOnlyFolderAnswers_ = {};
    return deleteEach(kContext, [this, kContext](const FileEntryPtr& entry, Activity&) {
        const std::string path = entry->fullPath();
        struct stat status {};
        if (!readAttributes(path, status)) {
            report(entry->isFolder() ? "SysFileBrowseCtrl::deleteItem (folder)"
                                     : "SysFileBrowseCtrl::deleteItem (file)",
                   "Could not access file attributes for" + path, true);
            return Next::Continue;
        }
        const bool readOnly = isReadOnly(status);
        const int answer = askAboutEntry(*entry, readOnly);
        if (answer != kDeleteIt) {
            return answer == kCancelRun ? Next::End : Next::Continue;
        }
        // A link to a folder goes as a link: what it points at is not in this folder.
        if (!entry->isFolder() || S_ISLNK(status.st_mode)) {
            if (!deleteLocalFile(path, true)) {
                report(kContext, "Could not delete file: " + path, true);
            }
            return Next::Continue;
        }
        if (readOnly && !clearReadOnly(path, status)) {
            setLastError("");
            report(kContext, "Could not delete folder: " + path, true);
            return Next::Continue;
        }
        const Outcome outcome = deleteDirectory(path);
        if (outcome == Outcome::Removed) {
            listener().folderRemoved(entry);
        } else if (outcome == Outcome::Cancelled) {
            return Next::End;
        } else if (stopRequested) {
            reportStopped(kContext, path);
            return Next::End;
        }
        return Next::Continue;
    });
}

SysFileBrowseCtrl::Outcome SysFileBrowseCtrl::deleteDirectory(const std::string& path) {
    constexpr const char* kContext = "SysFileBrowseCtrl::deleteDirectory";
    const auto tell = [kContext](const std::string& message) {
        if (!stopRequested) {
            report(kContext, message, true);
        }
    };
    std::vector<FileEntryPtr> entries;
    if (!listLocalFolder(path + kLocalSeparator, entries)) {
        tell("Could not read folder: " + path);
        return Outcome::Kept;
    }
    // Whatever stays inside keeps the folder; its removal is then not tried, and so not
    // reported again at every level above.
    bool emptied = true;
    for (const bool folders : {false, true}) {
        for (const FileEntryPtr& entry : entries) {
            if (stopRequested) {
                return Outcome::Kept;
            }
            if (entry->isFolder() != folders) {
                continue;
            }
            const std::string item = entry->fullPath();
            struct stat status {};
            if (!readAttributes(item, status)) {
                tell(folders ? "Could not access file attributes" + item
                             : "Could not access file attributes for" + item);
                emptied = false;
                continue;
            }
            const bool readOnly = isReadOnly(status);
            if (readOnly) {
                // Only read-only items are asked about; the rest go with the folder.
                const int answer = askAboutEntry(*entry, true);
                if (answer == kCancelRun) {
                    return Outcome::Cancelled;
                }
                if (answer != kDeleteIt) {
                    emptied = false;
                    continue;
                }
            }
            if (!folders || S_ISLNK(status.st_mode)) {
                if (!deleteLocalFile(item, true)) {
                    tell("Could not delete file: " + item);
                    emptied = false;
                }
                continue;
            }
            if (readOnly && !clearReadOnly(item, status)) {
                setLastError("");
                tell("Could not delete folder: " + item);
                emptied = false;
                continue;
            }
            const Outcome inner = deleteDirectory(item);
            if (inner == Outcome::Cancelled) {
                return inner;
            }
            emptied = emptied && inner == Outcome::Removed;
        }
    }
    if (stopRequested || !emptied) {
        return Outcome::Kept;
    }
    if (!removeLocalDirectory(path, true)) {
        tell("Could not delete folder: " + path);
        return Outcome::Kept;
    }
    return Outcome::Removed;
}
