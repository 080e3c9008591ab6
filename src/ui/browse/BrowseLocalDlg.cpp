#include "ui/browse/BrowseLocalDlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <utility>

#include "ui/Tooltips.h"
#include "ui/browse/CTreeFileCtrl.h"
#include "ui/browse/SysFileBrowseCtrl.h"
#include "ui/browse/ViewStyleCombo.h"
#include "ui_BrowseLocalDlg.h"

namespace {

constexpr int kFillDelayMs = 50;

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string withTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    return path;
}

// Entries "Add" may take: the up entry and nameless entries stand for no file.
bool isExcludable(const FileEntry& entry) {
    return !entry.name.empty() && entry.name != ".." && entry.kind != EntryKind::Up;
}

}  // namespace

BrowseLocalDlg::BrowseLocalDlg(const std::string& startFolder, ExclusionSet* exclusions,
                               QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::BrowseLocalDlg>()),
      callerExclusions_(exclusions),
      startFolder_(startFolder) {
    ui_->setupUi(this);
    if (callerExclusions_ != nullptr) {
        working_ = *callerExclusions_;
    }
    tree_ = ui_->folderTree;
    list_ = new SysFileBrowseCtrl(selection_, *this, true, ui_->paneSplitter);
    list_->setObjectName(QStringLiteral("fileList"));
    ui_->paneSplitter->addWidget(list_);
    ui_->paneSplitter->setStretchFactor(0, 1);
    ui_->paneSplitter->setStretchFactor(1, 2);
    ui_->paneSplitter->setSizes({240, 480});

    applyTooltips({
        {ui_->removeButton, "Remove selected items from the exclusion list"},
        {ui_->currentDirectoryEdit, "Displays the current selected folder"},
        {ui_->addButton, "Add selected items to the exclusion list"},
        {ui_->createDirButton, "Create a new directory"},
        {ui_->deleteButton, "Delete the file or folder"},
        {ui_->viewStyleCombo, "Change view style of right pane"},
        {ui_->upButton, "Go up one level in the directory hierarchy"},
    });
    ui_->viewStyleCombo->setCurrentIndex(0);
    if (callerExclusions_ == nullptr) {
        for (QWidget* part :
             {static_cast<QWidget*>(ui_->exclusionsLabel), static_cast<QWidget*>(ui_->addButton),
              static_cast<QWidget*>(ui_->removeButton), static_cast<QWidget*>(ui_->hintLabel)}) {
            part->hide();
        }
    }

    connect(ui_->upButton, &QPushButton::clicked, this, &BrowseLocalDlg::OnUp);
    connect(ui_->createDirButton, &QPushButton::clicked, this, &BrowseLocalDlg::OnCreatedir);
    connect(ui_->deleteButton, &QPushButton::clicked, this, &BrowseLocalDlg::OnDelete);
    connect(ui_->addButton, &QPushButton::clicked, this, &BrowseLocalDlg::OnAdd);
    connect(ui_->removeButton, &QPushButton::clicked, this, &BrowseLocalDlg::OnRemove);
    connect(ui_->viewStyleCombo, &QComboBox::currentIndexChanged, this,
            &BrowseLocalDlg::OnViewStyleChanged);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &BrowseLocalDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &BrowseLocalDlg::reject);
    connect(tree_, &CTreeFileCtrl::selectedPathChanged, this, &BrowseLocalDlg::onTreeSelection);

    fillTimer_.setSingleShot(true);
    fillTimer_.setInterval(kFillDelayMs);
    connect(&fillTimer_, &QTimer::timeout, this, &BrowseLocalDlg::OnTimer);
    updateControls();
}

BrowseLocalDlg::~BrowseLocalDlg() = default;

void BrowseLocalDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        fillTimer_.start();
    }
}

void BrowseLocalDlg::OnTimer() {
    fillTimer_.stop();
    shownOnce_ = true;
    const std::string start = startFolder_.empty() ? std::string("/") : startFolder_;
    setCurrentDirectory(start);
    list_->initialise();
    following_ = true;
    tree_->setOptions(CTreeFileCtrl::kFolderDialogOptions);
    tree_->refresh();
    tree_->selectPath(start);
    following_ = false;
    // A start folder that has gone: the nearest folder above it that is still there.
    const std::string selected = tree_->selectedPath();
    startFolder_ = withTrailingSlash(selected.empty() ? start : selected);
    following_ = true;
    list_->setDirectory(startFolder_);
    following_ = false;
    viewstylecombo::showStyleOf(*ui_->viewStyleCombo, *list_);
    updateControls();
}

std::string BrowseLocalDlg::currentDirectory() const {
    return currentDirectory_;
}

void BrowseLocalDlg::setCurrentDirectory(const std::string& path) {
    currentDirectory_ = path;
    ui_->currentDirectoryEdit->setText(QFile::decodeName(QByteArray::fromStdString(path)));
}

void BrowseLocalDlg::updateControls() {
    const bool any = !selection_.empty();
    for (QWidget* control :
         {static_cast<QWidget*>(ui_->deleteButton), static_cast<QWidget*>(ui_->exclusionsLabel),
          static_cast<QWidget*>(ui_->addButton), static_cast<QWidget*>(ui_->removeButton)}) {
        control->setEnabled(any);
    }
    ui_->upButton->setEnabled(list_->canGoUp());
    const bool oneFolder = selection_.size() == 1 && selection_.front()->isFolder();
    const FileEntry& shown = oneFolder ? *selection_.front() : *list_->currentFolder();
    const std::string path = FileBrowseCtrl::listingPathOf(shown);
    if (!path.empty()) {
        setCurrentDirectory(path);
    }
}

// ---- Exclusions ----

void BrowseLocalDlg::addSelected() {
    for (const FileEntryPtr& entry : selection_) {
        if (isExcludable(*entry)) {
            auto excluded = std::make_shared<FileEntry>(*entry);
            excluded->action = EntryAction::None;
            working_.addEntry(excluded);
        }
    }
    working_.sort();
}

void BrowseLocalDlg::markListing() {
    for (const FileEntryPtr& entry : list_->listing()) {
        if (entry->kind != EntryKind::Up) {
            entry->action = working_.isExcluded(*entry) ? EntryAction::Excluded : EntryAction::None;
        }
    }
}

void BrowseLocalDlg::OnAdd() {
    addSelected();
    list_->updateRowImages();
    updateControls();
}

void BrowseLocalDlg::OnRemove() {
    for (const FileEntryPtr& entry : selection_) {
        working_.removeEntry(*entry);
    }
    list_->updateRowImages();
    updateControls();
}

// ---- Commands ----

void BrowseLocalDlg::OnDelete() {
    if (list_->busy()) {
        return;
    }
    list_->deleteItem();
    refillTree();
    updateControls();
}

void BrowseLocalDlg::OnCreatedir() {
    if (list_->busy()) {
        return;
    }
    list_->createDirectory();
    refillTree();
    updateControls();
}

void BrowseLocalDlg::OnUp() {
    if (!list_->busy()) {
        list_->upDirectory();
    }
}

void BrowseLocalDlg::OnViewStyleChanged(int index) {
    viewstylecombo::applyItem(*list_, index);
}

void BrowseLocalDlg::refillTree() {
    following_ = true;
    tree_->refresh();
    following_ = false;
    followList();
}

void BrowseLocalDlg::accept() {
    addSelected();
    if (callerExclusions_ != nullptr) {
        *callerExclusions_ = working_;
    }
    if (!selection_.empty() && !isExcludable(*selection_.front())) {
        selection_.erase(selection_.begin());
    }
    if (selection_.size() == 1 && selection_.front()->isFolder()) {
        // The folder the person looked into, not the one picked in it.
        setCurrentDirectory(FileBrowseCtrl::listingPathOf(*list_->currentFolder()));
    }
    QDialog::accept();
}

// ---- Tree and list follow each other ----

bool BrowseLocalDlg::treeShowsListFolder() const {
    const std::string listed = FileBrowseCtrl::listingPathOf(*list_->currentFolder());
    return withoutTrailingSlash(tree_->selectedPath()) == withoutTrailingSlash(listed);
}

void BrowseLocalDlg::followList() {
    const std::string listed = FileBrowseCtrl::listingPathOf(*list_->currentFolder());
    if (listed.empty() || treeShowsListFolder()) {
        return;
    }
    following_ = true;
    tree_->selectPath(listed);
    following_ = false;
}

void BrowseLocalDlg::onTreeSelection() {
    if (following_ || list_->busy()) {
        return;
    }
    const std::string selected = tree_->selectedPath();
    if (!selected.empty() && !treeShowsListFolder()) {
        following_ = true;
        list_->setDirectory(withTrailingSlash(selected));
        following_ = false;
    }
    updateControls();
}

void BrowseLocalDlg::directoryChanged() {
    updateControls();
    if (!following_) {
        followList();
    }
}

void BrowseLocalDlg::showStatus(const std::string& text) {
    ui_->statusLabel->setText(QFile::decodeName(QByteArray::fromStdString(text)));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void BrowseLocalDlg::currentPathChanged(const std::string&) {
    markListing();
}

void BrowseLocalDlg::folderRenamed(const FileEntryPtr&, const FileEntryPtr&) {
    refillTree();
}
