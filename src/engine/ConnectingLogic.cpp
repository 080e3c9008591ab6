#include "engine/ConnectingLogic.h"

#include "common/ErrorReport.h"
#include "transfer/ConnectionDetails.h"

bool connectAsDialogWould(std::shared_ptr<ConnectionDetails> connection,
                          const TrustQuestion& askTrust) {
    stopRequested = false;
    if (connection != nullptr) {
        if (connection->connectFtp()) {
            return true;
        }
        // The person pressed Stop: they know why there is no connection.
        if (stopRequested.load()) {
            return false;
        }
        if (askTrust && connection->certificateRefused()) {
            const ftp::CertificateInfo seen = connection->lastCertificate;
            if (!askTrust(*connection, seen)) {
                return false;  // Cancel: the question said why
            }
            connection->tlsFingerprint = seen.fingerprint;
            if (connection->connectFtp()) {
                return true;
            }
            if (stopRequested.load()) {
                return false;
            }
        }
    }
    reportError("ConnectingDlg::OnTimer", "Failed to connect to FTP server", true);
    return false;
}
