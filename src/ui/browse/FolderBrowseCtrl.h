#pragma once

#include <QTreeWidget>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/FileEntry.h"

class BrowseListener;

// The folder hierarchy beside a list: the entries of a plan (FileDetailsFolderBrowseCtrl) or
// an FTP server (FtpFolderBrowseCtrl). Children are listed when a folder is first opened or
// walked through; each folder shows a state image, whose open form marks the selected one.
class FolderBrowseCtrl : public QTreeWidget {
    Q_OBJECT

  public:
    // The state image of an item (int).
    static constexpr int kStateRole = Qt::UserRole + 1;

    FolderBrowseCtrl(BrowseListener& listener, bool showActions, QWidget* parent = nullptr);
    ~FolderBrowseCtrl() override;

    // Empties the tree and builds it from `rootFolder` down to `startFolder`, which it selects.
    virtual void initialise(const std::string& startFolder, const std::string& rootFolder);
    virtual bool usesSlashes() const = 0;
    // The entries of `folder`; the tree keeps the folders among them in their order.
    virtual bool directoryListing(const FileEntryPtr& folder,
                                  std::vector<FileEntryPtr>& entries) = 0;

    // What the list reports through its BrowseListener.
    void removeFolder(const FileEntryPtr& folder);
    void addFolder(const FileEntryPtr& folder);
    void renameFolder(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder);

    // The path an entry stands for, with a trailing separator ("" for the root of a plan).
    std::string pathOf(const FileEntry& folder) const;
    // The entry of the selected item; null when nothing is selected.
    FileEntryPtr selectedFolder() const;
    // Selects the item of `folder`, creating the items down to it as needed. False when the
    // folder is not in the tree (the deepest item on the way is selected then).
    bool selectFolder(const FileEntryPtr& folder);
    virtual FileEntryPtr entryOf(QTreeWidgetItem* item) const;
    // The item of a path, among the items made so far.
    QTreeWidgetItem* itemOf(const std::string& path) const;
    static int stateOf(const QTreeWidgetItem* item);

  signals:
    // The selected folder changed, by the person or by selectFolder.
    void folderSelected();

  protected:
    BrowseListener& listener() { return listener_; }

  private:
    void onSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    QTreeWidgetItem* addItem(QTreeWidgetItem* parent, const FileEntryPtr& folder,
                             const QString& label);
    void insertChildren(QTreeWidgetItem* item);
    // Drops the items below `item` (and `item` itself when `self`) from the table.
    void forget(QTreeWidgetItem* item, bool self);
    static void setState(QTreeWidgetItem* item, int state);

    BrowseListener& listener_;
    const bool showActions_;
    std::string root_;
    std::unordered_map<const QTreeWidgetItem*, FileEntryPtr> entries_;
    // Items whose children have been listed.
    std::unordered_map<const QTreeWidgetItem*, bool> listed_;
    bool filling_ = false;
};
