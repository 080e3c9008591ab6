#include "ui/report/ProblemLogDlg.h"

#include <QDialogButtonBox>
#include <QListWidget>

#include "ui_ProblemLogDlg.h"

ProblemLogDlg::ProblemLogDlg(const ProblemList& problems, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ProblemLogDlg>()) {
    ui_->setupUi(this);
    for (const std::string& line : problems) {
        ui_->problemList->addItem(QString::fromStdString(line));
    }
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

ProblemLogDlg::~ProblemLogDlg() = default;
