#pragma once

// How a wait on a worker keeps the user-interface thread alive: the desktop program dispatches
// Qt events, the command-line program watches for SIGINT and SIGTERM.
class MessagePump {
  public:
    virtual ~MessagePump() = default;
    // Dispatches the pending events of the user-interface thread (at most one round).
    virtual void pumpOnce() = 0;
    // Waits up to `ms` milliseconds, or less when wake() is called (from any thread). A wake that
    // comes before the wait is not lost: the next idleWait returns at once.
    virtual void idleWait(int ms) = 0;
    // Ends the current or the next idleWait early. Safe to call from any thread.
    virtual void wake() = 0;
};

// The process-wide pump; never null (a default with no events to dispatch stands in). The
// reference is for the user-interface thread; worker threads use wakeMessagePump().
MessagePump& messagePump();
// Installs `p` (null restores the default) and returns the previous one (null for the default).
// Once it returns, no thread is inside wake() of the previous pump any more, so that pump may be
// destroyed.
MessagePump* setMessagePump(MessagePump* p);
// Wakes whichever pump is installed. This is how workers and other threads end a wait.
void wakeMessagePump();
