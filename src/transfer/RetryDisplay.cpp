#include "transfer/RetryDisplay.h"

#include <mutex>

namespace {

struct Listener {
    // Held across updateProgress() so that setRetryDisplay waits for a call in progress before
    // the old listener can go away.
    std::mutex mutex;
    RetryDisplay* display = nullptr;
};

// Never destroyed: detached workers may still update the display while the program exits.
Listener& listener() {
    static Listener& instance = *new Listener;
    return instance;
}

}  // namespace

RetryDisplay* setRetryDisplay(RetryDisplay* display) {
    Listener& l = listener();
    std::lock_guard lock(l.mutex);
    RetryDisplay* previous = l.display;
    l.display = display;
    return previous;
}

void updateRetryDisplay() {
    Listener& l = listener();
    std::lock_guard lock(l.mutex);
    if (l.display != nullptr) {
        l.display->updateProgress();
    }
}

RetryTexts retryTexts(int retryCount) {
    if (retryCount <= 0) {
        return {};
    }
    return {"Retries", std::to_string(retryCount)};
}
