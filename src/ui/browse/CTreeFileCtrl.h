#pragma once

#include <QColor>
#include <QFileSystemWatcher>
#include <QTimer>
#include <QTreeWidget>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/browse/LocalMounts.h"
#include "ui/browse/LocalTreeReader.h"

class CTreeFileItem;
class QMenu;

// The local file system as a folder tree: the computer with its drives ("/", the home folder,
// the other local mounts by their type) and the network with the servers of the mounted network
// file systems and their shares; below them the folders (and, when asked, the files). A folder
// is read when it is first opened, on a reader thread, and read again when its watcher sees a
// name come or go. Hidden files are the dot files; hidden folders are listed like any other.
// According to its options it renames in place, deletes to the trash (permanently with Shift),
// opens with the desktop's program, shows a properties dialog, offers these in a context menu
// and draws compressed and encrypted items in colour.
class CTreeFileCtrl : public QTreeWidget {
    Q_OBJECT

  public:
    // The bits of setOptions.
    enum Option : unsigned {
        kShowFiles = 0x1,
        kAllowRename = 0x4,
        kAllowOpen = 0x8,
        kAllowProperties = 0x10,
        kAllowDelete = 0x20,
    };
    // What the folder dialogs set: rename, properties and delete; folders only.
    static constexpr unsigned kFolderDialogOptions = kAllowRename | kAllowProperties | kAllowDelete;

    enum class ItemKind { Computer, Network, Server, Share, Drive, Folder, File };

    explicit CTreeFileCtrl(QWidget* parent = nullptr);
    ~CTreeFileCtrl() override;

    void setOptions(unsigned options);
    // Builds the tree again (the mount table read anew) and selects the path selected before.
    void refresh();
    // Opens the tree down to the item of a full local path (trailing "/" ignored) and selects
    // it; the folders on the way are read as needed. False when the path is not below the root
    // folder (nothing is selected then) or not all of it exists (its deepest existing folder is
    // selected).
    bool selectPath(const std::string& path);
    // The full path of the selected item; empty when nothing, or an item without a path (the
    // computer, the network, a server), is selected.
    std::string selectedPath() const;
    std::string itemPath(const QTreeWidgetItem* item) const;
    // The first item of a path among the items made so far; null when there is none.
    QTreeWidgetItem* itemOfPath(const std::string& path) const;
    // The item of a child `name` of `parent`, among its listed children.
    QTreeWidgetItem* childNamed(const QTreeWidgetItem* parent, const std::string& name) const;

    ItemKind kindOf(const QTreeWidgetItem* item) const;
    bool isDrive(const QTreeWidgetItem* item) const;
    bool isNetworkItem(const QTreeWidgetItem* item) const;
    bool isCompressed(const QTreeWidgetItem* item) const;
    bool isEncrypted(const QTreeWidgetItem* item) const;
    // True when the folder holds something this tree would list below it.
    bool hasSubFolders(const std::string& path) const;
    // What the details of an item said (compressed, encrypted); its colour follows.
    void setItemAttributes(QTreeWidgetItem* item, std::uint32_t attributes);

    // Whether each command is allowed for an item: the options, and never a drive, a network
    // item or the top of the tree for rename and delete.
    bool canOpen(const QTreeWidgetItem* item) const;
    bool canRename(const QTreeWidgetItem* item) const;
    bool canDelete(const QTreeWidgetItem* item) const;
    bool canShowProperties(const QTreeWidgetItem* item) const;

    bool openItem(QTreeWidgetItem* item);
    bool showProperties(QTreeWidgetItem* item);
    // Starts editing the item's name; false when renaming is not allowed for it.
    bool beginRename(QTreeWidgetItem* item);
    // The end of the edit: renames the file or folder to `name` in the same folder, never over
    // another one. False (and reported) when that failed; false without a word when the name
    // did not change.
    bool finishRename(QTreeWidgetItem* item, const std::string& name);
    // Asks, then moves the item to the trash or, `permanently`, deletes it with everything in
    // it. The item leaves the tree only when that succeeded. False when not allowed, refused,
    // cancelled or failed (reported).
    bool deleteItem(QTreeWidgetItem* item, bool permanently);

    // The commands on the selected item, as the context menu and the keys give them: Delete
    // deletes permanently while Shift is held.
    void OnOpen();
    void OnRename();
    void OnDelete();
    void OnProperties();
    // "&Open", "&Rename", "&Delete", "&Properties", each enabled when allowed for `item`.
    std::unique_ptr<QMenu> createContextMenu(QTreeWidgetItem* item);

    std::string rootFolder() const { return root_; }
    void setRootFolder(const std::string& folder);
    std::string fileMask() const { return filter_.fileMask; }
    void setFileMask(const std::string& mask) { filter_.fileMask = mask; }
    std::uint32_t hiddenAttributeMask() const { return filter_.hiddenMask; }
    void setHiddenAttributeMask(std::uint32_t mask) { filter_.hiddenMask = mask; }
    bool showFiles() const { return filter_.showFiles; }
    void setShowFiles(bool on) { filter_.showFiles = on; }
    std::uint32_t hiddenDriveTypes() const { return hiddenDriveTypes_; }
    void setHiddenDriveTypes(std::uint32_t types) { hiddenDriveTypes_ = types; }
    bool allowRename() const { return allowRename_; }
    void setAllowRename(bool on);
    bool allowOpen() const { return allowOpen_; }
    void setAllowOpen(bool on) { allowOpen_ = on; }
    bool allowProperties() const { return allowProperties_; }
    void setAllowProperties(bool on) { allowProperties_ = on; }
    bool allowDelete() const { return allowDelete_; }
    void setAllowDelete(bool on) { allowDelete_ = on; }
    bool showCompressedInColour() const { return showCompressed_; }
    void setShowCompressedInColour(bool on);
    QColor compressedColour() const { return compressedColour_; }
    void setCompressedColour(const QColor& colour);
    bool showEncryptedInColour() const { return showEncrypted_; }
    void setShowEncryptedInColour(bool on);
    QColor encryptedColour() const { return encryptedColour_; }
    void setEncryptedColour(const QColor& colour);
    bool contextMenuEnabled() const { return contextMenu_; }
    void setContextMenuEnabled(bool on) { contextMenu_ = on; }
    bool showComputerItem() const { return showComputer_; }
    void setShowComputerItem(bool on) { showComputer_ = on; }
    bool showNetwork() const { return showNetwork_; }
    void setShowNetwork(bool on) { showNetwork_ = on; }
    // The mount table the drives and shares come from: /proc/self/mounts.
    std::string mountTable() const { return mountTable_; }
    void setMountTable(const std::string& path) { mountTable_ = path; }

    bool isListedDriveType(DriveType type) const { return (hiddenDriveTypes_ & type) == 0; }

    // The folders whose changes make the tree read them again. Every listed folder is watched.
    void watchPath(const std::string& path);
    void unwatchPath(const std::string& path);
    void unwatchAll();
    std::vector<std::string> watchedPaths() const;

    // True while a folder's listing or its items' details are still being read.
    bool reading() const { return !readings_.empty(); }
    // How long selectPath waits for one folder (CommandTimeout when 0).
    void setReadLimitMs(int milliseconds) { readLimitMs_ = milliseconds; }

  signals:
    // The selection moved, or the selected item's path changed (renamed).
    void selectedPathChanged();
    // The children of a folder were read and put into the tree (also after a change).
    void folderListed(const QString& path);
    // The details of a reading have all arrived.
    void detailsRead();

  protected:
    // The hooks of rename and delete; all allow.
    virtual bool mayRename(const std::string& path);
    virtual bool beforeDelete(const std::string& path);
    virtual void afterDelete(const std::string& path);

    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    friend class CTreeFileItem;
    struct Waiter;

    CTreeFileItem* addTopItem(QTreeWidgetItem* parent, ItemKind kind, const std::string& path,
                              const QString& label, DriveType type = kDriveFixed);
    CTreeFileItem* makeEntryItem(const std::string& folder, const LocalTreeEntry& entry);
    void addComputer(QTreeWidgetItem* parent);
    void addNetwork();
    void readDetailsOfChildren(CTreeFileItem* parent);
    void startReading(CTreeFileItem* item);
    // False when the folder could not be listed in time; `gone` when its item went meanwhile.
    bool waitForListing(CTreeFileItem* item, bool& gone);
    void onListingRead(std::uint64_t id, bool ok, std::vector<LocalTreeEntry> entries);
    void onDetailsRead(std::uint64_t id, std::vector<LocalTreeReader::DetailsItem> items,
                       bool last);
    void fillChildren(CTreeFileItem* item, const std::vector<LocalTreeEntry>& entries);
    void mergeChildren(CTreeFileItem* item, const std::vector<LocalTreeEntry>& entries);
    void onCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void onDirectoryChanged(const QString& path);
    void relistChanged();
    void relist(CTreeFileItem* item);
    void removeItem(QTreeWidgetItem* item);
    // Moves a child to `index` among its siblings, keeping it open and selected as it was.
    void moveChild(QTreeWidgetItem* parent, QTreeWidgetItem* child, int index);
    void applyColour(CTreeFileItem* item) const;
    void recolour();
    void itemGone(CTreeFileItem* item);
    void movePaths(CTreeFileItem* item, const std::string& oldPath, const std::string& newPath);
    void setIcon(CTreeFileItem* item, bool open) const;
    static CTreeFileItem* asItem(QTreeWidgetItem* item);
    static const CTreeFileItem* asItem(const QTreeWidgetItem* item);

    std::string root_;
    LocalTreeFilter filter_;
    std::uint32_t hiddenDriveTypes_ = 0;
    bool allowRename_ = true;
    bool allowOpen_ = true;
    bool allowProperties_ = true;
    bool allowDelete_ = true;
    bool showCompressed_ = true;
    QColor compressedColour_{0, 0, 255};
    bool showEncrypted_ = true;
    QColor encryptedColour_{255, 0, 0};
    bool contextMenu_ = true;
    bool showComputer_ = true;
    bool showNetwork_ = true;
    std::string mountTable_ = "/proc/self/mounts";
    int readLimitMs_ = 0;

    std::unique_ptr<LocalTreeReader> reader_;
    std::uint64_t nextReading_ = 0;
    // The item each reading in flight belongs to: the folder listed, the computer or server
    // whose drives or shares are looked at, or (`ofItself`) a drive at the top of the tree.
    struct Reading {
        CTreeFileItem* item = nullptr;
        bool ofItself = false;
    };
    std::unordered_map<std::uint64_t, Reading> readings_;
    std::vector<Waiter*> waiters_;
    QFileSystemWatcher watcher_;
    std::unordered_map<std::string, int> watchCounts_;
    // The listed folders by path (a folder may be reached by two ways: "/" and a drive).
    std::unordered_multimap<std::string, CTreeFileItem*> listedFolders_;
    std::set<std::string> changedFolders_;
    QTimer relistTimer_;
    bool destroying_ = false;
};
