#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/ftp/FtpListing.h"
#include "transfer/ftp/FtpProtocol.h"
#include "transfer/ftp/FtpReply.h"
#include "transfer/ftp/FtpResult.h"
#include "transfer/ftp/Socket.h"
#include "transfer/ftp/Tls.h"

// One FTP control connection and the data connections it opens, over our own sockets.
//
// Each public operation is one exchange. Exchanges are serialised by a mutex, so a worker that
// the caller gave up on (after its own time limit) finishes or fails before the next exchange
// starts, and replies never mix. Every socket wait has the limit of FtpTimeouts; when a wait on
// the control connection runs out, the replies are no longer in step with the commands, so the
// connection closes itself and reports TimedOut. abort() and close() may be called from any
// thread; a worker inside an exchange then fails at once.
//
// The object is held by std::shared_ptr: a worker thread keeps it alive while it finishes.
namespace ftp {

enum class PathKind { Missing, File, Directory };

class FtpConnection {
  public:
    // Called after each chunk of an upload (bytes sent) or a listing (bytes received) with the
    // count so far; false stops the transfer.
    using UploadProgress = std::function<bool(std::uint64_t bytesSent)>;

    FtpConnection() = default;
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Connects and logs in. Port 0 means 21. An empty user logs in anonymously. Afterwards the
    // server's features are known and the transfer type is binary.
    //
    // With TLS (explicit FTPS) the client sends AUTH TLS after the greeting and makes the
    // handshake before the user name goes out; the certificate must be trusted by the system
    // or be the pinned one (Certificate otherwise). After the login, PBSZ 0 and PROT P protect
    // the data connections, each of which resumes the control connection's TLS session.
    // Required fails (Security) where the server refuses AUTH TLS or PROT P; Offered then
    // goes on in clear text.
    FtpResult connect(const std::string& host, std::uint16_t port, const std::string& user,
                      const std::string& password, bool passive, const FtpTimeouts& timeouts = {},
                      const TlsSettings& tls = {});
    // What this login learnt of the server (known once its FEAT is answered).
    SessionFacts sessionFacts() const;
    // Called on the connecting thread once the server has accepted the login, before the rest
    // of the set-up (FEAT, TYPE I).
    void setLoggedInCallback(std::function<void()> callback);
    // A connect after this takes the other login's facts (to the same server), as they stand
    // when this one gets to its FEAT: it skips FEAT, and OPTS UTF8 ON where the server refused
    // it, and sets the binary type only before the first upload or SIZE. While the other has
    // no facts yet, this one asks itself.
    void takeFactsFrom(std::shared_ptr<const FtpConnection> other);
    // The server's certificate of the last connect with TLS (also when it was refused).
    CertificateInfo certificate() const;
    // Whether the control connection is encrypted, and whether the data connections are.
    bool encrypted() const { return encrypted_.load(); }
    bool dataProtected() const { return dataProtected_.load(); }

    // Sends QUIT when the connection is idle and closes it; any thread. When an exchange is
    // running, it is aborted instead.
    void close();
    // Shuts every socket down at once without a word to the server; any thread. This ends the
    // object's use: every later call, connect() included, fails at once.
    void abort();
    bool isConnected() const { return connected_.load(); }
    // True once the connection closed itself because the server's replies no longer matched
    // the commands (OutOfStep): a new login puts things right, where after other failures it
    // may not.
    bool lostStep() const { return lostStep_.load(); }

    FtpResult printWorkingDirectory(std::string& directory);
    FtpResult changeDirectory(const std::string& path);
    FtpResult makeDirectory(const std::string& path);
    FtpResult removeDirectory(const std::string& path);
    FtpResult deleteFile(const std::string& path);
    FtpResult rename(const std::string& from, const std::string& to);
    // A no-op exchange that proves the connection alive.
    FtpResult noop();

    // Lists a folder; an empty path lists the current directory. Times are local calendar
    // time. A listing that cannot be made (no data connection, a 4xx/5xx reply, a folder that
    // does not exist) fails: an empty vector with success means an empty folder.
    // `progress` is called after each chunk of the listing with the bytes received so far;
    // false stops it (Cancelled).
    //
    // `anotherFollows` is asked once the listing's data is in: true promises that the next
    // exchange on this connection is a listing or an upload. The EPSV for it then goes out at
    // once, before this listing's final reply has come; servers that send that reply only once
    // the data has been acknowledged (vsftpd) save a round trip per folder.
    FtpResult list(const std::string& path, std::vector<ListingEntry>& entries,
                   const UploadProgress& progress = {},
                   const std::function<bool()>& anotherFollows = {});

    // Whether a path names a file, a folder or nothing. The server's current directory is the
    // same afterwards.
    FtpResult exists(const std::string& path, PathKind& kind);

    // Stores a local file under the remote path. An upload that does not reach the end of the
    // file (stopped, timed out, connection broken) fails, and the partial remote file is deleted
    // while the control connection still allows it.
    FtpResult upload(const std::filesystem::path& localFile, const std::string& remotePath,
                     const UploadProgress& progress = {});

    // Command lines sent since the object was made; the cost measure of the engine.
    std::uint64_t commandCount() const { return commandsSent_.load(); }

    bool supportsMlsd() const { return mlsd_.load(); }
    bool passive() const { return passive_.load(); }
    void setPassive(bool passive) { passive_ = passive; }
    FtpTimeouts timeouts() const;
    void setTimeouts(const FtpTimeouts& timeouts);

  private:
    // Everything below runs with exchangeMutex_ held.
    FtpResult connectLocked(const std::string& host, std::uint16_t port, const std::string& user,
                            const std::string& password);
    FtpResult login(const std::string& user, const std::string& password);
    // AUTH TLS and the handshake of the control connection, as the TLS mode asks.
    FtpResult secureControl(const std::string& host);
    FtpResult checkCertificate(const CertificateInfo& info) const;
    // PBSZ 0 and PROT P after the login of an encrypted connection.
    FtpResult protectData();
    FtpResult sendCommand(const std::string& line);
    // Reads the reply of an EPSV sent ahead that no data connection took after all.
    FtpResult settlePendingPassive();
    // TYPE I, where the login left it for later.
    FtpResult ensureBinary();
    // Fails (OutOfStep or ConnectionLost) and drops the connection when anything has come from
    // the server that no command asked for.
    FtpResult expectNothingPending();
    FtpResult loseStep(const std::string& text);
    // Reads one reply, preliminary (1xx) ones included; one that cannot answer the command sent
    // last drops the connection (OutOfStep).
    FtpResult readReply(Reply& reply, Millis limit);
    FtpResult readReply(Reply& reply) { return readReply(reply, ioLimit()); }
    // Sends a command and reads replies up to the final one.
    FtpResult command(const std::string& line, Reply& reply);
    // As command(), and turns a final reply outside 2xx/3xx into a failure.
    FtpResult simpleCommand(const std::string& line, bool namesPath, Reply* reply = nullptr);
    FtpResult failFromReply(const Reply& reply, bool namesPath) const;
    // Marks the connection unusable after a failure that leaves commands and replies out of step.
    FtpResult dropConnection(FtpResult result);
    FtpResult socketFailure(const Socket& socket);
    FtpResult dataFailure(const Socket& socket, const std::string& what) const;
    FtpResult afterDataFailure(FtpResult result) const;
    FtpResult ensureConnected() const;
    FtpResult refuseLineBreaks(const std::string& name) const;

    // Data connections. openData prepares one (passive: connects; active: listens); startData
    // sends the transfer command and, for active mode, accepts the server's connection.
    struct DataChannel;
    FtpResult openData(DataChannel& channel);
    FtpResult openPassive(DataChannel& channel);
    FtpResult openActive(DataChannel& channel);
    FtpResult startData(DataChannel& channel, const std::string& line, bool namesPath);
    // The handshake of a data connection that the server has accepted.
    FtpResult secureData(DataChannel& channel);
    // After a data connection that resumed the session: its session, with the newest ticket
    // the server gave, is the one the next data connection offers.
    void keepDataSession(const DataChannel& channel);
    // After the data connection is done: reads the final reply of the transfer.
    FtpResult finishData(DataChannel& channel, bool namesPath);
    // Makes a data socket reachable by abort() (null: no longer); shuts it down at once when
    // an abort came first.
    void trackDataSocket(Socket* socket, bool listener);
    Millis ioLimit() const { return Millis(ioMillis_.load()); }
    Millis connectLimit() const { return Millis(connectMillis_.load()); }

    FtpResult listLocked(const std::string& path, std::vector<ListingEntry>& entries,
                         const UploadProgress& progress);
    // One listing command and its data, as received.
    FtpResult fetchListing(const std::string& line, std::string& data,
                           const UploadProgress& progress);
    // LIST in the form this server takes (listStyle_), finding it out on the first listings.
    FtpResult fetchList(const std::string& path, std::string& data, const UploadProgress& progress);
    // CWD into the folder, LIST, and back.
    FtpResult fetchInFolder(const std::string& path, std::string& data,
                            const UploadProgress& progress);
    FtpResult readAll(Socket& socket, std::string& data, const UploadProgress& progress);
    FtpResult existsLocked(const std::string& path, PathKind& kind);
    FtpResult knownDirectory(std::string& directory);
    // Tells a folder from a missing path by changing into it and back.
    FtpResult folderExists(const std::string& path, bool& exists);
    // Back to `directory` after a visit elsewhere; the server's directory is unknown if that fails.
    FtpResult changeBack(const std::string& directory);
    FtpResult uploadLocked(const std::filesystem::path& localFile, const std::string& remotePath,
                           const UploadProgress& progress);
    FtpResult sendFileData(int fd, Socket& socket, const UploadProgress& progress);

    mutable std::mutex exchangeMutex_;
    std::mutex socketsMutex_;  // guards the socket pointers against abort() from other threads
    std::unique_ptr<Socket> control_;
    Socket* data_ = nullptr;  // the data socket in use, for abort()
    Socket* listener_ = nullptr;
    ReplySplitter splitter_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> passive_{true};
    std::atomic<std::uint64_t> commandsSent_{0};
    std::atomic<bool> aborted_{false};
    std::atomic<bool> lostStep_{false};
    std::string sentVerb_;  // of the last command sent, which the next reply must fit
    // An EPSV went out behind a transfer whose final reply is still to come (epsvBehind_), and
    // then, once that reply is read, its own reply is what the next read gets (epsvPending_).
    bool epsvBehind_ = false;
    bool epsvPending_ = false;
    bool binaryPending_ = false;
    const std::function<bool()>* anotherFollows_ = nullptr;  // of the list() in progress
    std::atomic<long long> connectMillis_{FtpTimeouts{}.connect.count()};
    std::atomic<long long> ioMillis_{FtpTimeouts{}.io.count()};
    ServerFeatures features_;
    SessionFacts facts_;  // learnt by the last connect
    std::weak_ptr<const FtpConnection> factsFrom_;
    std::function<void()> loggedIn_;
    std::atomic<bool> mlsd_{false};
    bool epsvRefused_ = false;
    bool eprtRefused_ = false;
    // How this server lists with LIST (when it has no MLSD).
    enum class ListStyle {
        Unknown,   // not seen yet: "LIST -a path" first, the others after a refusal
        Optioned,  // "LIST -a path": the server has answered it with lines
        Plain,     // "LIST path": options are taken for part of the path
        InFolder,  // "CWD path", "LIST", back: the server lists only where it is
    };
    ListStyle listStyle_ = ListStyle::Unknown;
    std::string directory_;  // the server's current directory as last reported; empty: unknown

    TlsSettings tls_;
    TlsContextPtr tlsContext_;
    TlsSessionPtr dataSession_;  // offered by the next data connection; null: the control's
    std::string hostName_;       // as the user wrote it: the name the certificate must carry
    std::atomic<bool> encrypted_{false};
    std::atomic<bool> dataProtected_{false};
    mutable std::mutex certificateMutex_;  // certificate_ and facts_, read from other threads
    CertificateInfo certificate_;
};

}  // namespace ftp
