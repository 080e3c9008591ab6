#include "ui/browse/FolderBrowseCtrl.h"

#include <QSignalBlocker>

#include "ui/browse/BrowseListener.h"
#include "ui/browse/FileBrowseCtrl.h"
#include "ui/icons/ImageLists.h"

namespace {

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           comparePathsIgnoringCase(std::string_view(text).substr(0, prefix.size()), prefix) == 0;
}

QString labelOf(const FileEntry& folder) {
    return QString::fromStdString(folder.name.empty() ? folder.fullPath() : folder.name);
}

}  // namespace

FolderBrowseCtrl::FolderBrowseCtrl(BrowseListener& listener, bool showActions, QWidget* parent)
    : QTreeWidget(parent), listener_(listener), showActions_(showActions) {
    setObjectName(QStringLiteral("folderTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!filling_) {
            insertChildren(item);
        }
    });
    connect(this, &QTreeWidget::currentItemChanged, this, &FolderBrowseCtrl::onSelectionChanged);
}

FolderBrowseCtrl::~FolderBrowseCtrl() = default;

std::string FolderBrowseCtrl::pathOf(const FileEntry& folder) const {
    return FileBrowseCtrl::listingPathOf(folder);
}

int FolderBrowseCtrl::stateOf(const QTreeWidgetItem* item) {
    return item == nullptr ? 0 : item->data(0, kStateRole).toInt();
}

void FolderBrowseCtrl::setState(QTreeWidgetItem* item, int state) {
    item->setData(0, kStateRole, state);
    item->setIcon(0, ImageLists::instance().folderStateIcon(state));
}

FileEntryPtr FolderBrowseCtrl::entryOf(QTreeWidgetItem* item) const {
    const auto found = entries_.find(item);
    return found == entries_.end() ? nullptr : found->second;
}

FileEntryPtr FolderBrowseCtrl::selectedFolder() const {
    return entryOf(currentItem());
}

void FolderBrowseCtrl::initialise(const std::string& startFolder, const std::string& rootFolder) {
    root_ = rootFolder;
    filling_ = true;
    {
        const QSignalBlocker quiet(this);
        clear();
    }
    entries_.clear();
    listed_.clear();
    const FileEntryPtr root = FileBrowseCtrl::folderEntryFor(rootFolder, usesSlashes());
    if (!root->fullPath().empty()) {
        QTreeWidgetItem* top = addItem(nullptr, root, QString::fromStdString(root->fullPath()));
        setState(top, 1);
    } else {
        entries_[invisibleRootItem()] = root;
        insertChildren(invisibleRootItem());
    }
    filling_ = false;
    selectFolder(FileBrowseCtrl::folderEntryFor(startFolder, usesSlashes()));
}

QTreeWidgetItem* FolderBrowseCtrl::addItem(QTreeWidgetItem* parent, const FileEntryPtr& folder,
                                           const QString& label) {
    auto* item = new QTreeWidgetItem(QStringList{label});
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    (parent == nullptr ? invisibleRootItem() : parent)->addChild(item);
    entries_[item] = folder;
    setState(item, showActions_ ? ImageLists::folderStateIndex(*folder) : 1);
    return item;
}

void FolderBrowseCtrl::insertChildren(QTreeWidgetItem* item) {
    if (listed_[item]) {
        return;
    }
    const FileEntryPtr folder = entryOf(item);
    if (!folder) {
        return;
    }
    std::vector<FileEntryPtr> listing;
    if (!directoryListing(folder, listing)) {
        return;  // reported; the item can be opened again later
    }
    listed_[item] = true;
    for (const FileEntryPtr& entry : listing) {
        if (entry->isFolder()) {
            addItem(item, entry, labelOf(*entry));
        }
    }
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* FolderBrowseCtrl::itemOf(const std::string& path) const {
    for (const auto& [item, entry] : entries_) {
        if (item != invisibleRootItem() && comparePathsIgnoringCase(pathOf(*entry), path) == 0) {
            return const_cast<QTreeWidgetItem*>(item);
        }
    }
    return nullptr;
}

bool FolderBrowseCtrl::selectFolder(const FileEntryPtr& folder) {
    const std::string target = pathOf(*folder);
    QTreeWidgetItem* parent = invisibleRootItem();
    QTreeWidgetItem* found = nullptr;
    bool exact = false;
    while (!exact) {
        if (parent != invisibleRootItem() || entries_.contains(parent)) {
            insertChildren(parent);
        }
        QTreeWidgetItem* next = nullptr;
        std::size_t matched = 0;
        for (int i = 0; i < parent->childCount(); ++i) {
            QTreeWidgetItem* child = parent->child(i);
            const std::string path = pathOf(*entryOf(child));
            if (path.size() > matched && startsWithIgnoringCase(target, path)) {
                next = child;
                matched = path.size();
            }
        }
        if (next == nullptr) {
            break;
        }
        found = next;
        parent = next;
        exact = matched == target.size();
    }
    if (found == nullptr) {
        setCurrentItem(nullptr);
        return target.empty();
    }
    for (QTreeWidgetItem* above = found->parent(); above != nullptr; above = above->parent()) {
        filling_ = true;
        above->setExpanded(true);
        filling_ = false;
    }
    // The folder shown opens too, so that the tree offers what lies below it.
    filling_ = true;
    insertChildren(found);
    found->setExpanded(true);
    filling_ = false;
    setCurrentItem(found);
    scrollToItem(found);
    return exact;
}

void FolderBrowseCtrl::onSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    const int left = stateOf(previous);
    if (previous != nullptr && left > ImageLists::kOpenFolderOffset) {
        setState(previous, left - ImageLists::kOpenFolderOffset);
    }
    const int entered = stateOf(current);
    if (current != nullptr && entered >= 1 && entered <= ImageLists::kOpenFolderOffset) {
        setState(current, entered + ImageLists::kOpenFolderOffset);
    }
    emit folderSelected();
}

void FolderBrowseCtrl::forget(QTreeWidgetItem* item, bool self) {
    for (int i = 0; i < item->childCount(); ++i) {
        forget(item->child(i), true);
    }
    if (self) {
        entries_.erase(item);
        listed_.erase(item);
    }
}

void FolderBrowseCtrl::removeFolder(const FileEntryPtr& folder) {
    QTreeWidgetItem* item = itemOf(pathOf(*folder));
    if (item == nullptr) {
        return;
    }
    // The selection moves off first, so that no signal speaks of an item half destroyed.
    for (QTreeWidgetItem* at = currentItem(); at != nullptr; at = at->parent()) {
        if (at == item) {
            setCurrentItem(item->parent());
            break;
        }
    }
    forget(item, true);
    delete item;
}

void FolderBrowseCtrl::addFolder(const FileEntryPtr& folder) {
    QTreeWidgetItem* parent = itemOf(folder->folder);
    if (parent == nullptr && folder->folder.empty()) {
        parent = invisibleRootItem();
    }
    if (parent == nullptr) {
        return;
    }
    if (!listed_[parent]) {
        // Listed when it is opened, the new folder with the rest.
        parent->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        return;
    }
    if (itemOf(pathOf(*folder)) == nullptr) {
        addItem(parent == invisibleRootItem() ? nullptr : parent, folder, labelOf(*folder));
    }
}

void FolderBrowseCtrl::renameFolder(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) {
    QTreeWidgetItem* item = itemOf(pathOf(*oldFolder));
    if (item == nullptr) {
        return;
    }
    // Everything below has a new path now: it is listed again when next opened.
    forget(item, false);
    qDeleteAll(item->takeChildren());
    listed_[item] = false;
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    entries_[item] = newFolder;
    item->setText(0, labelOf(*newFolder));
}
