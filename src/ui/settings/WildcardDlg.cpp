#include "ui/settings/WildcardDlg.h"

#include <QDialogButtonBox>
#include <QPushButton>

#include "ui/ModalDialog.h"
#include "ui/browse/FolderDlg.h"
#include "ui/settings/ExclusionLists.h"
#include "ui_WildcardDlg.h"

WildcardDlg::WildcardDlg(const std::string& folder, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::WildcardDlg>()), folder_(folder) {
    ui_->setupUi(this);
    connect(ui_->browseFoldersButton, &QPushButton::clicked, this, &WildcardDlg::OnBrowseFolders);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &WildcardDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &WildcardDlg::reject);
}

WildcardDlg::~WildcardDlg() = default;

std::string WildcardDlg::wildcard() const {
    return ui_->wildcardEdit->text().toStdString();
}

void WildcardDlg::setWildcard(const std::string& text) {
    ui_->wildcardEdit->setText(QString::fromStdString(text));
}

void WildcardDlg::OnBrowseFolders() {
    FolderDlg chooser(folder_, QStringLiteral("Select Folder"), this);
    if (runModal(chooser) != QDialog::Accepted) {
        return;
    }
    folder_ = chooser.path();
    setWildcard(folder_);
    ui_->wildcardEdit->setFocus();
    ui_->wildcardEdit->setCursorPosition(ui_->wildcardEdit->text().size());
}

void WildcardDlg::accept() {
    exclusionBrowsePath() = folder_;
    QDialog::accept();
}
