// The "Please wait..." dialog against real servers: it connects once it is shown, reports a
// failed login, and Stop (or Escape) ends a slow login without a message.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "common/ErrorReport.h"
#include "support/CommandGlobals.h"
#include "support/FaultFtpServer.h"
#include "support/PyFtpdServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionsFile.h"
#include "ui/ModalDialog.h"
#include "ui/QtMessagePump.h"
#include "ui/connections/TrustCertificateDlg.h"
#include "ui/mainwindow/ConnectingDlg.h"

namespace {

using namespace std::chrono_literals;

class ConnectingDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        globals_.takeOver(10, 0, &prompter_);
        setMessagePump(&pump_);
    }
    void TearDown() override {
        if (connection_ != nullptr) {
            connection_->disconnectFtp();
        }
        setMessagePump(nullptr);
        globals_.giveBack();
    }

    std::shared_ptr<ConnectionDetails> connectionTo(const std::string& host, std::uint16_t port,
                                                    const std::string& user,
                                                    const std::string& password) {
        connection_ = std::make_shared<ConnectionDetails>();
        connection_->name = "Harbour Site";
        connection_->server = host;
        connection_->port = port;
        connection_->user = user;
        connection_->password = password;
        connection_->passive = true;
        return connection_;
    }

    // Shows the dialog as exec() would and lets its timer run until it closes (20 s at most).
    static int showUntilClosed(ConnectingDlg& dialog) {
        dialog.show();
        QElapsedTimer clock;
        clock.start();
        while (dialog.isVisible() && clock.elapsed() < 20000) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        EXPECT_FALSE(dialog.isVisible()) << "the dialog did not close";
        return dialog.result();
    }

    testsupport::RecordingPrompter prompter_;
    std::shared_ptr<ConnectionDetails> connection_;

  private:
    testsupport::CommandGlobals globals_;
    QtMessagePump pump_;
};

TEST_F(ConnectingDlgTest, ConnectsOnceShownAndClosesWithOk) {
    testsupport::PyFtpdServer server;
    ASSERT_TRUE(server.start()) << server.error();
    ConnectingDlg dialog(
        connectionTo(server.host(), server.port(), server.user(), server.password()));
    EXPECT_EQ(dialog.windowTitle(), "Please wait...");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("connectionNameEdit")->text(), "Harbour Site");

    EXPECT_EQ(showUntilClosed(dialog), QDialog::Accepted);
    EXPECT_TRUE(connection_->isConnected());
    EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(ConnectingDlgTest, AFailedLoginIsReportedWithItsReason) {
    testsupport::PyFtpdServer server;
    ASSERT_TRUE(server.start()) << server.error();
    ConnectingDlg dialog(connectionTo(server.host(), server.port(), server.rejectedUser(),
                                      server.rejectedPassword()));

    EXPECT_EQ(showUntilClosed(dialog), QDialog::Rejected);
    EXPECT_FALSE(connection_->isConnected());
    ASSERT_EQ(prompter_.messages.size(), 1u);
    const std::string& message = prompter_.messages.front();
    const std::string heading = "Failed to connect to FTP server\n";
    EXPECT_EQ(message.rfind(heading, 0), 0u) << message;
    EXPECT_GT(message.size(), heading.size()) << "no reason given";
}

TEST_F(ConnectingDlgTest, WithoutAConnectionItReportsAndCancels) {
    ConnectingDlg dialog(nullptr);
    dialog.OnTimer();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages.front().rfind("Failed to connect to FTP server\n", 0), 0u);
}

TEST_F(ConnectingDlgTest, StopOrEscapeDuringASlowLoginCancelsWithoutAMessage) {
    for (const bool escape : {false, true}) {
        testsupport::FaultFtpServer server;
        ASSERT_TRUE(server.start()) << server.error();
        // Longer than the test waits for the press, shorter than the command limit.
        server.delayNext("USER", 3s);
        prompter_.messages.clear();
        stopRequested = false;
        ConnectingDlg dialog(
            connectionTo(server.host(), server.port(), server.user(), server.password()));
        QTimer::singleShot(400, &dialog, [&dialog, escape] {
            if (escape) {
                dialog.reject();
            } else {
                dialog.findChild<QPushButton*>("stopButton")->click();
            }
        });

        EXPECT_EQ(showUntilClosed(dialog), QDialog::Rejected) << escape;
        EXPECT_FALSE(connection_->isConnected());
        EXPECT_TRUE(prompter_.messages.empty()) << prompter_.messages.front();
        // The run that opened the dialog learns that the person stopped it.
        EXPECT_TRUE(stopRequested.load());
        connection_->disconnectFtp();
    }
}

TEST_F(ConnectingDlgTest, AnUntrustedCertificateIsAskedAboutOnceAndPinnedOnTrust) {
    testsupport::PyFtpdServer server;
    ASSERT_TRUE(server.useTls()) << server.error();
    ASSERT_TRUE(server.start()) << server.error();
    testsupport::TempFolder folder;
    const auto file = folder.path() / "KelvaneConnections.txt";
    ConnectingDlg::setTrustedCertificatesFile(file.string());
    auto connection = connectionTo(server.host(), server.port(), server.user(), server.password());
    connection->tlsMode = ftp::TlsMode::Required;

    // Each answer in turn: Cancel gives up without a message, Trust pins and connects, and
    // then nobody is asked again.
    std::vector<QString> asked;
    int answer = QDialog::Rejected;
    const ModalRunner previous = setModalRunner([&](QDialog& dialog) {
        auto* trust = qobject_cast<TrustCertificateDlg*>(&dialog);
        EXPECT_NE(trust, nullptr) << dialog.objectName().toStdString();
        if (trust != nullptr) {
            asked.push_back(trust->explanation());
            EXPECT_EQ(trust->windowTitle(), "Untrusted Certificate");
            EXPECT_NE(
                trust->findChild<QLabel*>("fingerprintValue")
                    ->text()
                    .indexOf(QString::fromStdString(server.certificateFingerprint()).left(47)),
                -1);
        }
        return answer;
    });
    for (const int given : {int(QDialog::Rejected), int(QDialog::Accepted), -1}) {
        answer = given;
        ConnectingDlg dialog(connection, nullptr, true);
        const int result = showUntilClosed(dialog);
        EXPECT_EQ(result, given == QDialog::Rejected ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_TRUE(prompter_.messages.empty()) << prompter_.messages.front();
        connection->disconnectFtp();
    }
    setModalRunner(previous);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].indexOf("cannot be verified"), -1) << asked[0].toStdString();
    EXPECT_EQ(connection->tlsFingerprint, server.certificateFingerprint());
    const std::string saved = testsupport::readFile(tlsSettingsPath(file));
    EXPECT_NE(saved.find("ConnectionName=Harbour Site\r\nTlsMode=required\r\nTlsFingerprint=" +
                         server.certificateFingerprint()),
              std::string::npos)
        << saved;

    // Without the question (a run), a refused certificate is reported with its fingerprint.
    connection->tlsFingerprint.clear();
    ConnectingDlg run(connection);
    EXPECT_EQ(showUntilClosed(run), QDialog::Rejected);
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_NE(prompter_.messages.front().find(server.certificateFingerprint()), std::string::npos);
    ConnectingDlg::setTrustedCertificatesFile({});
}

}  // namespace
