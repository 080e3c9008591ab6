#pragma once

#include <csignal>

#include "common/MessagePump.h"

// The command-line program's pump: there are no events to dispatch, but SIGINT and SIGTERM must
// stop a run the way the Stop button does. The signal handler only notes the signal and writes
// a byte into a pipe, which wakes the wait at once; the wait then turns the note into
// requestStop() on the program's own thread.
//
// One instance at a time; it installs the handlers when constructed and puts the previous ones
// back when destroyed. It does not install itself as the process-wide pump.
class CliMessagePump final : public MessagePump {
  public:
    CliMessagePump();
    ~CliMessagePump() override;
    CliMessagePump(const CliMessagePump&) = delete;
    CliMessagePump& operator=(const CliMessagePump&) = delete;

    void pumpOnce() override;
    void idleWait(int ms) override;
    void wake() override;

    // The last signal received (SIGINT or SIGTERM), 0 while none came: a run that ends after
    // one was stopped from outside, which the exit status tells the calling script.
    static int receivedSignal();

  private:
    void drainPipe();

    int readFd_ = -1;
    int writeFd_ = -1;
    int signalsSeen_ = 0;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};
