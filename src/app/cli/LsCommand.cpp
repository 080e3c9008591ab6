#include "app/cli/LsCommand.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/cli/CliMessagePump.h"
#include "app/cli/CliPrompter.h"
#include "engine/FileEntry.h"
#include "profiles/AppSettings.h"
#include "profiles/SettingsStore.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/ErrorReport.h"
#include "transfer/FtpLocation.h"
#include "transfer/TimedCommand.h"

namespace {

constexpr int kExitStopped = 130;
// Workers left behind by Stop end quickly once their connection is closed; the program waits
// that long for them so that it does not end under their feet.
constexpr std::chrono::milliseconds kWorkerGrace{3000};

// Installs the command-line pump and prompter for as long as the command runs.
class CliFrontEnd {
  public:
    explicit CliFrontEnd(std::ostream& err) : prompter_(err) {
        previousPump_ = setMessagePump(&pump_);
        previousPrompter_ = setPrompter(&prompter_);
    }
    ~CliFrontEnd() {
        waitForCommandWorkers(kWorkerGrace);
        setPrompter(previousPrompter_);
        setMessagePump(previousPump_);
    }
    CliFrontEnd(const CliFrontEnd&) = delete;
    CliFrontEnd& operator=(const CliFrontEnd&) = delete;

  private:
    CliMessagePump pump_;
    CliPrompter prompter_;
    MessagePump* previousPump_ = nullptr;
    Prompter* previousPrompter_ = nullptr;
};

void applyCommandSettings(const CliOptions& options) {
    const std::filesystem::path folder = settingsFolder(options);
    FileSettingsStore store(folder);
    AppSettings settings(store, folder);
    settings.readAtStart();
    commandTimeout.store(settings.configuration.commandTimeout);
    maxCommandRetries.store(static_cast<int>(
        std::min<std::uint32_t>(settings.configuration.maxCommandRetries, INT_MAX)));
}

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
