#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transfer/ftp/FtpListing.h"

class ConnectionDetails;
struct LoginDetails;
namespace ftp {
class FtpConnection;
}

// How many logins a run may use at once, its own connection included (the "FtpConnections"
// setting). 1 keeps a run to its own connection, one command after the other.
inline constexpr int kDefaultFtpConnections = 4;
inline constexpr int kMaxFtpConnections = 16;
extern std::atomic<int> ftpConnections;

// One operation for the pool. The user-interface thread fills the inputs and submits it; the
// member that takes it writes the outputs, which the user-interface thread reads once `done`.
struct PoolJob {
    enum class Kind { Upload, DeleteFile, MakeDirectory, List };
    Kind kind = Kind::Upload;
    std::string remotePath;  // the file, or the folder (List: ending with "/")
    std::string localPath;   // Upload: the local file
    // False: only the extra logins take it (the walk itself is using the run's own connection).
    bool mayUseMain = true;

    bool succeeded = false;
    // False when Stop (or the end of the pool) took the job off the queue before any attempt:
    // it was never sent and counts for nothing.
    bool ran = false;
    // The connection broke under it once more after it had been given to another login, or no
    // login was left to take it: the run cannot go on (as a second drop ends a run of one
    // connection).
    bool connectionLost = false;
    std::string errorText;
    std::vector<ftp::ListingEntry> listing;  // List
    std::atomic<bool> done{false};

    // The pool's own bookkeeping, under its lock.
    bool started = false;
    int drops = 0;       // connections that broke under it
    int stepLosses = 0;  // connections that closed themselves for replies out of step
};

// The logins of one run: the run's own connection and up to size - 1 more logins of the same
// details, each member on a thread of its own working through one queue of jobs. Each job is one
// FTP command with the retries of an ordinary command (maxCommandRetries), the socket limits of
// the command time-out and Stop between chunks; an upload cut short leaves no partial file while
// the server listens (FtpConnection::upload).
//
// The extra logins are made in the background as the pool starts. One the server refuses (too
// many connections, a closed socket, any failed login) makes the pool smaller for the rest of
// the run; it is never a failure. A member whose connection breaks under a job hands the job to
// the queue again and logs in once more; failing that, it leaves.
//
// The run's own connection takes jobs only between lendMainConnection() and finish(): in
// between, the user-interface thread sends nothing over it.
//
// Every call is for the user-interface thread; the waits keep the windows alive through the
// message pump.
class ConnectionPool {
  public:
    // `beforeLogin`: made while the run's own connection logs in; the extra logins wait for the
    // call of loginGate()'s function, which the connection makes once the server has taken it.
    ConnectionPool(std::shared_ptr<ConnectionDetails> connection, int size,
                   bool beforeLogin = false);
    // For ConnectionDetails::onLoggedIn: lets the extra logins begin, with the details and the
    // server facts of the login the server has just taken. Safe on any thread, also once the
    // pool has gone.
    std::function<void(std::shared_ptr<ftp::FtpConnection>, const LoginDetails&)> loginGate();
    ~ConnectionPool();
    // The members log out and take no more jobs; the destructor waits for them to have gone.
    // Ending a pool this way lets the logouts overlap with what the caller does next.
    void close();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // Adds a job at the end of the queue, or at its front when `urgent`.
    std::shared_ptr<PoolJob> submit(PoolJob::Kind kind, std::string remotePath,
                                    std::string localPath = {}, bool urgent = false,
                                    bool mayUseMain = true);
    // Puts jobs at the front of the queue, the first of them first.
    void submitFirst(const std::vector<std::shared_ptr<PoolJob>>& jobs);
    // Takes a job no member has started off the queue; false when one has.
    bool withdraw(const std::shared_ptr<PoolJob>& job);
    // Takes the first queued job off the queue, for the caller to do itself; null when none.
    std::shared_ptr<PoolJob> takeNext();
    // Until the job is done; waitAll: until no job is queued or in flight. After Stop, queued
    // jobs are dropped (ran stays false) and jobs in flight get the time of a command to end and
    // clean up, after which their sockets are cut. False when a job was still not done then:
    // its caller counts it as failed without reading it.
    bool wait(const PoolJob& job);
    bool waitAll();

    void lendMainConnection();
    // waitAll, then the run's own connection is the user-interface thread's again. False when it
    // broke while it was lent (the caller logs in again).
    bool finish();

    // Members with a working login, the run's own connection included while it is lent.
    int liveMembers() const;
    // Logins the server accepted so far, the run's own connection included.
    int acceptedLogins() const;
    // Commands sent by the extra logins, for the cost measures.
    std::uint64_t extraCommandCount() const;

  private:
    struct Member;
    struct Shared;
    // The thread of one member. `shared` keeps the pool's state alive while the thread runs,
    // so the pool may end before a member that is still logging out.
    static void memberThread(std::shared_ptr<Shared> shared, std::shared_ptr<Member> member);
    // Pumps the user-interface thread's events until `done` (called under the pool's lock)
    // holds; handles Stop and jobs no member is left to take.
    bool waitUntil(const std::function<bool()>& done);
    std::shared_ptr<Shared> shared_;
    std::shared_ptr<ConnectionDetails> connection_;
    std::vector<std::thread> threads_;
};
