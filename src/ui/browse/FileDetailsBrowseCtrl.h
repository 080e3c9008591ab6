#pragma once

#include <string>
#include <vector>

#include "ui/browse/FileBrowseCtrl.h"

// The entries of a plan (or of a run's results) as folders and files. A folder of the list is
// every entry whose folder path it is, plus one folder entry for each first level below it
// that only deeper entries name. Removing entries takes them out of the window's sequence, and
// so out of the plan; nothing on disk or server is touched.
class FileDetailsBrowseCtrl : public FileBrowseCtrl {
    Q_OBJECT

  public:
    FileDetailsBrowseCtrl(std::vector<FileEntryPtr>& entries, std::vector<FileEntryPtr>& selection,
                          BrowseListener& listener, bool showActions, QWidget* parent = nullptr);

    bool deleteItem() override;
    bool createDirectory() override { return true; }
    bool refresh() override;
    bool upDirectory() override;
    bool renameSelected(const FileEntryPtr&, int) override { return false; }
    bool setDirectory(const std::string& path) override;
    bool changeDirectory() override;
    // The root of a plan lies above "/", so the top of the paths can go up too.
    bool canGoUp() const override { return !currentFolder()->folder.empty(); }

    // The listing of `folder` ("" or "\" for the root) from `entries`, sorted in the program-wide
    // order. False when the folder is not part of the entries at all.
    static bool listPlanFolder(const std::vector<FileEntryPtr>& entries, const std::string& folder,
                               std::vector<FileEntryPtr>& listing);

  private:
    bool showPlanFolder(const FileEntryPtr& folder, const char* context, const char* failure);

    std::vector<FileEntryPtr>& entries_;
};
