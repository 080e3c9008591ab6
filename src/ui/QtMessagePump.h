#pragma once

#include <QTimer>
#include <atomic>

#include "common/MessagePump.h"

class QAbstractEventDispatcher;

// The desktop program's pump. A wait dispatches the GUI thread's events, so timers, the Stop
// button and queued updates from workers run while a command is in flight; between turns it
// blocks in the event dispatcher, which a worker's wake() (or any event) ends at once.
//
// Create it on the GUI thread once the application object exists, install it with
// setMessagePump, and uninstall it before the application object goes away.
class QtMessagePump final : public MessagePump {
  public:
    QtMessagePump();

    void pumpOnce() override;
    void idleWait(int ms) override;
    void wake() override;

  private:
    QAbstractEventDispatcher* dispatcher_;
    // The dispatcher's own wake-up can be used up by pumpOnce() before idleWait() starts; this
    // flag keeps such a wake for the wait it was meant for.
    std::atomic<bool> wakePending_{false};
    QTimer limit_;
};
