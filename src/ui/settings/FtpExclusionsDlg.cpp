#include "ui/settings/FtpExclusionsDlg.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <vector>

#include "common/ErrorReport.h"
#include "profiles/ExclusionSet.h"
#include "transfer/ConnectionDetails.h"
#include "ui/ModalDialog.h"
#include "ui/Tooltips.h"
#include "ui/browse/BrowseFtpDlg.h"
#include "ui/browse/ConnectionChoice.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/settings/ExclusionLists.h"
#include "ui_FtpExclusionsDlg.h"

FtpExclusionsDlg::FtpExclusionsDlg(ExclusionSet& exclusions, ConnectionList& connections,
                                   std::shared_ptr<ConnectionDetails>& active,
                                   const std::string& ftpPath, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::FtpExclusionsDlg>()),
      exclusions_(exclusions),
      connections_(connections),
      active_(active),
      ftpPath_(ftpPath) {
    ui_->setupUi(this);
    applyTooltips({
        {ui_->exactList, "List of files/folders to be excluded from the synchronisation"},
        {ui_->removeButton, "Remove selected files/folders from the exclusion list"},
        {ui_->browseButton, "Explorer style display of excluded files/folders (needs to connect)"},
        {ui_->lostFilesButton, "Select files/folders from the exclusion list that no longer exist"},
    });
    fillExclusionBox(*ui_->exactList, exclusions_.exactEntries());
    connect(ui_->browseButton, &QPushButton::clicked, this, &FtpExclusionsDlg::OnBrowse);
    connect(ui_->removeButton, &QPushButton::clicked, this, &FtpExclusionsDlg::OnRemove);
    connect(ui_->lostFilesButton, &QPushButton::clicked, this, &FtpExclusionsDlg::OnLostFiles);
    connect(ui_->exactList, &QListWidget::itemSelectionChanged, this,
            &FtpExclusionsDlg::updateButtons);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &FtpExclusionsDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &FtpExclusionsDlg::reject);
    updateButtons();
}

FtpExclusionsDlg::~FtpExclusionsDlg() = default;

void FtpExclusionsDlg::updateButtons() {
    ui_->removeButton->setEnabled(!ui_->exactList->selectedItems().isEmpty());
}

void FtpExclusionsDlg::OnBrowse() {
    BrowseFtpDlg browse(connections_, active_, ftpPath_, &exclusions_, this);
    const bool accepted = runModal(browse) == QDialog::Accepted;
    connectionsChanged_ = connectionsChanged_ || browse.connectionsChanged();
    if (accepted) {
        ftpPath_ = browse.currentDirectory();
        fillExclusionBox(*ui_->exactList, exclusions_.exactEntries());
    }
    updateButtons();
}

void FtpExclusionsDlg::OnRemove() {
    removeSelectedExactEntries(*ui_->exactList, exclusions_);
    updateButtons();
}

void FtpExclusionsDlg::OnLostFiles() {
    if (active_ == nullptr || !active_->isConnected()) {
        bool changed = false;
        if (chooseConnection(this, connections_, active_, changed)) {
            connectionsChanged_ = connectionsChanged_ || changed;
            if (active_ != nullptr && !active_->isConnected()) {
                ConnectingDlg connecting(active_, this, true);
                runModal(connecting);
            }
        }
        if (active_ == nullptr || !active_->isConnected()) {
            return;
        }
    }
    std::vector<std::string> lost;
    // A copy: the server's answers keep the window's events running.
    const std::vector<FileEntryPtr> entries = exclusions_.exactEntries();
    for (const FileEntryPtr& entry : entries) {
        ui_->checkingLabel->setText(QStringLiteral("Checking..."));
        ui_->checkedNameLabel->setText(QString::fromStdString(entry->name));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!active_->pathExists(entry->fullPath())) {
            // Missing, or the server no longer answers: only a server that still answers
            // makes it missing, so that Remove never drops exclusions the server still has.
            std::string here;
            if (!active_->printWorkingDirectory(here)) {
                reportError("FtpExclusionsDlg::OnLostFiles",
                            "Could not check the exclusions on the server", true);
                break;
            }
            lost.push_back(exclusionLine(*entry).toStdString());
        }
    }
    ui_->checkingLabel->clear();
    ui_->checkedNameLabel->clear();
    selectLines(*ui_->exactList, lost);
    updateButtons();
}
