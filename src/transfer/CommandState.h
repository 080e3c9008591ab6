#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

// The process-wide state of the command in flight. Written by the user-interface thread and by
// workers, hence atomic throughout. Read it freely; the command machinery (TimedCommand.h) does
// the writing, except retryCount, which a RetryDisplay reads, and connectionResetSeen, which the
// caller of an upload or connect reads and clears.
struct CommandState {
    // Set by the worker once it holds the record; the wait does nothing else until then.
    std::atomic<bool> started{true};
    // True from beginCommand until the worker of that command ends or its wait times out. Only
    // the command that set it can clear it, so a late worker never ends a newer command's wait.
    std::atomic<bool> running{false};
    // Process clock (processClockMs) when the command, or its last progress step, began.
    std::atomic<std::int64_t> startTime{0};
    // The abandon marker of the current worker (null: none). Setting the marker tells that
    // worker to make no further attempt and to leave the shared state alone.
    std::atomic<std::shared_ptr<std::atomic<bool>>> current;
    // Attempts already made by the current worker; what the retry display shows.
    std::atomic<int> retryCount{0};
    // A connect or upload attempt saw the connection reset by the server.
    std::atomic<bool> connectionResetSeen{false};
};

CommandState& commandState();

// Settings, in seconds and attempts; the front ends set them from the application settings.
// A commandTimeout of 0 means no limit (connect still gets connectLimitSeconds()).
extern std::atomic<unsigned> commandTimeout;
extern std::atomic<int> maxCommandRetries;

inline constexpr unsigned kDefaultCommandTimeout = 60;
inline constexpr int kDefaultMaxCommandRetries = 3;
// Logging in can take long on a slow server, so connect never gets less than this.
inline constexpr unsigned kMinimumConnectLimit = 180;

// The limit of an ordinary command and of connect.
unsigned commandLimitSeconds();
unsigned connectLimitSeconds();

// Milliseconds of a monotonic clock.
std::int64_t processClockMs();

// The last moment a command touched the FTP connection. beginCommand and the FTP commands touch
// it; the connection monitor reads it to decide when the connection has been idle too long, and
// touches it itself when it starts watching a new connection.
void touchConnectionActivity();
std::int64_t lastConnectionActivity();
