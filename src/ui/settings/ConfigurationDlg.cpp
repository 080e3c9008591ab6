#include "ui/settings/ConfigurationDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "transfer/ConnectionPool.h"
#include "ui/Tooltips.h"
#include "ui/mainwindow/FileDialogs.h"
#include "ui/settings/AboutDlg.h"
#include "ui/settings/IntegerBox.h"
#include "ui_ConfigurationDlg.h"

namespace {

constexpr std::int64_t kSecondsPerMinute = 60;

}  // namespace

ConfigurationDlg::ConfigurationDlg(ConfigurationSettings& settings,
                                   std::string& connectionsFileName, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ConfigurationDlg>()),
      settings_(settings),
      connectionsFileName_(connectionsFileName) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &ConfigurationDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &ConfigurationDlg::reject);
    connect(ui_->connectionTimeoutCheck, &QCheckBox::clicked, this,
            &ConfigurationDlg::OnConnectionTimeout);
    connect(ui_->connectionsBrowseButton, &QPushButton::clicked, this, &ConfigurationDlg::OnBrowse);
    connect(ui_->aboutButton, &QPushButton::clicked, this, &ConfigurationDlg::OnAbout);

    const QString dateTip = "Format for displaying dates in detailed file listings";
    const QString connectionsTip = "Where your FTP connection details are stored";
    applyTooltips({
        {ui_->aboutButton, "Information about Kelvane including the current version being run"},
        {ui_->ddmmyyRadio, dateTip},
        {ui_->mmddyyRadio, dateTip},
        {ui_->dateFormatLabel, dateTip},
        {ui_->showTooltipsCheck, "If unselected these tooltip boxes will no longer displayed"},
        {ui_->connectionTimeoutCheck,
         "Kelvane will close the FTP connection on timing out (it will not hangup the line)"},
        {ui_->connectionTimeoutEdit, "Number of idle minutes before timing out"},
        {ui_->commandTimeoutEdit,
         "Time allowed for a command to complete. Files are copied "
         "using a series of small commands"},
        {ui_->connectionsFileEdit, connectionsTip},
        {ui_->connectionsBrowseButton, connectionsTip},
        {ui_->maxRetriesEdit,
         "If an FTP command fails it will be re-tried up to this number of times"},
        {ui_->ftpConnectionsEdit,
         "Logins a synchronisation may use at once to upload, delete and list (1 to 16). "
         "A server that allows fewer gets fewer"},
    });

    (settings_.ddmmyy ? ui_->ddmmyyRadio : ui_->mmddyyRadio)->setChecked(true);
    ui_->showTooltipsCheck->setChecked(settings_.showTooltips);
    ui_->commandTimeoutEdit->setText(QString::number(settings_.commandTimeout));
    ui_->maxRetriesEdit->setText(QString::number(settings_.maxCommandRetries));
    ui_->ftpConnectionsEdit->setText(QString::number(settings_.ftpConnections));
    ui_->connectionsFileEdit->setText(QString::fromStdString(connectionsFileName_));
    ui_->connectionTimeoutCheck->setChecked(settings_.isFtpConnectionTimeout);
    ui_->connectionTimeoutEdit->setText(
        QString::number(settings_.ftpConnectionTimeoutSeconds / kSecondsPerMinute));
    OnConnectionTimeout();
}

ConfigurationDlg::~ConfigurationDlg() = default;

void ConfigurationDlg::OnConnectionTimeout() {
    ui_->connectionTimeoutEdit->setEnabled(ui_->connectionTimeoutCheck->isChecked());
}

void ConfigurationDlg::OnBrowse() {
    // The file is not made here: the caller moves the current one there after OK.
    const std::optional<std::string> chosen = fileDialogs().saveFile(
        this, "Connections File", ui_->connectionsFileEdit->text().toStdString(),
        "FTP connections file (*.txt)", "txt");
    if (chosen) {
        ui_->connectionsFileEdit->setText(QString::fromStdString(*chosen));
    }
}

std::unique_ptr<AboutDlg> ConfigurationDlg::makeAbout() {
    return std::make_unique<AboutDlg>(this);
}

void ConfigurationDlg::OnAbout() {
    makeAbout()->exec();
}

void ConfigurationDlg::accept() {
    const std::optional<std::int64_t> commandTimeout =
        readUnsignedBox(*ui_->commandTimeoutEdit, 10, 99999);
    if (!commandTimeout) {
        return;
    }
    const std::optional<std::int64_t> retries = readIntegerBox(*ui_->maxRetriesEdit, 0, 10);
    if (!retries) {
        return;
    }
    const std::optional<std::int64_t> logins =
        readUnsignedBox(*ui_->ftpConnectionsEdit, 1, kMaxFtpConnections);
    if (!logins) {
        return;
    }
    // A disabled box cannot be corrected, so it is not checked; its value is kept as it was.
    std::int64_t timeoutSeconds = settings_.ftpConnectionTimeoutSeconds;
    if (ui_->connectionTimeoutCheck->isChecked()) {
        const std::optional<std::int64_t> minutes =
            readUnsignedBox(*ui_->connectionTimeoutEdit, 1, 999);
        if (!minutes) {
            return;
        }
        timeoutSeconds = *minutes * kSecondsPerMinute;
    }
    settings_.ddmmyy = ui_->ddmmyyRadio->isChecked();
    settings_.showTooltips = ui_->showTooltipsCheck->isChecked();
    settings_.commandTimeout = static_cast<std::uint32_t>(*commandTimeout);
    settings_.maxCommandRetries = static_cast<std::uint32_t>(*retries);
    settings_.ftpConnections = static_cast<std::uint32_t>(*logins);
    settings_.isFtpConnectionTimeout = ui_->connectionTimeoutCheck->isChecked();
    settings_.ftpConnectionTimeoutSeconds = timeoutSeconds;
    connectionsFileName_ = ui_->connectionsFileEdit->text().toStdString();
    QDialog::accept();
}
