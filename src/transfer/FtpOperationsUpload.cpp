// Uploading one file, with the one reconnect a dropped connection earns.

#include <filesystem>

#include "common/ErrorReport.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"
#include "transfer/TimedCommand.h"
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

}  // namespace

bool ConnectionDetails::runUpload(const std::string& localPath, const std::string& remotePath) {
    commandState().connectionResetSeen.store(false);
    auto command = newFtpCommand();
    if (!command) {
        return false;
    }
    command->firstPath = localPath;
    command->secondPath = remotePath;
    return runFtpCommand(command, FtpCommandKind::Upload, uploadAttempt, commandLimitSeconds());
}

bool ConnectionDetails::uploadFile(const std::string& localPath, const std::string& remotePath) {
    waitForCommand(0);
    listingCache.clear();
    bool uploaded = runUpload(localPath, remotePath);
    if (!commandState().connectionResetSeen.load() || stopRequested.load()) {
        return uploaded;
    }
    disconnectFtp();
    if (!connectFtp()) {
        // The run cannot go on without a connection.
        requestStop();
        return false;
    }
    uploaded = runUpload(localPath, remotePath);
    // Replies out of step again fail only this file: the next command logs in afresh.
    if (commandState().connectionResetSeen.load() && !(ftp && ftp->lostStep())) {
        requestStop();
        disconnectFtp();
    }
    return uploaded;
}
