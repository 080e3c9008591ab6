#include "ui/mainwindow/ConnectingDlg.h"

#include "common/ErrorReport.h"
#include "engine/ConnectingLogic.h"
#include "transfer/ConnectionDetails.h"
#include "ui_ConnectingDlg.h"

ConnectingDlg::ConnectingDlg(std::shared_ptr<ConnectionDetails> connection, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ConnectingDlg>()),
      connection_(std::move(connection)) {
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
    const bool connected = connectAsDialogWould(connection_);
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
