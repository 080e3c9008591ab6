#include "ui/report/SyncReportDlg.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include "common/ErrorReport.h"
#include "ui/Tooltips.h"
#include "ui/report/ProblemLogDlg.h"
#include "ui/report/SyncResultsDlg.h"
#include "ui_SyncReportDlg.h"

namespace {

const ActionLists kNoLists;
const ProblemList kNoProblems;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

SyncReportDlg::SyncReportDlg(const ReportData& report, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::SyncReportDlg>()),
      lists_(report.lists != nullptr ? *report.lists : kNoLists),
      problems_(report.problems != nullptr ? *report.problems : kNoProblems) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->viewProblemLogButton, &QPushButton::clicked, this,
            &SyncReportDlg::OnViewProblemLog);
    connect(ui_->viewDetailsButton, &QPushButton::clicked, this, &SyncReportDlg::OnViewDetails);

    applyTooltips({
        {ui_->ftpLocationEdit, "The target location"},
        {ui_->localLocationEdit, "The source location"},
        {ui_->overwrittenEdit, "Number of files overwritten"},
        {ui_->addedFilesEdit, "Number of files added"},
        {ui_->deletedFilesEdit, "Number of files deleted"},
        {ui_->addedFoldersEdit, "Number of folders added"},
        {ui_->deletedFoldersEdit, "Number of folders deleted"},
        {ui_->viewProblemLogButton, "Some problems were encountered - click to view"},
        {ui_->viewDetailsButton, "Display detailed report"},
    });

    // The headings end with a line break; on screen it would only add an empty line.
    QString heading = qs(report.heading);
    while (heading.endsWith('\n')) {
        heading.chop(1);
    }
    QFont headingFont = ui_->headingLabel->font();
    headingFont.setBold(true);
    ui_->headingLabel->setFont(headingFont);
    ui_->headingLabel->setText(heading);

    ui_->localLocationEdit->setText(qs(report.source));
    ui_->ftpLocationEdit->setText(qs(report.target));
    ui_->overwrittenEdit->setText(QString::number(lists_.overwrittenCount));
    ui_->addedFilesEdit->setText(QString::number(lists_.addedFilesCount));
    ui_->deletedFilesEdit->setText(QString::number(lists_.deletedFilesCount));
    ui_->addedFoldersEdit->setText(QString::number(lists_.addedFoldersCount));
    ui_->deletedFoldersEdit->setText(QString::number(lists_.deletedFoldersCount));
    for (QLineEdit* edit : {ui_->localLocationEdit, ui_->ftpLocationEdit}) {
        edit->setCursorPosition(0);
    }

    if (problems_.empty()) {
        ui_->problemsLabel->hide();
        ui_->viewProblemLogButton->hide();
    }
}

SyncReportDlg::~SyncReportDlg() = default;

int SyncReportDlg::exec() {
    if (quietMode.load()) {
        done(Accepted);
        return Accepted;
    }
    return QDialog::exec();
}

std::unique_ptr<ProblemLogDlg> SyncReportDlg::makeProblemLog() {
    return std::make_unique<ProblemLogDlg>(problems_, this);
}

std::unique_ptr<SyncResultsDlg> SyncReportDlg::makeDetails() {
    return std::make_unique<SyncResultsDlg>(lists_, this);
}

void SyncReportDlg::OnViewProblemLog() {
    makeProblemLog()->exec();
}

void SyncReportDlg::OnViewDetails() {
    makeDetails()->exec();
}
