#include "app/cli/CliFrontEnd.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>

#include "common/ErrorReport.h"
#include "profiles/AppSettings.h"
#include "profiles/SettingsStore.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionPool.h"
#include "transfer/TimedCommand.h"

namespace {

// Workers left behind by Stop end quickly once their connection is closed.
constexpr std::chrono::milliseconds kWorkerGrace{3000};

}  // namespace

CliFrontEnd::CliFrontEnd(std::ostream& err, ErrorLog* errorLog, bool quiet) : prompter_(err) {
    previousPump_ = setMessagePump(&pump_);
    previousPrompter_ = setPrompter(&prompter_);
    if (errorLog != nullptr) {
        previousLog_ = setErrorLog(errorLog);
        logInstalled_ = true;
    }
    if (quiet) {
        previousQuiet_ = quietMode.exchange(true);
        quietSet_ = true;
    }
}

CliFrontEnd::~CliFrontEnd() {
    waitForCommandWorkers(kWorkerGrace);
    if (quietSet_) {
        quietMode.store(previousQuiet_);
    }
    if (logInstalled_) {
        setErrorLog(previousLog_);
    }
    setPrompter(previousPrompter_);
    setMessagePump(previousPump_);
}

void applyCommandSettings(const CliOptions& options) {
    const std::filesystem::path folder = settingsFolder(options);
    FileSettingsStore store(folder);
    AppSettings settings(store, folder);
    settings.readAtStart();
    commandTimeout.store(settings.configuration.commandTimeout);
    maxCommandRetries.store(static_cast<int>(
        std::min<std::uint32_t>(settings.configuration.maxCommandRetries, INT_MAX)));
    const std::uint32_t logins = options.parallel > 0 ? static_cast<std::uint32_t>(options.parallel)
                                                      : settings.configuration.ftpConnections;
    ftpConnections.store(static_cast<int>(
        std::clamp<std::uint32_t>(logins, 1, static_cast<std::uint32_t>(kMaxFtpConnections))));
}
