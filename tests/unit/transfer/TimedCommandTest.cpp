#include "transfer/TimedCommand.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "transfer/RetryDisplay.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Holds a worker's attempt until the test lets it go; never longer than the given limit, so a
// broken test cannot hang the run.
class Gate {
  public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    bool waitOpen(std::chrono::milliseconds limit = 5000ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// The retry display as the person at the screen sees it: the number shown after each update.
class RecordingDisplay final : public RetryDisplay {
  public:
    void updateProgress() override {
        const RetryTexts texts = retryTexts(commandState().retryCount.load());
        std::lock_guard lock(mutex_);
        shown_.push_back(texts.number);
        labels_.push_back(texts.label);
    }
    std::vector<std::string> shown() {
        std::lock_guard lock(mutex_);
        return shown_;
    }
    std::vector<std::string> labels() {
        std::lock_guard lock(mutex_);
        return labels_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> shown_;
    std::vector<std::string> labels_;
};

// A pump whose turns last two seconds unless woken: a wait on it ends quickly only if workers
// and Stop really wake it.
class SlowTurnPump final : public MessagePump {
  public:
    void pumpOnce() override {}
    void idleWait(int) override {
        std::unique_lock lock(mutex_);
        woken_.wait_for(lock, 2000ms, [this] { return pending_; });
        pending_ = false;
    }
    void wake() override {
        {
            std::lock_guard lock(mutex_);
            pending_ = true;
        }
        woken_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool pending_ = false;
};

class TimedCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(waitForCommandWorkers(5000ms)) << "a worker of an earlier test is still alive";
        stopRequested = false;
        commandTimeout = kDefaultCommandTimeout;
        maxCommandRetries = kDefaultMaxCommandRetries;
        commandState().connectionResetSeen = false;
        previousDisplay_ = setRetryDisplay(&display_);
        setLastError("nothing failed yet");
    }

    void TearDown() override {
        gate_.open();
        EXPECT_TRUE(waitForCommandWorkers(5000ms));
        setRetryDisplay(previousDisplay_);
        setMessagePump(nullptr);
        stopRequested = false;
        commandTimeout = kDefaultCommandTimeout;
        maxCommandRetries = kDefaultMaxCommandRetries;
    }

    // An attempt that fails with a numbered text and counts itself.
    CommandBody failingAttempt() {
        return [this](TimedCommand&) {
            const int n = ++attempts_;
            setLastError("attempt " + std::to_string(n) + " failed");
            return false;
        };
    }

    RecordingDisplay display_;
    RetryDisplay* previousDisplay_ = nullptr;
    Gate gate_;
    std::atomic<int> attempts_{0};
};

TEST_F(TimedCommandTest, FailingAttemptsAreRetriedUpToTheSettingAndTheDisplayCountsRetries) {
    maxCommandRetries = 0;
    auto once = std::make_shared<TimedCommand>();
    EXPECT_FALSE(runFtpCommand(once, FtpCommandKind::Other, failingAttempt(), 5));
    EXPECT_EQ(attempts_, 1);
    EXPECT_EQ(display_.shown(), (std::vector<std::string>{"", ""}));

    maxCommandRetries = 3;
    attempts_ = 0;
    auto display = std::make_shared<TimedCommand>();
    RecordingDisplay fresh;
    setRetryDisplay(&fresh);
    EXPECT_FALSE(runFtpCommand(display, FtpCommandKind::Other, failingAttempt(), 5));
    EXPECT_EQ(attempts_, 4);
    // Blank during the first attempt, then the retries made so far, blank again at the end.
    EXPECT_EQ(fresh.shown(), (std::vector<std::string>{"", "1", "2", "3", ""}));
    EXPECT_EQ(fresh.labels(), (std::vector<std::string>{"", "Retries", "Retries", "Retries", ""}));
    EXPECT_FALSE(display->succeeded);
    EXPECT_EQ(lastErrorText(), "attempt 4 failed");
    EXPECT_EQ(commandState().retryCount, 0);
    EXPECT_FALSE(commandState().running);
}

TEST_F(TimedCommandTest, SuccessEndsTheAttemptsAndIsReported) {
    auto command = std::make_shared<TimedCommand>();
    const bool ok = runFtpCommand(
        command, FtpCommandKind::Other,
        [this](TimedCommand& record) {
            if (++attempts_ < 3) {
                setLastError("not yet");
                return false;
            }
            record.directory = "/site";
            return true;
        },
        5);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(command->succeeded);
    EXPECT_EQ(command->directory, "/site");
    EXPECT_EQ(attempts_, 3);
    EXPECT_EQ(display_.shown(), (std::vector<std::string>{"", "1", "2", ""}));
}

TEST_F(TimedCommandTest, UploadCountsItsAttemptWhenItEndsOtherCommandsBeforeItStarts) {
    auto countsSeenDuring = [this](FtpCommandKind kind) {
        std::vector<int> seen;
        auto command = std::make_shared<TimedCommand>();
        runFtpCommand(
            command, kind,
            [&seen](TimedCommand&) {
                seen.push_back(commandState().retryCount);
                setLastError("refused");
                return false;
            },
            5);
        return seen;
    };
    EXPECT_EQ(countsSeenDuring(FtpCommandKind::Upload), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(countsSeenDuring(FtpCommandKind::Other), (std::vector<int>{1, 2, 3, 4}));
    // The display shows the same in both cases.
    EXPECT_EQ(display_.shown(),
              (std::vector<std::string>{"", "1", "2", "3", "", "", "1", "2", "3", ""}));
}

TEST_F(TimedCommandTest, StopAttemptsEndsTheLoopAfterAFailedAttempt) {
    auto command = std::make_shared<TimedCommand>();
    EXPECT_FALSE(runFtpCommand(
        command, FtpCommandKind::Upload,
        [this](TimedCommand&) {
            ++attempts_;
            setLastError("Stopped");
            stopAttempts();
            return false;
        },
        5));
    EXPECT_EQ(attempts_, 1);
    EXPECT_EQ(lastErrorText(), "Stopped");
}

TEST_F(TimedCommandTest, TimeOutAbandonsTheWorkerAndNoRetryFollows) {
    auto command = std::make_shared<TimedCommand>();
    const auto start = Clock::now();
    const bool ok = runFtpCommand(
        command, FtpCommandKind::Other,
        [this](TimedCommand&) {
            ++attempts_;
            gate_.waitOpen();
            // The late outcome of an abandoned worker must change nothing the caller reads.
            setLastError("late failure");
            noteConnectionReset();
            return false;
        },
        1);
    const double waited = secondsSince(start);
    EXPECT_FALSE(ok);
    EXPECT_GE(waited, 1.0);
    EXPECT_LT(waited, 3.0);
    EXPECT_EQ(lastErrorText(), "Timed out");
    EXPECT_FALSE(commandState().running);

    gate_.open();
    ASSERT_TRUE(waitForCommandWorkers(5000ms));
    EXPECT_EQ(attempts_, 1);
    EXPECT_EQ(lastErrorText(), "Timed out");
    EXPECT_FALSE(commandState().connectionResetSeen);
    EXPECT_FALSE(command->succeeded);
}

TEST_F(TimedCommandTest, LimitZeroMeansNoLimitButConnectKeepsItsOwn) {
    commandTimeout = 0;
    EXPECT_EQ(commandLimitSeconds(), 0u);
    EXPECT_EQ(connectLimitSeconds(), 180u);
    auto command = std::make_shared<TimedCommand>();
    EXPECT_TRUE(runLocalCommand(command, [](TimedCommand&) {
        std::this_thread::sleep_for(1200ms);
        return true;
    }));
    EXPECT_EQ(lastErrorText(), "nothing failed yet");

    commandTimeout = 60;
    EXPECT_EQ(connectLimitSeconds(), 180u);
    commandTimeout = 300;
    EXPECT_EQ(connectLimitSeconds(), 300u);
}

TEST_F(TimedCommandTest, TouchingTheClockKeepsASteadyTransferWithinItsLimit) {
    auto command = std::make_shared<TimedCommand>();
    const bool ok = runFtpCommand(
        command, FtpCommandKind::Listing,
        [](TimedCommand&) {
            for (int step = 0; step < 12; ++step) {
                std::this_thread::sleep_for(100ms);
                touchCommandClock();
            }
            return true;
        },
        1);
    EXPECT_TRUE(ok);
    EXPECT_NE(lastErrorText(), "Timed out");
}

TEST_F(TimedCommandTest, WaitsEndWithoutSittingOutTheirTurns) {
    SlowTurnPump pump;
    setMessagePump(&pump);

    // No command in flight: nothing to wait for.
    auto start = Clock::now();
    waitForCommand(5);
    EXPECT_LT(secondsSince(start), 1.0);

    // Started and ended by the worker: both wake the wait.
    start = Clock::now();
    auto command = std::make_shared<TimedCommand>();
    EXPECT_TRUE(runLocalCommand(command, [](TimedCommand&) {
        std::this_thread::sleep_for(5ms);
        return true;
    }));
    EXPECT_LT(secondsSince(start), 1.0);

    // Stop from another thread wakes it too.
    auto blocked = std::make_shared<TimedCommand>();
    std::thread stopper([] {
        std::this_thread::sleep_for(50ms);
        requestStop();
    });
    start = Clock::now();
    runLocalCommand(blocked, [this](TimedCommand&) { return gate_.waitOpen(); });
    EXPECT_LT(secondsSince(start), 1.5);
    stopper.join();
    EXPECT_TRUE(stopRequested);
    gate_.open();
    stopRequested = false;
    waitForCommand(0);
    setMessagePump(nullptr);
}

TEST_F(TimedCommandTest, WorkerThatEndsBeforeTheWaitLeavesNothingToWaitFor) {
    auto command = std::make_shared<TimedCommand>();
    startFtpCommand(command, FtpCommandKind::Other, [](TimedCommand& record) {
        record.directory = "/";
        return true;
    });
    ASSERT_TRUE(waitForCommandWorkers(5000ms));
    const auto start = Clock::now();
    waitForCommand(1);
    EXPECT_LT(secondsSince(start), 0.5);
    EXPECT_TRUE(command->succeeded);
    EXPECT_EQ(command->directory, "/");
}

TEST_F(TimedCommandTest, StopEndsTheWaitWhileTheRemainingAttemptsGoOn) {
    std::thread stopper([] {
        std::this_thread::sleep_for(100ms);
        requestStop();
    });
    auto command = std::make_shared<TimedCommand>();
    const auto start = Clock::now();
    const bool ok = runFtpCommand(
        command, FtpCommandKind::Connect,
        [this](TimedCommand&) {
            ++attempts_;
            gate_.waitOpen();
            setLastError("Connection refused");
            return false;
        },
        connectLimitSeconds());
    stopper.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_EQ(attempts_, 1);
    EXPECT_TRUE(commandState().running);
    // The caller's problem line says why this command failed, not what failed before it.
    EXPECT_EQ(lastErrorText(), "Stopped by the user");

    // The next FTP command waits for it first; the worker was not abandoned, so it makes all
    // its attempts.
    gate_.open();
    stopRequested = false;
    waitForCommand(0);
    EXPECT_FALSE(commandState().running);
    EXPECT_EQ(attempts_, 4);
    EXPECT_EQ(lastErrorText(), "Connection refused");
}

TEST_F(TimedCommandTest, LateAbandonedWorkerDoesNotEndANewerCommandsWait) {
    Gate releaseFirst;
    auto first = std::make_shared<TimedCommand>();
    EXPECT_FALSE(runFtpCommand(
        first, FtpCommandKind::Other,
        [&releaseFirst](TimedCommand&) {
            releaseFirst.waitOpen();
            return true;
        },
        1));
    EXPECT_EQ(lastErrorText(), "Timed out");

    // The second command lets the first worker end while its own wait is in progress.
    std::atomic<bool> secondBodyDone{false};
    auto second = std::make_shared<TimedCommand>();
    const bool ok = runLocalCommand(second, [&](TimedCommand&) {
        releaseFirst.open();
        for (int i = 0; i < 500 && commandWorkersAlive() > 1; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(50ms);
        secondBodyDone = true;
        return true;
    });
    EXPECT_TRUE(secondBodyDone) << "the first worker's end ended the second command's wait";
    EXPECT_TRUE(ok);
    // Abandoned: its late success is not reported.
    EXPECT_FALSE(first->succeeded);
}

TEST_F(TimedCommandTest, ExceptionInABodyIsAFailedAttempt) {
    auto command = std::make_shared<TimedCommand>();
    EXPECT_FALSE(runLocalCommand(command, [this](TimedCommand&) -> bool {
        ++attempts_;
        throw std::runtime_error("disk on fire");
    }));
    EXPECT_EQ(attempts_, 1);
    EXPECT_EQ(lastErrorText(), "disk on fire");
}

}  // namespace
