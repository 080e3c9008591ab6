#include "ui/report/SyncResultsDlg.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/Prompter.h"
#include "engine/SynchroniserView.h"
#include "ui/ModalDialog.h"
#include "ui/Tooltips.h"
#include "ui/browse/BrowseOrder.h"
#include "ui/report/BrowseFilesDlg.h"
#include "ui_SyncResultsDlg.h"

namespace {

constexpr int kDeleteFiles = 2;
constexpr int kDeleteFolders = 4;

struct CategoryTexts {
    const char* reviewCaption;
    const char* resultsCaption;
    const char* reviewCount;
    const char* resultsCount;
    const char* tooltip;
};

constexpr CategoryTexts kTexts[SyncResultsDlg::kCategories] = {
    {"Now Showing: Files To Be Overwritten", "Now Showing: Overwritten Files", "%1 Overwrite Files",
     "%1 Overwritten Files", "Display list of files [to be] overwritten"},
    {"Now Showing: Files To Be Added", "Now Showing: Added Files", "%1 Add Files", "%1 Added Files",
     "Display list of files [to be] added"},
    {"Now Showing: Files To Be Deleted", "Now Showing: Deleted Files", "%1 Delete Files",
     "%1 Deleted Files", "Display list of files [to be] deleted"},
    {"Now Showing: Folders To Be Added", "Now Showing: Added Folders", "%1 Add Folders",
     "%1 Added Folders", "Display list of folders [to be] added"},
    {"Now Showing: Folders To Be Deleted", "Now Showing: Deleted Folders", "%1 Delete Folders",
     "%1 Deleted Folders", "Display list of folders [to be] deleted"},
};

// There is no singular form: "delete 1 folders" is what the program has always asked.
std::string deleteQuestion(std::size_t folders, std::size_t files) {
    std::string question = "You are about to";
    if (folders != 0) {
        question += " delete " + std::to_string(folders) + " folders";
    }
    if (files != 0) {
        question += folders != 0 ? " and " : " delete ";
        question += std::to_string(files) + " files";
    }
    return question + ".\nAre you sure you want to continue?";
}

}  // namespace

SyncResultsDlg::SyncResultsDlg(PlanForReview& plan, QWidget* parent)
    : SyncResultsDlg({&plan.overwriteTargets, &plan.addFileTargets, &plan.deleteFiles,
                      &plan.addFolderTargets, &plan.deleteFolders},
                     {&plan.overwriteTargets, &plan.addFileTargets, &plan.deleteFiles,
                      &plan.addFolderTargets, &plan.deleteFolders},
                     parent) {}

SyncResultsDlg::SyncResultsDlg(const ActionLists& results, QWidget* parent)
    : SyncResultsDlg({&results.overwrittenFiles, &results.addedFiles, &results.deletedFiles,
                      &results.addedFolders, &results.deletedFolders},
                     {}, parent) {
    failures_ = {&results.failedOverwrittenFiles, &results.failedAddedFiles,
                 &results.failedDeletedFiles, &results.failedAddedFolders,
                 &results.failedDeletedFolders};
}

SyncResultsDlg::SyncResultsDlg(std::array<const EntrySet*, kCategories> lists,
                               std::array<EntrySet*, kCategories> editable, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::SyncResultsDlg>()),
      lists_(lists),
      editable_(editable) {
    ui_->setupUi(this);
    for (int category = 0; category < kCategories; ++category) {
        connect(categoryButton(category), &QPushButton::clicked, this,
                [this, category] { showCategory(category); });
        categoryButton(category)->setAutoDefault(false);
    }
    connect(ui_->removeItemButton, &QPushButton::clicked, this, &SyncResultsDlg::OnRemoveItem);
    connect(ui_->browseButton, &QPushButton::clicked, this, &SyncResultsDlg::OnBrowse);
    connect(ui_->entryList, &QListWidget::itemSelectionChanged, this,
            &SyncResultsDlg::OnSelectionChanged);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &SyncResultsDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &SyncResultsDlg::reject);

    applyTooltips({
        {ui_->overwriteButton, kTexts[0].tooltip},
        {ui_->addFilesButton, kTexts[1].tooltip},
        {ui_->deleteFilesButton, kTexts[2].tooltip},
        {ui_->addFoldersButton, kTexts[3].tooltip},
        {ui_->deleteFoldersButton, kTexts[4].tooltip},
        {ui_->entryList, "List of files in the selected category"},
        {ui_->removeItemButton, "Remove selected file/folder(s) from synchronisation list"},
        {ui_->browseButton, "Display all synchronisation files/folders in Explorer style"},
    });

    if (resultsMode()) {
        ui_->buttonBox->button(QDialogButtonBox::Cancel)->hide();
        ui_->removeItemButton->hide();
    } else {
        setWindowTitle("Synchronisation analysis results");
    }
    writeCounts();
    showCategory(0);
    ui_->removeItemButton->setEnabled(true);
}

SyncResultsDlg::~SyncResultsDlg() = default;

QPushButton* SyncResultsDlg::categoryButton(int category) const {
    QPushButton* const buttons[kCategories] = {ui_->overwriteButton, ui_->addFilesButton,
                                               ui_->deleteFilesButton, ui_->addFoldersButton,
                                               ui_->deleteFoldersButton};
    return category >= 0 && category < kCategories ? buttons[category] : nullptr;
}

void SyncResultsDlg::writeCounts() {
    for (int category = 0; category < kCategories; ++category) {
        const CategoryTexts& texts = kTexts[category];
        const QString format = resultsMode() ? texts.resultsCount : texts.reviewCount;
        // Failed entries count: the number says what was attempted, the list what succeeded.
        categoryButton(category)->setText(format.arg(lists_[category]->size()));
    }
}

void SyncResultsDlg::showCategory(int category) {
    if (category < 0 || category >= kCategories) {
        return;
    }
    current_ = category;
    for (int each = 0; each < kCategories; ++each) {
        categoryButton(each)->setEnabled(!lists_[each]->empty());
    }
    const CategoryTexts& texts = kTexts[category];
    ui_->captionLabel->setText(resultsMode() ? texts.resultsCaption : texts.reviewCaption);
    fillList();
}

void SyncResultsDlg::fillList() {
    // Refilling is not a selection by the person: Remove Item keeps its state.
    const QSignalBlocker blocker(ui_->entryList);
    ui_->entryList->clear();
    for (const FileEntryPtr& entry : *lists_[current_]) {
        if (!entry->failed) {
            ui_->entryList->addItem(QString::fromStdString(entry->fullPath()));
        }
    }
}

void SyncResultsDlg::OnSelectionChanged() {
    if (!resultsMode()) {
        ui_->removeItemButton->setEnabled(!ui_->entryList->selectedItems().isEmpty());
    }
}

void SyncResultsDlg::OnRemoveItem() {
    if (resultsMode()) {
        return;
    }
    QListWidget& list = *ui_->entryList;
    std::vector<int> rows;
    for (const QListWidgetItem* item : list.selectedItems()) {
        rows.push_back(list.row(item));
    }
    // From the last line up, so that each row number still names the line it was taken from.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    EntrySet& entries = *editable_[current_];
    {
        const QSignalBlocker blocker(list);
        for (const int row : rows) {
            const std::string path = list.item(row)->text().toStdString();
            std::erase_if(entries,
                          [&path](const FileEntryPtr& entry) { return entry->fullPath() == path; });
            delete list.takeItem(row);
        }
    }
    ui_->removeItemButton->setEnabled(false);
    writeCounts();
}

void SyncResultsDlg::OnBrowse() {
    std::vector<FileEntryPtr> entries;
    for (const std::array<const EntrySet*, kCategories>* sets : {&lists_, &failures_}) {
        for (const EntrySet* set : *sets) {
            if (set != nullptr) {
                entries.insert(entries.end(), set->begin(), set->end());
            }
        }
    }
    sortBrowseListing(entries);
    if (browseFolder_.empty() && !entries.empty()) {
        browseFolder_ = entries.front()->folder;
    }
    BrowseFilesDlg browse(entries, browseFolder_, true, !resultsMode(), this);
    if (runModal(browse) == QDialog::Accepted) {
        browseFolder_ = browse.currentDirectory();
        if (!resultsMode()) {
            std::unordered_set<const FileEntry*> kept;
            for (const FileEntryPtr& entry : entries) {
                kept.insert(entry.get());
            }
            for (EntrySet* set : editable_) {
                std::erase_if(*set, [&kept](const FileEntryPtr& entry) {
                    return !kept.contains(entry.get());
                });
            }
            writeCounts();
        }
    }
    fillList();
}

void SyncResultsDlg::accept() {
    if (!resultsMode()) {
        const std::size_t folders = lists_[kDeleteFolders]->size();
        const std::size_t files = lists_[kDeleteFiles]->size();
        if ((folders != 0 || files != 0) && !prompter().askYesNo(deleteQuestion(folders, files))) {
            return;
        }
    }
    QDialog::accept();
}
