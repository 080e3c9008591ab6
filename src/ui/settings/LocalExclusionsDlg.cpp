#include "ui/settings/LocalExclusionsDlg.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <filesystem>
#include <system_error>

#include "profiles/ExclusionSet.h"
#include "ui/ModalDialog.h"
#include "ui/Tooltips.h"
#include "ui/browse/BrowseLocalDlg.h"
#include "ui/settings/ExclusionLists.h"
#include "ui/settings/WildcardDlg.h"
#include "ui_LocalExclusionsDlg.h"

namespace fs = std::filesystem;

namespace {

bool existsOnDisk(const std::string& path) {
    std::error_code error;
    // A link counts as there even when what it points to has gone: the entry names the link.
    return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

LocalExclusionsDlg::LocalExclusionsDlg(ExclusionSet& exclusions, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::LocalExclusionsDlg>()), exclusions_(exclusions) {
    ui_->setupUi(this);
    applyTooltips({
        {ui_->exactList, "List of files/folders to be excluded from the synchronisation"},
        {ui_->wildcardList, "List of file wildcards to be excluded from the synchronisation"},
        {ui_->removeButton, "Remove selected files/folders from the exclusion list"},
        {ui_->browseButton, "Explorer style display of excluded files/folders"},
        {ui_->wildcardButton, "Add a wildcard to the exclusion list"},
        {ui_->removeWildcardButton, "Remove selected file wildcards from the exclusion list"},
        {ui_->lostFilesButton, "Select files/folders from the exclusion list that no longer exist"},
    });
    fillExclusionBox(*ui_->exactList, exclusions_.exactEntries());
    fillExclusionBox(*ui_->wildcardList, exclusions_.wildcardEntries());
    for (const FileEntryPtr& entry : exclusions_.exactEntries()) {
        if (!existsOnDisk(entry->fullPath())) {
            lost_.push_back(exclusionLine(*entry).toStdString());
        }
    }
    ui_->lostFilesButton->setVisible(!lost_.empty());

    connect(ui_->removeButton, &QPushButton::clicked, this, &LocalExclusionsDlg::OnRemove);
    connect(ui_->browseButton, &QPushButton::clicked, this, &LocalExclusionsDlg::OnBrowse);
    connect(ui_->lostFilesButton, &QPushButton::clicked, this, &LocalExclusionsDlg::OnLostFiles);
    connect(ui_->wildcardButton, &QPushButton::clicked, this, &LocalExclusionsDlg::OnWildcard);
    connect(ui_->removeWildcardButton, &QPushButton::clicked, this,
            &LocalExclusionsDlg::OnRemoveWildcard);
    for (QListWidget* box : {ui_->exactList, ui_->wildcardList}) {
        connect(box, &QListWidget::itemSelectionChanged, this, &LocalExclusionsDlg::updateButtons);
    }
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &LocalExclusionsDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &LocalExclusionsDlg::reject);
    updateButtons();
}

LocalExclusionsDlg::~LocalExclusionsDlg() = default;

void LocalExclusionsDlg::updateButtons() {
    ui_->removeButton->setEnabled(!ui_->exactList->selectedItems().isEmpty());
    ui_->removeWildcardButton->setEnabled(!ui_->wildcardList->selectedItems().isEmpty());
}

std::string LocalExclusionsDlg::browseStart() const {
    std::string& remembered = exclusionBrowsePath();
    if (remembered.empty() && !exclusions_.exactEntries().empty()) {
        remembered = exclusions_.exactEntries().front()->fullPath();
    }
    return remembered;
}

void LocalExclusionsDlg::OnRemove() {
    removeSelectedExactEntries(*ui_->exactList, exclusions_);
    updateButtons();
}

void LocalExclusionsDlg::OnBrowse() {
    BrowseLocalDlg browse(browseStart(), &exclusions_, this);
    if (runModal(browse) == QDialog::Accepted) {
        exclusionBrowsePath() = browse.currentDirectory();
        fillExclusionBox(*ui_->exactList, exclusions_.exactEntries());
    }
    updateButtons();
}

void LocalExclusionsDlg::OnLostFiles() {
    selectLines(*ui_->exactList, lost_);
    updateButtons();
}

void LocalExclusionsDlg::OnWildcard() {
    WildcardDlg entry(browseStart(), this);
    if (runModal(entry) != QDialog::Accepted) {
        return;
    }
    const std::string text = entry.wildcard();
    exclusions_.addWildcard(text);
    exclusions_.sort();
    fillExclusionBox(*ui_->wildcardList, exclusions_.wildcardEntries());
    const QString line = exclusionLine(*FileEntry::fromPath(text));
    const QList<QListWidgetItem*> added = ui_->wildcardList->findItems(line, Qt::MatchFixedString);
    if (!added.isEmpty()) {
        ui_->wildcardList->setCurrentItem(added.front(), QItemSelectionModel::NoUpdate);
    }
    updateButtons();
}

void LocalExclusionsDlg::OnRemoveWildcard() {
    const std::vector<std::string> kept = unselectedLines(*ui_->wildcardList);
    exclusions_.clearWildcardEntries();
    for (const std::string& line : kept) {
        exclusions_.addWildcard(line);
    }
    exclusions_.sort();
    fillExclusionBox(*ui_->wildcardList, exclusions_.wildcardEntries());
    updateButtons();
}
