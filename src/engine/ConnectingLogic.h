#pragma once

#include <functional>
#include <memory>

#include "transfer/ftp/Tls.h"

class ConnectionDetails;

// Asks the person at the screen whether to trust a certificate the connection refused; true:
// trust it.
using TrustQuestion =
    std::function<bool(const ConnectionDetails& connection, const ftp::CertificateInfo& seen)>;

// What the "Please wait..." connecting dialog does when its timer fires, shared by the desktop
// dialog and kelvane-cli so that both report a failed connection the same way: clears
// stopRequested, connects, and on a failure that Stop did not cause reports "Failed to connect
// to FTP server" with the reason (context "ConnectingDlg::OnTimer"). True when connected.
//
// With `askTrust`, a server certificate that was refused (not trusted, or not the pinned one) is
// put to the question first; on Trust its fingerprint becomes the connection's pinned one and
// the connection is tried once more, on Cancel nothing is reported. Without it (a run, the
// command line) nobody is asked.
bool connectAsDialogWould(std::shared_ptr<ConnectionDetails> connection,
                          const TrustQuestion& askTrust = {});
