#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "common/FileEntry.h"
#include "profiles/ExclusionSet.h"
#include "ui/browse/BrowseListener.h"

class CTreeFileCtrl;
class SysFileBrowseCtrl;
namespace Ui {
class BrowseLocalDlg;
}

// "Browse Local System": the folder tree on the left, the files of the chosen folder on the
// right, with Up, Create Dir and Delete. Given an exclusion set, Add and Remove mark files and
// folders on a working copy of its lists, and excluded entries show as such; OK (which also adds
// what is selected) hands the working lists back, Cancel leaves the caller's set as it was.
// After OK, currentDirectory() is the folder the caller remembers as the one shown last.
class BrowseLocalDlg : public QDialog, private BrowseListener {
    Q_OBJECT

  public:
    // `exclusions` may be null: no exclusion controls then, and OK changes no exclusions.
    BrowseLocalDlg(const std::string& startFolder, ExclusionSet* exclusions,
                   QWidget* parent = nullptr);
    ~BrowseLocalDlg() override;

    // "Current Directory": the folder shown (or the one folder selected), with a trailing
    // separator.
    std::string currentDirectory() const;
    const ExclusionSet& workingExclusions() const { return working_; }
    SysFileBrowseCtrl& list() const { return *list_; }
    CTreeFileCtrl& tree() const { return *tree_; }
    const std::vector<FileEntryPtr>& selectedEntries() const { return selection_; }

  public slots:
    // The work of the 50 ms timer started when the dialog is first shown.
    void OnTimer();
    void OnAdd();
    void OnRemove();
    void OnDelete();
    void OnCreatedir();
    void OnUp();
    void OnViewStyleChanged(int index);
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void directoryChanged() override;
    void showStatus(const std::string& text) override;
    void folderRemoved(const FileEntryPtr&) override {}
    void folderAdded(const FileEntryPtr&) override {}
    void currentPathChanged(const std::string& path) override;
    void folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) override;

    void addSelected();
    void markListing();
    void updateControls();
    void onTreeSelection();
    // Refills the tree and selects the list's folder again.
    void refillTree();
    bool treeShowsListFolder() const;
    void setCurrentDirectory(const std::string& path);
    // The tree selects the list's folder without driving the list back.
    void followList();

    std::unique_ptr<Ui::BrowseLocalDlg> ui_;
    ExclusionSet* callerExclusions_;
    ExclusionSet working_;
    std::vector<FileEntryPtr> selection_;
    std::string startFolder_;
    // What "Current Directory" shows, as bytes (a name need not be valid UTF-8).
    std::string currentDirectory_;
    SysFileBrowseCtrl* list_;
    CTreeFileCtrl* tree_;
    QTimer fillTimer_;
    bool shownOnce_ = false;
    // Set while the tree or the list follows the other, so that neither echoes back.
    bool following_ = false;
};
