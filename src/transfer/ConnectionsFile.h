#pragma once

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "transfer/ConnectionDetails.h"

using ConnectionList = std::vector<std::shared_ptr<ConnectionDetails>>;

// Reads every connection of the connections file, in file order. A missing or unreadable file
// gives an empty list and no message; records without a name are dropped. The TLS settings come
// from the file beside it (tlsSettingsPath); a connection it does not name is plain FTP.
ConnectionList loadConnections(const std::filesystem::path& path);

// Writes the header line and every connection, replacing the file in one step (mode 0600: it
// holds passwords), and then the TLS settings beside it. On failure reports "Unable to save
// modified connection details", leaves the old file as it was and returns false.
bool saveConnections(const std::filesystem::path& path, const ConnectionList& connections);

// Where the TLS settings of the connections in `connectionsFile` live: beside it, with ".tls"
// before its extension (KelvaneConnections.txt: KelvaneConnections.tls.txt). One record per
// connection that uses TLS or has a trusted certificate, keyed by the connection's name:
// "ConnectionName=", "TlsMode=" (off, required or offered), "TlsFingerprint=", "EndRecord=".
std::filesystem::path tlsSettingsPath(const std::filesystem::path& connectionsFile);

// Writes the TLS settings of one connection into the file beside `connectionsFile`, keeping the
// records of the others: how a certificate trusted at the moment of connecting is kept without
// saving the whole list. Reports as saveConnections does.
bool saveTlsSettings(const std::filesystem::path& connectionsFile,
                     const ConnectionDetails& connection);

// The first connection whose name equals `name` exactly, or null.
std::shared_ptr<ConnectionDetails> findConnection(const ConnectionList& connections,
                                                  std::string_view name);
