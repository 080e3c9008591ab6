#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/FileEntry.h"
#include "profiles/PersistentRecord.h"
#include "transfer/TimedCommand.h"
#include "transfer/ftp/FtpResult.h"
#include "transfer/ftp/Tls.h"

namespace ftp {
class FtpConnection;
}

// What a login needs of a connection record, copied: the record may be edited while a worker
// logs in with it.
struct LoginDetails {
    std::string server;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    bool passive = false;
    ftp::TlsSettings tls;
};

// One named FTP connection: the stored record of the connections file and, while the program
// runs, the live connection made from it. Held through std::shared_ptr: the connection list, the
// active connection of the main window, open dialogs may all hold the same one (the connection
// monitor watches it only when it is held that way).
//
// The live operations belong to the user-interface thread. Each runs its server traffic as a
// timed command on a worker (TimedCommand.h): it first waits for any command still in flight,
// keeps the windows alive while it waits, retries failures up to maxCommandRetries times and
// returns false with the reason in lastErrorText.
class ConnectionDetails : public PersistentRecord,
                          public std::enable_shared_from_this<ConnectionDetails> {
  public:
    // Writes the record's eight lines; a connection without a name writes nothing.
    std::ostream& write(std::ostream& out) override;
    // Reads keys until "EndRecord" or the end of the stream. Keys arrive in any order; an
    // unknown key reads no value, so its value runs into the next key and that key is lost too.
    std::istream& read(std::istream& in) override;

    // Stored in the connections file.
    std::string name;  // unique, case-sensitive; profiles and FTP locations refer to it
    std::string server;
    std::string user;        // empty: anonymous login
    std::string password;    // plain in memory, scrambled in the file
    std::string email;       // for anonymous login; never sent
    std::uint16_t port = 0;  // 0: the protocol's default
    bool passive = false;

    // Kept beside the connections file, keyed by name (ConnectionsFile.h), so that earlier
    // versions of the program still read the file itself. A connection read from a file without
    // them is plain FTP, as it always was.
    ftp::TlsMode tlsMode = ftp::TlsMode::Off;
    std::string tlsFingerprint;  // the trusted certificate's SHA-256, "AB:CD:..."; empty: none

    LoginDetails loginDetails() const {
        return {server, port, user, password, passive, ftp::TlsSettings{tlsMode, tlsFingerprint}};
    }

    // ---- The live connection ----

    // The server's certificate as the last connect with TLS saw it, trusted or refused, and the
    // kind of failure of the last connect (None after a success).
    ftp::CertificateInfo lastCertificate;
    ftp::FtpError lastConnectError = ftp::FtpError::None;
    // After a failed connect: the server's certificate was refused, and pinning its fingerprint
    // (tlsFingerprint) would let the next connect through.
    bool certificateRefused() const {
        return lastConnectError == ftp::FtpError::Certificate && lastCertificate.present();
    }

    // Logs in with the stored details (the e-mail address is never sent) and sets up the home
    // and current directories; starts the connection monitor. An empty server name is told
    // in a message box. On failure everything is closed again.
    bool connectFtp();
    // Closes the connection (at once when a worker is inside it) and forgets the current
    // directory; the home directory is kept. Does not wait for a command in flight.
    void disconnectFtp();
    bool isConnected() const { return ftp != nullptr; }

    // Asks the server where it is; updates currentDirectory and copies it to `directory`.
    bool printWorkingDirectory(std::string& directory);
    // Makes `path` the server's current directory; "" and "/" mean the home directory.
    bool changeDirectory(const std::string& path);
    bool upDirectory();
    // The current directory as a folder entry of the FTP side (after asking the server).
    bool currentFolderEntry(FileEntry& entry);

    // ---- Operations (FtpOperations.cpp) ----

    // Lists the current directory, sorted by name, into `entries` (appended to what the caller
    // passed). Served from listingCache without a word to the server unless `refresh` is set
    // or the last listing was empty. A listing that cannot be made fails: an empty result
    // always means an empty folder.
    bool listDirectory(std::vector<FileEntryPtr>& entries, bool refresh);
    // Lists `folder` (a full path ending with "/") by its path, without changing the current
    // directory or touching the cache: one data connection and one listing command. A folder
    // that cannot be listed fails, as with listDirectory.
    bool listFolderAt(const std::string& folder, std::vector<FileEntryPtr>& entries);
    // After a failed listing: true when the server said the folder is not there (a 550, or
    // another refusal after which the path itself is not found), false when it failed for
    // another reason (a time-out, a broken connection, a refusal of the listing itself).
    bool listingFoundNoFolder() const { return listingFoundNoFolder_; }
    // A path ending with "/" is a folder and becomes the current directory; any other path is
    // looked up, and a missing one costs every attempt the retry setting allows.
    bool pathExists(const std::string& path);
    bool createDirectory(const std::string& path);  // one trailing "/" is dropped
    bool removeDirectory(const std::string& path);
    bool deleteFile(const std::string& path);
    bool renameFile(const std::string& existingPath, const std::string& newPath);
    // Sends a local file; each chunk adds to bytesDone. An upload cut short (Stop, time-out, a
    // broken connection) fails and leaves no partial file while the server still listens: it
    // returns only once the partial file is deleted, or that has had the time of a command.
    // When the server drops the connection, it logs in again and tries once more; a second drop
    // or a failed login sets stopRequested and lostConnection and closes the connection. With
    // unfinishedUploads() installed, the upload is recorded there until the server confirms it.
    bool uploadFile(const std::string& localPath, const std::string& remotePath);

    // Live fields: present and meaningful only while connected, except homeDirectory.
    // The logged-in connection; the connection counts as connected exactly while it is present.
    std::shared_ptr<ftp::FtpConnection> ftp;
    // The server's current directory as last reported, ending with "/"; empty: unknown.
    std::string currentDirectory;
    // The top of the server's tree as reported after login, ending with "/".
    std::string homeDirectory;
    // The last listing of currentDirectory; emptied by every command that may change it.
    std::vector<FileEntryPtr> listingCache;
    // Set when an upload stopped the run because the server dropped the connection and it could
    // not be used again; a run clears it as it starts, so that its end can tell this from Stop.
    bool lostConnection = false;
    // Called by connectFtp as soon as the server has accepted the login, before the rest of the
    // set-up, with the new connection and the details it logged in with. It runs on the thread
    // that connects, so it must be safe there. A run starts its extra logins here, so that they
    // log in while this one finds its way around.
    std::function<void(std::shared_ptr<ftp::FtpConnection>, const LoginDetails&)> onLoggedIn;

  private:
    bool listingFoundNoFolder_ = false;
    // A command record for the live connection with the socket limits brought up to date;
    // null (and lastErrorText set) when not connected.
    std::shared_ptr<TimedCommand> newFtpCommand();
    // The listing command of `folder`, appending to `entries`, sorted by name.
    bool runListing(const std::string& folder, std::vector<FileEntryPtr>& entries);
    // For every command but the listing: waits for the command in flight, forgets the cached
    // listing (the command may make it untrue) and makes the record; null when not connected.
    std::shared_ptr<TimedCommand> newChangingCommand();
    // One exchange as an ordinary FTP command (attempt loop, command limit); its failure text
    // becomes lastErrorText.
    using Exchange = std::function<ftp::FtpResult(ftp::FtpConnection&, TimedCommand&)>;
    static bool runExchange(std::shared_ptr<TimedCommand> command, Exchange exchange,
                            FtpCommandKind kind = FtpCommandKind::Other);
    // A changing command (newChangingCommand) whose inputs `fill` sets, through runInStep.
    bool runChangingExchange(const std::function<void(TimedCommand&)>& fill,
                             const Exchange& exchange);
    // Runs `once`, which makes its own record for the connection of the moment. When the
    // connection closed itself because the server's replies fell out of step with the commands,
    // logs in again and runs it once more: a stray reply is usually an earlier command's.
    bool runInStep(const std::function<bool()>& once);
    // disconnectFtp and connectFtp, then back to the current directory of before.
    bool logInAgain();
    // Waits for the command in flight and, when the current directory is not known (after a
    // failed change), asks the server for it.
    bool knowCurrentDirectory();
    // CWD as a timed command, without the bookkeeping of changeDirectory.
    bool sendChangeDirectory(const std::string& path);
    // Sets up homeDirectory and currentDirectory right after login.
    bool setUpDirectories();
    // One run of the upload worker, and the time its clean-up needs after Stop or a time-out.
    bool runUpload(const std::string& localPath, const std::string& remotePath);
    // runUpload, and once more after logging in again when the server dropped the connection.
    bool uploadOrLogInAgain(const std::string& localPath, const std::string& remotePath);
};

// Ends the attempt loop of an FTP command after a failure that another attempt cannot mend.
void stopAttemptsWhenHopeless(const ftp::FtpResult& result);

// The socket limits of a live connection: every single read or write may wait as long as a
// command may last (commandTimeout), and an hour when commands have no limit, so that a dead
// server still ends a worker some day.
ftp::FtpTimeouts ftpSocketLimits();

// The connections file keeps passwords out of plain sight, not secret: each byte is shifted by
// 64 (mod 256).
std::string scramblePassword(std::string_view password);
std::string unscramblePassword(std::string_view scrambled);
