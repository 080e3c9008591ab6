#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "transfer/ftp/Tls.h"

namespace Ui {
class TrustCertificateDlg;
}

// "Untrusted Certificate": asked once when a connection's server shows a certificate that the
// system does not vouch for, or one other than the certificate trusted before. Shows what the
// certificate says of itself and its SHA-256 fingerprint, for the person to compare with what
// the web host publishes; Trust (Accepted) pins it for the connection, Cancel gives up.
class TrustCertificateDlg : public QDialog {
    Q_OBJECT

  public:
    // `trusted`: the fingerprint pinned before (empty when none), which the shown one replaces.
    TrustCertificateDlg(const std::string& connectionName, const ftp::CertificateInfo& seen,
                        const std::string& trusted, QWidget* parent = nullptr);
    ~TrustCertificateDlg() override;

    // The explanation above the certificate's fields, as shown.
    QString explanation() const;

  private:
    std::unique_ptr<Ui::TrustCertificateDlg> ui_;
};
