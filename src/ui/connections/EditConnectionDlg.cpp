#include "ui/connections/EditConnectionDlg.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <utility>

#include "common/Prompter.h"
#include "transfer/ConnectionChecks.h"
#include "transfer/ConnectionDetails.h"
#include "ui/ModalDialog.h"
#include "ui/Tooltips.h"
#include "ui_EditConnectionDlg.h"

namespace {

// A connections file written on another machine may hold bytes that are not UTF-8; the box
// shows them replaced. A field left as it was keeps its bytes, so that opening the dialog to
// change the server does not change a password behind the person's back.
std::string typedText(const QLineEdit& box, const std::string& stored) {
    const QString text = box.text();
    return text == QString::fromStdString(stored) ? stored : text.toStdString();
}

}  // namespace

EditConnectionDlg::EditConnectionDlg(std::set<std::string> namesInUse,
                                     std::shared_ptr<ConnectionDetails> connection, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::EditConnectionDlg>()),
      namesInUse_(std::move(namesInUse)),
      connection_(std::move(connection)) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &EditConnectionDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &EditConnectionDlg::reject);
    connect(ui_->advancedButton, &QPushButton::clicked, this, &EditConnectionDlg::OnAdvanced);

    const QString nameTip = "Descriptive name of the connection";
    applyTooltips({
        {ui_->nameEdit, nameTip},
        {ui_->serverEdit, "Server address eg. " + QString::fromUtf8(kExampleFtpServer.data(),
                                                                    kExampleFtpServer.size())},
        {ui_->userEdit, "Your FTP user name"},
        {ui_->passwordEdit, "Your FTP password"},
        {ui_->emailEdit, "Email only used for Anonymous FTP"},
        {ui_->advancedButton, "Advanced connection settings"},
    });

    if (connection_ != nullptr) {
        ui_->nameEdit->setText(QString::fromStdString(connection_->name));
        ui_->serverEdit->setText(QString::fromStdString(connection_->server));
        ui_->userEdit->setText(QString::fromStdString(connection_->user));
        ui_->passwordEdit->setText(QString::fromStdString(connection_->password));
        ui_->emailEdit->setText(QString::fromStdString(connection_->email));
        advanced_.port = connection_->port;
        advanced_.passive = connection_->passive;
        advanced_.tlsMode = connection_->tlsMode;
        advanced_.tlsFingerprint = connection_->tlsFingerprint;
    }
    ui_->nameEdit->setFocus();
}

EditConnectionDlg::~EditConnectionDlg() = default;

void EditConnectionDlg::OnAdvanced() {
    ConnectionAdvancedDlg dialog(advanced_, this);
    if (runModal(dialog) == QDialog::Accepted) {
        advanced_ = dialog.settings();
    }
}

void EditConnectionDlg::accept() {
    if (connection_ == nullptr) {
        return;
    }
    ConnectionDetails typed;
    typed.name = typedText(*ui_->nameEdit, connection_->name);
    typed.server = typedText(*ui_->serverEdit, connection_->server);
    typed.user = typedText(*ui_->userEdit, connection_->user);
    typed.password = typedText(*ui_->passwordEdit, connection_->password);
    typed.email = typedText(*ui_->emailEdit, connection_->email);
    typed.port = advanced_.port;
    typed.passive = advanced_.passive;
    typed.tlsMode = advanced_.tlsMode;
    typed.tlsFingerprint = advanced_.tlsFingerprint;
    const std::string problem = connectionDetailsProblem(typed, namesInUse_);
    if (!problem.empty()) {
        prompter().messageBox(problem);
        return;
    }
    copyStoredFields(typed, *connection_);
    QDialog::accept();
}
