#include "transfer/ConnectionsFile.h"

#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "common/ErrorReport.h"
#include "profiles/AtomicFile.h"

namespace {

// A connections file kept behind a symbolic link (in a synchronised folder, say) is updated where
// it lives, as writing into the opened file always did, rather than replacing the link.
std::filesystem::path writeTarget(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) {
        return path;
    }
    const auto target = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : target;
}

}  // namespace

ConnectionList loadConnections(const std::filesystem::path& path) {
    ConnectionList connections;
    std::ifstream in(path, std::ios::binary);
    while (in.good()) {
        auto connection = std::make_shared<ConnectionDetails>();
        connection->read(in);
        if (!connection->name.empty()) {
            connections.push_back(std::move(connection));
        }
    }
    return connections;
}

bool saveConnections(const std::filesystem::path& path, const ConnectionList& connections) {
    std::ostringstream out(std::ios::binary);
    out << "KelvaneVersion=" << formatVersion(CurrentFormatVersion) << kLineEnd;
    for (const auto& connection : connections) {
        if (connection) {
            connection->write(out);
        }
    }
    std::string reason;
    if (!out || !writeFileAtomically(writeTarget(path), out.str(), 0600, &reason)) {
        setLastError(reason.empty() ? std::string("Reason not known") : reason);
        reportError("CSynchroniserDlg::saveConnections",
                    "Unable to save modified connection details", false);
        return false;
    }
    return true;
}

std::shared_ptr<ConnectionDetails> findConnection(const ConnectionList& connections,
                                                  std::string_view name) {
    for (const auto& connection : connections) {
        if (connection && connection->name == name) {
            return connection;
        }
    }
    return nullptr;
}
