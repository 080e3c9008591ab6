// The default pump of the core and the command-line program's pump. The latter is built only
// into kelvane-cli, so its source is compiled into this test directly.
#include "app/cli/CliMessagePump.cpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "transfer/TimedCommand.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class PumpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(waitForCommandWorkers(5000ms));
        stopRequested = false;
    }
    void TearDown() override {
        setMessagePump(nullptr);
        stopRequested = false;
        EXPECT_TRUE(waitForCommandWorkers(5000ms));
    }
};

TEST_F(PumpTest, DefaultPumpKeepsAWakeThatCameBeforeTheWait) {
    ASSERT_EQ(setMessagePump(nullptr), nullptr);
    wakeMessagePump();
    auto start = Clock::now();
    messagePump().idleWait(3000);
    EXPECT_LT(secondsSince(start), 1.0);

    // Used up: the next wait runs its time.
    start = Clock::now();
    messagePump().idleWait(30);
    EXPECT_GE(secondsSince(start), 0.025);
}

TEST_F(PumpTest, CliPumpIsWokenAcrossThreadsAndBeforeItsWait) {
    CliMessagePump pump;
    EXPECT_EQ(setMessagePump(&pump), nullptr);
    std::thread waker([] {
        std::this_thread::sleep_for(50ms);
        wakeMessagePump();
    });
    auto start = Clock::now();
    pump.idleWait(3000);
    waker.join();
    EXPECT_LT(secondsSince(start), 1.0);

    pump.wake();
    start = Clock::now();
    pump.idleWait(3000);
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_EQ(setMessagePump(nullptr), &pump);
}

TEST_F(PumpTest, CliPumpTurnsSigintIntoStopDuringAWait) {
    struct sigaction before {};
    ::sigaction(SIGINT, nullptr, &before);
    {
        CliMessagePump pump;
        setMessagePump(&pump);
        std::atomic<bool> release{false};
        auto command = std::make_shared<TimedCommand>();
        std::thread interrupter([] {
            std::this_thread::sleep_for(100ms);
            ::kill(::getpid(), SIGINT);
        });
        const auto start = Clock::now();
        runLocalCommand(command, [&release](TimedCommand&) {
            for (int i = 0; i < 500 && !release; ++i) {
                std::this_thread::sleep_for(10ms);
            }
            return true;
        });
        interrupter.join();
        EXPECT_LT(secondsSince(start), 2.0);
        EXPECT_TRUE(stopRequested);
        EXPECT_EQ(CliMessagePump::receivedSignal(), SIGINT);
        EXPECT_FALSE(command->succeeded);

        release = true;
        stopRequested = false;
        waitForCommand(0);
        EXPECT_TRUE(command->succeeded);
        setMessagePump(nullptr);
    }
    // The handler that was there before is back.
    struct sigaction after {};
    ::sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
