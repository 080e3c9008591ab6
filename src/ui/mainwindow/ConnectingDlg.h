#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

class ConnectionDetails;
namespace Ui {
class ConnectingDlg;
}

// "Please wait...": shown while a connection logs in, so that the person sees what the program
// waits for and can give up with Stop. It connects on the first tick of its timer, after it has
// appeared; the result is Accepted when the connection is open.
//
// Where a person asked for the connection (Connect, the browse dialogs) `askTrust` is set: a
// server certificate that is refused is then put to the question (TrustCertificateDlg, through
// runModal), and on Trust it is pinned for the connection and saved beside the connections file
// (setTrustedCertificatesFile). A run sets nothing and never asks.
class ConnectingDlg : public QDialog {
    Q_OBJECT

  public:
    explicit ConnectingDlg(std::shared_ptr<ConnectionDetails> connection, QWidget* parent = nullptr,
                           bool askTrust = false);

    // The connections file whose TLS settings keep the certificates trusted here; the main
    // window sets it as it reads the settings and when the file moves.
    static void setTrustedCertificatesFile(const std::string& connectionsFile);
    ~ConnectingDlg() override;

  public slots:
    // The connection attempt (timer 3). A failure that Stop did not cause is reported.
    void OnTimer();
    // Ends the attempt in progress; the dialog then closes with Cancel and no message.
    void OnStop();
    // Escape and the close box stop an attempt in progress the way Stop does (the dialog cannot
    // vanish while the attempt it shows is still on the call stack); before it, they just close.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::unique_ptr<Ui::ConnectingDlg> ui_;
    std::shared_ptr<ConnectionDetails> connection_;
    QTimer timer_;
    bool timerStarted_ = false;
    bool connecting_ = false;
    bool askTrust_ = false;
};
