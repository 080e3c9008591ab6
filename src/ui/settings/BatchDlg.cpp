#include "ui/settings/BatchDlg.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <filesystem>

#include "profiles/BatchList.h"
#include "profiles/SettingsStore.h"
#include "ui/mainwindow/FileDialogs.h"
#include "ui_BatchDlg.h"

namespace {

constexpr const char* kOpenPath = "OpenPath";

// The rows of the selected lines, top first.
std::vector<int> selectedRows(const QListWidget& list) {
    std::vector<int> rows;
    for (const QListWidgetItem* item : list.selectedItems()) {
        rows.push_back(list.row(item));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace

BatchDlg::BatchDlg(BatchList& batch, SettingsStore* settings, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::BatchDlg>()), batch_(batch), settings_(settings) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &BatchDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &BatchDlg::reject);
    connect(ui_->addFilesButton, &QPushButton::clicked, this, &BatchDlg::OnAddFiles);
    connect(ui_->removeButton, &QPushButton::clicked, this, &BatchDlg::OnRemove);
    connect(ui_->moveUpButton, &QPushButton::clicked, this, &BatchDlg::OnMoveUp);
    connect(ui_->moveDownButton, &QPushButton::clicked, this, &BatchDlg::OnMoveDown);
    connect(ui_->profileList, &QListWidget::itemSelectionChanged, this, &BatchDlg::updateButtons);

    for (const std::string& path : batch_.profilePaths) {
        ui_->profileList->addItem(QString::fromStdString(path));
    }
    updateButtons();
}

BatchDlg::~BatchDlg() = default;

void BatchDlg::updateButtons() {
    const std::vector<int> rows = selectedRows(*ui_->profileList);
    const bool one = rows.size() == 1;
    ui_->moveUpButton->setEnabled(one && rows.front() > 0);
    ui_->moveDownButton->setEnabled(one && rows.front() < ui_->profileList->count() - 1);
    ui_->removeButton->setEnabled(!rows.empty());
}

void BatchDlg::OnAddFiles() {
    const std::string openPath = settings_ != nullptr
                                     ? settings_->readString(kOpenPath).value_or(std::string())
                                     : std::string();
    const std::vector<std::string> chosen =
        fileDialogs().openFiles(this, "Add Files", openPath, "Kelvane profile (*.kvp)", "kvp");
    if (chosen.empty()) {
        return;
    }
    if (settings_ != nullptr) {
        // With several files chosen the dialog's path is their folder, with one the file.
        const std::string remembered =
            chosen.size() == 1 ? chosen.front()
                               : std::filesystem::path(chosen.front()).parent_path().string();
        settings_->writeString(kOpenPath, remembered);
    }
    for (const std::string& path : chosen) {
        if (BatchList::checkProfile(path)) {
            ui_->profileList->addItem(QString::fromStdString(path));
        }
    }
    updateButtons();
}

void BatchDlg::OnRemove() {
    const std::vector<int> rows = selectedRows(*ui_->profileList);
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        delete ui_->profileList->takeItem(*row);
    }
    updateButtons();
}

void BatchDlg::moveSelected(int step) {
    const std::vector<int> rows = selectedRows(*ui_->profileList);
    if (rows.empty()) {
        return;
    }
    const int from = rows.front();
    const int to = from + step;
    if (to >= 0 && to < ui_->profileList->count()) {
        QListWidgetItem* item = ui_->profileList->takeItem(from);
        ui_->profileList->insertItem(to, item);
        ui_->profileList->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    }
    updateButtons();
}

void BatchDlg::OnMoveUp() {
    moveSelected(-1);
}

void BatchDlg::OnMoveDown() {
    moveSelected(1);
}

void BatchDlg::accept() {
    batch_.profilePaths.clear();
    for (int row = 0; row < ui_->profileList->count(); ++row) {
        batch_.profilePaths.push_back(ui_->profileList->item(row)->text().toStdString());
    }
    batch_.modified = true;
    QDialog::accept();
}
