// Uploading one file, with the one reconnect a dropped connection earns.

#include <sys/stat.h>

#include <filesystem>

#include "common/ErrorReport.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"
#include "transfer/TimedCommand.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/ftp/FtpConnection.h"

namespace {

constexpr const char* kUnknownWriteError = "Unknown error writing to FTP file";

// One attempt: the whole file from its first byte. Progress counts into bytesDone as it goes
// and is taken back when the attempt fails, so that a retried file is counted once.
bool uploadAttempt(TimedCommand& record) {
    ftp::FtpConnection& connection = *record.ftp;
    std::uint64_t counted = 0;
    const auto progress = [&counted](std::uint64_t sent) {
        bytesDone.fetch_add(sent - counted);
        counted = sent;
        updateRetryDisplay();
        touchConnectionActivity();
        // The time limit bounds the silence between chunks, not the whole file.
        touchCommandClock();
        return !commandShouldEnd();
    };
    touchConnectionActivity();
    const ftp::FtpResult result =
        connection.upload(std::filesystem::path(record.firstPath), record.secondPath, progress);
    touchConnectionActivity();
    if (result) {
        return true;
    }
    takeBackBytesDone(counted);
    setLastError(result.text.empty() ? kUnknownWriteError : result.text);
    if (stopRequested.load() || result.error == ftp::FtpError::InvalidName) {
        // Stopped on purpose, or a name that is never sent: another attempt would not help.
        stopAttempts();
    } else if (!connection.isConnected()) {
        // The server dropped us; attempts on this connection can only fail. The caller logs
        // in again and makes one more upload.
        noteConnectionReset();
        stopAttempts();
    }
    return false;
}

std::uint64_t localFileSize(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

}  // namespace

bool ConnectionDetails::runUpload(const std::string& localPath, const std::string& remotePath) {
    commandState().connectionResetSeen.store(false);
    auto command = newFtpCommand();
    if (!command) {
        return false;
    }
    command->firstPath = localPath;
    command->secondPath = remotePath;
    if (runFtpCommand(command, FtpCommandKind::Upload, uploadAttempt, commandLimitSeconds())) {
        return true;
    }
    // Stop or the time limit ended the wait, but the worker may still be sending, or deleting
    // what it sent. Neither the run nor the program may go on before the server keeps no part
    // of the file under its name, or the clean-up has had the time of a command: the program
    // would close the connection under the worker's feet, and the next command would wait for
    // the connection on its own clock.
    const unsigned limit = commandLimitSeconds();
    waitForCommandEnd(*command, limit != 0 ? limit : kDefaultCommandTimeout);
    // The server may have confirmed the whole file after all (Stop came after the last chunk).
    return command->succeeded.load();
}

bool ConnectionDetails::uploadFile(const std::string& localPath, const std::string& remotePath) {
    waitForCommand(0);
    listingCache.clear();
    UnfinishedUploads* unfinished = unfinishedUploads();
    if (unfinished != nullptr) {
        unfinished->begin(*this, remotePath, localFileSize(localPath));
    }
    const bool uploaded = uploadOrLogInAgain(localPath, remotePath);
    if (uploaded && unfinished != nullptr) {
        unfinished->finish(*this, remotePath);
    }
    return uploaded;
}

bool ConnectionDetails::uploadOrLogInAgain(const std::string& localPath,
                                           const std::string& remotePath) {
    bool uploaded = runUpload(localPath, remotePath);
    if (!commandState().connectionResetSeen.load() || stopRequested.load()) {
        return uploaded;
    }
    disconnectFtp();
    if (!connectFtp()) {
        // The run cannot go on without a connection.
        lostConnection = true;
        requestStop();
        return false;
    }
    uploaded = runUpload(localPath, remotePath);
    // Replies out of step again fail only this file: the next command logs in afresh.
    if (commandState().connectionResetSeen.load() && !(ftp && ftp->lostStep())) {
        lostConnection = true;
        requestStop();
        disconnectFtp();
    }
    return uploaded;
}
