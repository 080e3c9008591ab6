#pragma once

// How a wait on a worker keeps the user-interface thread alive: the desktop program dispatches
// Qt events, the command-line program watches for SIGINT and SIGTERM.
class MessagePump {
  public:
    virtual ~MessagePump() = default;
    // Dispatches at most one pending event of the user-interface thread.
    virtual void pumpOnce() = 0;
    // Waits up to `ms` milliseconds, or less when wake() is called (from any thread).
    virtual void idleWait(int ms) = 0;
    // Ends the current or the next idleWait early. Safe to call from any thread.
    virtual void wake() = 0;
};

// The process-wide pump; never null (a default with no events to dispatch stands in).
MessagePump& messagePump();
// Installs `p` (null restores the default) and returns the previous one.
MessagePump* setMessagePump(MessagePump* p);
