#pragma once

#include <filesystem>
#include <string>

// The options that come before the subcommand and apply to all of them.
struct CliOptions {
    std::string configDir;        // --config-dir; empty: $KELVANE_CONFIG_DIR or the default folder
    std::string connectionsFile;  // --connections; empty: the ConnectionsFileName setting
    // --tls-fingerprint of ls and run: the certificate trusted for every connection of this
    // call, in place of what is pinned; as typed (colons and case do not matter).
    std::string tlsFingerprint;
    // --parallel of run: the logins the run may use at once; 0: the FtpConnections setting.
    int parallel = 0;
};

// Exit statuses shared by the subcommands.
inline constexpr int kExitDone = 0;
inline constexpr int kExitProblems = 1;
inline constexpr int kExitFailed = 2;

std::filesystem::path settingsFolder(const CliOptions& options);

class ConnectionDetails;
// Puts --tls-fingerprint, when given, in place of the connection's pinned certificate.
void applyTlsFingerprint(const CliOptions& options, ConnectionDetails& connection);

// --connections, else the ConnectionsFileName setting of the settings folder, else its default.
std::filesystem::path connectionsFilePath(const CliOptions& options);
