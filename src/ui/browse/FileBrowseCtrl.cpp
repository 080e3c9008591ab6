#include "ui/browse/FileBrowseCtrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "common/ErrorReport.h"
#include "engine/ConfirmDelete.h"
#include "ui/browse/BrowseListener.h"
#include "ui/browse/BrowseOrder.h"
#include "ui/browse/BrowseSettings.h"
#include "ui/browse/FileListModel.h"
#include "ui/icons/ImageLists.h"

namespace {

constexpr int kKeySelectionDelayMs = 50;
constexpr int kNameWidth = 170;
constexpr int kBytesWidth = 80;
constexpr int kModifiedWidth = 120;
// The two image sizes of the lists: both drawn from the same scalable icons.
constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;

FileEntry sampleDatedEntry() {
    FileEntry entry;
    entry.date.set(28, 12, 2028);
    entry.time.set(20, 58, 58);
    return entry;
}

BrowseSortKey keyOfColumn(int column) {
    switch (column) {
        case FileListModel::BytesColumn:
            return BrowseSortKey::Size;
        case FileListModel::ModifiedColumn:
            return BrowseSortKey::Time;
        default:
            return BrowseSortKey::Name;
    }
}

int columnOfKey(BrowseSortKey key) {
    switch (key) {
        case BrowseSortKey::Size:
            return FileListModel::BytesColumn;
        case BrowseSortKey::Time:
            return FileListModel::ModifiedColumn;
        case BrowseSortKey::Name:
            break;
    }
    return FileListModel::NameColumn;
}

}  // namespace

FileBrowseCtrl::FileBrowseCtrl(std::vector<FileEntryPtr>& selection, BrowseListener& listener,
                               bool showActions, QWidget* parent)
    : QWidget(parent),
      selection_(selection),
      listener_(listener),
      showActions_(showActions),
      current_(folderEntryFor("", false)),
      model_(new FileListModel(this)),
      stack_(new QStackedWidget(this)),
      iconView_(new QListView(stack_)),
      reportView_(new QTreeView(stack_)) {
    iconView_->setObjectName(QStringLiteral("fileIconView"));
    reportView_->setObjectName(QStringLiteral("fileReportView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack_);
    stack_->addWidget(iconView_);
    stack_->addWidget(reportView_);

    // One model and one selection for both views, so that a change of style keeps both.
    iconView_->setModel(model_);
    reportView_->setModel(model_);
    QItemSelectionModel* spare = reportView_->selectionModel();
    reportView_->setSelectionModel(iconView_->selectionModel());
    delete spare;

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(iconView_),
                                    static_cast<QAbstractItemView*>(reportView_)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
            if (index.isValid()) {
                changeDirToItem(index.row());
            }
        });
    }
    iconView_->setMovement(QListView::Static);
    iconView_->setResizeMode(QListView::Adjust);
    iconView_->setLayoutMode(QListView::Batched);
    iconView_->setBatchSize(500);
    iconView_->setModelColumn(FileListModel::NameColumn);

    reportView_->setRootIsDecorated(false);
    reportView_->setItemsExpandable(false);
    reportView_->setUniformRowHeights(true);
    reportView_->setAllColumnsShowFocus(true);
    QHeaderView* header = reportView_->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setStretchLastSection(false);
    header->resizeSection(FileListModel::NameColumn, kNameWidth);
    header->resizeSection(FileListModel::BytesColumn, kBytesWidth);
    // At least wide enough for a whole date and time in the font in use.
    const int dateWidth = reportView_->fontMetrics().horizontalAdvance(
                              FileListModel::formatModified(sampleDatedEntry(), true)) +
                          2 * reportView_->style()->pixelMetric(QStyle::PM_HeaderMargin) + 8;
    header->resizeSection(FileListModel::ModifiedColumn, std::max(kModifiedWidth, dateWidth));
    connect(header, &QHeaderView::sectionClicked, this, &FileBrowseCtrl::sortByColumn);

    connect(iconView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FileBrowseCtrl::onSelectionChanged);
    keyTimer_.setSingleShot(true);
    keyTimer_.setInterval(kKeySelectionDelayMs);
    connect(&keyTimer_, &QTimer::timeout, this, [this] {
        arrowKeyPending_ = false;
        rewriteSelection();
    });
    model_->onRenameEdited = [this](int row, const std::string& name) { finishRename(row, name); };
    applyStyle();
}

FileBrowseCtrl::~FileBrowseCtrl() = default;

// ---- Paths ----

FileEntryPtr FileBrowseCtrl::folderEntryFor(const std::string& path, bool remote) {
    FileEntryPtr folder = FileEntry::fromPath(path);
    folder->kind = EntryKind::Folder;
    folder->remote = remote;
    return folder;
}

FileEntryPtr FileBrowseCtrl::parentFolderOf(const FileEntry& folder) {
    const std::string full = folder.fullPath();
    if (full.empty() || full == "/") {
        return folderEntryFor("", folder.remote);
    }
    return folderEntryFor(folder.folder, folder.remote);
}

std::string FileBrowseCtrl::listingPathOf(const FileEntry& folder) {
    return folder.fullPath().empty() ? std::string() : folder.childFolderPath();
}

// ---- Operations every list has ----

void FileBrowseCtrl::initialise() {
    // Both image sizes come from the same scalable icons; the style picks the size.
    const bool wasQuiet = std::exchange(quiet_, true);
    setViewStyle(static_cast<int>(storedBrowseStyle()));
    quiet_ = wasQuiet;
}

bool FileBrowseCtrl::setDirectory(const std::string& path) {
    selection_.assign(1, folderEntryFor(path, true));
    return changeDirectory();
}

bool FileBrowseCtrl::showFolder(const FileEntryPtr& folder) {
    selection_.assign(1, folder);
    const bool wasQuiet = std::exchange(quiet_, true);
    const bool changed = changeDirectory();
    quiet_ = wasQuiet;
    return changed;
}

void FileBrowseCtrl::setViewStyle(int style) {
    if (style < LargeIcons || style > List) {
        style = List;
    }
    style_ = style;
    applyStyle();
    storeBrowseStyle(static_cast<std::uint32_t>(style));
    if (!quiet_) {
        listener_.directoryChanged();
    }
}

void FileBrowseCtrl::applyStyle() {
    if (style_ == Report) {
        stack_->setCurrentWidget(reportView_);
        return;
    }
    const bool large = style_ == LargeIcons;
    iconView_->setViewMode(large ? QListView::IconMode : QListView::ListMode);
    iconView_->setIconSize(large ? QSize(kLargeIcon, kLargeIcon) : QSize(kSmallIcon, kSmallIcon));
    // Small icons run along the rows, the list down the columns.
    iconView_->setFlow(style_ == List ? QListView::TopToBottom : QListView::LeftToRight);
    iconView_->setWrapping(true);
    iconView_->setWordWrap(large);
    iconView_->setGridSize(large ? QSize(96, 64) : QSize());
    iconView_->setSpacing(large ? 0 : 2);
    iconView_->setTextElideMode(Qt::ElideRight);
    iconView_->setMovement(QListView::Static);
    stack_->setCurrentWidget(iconView_);
}

bool FileBrowseCtrl::canGoUp() const {
    return !current_->folder.empty() && current_->fullPath() != "/";
}

void FileBrowseCtrl::beginRename() {
    if (selection_.empty()) {
        return;
    }
    const int row = rowOf(selection_.front());
    if (row >= 0) {
        currentView()->edit(model_->index(row, FileListModel::NameColumn));
    }
}

void FileBrowseCtrl::fillList() {
    selection_.clear();
    std::vector<FileEntryPtr> rows;
    std::vector<int> images;
    rows.reserve(listing_.size());
    images.reserve(listing_.size());
    for (const FileEntryPtr& entry : listing_) {
        if (entry->kind == EntryKind::Up) {
            continue;
        }
        rows.push_back(entry);
        images.push_back(ImageLists::entryImageIndex(*entry, showActions_));
    }
    model_->setRows(std::move(rows), std::move(images));
    if (!quiet_) {
        listener_.directoryChanged();
    }
}

void FileBrowseCtrl::updateRowImages() {
    const std::vector<FileEntryPtr>& rows = model_->entries();
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const int image =
            ImageLists::entryImageIndex(*rows[static_cast<size_t>(row)], showActions_);
        if (image != model_->imageAt(row)) {
            model_->setImage(row, image);
        }
    }
}

void FileBrowseCtrl::showListing(const FileEntryPtr& folder, std::vector<FileEntryPtr> entries,
                                 bool announce) {
    sortBrowseListing(entries);
    listing_ = std::move(entries);
    current_ = folder;
    if (announce) {
        listener_.currentPathChanged(listingPathOf(*folder));
    }
    fillList();
}

bool FileBrowseCtrl::nameInUse(const std::string& name) const {
    return std::any_of(listing_.begin(), listing_.end(),
                       [&name](const FileEntryPtr& entry) { return entry->name == name; });
}

void FileBrowseCtrl::report(const char* context, const std::string& message, bool withReason) {
    reportError(context, message, withReason);
}

bool FileBrowseCtrl::deleteEach(
    const char* context,
    const std::function<Next(const FileEntryPtr& entry, Activity& activity)>& deleteOne) {
    stopRequested = false;
    bool completed = true;
    const std::vector<FileEntryPtr> chosen = selection_;
    {
        Activity activity(*this, "");
        for (const FileEntryPtr& entry : chosen) {
            if (entry->kind == EntryKind::Up) {
                report(context, "Cannot delete the up directory", false);
                continue;
            }
            if (deleteOne(entry, activity) == Next::End) {
                completed = false;
                break;
            }
        }
    }
    stopRequested = false;
    selection_.clear();
    refresh();
    return completed;
}

int FileBrowseCtrl::askAbout(const std::string& caption, const std::string& question,
                             ConfirmationFlags& answers) {
    constexpr std::size_t kQuestionWidth = 120;
    const auto lines = splitConfirmText(question, kQuestionWidth);
    return askToDelete(caption, lines[0], lines[1], lines[2], lines[3], answers);
}

bool FileBrowseCtrl::completeRename(const char* context, const FileEntryPtr& old,
                                    const FileEntryPtr& renamed, int row, bool done) {
    if (!done) {
        report(context, "Failed to rename: " + old->fullPath(), true);
        return false;
    }
    model_->setRowName(row, renamed);
    if (old->isFolder()) {
        listener_.folderRenamed(old, renamed);
    }
    refresh();
    return true;
}

void FileBrowseCtrl::reportStopped(const char* context, const std::string& path) {
    setLastError("Stopped by the user");
    report(context, "Could not delete folder: " + path, true);
}

void FileBrowseCtrl::setRenamable(bool on) {
    model_->setRenamable(on);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(iconView_),
                                    static_cast<QAbstractItemView*>(reportView_)}) {
        view->setEditTriggers(on ? QAbstractItemView::SelectedClicked
                                 : QAbstractItemView::NoEditTriggers);
    }
}

// ---- What the person does ----

void FileBrowseCtrl::changeDirToItem(int row) {
    const FileEntryPtr entry = entryAtRow(row);
    if (!entry || busy()) {
        return;
    }
    constexpr const char* kContext = "FileBrowseCtrl::changeDirToItem";
    if (entry->kind != EntryKind::Folder) {
        report(kContext, "Please double click a folder to browse it", false);
        return;
    }
    if (selection_.empty() || selection_.front() != entry) {
        report(kContext, "Invalid Selection", false);
        return;
    }
    changeDirectory();
}

void FileBrowseCtrl::sortByColumn(int column) {
    if (busy()) {
        return;
    }
    toggleBrowseSort(keyOfColumn(column));
    sortBrowseListing(listing_);
    const BrowseSort sort = browseSort();
    reportView_->header()->setSortIndicator(
        columnOfKey(sort.key), sort.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    fillList();
}

void FileBrowseCtrl::finishRename(int row, const std::string& name) {
    const FileEntryPtr entry = entryAtRow(row);
    if (!entry || busy() || selection_.empty() || name == entry->name) {
        return;
    }
    auto renamed = std::make_shared<FileEntry>(*selection_.front());
    renamed->name = name;
    renameSelected(renamed, row);
}

void FileBrowseCtrl::selectRows(const std::vector<int>& rows) {
    QItemSelection chosen;
    for (const int row : rows) {
        chosen.select(model_->index(row, 0), model_->index(row, FileListModel::ColumnCount - 1));
    }
    arrowKeyPending_ = false;
    iconView_->selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty()) {
        iconView_->selectionModel()->setCurrentIndex(model_->index(rows.front(), 0),
                                                     QItemSelectionModel::NoUpdate);
    }
}

void FileBrowseCtrl::onSelectionChanged() {
    if (arrowKeyPending_) {
        keyTimer_.start();
        return;
    }
    rewriteSelection();
}

void FileBrowseCtrl::rewriteSelection() {
    QModelIndexList rows = iconView_->selectionModel()->selectedRows(FileListModel::NameColumn);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    selection_.clear();
    for (const QModelIndex& index : rows) {
        if (FileEntryPtr entry = entryAtRow(index.row())) {
            selection_.push_back(std::move(entry));
        }
    }
    if (!quiet_) {
        listener_.directoryChanged();
    }
}

bool FileBrowseCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        arrowKeyPending_ = false;
    } else if (event->type() == QEvent::KeyPress &&
               (watched == iconView_ || watched == reportView_)) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
                arrowKeyPending_ = true;
                break;
            case Qt::Key_Delete:
                if (!busy()) {
                    deleteItem();
                }
                return true;
            case Qt::Key_F2:
                beginRename();
                return true;
            default:
                arrowKeyPending_ = false;
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Rows ----

int FileBrowseCtrl::rowCount() const {
    return model_->rowCount();
}

FileEntryPtr FileBrowseCtrl::entryAtRow(int row) const {
    const std::vector<FileEntryPtr>& rows = model_->entries();
    return row >= 0 && row < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(row)]
                                                           : nullptr;
}

int FileBrowseCtrl::rowImage(int row) const {
    return model_->imageAt(row);
}

int FileBrowseCtrl::rowOf(const FileEntryPtr& entry) const {
    const std::vector<FileEntryPtr>& rows = model_->entries();
    const auto found = std::find(rows.begin(), rows.end(), entry);
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
}

QAbstractItemView* FileBrowseCtrl::currentView() const {
    if (style_ == Report) {
        return reportView_;
    }
    return iconView_;
}

// ---- Activity ----

FileBrowseCtrl::Activity::Activity(FileBrowseCtrl& control, const std::string& status)
    : control_(control) {
    ++control_.busy_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    control_.listener_.showStatus(status);
}

FileBrowseCtrl::Activity::~Activity() {
    control_.listener_.showStatus("");
    QApplication::restoreOverrideCursor();
    --control_.busy_;
}

void FileBrowseCtrl::Activity::status(const std::string& text) {
    control_.listener_.showStatus(text);
}
