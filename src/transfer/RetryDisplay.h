#pragma once

#include <string>

// A window that shows how many times the command in flight has been retried. Called on worker
// threads: an implementation that owns widgets hands the change to its own thread (queued
// invocation) and must never block waiting for that thread.
class RetryDisplay {
  public:
    virtual ~RetryDisplay() = default;
    // Reads commandState().retryCount and shows it (retryTexts gives the two texts).
    virtual void updateProgress() = 0;
};

// Installs the process-wide listener (null: none) and returns the previous one. Once it returns,
// no worker is inside updateProgress() of the previous listener any more, so it may be destroyed.
RetryDisplay* setRetryDisplay(RetryDisplay* display);

// Calls updateProgress() of the listener, if there is one. Safe from any thread.
void updateRetryDisplay();

// The label and the number of the retry display: both empty while no retry has been made,
// otherwise "Retries" and the count.
struct RetryTexts {
    std::string label;
    std::string number;
};
RetryTexts retryTexts(int retryCount);
