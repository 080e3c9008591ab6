#include "transfer/CommandState.h"

#include <algorithm>
#include <chrono>

std::atomic<unsigned> commandTimeout{kDefaultCommandTimeout};
std::atomic<int> maxCommandRetries{kDefaultMaxCommandRetries};

namespace {

std::atomic<std::int64_t> connectionActivity{0};

}  // namespace

CommandState& commandState() {
    // Never destroyed: detached workers may still update it while the program exits.
    static CommandState& instance = *new CommandState;
    return instance;
}

unsigned commandLimitSeconds() {
    return commandTimeout.load();
}

unsigned connectLimitSeconds() {
    return std::max(commandTimeout.load(), kMinimumConnectLimit);
}

std::int64_t processClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void touchConnectionActivity() {
    connectionActivity.store(processClockMs());
}

std::int64_t lastConnectionActivity() {
    return connectionActivity.load();
}
