#include "app/cli/ConnectionsCommand.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "transfer/ConnectionsFile.h"

namespace {

constexpr std::uint16_t kDefaultFtpPort = 21;

using Row = std::array<std::string, 6>;

Row describe(const ConnectionDetails& connection) {
    return {connection.name, connection.server.empty() ? "-" : connection.server,
            // An empty user name logs in as anonymous.
            connection.user.empty() ? "anonymous" : connection.user,
            std::to_string(connection.port == 0 ? kDefaultFtpPort : connection.port),
            connection.passive ? "passive" : "active",
            std::string(ftp::tlsModeName(connection.tlsMode)) +
                (connection.tlsFingerprint.empty() ? "" : " (certificate trusted)")};
}

void printTable(std::ostream& out, const std::vector<Row>& rows) {
    constexpr std::size_t columns = std::tuple_size_v<Row>;
    std::array<std::size_t, columns> widths{};
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < columns; ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < columns; ++i) {
            line += row[i];
            if (i + 1 < columns) {
                line.append(widths[i] - row[i].size() + 2, ' ');
            }
        }
        out << line << '\n';
    }
}

}  // namespace

int runConnectionsCommand(const CliOptions& options, std::ostream& out, std::ostream& err) {
    const std::filesystem::path file = connectionsFilePath(options);
    const ConnectionList connections = loadConnections(file);
    if (connections.empty()) {
        // The program treats a missing connections file as an empty one.
        err << "No connections in " << file.string() << '\n';
        return kExitDone;
    }
    std::vector<Row> rows{{"NAME", "SERVER", "USER", "PORT", "MODE", "TLS"}};
    for (const auto& connection : connections) {
        rows.push_back(describe(*connection));
    }
    printTable(out, rows);
    return out ? kExitDone : kExitFailed;
}
