#include "ui/browse/FileDetailsFolderBrowseCtrl.h"

#include "common/ErrorReport.h"
#include "ui/browse/BrowseListener.h"
#include "ui/browse/FileDetailsBrowseCtrl.h"

FileDetailsFolderBrowseCtrl::FileDetailsFolderBrowseCtrl(const std::vector<FileEntryPtr>& entries,
                                                         BrowseListener& listener, QWidget* parent)
    : FolderBrowseCtrl(listener, true, parent), entries_(entries) {}

bool FileDetailsFolderBrowseCtrl::usesSlashes() const {
    return entries_.empty() || entries_.front()->remote;
}

bool FileDetailsFolderBrowseCtrl::directoryListing(const FileEntryPtr& folder,
                                                   std::vector<FileEntryPtr>& entries) {
    const std::string path = pathOf(*folder);
    listener().showStatus("Getting directory listing for" + path);
    const bool listed = FileDetailsBrowseCtrl::listPlanFolder(entries_, path, entries);
    listener().showStatus("");
    if (!listed) {
        reportError("FileDetailsFolderBrowseCtrl::directoryListing",
                    "Could not get directory listing for: " + path, false);
    }
    return listed;
}

void FileDetailsFolderBrowseCtrl::reinitialise() {
    const FileEntryPtr selected = selectedFolder();
    initialise(selected ? pathOf(*selected) : std::string(), std::string());
}
