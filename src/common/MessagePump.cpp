#include "common/MessagePump.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Used where no front end installed a pump (tests of the core, tools): there are no events to
// dispatch, so a wait is a plain sleep that a worker can cut short.
class DefaultMessagePump final : public MessagePump {
  public:
    void pumpOnce() override {}

    void idleWait(int ms) override {
        std::unique_lock lock(mutex_);
        if (ms > 0) {
            woken_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return wakePending_; });
        }
        wakePending_ = false;
    }

    void wake() override {
        {
            std::lock_guard lock(mutex_);
            wakePending_ = true;
        }
        woken_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool wakePending_ = false;
};

struct PumpRegistry {
    // Held while a pump is woken and while the pump is replaced, so that a worker never calls
    // wake() on a pump that its owner has just uninstalled and destroyed.
    std::mutex wakeMutex;
    std::atomic<MessagePump*> installed{nullptr};
    DefaultMessagePump fallback;
};

// Never destroyed: detached workers may still wake the pump while the program exits.
PumpRegistry& registry() {
    static PumpRegistry& instance = *new PumpRegistry;
    return instance;
}

}  // namespace

MessagePump& messagePump() {
    PumpRegistry& r = registry();
    MessagePump* p = r.installed.load();
    return p != nullptr ? *p : r.fallback;
}

MessagePump* setMessagePump(MessagePump* p) {
    PumpRegistry& r = registry();
    std::lock_guard lock(r.wakeMutex);
    return r.installed.exchange(p);
}

void wakeMessagePump() {
    PumpRegistry& r = registry();
    std::lock_guard lock(r.wakeMutex);
    MessagePump* p = r.installed.load();
    (p != nullptr ? *p : static_cast<MessagePump&>(r.fallback)).wake();
}
