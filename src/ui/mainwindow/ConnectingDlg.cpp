#include "ui/mainwindow/ConnectingDlg.h"

#include "common/ErrorReport.h"
#include "engine/ConnectingLogic.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionsFile.h"
#include "ui/ModalDialog.h"
#include "ui/connections/TrustCertificateDlg.h"
#include "ui_ConnectingDlg.h"

namespace {

std::string& trustedCertificatesFile() {
    static std::string file;
    return file;
}

}  // namespace

void ConnectingDlg::setTrustedCertificatesFile(const std::string& connectionsFile) {
    trustedCertificatesFile() = connectionsFile;
}

ConnectingDlg::ConnectingDlg(std::shared_ptr<ConnectionDetails> connection, QWidget* parent,
                             bool askTrust)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ConnectingDlg>()),
      connection_(std::move(connection)),
      askTrust_(askTrust) {
    ui_->setupUi(this);
    if (connection_ != nullptr) {
        ui_->connectionNameEdit->setText(QString::fromStdString(connection_->name));
    }
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &ConnectingDlg::OnTimer);
    connect(ui_->stopButton, &QPushButton::clicked, this, &ConnectingDlg::OnStop);
}

ConnectingDlg::~ConnectingDlg() = default;

void ConnectingDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The attempt starts once the dialog is on screen, so the person sees whom we wait for.
    if (!timerStarted_) {
        timerStarted_ = true;
        timer_.start();
    }
}

void ConnectingDlg::OnTimer() {
    timer_.stop();
    // The wait inside the attempt dispatches events; a second tick must not start another one.
    if (connecting_) {
        return;
    }
    connecting_ = true;
    TrustQuestion question;
    bool trusted = false;
    if (askTrust_) {
        question = [this, &trusted](const ConnectionDetails& connection,
                                    const ftp::CertificateInfo& seen) {
            TrustCertificateDlg dialog(connection.name, seen, connection.tlsFingerprint, this);
            trusted = runModal(dialog) == QDialog::Accepted;
            return trusted;
        };
    }
    const bool connected = connectAsDialogWould(connection_, question);
    if (trusted && !trustedCertificatesFile().empty()) {
        // Kept at once: the connection list may never be saved in this session.
        saveTlsSettings(trustedCertificatesFile(), *connection_);
    }
    connecting_ = false;
    done(connected ? Accepted : Rejected);
}

void ConnectingDlg::OnStop() {
    requestStop();
}

void ConnectingDlg::reject() {
    if (connecting_) {
        requestStop();
        return;
    }
    timer_.stop();
    QDialog::reject();
}
