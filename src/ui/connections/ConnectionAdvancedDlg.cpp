#include "ui/connections/ConnectionAdvancedDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/Tooltips.h"
#include "ui/settings/IntegerBox.h"
#include "ui_ConnectionAdvancedDlg.h"

namespace {

constexpr std::int64_t kHighestPort = 65535;

// The encryption choices in the order of the box.
constexpr ftp::TlsMode kTlsModes[] = {ftp::TlsMode::Off, ftp::TlsMode::Required,
                                      ftp::TlsMode::Offered};

}  // namespace

ConnectionAdvancedDlg::ConnectionAdvancedDlg(const Settings& settings, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ConnectionAdvancedDlg>()), settings_(settings) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &ConnectionAdvancedDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &ConnectionAdvancedDlg::reject);

    const QString modeTip = "Select active or passive mode (active is normal)";
    applyTooltips({
        {ui_->portEdit, "Enter server port number to connect to (0 for default)"},
        {ui_->activeModeRadio, modeTip},
        {ui_->passiveModeRadio, modeTip},
        {ui_->tlsCombo, "Encrypt the password and the files with FTP over TLS (FTPS)"},
        {ui_->forgetCertificateButton,
         "Forget the trusted certificate: the next connection asks again"},
    });

    ui_->portEdit->setText(QString::number(settings_.port));
    (settings_.passive ? ui_->passiveModeRadio : ui_->activeModeRadio)->setChecked(true);
    for (std::size_t i = 0; i < std::size(kTlsModes); ++i) {
        if (kTlsModes[i] == settings_.tlsMode) {
            ui_->tlsCombo->setCurrentIndex(static_cast<int>(i));
        }
    }
    connect(ui_->forgetCertificateButton, &QPushButton::clicked, this, [this] {
        settings_.tlsFingerprint.clear();
        showTrustedCertificate();
    });
    showTrustedCertificate();
    ui_->portEdit->setFocus();
    ui_->portEdit->selectAll();
}

ConnectionAdvancedDlg::~ConnectionAdvancedDlg() = default;

void ConnectionAdvancedDlg::showTrustedCertificate() {
    const bool trusted = !settings_.tlsFingerprint.empty();
    ui_->certificateEdit->setText(trusted ? QString::fromStdString(settings_.tlsFingerprint)
                                          : QStringLiteral("None"));
    ui_->certificateEdit->setCursorPosition(0);
    ui_->forgetCertificateButton->setEnabled(trusted);
}

void ConnectionAdvancedDlg::accept() {
    const std::optional<std::int64_t> port = readUnsignedBox(*ui_->portEdit, 0, kHighestPort);
    if (!port) {
        return;
    }
    settings_.port = static_cast<std::uint16_t>(*port);
    settings_.passive = ui_->passiveModeRadio->isChecked();
    const int tls = ui_->tlsCombo->currentIndex();
    if (tls >= 0 && static_cast<std::size_t>(tls) < std::size(kTlsModes)) {
        settings_.tlsMode = kTlsModes[tls];
    }
    QDialog::accept();
}
