#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/ActionLists.h"
#include "ui/browse/FileBrowseCtrl.h"

class ConnectionDetails;

// A folder of the connected FTP server. Every command is a timed FTP operation of the
// connection, so the window stays alive while it runs and Stop ends a long delete.
class FtpFileBrowseCtrl : public FileBrowseCtrl {
    Q_OBJECT

  public:
    FtpFileBrowseCtrl(std::vector<FileEntryPtr>& selection, BrowseListener& listener,
                      bool showActions, QWidget* parent = nullptr);

    // The window's connection (it may change it, or connect and disconnect it).
    void setConnection(std::shared_ptr<ConnectionDetails> connection);
    const std::shared_ptr<ConnectionDetails>& connection() const { return connection_; }

    bool deleteItem() override;
    bool createDirectory() override;
    bool refresh() override;
    bool upDirectory() override;
    bool renameSelected(const FileEntryPtr& renamed, int row) override;
    // With an empty path the server's current folder.
    bool setDirectory(const std::string& path) override;
    bool changeDirectory() override;

    // Deletes a folder and everything in it; false (reported) when something could not be
    // deleted, and false without a report when Stop ended it.
    bool deleteDirectory(const FileEntry& folder);

  private:
    bool connected() const;
    // Moves the server to `folder` (the tree may have moved it) and lists it.
    bool listServerFolder(const FileEntry& folder, bool refresh,
                          std::vector<FileEntryPtr>& entries);

    std::shared_ptr<ConnectionDetails> connection_;
    ConfirmationFlags fileAnswers_;
    ConfirmationFlags folderAnswers_;
};
