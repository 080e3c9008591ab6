#include "ui/mainwindow/ConfirmDlg.h"

#include <QPushButton>

#include "ui_ConfirmDlg.h"

ConfirmDlg::ConfirmDlg(const std::string& caption, const std::string& line1,
                       const std::string& line2, const std::string& line3, const std::string& line4,
                       QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ConfirmDlg>()) {
    ui_->setupUi(this);
    setWindowTitle(QString::fromStdString(caption));
    ui_->line1Label->setText(QString::fromStdString(line1));
    ui_->line2Label->setText(QString::fromStdString(line2));
    ui_->line3Label->setText(QString::fromStdString(line3));
    ui_->line4Label->setText(QString::fromStdString(line4));
    ui_->yesButton->setDefault(true);
    connect(ui_->yesButton, &QPushButton::clicked, this, [this] { finish(ConfirmAnswer::Yes); });
    connect(ui_->yesToAllButton, &QPushButton::clicked, this,
            [this] { finish(ConfirmAnswer::YesToAll); });
    connect(ui_->noButton, &QPushButton::clicked, this, [this] { finish(ConfirmAnswer::No); });
    connect(ui_->noToAllButton, &QPushButton::clicked, this,
            [this] { finish(ConfirmAnswer::NoToAll); });
    connect(ui_->cancelButton, &QPushButton::clicked, this,
            [this] { finish(ConfirmAnswer::Cancel); });
}

ConfirmDlg::~ConfirmDlg() = default;

void ConfirmDlg::finish(ConfirmAnswer answer) {
    answer_ = answer;
    if (answer == ConfirmAnswer::Cancel) {
        reject();
    } else {
        accept();
    }
}
