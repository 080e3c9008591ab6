#include "transfer/ConnectionMonitor.h"

#include <algorithm>
#include <limits>
#include <string>

#include "common/ErrorReport.h"
#include "profiles/SettingsStore.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/TimedCommand.h"

namespace {

constexpr std::uint32_t kDefaultIdleMinutes = 10;

}  // namespace

ConnectionMonitor& connectionMonitor() {
    // Never destroyed: the program may end while a late worker still touches the activity clock.
    static ConnectionMonitor& instance = *new ConnectionMonitor;
    return instance;
}

void ConnectionMonitor::load(SettingsStore& store) {
    timeoutEnabled = store.readDword("IsFtpConnectionTimeout").value_or(1) != 0;
    const std::uint64_t minutes =
        store.readDword("FtpConnectionTimeout").value_or(kDefaultIdleMinutes);
    idleLimit = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(minutes * 60, std::numeric_limits<std::uint32_t>::max()));
}

void ConnectionMonitor::save(SettingsStore& store) const {
    store.writeDword("IsFtpConnectionTimeout", timeoutEnabled ? 1 : 0);
    store.writeDword("FtpConnectionTimeout", idleLimit / 60);
}

void ConnectionMonitor::start(ConnectionDetails& connection) {
    connection_ = connection.weak_from_this();
    address_ = &connection;
    touchConnectionActivity();
    active_ = true;
}

void ConnectionMonitor::touch() {
    touchConnectionActivity();
}

void ConnectionMonitor::stop() {
    active_ = false;
}

void ConnectionMonitor::stopWatching(const ConnectionDetails& connection) {
    if (address_ == &connection || connection_.expired()) {
        stop();
    }
}

std::int64_t ConnectionMonitor::idleSeconds() const {
    return (processClockMs() - lastConnectionActivity()) / 1000;
}

bool ConnectionMonitor::check() {
    if (!active_) {
        return true;
    }
    const std::int64_t idle = idleSeconds();
    std::shared_ptr<ConnectionDetails> connection = connection_.lock();
    if (!connection || !connection->isConnected()) {
        active_ = false;
        return true;
    }
    if (timeoutEnabled && idle > static_cast<std::int64_t>(idleLimit)) {
        waitForCommand(0);
        connection->disconnectFtp();
        active_ = false;
        return false;
    }
    if (idle <= keepAliveSeconds) {
        return true;
    }
    // A command in flight is activity in its own right; a probe now would only queue behind it.
    // While Stop is still set, every wait returns at once, so a probe could not tell a live
    // server from a dead one and would close a good connection.
    if (commandState().running.load() || stopRequested.load()) {
        return true;
    }
    std::string scratch;
    if (connection->printWorkingDirectory(scratch)) {
        return true;
    }
    setLastError("Connection with the server was terminated");
    waitForCommand(0);
    connection->disconnectFtp();
    active_ = false;
    return false;
}
