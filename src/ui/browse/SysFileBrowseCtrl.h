#pragma once

#include <string>
#include <vector>

#include "engine/ActionLists.h"
#include "ui/browse/FileBrowseCtrl.h"

// A folder of the local file system. Listings and deletes are timed local commands, so the
// window stays alive while they run. A file or folder without the owner's write permission
// counts as read-only: deleting it takes a question of its own.
class SysFileBrowseCtrl : public FileBrowseCtrl {
    Q_OBJECT

  public:
    SysFileBrowseCtrl(std::vector<FileEntryPtr>& selection, BrowseListener& listener,
                      bool showActions, QWidget* parent = nullptr);

    bool deleteItem() override;
    bool createDirectory() override;
    bool refresh() override;
    bool upDirectory() override;
    bool renameSelected(const FileEntryPtr& renamed, int row) override;
    bool setDirectory(const std::string& path) override;
    bool changeDirectory() override;
    // Tells the window the folder first, so that it can mark the entries before they show.
    void updateRowImages() override;

    enum class Outcome { Removed, Kept, Cancelled };
    // Deletes a folder and what is in it; read-only files and folders inside are asked about.
    // Kept when something stayed (reported, or the person said No, or Stop), Cancelled when the
    // person cancelled.
    Outcome deleteDirectory(const std::string& path);

  private:
    bool showLocalFolder(const FileEntryPtr& folder, const char* context, const char* failure);
    // Asks the question of a file or folder (read-only or not); kDeleteIt, kKeepIt or kCancelRun.
    int askAboutEntry(const FileEntry& entry, bool readOnly);

    ConfirmationFlags fileAnswers_;
    ConfirmationFlags readOnlyFileAnswers_;
    ConfirmationFlags folderAnswers_;
    ConfirmationFlags readOnlyFolderAnswers_;
};
