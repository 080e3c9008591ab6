#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "common/FileEntry.h"
#include "profiles/ExclusionSet.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/RetryDisplay.h"
#include "ui/browse/BrowseListener.h"

class FtpFileBrowseCtrl;
class FtpFolderBrowseCtrl;
namespace Ui {
class BrowseFtpDlg;
}

// "Browse FTP Connection": the folders of a server on the left, the chosen folder's files on
// the right, with connect and disconnect, Create Dir, Delete, Refresh and Up. Given an FTP
// exclusion set it also marks entries to exclude: it works on a copy and hands the copy back
// on OK. The caller reads the chosen folder from currentDirectory() after OK.
//
// `active` is the caller's connection: the dialog may connect it, or let the person choose
// another in the connection manager, which then replaces the caller's list when it changed it
// (connectionsChanged() tells; the caller saves the connections file). The connection stays
// open when the dialog closes.
class BrowseFtpDlg : public QDialog, private BrowseListener, private RetryDisplay {
    Q_OBJECT

  public:
    BrowseFtpDlg(ConnectionList& connections, std::shared_ptr<ConnectionDetails>& active,
                 const std::string& startFolder, ExclusionSet* exclusions,
                 QWidget* parent = nullptr);
    ~BrowseFtpDlg() override;

    // The folder shown in "Current Directory".
    std::string currentDirectory() const;
    // True once the connection manager closed with OK reporting a change.
    bool connectionsChanged() const { return connectionsChanged_; }
    const ExclusionSet& workingExclusions() const { return working_; }
    FtpFileBrowseCtrl& list() const { return *list_; }
    FtpFolderBrowseCtrl& tree() const { return *tree_; }

  public slots:
    // The work of the 50 ms timer started when the dialog is first shown.
    void OnTimer();
    void OnConnect();
    void OnCreatedir();
    void OnDelete();
    void OnRefresh();
    void OnUp();
    void OnAdd();
    void OnRemove();
    void OnViewStyleChanged(int index);
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // BrowseListener.
    void directoryChanged() override;
    void showStatus(const std::string& text) override;
    void folderRemoved(const FileEntryPtr& folder) override;
    void folderAdded(const FileEntryPtr& folder) override;
    void currentPathChanged(const std::string& path) override;
    void folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) override;
    // RetryDisplay: called on workers; the labels change on the window's thread.
    void updateProgress() override;

    bool connected() const;
    // The connecting dialog for the connection; the controls then show the outcome.
    void openConnection();
    // The tree from the connection's home folder down to `folder`.
    void initialiseTree(const std::string& folder);
    // The list at `folder` (the server's current folder when empty); a failure is reported as
    // "Could not change directory" with `context` and forgets the start folder.
    void showStartFolder(const std::string& folder, const char* context);
    void useConnection();
    void updateControls();
    void showConnectionState();
    // Adds the selected entries (not the up entry, not a nameless one) to the working set.
    void addSelection();
    void markExclusions();
    void onTreeSelection();
    bool treeShowsListFolder() const;

    std::unique_ptr<Ui::BrowseFtpDlg> ui_;
    ConnectionList& connections_;
    std::shared_ptr<ConnectionDetails>& active_;
    std::string startFolder_;
    ExclusionSet* exclusions_;
    ExclusionSet working_;
    std::vector<FileEntryPtr> selection_;
    FtpFolderBrowseCtrl* tree_;
    FtpFileBrowseCtrl* list_;
    QTimer fillTimer_;
    RetryDisplay* previousDisplay_ = nullptr;
    bool shownOnce_ = false;
    bool connectionsChanged_ = false;
    // Keeps the tree and the list from driving each other round in a loop.
    bool following_ = false;
};
