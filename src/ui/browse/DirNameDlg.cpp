#include "ui/browse/DirNameDlg.h"

#include <QDialogButtonBox>
#include <QPushButton>

#include "ui_DirNameDlg.h"

DirNameDlg::DirNameDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::DirNameDlg>()) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ui_->dirNameEdit->setFocus();
}

DirNameDlg::~DirNameDlg() = default;

std::string DirNameDlg::directoryName() const {
    return ui_->dirNameEdit->text().toStdString();
}

void DirNameDlg::setDirectoryName(const std::string& name) {
    ui_->dirNameEdit->setText(QString::fromStdString(name));
}
