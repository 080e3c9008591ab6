// The logins of one run and the threads that work through its queue of jobs.

#include "transfer/ConnectionPool.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"
#include "transfer/TimedCommand.h"
#include "transfer/ftp/FtpConnection.h"
#include "transfer/ftp/Tls.h"

std::atomic<int> ftpConnections{kDefaultFtpConnections};

namespace {

constexpr const char* kUnknownWriteError = "Unknown error writing to FTP file";
constexpr const char* kUnknownError = "Unknown error talking to the FTP server";
constexpr int kTurnMs = 10;
// How long the end of the pool waits for its members to log out before it cuts their sockets.
constexpr auto kLogoutGrace = std::chrono::seconds(10);
constexpr auto kAbortGrace = std::chrono::seconds(2);

}  // namespace

struct ConnectionPool::Member {
    bool isMain = false;
    // The member's login; replaced only by its own thread, read by others under the lock.
    std::shared_ptr<ftp::FtpConnection> ftp;
    bool alive = true;  // logged in or logging in; false once it has left
    bool loggingIn = false;
    bool busy = false;  // running a job, or holding the next one
    int attempts = 0;   // of its job, for the retry display
    // Taken off the queue while the job before it ran, when that listing sent the EPSV for it
    // ahead (FtpConnection::list); it runs next on this member.
    std::shared_ptr<PoolJob> next;
};

struct ConnectionPool::Shared {
    mutable std::mutex mutex;
    std::condition_variable work;
    std::condition_variable ended;
    std::deque<std::shared_ptr<PoolJob>> queue;
    std::vector<std::shared_ptr<Member>> members;

    LoginDetails login;  // of the run's connection, as the server took it
    // The run's own login: what it learnt of the server, the extra logins need not ask again.
    std::weak_ptr<const ftp::FtpConnection> factsFrom;
    bool loginsAllowed = true;  // false until the run's own login is taken (beforeLogin)

    std::shared_ptr<ftp::FtpConnection> mainFtp;  // while lent
    bool mainLent = false;
    bool mainLost = false;
    bool closing = false;
    int threads = 0;
    int accepted = 1;
    int shownRetries = 0;
    std::string lastDrop;  // why the last connection broke
    std::atomic<std::uint64_t> extraCommands{0};

    // Whether some member can take a job that may (or may not) use the run's own connection.
    bool canServe(bool mayUseMain) const {
        for (const auto& member : members) {
            if (!member->alive) {
                continue;
            }
            if (!member->isMain || (mayUseMain && mainLent && !mainLost)) {
                return true;
            }
        }
        return false;
    }

    // The retry display shows the most attempts of a job in flight.
    void publishRetries() {
        int most = 0;
        for (const auto& member : members) {
            if (member->busy) {
                most = std::max(most, member->attempts);
            }
        }
        if (most != shownRetries) {
            shownRetries = most;
            commandState().retryCount.store(most);
            updateRetryDisplay();
        }
    }
};

namespace {

ftp::FtpResult runOnce(ftp::FtpConnection& connection, PoolJob& job, std::uint64_t& counted,
                       const std::function<bool()>& takeNextTransfer) {
    const auto stillWanted = [] { return !stopRequested.load(); };
    switch (job.kind) {
        case PoolJob::Kind::Upload:
            return connection.upload(std::filesystem::path(job.localPath), job.remotePath,
                                     [&counted, &stillWanted](std::uint64_t sent) {
                                         bytesDone.fetch_add(sent - counted);
                                         counted = sent;
                                         touchConnectionActivity();
                                         updateRetryDisplay();
                                         return stillWanted();
                                     });
        case PoolJob::Kind::DeleteFile:
            return connection.deleteFile(job.remotePath);
        case PoolJob::Kind::MakeDirectory: {
            std::string folder = job.remotePath;
            if (!folder.empty() && folder.back() == '/') {
                folder.pop_back();
            }
            return connection.makeDirectory(folder);
        }
        case PoolJob::Kind::List:
            job.listing.clear();
            return connection.list(
                job.remotePath, job.listing,
                [&stillWanted](std::uint64_t) {
                    touchConnectionActivity();
                    return stillWanted();
                },
                takeNextTransfer);
    }
    return {};
}

}  // namespace

ConnectionPool::ConnectionPool(std::shared_ptr<ConnectionDetails> connection, int size,
                               bool beforeLogin)
    : shared_(std::make_shared<Shared>()), connection_(std::move(connection)) {
    Shared& s = *shared_;
    s.login = connection_->loginDetails();
    s.factsFrom = connection_->ftp;
    s.loginsAllowed = !beforeLogin;
    size = std::clamp(size, 1, kMaxFtpConnections);
    for (int index = 0; index < size; ++index) {
        auto member = std::make_shared<Member>();
        member->isMain = index == 0;
        s.members.push_back(member);
    }
    std::lock_guard lock(s.mutex);
    for (const auto& member : s.members) {
        ++s.threads;
        threads_.emplace_back(memberThread, shared_, member);
    }
}

std::function<void(std::shared_ptr<ftp::FtpConnection>, const LoginDetails&)>
ConnectionPool::loginGate() {
    return [weak = std::weak_ptr<Shared>(shared_)](std::shared_ptr<ftp::FtpConnection> main,
                                                   const LoginDetails& login) {
        const std::shared_ptr<Shared> s = weak.lock();
        if (!s) {
            return;
        }
        {
            std::lock_guard lock(s->mutex);
            s->login = login;
            s->factsFrom = main;
            s->loginsAllowed = true;
        }
        s->work.notify_all();
    };
}

void ConnectionPool::close() {
    Shared& s = *shared_;
    {
        std::lock_guard lock(s.mutex);
        s.closing = true;
        for (const auto& job : s.queue) {
            job->done.store(true);
        }
        s.queue.clear();
        // A login still being made is of no use now (the run's own login may have failed, or
        // Stop was pressed while it was made); a slow server must not hold up the end.
        for (const auto& member : s.members) {
            if (member->loggingIn && member->ftp) {
                member->ftp->abort();
            }
        }
    }
    s.work.notify_all();
}

ConnectionPool::~ConnectionPool() {
    close();
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    if (!s.ended.wait_for(lock, kLogoutGrace, [&s] { return s.threads == 0; })) {
        // A server that does not answer QUIT (or a job still hanging on one) must not hold up
        // the end of the run.
        for (const auto& member : s.members) {
            if (!member->isMain && member->ftp) {
                member->ftp->abort();
            }
        }
        s.ended.wait_for(lock, kAbortGrace, [&s] { return s.threads == 0; });
    }
    s.mainFtp.reset();
    const bool allEnded = s.threads == 0;
    lock.unlock();
    // Threads that have left are joined: the program may end right after the run, and a thread
    // still on its way out then would lose OpenSSL's per-thread state in the middle of its
    // clean-up. One that hangs on a dead socket is let go; the shared state outlives it.
    for (std::thread& thread : threads_) {
        if (allEnded) {
            thread.join();
        } else {
            thread.detach();
        }
    }
}

std::shared_ptr<PoolJob> ConnectionPool::submit(PoolJob::Kind kind, std::string remotePath,
                                                std::string localPath, bool urgent,
                                                bool mayUseMain) {
    auto job = std::make_shared<PoolJob>();
    job->kind = kind;
    job->remotePath = std::move(remotePath);
    job->localPath = std::move(localPath);
    job->mayUseMain = mayUseMain;
    {
        std::lock_guard lock(shared_->mutex);
        if (urgent) {
            shared_->queue.push_front(job);
        } else {
            shared_->queue.push_back(job);
        }
    }
    shared_->work.notify_all();
    return job;
}

std::shared_ptr<PoolJob> ConnectionPool::takeNext() {
    std::lock_guard lock(shared_->mutex);
    if (shared_->queue.empty()) {
        return nullptr;
    }
    std::shared_ptr<PoolJob> job = shared_->queue.front();
    shared_->queue.pop_front();
    job->done.store(true);
    return job;
}

void ConnectionPool::submitFirst(const std::vector<std::shared_ptr<PoolJob>>& jobs) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->queue.insert(shared_->queue.begin(), jobs.begin(), jobs.end());
    }
    shared_->work.notify_all();
}

bool ConnectionPool::withdraw(const std::shared_ptr<PoolJob>& job) {
    std::lock_guard lock(shared_->mutex);
    if (job->started || job->done.load()) {
        return false;
    }
    std::erase(shared_->queue, job);
    job->done.store(true);
    return true;
}

bool ConnectionPool::waitUntil(const std::function<bool()>& done) {
    Shared& s = *shared_;
    std::int64_t stopDeadline = 0;
    bool aborted = false;
    for (;;) {
        messagePump().pumpOnce();
        runCommandWaitTask();
        {
            std::lock_guard lock(s.mutex);
            if (done()) {
                return true;
            }
            if (stopRequested.load() && stopDeadline == 0) {
                // Nothing more goes out; what is in flight gets the time of a command to end
                // and to delete what it left half sent.
                for (const auto& queued : s.queue) {
                    queued->done.store(true);
                }
                s.queue.clear();
                const unsigned limit = commandLimitSeconds();
                stopDeadline =
                    processClockMs() + 1000LL * (limit != 0 ? limit : kDefaultCommandTimeout);
            }
            // Jobs that no member is left to take fail as a lost connection does.
            for (auto it = s.queue.begin(); it != s.queue.end();) {
                if (s.canServe((*it)->mayUseMain)) {
                    ++it;
                    continue;
                }
                (*it)->ran = true;
                (*it)->connectionLost = true;
                (*it)->errorText = s.lastDrop.empty() ? kUnknownError : s.lastDrop;
                (*it)->done.store(true);
                it = s.queue.erase(it);
            }
            if (done()) {
                return true;
            }
            if (stopDeadline != 0 && processClockMs() > stopDeadline) {
                if (aborted) {
                    return false;
                }
                // Cut the sockets of what still hangs; its thread then ends at once.
                aborted = true;
                stopDeadline = processClockMs() + std::chrono::milliseconds(kAbortGrace).count();
                for (const auto& member : s.members) {
                    const std::shared_ptr<ftp::FtpConnection>& connection =
                        member->isMain ? s.mainFtp : member->ftp;
                    if (member->busy && connection) {
                        connection->abort();
                        s.mainLost = s.mainLost || member->isMain;
                    }
                }
            }
        }
        messagePump().idleWait(kTurnMs);
    }
}

bool ConnectionPool::wait(const PoolJob& job) {
    return waitUntil([&job] { return job.done.load(); });
}

bool ConnectionPool::waitAll() {
    Shared& s = *shared_;
    // Runs under the pool's lock.
    return waitUntil([&s] {
        return s.queue.empty() && std::none_of(s.members.begin(), s.members.end(),
                                               [](const auto& member) { return member->busy; });
    });
}

void ConnectionPool::lendMainConnection() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->mainFtp = connection_->ftp;
        shared_->mainLent = shared_->mainFtp != nullptr;
        shared_->mainLost = false;
    }
    shared_->work.notify_all();
}

bool ConnectionPool::finish() {
    waitAll();
    std::lock_guard lock(shared_->mutex);
    shared_->mainLent = false;
    shared_->mainFtp.reset();
    return !shared_->mainLost;
}

int ConnectionPool::liveMembers() const {
    std::lock_guard lock(shared_->mutex);
    int live = 0;
    for (const auto& member : shared_->members) {
        if (member->alive && (!member->isMain || (shared_->mainLent && !shared_->mainLost))) {
            ++live;
        }
    }
    return live;
}

int ConnectionPool::acceptedLogins() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->accepted;
}

std::uint64_t ConnectionPool::extraCommandCount() const {
    return shared_->extraCommands.load();
}

namespace {

// The first job of the queue this member may take; null when none.
using JobQueue = std::deque<std::shared_ptr<PoolJob>>;

// The first job a member may run: the run's own connection runs only those lent to it.
JobQueue::iterator firstJobFor(JobQueue& queue, bool isMain) {
    return std::find_if(queue.begin(), queue.end(),
                        [isMain](const auto& job) { return !isMain || job->mayUseMain; });
}

std::shared_ptr<PoolJob> takeJob(JobQueue& queue, bool isMain) {
    const auto it = firstJobFor(queue, isMain);
    if (it == queue.end()) {
        return nullptr;
    }
    std::shared_ptr<PoolJob> job = *it;
    queue.erase(it);
    return job;
}

}  // namespace

void ConnectionPool::memberThread(std::shared_ptr<Shared> shared, std::shared_ptr<Member> member) {
    Shared& s = *shared;
    const auto leave = [&s, &member] {
        std::lock_guard lock(s.mutex);
        member->alive = false;
        member->busy = false;
        --s.threads;
        s.ended.notify_all();
    };
    const auto logIn = [&s, &member]() -> bool {
        auto connection = std::make_shared<ftp::FtpConnection>();
        LoginDetails login;
        {
            std::unique_lock lock(s.mutex);
            s.work.wait(lock, [&s] { return s.loginsAllowed || s.closing; });
            if (s.closing) {
                return false;
            }
            member->ftp = connection;
            member->loggingIn = true;
            login = s.login;
            connection->takeFactsFrom(s.factsFrom.lock());
        }
        const ftp::FtpResult result =
            connection->connect(login.server, login.port, login.user, login.password, login.passive,
                                ftpSocketLimits(), login.tls);
        std::lock_guard lock(s.mutex);
        member->loggingIn = false;
        if (!result) {
            // Too many connections, a closed socket, any refusal: the pool makes do with fewer.
            member->ftp.reset();
            return false;
        }
        return !s.closing;
    };

    if (!member->isMain) {
        if (!logIn()) {
            leave();
            wakeMessagePump();
            return;
        }
        std::lock_guard lock(s.mutex);
        ++s.accepted;
    }

    // Asked by a listing once its data is in: the next job this member would take, when it is a
    // listing or an upload, is taken now, so that its EPSV can go out at once.
    const auto takeNextTransfer = [&s, &member]() -> bool {
        std::lock_guard lock(s.mutex);
        if (member->next) {
            return true;
        }
        if (s.closing || stopRequested.load()) {
            return false;
        }
        const auto it = firstJobFor(s.queue, member->isMain);
        if (it == s.queue.end() ||
            ((*it)->kind != PoolJob::Kind::List && (*it)->kind != PoolJob::Kind::Upload)) {
            return false;
        }
        member->next = *it;
        member->next->started = true;
        s.queue.erase(it);
        return true;
    };
    // A job taken ahead goes back to the front of the queue (the member's login broke).
    const auto giveBackNext = [&s, &member] {
        if (member->next) {
            member->next->started = false;
            s.queue.push_front(std::move(member->next));
            member->next = nullptr;
        }
    };

    for (;;) {
        std::shared_ptr<PoolJob> job;
        std::shared_ptr<ftp::FtpConnection> connection;
        {
            std::unique_lock lock(s.mutex);
            s.work.wait(lock, [&] {
                if (s.closing || member->next) {
                    return true;
                }
                if (member->isMain && (!s.mainLent || s.mainLost)) {
                    return false;
                }
                return std::any_of(s.queue.begin(), s.queue.end(), [&](const auto& queued) {
                    return !member->isMain || queued->mayUseMain;
                });
            });
            if (s.closing) {
                if (member->next) {
                    // Never sent: it counts for nothing.
                    member->next->done.store(true);
                    member->next = nullptr;
                }
                break;
            }
            if (member->next) {
                job = std::move(member->next);
                member->next = nullptr;
            } else {
                job = takeJob(s.queue, member->isMain);
            }
            if (!job) {
                continue;
            }
            job->started = true;
            member->busy = true;
            member->attempts = 0;
            connection = member->isMain ? s.mainFtp : member->ftp;
        }

        connection->setTimeouts(ftpSocketLimits());
        const std::uint64_t commandsBefore = connection->commandCount();
        bool broke = false;
        bool outOfStep = false;
        const int attempts = maxCommandRetries.load() + 1;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (stopRequested.load()) {
                break;
            }
            {
                std::lock_guard lock(s.mutex);
                member->attempts = attempt;
                s.publishRetries();
            }
            job->ran = true;
            std::uint64_t counted = 0;
            touchConnectionActivity();
            const ftp::FtpResult result = runOnce(*connection, *job, counted, takeNextTransfer);
            touchConnectionActivity();
            if (result) {
                job->succeeded = true;
                break;
            }
            takeBackBytesDone(counted);
            job->errorText = !result.text.empty()                 ? result.text
                             : job->kind == PoolJob::Kind::Upload ? kUnknownWriteError
                                                                  : kUnknownError;
            if (!connection->isConnected()) {
                broke = true;
                outOfStep = connection->lostStep();
                break;
            }
            if (result.error == ftp::FtpError::Cancelled ||
                result.error == ftp::FtpError::InvalidName || stopRequested.load()) {
                break;
            }
        }
        if (!member->isMain) {
            s.extraCommands.fetch_add(connection->commandCount() - commandsBefore);
        }

        {
            std::lock_guard lock(s.mutex);
            if (broke) {
                giveBackNext();
            }
            // A member holding its next job stays busy: the queue may be empty, but the pool
            // is not done.
            member->busy = member->next != nullptr;
            member->attempts = 0;
            s.publishRetries();
            if (broke && outOfStep && !stopRequested.load()) {
                // The replies fell out of step with the commands: a new login puts that right,
                // and the job goes once more; out of step again, it fails alone.
                if (++job->stepLosses < 2 && !s.closing) {
                    job->started = false;
                    s.queue.push_front(job);
                    job = nullptr;
                }
            } else if (broke && !stopRequested.load()) {
                s.lastDrop = job->errorText;
                if (++job->drops < 2 && !s.closing) {
                    // Another member, or this one after a new login, sends it again from the
                    // start; the server's partial copy is overwritten then.
                    // `ran` and the reason stay: should Stop take it off the queue now, the
                    // server may still hold the part that went out.
                    job->started = false;
                    s.queue.push_front(job);
                    job = nullptr;
                } else {
                    job->connectionLost = true;
                }
            }
            if (broke && member->isMain) {
                s.mainLost = true;
            }
            if (job) {
                job->done.store(true);
            }
        }
        s.work.notify_all();
        wakeMessagePump();
        if (broke && !member->isMain) {
            std::shared_ptr<ftp::FtpConnection> old;
            {
                std::lock_guard lock(s.mutex);
                old = std::move(member->ftp);
            }
            if (old) {
                old->close();
            }
            if (stopRequested.load() || !logIn()) {
                wakeMessagePump();
                break;
            }
        }
    }

    std::shared_ptr<ftp::FtpConnection> own;
    if (!member->isMain) {
        std::lock_guard lock(s.mutex);
        own = member->ftp;
    }
    if (own) {
        own->close();
    }
    // Gone before the pool hears that this thread is done: the program may end right after.
    {
        std::lock_guard lock(s.mutex);
        member->ftp.reset();
    }
    own.reset();
    ftp::releaseThreadTlsState();
    leave();
    wakeMessagePump();
}
