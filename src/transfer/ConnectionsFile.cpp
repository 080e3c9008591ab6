#include "transfer/ConnectionsFile.h"

#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

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

constexpr std::string_view kTlsHeader = "KelvaneTls=1";

struct TlsRecord {
    std::string name;
    ftp::TlsMode mode = ftp::TlsMode::Off;
    std::string fingerprint;
};

// Unknown keys and unreadable values are skipped: a record keeps what it can.
std::vector<TlsRecord> readTlsSettings(const std::filesystem::path& path) {
    std::vector<TlsRecord> records;
    std::ifstream in(path, std::ios::binary);
    TlsRecord record;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "ConnectionName") {
            record = TlsRecord{value, ftp::TlsMode::Off, {}};
        } else if (key == "TlsMode") {
            ftp::parseTlsMode(value, record.mode);
        } else if (key == "TlsFingerprint") {
            const std::string digits = ftp::normaliseFingerprint(value);
            record.fingerprint = digits.empty() ? std::string() : ftp::formatFingerprint(digits);
        } else if (key == "EndRecord" && !record.name.empty()) {
            records.push_back(record);
            record = {};
        }
    }
    return records;
}

std::string tlsSettingsText(const std::vector<TlsRecord>& records, bool& anyInUse) {
    std::ostringstream out(std::ios::binary);
    out << kTlsHeader << kLineEnd;
    anyInUse = false;
    for (const TlsRecord& record : records) {
        if (record.name.empty() ||
            (record.mode == ftp::TlsMode::Off && record.fingerprint.empty())) {
            continue;
        }
        anyInUse = true;
        out << "ConnectionName=" << record.name << kLineEnd;
        out << "TlsMode=" << ftp::tlsModeName(record.mode) << kLineEnd;
        out << "TlsFingerprint=" << record.fingerprint << kLineEnd;
        out << "EndRecord=" << kLineEnd;
    }
    return out.str();
}

TlsRecord recordOf(const ConnectionDetails& connection) {
    return TlsRecord{connection.name, connection.tlsMode, connection.tlsFingerprint};
}

bool reportSaveFailure(const std::string& reason) {
    setLastError(reason.empty() ? std::string("Reason not known") : reason);
    reportError("CSynchroniserDlg::saveConnections", "Unable to save modified connection details",
                false);
    return false;
}

// No TLS file appears until a connection uses TLS; once there, it is kept true.
bool writeTlsSettings(const std::filesystem::path& connectionsFile,
                      const std::vector<TlsRecord>& records) {
    bool anyInUse = false;
    const std::string text = tlsSettingsText(records, anyInUse);
    const std::filesystem::path path = tlsSettingsPath(connectionsFile);
    std::error_code ec;
    std::string reason;
    if ((anyInUse || std::filesystem::exists(path, ec)) &&
        !writeFileAtomically(path, text, 0600, &reason)) {
        return reportSaveFailure(reason);
    }
    return true;
}

}  // namespace

std::filesystem::path tlsSettingsPath(const std::filesystem::path& connectionsFile) {
    const std::filesystem::path file = writeTarget(connectionsFile);
    std::filesystem::path name = file.stem();
    name += ".tls";
    name += file.extension();
    return file.parent_path() / name;
}

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
    if (!connections.empty()) {
        for (const TlsRecord& record : readTlsSettings(tlsSettingsPath(path))) {
            if (auto connection = findConnection(connections, record.name)) {
                connection->tlsMode = record.mode;
                connection->tlsFingerprint = record.fingerprint;
            }
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
        return reportSaveFailure(reason);
    }
    std::vector<TlsRecord> records;
    for (const auto& connection : connections) {
        if (connection) {
            records.push_back(recordOf(*connection));
        }
    }
    return writeTlsSettings(path, records);
}

bool saveTlsSettings(const std::filesystem::path& connectionsFile,
                     const ConnectionDetails& connection) {
    std::vector<TlsRecord> records = readTlsSettings(tlsSettingsPath(connectionsFile));
    std::erase_if(
        records, [&connection](const TlsRecord& record) { return record.name == connection.name; });
    records.push_back(recordOf(connection));
    return writeTlsSettings(connectionsFile, records);
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
