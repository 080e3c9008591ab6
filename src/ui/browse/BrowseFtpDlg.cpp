#include "ui/browse/BrowseFtpDlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QMetaObject>
#include <QPushButton>

#include "common/ErrorReport.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/TimedCommand.h"
#include "ui/ModalDialog.h"
#include "ui/Tooltips.h"
#include "ui/browse/ConnectionChoice.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/browse/FtpFolderBrowseCtrl.h"
#include "ui/browse/ViewStyleCombo.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui_BrowseFtpDlg.h"

namespace {

constexpr int kFillDelayMs = 50;
constexpr const char* kNotConnected = "You are not currently connected to an FTP server";

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

BrowseFtpDlg::BrowseFtpDlg(ConnectionList& connections, std::shared_ptr<ConnectionDetails>& active,
                           const std::string& startFolder, ExclusionSet* exclusions,
                           QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::BrowseFtpDlg>()),
      connections_(connections),
      active_(active),
      startFolder_(startFolder),
      exclusions_(exclusions) {
    ui_->setupUi(this);
    if (exclusions_ != nullptr) {
        working_ = *exclusions_;
    }
    tree_ = new FtpFolderBrowseCtrl(*this, ui_->paneSplitter);
    list_ = new FtpFileBrowseCtrl(selection_, *this, true, ui_->paneSplitter);
    list_->setObjectName(QStringLiteral("fileList"));
    ui_->paneSplitter->addWidget(tree_);
    ui_->paneSplitter->addWidget(list_);
    ui_->paneSplitter->setStretchFactor(0, 1);
    ui_->paneSplitter->setStretchFactor(1, 2);
    ui_->paneSplitter->setSizes({240, 480});
    useConnection();

    applyTooltips({
        {ui_->statusLabel, "Display current FTP activity if any"},
        {ui_->removeButton, "Remove selected items from the exclusion list"},
        {ui_->connectButton, "Connect or disconnect to/from the FTP server"},
        {ui_->currentConnectionEdit,
         "Current selected FTP connection (look to the right to see if connected)"},
        {ui_->currentDirectoryEdit, "Displays the current selected folder"},
        {ui_->addButton, "Add selected items to the exclusion list"},
        {ui_->connectionStateLabel, "Shows whether you are currently connected"},
        {ui_->createDirButton, "Create a new directory"},
        {ui_->deleteButton, "Delete the file or directory"},
        {ui_->viewStyleCombo, "Change view style of right pane"},
        {ui_->upButton, "Go up one level in the directory hierarchy"},
    });
    ui_->viewStyleCombo->setCurrentIndex(0);
    ui_->exclusionsRow->setVisible(exclusions_ != nullptr);

    connect(ui_->connectButton, &QPushButton::clicked, this, &BrowseFtpDlg::OnConnect);
    connect(ui_->upButton, &QPushButton::clicked, this, &BrowseFtpDlg::OnUp);
    connect(ui_->createDirButton, &QPushButton::clicked, this, &BrowseFtpDlg::OnCreatedir);
    connect(ui_->deleteButton, &QPushButton::clicked, this, &BrowseFtpDlg::OnDelete);
    connect(ui_->refreshButton, &QPushButton::clicked, this, &BrowseFtpDlg::OnRefresh);
    connect(ui_->addButton, &QPushButton::clicked, this, &BrowseFtpDlg::OnAdd);
    connect(ui_->removeButton, &QPushButton::clicked, this, &BrowseFtpDlg::OnRemove);
    connect(ui_->viewStyleCombo, &QComboBox::currentIndexChanged, this,
            &BrowseFtpDlg::OnViewStyleChanged);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &BrowseFtpDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &BrowseFtpDlg::reject);
    connect(tree_, &FolderBrowseCtrl::folderSelected, this, &BrowseFtpDlg::onTreeSelection);

    fillTimer_.setSingleShot(true);
    fillTimer_.setInterval(kFillDelayMs);
    connect(&fillTimer_, &QTimer::timeout, this, &BrowseFtpDlg::OnTimer);
    previousDisplay_ = setRetryDisplay(this);
    updateControls();
}

BrowseFtpDlg::~BrowseFtpDlg() {
    // Once this returns no worker is inside updateProgress any more.
    setRetryDisplay(previousDisplay_);
}

void BrowseFtpDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        fillTimer_.start();
    }
}

bool BrowseFtpDlg::connected() const {
    return active_ != nullptr && active_->isConnected();
}

std::string BrowseFtpDlg::currentDirectory() const {
    return ui_->currentDirectoryEdit->text().toStdString();
}

void BrowseFtpDlg::useConnection() {
    list_->setConnection(active_);
    tree_->setConnection(active_);
}

// ---- Opening ----

void BrowseFtpDlg::OnTimer() {
    fillTimer_.stop();
    shownOnce_ = true;
    if (active_ != nullptr && !connected()) {
        openConnection();
    }
    updateControls();
    if (connected()) {
        initialiseTree(startFolder_);
    }
    list_->initialise();
    viewstylecombo::showStyleOf(*ui_->viewStyleCombo, *list_);
    ui_->currentDirectoryEdit->setText(qs(startFolder_));
    if (connected()) {
        showStatus("Getting directory listing...");
        showStartFolder(startFolder_, "BrowseFtpDlg::OnTimer (set current dir)");
    }
    showStatus("");
    updateControls();
    list_->currentView()->setFocus();
}

void BrowseFtpDlg::openConnection() {
    showStatus("Connecting...");
    ui_->connectionStateLabel->setText(QStringLiteral("Connecting"));
    ConnectingDlg connecting(active_, this, true);
    runModal(connecting);
    showStatus("");
    showConnectionState();
}

void BrowseFtpDlg::initialiseTree(const std::string& folder) {
    // The tree's choice would move the list while it is being built.
    following_ = true;
    tree_->initialise(folder, active_->homeDirectory);
    following_ = false;
}

void BrowseFtpDlg::showStartFolder(const std::string& folder, const char* context) {
    if (folder.empty()) {
        list_->setDirectory(folder);
        return;
    }
    bool shown = false;
    {
        // Told once, below, as the dialog's failure.
        const bool quiet = quietMode.exchange(true);
        shown = list_->setDirectory(folder);
        quietMode = quiet;
    }
    if (!shown) {
        startFolder_.clear();
        reportError(context, "Could not change directory", true);
        // Somewhere to start from: the top of the server's tree.
        if (connected()) {
            list_->setDirectory(active_->homeDirectory);
        }
    }
}

// ---- Commands ----

void BrowseFtpDlg::OnConnect() {
    if (connected()) {
        waitForCommand(0);
        active_->disconnectFtp();
        list_->refresh();
        tree_->clear();
        updateControls();
        return;
    }
    bool changed = false;
    if (!chooseConnection(this, connections_, active_, changed)) {
        updateControls();
        return;
    }
    connectionsChanged_ = connectionsChanged_ || changed;
    useConnection();
    if (changed) {
        ui_->currentDirectoryEdit->clear();
        startFolder_.clear();
    }
    if (active_ != nullptr && !connected()) {
        openConnection();
    }
    if (connected()) {
        initialiseTree("");
        showStartFolder(changed ? std::string() : startFolder_,
                        changed ? "BrowseFtpDlg::OnConnect (modified)"
                                : "BrowseFtpDlg::OnConnect (not modified)");
    }
    updateControls();
}

void BrowseFtpDlg::OnCreatedir() {
    if (!connected()) {
        reportError("BrowseFtpDlg::OnCreatedir", kNotConnected, false);
        return;
    }
    showStatus("Creating directory...");
    list_->createDirectory();
    showStatus("");
    updateControls();
}

void BrowseFtpDlg::OnDelete() {
    list_->deleteItem();
    updateControls();
}

void BrowseFtpDlg::OnRefresh() {
    list_->refresh();
}

void BrowseFtpDlg::OnUp() {
    // The list moves the server to the folder it shows before it goes up, wherever the tree
    // has taken the server since.
    if (connected()) {
        list_->upDirectory();
    }
}

void BrowseFtpDlg::addSelection() {
    for (const FileEntryPtr& entry : selection_) {
        if (entry->name.empty() || entry->name == ".." || entry->kind == EntryKind::Up) {
            continue;
        }
        // A copy: the listed entry is shared with the connection's listing and gets marks.
        auto excluded = std::make_shared<FileEntry>(*entry);
        excluded->action = EntryAction::None;
        excluded->failed = false;
        excluded->remote = true;
        working_.addEntry(excluded);
    }
    working_.sort();
}

void BrowseFtpDlg::OnAdd() {
    if (exclusions_ == nullptr) {
        return;
    }
    addSelection();
    list_->refresh();
    updateControls();
}

void BrowseFtpDlg::OnRemove() {
    if (exclusions_ == nullptr) {
        return;
    }
    for (const FileEntryPtr& entry : selection_) {
        working_.removeEntry(*entry);
    }
    list_->refresh();
    updateControls();
}

void BrowseFtpDlg::OnViewStyleChanged(int index) {
    viewstylecombo::applyItem(*list_, index);
}

void BrowseFtpDlg::accept() {
    if (exclusions_ != nullptr) {
        addSelection();
        *exclusions_ = working_;
    }
    if (!selection_.empty()) {
        const FileEntryPtr& first = selection_.front();
        if (first->name.empty() || first->name == "..") {
            selection_.erase(selection_.begin());
        }
    }
    QDialog::accept();
}

// ---- The controls ----

void BrowseFtpDlg::showConnectionState() {
    const bool open = connected();
    ui_->currentConnectionEdit->setText(active_ != nullptr ? qs(active_->name) : QString());
    ui_->connectionStateLabel->setText(open ? QStringLiteral("Connected")
                                            : QStringLiteral("Disconnected"));
    ui_->connectButton->setText(open ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
}

void BrowseFtpDlg::updateControls() {
    showConnectionState();
    const bool chosen = !selection_.empty();
    for (QWidget* control :
         {static_cast<QWidget*>(ui_->deleteButton), static_cast<QWidget*>(ui_->exclusionsLabel),
          static_cast<QWidget*>(ui_->addButton), static_cast<QWidget*>(ui_->removeButton)}) {
        control->setEnabled(chosen);
    }
    ui_->upButton->setEnabled(list_->canGoUp());
    const bool oneFolder = selection_.size() == 1 && selection_.front()->isFolder();
    const FileEntry& shown = oneFolder ? *selection_.front() : *list_->currentFolder();
    const std::string path = FileBrowseCtrl::listingPathOf(shown);
    // Before the first listing the start folder stays on show.
    if (!path.empty() || oneFolder) {
        ui_->currentDirectoryEdit->setText(qs(path));
    }
}

void BrowseFtpDlg::markExclusions() {
    for (const FileEntryPtr& entry : list_->listing()) {
        entry->action = working_.isExcluded(*entry) ? EntryAction::Excluded : EntryAction::None;
    }
}

bool BrowseFtpDlg::treeShowsListFolder() const {
    const FileEntryPtr selected = tree_->selectedFolder();
    const std::string listed = FileBrowseCtrl::listingPathOf(*list_->currentFolder());
    const std::string inTree = selected ? tree_->pathOf(*selected) : std::string();
    return comparePathsIgnoringCase(listed, inTree) == 0;
}

void BrowseFtpDlg::onTreeSelection() {
    if (following_) {
        return;
    }
    const FileEntryPtr selected = tree_->selectedFolder();
    if (selected && connected() && !treeShowsListFolder()) {
        following_ = true;
        list_->setDirectory(tree_->pathOf(*selected));
        following_ = false;
    }
    updateControls();
}

// ---- What the list tells ----

void BrowseFtpDlg::directoryChanged() {
    updateControls();
    if (!following_ && connected() && !treeShowsListFolder()) {
        following_ = true;
        tree_->selectFolder(list_->currentFolder());
        following_ = false;
    }
}

void BrowseFtpDlg::showStatus(const std::string& text) {
    ui_->statusLabel->setText(qs(text));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void BrowseFtpDlg::folderRemoved(const FileEntryPtr& folder) {
    tree_->removeFolder(folder);
}

void BrowseFtpDlg::folderAdded(const FileEntryPtr& folder) {
    tree_->addFolder(folder);
}

void BrowseFtpDlg::currentPathChanged(const std::string&) {
    markExclusions();
}

void BrowseFtpDlg::folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) {
    tree_->renameFolder(oldFolder, newFolder);
}

void BrowseFtpDlg::updateProgress() {
    const RetryTexts texts = retryTexts(commandState().retryCount.load());
    QMetaObject::invokeMethod(
        this,
        [this, label = qs(texts.label), number = qs(texts.number)] {
            ui_->retriesLabel->setText(label);
            ui_->retryCountLabel->setText(number);
        },
        Qt::QueuedConnection);
}
