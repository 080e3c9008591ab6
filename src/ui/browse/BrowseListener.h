#pragma once

#include <string>

#include "common/FileEntry.h"

// What a file list control tells the window it sits in, so that the window keeps its folder
// tree, its buttons and its status line in step with the list.
class BrowseListener {
  public:
    virtual ~BrowseListener() = default;
    // After every refill of the list and every change of its selection (not while the list is
    // quiet).
    virtual void directoryChanged() = 0;
    // Before and after each listing or command; an empty text clears the status line.
    virtual void showStatus(const std::string& text) = 0;
    // A folder has gone: deleted, or taken out of the plan.
    virtual void folderRemoved(const FileEntryPtr& folder) = 0;
    virtual void folderAdded(const FileEntryPtr& folder) = 0;
    // The local or FTP list has moved to another folder.
    virtual void currentPathChanged(const std::string& path) = 0;
    virtual void folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) = 0;
};
