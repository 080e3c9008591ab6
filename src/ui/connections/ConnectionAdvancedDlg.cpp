#include "ui/connections/ConnectionAdvancedDlg.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QRadioButton>

#include "ui/Tooltips.h"
#include "ui/settings/IntegerBox.h"
#include "ui_ConnectionAdvancedDlg.h"

namespace {

constexpr std::int64_t kHighestPort = 65535;

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
    });

    ui_->portEdit->setText(QString::number(settings_.port));
    (settings_.passive ? ui_->passiveModeRadio : ui_->activeModeRadio)->setChecked(true);
    ui_->portEdit->setFocus();
    ui_->portEdit->selectAll();
}

ConnectionAdvancedDlg::~ConnectionAdvancedDlg() = default;

void ConnectionAdvancedDlg::accept() {
    const std::optional<std::int64_t> port = readUnsignedBox(*ui_->portEdit, 0, kHighestPort);
    if (!port) {
        return;
    }
    settings_.port = static_cast<std::uint16_t>(*port);
    settings_.passive = ui_->passiveModeRadio->isChecked();
    QDialog::accept();
}
