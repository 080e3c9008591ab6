#pragma once

#include "transfer/ConnectionMonitor.h"

class Prompter;

namespace testsupport {

// The program-wide command settings a test changes (time-out, retries, logins at once, quiet
// mode, Stop, the prompter and the connection monitor), taken over in SetUp and given back in
// TearDown, so no test leaves them to the next one.
class CommandGlobals {
  public:
    // A command limit of `timeoutSeconds`, `retries` retries, quiet mode off, Stop cleared and
    // `prompter` answering.
    void takeOver(unsigned timeoutSeconds, int retries, Prompter* prompter);
    // Waits for the workers still running (a failure if one does not end), stops the monitor
    // and puts everything back as it was before takeOver.
    void giveBack();

  private:
    unsigned savedTimeout_ = 0;
    int savedRetries_ = 0;
    int savedLogins_ = 0;  // ftpConnections
    bool savedQuiet_ = false;
    Prompter* savedPrompter_ = nullptr;
    ConnectionMonitor savedMonitor_;
};

}  // namespace testsupport
