#include "ui/settings/AboutDlg.h"

#include <QDialogButtonBox>

#include "ui_AboutDlg.h"

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutDlg>()) {
    ui_->setupUi(this);
    QFont nameFont = ui_->programLabel->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
    ui_->programLabel->setFont(nameFont);
    ui_->versionLabel->setText(QStringLiteral("Version %1").arg(QStringLiteral(KELVANE_VERSION)));
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

AboutDlg::~AboutDlg() = default;
