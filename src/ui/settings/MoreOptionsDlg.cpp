#include "ui/settings/MoreOptionsDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "common/ErrorReport.h"
#include "profiles/Profile.h"
#include "ui/Tooltips.h"
#include "ui/mainwindow/FileDialogs.h"
#include "ui/settings/IntegerBox.h"
#include "ui_MoreOptionsDlg.h"

MoreOptionsDlg::MoreOptionsDlg(Profile& profile, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::MoreOptionsDlg>()), profile_(profile) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &MoreOptionsDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &MoreOptionsDlg::reject);
    connect(ui_->logFileCheck, &QCheckBox::clicked, this, &MoreOptionsDlg::OnLogFile);
    connect(ui_->logBrowseButton, &QPushButton::clicked, this, &MoreOptionsDlg::OnBrowse);

    const QString compareTip = "Select whether to make comparisons based on time or file size";
    const QString adjustTip = "+ or - time to adjust FTP server times by";
    applyTooltips({
        {ui_->autoStartCheck,
         "If Kelvane is run by opening (double clicking) a profile file the "
         "synchronisation will automatically start immediately"},
        {ui_->compareTimeRadio, compareTip},
        {ui_->compareSizeRadio, compareTip},
        {ui_->logFileCheck, "Output synchronisation results to a log file"},
        {ui_->logPathEdit, "Path of log file to send synchronisation results to"},
        {ui_->logOverwriteRadio, "Select to overwrite an existing log file"},
        {ui_->logAppendRadio, "Select to append to an existing log file"},
        {ui_->adjustHoursEdit, adjustTip},
        {ui_->adjustMinsEdit, adjustTip},
        {ui_->adjustLabel, adjustTip},
    });

    // Every value but 0 starts the run when the profile opens, so every such value shows ticked
    // (the program has only ever written 1 and 2).
    ui_->autoStartCheck->setChecked(profile_.auto_start != 0);
    (profile_.compare_on_time ? ui_->compareTimeRadio : ui_->compareSizeRadio)->setChecked(true);
    ui_->adjustHoursEdit->setText(QString::number(profile_.adjust_time_hours));
    ui_->adjustMinsEdit->setText(QString::number(profile_.adjust_time_mins));
    ui_->logFileCheck->setChecked(profile_.log_file_on);
    ui_->logPathEdit->setText(QString::fromStdString(profile_.log_file_path));
    (profile_.log_file_append ? ui_->logAppendRadio : ui_->logOverwriteRadio)->setChecked(true);
    enableLogControls();
}

MoreOptionsDlg::~MoreOptionsDlg() = default;

void MoreOptionsDlg::enableLogControls() {
    const bool on = ui_->logFileCheck->isChecked();
    ui_->logPathEdit->setEnabled(on);
    ui_->logBrowseButton->setEnabled(on);
    ui_->logOverwriteRadio->setEnabled(on);
    ui_->logAppendRadio->setEnabled(on);
}

void MoreOptionsDlg::OnLogFile() {
    enableLogControls();
}

void MoreOptionsDlg::OnBrowse() {
    const std::optional<std::string> chosen = fileDialogs().openNewOrExistingFile(
        this, "Log File", ui_->logPathEdit->text().toStdString(), "Kelvane log file (text) (*.txt)",
        "txt");
    if (chosen) {
        ui_->logPathEdit->setText(QString::fromStdString(*chosen));
    }
}

void MoreOptionsDlg::accept() {
    const std::optional<std::int64_t> hours = readIntegerBox(*ui_->adjustHoursEdit, -12, 12);
    if (!hours) {
        return;
    }
    const std::optional<std::int64_t> minutes = readIntegerBox(*ui_->adjustMinsEdit, -59, 59);
    if (!minutes) {
        return;
    }
    const std::string logPath = ui_->logPathEdit->text().toStdString();
    if (ui_->logFileCheck->isChecked() && logPath.empty()) {
        reportError("MoreOptionsDlg::OnOK", "You have selected logging and must specify a log file",
                    false);
        return;
    }
    profile_.auto_start = ui_->autoStartCheck->isChecked() ? 1 : 0;
    profile_.compare_on_time = ui_->compareTimeRadio->isChecked();
    profile_.adjust_time_hours = static_cast<std::int32_t>(*hours);
    profile_.adjust_time_mins = static_cast<std::int32_t>(*minutes);
    profile_.log_file_on = ui_->logFileCheck->isChecked();
    profile_.log_file_append = ui_->logAppendRadio->isChecked();
    profile_.log_file_path = logPath;
    profile_.modified = true;
    QDialog::accept();
}
