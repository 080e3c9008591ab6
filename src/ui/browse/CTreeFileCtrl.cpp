#include "ui/browse/CTreeFileCtrl.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "transfer/CommandState.h"
#include "transfer/TimedCommand.h"
#include "ui/ModalDialog.h"
#include "ui/browse/PropertiesDlg.h"
#include "ui/icons/ImageLists.h"

// One item of the tree: what it stands for, and how far it has been read.
class CTreeFileItem : public QTreeWidgetItem {
  public:
    CTreeFileItem(CTreeFileCtrl* tree, CTreeFileCtrl::ItemKind kind, std::string path,
                  const QString& label, DriveType type)
        : QTreeWidgetItem(QStringList{label}, QTreeWidgetItem::UserType),
          kind(kind),
          driveType(type),
          path(std::move(path)),
          tree_(tree) {}
    ~CTreeFileItem() override {
        if (tree_ != nullptr) {
            tree_->itemGone(this);
        }
    }
    CTreeFileItem(const CTreeFileItem&) = delete;
    CTreeFileItem& operator=(const CTreeFileItem&) = delete;

    bool isFolderLike() const { return kind != CTreeFileCtrl::ItemKind::File; }
    // The last part of the path: what a folder's listing calls this item.
    std::string name() const {
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    const CTreeFileCtrl::ItemKind kind;
    const DriveType driveType;
    std::string path;
    std::uint32_t attributes = 0;
    bool listed = false;
    // The reading in flight (0: none), and a change seen while it was.
    std::uint64_t reading = 0;
    bool readAgain = false;

  private:
    CTreeFileCtrl* tree_;
};

// The resources of a static library are not linked unless something asks for them. Outside any
// namespace: the macro declares the resource's own function.
static void loadPlaceResources() {
    Q_INIT_RESOURCE(places);
}

struct CTreeFileCtrl::Waiter {
    CTreeFileItem* item = nullptr;
    QEventLoop loop;
    bool gone = false;
};

namespace {

using Kind = CTreeFileCtrl::ItemKind;

// A burst of changes (an unpacked archive) reads the folder once.
constexpr int kRelistDelayMs = 150;
constexpr int kDefaultReadLimitMs = 30000;

// The item's new name goes through the tree, which renames on disk; the edit itself never
// writes the label.
class RenameDelegate final : public QStyledItemDelegate {
  public:
    RenameDelegate(CTreeFileCtrl* tree) : QStyledItemDelegate(tree), tree_(tree) {}

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (line == nullptr) {
            return;
        }
        const std::string path = index.data(Qt::UserRole).toByteArray().toStdString();
        const std::string name = QFile::encodeName(line->text()).toStdString();
        // After the editor has gone: the rename may tell the person of a failure.
        QMetaObject::invokeMethod(
            tree_,
            [tree = tree_, path, name] {
                if (QTreeWidgetItem* item = tree->itemOfPath(path)) {
                    tree->finishRename(item, name);
                }
            },
            Qt::QueuedConnection);
    }

  private:
    CTreeFileCtrl* tree_;
};

QString display(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string childPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// `path` is `folder` or lies below it.
bool isWithin(const std::string& path, const std::string& folder) {
    if (folder == "/") {
        return !path.empty() && path.front() == '/';
    }
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

QIcon placeIcon(const char* name) {
    return QIcon(QStringLiteral(":/places/%1.svg").arg(QLatin1String(name)));
}

QIcon driveIcon(DriveType type) {
    switch (type) {
        case kDriveRemovable:
            return placeIcon("drive-removable");
        case kDriveCdRom:
            return placeIcon("drive-optical");
        case kDriveRamDisk:
            return placeIcon("drive-ram");
        case kDriveRemote:
            return placeIcon("network-share");
        case kDriveFixed:
            break;
    }
    return placeIcon("drive");
}

// Deletes a file, a link or a folder with everything in it, never following a link. A folder
// without the owner's write permission is made writable first, so that what is inside can go.
bool removeTree(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        setLastErrorFromCode(errno);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        if (::unlink(path.c_str()) != 0) {
            setLastErrorFromCode(errno);
            return false;
        }
        return true;
    }
    if ((status.st_mode & S_IWUSR) == 0 || (status.st_mode & S_IXUSR) == 0) {
        ::chmod(path.c_str(), (status.st_mode & 07777) | S_IRWXU);
    }
    std::vector<LocalTreeEntry> entries;
    int error = 0;
    LocalTreeFilter everything;
    everything.showFiles = true;
    everything.fileMask = "*";
    everything.hiddenMask = 0;
    if (!readLocalTreeFolder(path, everything, entries, error)) {
        setLastErrorFromCode(error);
        return false;
    }
    for (const LocalTreeEntry& entry : entries) {
        if (commandShouldEnd() || !removeTree(childPath(path, entry.name))) {
            return false;
        }
    }
    if (::rmdir(path.c_str()) != 0) {
        setLastErrorFromCode(errno);
        return false;
    }
    return true;
}

// A rename that never replaces what is already there: renameat2's no-replace flag, or, where
// the file system does not offer it, a look before the rename.
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        setLastErrorFromCode(errno);
        return false;
    }
    struct stat status {};
    if (::lstat(to.c_str(), &status) == 0) {
        setLastErrorFromCode(EEXIST);
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        setLastErrorFromCode(errno);
        return false;
    }
    return true;
}

}  // namespace

CTreeFileCtrl::CTreeFileCtrl(QWidget* parent) : QTreeWidget(parent) {
    static const bool loaded = (loadPlaceResources(), true);
    (void)loaded;
    setObjectName(QStringLiteral("folderTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setIconSize(QSize(16, 16));
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new RenameDelegate(this));
    setAllowRename(true);
    reader_ = std::make_unique<LocalTreeReader>(
        this,
        [this](std::uint64_t id, bool ok, std::vector<LocalTreeEntry> entries) {
            onListingRead(id, ok, std::move(entries));
        },
        [this](std::uint64_t id, std::vector<LocalTreeReader::DetailsItem> items, bool last) {
            onDetailsRead(id, std::move(items), last);
        });
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        CTreeFileItem* entry = asItem(item);
        if (entry != nullptr && !entry->listed && entry->reading == 0 && !entry->path.empty()) {
            startReading(entry);
        }
    });
    connect(this, &QTreeWidget::currentItemChanged, this, &CTreeFileCtrl::onCurrentItemChanged);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
            &CTreeFileCtrl::onDirectoryChanged);
    relistTimer_.setSingleShot(true);
    relistTimer_.setInterval(kRelistDelayMs);
    connect(&relistTimer_, &QTimer::timeout, this, &CTreeFileCtrl::relistChanged);
}

CTreeFileCtrl::~CTreeFileCtrl() {
    // The items go while the tables they are in still exist.
    destroying_ = true;
    reader_->cancelAll();
    const QSignalBlocker quiet(this);
    clear();
}

CTreeFileItem* CTreeFileCtrl::asItem(QTreeWidgetItem* item) {
    return item != nullptr && item->type() == QTreeWidgetItem::UserType
               ? static_cast<CTreeFileItem*>(item)
               : nullptr;
}

const CTreeFileItem* CTreeFileCtrl::asItem(const QTreeWidgetItem* item) {
    return asItem(const_cast<QTreeWidgetItem*>(item));
}

// ---- Options ----

void CTreeFileCtrl::setOptions(unsigned options) {
    setShowFiles((options & kShowFiles) != 0);
    setAllowRename((options & kAllowRename) != 0);
    setAllowOpen((options & kAllowOpen) != 0);
    setAllowProperties((options & kAllowProperties) != 0);
    setAllowDelete((options & kAllowDelete) != 0);
}

void CTreeFileCtrl::setRootFolder(const std::string& folder) {
    root_ = folder.empty() ? std::string() : withoutTrailingSlash(folder);
}

void CTreeFileCtrl::setAllowRename(bool on) {
    allowRename_ = on;
    setEditTriggers(on ? QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
                       : QAbstractItemView::NoEditTriggers);
}

void CTreeFileCtrl::setShowCompressedInColour(bool on) {
    showCompressed_ = on;
    recolour();
}

void CTreeFileCtrl::setCompressedColour(const QColor& colour) {
    compressedColour_ = colour;
    recolour();
}

void CTreeFileCtrl::setShowEncryptedInColour(bool on) {
    showEncrypted_ = on;
    recolour();
}

void CTreeFileCtrl::setEncryptedColour(const QColor& colour) {
    encryptedColour_ = colour;
    recolour();
}

// ---- Building ----

CTreeFileItem* CTreeFileCtrl::addTopItem(QTreeWidgetItem* parent, ItemKind kind,
                                         const std::string& path, const QString& label,
                                         DriveType type) {
    auto* item = new CTreeFileItem(this, kind, path, label, type);
    item->setData(0, Qt::UserRole, QByteArray::fromStdString(path));
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    setIcon(item, false);
    (parent == nullptr ? invisibleRootItem() : parent)->addChild(item);
    return item;
}

CTreeFileItem* CTreeFileCtrl::makeEntryItem(const std::string& folder,
                                            const LocalTreeEntry& entry) {
    const std::string path = childPath(folder, entry.name);
    auto* item = new CTreeFileItem(this, entry.folder ? Kind::Folder : Kind::File, path,
                                   display(entry.name), kDriveFixed);
    item->setData(0, Qt::UserRole, QByteArray::fromStdString(path));
    item->attributes = entry.attributes;
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    // Until its details say otherwise, a folder offers to open.
    item->setChildIndicatorPolicy(entry.folder ? QTreeWidgetItem::ShowIndicator
                                               : QTreeWidgetItem::DontShowIndicator);
    setIcon(item, false);
    applyColour(item);
    return item;
}

void CTreeFileCtrl::setIcon(CTreeFileItem* item, bool open) const {
    switch (item->kind) {
        case Kind::Computer:
            item->setIcon(0, placeIcon("computer"));
            return;
        case Kind::Network:
            item->setIcon(0, placeIcon("network"));
            return;
        case Kind::Server:
            item->setIcon(0, placeIcon("network-server"));
            return;
        case Kind::Share:
            item->setIcon(0, placeIcon("network-share"));
            return;
        case Kind::Drive:
            item->setIcon(0, item->path == QDir::homePath().toStdString()
                                 ? placeIcon("home")
                                 : driveIcon(item->driveType));
            return;
        case Kind::File:
            item->setIcon(0, ImageLists::instance().entryIcon(1));
            return;
        case Kind::Folder:
            break;
    }
    item->setIcon(
        0, ImageLists::instance().folderStateIcon(open ? 1 + ImageLists::kOpenFolderOffset : 1));
}

void CTreeFileCtrl::refresh() {
    const std::string selected = selectedPath();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setUpdatesEnabled(false);
    {
        const QSignalBlocker quiet(this);
        reader_->cancelAll();
        clear();
        unwatchAll();
        changedFolders_.clear();
        if (!root_.empty()) {
            CTreeFileItem* top = addTopItem(nullptr, Kind::Folder, root_, display(root_));
            startReading(top);
            top->setExpanded(true);
        } else {
            QTreeWidgetItem* drives = nullptr;
            if (showComputer_) {
                drives = addTopItem(nullptr, Kind::Computer, "", QStringLiteral("Computer"));
            }
            addComputer(drives);
            if (drives != nullptr) {
                drives->setExpanded(true);
            }
            if (showNetwork_) {
                addNetwork();
            }
        }
    }
    if (!selected.empty()) {
        selectPath(selected);
    }
    setUpdatesEnabled(true);
    QApplication::restoreOverrideCursor();
}

void CTreeFileCtrl::addComputer(QTreeWidgetItem* parent) {
    const std::vector<MountEntry> mounts = parseMounts(readWholeFile(mountTable_));
    for (const LocalDrive& drive : localDrives(mounts, QDir::homePath().toStdString())) {
        struct stat status {};
        // A bind mount of a single file (as containers have) is no drive; one that cannot be
        // looked at (another person's medium) is shown, and shows nothing inside.
        if (!isListedDriveType(drive.type) ||
            (::stat(drive.path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode))) {
            continue;
        }
        CTreeFileItem* item =
            addTopItem(parent, Kind::Drive, drive.path, display(drive.label), drive.type);
        item->setToolTip(0, display(drive.path));
    }
    if (parent != nullptr) {
        readDetailsOfChildren(asItem(parent));
    } else {
        for (int i = 0; i < topLevelItemCount(); ++i) {
            CTreeFileItem* drive = asItem(topLevelItem(i));
            const std::uint64_t id = ++nextReading_;
            readings_[id] = {drive, true};
            reader_->readDetails(id, {drive->path}, filter_);
        }
    }
}

void CTreeFileCtrl::addNetwork() {
    CTreeFileItem* network = addTopItem(nullptr, Kind::Network, "", QStringLiteral("Network"));
    if (!isListedDriveType(kDriveRemote)) {
        network->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        return;
    }
    const std::vector<MountEntry> mounts = parseMounts(readWholeFile(mountTable_));
    CTreeFileItem* server = nullptr;
    for (const NetworkShare& share : networkShares(mounts)) {
        if (server == nullptr || server->text(0) != display(share.server)) {
            if (server != nullptr) {
                readDetailsOfChildren(server);
            }
            server = addTopItem(network, Kind::Server, "", display(share.server));
        }
        CTreeFileItem* item =
            addTopItem(server, Kind::Share, share.mountPoint, display(share.label), kDriveRemote);
        item->setToolTip(0, display(share.mountPoint));
    }
    if (server != nullptr) {
        readDetailsOfChildren(server);
    }
    network->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void CTreeFileCtrl::readDetailsOfChildren(CTreeFileItem* parent) {
    std::vector<std::string> paths;
    for (int i = 0; i < parent->childCount(); ++i) {
        paths.push_back(asItem(parent->child(i))->path);
    }
    const std::uint64_t id = ++nextReading_;
    parent->reading = id;
    readings_[id] = {parent, false};
    reader_->readDetails(id, std::move(paths), filter_);
}

// ---- Reading folders ----

void CTreeFileCtrl::startReading(CTreeFileItem* item) {
    if (item->reading != 0) {
        item->readAgain = item->listed;
        return;
    }
    const std::uint64_t id = ++nextReading_;
    item->reading = id;
    readings_[id] = {item, false};
    const bool fileDetails = filter_.showFiles && (showCompressed_ || showEncrypted_);
    reader_->read(id, item->path, filter_, fileDetails);
}

void CTreeFileCtrl::onListingRead(std::uint64_t id, bool ok, std::vector<LocalTreeEntry> entries) {
    const auto found = readings_.find(id);
    if (found == readings_.end()) {
        return;
    }
    CTreeFileItem* item = found->second.item;
    const bool wasListed = item->listed;
    if (!ok) {
        // A folder that cannot be read shows nothing below it, as an empty one does.
        entries.clear();
    }
    if (wasListed) {
        mergeChildren(item, entries);
    } else {
        fillChildren(item, entries);
        item->listed = true;
        watchPath(item->path);
        listedFolders_.emplace(item->path, item);
    }
    item->setChildIndicatorPolicy(item->childCount() > 0 ? QTreeWidgetItem::ShowIndicator
                                                         : QTreeWidgetItem::DontShowIndicator);
    for (Waiter* waiter : waiters_) {
        if (waiter->item == item) {
            waiter->loop.quit();
        }
    }
    emit folderListed(display(item->path));
}

void CTreeFileCtrl::fillChildren(CTreeFileItem* item, const std::vector<LocalTreeEntry>& entries) {
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(entries.size()));
    for (const LocalTreeEntry& entry : entries) {
        children.append(makeEntryItem(item->path, entry));
    }
    // One insertion for the lot: a folder of thousands costs one update of the view.
    item->addChildren(children);
}

void CTreeFileCtrl::mergeChildren(CTreeFileItem* item, const std::vector<LocalTreeEntry>& entries) {
    // Both sides are in the listing order: walk them together, dropping what went and putting
    // what came at its place, so that the open folders and the selection below stay.
    std::unordered_map<std::string, const LocalTreeEntry*> listed;
    for (const LocalTreeEntry& entry : entries) {
        listed.emplace(entry.name, &entry);
    }
    for (int i = item->childCount() - 1; i >= 0; --i) {
        const CTreeFileItem* child = asItem(item->child(i));
        const auto now = listed.find(child->name());
        if (now == listed.end() || now->second->folder != child->isFolderLike()) {
            removeItem(item->child(i));
        }
    }
    std::unordered_map<std::string, QTreeWidgetItem*> kept;
    for (int i = 0; i < item->childCount(); ++i) {
        kept.emplace(asItem(item->child(i))->name(), item->child(i));
    }
    int at = 0;
    for (const LocalTreeEntry& entry : entries) {
        QTreeWidgetItem* here = at < item->childCount() ? item->child(at) : nullptr;
        if (here == nullptr || asItem(here)->name() != entry.name) {
            const auto elsewhere = kept.find(entry.name);
            if (elsewhere != kept.end()) {
                moveChild(item, elsewhere->second, at);
            } else {
                item->insertChild(at, makeEntryItem(item->path, entry));
            }
        }
        ++at;
    }
}

void CTreeFileCtrl::moveChild(QTreeWidgetItem* parent, QTreeWidgetItem* child, int index) {
    const int from = parent->indexOfChild(child);
    if (from < 0 || from == index) {
        return;
    }
    const bool open = child->isExpanded();
    const bool selected = child == currentItem();
    const QSignalBlocker quiet(this);
    parent->takeChild(from);
    parent->insertChild(index, child);
    child->setExpanded(open);
    if (selected) {
        setCurrentItem(child);
    }
}

void CTreeFileCtrl::onDetailsRead(std::uint64_t id, std::vector<LocalTreeReader::DetailsItem> items,
                                  bool last) {
    const auto found = readings_.find(id);
    if (found == readings_.end()) {
        return;
    }
    const Reading reading = found->second;
    CTreeFileItem* parent = reading.item;
    // Items deleted or renamed since the listing move the others: then they are found by name.
    std::unordered_map<std::string, CTreeFileItem*> byName;
    const auto named = [&](const std::string& name) -> CTreeFileItem* {
        if (byName.empty()) {
            for (int i = 0; i < parent->childCount(); ++i) {
                CTreeFileItem* child = asItem(parent->child(i));
                byName.emplace(child->name(), child);
            }
        }
        const auto it = byName.find(name);
        return it == byName.end() ? nullptr : it->second;
    };
    for (const LocalTreeReader::DetailsItem& details : items) {
        CTreeFileItem* entry = reading.ofItself ? parent : nullptr;
        if (!reading.ofItself) {
            if (details.index < static_cast<std::size_t>(parent->childCount())) {
                entry = asItem(parent->child(static_cast<int>(details.index)));
            }
            if (entry == nullptr || entry->name() != details.name) {
                entry = named(details.name);
            }
        }
        if (entry == nullptr) {
            continue;
        }
        entry->attributes |= details.details.attributes;
        applyColour(entry);
        if (entry->isFolderLike() && !entry->listed) {
            entry->setChildIndicatorPolicy(details.details.hasChildren
                                               ? QTreeWidgetItem::ShowIndicator
                                               : QTreeWidgetItem::DontShowIndicator);
        }
    }
    if (!last) {
        return;
    }
    readings_.erase(found);
    reader_->cancel(id);
    if (reading.ofItself) {
        emit detailsRead();
        return;
    }
    parent->reading = 0;
    if (parent->readAgain) {
        parent->readAgain = false;
        startReading(parent);
    }
    emit detailsRead();
}

bool CTreeFileCtrl::waitForListing(CTreeFileItem* item, bool& gone) {
    gone = false;
    if (item->listed) {
        return true;
    }
    if (item->path.empty()) {
        return false;
    }
    startReading(item);
    Waiter waiter;
    waiter.item = item;
    waiters_.push_back(&waiter);
    QTimer limit;
    limit.setSingleShot(true);
    const int limitMs = readLimitMs_ > 0 ? readLimitMs_
                        : commandLimitSeconds() > 0u
                            ? static_cast<int>(commandLimitSeconds()) * 1000
                            : kDefaultReadLimitMs;
    connect(&limit, &QTimer::timeout, &waiter.loop, &QEventLoop::quit);
    limit.start(limitMs);
    // The person's clicks and keys wait; timers, repaints and the readers' results go on.
    if (!item->listed) {
        waiter.loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &waiter));
    gone = waiter.gone;
    return !gone && item->listed;
}

QTreeWidgetItem* CTreeFileCtrl::childNamed(const QTreeWidgetItem* parent,
                                           const std::string& name) const {
    for (int i = 0; i < parent->childCount(); ++i) {
        const CTreeFileItem* child = asItem(parent->child(i));
        if (child != nullptr && child->name() == name) {
            return parent->child(i);
        }
    }
    return nullptr;
}

// ---- Paths and selection ----

std::string CTreeFileCtrl::itemPath(const QTreeWidgetItem* item) const {
    const CTreeFileItem* entry = asItem(item);
    return entry == nullptr ? std::string() : entry->path;
}

std::string CTreeFileCtrl::selectedPath() const {
    return itemPath(currentItem());
}

QTreeWidgetItem* CTreeFileCtrl::itemOfPath(const std::string& path) const {
    std::vector<const QTreeWidgetItem*> pending{invisibleRootItem()};
    while (!pending.empty()) {
        const QTreeWidgetItem* item = pending.back();
        pending.pop_back();
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem* child = item->child(i);
            const CTreeFileItem* entry = asItem(child);
            if (entry != nullptr && entry->path == path) {
                return child;
            }
            // Only the folders on the way down can hold it.
            if (entry != nullptr &&
                (entry->path.empty() || (isWithin(path, entry->path) && entry->listed))) {
                pending.push_back(child);
            }
        }
    }
    return nullptr;
}

bool CTreeFileCtrl::selectPath(const std::string& path) {
    const std::string target = withoutTrailingSlash(path);
    // The deepest item already made whose folder holds the path: a drive, a share, the root.
    CTreeFileItem* best = nullptr;
    std::vector<QTreeWidgetItem*> tops{invisibleRootItem()};
    while (!tops.empty()) {
        QTreeWidgetItem* parent = tops.back();
        tops.pop_back();
        for (int i = 0; i < parent->childCount(); ++i) {
            CTreeFileItem* child = asItem(parent->child(i));
            if (child == nullptr) {
                continue;
            }
            if (child->path.empty()) {
                tops.push_back(child);
            } else if (isWithin(target, child->path) &&
                       (best == nullptr || child->path.size() > best->path.size())) {
                best = child;
            }
        }
    }
    if (target.empty() || best == nullptr) {
        setCurrentItem(nullptr);
        return false;
    }
    CTreeFileItem* current = best;
    bool gone = false;
    while (current->path != target) {
        if (!waitForListing(current, gone)) {
            break;
        }
        const std::size_t start = current->path == "/" ? 1 : current->path.size() + 1;
        const std::string name = target.substr(start, target.find('/', start) - start);
        CTreeFileItem* next = asItem(childNamed(current, name));
        if (next == nullptr) {
            break;
        }
        current = next;
    }
    // A folder on the way that went while it was read leaves the selection where it was.
    if (gone) {
        return false;
    }
    QTreeWidgetItem* reached = current;
    for (QTreeWidgetItem* above = reached->parent(); above != nullptr; above = above->parent()) {
        above->setExpanded(true);
    }
    setCurrentItem(reached);
    scrollToItem(reached);
    return itemPath(reached) == target;
}

void CTreeFileCtrl::onCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (CTreeFileItem* left = asItem(previous)) {
        setIcon(left, false);
    }
    if (CTreeFileItem* entered = asItem(current)) {
        setIcon(entered, true);
    }
    emit selectedPathChanged();
}

// ---- Predicates ----

CTreeFileCtrl::ItemKind CTreeFileCtrl::kindOf(const QTreeWidgetItem* item) const {
    const CTreeFileItem* entry = asItem(item);
    return entry == nullptr ? Kind::Computer : entry->kind;
}

bool CTreeFileCtrl::isDrive(const QTreeWidgetItem* item) const {
    return asItem(item) != nullptr && kindOf(item) == Kind::Drive;
}

bool CTreeFileCtrl::isNetworkItem(const QTreeWidgetItem* item) const {
    const Kind kind = kindOf(item);
    return asItem(item) != nullptr &&
           (kind == Kind::Network || kind == Kind::Server || kind == Kind::Share);
}

bool CTreeFileCtrl::isCompressed(const QTreeWidgetItem* item) const {
    const CTreeFileItem* entry = asItem(item);
    return entry != nullptr && (entry->attributes & kAttributeCompressed) != 0;
}

bool CTreeFileCtrl::isEncrypted(const QTreeWidgetItem* item) const {
    const CTreeFileItem* entry = asItem(item);
    return entry != nullptr && (entry->attributes & kAttributeEncrypted) != 0;
}

bool CTreeFileCtrl::hasSubFolders(const std::string& path) const {
    return readLocalTreeDetails(path, true, filter_).hasChildren;
}

void CTreeFileCtrl::setItemAttributes(QTreeWidgetItem* item, std::uint32_t attributes) {
    if (CTreeFileItem* entry = asItem(item)) {
        entry->attributes = attributes;
        applyColour(entry);
    }
}

void CTreeFileCtrl::applyColour(CTreeFileItem* item) const {
    // The foreground is the colour of an item that is not selected; a selected one is drawn in
    // the highlight's colours.
    if (showCompressed_ && (item->attributes & kAttributeCompressed) != 0) {
        item->setForeground(0, compressedColour_);
    } else if (showEncrypted_ && (item->attributes & kAttributeEncrypted) != 0) {
        item->setForeground(0, encryptedColour_);
    } else if (item->data(0, Qt::ForegroundRole).isValid()) {
        item->setData(0, Qt::ForegroundRole, QVariant());
    }
}

void CTreeFileCtrl::recolour() {
    std::vector<QTreeWidgetItem*> pending{invisibleRootItem()};
    while (!pending.empty()) {
        QTreeWidgetItem* item = pending.back();
        pending.pop_back();
        for (int i = 0; i < item->childCount(); ++i) {
            pending.push_back(item->child(i));
            applyColour(asItem(item->child(i)));
        }
    }
}

// ---- Commands ----

bool CTreeFileCtrl::canOpen(const QTreeWidgetItem* item) const {
    return allowOpen_ && !itemPath(item).empty();
}

bool CTreeFileCtrl::canShowProperties(const QTreeWidgetItem* item) const {
    return allowProperties_ && !itemPath(item).empty();
}

bool CTreeFileCtrl::canRename(const QTreeWidgetItem* item) const {
    const Kind kind = kindOf(item);
    return allowRename_ && asItem(item) != nullptr && item->parent() != nullptr &&
           (kind == Kind::Folder || kind == Kind::File);
}

bool CTreeFileCtrl::canDelete(const QTreeWidgetItem* item) const {
    const Kind kind = kindOf(item);
    return allowDelete_ && asItem(item) != nullptr && item->parent() != nullptr &&
           (kind == Kind::Folder || kind == Kind::File);
}

bool CTreeFileCtrl::mayRename(const std::string&) {
    return true;
}

bool CTreeFileCtrl::beforeDelete(const std::string&) {
    return true;
}

void CTreeFileCtrl::afterDelete(const std::string&) {}

bool CTreeFileCtrl::openItem(QTreeWidgetItem* item) {
    if (!canOpen(item)) {
        return false;
    }
    const std::string path = itemPath(item);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(display(path)))) {
        reportError("CTreeFileCtrl::OnOpen", "Could not open: " + path, false);
        return false;
    }
    return true;
}

bool CTreeFileCtrl::showProperties(QTreeWidgetItem* item) {
    if (!canShowProperties(item)) {
        return false;
    }
    PropertiesDlg dialog(itemPath(item), this);
    runModal(dialog);
    return true;
}

bool CTreeFileCtrl::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    QTreeWidgetItem* item = itemFromIndex(index);
    if (!canRename(item) || !mayRename(itemPath(item))) {
        return false;
    }
    return QTreeWidget::edit(index, trigger, event);
}

bool CTreeFileCtrl::beginRename(QTreeWidgetItem* item) {
    if (item == nullptr || !canRename(item)) {
        return false;
    }
    setCurrentItem(item);
    editItem(item, 0);
    return state() == QAbstractItemView::EditingState;
}

bool CTreeFileCtrl::finishRename(QTreeWidgetItem* item, const std::string& name) {
    CTreeFileItem* entry = asItem(item);
    if (entry == nullptr || !canRename(item) || name.empty() || name == entry->name()) {
        return false;
    }
    const std::string oldPath = entry->path;
    const std::string newPath = childPath(parentOf(oldPath), name);
    bool done = false;
    if (name == "." || name == ".." || name.find('/') != std::string::npos) {
        // A "/" would move it into another folder instead of renaming it.
        setLastErrorFromCode(EINVAL);
    } else {
        done = renameWithoutReplacing(oldPath, newPath);
    }
    if (!done) {
        reportError("CTreeFileCtrl::OnRename", "Failed to rename: " + oldPath, true);
        return false;
    }
    item->setText(0, display(name));
    movePaths(entry, oldPath, newPath);
    // The new name takes its place in the folder's order, as the next listing has it.
    if (QTreeWidgetItem* parent = item->parent()) {
        LocalTreeEntry renamed{name, entry->isFolderLike(), 0};
        int index = 0;
        for (int i = 0; i < parent->childCount(); ++i) {
            const CTreeFileItem* sibling = asItem(parent->child(i));
            if (sibling != entry &&
                localTreeOrder({sibling->name(), sibling->isFolderLike(), 0}, renamed)) {
                ++index;
            }
        }
        moveChild(parent, item, index);
    }
    if (item == currentItem()) {
        emit selectedPathChanged();
    }
    return true;
}

void CTreeFileCtrl::movePaths(CTreeFileItem* item, const std::string& oldPath,
                              const std::string& newPath) {
    std::vector<CTreeFileItem*> pending{item};
    while (!pending.empty()) {
        CTreeFileItem* at = pending.back();
        pending.pop_back();
        const std::string moved = newPath + at->path.substr(oldPath.size());
        if (at->listed) {
            unwatchPath(at->path);
            for (auto [it, end] = listedFolders_.equal_range(at->path); it != end; ++it) {
                if (it->second == at) {
                    listedFolders_.erase(it);
                    break;
                }
            }
            watchPath(moved);
            listedFolders_.emplace(moved, at);
        }
        at->path = moved;
        at->setData(0, Qt::UserRole, QByteArray::fromStdString(moved));
        for (int i = 0; i < at->childCount(); ++i) {
            pending.push_back(asItem(at->child(i)));
        }
    }
}

bool CTreeFileCtrl::deleteItem(QTreeWidgetItem* item, bool permanently) {
    CTreeFileItem* entry = asItem(item);
    if (entry == nullptr || !canDelete(item)) {
        return false;
    }
    const std::string path = entry->path;
    if (!beforeDelete(path)) {
        return false;
    }
    const bool folder = entry->kind == Kind::Folder;
    const std::string question =
        permanently ? (folder ? "Are you sure you want to permanently delete the folder \"" + path +
                                    "\" and all of its contents?"
                              : "Are you sure you want to permanently delete \"" + path + "\"?")
                    : (folder ? "Are you sure you want to move the folder \"" + path +
                                    "\" and all of its contents to the trash?"
                              : "Are you sure you want to move \"" + path + "\" to the trash?");
    if (!prompter().askYesNo(question)) {
        return false;
    }
    auto command = std::make_shared<TimedCommand>();
    command->firstPath = path;
    bool done = false;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        done = runLocalCommand(command, [permanently](TimedCommand& record) {
            if (permanently) {
                return removeTree(record.firstPath);
            }
            // The trash lives in the data folder, which a new account may not have yet; Qt
            // makes the trash itself but not the folder that holds it.
            QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
            QFile file(display(record.firstPath));
            if (!file.moveToTrash()) {
                setLastError(file.errorString().toStdString());
                return false;
            }
            return true;
        });
        QApplication::restoreOverrideCursor();
    }
    if (!done) {
        reportError("CTreeFileCtrl::OnDelete", "Could not delete: " + path, true);
        // Whatever part went, the folder is shown as it now is.
        if (QTreeWidgetItem* parent = itemOfPath(parentOf(path))) {
            relist(asItem(parent));
        }
        afterDelete(path);
        return false;
    }
    // The person may have done other things while it ran: the item is looked up again.
    if (QTreeWidgetItem* gone = itemOfPath(path)) {
        removeItem(gone);
    }
    afterDelete(path);
    return true;
}

void CTreeFileCtrl::removeItem(QTreeWidgetItem* item) {
    QTreeWidgetItem* parent = item->parent();
    for (QTreeWidgetItem* at = currentItem(); at != nullptr; at = at->parent()) {
        if (at == item) {
            setCurrentItem(parent);
            break;
        }
    }
    delete item;
    if (parent != nullptr && parent->childCount() == 0) {
        parent->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    }
}

void CTreeFileCtrl::OnOpen() {
    openItem(currentItem());
}

void CTreeFileCtrl::OnRename() {
    beginRename(currentItem());
}

void CTreeFileCtrl::OnDelete() {
    deleteItem(currentItem(), QGuiApplication::keyboardModifiers().testFlag(Qt::ShiftModifier));
}

void CTreeFileCtrl::OnProperties() {
    showProperties(currentItem());
}

std::unique_ptr<QMenu> CTreeFileCtrl::createContextMenu(QTreeWidgetItem* item) {
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("treeContextMenu"));
    const struct {
        const char* text;
        const char* name;
        bool enabled;
        void (CTreeFileCtrl::*command)();
    } commands[] = {
        {"&Open", "openAction", canOpen(item), &CTreeFileCtrl::OnOpen},
        {"&Rename", "renameAction", canRename(item), &CTreeFileCtrl::OnRename},
        {"&Delete", "deleteAction", canDelete(item), &CTreeFileCtrl::OnDelete},
        {"&Properties", "propertiesAction", canShowProperties(item), &CTreeFileCtrl::OnProperties},
    };
    for (const auto& command : commands) {
        QAction* action = menu->addAction(QString::fromLatin1(command.text));
        action->setObjectName(QLatin1String(command.name));
        action->setEnabled(command.enabled);
        connect(action, &QAction::triggered, this, command.command);
    }
    return menu;
}

void CTreeFileCtrl::contextMenuEvent(QContextMenuEvent* event) {
    if (!contextMenu_) {
        return;
    }
    QTreeWidgetItem* item =
        event->reason() == QContextMenuEvent::Mouse ? itemAt(event->pos()) : currentItem();
    if (item == nullptr) {
        return;
    }
    setCurrentItem(item);
    createContextMenu(item)->exec(event->globalPos());
}

void CTreeFileCtrl::keyPressEvent(QKeyEvent* event) {
    if (state() != QAbstractItemView::EditingState) {
        if (event->key() == Qt::Key_Delete) {
            deleteItem(currentItem(), event->modifiers().testFlag(Qt::ShiftModifier));
            return;
        }
        if (event->key() == Qt::Key_F2) {
            beginRename(currentItem());
            return;
        }
    }
    QTreeWidget::keyPressEvent(event);
}

void CTreeFileCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->pos());
    if (kindOf(item) == Kind::File && asItem(item) != nullptr && canOpen(item)) {
        openItem(item);
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

// ---- Watching ----

void CTreeFileCtrl::watchPath(const std::string& path) {
    if (watchCounts_[path]++ == 0) {
        watcher_.addPath(display(path));
    }
}

void CTreeFileCtrl::unwatchPath(const std::string& path) {
    const auto found = watchCounts_.find(path);
    if (found == watchCounts_.end()) {
        return;
    }
    if (--found->second <= 0) {
        watchCounts_.erase(found);
        watcher_.removePath(display(path));
    }
}

void CTreeFileCtrl::unwatchAll() {
    const QStringList paths = watcher_.directories() + watcher_.files();
    if (!paths.isEmpty()) {
        watcher_.removePaths(paths);
    }
    watchCounts_.clear();
}

std::vector<std::string> CTreeFileCtrl::watchedPaths() const {
    std::vector<std::string> paths;
    for (const QString& path : watcher_.directories()) {
        paths.push_back(QFile::encodeName(path).toStdString());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

void CTreeFileCtrl::onDirectoryChanged(const QString& path) {
    changedFolders_.insert(QFile::encodeName(path).toStdString());
    relistTimer_.start();
}

void CTreeFileCtrl::relistChanged() {
    const std::set<std::string> changed = std::exchange(changedFolders_, {});
    for (const std::string& path : changed) {
        std::vector<CTreeFileItem*> items;
        for (auto [it, end] = listedFolders_.equal_range(path); it != end; ++it) {
            items.push_back(it->second);
        }
        for (CTreeFileItem* item : items) {
            relist(item);
        }
    }
}

void CTreeFileCtrl::relist(CTreeFileItem* item) {
    if (item != nullptr && item->listed) {
        startReading(item);
    }
}

void CTreeFileCtrl::itemGone(CTreeFileItem* item) {
    for (auto it = readings_.begin(); it != readings_.end();) {
        if (it->second.item == item) {
            reader_->cancel(it->first);
            it = readings_.erase(it);
        } else {
            ++it;
        }
    }
    for (Waiter* waiter : waiters_) {
        if (waiter->item == item) {
            waiter->gone = true;
            waiter->item = nullptr;
            waiter->loop.quit();
        }
    }
    if (!item->listed) {
        return;
    }
    for (auto [it, end] = listedFolders_.equal_range(item->path); it != end; ++it) {
        if (it->second == item) {
            listedFolders_.erase(it);
            break;
        }
    }
    if (!destroying_) {
        unwatchPath(item->path);
    }
}
