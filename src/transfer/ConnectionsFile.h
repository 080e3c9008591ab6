#pragma once

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "transfer/ConnectionDetails.h"

using ConnectionList = std::vector<std::shared_ptr<ConnectionDetails>>;

// Reads every connection of the connections file, in file order. A missing or unreadable file
// gives an empty list and no message; records without a name are dropped.
ConnectionList loadConnections(const std::filesystem::path& path);

// Writes the header line and every connection, replacing the file in one step (mode 0600: it
// holds passwords). On failure reports "Unable to save modified connection details", leaves the
// old file as it was and returns false.
bool saveConnections(const std::filesystem::path& path, const ConnectionList& connections);

// The first connection whose name equals `name` exactly, or null.
std::shared_ptr<ConnectionDetails> findConnection(const ConnectionList& connections,
                                                  std::string_view name);
