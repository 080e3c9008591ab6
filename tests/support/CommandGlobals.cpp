#include "support/CommandGlobals.h"

#include <gtest/gtest.h>

#include <chrono>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionPool.h"
#include "transfer/TimedCommand.h"

namespace testsupport {

void CommandGlobals::takeOver(unsigned timeoutSeconds, int retries, Prompter* prompter) {
    savedTimeout_ = commandTimeout.exchange(timeoutSeconds);
    savedRetries_ = maxCommandRetries.exchange(retries);
    savedLogins_ = ftpConnections.load();
    savedQuiet_ = quietMode.exchange(false);
    stopRequested = false;
    savedPrompter_ = setPrompter(prompter);
    savedMonitor_ = connectionMonitor();
}

void CommandGlobals::giveBack() {
    EXPECT_TRUE(waitForCommandWorkers(std::chrono::seconds(10))) << "a worker did not end";
    ConnectionMonitor& monitor = connectionMonitor();
    monitor.stop();
    monitor.timeoutEnabled = savedMonitor_.timeoutEnabled;
    monitor.idleLimit = savedMonitor_.idleLimit;
    monitor.keepAliveSeconds = savedMonitor_.keepAliveSeconds;
    stopRequested = false;
    quietMode = savedQuiet_;
    setPrompter(savedPrompter_);
    commandTimeout = savedTimeout_;
    maxCommandRetries = savedRetries_;
    ftpConnections = savedLogins_;
}

}  // namespace testsupport
