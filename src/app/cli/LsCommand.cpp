#include "app/cli/LsCommand.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "app/cli/CliFrontEnd.h"
#include "common/ErrorReport.h"
#include "common/FileEntry.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/FtpLocation.h"

namespace {

constexpr int kExitStopped = 130;

int failed(std::ostream& err, const std::string& message) {
    if (stopRequested.load()) {
        return kExitStopped;
    }
    err << message << '\n' << lastErrorText() << '\n';
    return kExitFailed;
}

}  // namespace

std::string formatListingLine(const FileEntry& entry) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", entry.date.year(),
                  entry.date.month(), entry.date.day(), entry.time.hours(), entry.time.minutes(),
                  entry.time.seconds());
    std::string line = entry.isFolder() ? "d " : "- ";
    line += std::to_string(entry.size);
    line += ' ';
    line += stamp;
    line += ' ';
    line += entry.name;
    return line;
}

int runLsCommand(const CliOptions& options, const std::string& location, std::ostream& out,
                 std::ostream& err) {
    std::string name;
    std::string path;
    if (!parseFtpLocation(location, name, path)) {
        err << "Not an FTP location: " << location << " (expected FTP:NAME/PATH)\n";
        return kExitFailed;
    }
    const std::filesystem::path file = connectionsFilePath(options);
    const std::shared_ptr<ConnectionDetails> connection =
        findConnection(loadConnections(file), name);
    if (!connection) {
        err << "No connection named \"" << name << "\" in " << file.string() << '\n';
        return kExitFailed;
    }
    applyCommandSettings(options);
    applyTlsFingerprint(options, *connection);

    CliFrontEnd frontEnd(err);
    stopRequested.store(false);
    if (!connection->connectFtp()) {
        return failed(err, "Failed to connect to FTP server");
    }
    if (!connection->changeDirectory(path)) {
        const int status = failed(err, "Cannot open the folder " + path + " on " + name);
        connection->disconnectFtp();
        return status;
    }
    std::vector<FileEntryPtr> entries;
    if (!connection->listDirectory(entries, true)) {
        const int status = failed(err, "Failed to list the folder " + path + " on " + name);
        connection->disconnectFtp();
        return status;
    }
    connection->disconnectFtp();
    for (const FileEntryPtr& entry : entries) {
        out << formatListingLine(*entry) << '\n';
    }
    out.flush();
    return out ? kExitDone : kExitFailed;
}
