#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transfer/CommandState.h"

class ConnectionDetails;
namespace ftp {
class FtpConnection;
}
struct FileEntry;

// The record of one command: the caller fills the inputs, the worker writes the outputs. Both
// hold it through std::shared_ptr, so a worker abandoned after a time-out still writes into a
// live record. The caller reads the outputs only when `succeeded` is true: after a time-out or
// Stop, a worker that has not finished may still be writing them.
struct TimedCommand {
    std::shared_ptr<ConnectionDetails> connection;  // connect: whose details are used
    // Local source (copy, move), local path (delete), FTP path (delete, rename source, existence
    // test), local file (upload).
    std::string firstPath;
    // Local destination (copy, move), new FTP name (rename), remote file (upload).
    std::string secondPath;
    bool failIfExists = false;  // copy: fail when the destination exists
    std::atomic<bool> succeeded{false};
    bool clearReadOnly = false;  // local copy, move, delete: retry once after making it writable
    std::vector<std::shared_ptr<FileEntry>> entries;  // listing result
    std::shared_ptr<ftp::FtpConnection> ftp;          // every FTP command except connect
    std::shared_ptr<ftp::FtpConnection> ftpSlot;      // connect: the connection it opened
    // Change, create, remove: the folder; listing: the folder to list; print working directory:
    // the server's answer.
    std::string directory;
    // Set by the worker once it is done with the command, abandoned or not.
    std::atomic<bool> ended{false};
};

// One attempt of a command, run on the worker thread. True when it succeeded; on failure it
// leaves the reason through setLastError.
using CommandBody = std::function<bool(TimedCommand&)>;

// What the attempt loop does differently per FTP command:
// - Connect and Upload also stop once the record says `succeeded`;
// - Upload counts the attempt when it ends, so the display stays blank during the first one
//   while the upload reports progress per chunk;
// - Other commands touch the connection activity before and after each attempt; Listing and
//   Upload touch it per item and per chunk themselves, connect only through beginCommand.
enum class FtpCommandKind { Connect, Listing, Upload, Other };

// Marks a new command as in flight (started = false, running = true, clock and connection
// activity restarted) and returns its generation. The start functions below call it.
std::uint64_t beginCommand();

// The caller's wait, on the user-interface thread: first until the worker has started, then
// until it ends, Stop is requested or the limit passes (0: no limit). Each turn dispatches the
// pending events and then sleeps in the message pump until a worker or Stop wakes it, at most
// 10 ms. On time-out the worker is abandoned and lastErrorText is "Timed out".
void waitForCommand(unsigned limitSeconds);
// Work the user-interface thread does whenever a wait for a command (or for the connection
// pool) wakes, besides dispatching events: the walk hands listings that other logins brought in
// their next work. The task must not start a command itself. Empty: none.
void setCommandWaitTask(std::function<void()> task);
void runCommandWaitTask();

// After a wait that Stop or the time limit ended: waits on until the command's worker is done
// with it (Stop leaves a worker running, a time-out abandons one that may still be inside the
// server's connection), pumping events as waitForCommand does, at most `limitSeconds` from now
// (0: no limit). True when the worker is done.
bool waitForCommandEnd(const TimedCommand& command, unsigned limitSeconds);

// Starts a local file command: one attempt on a new worker thread. Does not wait.
void startLocalCommand(std::shared_ptr<TimedCommand> command, CommandBody body);
// startLocalCommand, then waitForCommand(commandLimitSeconds()). Returns `succeeded`.
bool runLocalCommand(std::shared_ptr<TimedCommand> command, CommandBody body);

// Starts an FTP command after any command still in flight has ended (waitForCommand(0)): the
// attempt loop on a new worker thread, up to maxCommandRetries + 1 attempts while the worker is
// current and not abandoned, retrying at once after a failure. Does not wait for it.
void startFtpCommand(std::shared_ptr<TimedCommand> command, FtpCommandKind kind,
                     CommandBody attempt);
// startFtpCommand, then waitForCommand(limitSeconds). Returns `succeeded`. Pass
// commandLimitSeconds(), or connectLimitSeconds() for connect.
bool runFtpCommand(std::shared_ptr<TimedCommand> command, FtpCommandKind kind, CommandBody attempt,
                   unsigned limitSeconds);

// For command bodies, on their worker thread.
// Restarts the time limit: the listing per entry, the upload per chunk, so that the limit bounds
// the silence between steps rather than the whole transfer. Ignored once abandoned.
void touchCommandClock();
// True once the wait gave up on this worker (time-out) or a newer command replaced it.
bool commandAbandoned();
// commandAbandoned() or stopRequested: a long loop leaves at the next step.
bool commandShouldEnd();
// Records that the server reset the connection, unless this worker was abandoned.
void noteConnectionReset();
// Ends the attempt loop after the attempt in progress, even when it failed (an upload cut short
// by Stop is a failure that a retry would not mend).
void stopAttempts();

// Workers that have not ended yet, abandoned ones included.
int commandWorkersAlive();
// Waits until every worker has ended, at most `limit`. True when none is left.
bool waitForCommandWorkers(std::chrono::milliseconds limit);
