#include "ui/QtMessagePump.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "common/ErrorReport.h"
#include "transfer/TimedCommand.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class QtMessagePumpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(waitForCommandWorkers(5000ms));
        stopRequested = false;
        setMessagePump(&pump_);
    }
    void TearDown() override {
        release_ = true;
        stopRequested = false;
        waitForCommand(0);
        setMessagePump(nullptr);
        EXPECT_TRUE(waitForCommandWorkers(5000ms));
    }

    // A body that runs until the test releases it, five seconds at most.
    CommandBody heldBody() {
        return [this](TimedCommand&) {
            for (int i = 0; i < 500 && !release_; ++i) {
                std::this_thread::sleep_for(10ms);
            }
            return true;
        };
    }

    QtMessagePump pump_;
    std::atomic<bool> release_{false};
};

TEST_F(QtMessagePumpTest, TimerFiresDuringAWaitAndItsStopEndsTheWait) {
    QObject context;
    bool firedWhileRunning = false;
    QTimer::singleShot(50, &context, [&firedWhileRunning] {
        firedWhileRunning = commandState().running;
        requestStop();
    });
    auto command = std::make_shared<TimedCommand>();
    const auto start = Clock::now();
    runLocalCommand(command, heldBody());
    EXPECT_LT(millisecondsSince(start), 2000.0);
    EXPECT_TRUE(firedWhileRunning);
    EXPECT_TRUE(stopRequested);
    EXPECT_FALSE(command->succeeded);
    EXPECT_TRUE(commandState().running) << "Stop ends the wait, not the worker";
}

TEST_F(QtMessagePumpTest, WaitReturnsAsSoonAsTheWorkerEnds) {
    std::vector<double> times;
    for (int run = 0; run < 9; ++run) {
        auto command = std::make_shared<TimedCommand>();
        const auto start = Clock::now();
        EXPECT_TRUE(runLocalCommand(command, [](TimedCommand&) {
            std::this_thread::sleep_for(2ms);
            return true;
        }));
        times.push_back(millisecondsSince(start));
    }
    std::nth_element(times.begin(), times.begin() + 4, times.end());
    EXPECT_LT(times[4], 50.0);
}

TEST_F(QtMessagePumpTest, WakeEndsALongIdleWaitEvenWhenItCameFirst) {
    // Use up whatever wake an earlier test left behind.
    pump_.idleWait(0);
    pump_.pumpOnce();
    std::thread waker([] {
        std::this_thread::sleep_for(30ms);
        wakeMessagePump();
    });
    auto start = Clock::now();
    pump_.idleWait(3000);
    waker.join();
    EXPECT_LT(millisecondsSince(start), 1000.0);

    // The dispatcher's own wake-up is used up by the events dispatched in between; the wait
    // must still see it.
    wakeMessagePump();
    pump_.pumpOnce();
    start = Clock::now();
    pump_.idleWait(3000);
    EXPECT_LT(millisecondsSince(start), 1000.0);
}

}  // namespace
