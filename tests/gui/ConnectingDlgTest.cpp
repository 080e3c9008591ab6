// The "Please wait..." dialog against real servers: it connects once it is shown, reports a
// failed login, and Stop (or Escape) ends a slow login without a message.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "common/ErrorReport.h"
#include "support/CommandGlobals.h"
#include "support/FaultFtpServer.h"
#include "support/PyFtpdServer.h"
#include "support/RecordingPrompter.h"
#include "transfer/ConnectionDetails.h"
#include "ui/QtMessagePump.h"
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

}  // namespace
