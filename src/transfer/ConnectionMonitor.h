#pragma once

#include <cstdint>
#include <memory>

class ConnectionDetails;
class SettingsStore;

// Watches the open FTP connection while nobody uses it: closes it after the configured idle
// time, and otherwise keeps it alive with a PWD once it has been quiet for a minute, before the
// server drops it. The front end calls check() every 10 seconds on its user-interface thread.
//
// Activity is the one clock of CommandState.h (lastConnectionActivity): every command touches
// it, so real traffic counts without the monitor being told.
class ConnectionMonitor {
  public:
    static constexpr std::uint32_t kDefaultIdleLimitSeconds = 10 * 60;
    static constexpr std::int64_t kKeepAliveSeconds = 60;

    // "IsFtpConnectionTimeout" (default on) and "FtpConnectionTimeout" in minutes (default 10).
    void load(SettingsStore& store);
    // The same two values; the limit is written in whole minutes.
    void save(SettingsStore& store) const;

    // Watches `connection` from now on (idle time starts at zero). Only a connection held by a
    // std::shared_ptr can be watched; the monitor keeps a weak reference to it.
    void start(ConnectionDetails& connection);
    void touch();
    void stop();
    // stop(), if `connection` is the one being watched: closing another connection must not
    // stop the watch over this one.
    void stopWatching(const ConnectionDetails& connection);

    // False when it has just closed the connection (idle too long, or the probe failed; the
    // latter leaves "Connection with the server was terminated" as the last error).
    bool check();

    bool isActive() const { return active_; }
    std::shared_ptr<ConnectionDetails> watched() const { return connection_.lock(); }
    // Whole seconds since the last activity.
    std::int64_t idleSeconds() const;

    // The settings, as the Configuration dialog shows them; read before load() they give
    // "off, 10 seconds".
    bool timeoutEnabled = false;
    std::uint32_t idleLimit = 10;  // seconds
    // Silence before a keep-alive probe. Not a setting: tests shorten it.
    std::int64_t keepAliveSeconds = kKeepAliveSeconds;

  private:
    bool active_ = false;
    std::weak_ptr<ConnectionDetails> connection_;
    const ConnectionDetails* address_ = nullptr;  // only compared, never followed
};

// The one monitor of the process; used from the user-interface thread.
ConnectionMonitor& connectionMonitor();
