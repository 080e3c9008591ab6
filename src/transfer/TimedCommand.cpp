#include "transfer/TimedCommand.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "transfer/RetryDisplay.h"
#include "transfer/ftp/Tls.h"

namespace {

// The longest a wait sleeps between two looks at the clock and the Stop flag. Workers and Stop
// wake the pump, so this bounds only how late a time-out is noticed.
constexpr int kMaxTurnMs = 10;

// Which command owns `running`. Each beginCommand mints a generation; only that command's worker
// (or its time-out) clears the flag. The flags alone cannot tell a late worker from the current
// one, because a new command may begin between a late worker's check and its store; the mutex
// closes that gap. It is held only for a few stores, never across a call out.
struct Ownership {
    std::mutex mutex;
    std::uint64_t lastGeneration = 0;
    std::uint64_t owner = 0;  // 0: no command owns `running`
};

struct WorkerCount {
    std::mutex mutex;
    std::condition_variable ended;
    int alive = 0;
};

// Never destroyed: detached workers may still end while the program exits.
Ownership& ownership() {
    static Ownership& instance = *new Ownership;
    return instance;
}

WorkerCount& workerCount() {
    static WorkerCount& instance = *new WorkerCount;
    return instance;
}

void workerStarting() {
    WorkerCount& count = workerCount();
    std::lock_guard lock(count.mutex);
    ++count.alive;
}

void workerEnded() {
    WorkerCount& count = workerCount();
    {
        std::lock_guard lock(count.mutex);
        --count.alive;
    }
    count.ended.notify_all();
}

// What a worker knows about itself; reachable from its body through the free functions of the
// header.
struct WorkerContext {
    std::shared_ptr<std::atomic<bool>> abandoned = std::make_shared<std::atomic<bool>>(false);
    int attempts = 0;
    bool noMoreAttempts = false;
};

thread_local WorkerContext* activeWorker = nullptr;

bool isCurrent(const WorkerContext& worker) {
    return commandState().current.load() == worker.abandoned;
}

bool isAbandoned(const WorkerContext& worker) {
    return worker.abandoned->load();
}

// retryCount is what the display shows; a worker that is no longer current leaves it alone.
void publishAttempts(const WorkerContext& worker) {
    std::lock_guard lock(ownership().mutex);
    if (isCurrent(worker)) {
        commandState().retryCount.store(worker.attempts);
    }
}

void becomeCurrent(const WorkerContext& worker) {
    CommandState& state = commandState();
    std::lock_guard lock(ownership().mutex);
    std::shared_ptr<std::atomic<bool>> previous = state.current.exchange(worker.abandoned);
    if (previous) {
        // A worker that went on after Stop has been replaced: it must not attempt again.
        previous->store(true);
    }
    state.retryCount.store(0);
}

// Returns true when the worker was still current, so that the display is to be blanked.
bool releaseCommand(const WorkerContext& worker, std::uint64_t generation) {
    CommandState& state = commandState();
    Ownership& own = ownership();
    std::lock_guard lock(own.mutex);
    if (own.owner == generation) {
        own.owner = 0;
        state.running.store(false);
    }
    std::shared_ptr<std::atomic<bool>> expected = worker.abandoned;
    if (!state.current.compare_exchange_strong(expected, nullptr)) {
        return false;
    }
    state.retryCount.store(0);
    return true;
}

void timeOutCommand() {
    CommandState& state = commandState();
    std::shared_ptr<std::atomic<bool>> worker;
    {
        Ownership& own = ownership();
        std::lock_guard lock(own.mutex);
        own.owner = 0;
        state.running.store(false);
        worker = state.current.load();
    }
    // The marker goes first: setLastError drops the abandoned worker's failures from then on,
    // so "Timed out" is what the caller reads.
    if (worker) {
        worker->store(true);
    }
    setLastError("Timed out");
}

// No exception may leave a worker thread (it would end the program); one that escapes a body is
// a failed attempt with the exception's text as the reason.
bool runGuarded(const CommandBody& body, TimedCommand& command) {
    try {
        return body(command);
    } catch (const std::exception& e) {
        setLastError(e.what());
    } catch (...) {
        setLastError("Unknown error");
    }
    return false;
}

void runAttempts(TimedCommand& command, FtpCommandKind kind, const CommandBody& attempt,
                 WorkerContext& worker) {
    const bool countAtEnd = kind == FtpCommandKind::Upload;
    const bool endsOnSuccess = kind == FtpCommandKind::Connect || kind == FtpCommandKind::Upload;
    const bool touchesAround = kind == FtpCommandKind::Other;
    while (isCurrent(worker) && !isAbandoned(worker)) {
        if (endsOnSuccess && command.succeeded.load()) {
            break;
        }
        if (worker.attempts > maxCommandRetries.load()) {
            break;
        }
        updateRetryDisplay();
        if (!countAtEnd) {
            ++worker.attempts;
            publishAttempts(worker);
        }
        if (touchesAround) {
            touchConnectionActivity();
        }
        const bool ok = runGuarded(attempt, command);
        if (touchesAround) {
            touchConnectionActivity();
        }
        if (countAtEnd) {
            ++worker.attempts;
            publishAttempts(worker);
        }
        if (ok) {
            if (!isAbandoned(worker)) {
                command.succeeded.store(true);
            }
            break;
        }
        if (worker.noMoreAttempts) {
            break;
        }
    }
}

using Perform = std::function<void(TimedCommand&, WorkerContext&)>;

void workerFrame(std::shared_ptr<TimedCommand> command, std::uint64_t generation, Perform perform) {
    {
        WorkerContext worker;
        activeWorker = &worker;
        bindLastErrorToCommand(worker.abandoned.get());
        CommandState& state = commandState();

        // The clock restarts when the thread actually runs, not when it was asked for.
        state.startTime.store(processClockMs());
        touchConnectionActivity();
        becomeCurrent(worker);
        command->succeeded.store(false);
        state.started.store(true);
        wakeMessagePump();

        perform(*command, worker);
        // Whatever the body captured goes before the worker counts as ended.
        perform = nullptr;
        command->ended.store(true);
        command.reset();

        const bool wasCurrent = releaseCommand(worker, generation);
        if (wasCurrent) {
            updateRetryDisplay();
        }
        bindLastErrorToCommand(nullptr);
        activeWorker = nullptr;
        wakeMessagePump();
    }
    ftp::releaseThreadTlsState();
    workerEnded();
}

// Every command runs on a thread that runs nothing else meanwhile, but starting a thread per
// command costs more than many FTP exchanges on a fast link. A thread whose command has ended
// parks for a while and takes the next command; when none is parked (the last one is still busy,
// perhaps abandoned after a time-out) a new thread starts, so a hung worker never holds up the
// next command.
struct WorkerPool {
    std::mutex mutex;
    std::condition_variable jobArrived;
    std::function<void()> job;
    bool parked = false;  // one thread waits for `job`
};

WorkerPool& workerPool() {
    static WorkerPool& instance = *new WorkerPool;  // never destroyed: parked threads use it
    return instance;
}

constexpr std::chrono::seconds kParkedThreadLife{30};

void runOnWorkerThread(std::function<void()> job) {
    WorkerPool& pool = workerPool();
    {
        std::lock_guard lock(pool.mutex);
        if (pool.parked && !pool.job) {
            pool.job = std::move(job);
            pool.parked = false;
            pool.jobArrived.notify_one();
            return;
        }
    }
    std::thread([first = std::move(job)]() mutable {
        WorkerPool& pool = workerPool();
        std::function<void()> current = std::move(first);
        for (;;) {
            current();
            current = nullptr;
            std::unique_lock lock(pool.mutex);
            if (pool.parked) {
                return;  // another thread is waiting already
            }
            pool.parked = true;
            if (!pool.jobArrived.wait_for(lock, kParkedThreadLife,
                                          [&pool] { return bool(pool.job); })) {
                pool.parked = false;
                return;
            }
            current = std::move(pool.job);
            pool.job = nullptr;
        }
    }).detach();
}

void startWorker(std::shared_ptr<TimedCommand> command, Perform perform) {
    const std::uint64_t generation = beginCommand();
    workerStarting();
    std::shared_ptr<TimedCommand> record = command;
    try {
        runOnWorkerThread(
            [command = std::move(command), generation, perform = std::move(perform)]() mutable {
                workerFrame(std::move(command), generation, std::move(perform));
            });
    } catch (const std::system_error& e) {
        record->ended.store(true);
        workerEnded();
        {
            std::lock_guard lock(ownership().mutex);
            if (ownership().owner == generation) {
                ownership().owner = 0;
                commandState().running.store(false);
            }
        }
        commandState().started.store(true);
        setLastErrorFromCode(e.code().value());
    }
}

}  // namespace

std::uint64_t beginCommand() {
    CommandState& state = commandState();
    std::uint64_t generation = 0;
    {
        Ownership& own = ownership();
        std::lock_guard lock(own.mutex);
        generation = ++own.lastGeneration;
        own.owner = generation;
        state.started.store(false);
        state.running.store(true);
        state.startTime.store(processClockMs());
    }
    touchConnectionActivity();
    return generation;
}

namespace {

// The user-interface thread's only.
std::function<void()>& commandWaitTask() {
    static std::function<void()> task;
    return task;
}

}  // namespace

void setCommandWaitTask(std::function<void()> task) {
    commandWaitTask() = std::move(task);
}

void runCommandWaitTask() {
    if (const std::function<void()>& task = commandWaitTask()) {
        task();
    }
}

void waitForCommand(unsigned limitSeconds) {
    CommandState& state = commandState();
    while (!state.started.load()) {
        messagePump().pumpOnce();
        if (state.started.load()) {
            break;
        }
        messagePump().idleWait(kMaxTurnMs);
    }
    const std::int64_t limitMs = static_cast<std::int64_t>(limitSeconds) * 1000;
    while (state.running.load() && !stopRequested.load()) {
        messagePump().pumpOnce();
        runCommandWaitTask();
        if (!state.running.load() || stopRequested.load()) {
            break;
        }
        int turnMs = kMaxTurnMs;
        if (limitSeconds != 0) {
            const std::int64_t elapsed = processClockMs() - state.startTime.load();
            if (elapsed > limitMs) {
                timeOutCommand();
                break;
            }
            turnMs = static_cast<int>(std::min<std::int64_t>(turnMs, limitMs - elapsed + 1));
        }
        messagePump().idleWait(turnMs);
    }
}

bool waitForCommandEnd(const TimedCommand& command, unsigned limitSeconds) {
    const std::int64_t deadline = processClockMs() + static_cast<std::int64_t>(limitSeconds) * 1000;
    while (!command.ended.load()) {
        messagePump().pumpOnce();
        if (command.ended.load()) {
            break;
        }
        int turnMs = kMaxTurnMs;
        if (limitSeconds != 0) {
            const std::int64_t left = deadline - processClockMs();
            if (left <= 0) {
                return false;
            }
            turnMs = static_cast<int>(std::min<std::int64_t>(turnMs, left));
        }
        messagePump().idleWait(turnMs);
    }
    return true;
}

void startLocalCommand(std::shared_ptr<TimedCommand> command, CommandBody body) {
    startWorker(std::move(command),
                [body = std::move(body)](TimedCommand& record, WorkerContext& worker) {
                    if (runGuarded(body, record) && !isAbandoned(worker)) {
                        record.succeeded.store(true);
                    }
                });
}

namespace {

// Stop ends a wait while the worker goes on; without this the caller would report whatever
// failure happened last, which has nothing to do with this command.
bool resultAfterWait(const TimedCommand& command) {
    const bool succeeded = command.succeeded.load();
    if (!succeeded && stopRequested.load()) {
        setLastError("Stopped by the user");
    }
    return succeeded;
}

}  // namespace

bool runLocalCommand(std::shared_ptr<TimedCommand> command, CommandBody body) {
    startLocalCommand(command, std::move(body));
    waitForCommand(commandLimitSeconds());
    return resultAfterWait(*command);
}

void startFtpCommand(std::shared_ptr<TimedCommand> command, FtpCommandKind kind,
                     CommandBody attempt) {
    waitForCommand(0);
    startWorker(std::move(command),
                [kind, attempt = std::move(attempt)](TimedCommand& record, WorkerContext& worker) {
                    runAttempts(record, kind, attempt, worker);
                });
}

bool runFtpCommand(std::shared_ptr<TimedCommand> command, FtpCommandKind kind, CommandBody attempt,
                   unsigned limitSeconds) {
    startFtpCommand(command, kind, std::move(attempt));
    waitForCommand(limitSeconds);
    return resultAfterWait(*command);
}

void touchCommandClock() {
    if (activeWorker != nullptr && isAbandoned(*activeWorker)) {
        return;
    }
    commandState().startTime.store(processClockMs());
}

bool commandAbandoned() {
    return activeWorker != nullptr && isAbandoned(*activeWorker);
}

bool commandShouldEnd() {
    return commandAbandoned() || stopRequested.load();
}

void noteConnectionReset() {
    if (!commandAbandoned()) {
        commandState().connectionResetSeen.store(true);
    }
}

void stopAttempts() {
    if (activeWorker != nullptr) {
        activeWorker->noMoreAttempts = true;
    }
}

int commandWorkersAlive() {
    WorkerCount& count = workerCount();
    std::lock_guard lock(count.mutex);
    return count.alive;
}

bool waitForCommandWorkers(std::chrono::milliseconds limit) {
    WorkerCount& count = workerCount();
    std::unique_lock lock(count.mutex);
    return count.ended.wait_for(lock, limit, [&count] { return count.alive == 0; });
}
