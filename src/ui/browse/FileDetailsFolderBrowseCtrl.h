#pragma once

#include <vector>

#include "ui/browse/FolderBrowseCtrl.h"

// The folders of a plan's entries, each showing what happens to it (added, deleted, failed).
class FileDetailsFolderBrowseCtrl : public FolderBrowseCtrl {
    Q_OBJECT

  public:
    FileDetailsFolderBrowseCtrl(const std::vector<FileEntryPtr>& entries, BrowseListener& listener,
                                QWidget* parent = nullptr);

    bool usesSlashes() const override;
    bool directoryListing(const FileEntryPtr& folder, std::vector<FileEntryPtr>& entries) override;
    // Builds the tree again at the folder selected now (after the entries changed).
    void reinitialise();

  private:
    const std::vector<FileEntryPtr>& entries_;
};
