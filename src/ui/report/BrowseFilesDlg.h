#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "common/FileEntry.h"
#include "ui/browse/BrowseListener.h"

class FileDetailsBrowseCtrl;
class FileDetailsFolderBrowseCtrl;
namespace Ui {
class BrowseFilesDlg;
}

// The entries of a plan (or of a run's results) as an explorer: the folders on the left with
// what happens to each, the files of the chosen folder on the right with their action icons.
// With removal allowed, Remove takes entries, and whole folders, out of the plan; OK hands the
// trimmed sequence back to the caller, Cancel leaves it as it was.
class BrowseFilesDlg : public QDialog, private BrowseListener {
    Q_OBJECT

  public:
    BrowseFilesDlg(std::vector<FileEntryPtr>& entries, const std::string& startFolder,
                   bool showActions, bool removalAllowed, QWidget* parent = nullptr);
    ~BrowseFilesDlg() override;

    // The folder shown when the dialog closed: what the caller remembers for the next time.
    std::string currentDirectory() const;
    FileDetailsBrowseCtrl& list() const { return *list_; }
    FileDetailsFolderBrowseCtrl& tree() const { return *tree_; }
    const std::vector<FileEntryPtr>& entries() const { return entries_; }
    const std::vector<FileEntryPtr>& selectedEntries() const { return selection_; }

  public slots:
    // The work of the 50 ms timer started when the dialog is first shown.
    void OnTimer();
    void OnRemove();
    void OnUp();
    void OnLegend();
    void OnViewStyleChanged(int index);
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void directoryChanged() override;
    void showStatus(const std::string& text) override;
    void folderRemoved(const FileEntryPtr& folder) override;
    void folderAdded(const FileEntryPtr& folder) override;
    void currentPathChanged(const std::string&) override {}
    void folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) override;

    void updateButtons();
    void onTreeSelection();
    bool treeShowsListFolder() const;

    std::unique_ptr<Ui::BrowseFilesDlg> ui_;
    std::vector<FileEntryPtr>& callerEntries_;
    std::vector<FileEntryPtr> entries_;
    std::vector<FileEntryPtr> selection_;
    std::string startFolder_;
    const bool removalAllowed_;
    FileDetailsBrowseCtrl* list_;
    FileDetailsFolderBrowseCtrl* tree_;
    QTimer fillTimer_;
    bool shownOnce_ = false;
};
