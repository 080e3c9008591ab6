#include "transfer/ConnectionDetails.h"

#include <chrono>
#include <mutex>
#include <utility>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionMonitor.h"
#include "transfer/FtpLocation.h"
#include "transfer/TimedCommand.h"
#include "transfer/ftp/FtpConnection.h"

namespace {

constexpr const char* kNoServerName =
    "No server name has been provided - please check your FTP Connection details";
constexpr const char* kNotConnected = "Not connected to an FTP server";
constexpr const char* kUnknownConnectError = "Unknown error opening the Internet connection";

// Where a connect worker hands over the connection it made. Once the caller has stopped
// waiting (success, time-out, Stop) the slot is closed: a connection made later is closed by
// the worker that made it and never reaches the ConnectionDetails, which may have moved on to
// another connection by then.
struct ConnectSlot {
    std::mutex mutex;
    bool closed = false;
    std::shared_ptr<ftp::FtpConnection> connecting;  // the attempt in progress, for abort()
    std::shared_ptr<ftp::FtpConnection> made;
    ftp::CertificateInfo certificate;  // of the last attempt
    ftp::FtpError error = ftp::FtpError::None;
    std::function<void(std::shared_ptr<ftp::FtpConnection>, const LoginDetails&)> loggedIn;
};

bool connectAttempt(const LoginDetails& login, const ftp::FtpTimeouts& limits, ConnectSlot& slot) {
    auto connection = std::make_shared<ftp::FtpConnection>();
    if (slot.loggedIn) {
        connection->setLoggedInCallback([loggedIn = slot.loggedIn, login,
                                         weak = std::weak_ptr<ftp::FtpConnection>(connection)] {
            if (const std::shared_ptr<ftp::FtpConnection> made = weak.lock()) {
                loggedIn(made, login);
            }
        });
    }
    {
        std::lock_guard lock(slot.mutex);
        if (slot.closed) {
            stopAttempts();
            return false;
        }
        slot.connecting = connection;
    }
    const ftp::FtpResult result = connection->connect(
        login.server, login.port, login.user, login.password, login.passive, limits, login.tls);
    bool delivered = false;
    {
        std::lock_guard lock(slot.mutex);
        slot.connecting.reset();
        slot.certificate = connection->certificate();
        slot.error = result.error;
        if (result && !slot.closed && !commandAbandoned()) {
            slot.made = connection;
            delivered = true;
        }
    }
    if (!result) {
        setLastError(result.text.empty() ? kUnknownConnectError : result.text);
        if (result.error == ftp::FtpError::InvalidName || result.error == ftp::FtpError::Security ||
            result.error == ftp::FtpError::Certificate) {
            stopAttempts();  // the same details would be refused again
        }
        return false;
    }
    if (!delivered) {
        connection->close();
        stopAttempts();
        return false;
    }
    return true;
}

std::string shifted(std::string_view text, int by) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(static_cast<unsigned char>(c) + by);
    }
    return result;
}

}  // namespace

std::string scramblePassword(std::string_view password) {
    return shifted(password, 64);
}

std::string unscramblePassword(std::string_view scrambled) {
    return shifted(scrambled, -64);
}

std::ostream& ConnectionDetails::write(std::ostream& out) {
    if (name.empty()) {
        return out;
    }
    out << "ConnectionName=" << name << kLineEnd;
    out << "ServerName=" << server << kLineEnd;
    out << "UserName=" << user << kLineEnd;
    out << "Password=" << scramblePassword(password) << kLineEnd;
    out << "Email=" << email << kLineEnd;
    out << "PortNumber=" << port << kLineEnd;
    out << "PassiveMode=" << (passive ? '1' : '0') << kLineEnd;
    out << "EndRecord=" << kLineEnd;
    return out;
}

std::istream& ConnectionDetails::read(std::istream& in) {
    std::string key;
    while (readKey(in, key)) {
        if (key == "KelvaneVersion") {
            double version = 0;
            if (in >> version) {
                fileFormatVersion = version;
            }
        } else if (key == "ConnectionName") {
            readLineValue(in, name);
        } else if (key == "ServerName") {
            readLineValue(in, server);
        } else if (key == "UserName") {
            readLineValue(in, user);
        } else if (key == "Email") {
            readLineValue(in, email);
        } else if (key == "Password") {
            std::string scrambled;
            readLineValue(in, scrambled);
            password = unscramblePassword(scrambled);
        } else if (key == "PortNumber") {
            in >> port;
        } else if (key == "PassiveMode") {
            in >> passive;
        } else if (key == "EndRecord") {
            break;
        }
    }
    return in;
}

ftp::FtpTimeouts ftpSocketLimits() {
    using namespace std::chrono_literals;
    const unsigned seconds = commandTimeout.load();
    const std::chrono::milliseconds limit =
        seconds == 0 ? std::chrono::milliseconds(1h) : std::chrono::milliseconds(seconds * 1000LL);
    return ftp::FtpTimeouts{limit, limit};
}

std::shared_ptr<TimedCommand> ConnectionDetails::newFtpCommand() {
    if (!ftp) {
        setLastError(kNotConnected);
        return nullptr;
    }
    // The settings may have changed since the last command (Configuration dialog).
    ftp->setTimeouts(ftpSocketLimits());
    auto command = std::make_shared<TimedCommand>();
    command->ftp = ftp;
    return command;
}

bool ConnectionDetails::connectFtp() {
    listingCache.clear();
    if (server.empty()) {
        // Also the reason a caller appends to its own report of the failed connect.
        setLastError(kNoServerName);
        prompter().messageBox(kNoServerName);
        return false;
    }
    if (ftp) {
        disconnectFtp();
    }
    waitForCommand(0);

    auto slot = std::make_shared<ConnectSlot>();
    slot->loggedIn = onLoggedIn;
    const LoginDetails login = loginDetails();
    lastCertificate = {};
    lastConnectError = ftp::FtpError::None;
    const ftp::FtpTimeouts limits = ftpSocketLimits();
    auto command = std::make_shared<TimedCommand>();
    const bool succeeded = runFtpCommand(
        command, FtpCommandKind::Connect,
        [slot, login, limits](TimedCommand&) { return connectAttempt(login, limits, *slot); },
        connectLimitSeconds());

    std::shared_ptr<ftp::FtpConnection> made;
    std::shared_ptr<ftp::FtpConnection> connecting;
    {
        std::lock_guard lock(slot->mutex);
        slot->closed = true;
        made = std::move(slot->made);
        connecting = std::move(slot->connecting);
        lastCertificate = slot->certificate;
        lastConnectError = succeeded ? ftp::FtpError::None : slot->error;
    }
    if (connecting) {
        // Stop or a time-out: a login still in progress is of no use to anyone.
        connecting->abort();
    }
    if (!succeeded) {
        if (made) {
            made->close();
        }
        disconnectFtp();
        return false;
    }
    ftp = std::move(made);
    connectionMonitor().start(*this);
    if (!setUpDirectories()) {
        // A connection whose directories are unknown cannot be used; failing while staying
        // connected would leave the caller with a connection it believes closed.
        disconnectFtp();
        return false;
    }
    return true;
}

bool ConnectionDetails::setUpDirectories() {
    // The home directory of an earlier login (perhaps to another server) must not shape the
    // paths of this one.
    homeDirectory.clear();
    if (!printWorkingDirectory(homeDirectory)) {
        return false;
    }
    const std::string loginDirectory = homeDirectory;
    const std::string root = ftpRootOf(loginDirectory);
    if (homeDirectory != root && sendChangeDirectory(root)) {
        // The root as the server spells it; then back where the login put us. Should either
        // step fail, the login stands with what is known.
        if (printWorkingDirectory(homeDirectory)) {
            changeDirectory(loginDirectory);
        }
    }
    return true;
}

void ConnectionDetails::disconnectFtp() {
    listingCache.clear();
    connectionMonitor().stopWatching(*this);
    if (ftp) {
        // close() aborts at once when a worker is inside an exchange; the worker keeps the
        // object alive until it has left.
        ftp->close();
        ftp.reset();
    }
    currentDirectory.clear();
}

bool ConnectionDetails::runExchange(std::shared_ptr<TimedCommand> command, Exchange exchange,
                                    FtpCommandKind kind) {
    auto reasonGiven = std::make_shared<bool>(false);  // touched by the one worker only
    return runFtpCommand(
        std::move(command), kind,
        [exchange = std::move(exchange), reasonGiven](TimedCommand& record) {
            ftp::FtpConnection& connection = *record.ftp;
            const bool wasConnected = connection.isConnected();
            const ftp::FtpResult result = exchange(connection, record);
            if (result) {
                return true;
            }
            // Once the connection has gone, further attempts can only say "Not connected";
            // why it went is the reason worth reading.
            if (wasConnected || !*reasonGiven) {
                setLastError(result.text);
                *reasonGiven = true;
            }
            stopAttemptsWhenHopeless(result);
            return false;
        },
        commandLimitSeconds());
}

void stopAttemptsWhenHopeless(const ftp::FtpResult& result) {
    // A name that was never sent would be refused the same way, and a connection that closed
    // itself for replies out of step can only say "Not connected" from now on.
    if (result.error == ftp::FtpError::InvalidName || result.error == ftp::FtpError::OutOfStep) {
        stopAttempts();
    }
}

bool ConnectionDetails::runInStep(const std::function<bool()>& once) {
    if (once()) {
        return true;
    }
    // Only a connection that closed itself because the replies no longer matched the commands
    // earns a new login here: the command may well have been innocent (the stray reply was an
    // earlier command's), and a new login puts the conversation right.
    if (!ftp || !ftp->lostStep() || stopRequested.load()) {
        return false;
    }
    return logInAgain() && once();
}

bool ConnectionDetails::logInAgain() {
    const std::string directory = currentDirectory;
    disconnectFtp();
    if (!connectFtp()) {
        return false;
    }
    if (!directory.empty() && directory != currentDirectory) {
        // Back where the caller left the server; should the folder have gone, the login
        // directory stands, and currentDirectory says so.
        changeDirectory(directory);
    }
    return true;
}

bool ConnectionDetails::sendChangeDirectory(const std::string& path) {
    waitForCommand(0);
    auto command = newFtpCommand();
    if (!command) {
        return false;
    }
    command->directory = path;
    return runExchange(command, [](ftp::FtpConnection& connection, TimedCommand& record) {
        return connection.changeDirectory(record.directory);
    });
}

bool ConnectionDetails::printWorkingDirectory(std::string& directory) {
    waitForCommand(0);
    auto command = newFtpCommand();
    if (!command) {
        return false;
    }
    const bool succeeded =
        runExchange(command, [](ftp::FtpConnection& connection, TimedCommand& record) {
            return connection.printWorkingDirectory(record.directory);
        });
    if (!succeeded) {
        return false;
    }
    currentDirectory = normaliseReportedDirectory(command->directory, homeDirectory);
    directory = currentDirectory;
    return true;
}

bool ConnectionDetails::changeDirectory(const std::string& path) {
    waitForCommand(0);
    const DirectoryChange change = directoryChangeFor(path, homeDirectory);
    std::string reported;
    if (change.expected == currentDirectory) {
        // Asked again all the same: the folder may have gone since the last look.
        return printWorkingDirectory(reported);
    }
    listingCache.clear();
    if (!sendChangeDirectory(change.sent)) {
        return false;
    }
    if (isPlainAbsolutePath(change.sent)) {
        // The server took an absolute path of ours, so it is where we asked to be; asking PWD
        // would only repeat it, at a round trip per folder of every run.
        currentDirectory = normaliseReportedDirectory(change.sent, homeDirectory);
        return true;
    }
    return printWorkingDirectory(reported);
}

bool ConnectionDetails::knowCurrentDirectory() {
    waitForCommand(0);
    std::string reported;
    return !currentDirectory.empty() || printWorkingDirectory(reported);
}

bool ConnectionDetails::upDirectory() {
    if (!knowCurrentDirectory()) {
        return false;
    }
    listingCache.clear();
    const std::string parent = parentFtpDirectory(currentDirectory);
    // Unknown until the server confirms where the change went.
    currentDirectory.clear();
    std::string reported;
    return sendChangeDirectory(parent) && printWorkingDirectory(reported);
}

bool ConnectionDetails::currentFolderEntry(FileEntry& entry) {
    std::string directory;
    const bool known = printWorkingDirectory(directory);
    entry = ftpFolderEntry(currentDirectory);
    return known;
}
