#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "transfer/ftp/Tls.h"

namespace Ui {
class ConnectionAdvancedDlg;
}

// "FTP Connection Advanced Settings": the port, the transfer mode and the encryption (FTP over
// TLS, with the certificate trusted for the connection) of one connection. Opened
// by the connection edit dialog with the values it keeps; hands them back on OK.
class ConnectionAdvancedDlg : public QDialog {
    Q_OBJECT

  public:
    // What the dialog shows and hands back; a connection's other transfer settings join here.
    struct Settings {
        std::uint16_t port = 0;  // 0: the protocol's default
        bool passive = false;    // the mode: false active (0), true passive (1)
        ftp::TlsMode tlsMode = ftp::TlsMode::Off;
        std::string tlsFingerprint;  // the trusted certificate; "Forget" empties it
    };

    explicit ConnectionAdvancedDlg(const Settings& settings, QWidget* parent = nullptr);
    ~ConnectionAdvancedDlg() override;

    // The values taken on OK; until then, those given.
    const Settings& settings() const { return settings_; }

  public slots:
    // Refuses a port that is not a number from 0 to 65535 (the record keeps 16 bits).
    void accept() override;

  private:
    void showTrustedCertificate();

    std::unique_ptr<Ui::ConnectionAdvancedDlg> ui_;
    Settings settings_;
};
