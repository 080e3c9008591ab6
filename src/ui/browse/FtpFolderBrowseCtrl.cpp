#include "ui/browse/FtpFolderBrowseCtrl.h"

#include "common/ErrorReport.h"
#include "transfer/ConnectionDetails.h"
#include "ui/browse/BrowseListener.h"

FtpFolderBrowseCtrl::FtpFolderBrowseCtrl(BrowseListener& listener, QWidget* parent)
    : FolderBrowseCtrl(listener, false, parent) {}

void FtpFolderBrowseCtrl::setConnection(std::shared_ptr<ConnectionDetails> connection) {
    connection_ = std::move(connection);
}

bool FtpFolderBrowseCtrl::directoryListing(const FileEntryPtr& folder,
                                           std::vector<FileEntryPtr>& entries) {
    if (connection_ == nullptr || !connection_->isConnected()) {
        return false;
    }
    constexpr const char* kContext = "FtpFolderBrowseCtrl::directoryListing";
    const std::string path = folder->childFolderPath();
    listener().showStatus("Changing directory");
    bool listed = false;
    if (!connection_->changeDirectory(path)) {
        reportError(kContext, "Could not change directory to: " + folder->fullPath(), true);
    } else {
        listener().showStatus("Getting directory listing");
        listed = connection_->listDirectory(entries, false);
        if (!listed) {
            reportError(kContext, "Could not get directory listing for: " + folder->fullPath(),
                        true);
        }
    }
    listener().showStatus("");
    return listed;
}

FileEntryPtr FtpFolderBrowseCtrl::entryOf(QTreeWidgetItem* item) const {
    FileEntryPtr entry = FolderBrowseCtrl::entryOf(item);
    if (entry) {
        entry->remote = true;
    }
    return entry;
}
