// Execution of the plan on the server: one operation at a time, each success and failure
// recorded in the result sets, the counters and the problem list. No failure stops the run;
// only Stop does.

#include <algorithm>
#include <memory>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "engine/Synchroniser.h"
#include "transfer/Progress.h"

namespace {

// What every file operation adds to the work done, matching the estimate of the run.
constexpr std::uint64_t kOperationWork = 1024;

}  // namespace

void Synchroniser::processFiles() {
    // Files before folders, and folders deleted before folders are added, so that a file or
    // folder replaced by one of the other kind makes room first.
    const auto copyPlannedFiles = [this](const ActionPairMap& planned, const std::string& status,
                                         const std::string& problem, EntrySet& done,
                                         EntrySet& failed, std::uint32_t& count) {
        for (const auto& [key, pair] : planned) {
            if (stopRequested) {
                return;
            }
            const FileEntryPtr target = pair.target;
            setStatus(status + target->fullPath());
            sendFile(*pair.source, *target,
                     [this, target, problem, &done, &failed, &count](bool succeeded) {
                         if (succeeded) {
                             ++count;
                             done.insert(target);
                         } else {
                             problemList.push_back(problem + target->fullPath());
                             problemList.push_back(lastErrorText());
                             target->failed = true;
                             failed.insert(target);
                         }
                         bytesDone += kOperationWork;
                     });
        }
    };

    lendConnection();
    if (!stopRequested) {
        copyPlannedFiles(lists.overwriteFiles, "Overwriting file: ",
                         "CSynchroniserDlg::processFiles (overwrite): Could not copy file: ",
                         lists.overwrittenFiles, lists.failedOverwrittenFiles,
                         lists.overwrittenCount);
    }
    if (!stopRequested) {
        copyPlannedFiles(lists.addFiles, "Adding file: ",
                         "CSynchroniserDlg::processFiles (add): Could not copy file: ",
                         lists.addedFiles, lists.failedAddedFiles, lists.addedFilesCount);
    }
    // Deletes only once the uploads before them are done.
    recordOutcomes(true);
    if (!stopRequested) {
        for (const FileEntryPtr& target : lists.deleteFiles) {
            if (stopRequested) {
                break;
            }
            setStatus("Deleting file: " + target->fullPath());
            deleteServerFile(*target, [this, target](bool succeeded) {
                if (succeeded) {
                    ++lists.deletedFilesCount;
                    lists.deletedFiles.insert(target);
                } else {
                    problemList.push_back(
                        "CSynchroniserDlg::processFiles (delete): Could not delete file: " +
                        target->fullPath());
                    problemList.push_back(lastErrorText());
                    target->failed = true;
                    lists.failedDeletedFiles.insert(target);
                }
                bytesDone += kOperationWork;
            });
        }
    }
    // Folder deletes walk the folder and change directories: the run's own connection alone.
    reclaimConnection();
    if (!stopRequested) {
        for (const FileEntryPtr& target : lists.deleteFolders) {
            if (stopRequested) {
                break;
            }
            setStatus("Deleting folder: " + target->fullPath());
            deleteDirectory(target);
        }
    }
    lendConnection();
    if (!stopRequested) {
        for (const auto& [key, pair] : lists.addFolders) {
            if (stopRequested) {
                break;
            }
            setStatus("Adding folder: " + pair.target->fullPath());
            copyDirectory(pair.source, pair.target);
        }
    }
    reclaimConnection();
    setStatus("Done");
}

void Synchroniser::copyDirectory(const FileEntryPtr& sourceFolder,
                                 const FileEntryPtr& targetFolder) {
    bytesDone += kOperationWork;
    const bool made = makeServerFolder(*targetFolder, [this, targetFolder](bool succeeded) {
        if (succeeded) {
            ++lists.addedFoldersCount;
            lists.addedFolders.insert(targetFolder);
            return;
        }
        // The command has left its reason (the server's reply, or "Timed out") in lastErrorText.
        problemList.push_back("CSynchroniserDlg::copyDirectory: Could not add folder: " +
                              targetFolder->fullPath());
        problemList.push_back(lastErrorText());
        targetFolder->failed = true;
        lists.failedAddedFolders.insert(targetFolder);
    });
    if (!made) {
        return;
    }

    const std::string sourcePath = sourceFolder->childFolderPath();
    std::vector<FileEntryPtr> items;
    LocalSyncLocation local;
    if (!local.listEntries(sourcePath, items)) {
        // Without this line the empty folder on the server would pass for the whole tree.
        recordInOrder(false, [this, sourcePath](bool) {
            problemList.push_back("CSynchroniserDlg::copyDirectory: Could not read folder: " +
                                  sourcePath);
            problemList.push_back(lastErrorText());
        });
        return;
    }
    std::sort(items.begin(), items.end(), EntryNameOrder{});

    const std::string targetPath = targetFolder->childFolderPath();
    const bool targetIsRemote = target_.isRemote();
    for (const FileEntryPtr& item : items) {
        if (stopRequested) {
            break;
        }
        messagePump().pumpOnce();
        if (profile.exclusions.isExcluded(*item)) {
            continue;
        }
        FileEntryPtr target = item->copyForOtherSide(targetPath, targetIsRemote);
        target->action = EntryAction::Add;
        if (item->isFolder()) {
            if (local.leadsBackUp(*item)) {
                recordInOrder(false, [this, item](bool) {
                    problemList.push_back(
                        "CSynchroniserDlg::copyDirectory: Folder link not followed: " +
                        item->fullPath());
                    problemList.push_back(lastErrorText());
                });
                continue;
            }
            copyDirectory(item, target);
            continue;
        }
        setStatus("Adding file: " + target->fullPath());
        sendFile(*item, *target, [this, target](bool succeeded) {
            if (succeeded) {
                ++lists.addedFilesCount;
                lists.addedFiles.insert(target);
            } else {
                problemList.push_back("CSynchroniserDlg::copyDirectory: Could not add file: " +
                                      target->fullPath());
                problemList.push_back(lastErrorText());
                target->failed = true;
                lists.failedAddedFiles.insert(target);
            }
            bytesDone += kOperationWork;
        });
    }
}

void Synchroniser::deleteDirectory(const FileEntryPtr& targetFolder) {
    const std::shared_ptr<ConnectionDetails>& connection = target_.connection();
    std::vector<FileEntryPtr> entries;
    // The listing may come from the connection's cache: the estimate of the run may just have
    // listed this folder, and whatever is missed only makes the removal fail, never deletes more.
    bool listed = false;
    if (!connection) {
        setLastError("Not connected to an FTP server");
    } else {
        listed = connection->changeDirectory(targetFolder->childFolderPath()) &&
                 connection->listDirectory(entries, false);
    }
    if (!listed) {
        problemList.push_back("CSynchroniserDlg::deleteDirectory: Could not read folder: " +
                              targetFolder->fullPath());
        problemList.push_back(lastErrorText());
        return;
    }

    for (const FileEntryPtr& entry : entries) {
        if (stopRequested) {
            break;
        }
        if (entry->name == "." || entry->name == "..") {
            continue;
        }
        // Excluded items stay on the server, files as well as folders; the folder holding them
        // then cannot be removed and is reported as not removed.
        if (profile.ftp_exclusions.isExcluded(*entry)) {
            continue;
        }
        entry->action = EntryAction::Delete;
        if (entry->isFolder()) {
            deleteDirectory(entry);
            continue;
        }
        setStatus("Deleting file: " + entry->fullPath());
        if (connection->deleteFile(entry->fullPath())) {
            ++lists.deletedFilesCount;
            lists.deletedFiles.insert(entry);
        } else {
            problemList.push_back("CSynchroniserDlg::deleteDirectory: Could not delete file: " +
                                  entry->fullPath());
            problemList.push_back(lastErrorText());
            entry->failed = true;
            lists.failedDeletedFiles.insert(entry);
        }
        bytesDone += kOperationWork;
    }
    if (stopRequested) {
        return;
    }

    // Some servers refuse to remove the directory they stand in.
    if (!connection->changeDirectory(targetFolder->folder)) {
        problemList.push_back("CSynchroniserDlg::deleteDirectory: Could not change directory to: " +
                              targetFolder->folder);
        problemList.push_back(lastErrorText());
        return;
    }
    setStatus("Deleting folder: " + targetFolder->fullPath());
    if (connection->removeDirectory(targetFolder->fullPath())) {
        ++lists.deletedFoldersCount;
        lists.deletedFolders.insert(targetFolder);
    } else {
        problemList.push_back("CSynchroniserDlg::deleteDirectory: Could not delete folder: " +
                              targetFolder->fullPath());
        problemList.push_back(lastErrorText());
        targetFolder->failed = true;
        lists.failedDeletedFolders.insert(targetFolder);
    }
    bytesDone += kOperationWork;
}

void Synchroniser::copyDirectory(const FileEntry& sourceFolder, const FileEntry& targetFolder) {
    copyDirectory(std::make_shared<FileEntry>(sourceFolder),
                  std::make_shared<FileEntry>(targetFolder));
}

void Synchroniser::deleteDirectory(const FileEntry& targetFolder) {
    deleteDirectory(std::make_shared<FileEntry>(targetFolder));
}
