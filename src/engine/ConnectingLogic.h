#pragma once

#include <memory>

class ConnectionDetails;

// What the "Please wait..." connecting dialog does when its timer fires, shared by the desktop
// dialog and kelvane-cli so that both report a failed connection the same way: clears
// stopRequested, connects, and on a failure that Stop did not cause reports "Failed to connect
// to FTP server" with the reason (context "ConnectingDlg::OnTimer"). True when connected.
bool connectAsDialogWould(std::shared_ptr<ConnectionDetails> connection);
