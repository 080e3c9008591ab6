#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/FileEntry.h"

// A planned action that needs both sides: the source entry and the target entry it acts on.
struct ActionPair {
    FileEntryPtr source;
    FileEntryPtr target;
};

// Maps of pairs are keyed by the source entry, sets by the target entry; both in path order, so
// the order of execution never depends on the order of analysis.
using ActionPairMap = std::map<FileEntryPtr, ActionPair, EntryPathOrder>;
using EntrySet = std::set<FileEntryPtr, EntryPathOrder>;

// The lines that describe the failures of a run: each failure adds its message with the path,
// then the reason (lastErrorText).
using ProblemList = std::vector<std::string>;

// One run's plan and outcome.
struct ActionLists {
    // Planned actions.
    ActionPairMap overwriteFiles;  // target action Overwrite
    ActionPairMap addFiles;        // target action Add
    ActionPairMap addFolders;      // target action Add
    EntrySet deleteFiles;          // action Delete
    EntrySet deleteFolders;        // action Delete

    // Results: target entries.
    EntrySet overwrittenFiles, addedFiles, addedFolders, deletedFiles, deletedFolders;
    EntrySet failedOverwrittenFiles, failedAddedFiles, failedAddedFolders, failedDeletedFiles,
        failedDeletedFolders;

    // Successful operations of each kind, those inside whole-folder adds and deletes included.
    std::uint32_t overwrittenCount = 0;
    std::uint32_t addedFilesCount = 0;
    std::uint32_t addedFoldersCount = 0;
    std::uint32_t deletedFilesCount = 0;
    std::uint32_t deletedFoldersCount = 0;

    void clear() { *this = ActionLists{}; }
};

// The Yes To All / No To All memories of the delete confirmation, one pair for files and one for
// folders; they live for one run.
struct ConfirmationFlags {
    bool yesToAll = false;
    bool noToAll = false;
};
