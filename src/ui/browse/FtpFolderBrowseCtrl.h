#pragma once

#include <memory>
#include <vector>

#include "ui/browse/FolderBrowseCtrl.h"

class ConnectionDetails;

// The folders of the connected FTP server, from the connection's home folder down.
class FtpFolderBrowseCtrl : public FolderBrowseCtrl {
    Q_OBJECT

  public:
    explicit FtpFolderBrowseCtrl(BrowseListener& listener, QWidget* parent = nullptr);

    void setConnection(std::shared_ptr<ConnectionDetails> connection);
    bool usesSlashes() const override { return true; }
    bool directoryListing(const FileEntryPtr& folder, std::vector<FileEntryPtr>& entries) override;
    FileEntryPtr entryOf(QTreeWidgetItem* item) const override;

  private:
    std::shared_ptr<ConnectionDetails> connection_;
};
