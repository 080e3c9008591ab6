#include "ui/browse/FileDetailsBrowseCtrl.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "ui/browse/BrowseListener.h"
#include "ui/browse/BrowseOrder.h"

namespace {

struct IgnoringCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return comparePathsIgnoringCase(a, b) < 0;
    }
};

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           comparePathsIgnoringCase(std::string_view(text).substr(0, prefix.size()), prefix) == 0;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return comparePathsIgnoringCase(a, b) == 0;
}

}  // namespace

FileDetailsBrowseCtrl::FileDetailsBrowseCtrl(std::vector<FileEntryPtr>& entries,
                                             std::vector<FileEntryPtr>& selection,
                                             BrowseListener& listener, bool showActions,
                                             QWidget* parent)
    : FileBrowseCtrl(selection, listener, showActions, parent), entries_(entries) {}

bool FileDetailsBrowseCtrl::listPlanFolder(const std::vector<FileEntryPtr>& entries,
                                           const std::string& path,
                                           std::vector<FileEntryPtr>& listing) {
    const std::string folder = path == "\\" ? std::string() : path;
    listing.clear();
    std::set<std::string, IgnoringCase> listed;
    bool known = folder.empty();
    for (const FileEntryPtr& entry : entries) {
        if (entry->kind != EntryKind::Up && sameIgnoringCase(entry->folder, folder)) {
            listing.push_back(entry);
            listed.insert(entry->fullPath());
            known = true;
        }
    }
    for (const FileEntryPtr& entry : entries) {
        if (entry->folder.size() <= folder.size() ||
            !startsWithIgnoringCase(entry->folder, folder)) {
            if (!known && entry->isFolder() && !folder.empty() &&
                sameIgnoringCase(entry->childFolderPath(), folder)) {
                known = true;  // an added folder with nothing in it yet
            }
            continue;
        }
        known = true;
        const char separator = entry->separator();
        const std::string rest = entry->folder.substr(folder.size());
        FileEntryPtr level = std::make_shared<FileEntry>();
        if (folder.empty() && rest.front() == separator) {
            level->folder = std::string(1, separator);  // the top of the paths
        } else {
            level->folder = folder;
            level->name = rest.substr(0, rest.find(separator));
        }
        level->kind = EntryKind::Folder;
        level->remote = entry->remote;
        if (listed.insert(level->fullPath()).second) {
            listing.push_back(std::move(level));
        }
    }
    sortBrowseListing(listing);
    return known;
}

bool FileDetailsBrowseCtrl::showPlanFolder(const FileEntryPtr& folder, const char* context,
                                           const char* failure) {
    const std::string path = listingPathOf(*folder);
    std::vector<FileEntryPtr> listing;
    bool listed = false;
    {
        Activity activity(*this, "Getting directory listing for" + path);
        listed = listPlanFolder(entries_, path, listing);
    }
    if (!listed) {
        report(context, failure + path, false);
        return false;
    }
    showListing(folder, std::move(listing), false);
    return true;
}

bool FileDetailsBrowseCtrl::setDirectory(const std::string& path) {
    const bool remote = entries_.empty() || entries_.front()->remote;
    return showPlanFolder(folderEntryFor(path, remote), "FileDetailsBrowseCtrl::setDirectory",
                          "Failed to read directory: ");
}

bool FileDetailsBrowseCtrl::refresh() {
    return showPlanFolder(currentFolder(), "FileDetailsBrowseCtrl::refresh",
                          "Failed to read directory listing for: ");
}

bool FileDetailsBrowseCtrl::changeDirectory() {
    if (selection().empty() || !selection().front()->isFolder()) {
        return false;
    }
    return showPlanFolder(selection().front(), "FileDetailsBrowseCtrl::changeDirectory",
                          "Could not get directory listing for: ");
}

bool FileDetailsBrowseCtrl::upDirectory() {
    return showPlanFolder(parentFolderOf(*currentFolder()), "FileDetailsBrowseCtrl::upDirectory",
                          "Could not get directory listing for: ");
}

bool FileDetailsBrowseCtrl::deleteItem() {
    const std::vector<FileEntryPtr> chosen = selection();
    for (const FileEntryPtr& entry : chosen) {
        if (entry->kind == EntryKind::Up) {
            report("FileDetailsBrowseCtrl::deleteItem", "Cannot delete the up directory", false);
            continue;
        }
        if (entry->isFolder()) {
            // Everything below the folder leaves with it; the tree hears of every folder.
            const std::string below = entry->childFolderPath();
            std::vector<FileEntryPtr> removedFolders;
            std::erase_if(entries_, [&below, &removedFolders](const FileEntryPtr& each) {
                if (!startsWithIgnoringCase(each->folder, below)) {
                    return false;
                }
                if (each->isFolder()) {
                    removedFolders.push_back(each);
                }
                return true;
            });
            for (const FileEntryPtr& folder : removedFolders) {
                listener().folderRemoved(folder);
            }
        }
        std::erase(entries_, entry);
        if (entry->isFolder()) {
            listener().folderRemoved(entry);
        }
    }
    selection().clear();
    // The folder shown may itself have gone with what was removed; its parent then shows.
    std::vector<FileEntryPtr> unused;
    if (!listPlanFolder(entries_, listingPathOf(*currentFolder()), unused)) {
        FileEntryPtr folder = currentFolder();
        while (!listingPathOf(*folder).empty() &&
               !listPlanFolder(entries_, listingPathOf(*folder), unused)) {
            folder = parentFolderOf(*folder);
        }
        setCurrentFolder(folder);
    }
    return refresh();
}
