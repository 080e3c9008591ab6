#pragma once

#include <functional>
#include <utility>

#include "transfer/RetryDisplay.h"

// Lets the timed commands' workers redraw a run's progress. The callback runs on whichever
// thread the worker is, so it may only compute texts and hand them to a view that does its own
// thread hand-over; it must never pump messages or touch run state that is not atomic.
class RetryAdapter final : public RetryDisplay {
  public:
    explicit RetryAdapter(std::function<void()> show) : show_(std::move(show)) {}
    void updateProgress() override { show_(); }

  private:
    std::function<void()> show_;
};
