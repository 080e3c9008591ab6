#include "ui/report/BrowseFilesDlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QPushButton>

#include "ui/ModalDialog.h"
#include "ui/Tooltips.h"
#include "ui/browse/FileDetailsBrowseCtrl.h"
#include "ui/browse/FileDetailsFolderBrowseCtrl.h"
#include "ui/browse/ViewStyleCombo.h"
#include "ui/report/ActionLegendDlg.h"
#include "ui_BrowseFilesDlg.h"

namespace {

constexpr int kFillDelayMs = 50;

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           comparePathsIgnoringCase(std::string_view(text).substr(0, prefix.size()), prefix) == 0;
}

}  // namespace

BrowseFilesDlg::BrowseFilesDlg(std::vector<FileEntryPtr>& entries, const std::string& startFolder,
                               bool showActions, bool removalAllowed, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::BrowseFilesDlg>()),
      callerEntries_(entries),
      entries_(entries),
      startFolder_(startFolder),
      removalAllowed_(removalAllowed) {
    ui_->setupUi(this);
    tree_ = new FileDetailsFolderBrowseCtrl(entries_, *this, ui_->paneSplitter);
    list_ = new FileDetailsBrowseCtrl(entries_, selection_, *this, showActions, ui_->paneSplitter);
    list_->setObjectName(QStringLiteral("fileList"));
    ui_->paneSplitter->addWidget(tree_);
    ui_->paneSplitter->addWidget(list_);
    ui_->paneSplitter->setStretchFactor(0, 1);
    ui_->paneSplitter->setStretchFactor(1, 2);
    ui_->paneSplitter->setSizes({220, 440});

    applyTooltips({
        {ui_->currentDirectoryEdit, "Displays the current selected folder"},
        {ui_->removeButton, "Remove the file or folder from the synchronisation"},
        {ui_->viewStyleCombo, "Change view style of right pane"},
        {ui_->upButton, "Go up one level in folder hierarchy"},
        {ui_->legendButton, "Icon explanations"},
    });
    ui_->viewStyleCombo->setCurrentIndex(0);
    ui_->removeButton->setVisible(removalAllowed_);

    connect(ui_->removeButton, &QPushButton::clicked, this, &BrowseFilesDlg::OnRemove);
    connect(ui_->upButton, &QPushButton::clicked, this, &BrowseFilesDlg::OnUp);
    connect(ui_->legendButton, &QPushButton::clicked, this, &BrowseFilesDlg::OnLegend);
    connect(ui_->viewStyleCombo, &QComboBox::currentIndexChanged, this,
            &BrowseFilesDlg::OnViewStyleChanged);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &BrowseFilesDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &BrowseFilesDlg::reject);
    connect(tree_, &FolderBrowseCtrl::folderSelected, this, &BrowseFilesDlg::onTreeSelection);

    fillTimer_.setSingleShot(true);
    fillTimer_.setInterval(kFillDelayMs);
    connect(&fillTimer_, &QTimer::timeout, this, &BrowseFilesDlg::OnTimer);
    updateButtons();
}

BrowseFilesDlg::~BrowseFilesDlg() = default;

void BrowseFilesDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        fillTimer_.start();
    }
}

void BrowseFilesDlg::OnTimer() {
    fillTimer_.stop();
    shownOnce_ = true;
    ui_->currentDirectoryEdit->setText(QString::fromStdString(startFolder_));
    list_->initialise();
    viewstylecombo::showStyleOf(*ui_->viewStyleCombo, *list_);
    // A folder remembered from an earlier look may hold nothing any more.
    const bool inside = startFolder_.empty() ||
                        std::any_of(entries_.begin(), entries_.end(), [this](const auto& entry) {
                            return startsWithIgnoringCase(entry->folder, startFolder_);
                        });
    if (!inside) {
        startFolder_.clear();
    }
    tree_->initialise(startFolder_, std::string());
    if (!treeShowsListFolder() || list_->listing().empty()) {
        list_->setDirectory(startFolder_);
    }
    updateButtons();
}

std::string BrowseFilesDlg::currentDirectory() const {
    return ui_->currentDirectoryEdit->text().toStdString();
}

void BrowseFilesDlg::updateButtons() {
    ui_->removeButton->setEnabled(!selection_.empty());
    ui_->upButton->setEnabled(list_->canGoUp());
    const bool oneFolder = selection_.size() == 1 && selection_.front()->isFolder();
    const FileEntry& shown = oneFolder ? *selection_.front() : *list_->currentFolder();
    ui_->currentDirectoryEdit->setText(
        QString::fromStdString(FileBrowseCtrl::listingPathOf(shown)));
}

bool BrowseFilesDlg::treeShowsListFolder() const {
    const FileEntryPtr selected = tree_->selectedFolder();
    const std::string listed = FileBrowseCtrl::listingPathOf(*list_->currentFolder());
    const std::string inTree = selected ? tree_->pathOf(*selected) : std::string();
    return comparePathsIgnoringCase(listed, inTree) == 0;
}

void BrowseFilesDlg::onTreeSelection() {
    const FileEntryPtr selected = tree_->selectedFolder();
    if (selected && !selected->fullPath().empty() && !treeShowsListFolder()) {
        list_->showFolder(selected);
    }
    updateButtons();
}

void BrowseFilesDlg::OnRemove() {
    if (!removalAllowed_) {
        return;
    }
    list_->deleteItem();
    updateButtons();
}

void BrowseFilesDlg::OnUp() {
    list_->upDirectory();
}

void BrowseFilesDlg::OnLegend() {
    ActionLegendDlg legend(this);
    runModal(legend);
}

void BrowseFilesDlg::OnViewStyleChanged(int index) {
    viewstylecombo::applyItem(*list_, index);
}

void BrowseFilesDlg::accept() {
    if (!selection_.empty()) {
        const FileEntryPtr& first = selection_.front();
        if (first->name.empty() || first->name == "..") {
            selection_.erase(selection_.begin());
        }
    }
    callerEntries_ = entries_;
    QDialog::accept();
}

// ---- What the list tells ----

void BrowseFilesDlg::directoryChanged() {
    updateButtons();
    if (!treeShowsListFolder()) {
        tree_->selectFolder(list_->currentFolder());
    }
}

void BrowseFilesDlg::showStatus(const std::string& text) {
    ui_->statusLabel->setText(QString::fromStdString(text));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void BrowseFilesDlg::folderRemoved(const FileEntryPtr& folder) {
    tree_->removeFolder(folder);
}

void BrowseFilesDlg::folderAdded(const FileEntryPtr& folder) {
    tree_->addFolder(folder);
}

void BrowseFilesDlg::folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) {
    tree_->renameFolder(oldFolder, newFolder);
}
