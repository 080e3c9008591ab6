#include "transfer/ftp/FtpConnection.h"

#include <fcntl.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>

namespace ftp {

namespace {

constexpr std::uint16_t kDefaultPort = 21;
// Large socket writes keep the cost per byte low; 64 KiB still lets Stop act within a fraction
// of a second on a slow line, since the progress callback runs after every chunk.
constexpr std::size_t kUploadChunk = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
// A listing larger than this is a server gone wrong rather than a folder.
constexpr std::size_t kMaxListingBytes = std::size_t{256} * 1024 * 1024;
// QUIT is a courtesy; closing must not wait long for its answer.
constexpr Millis kQuitLimit{3000};
// The password of an anonymous login. A fixed text: the e-mail address of the connection
// record is never sent.
constexpr const char* kAnonymousPassword = "anonymous@";

FtpResult failure(FtpError error, std::string text, int code = 0) {
    return FtpResult{error, std::move(text), code};
}

// Closes a local file descriptor on every path out of the upload.
class LocalFile {
  public:
    explicit LocalFile(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~LocalFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

CivilDate localToday() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return CivilDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

// MLSD gives UTC; everything the program compares is local calendar time.
void convertUtcToLocal(ListingEntry& entry) {
    if (!entry.timeIsUtc || entry.precision < TimePrecision::Minute) {
        entry.timeIsUtc = false;
        return;
    }
    std::tm utc{};
    utc.tm_year = entry.year - 1900;
    utc.tm_mon = entry.month - 1;
    utc.tm_mday = entry.day;
    utc.tm_hour = entry.hour;
    utc.tm_min = entry.minute;
    utc.tm_sec = entry.second;
    std::time_t when = timegm(&utc);
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return;
    }
    entry.year = local.tm_year + 1900;
    entry.month = local.tm_mon + 1;
    entry.day = local.tm_mday;
    entry.hour = local.tm_hour;
    entry.minute = local.tm_min;
    entry.second = local.tm_sec;
    entry.timeIsUtc = false;
}

// The entry line of an MLST reply, " type=dir;modify=...; /path", tells the kind.
PathKind kindFromMlst(const Reply& reply) {
    for (const std::string& line : reply.lines()) {
        if (line.empty() || line[0] != ' ') {
            continue;
        }
        if (auto entry = parseMlsdLine(std::string_view(line).substr(1))) {
            return entry->type == EntryType::Directory ? PathKind::Directory : PathKind::File;
        }
        std::string lower = line;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        bool folder = lower.find("type=dir;") != std::string::npos ||
                      lower.find("type=cdir;") != std::string::npos ||
                      lower.find("type=pdir;") != std::string::npos;
        return folder ? PathKind::Directory : PathKind::File;
    }
    return PathKind::File;
}

}  // namespace

// A data connection in the making. Its sockets are known to abort() for as long as it lives.
struct FtpConnection::DataChannel {
    explicit DataChannel(FtpConnection& owner) : owner(owner) {}
    ~DataChannel() { closeSockets(); }
    DataChannel(const DataChannel&) = delete;
    DataChannel& operator=(const DataChannel&) = delete;

    void closeSockets() {
        owner.trackDataSocket(nullptr, false);
        owner.trackDataSocket(nullptr, true);
        socket.reset();
        listener.reset();
    }

    FtpConnection& owner;
    std::unique_ptr<Socket> socket;    // passive: connected by us; active: accepted
    std::unique_ptr<Socket> listener;  // active mode only
    bool activeMode = false;
    bool accepted = false;            // the server answered the transfer command with a 1xx
    std::optional<Reply> finalReply;  // when the server answered the transfer at once
};

FtpConnection::~FtpConnection() {
    std::lock_guard lock(socketsMutex_);
    if (control_) {
        control_->shutdown();
    }
}

FtpTimeouts FtpConnection::timeouts() const {
    return FtpTimeouts{Millis(connectMillis_.load()), Millis(ioMillis_.load())};
}

void FtpConnection::setTimeouts(const FtpTimeouts& timeouts) {
    connectMillis_ = timeouts.connect.count();
    ioMillis_ = timeouts.io.count();
}

// ---- connection and login -------------------------------------------------------------------

FtpResult FtpConnection::connect(const std::string& host, std::uint16_t port,
                                 const std::string& user, const std::string& password, bool passive,
                                 const FtpTimeouts& timeouts, const TlsSettings& tls) {
    if (hasLineBreak(host) || hasLineBreak(user)) {
        return failure(FtpError::InvalidName, lineBreakErrorText(hasLineBreak(host) ? host : user));
    }
    if (hasLineBreak(password)) {
        // Never echo a password into an error text.
        return failure(FtpError::InvalidName,
                       "The password contains a line break (CR or LF) or a NUL byte and cannot "
                       "be sent to an FTP server");
    }
    std::lock_guard lock(exchangeMutex_);
    setTimeouts(timeouts);
    passive_ = passive;
    tls_ = tls;
    return connectLocked(host, port, user, password);
}

FtpResult FtpConnection::connectLocked(const std::string& host, std::uint16_t port,
                                       const std::string& user, const std::string& password) {
    connected_ = false;
    splitter_.reset();
    features_ = {};
    {
        std::lock_guard factsLock(certificateMutex_);
        facts_ = {};
    }
    mlsd_ = false;
    epsvRefused_ = false;
    eprtRefused_ = false;
    listStyle_ = ListStyle::Unknown;
    lostStep_ = false;
    sentVerb_.clear();
    epsvBehind_ = false;
    epsvPending_ = false;
    binaryPending_ = false;
    directory_.clear();
    {
        std::lock_guard lock(socketsMutex_);
        if (aborted_) {
            // An abort may come before the worker that connects got this far; it must still
            // stop that worker.
            return failure(FtpError::ConnectionLost, "The connection was closed");
        }
        if (control_) {
            control_->shutdown();
        }
        control_ = std::make_unique<Socket>();
    }
    if (!control_->connect(host, port == 0 ? kDefaultPort : port, connectLimit())) {
        return dropConnection(socketFailure(*control_));
    }
    Reply welcome;
    do {
        if (FtpResult result = readReply(welcome); !result) {
            return result;
        }
    } while (welcome.code / 100 == 1);
    if (welcome.code != 220) {
        return dropConnection(failFromReply(welcome, false));
    }
    if (FtpResult result = secureControl(host); !result) {
        return dropConnection(result);
    }
    if (FtpResult result = login(user, password); !result) {
        return dropConnection(result);
    }
    if (FtpResult result = protectData(); !result) {
        return dropConnection(result);
    }
    if (loggedIn_) {
        loggedIn_();
    }

    Reply reply;
    SessionFacts given;
    if (const std::shared_ptr<const FtpConnection> other = factsFrom_.lock()) {
        given = other->sessionFacts();
    }
    const bool reusing = given.known;
    if (reusing) {
        features_ = given.features;
    } else {
        if (FtpResult result = command("FEAT", reply); !result) {
            return result;
        }
        features_ = parseFeatures(reply);
    }
    mlsd_ = features_.mlsd;
    bool utf8Taken = false;
    if (features_.utf8 && (!reusing || given.utf8Taken)) {
        // Some servers only send names as UTF-8 after this; a refusal changes nothing.
        if (FtpResult result = command("OPTS UTF8 ON", reply); !result) {
            return result;
        }
        utf8Taken = reply.code / 100 == 2;
    }
    {
        std::lock_guard factsLock(certificateMutex_);
        facts_ = SessionFacts{true, features_, utf8Taken};
    }
    // Binary once for the session: uploads must arrive byte for byte, and SIZE needs it. A login
    // that took another's facts sets it before its first upload or SIZE instead: it may well only
    // list, and listings read the same either way.
    binaryPending_ = reusing;
    if (!reusing) {
        if (FtpResult result = simpleCommand("TYPE I", false); !result) {
            return dropConnection(result);
        }
    }
    connected_ = true;
    return {};
}

FtpResult FtpConnection::ensureBinary() {
    if (!binaryPending_) {
        return {};
    }
    if (FtpResult result = simpleCommand("TYPE I", false); !result) {
        return result;
    }
    binaryPending_ = false;
    return {};
}

SessionFacts FtpConnection::sessionFacts() const {
    std::lock_guard lock(certificateMutex_);
    return facts_;
}

void FtpConnection::takeFactsFrom(std::shared_ptr<const FtpConnection> other) {
    std::lock_guard lock(exchangeMutex_);
    factsFrom_ = other;
}

void FtpConnection::setLoggedInCallback(std::function<void()> callback) {
    std::lock_guard lock(exchangeMutex_);
    loggedIn_ = std::move(callback);
}

FtpResult FtpConnection::login(const std::string& user, const std::string& password) {
    const bool anonymous = user.empty();
    Reply reply;
    if (FtpResult result = command("USER " + (anonymous ? std::string("anonymous") : user), reply);
        !result) {
        return result;
    }
    if (reply.code / 100 == 2) {
        return {};  // no password asked
    }
    if (reply.code != 331) {
        return failFromReply(reply, false);
    }
    if (FtpResult result = command("PASS " + (anonymous ? kAnonymousPassword : password), reply);
        !result) {
        return result;
    }
    if (reply.code / 100 == 2) {
        return {};
    }
    // 332 asks for an account, which the connection record does not have.
    return failFromReply(reply, false);
}

CertificateInfo FtpConnection::certificate() const {
    std::lock_guard lock(certificateMutex_);
    return certificate_;
}

FtpResult FtpConnection::secureControl(const std::string& host) {
    encrypted_ = false;
    dataProtected_ = false;
    tlsContext_.reset();
    dataSession_.reset();
    hostName_ = host;
    {
        std::lock_guard lock(certificateMutex_);
        certificate_ = {};
    }
    if (tls_.mode == TlsMode::Off) {
        return {};
    }
    Reply reply;
    if (FtpResult result = command("AUTH TLS", reply); !result) {
        return result;
    }
    if (reply.code != 234) {
        if (tls_.mode == TlsMode::Offered) {
            return {};  // the server has no TLS: plain FTP, as the connection allows
        }
        return failure(FtpError::Security,
                       "The server does not offer encryption (it answered AUTH TLS with \"" +
                           reply.text +
                           "\"); this connection requires TLS, so nothing more was sent, "
                           "not even the user name",
                       reply.code);
    }
    if (!splitter_.idle()) {
        return loseStep("The server sent more than its answer to AUTH TLS");
    }
    std::string error;
    tlsContext_ = makeClientContext(error);
    if (!tlsContext_) {
        return failure(FtpError::Security, error);
    }
    if (!control_->startTls(tlsContext_.get(), host, nullptr, ioLimit())) {
        if (control_->timedOut() || control_->wasShutDown()) {
            return socketFailure(*control_);
        }
        return failure(FtpError::Security, control_->lastError());
    }
    const CertificateInfo info = certificateOf(control_->tls());
    {
        std::lock_guard lock(certificateMutex_);
        certificate_ = info;
    }
    if (FtpResult result = checkCertificate(info); !result) {
        return result;
    }
    encrypted_ = true;
    return {};
}

FtpResult FtpConnection::checkCertificate(const CertificateInfo& info) const {
    if (!info.present()) {
        return failure(FtpError::Certificate, "The server presented no certificate");
    }
    const std::string pinned = normaliseFingerprint(tls_.pinnedFingerprint);
    if (!pinned.empty()) {
        if (pinned == normaliseFingerprint(info.fingerprint)) {
            return {};
        }
        return failure(FtpError::Certificate,
                       "The server's certificate has changed since it was trusted: its SHA-256 "
                       "fingerprint is now " +
                           info.fingerprint + ", the trusted one is " + formatFingerprint(pinned) +
                           ". Trust the new one only if you know that the server's certificate "
                           "was replaced");
    }
    if (info.problem.empty()) {
        return {};
    }
    return failure(FtpError::Certificate,
                   "The server's certificate is not trusted (" + info.problem +
                       "). Its SHA-256 fingerprint is " + info.fingerprint +
                       "; trust it only if that is your server's certificate");
}

FtpResult FtpConnection::protectData() {
    if (!encrypted_) {
        return {};
    }
    Reply reply;
    if (FtpResult result = command("PBSZ 0", reply); !result) {
        return result;
    }
    if (reply.code / 100 == 2) {
        if (FtpResult result = command("PROT P", reply); !result) {
            return result;
        }
    }
    if (reply.code / 100 == 2) {
        dataProtected_ = true;
        return {};
    }
    if (tls_.mode == TlsMode::Offered) {
        return {};  // the listings and files go in clear text, the password did not
    }
    return failure(FtpError::Security,
                   "The server refuses to encrypt the data connections (" + reply.text +
                       "); this connection requires TLS",
                   reply.code);
}

void FtpConnection::close() {
    std::unique_lock lock(exchangeMutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        abort();
        return;
    }
    if (connected_) {
        Reply reply;
        if (sendCommand("QUIT")) {
            readReply(reply, std::min(kQuitLimit, ioLimit()));
        }
        if (control_) {
            control_->endTls(std::min(kQuitLimit, ioLimit()));
        }
    }
    dropConnection({});
}

void FtpConnection::abort() {
    std::lock_guard lock(socketsMutex_);
    aborted_ = true;
    connected_ = false;
    if (control_) {
        control_->shutdown();
    }
    if (data_) {
        data_->shutdown();
    }
    if (listener_) {
        listener_->shutdown();
    }
}

// ---- the control connection -----------------------------------------------------------------

FtpResult FtpConnection::sendCommand(const std::string& line) {
    if (hasLineBreak(line)) {
        return failure(FtpError::InvalidName, lineBreakErrorText(line));
    }
    if (!control_ || !control_->isOpen()) {
        return failure(FtpError::ConnectionLost, "Not connected to an FTP server");
    }
    if (FtpResult result = settlePendingPassive(); !result) {
        return result;
    }
    if (FtpResult result = expectNothingPending(); !result) {
        return result;
    }
    if (!control_->writeAll(line + "\r\n", ioLimit())) {
        return dropConnection(socketFailure(*control_));
    }
    sentVerb_ = commandVerb(line);
    ++commandsSent_;
    return {};
}

FtpResult FtpConnection::settlePendingPassive() {
    if (!epsvPending_) {
        return {};
    }
    epsvPending_ = false;
    Reply reply;
    return readReply(reply);
}

FtpResult FtpConnection::expectNothingPending() {
    // Every reply so far has been paired with its command, so nothing may be waiting now. One
    // read that does not wait tells; the stream itself costs no round trip.
    if (splitter_.idle()) {
        char buffer[512];
        const long count = control_->readPending(buffer, sizeof buffer);
        if (count == 0) {
            return {};
        }
        if (count < 0) {
            return dropConnection(failure(FtpError::ConnectionLost, control_->lastError()));
        }
        splitter_.feed(std::string_view(buffer, static_cast<std::size_t>(count)));
    }
    const std::optional<Reply> stray = splitter_.next();
    if (stray && stray->code == 421) {
        // The server closing the session on its own (idle time-out) is no stray reply.
        return dropConnection(failure(FtpError::ConnectionLost, stray->text, stray->code));
    }
    return loseStep("The server sent a reply that no command asked for: " +
                    (stray ? stray->text : splitter_.unfinished()));
}

FtpResult FtpConnection::loseStep(const std::string& text) {
    lostStep_ = true;
    return dropConnection(failure(FtpError::OutOfStep, text));
}

FtpResult FtpConnection::readReply(Reply& reply, Millis limit) {
    char buffer[4096];
    for (;;) {
        if (std::optional<Reply> next = splitter_.next()) {
            if (!replyFitsCommand(sentVerb_, next->code)) {
                return loseStep("The server's reply does not fit the command " + sentVerb_ + ": " +
                                next->text);
            }
            reply = std::move(*next);
            return {};
        }
        if (splitter_.broken()) {
            return dropConnection(
                failure(FtpError::ConnectionLost, "The server sent a reply that is not FTP"));
        }
        long count = control_->readSome(buffer, sizeof buffer, limit);
        if (count < 0) {
            return dropConnection(socketFailure(*control_));
        }
        if (count == 0) {
            return dropConnection(
                failure(FtpError::ConnectionLost, "The server closed the connection"));
        }
        splitter_.feed(std::string_view(buffer, static_cast<std::size_t>(count)));
    }
}

FtpResult FtpConnection::command(const std::string& line, Reply& reply) {
    if (FtpResult result = sendCommand(line); !result) {
        return result;
    }
    do {
        if (FtpResult result = readReply(reply); !result) {
            return result;
        }
    } while (reply.code / 100 == 1);
    if (reply.code == 421) {
        return dropConnection(failFromReply(reply, false));
    }
    return {};
}

FtpResult FtpConnection::simpleCommand(const std::string& line, bool namesPath, Reply* reply) {
    Reply local;
    Reply& target = reply ? *reply : local;
    if (FtpResult result = command(line, target); !result) {
        return result;
    }
    if (target.code / 100 == 2 || target.code / 100 == 3) {
        return FtpResult{FtpError::None, {}, target.code};
    }
    return failFromReply(target, namesPath);
}

FtpResult FtpConnection::failFromReply(const Reply& reply, bool namesPath) const {
    FtpError kind = classifyReply(reply.code, namesPath);
    if (kind == FtpError::None) {
        kind = FtpError::Fatal;  // a positive reply where the exchange needed another one
    }
    return failure(kind, reply.text, reply.code);
}

FtpResult FtpConnection::dropConnection(FtpResult result) {
    connected_ = false;
    {
        std::lock_guard lock(socketsMutex_);
        if (control_) {
            control_->shutdown();
            control_->close();
        }
    }
    splitter_.reset();
    directory_.clear();
    return result;
}

FtpResult FtpConnection::socketFailure(const Socket& socket) {
    if (socket.timedOut()) {
        return failure(FtpError::TimedOut, "Timed out");
    }
    return failure(FtpError::ConnectionLost, socket.lastError());
}

FtpResult FtpConnection::dataFailure(const Socket& socket, const std::string& what) const {
    if (socket.timedOut()) {
        return failure(FtpError::TimedOut, "Timed out");
    }
    if (socket.wasShutDown()) {
        return failure(FtpError::ConnectionLost, socket.lastError());
    }
    // The control connection may well be fine, and then trying again is all it takes.
    return failure(FtpError::Transient, what + ": " + socket.lastError());
}

FtpResult FtpConnection::afterDataFailure(FtpResult result) const {
    // When the server went away altogether, the layer above has to connect again.
    if (result.error == FtpError::Transient && !connected_) {
        result.error = FtpError::ConnectionLost;
    }
    return result;
}

FtpResult FtpConnection::ensureConnected() const {
    if (!connected_) {
        return failure(FtpError::ConnectionLost, "Not connected to an FTP server");
    }
    return {};
}

FtpResult FtpConnection::refuseLineBreaks(const std::string& name) const {
    if (hasLineBreak(name)) {
        return failure(FtpError::InvalidName, lineBreakErrorText(name));
    }
    return {};
}

// ---- directory commands ---------------------------------------------------------------------

FtpResult FtpConnection::printWorkingDirectory(std::string& directory) {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    directory_.clear();
    return knownDirectory(directory);
}

FtpResult FtpConnection::knownDirectory(std::string& directory) {
    if (!directory_.empty()) {
        directory = directory_;
        return {};
    }
    Reply reply;
    if (FtpResult result = simpleCommand("PWD", false, &reply); !result) {
        return result;
    }
    std::optional<std::string> path = parsePwdReply(reply.text);
    if (!path || reply.code != 257) {
        return failure(FtpError::Fatal, reply.text, reply.code);
    }
    directory_ = *path;
    directory = *path;
    return {};
}

FtpResult FtpConnection::changeDirectory(const std::string& path) {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(path); !result) {
        return result;
    }
    FtpResult result = simpleCommand("CWD " + path, true);
    if (result) {
        // The server may resolve links or "..": only PWD says where we are now.
        directory_.clear();
    }
    return result;
}

FtpResult FtpConnection::makeDirectory(const std::string& path) {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(path); !result) {
        return result;
    }
    return simpleCommand("MKD " + path, false);
}

FtpResult FtpConnection::removeDirectory(const std::string& path) {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(path); !result) {
        return result;
    }
    return simpleCommand("RMD " + path, true);
}

FtpResult FtpConnection::deleteFile(const std::string& path) {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(path); !result) {
        return result;
    }
    return simpleCommand("DELE " + path, true);
}

FtpResult FtpConnection::rename(const std::string& from, const std::string& to) {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(from); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(to); !result) {
        return result;
    }
    Reply reply;
    if (FtpResult result = command("RNFR " + from, reply); !result) {
        return result;
    }
    if (reply.code != 350) {
        return failFromReply(reply, true);
    }
    return simpleCommand("RNTO " + to, false);
}

FtpResult FtpConnection::noop() {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    return simpleCommand("NOOP", false);
}

// ---- data connections -----------------------------------------------------------------------

void FtpConnection::trackDataSocket(Socket* socket, bool listener) {
    std::lock_guard lock(socketsMutex_);
    (listener ? listener_ : data_) = socket;
    if (socket && aborted_) {
        socket->shutdown();
    }
}

FtpResult FtpConnection::openData(DataChannel& channel) {
    return passive_ ? openPassive(channel) : openActive(channel);
}

FtpResult FtpConnection::openPassive(DataChannel& channel) {
    const Endpoint peer = control_->peerEndpoint();
    std::string host;
    std::uint16_t port = 0;
    Reply reply;
    if (epsvPending_) {
        // Sent behind the last transfer; its reply is next.
        epsvPending_ = false;
        if (FtpResult result = readReply(reply); !result) {
            return result;
        }
    } else if (!epsvRefused_) {
        if (FtpResult result = command("EPSV", reply); !result) {
            return result;
        }
    }
    if (!epsvRefused_) {
        if (reply.code == 229) {
            if (std::optional<std::uint16_t> epsvPort = parseEpsv(reply.text)) {
                host = peer.host;
                port = *epsvPort;
            }
        }
        if (port == 0) {
            if (reply.code / 100 == 4) {
                return failFromReply(reply, false);
            }
            // Refused or unreadable: PASV for the rest of the session.
            epsvRefused_ = true;
        }
    }
    if (port == 0) {
        if (FtpResult result = command("PASV", reply); !result) {
            return result;
        }
        std::optional<HostPort> address;
        if (reply.code == 227) {
            address = parsePasv(reply.text);
        }
        if (!address) {
            return reply.code == 227 ? failure(FtpError::Fatal, reply.text, reply.code)
                                     : failFromReply(reply, false);
        }
        host = chooseDataHost(address->host, peer.host);
        port = address->port;
    }
    channel.socket = std::make_unique<Socket>();
    trackDataSocket(channel.socket.get(), false);
    if (!channel.socket->connect(host, port, connectLimit())) {
        return dataFailure(*channel.socket, "Cannot open a data connection");
    }
    return {};
}

FtpResult FtpConnection::openActive(DataChannel& channel) {
    channel.activeMode = true;
    // Listen where the server already reaches us: the local end of the control connection.
    const Endpoint local = control_->localEndpoint();
    channel.listener = std::make_unique<Socket>();
    trackDataSocket(channel.listener.get(), true);
    if (!channel.listener->listen(local.host)) {
        return failure(FtpError::Transient, channel.listener->lastError());
    }
    Endpoint endpoint = channel.listener->localEndpoint();
    endpoint.host = local.host;
    Reply reply;
    if (!eprtRefused_) {
        if (FtpResult result = command("EPRT " + formatEprtArgument(endpoint), reply); !result) {
            return result;
        }
        if (reply.code / 100 == 2) {
            return {};
        }
        if (reply.code / 100 != 5) {
            return failFromReply(reply, false);
        }
        eprtRefused_ = true;
    }
    const std::string portArgument = formatPortArgument(endpoint);
    if (portArgument.empty()) {
        return failure(FtpError::Fatal,
                       "The server refuses EPRT, and PORT cannot name an IPv6 address");
    }
    return simpleCommand("PORT " + portArgument, false);
}

FtpResult FtpConnection::startData(DataChannel& channel, const std::string& line, bool namesPath) {
    if (FtpResult result = sendCommand(line); !result) {
        return result;
    }
    Reply reply;
    if (FtpResult result = readReply(reply); !result) {
        return result;
    }
    if (reply.code / 100 == 2) {
        // Answered in full at once (an empty listing on some servers); in active mode no
        // connection follows.
        channel.finalReply = std::move(reply);
        return {};
    }
    if (reply.code / 100 != 1) {
        if (reply.code == 421) {
            return dropConnection(failFromReply(reply, namesPath));
        }
        return failFromReply(reply, namesPath);
    }
    channel.accepted = true;
    if (channel.activeMode) {
        channel.socket = channel.listener->accept(ioLimit());
        if (!channel.socket) {
            FtpResult result = dataFailure(*channel.listener, "Cannot open a data connection");
            // The server answers the failed transfer; that reply must not be left unread.
            finishData(channel, namesPath);
            return result;
        }
        trackDataSocket(channel.socket.get(), false);
    }
    if (FtpResult result = secureData(channel); !result) {
        channel.closeSockets();
        // The server answers the failed transfer; that reply must not be left unread.
        finishData(channel, namesPath);
        return result;
    }
    return {};
}

FtpResult FtpConnection::secureData(DataChannel& channel) {
    if (!dataProtected_ || !channel.socket) {
        return {};
    }
    // Servers such as vsftpd take a data connection only when it resumes the control
    // connection's session; it also saves the full handshake per file.
    // A TLS 1.3 server may take each ticket once, so the newest one goes first.
    TlsSessionPtr controlSession;
    if (!dataSession_) {
        controlSession.reset(SSL_get1_session(control_->tls()));
    }
    ssl_session_st* session = dataSession_ ? dataSession_.get() : controlSession.get();
    if (!channel.socket->startTls(tlsContext_.get(), hostName_, session, ioLimit())) {
        return dataFailure(*channel.socket, "Cannot open a data connection");
    }
    if (!SSL_session_reused(channel.socket->tls())) {
        // A new handshake must at least show the certificate the control connection showed.
        const CertificateInfo data = certificateOf(channel.socket->tls());
        if (data.fingerprint != certificate().fingerprint) {
            return failure(FtpError::Certificate,
                           "The data connection presented another certificate than the server "
                           "(SHA-256 fingerprint " +
                               data.fingerprint + ")");
        }
    }
    return {};
}

void FtpConnection::keepDataSession(const DataChannel& channel) {
    ssl_st* tls = channel.socket ? channel.socket->tls() : nullptr;
    if (tls == nullptr || SSL_session_reused(tls) != 1) {
        return;
    }
    TlsSessionPtr session(SSL_get1_session(tls));
    if (session && SSL_SESSION_is_resumable(session.get()) == 1) {
        dataSession_ = std::move(session);
    }
}

FtpResult FtpConnection::finishData(DataChannel& channel, bool namesPath) {
    Reply reply;
    if (channel.finalReply) {
        reply = std::move(*channel.finalReply);
        channel.finalReply.reset();
    } else {
        do {
            if (FtpResult result = readReply(reply); !result) {
                return result;
            }
        } while (reply.code / 100 == 1);
    }
    if (epsvBehind_) {
        // What comes next answers the EPSV sent behind this transfer.
        epsvBehind_ = false;
        epsvPending_ = true;
        sentVerb_ = "EPSV";
    }
    if (reply.code / 100 == 2) {
        // A transfer counts only by its own final reply. Anything already behind that reply means
        // it may have been an earlier command's, and the transfer cannot be trusted. (The reply
        // to an EPSV sent behind it may be there already; readReply checks that it fits.)
        if (FtpResult result = epsvPending_ ? FtpResult{} : expectNothingPending(); !result) {
            return result;
        }
        // The text goes along: a 226 can still say that the transfer went wrong.
        return FtpResult{FtpError::None, reply.text, reply.code};
    }
    if (reply.code == 421) {
        return dropConnection(failFromReply(reply, namesPath));
    }
    return failFromReply(reply, namesPath);
}

// ---- listing --------------------------------------------------------------------------------

FtpResult FtpConnection::list(const std::string& path, std::vector<ListingEntry>& entries,
                              const UploadProgress& progress,
                              const std::function<bool()>& anotherFollows) {
    std::lock_guard lock(exchangeMutex_);
    entries.clear();
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(path); !result) {
        return result;
    }
    anotherFollows_ = &anotherFollows;
    FtpResult result = listLocked(path, entries, progress);
    anotherFollows_ = nullptr;
    return result;
}

FtpResult FtpConnection::readAll(Socket& socket, std::string& data,
                                 const UploadProgress& progress) {
    std::string buffer(kReadChunk, '\0');
    for (;;) {
        long count = socket.readSome(buffer.data(), buffer.size(), ioLimit());
        if (count == 0) {
            return {};
        }
        if (count < 0) {
            return dataFailure(socket, "The data connection broke");
        }
        data.append(buffer.data(), static_cast<std::size_t>(count));
        if (data.size() > kMaxListingBytes) {
            return failure(FtpError::Fatal, "The listing is too large");
        }
        if (progress && !progress(data.size())) {
            return failure(FtpError::Cancelled, "The listing was stopped");
        }
    }
}

namespace {

std::string withPath(std::string verb, const std::string& path) {
    return path.empty() ? verb : verb + " " + path;
}

bool refused(const FtpResult& result) {
    return result.replyCode / 100 == 5;
}

}  // namespace

FtpResult FtpConnection::fetchListing(const std::string& line, std::string& data,
                                      const UploadProgress& progress) {
    data.clear();
    DataChannel channel(*this);
    if (FtpResult result = openData(channel); !result) {
        return result;
    }
    if (FtpResult result = startData(channel, line, true); !result) {
        return result;
    }
    FtpResult received;
    if (channel.socket) {
        received = readAll(*channel.socket, data, progress);
        // The server has closed the data connection, so it is done with the transfer: an EPSV
        // it reads now cannot cut it short. (Over TLS the server may still wait for the answer
        // to its close_notify, so the EPSV waits for the final reply there.)
        if (received && passive_ && !epsvRefused_ && channel.socket->tls() == nullptr &&
            anotherFollows_ != nullptr && *anotherFollows_ && (*anotherFollows_)()) {
            if (!control_->writeAll("EPSV\r\n", ioLimit())) {
                return dropConnection(socketFailure(*control_));
            }
            ++commandsSent_;
            epsvBehind_ = true;
        }
        if (received && channel.socket->tls()) {
            // The server's close_notify is answered: servers (vsftpd) take a session that
            // ended without both for a broken one and refuse to resume it.
            channel.socket->endTls(ioLimit());
            keepDataSession(channel);
        }
    }
    channel.closeSockets();
    FtpResult finished = finishData(channel, true);
    if (!received) {
        return afterDataFailure(received);
    }
    return finished;
}

// Plain LIST hides dot files on Unix servers (vsftpd by default), and a web site lives by
// .htaccess and friends, so "LIST -a" comes first. Many servers take no options, though
// (pyftpdlib without MLSD, IIS, embedded ones): they read "-a /folder/" as the name of a folder
// and refuse it, or list nothing. So the optioned form stands only once the server has answered
// it with lines; a refusal tries a plain LIST of the path and then a LIST inside the folder, and
// the form that works is kept for the connection.
FtpResult FtpConnection::fetchList(const std::string& path, std::string& data,
                                   const UploadProgress& progress) {
    switch (listStyle_) {
        case ListStyle::Optioned:
            return fetchListing(withPath("LIST -a", path), data, progress);
        case ListStyle::Plain:
            return fetchListing(withPath("LIST", path), data, progress);
        case ListStyle::InFolder:
            return fetchInFolder(path, data, progress);
        case ListStyle::Unknown:
            break;
    }
    const FtpResult optioned = fetchListing(withPath("LIST -a", path), data, progress);
    if (optioned && !data.empty()) {
        listStyle_ = ListStyle::Optioned;
        return optioned;
    }
    if (!optioned && !refused(optioned)) {
        return optioned;  // a busy server or a lost data connection says nothing about the form
    }
    // Refused, or no lines at all: an empty folder, or "-a /folder/" taken for a missing name.
    const FtpResult plain = fetchListing(withPath("LIST", path), data, progress);
    if (plain) {
        if (!optioned || !data.empty()) {
            listStyle_ = ListStyle::Plain;
        }
        return plain;
    }
    if (optioned || !refused(plain) || path.empty()) {
        return plain;
    }
    const FtpResult inside = fetchInFolder(path, data, progress);
    if (inside) {
        listStyle_ = ListStyle::InFolder;
    }
    return inside;
}

FtpResult FtpConnection::fetchInFolder(const std::string& path, std::string& data,
                                       const UploadProgress& progress) {
    if (path.empty()) {
        return fetchListing("LIST", data, progress);
    }
    std::string current;
    if (FtpResult result = knownDirectory(current); !result) {
        return result;
    }
    if (FtpResult result = simpleCommand("CWD " + path, true); !result) {
        return result;
    }
    const FtpResult listed = fetchListing("LIST", data, progress);
    if (!connected_) {
        return listed;
    }
    if (FtpResult back = changeBack(current); !back) {
        return back;
    }
    return listed;
}

FtpResult FtpConnection::listLocked(const std::string& path, std::vector<ListingEntry>& entries,
                                    const UploadProgress& progress) {
    const bool mlsd = features_.mlsd;
    std::string data;
    const FtpResult result = mlsd ? fetchListing(withPath("MLSD", path), data, progress)
                                  : fetchList(path, data, progress);
    if (!result) {
        return result;
    }
    if (data.empty() && listingReplyTellsOfAFailure(result.text)) {
        return failure(FtpError::Fatal, result.text, result.replyCode);
    }
    entries = parseListing(data, mlsd, localToday());
    for (ListingEntry& entry : entries) {
        convertUtcToLocal(entry);
    }
    if (entries.empty() && !isEmptyListing(data, mlsd)) {
        return failure(FtpError::Fatal, "The listing of the folder could not be read");
    }
    if (entries.empty() && !mlsd && !path.empty() && listStyle_ != ListStyle::InFolder) {
        // LIST of a missing folder gives an empty listing and 226 on some servers (vsftpd):
        // only a folder that can be entered is an empty folder.
        bool exists = false;
        if (FtpResult checked = folderExists(path, exists); !checked) {
            return checked;
        }
        if (!exists) {
            return failure(FtpError::NotFound, "550 " + path + ": No such folder", 550);
        }
    }
    return {};
}

// ---- existence test -------------------------------------------------------------------------

FtpResult FtpConnection::exists(const std::string& path, PathKind& kind) {
    std::lock_guard lock(exchangeMutex_);
    kind = PathKind::Missing;
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(path); !result) {
        return result;
    }
    return existsLocked(path, kind);
}

FtpResult FtpConnection::existsLocked(const std::string& path, PathKind& kind) {
    if (path.empty()) {
        kind = PathKind::Directory;  // the current directory
        return {};
    }
    Reply reply;
    if (features_.mlsd) {
        // One exchange answers for files and folders alike.
        if (FtpResult result = command("MLST " + path, reply); !result) {
            return result;
        }
        if (reply.code / 100 == 2) {
            kind = kindFromMlst(reply);
            return {};
        }
        if (reply.code == 550) {
            return {};
        }
        if (reply.code / 100 == 4) {
            return failFromReply(reply, true);
        }
        // Any other refusal: fall back to the commands every server has.
    }
    // SIZE answers for a file in one exchange; folders and missing paths both get 550.
    if (FtpResult result = ensureBinary(); !result) {
        return result;
    }
    if (FtpResult result = command("SIZE " + path, reply); !result) {
        return result;
    }
    if (reply.code == 213) {
        kind = PathKind::File;
        return {};
    }
    if (reply.code / 100 == 4) {
        return failFromReply(reply, true);
    }
    bool folder = false;
    if (FtpResult result = folderExists(path, folder); !result) {
        return result;
    }
    kind = folder ? PathKind::Directory : PathKind::Missing;
    return {};
}

FtpResult FtpConnection::folderExists(const std::string& path, bool& exists) {
    exists = false;
    std::string current;
    if (FtpResult result = knownDirectory(current); !result) {
        return result;
    }
    Reply reply;
    if (FtpResult result = command("CWD " + path, reply); !result) {
        return result;
    }
    if (reply.code / 100 != 2) {
        FtpError kind = classifyReply(reply.code, true);
        if (kind == FtpError::NotFound || kind == FtpError::Fatal) {
            return {};  // cannot be entered: not a folder we can use
        }
        return failFromReply(reply, true);
    }
    exists = true;
    return changeBack(current);
}

FtpResult FtpConnection::changeBack(const std::string& directory) {
    if (FtpResult result = simpleCommand("CWD " + directory, true); !result) {
        // The server stays in the visited folder; the caller's idea of the current directory is
        // wrong from here on, so this must fail loudly.
        directory_.clear();
        return result;
    }
    directory_ = directory;
    return {};
}

// ---- upload ---------------------------------------------------------------------------------

FtpResult FtpConnection::upload(const std::filesystem::path& localFile,
                                const std::string& remotePath, const UploadProgress& progress) {
    std::lock_guard lock(exchangeMutex_);
    if (FtpResult result = ensureConnected(); !result) {
        return result;
    }
    if (FtpResult result = refuseLineBreaks(remotePath); !result) {
        return result;
    }
    return uploadLocked(localFile, remotePath, progress);
}

FtpResult FtpConnection::sendFileData(int fd, Socket& socket, const UploadProgress& progress) {
    std::string buffer(kUploadChunk, '\0');
    std::uint64_t sent = 0;
    for (;;) {
        ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return failure(FtpError::LocalFile,
                           std::string("Could not read the local file: ") + std::strerror(errno));
        }
        if (count == 0) {
            return {};
        }
        if (!socket.writeAll(std::string_view(buffer.data(), static_cast<std::size_t>(count)),
                             ioLimit())) {
            return dataFailure(socket, "The data connection broke");
        }
        sent += static_cast<std::uint64_t>(count);
        if (progress && !progress(sent)) {
            return failure(FtpError::Cancelled,
                           "The upload was stopped before the end of the file");
        }
    }
}

FtpResult FtpConnection::uploadLocked(const std::filesystem::path& localFile,
                                      const std::string& remotePath,
                                      const UploadProgress& progress) {
    LocalFile file(localFile);
    if (file.fd() < 0) {
        return failure(FtpError::LocalFile, "Could not open file for reading");
    }
    if (FtpResult result = ensureBinary(); !result) {
        return result;
    }
    DataChannel channel(*this);
    if (FtpResult result = openData(channel); !result) {
        return result;
    }
    if (FtpResult result = startData(channel, "STOR " + remotePath, false); !result) {
        if (channel.accepted && connected_) {
            // Taken, but the data connection failed (a TLS handshake, an active connection
            // that never came): the server may have made an empty file.
            Reply reply;
            command("DELE " + remotePath, reply);
        }
        return result;  // otherwise refused before anything was created
    }
    FtpResult sent;
    if (channel.finalReply) {
        // A final reply before any data: whatever the server stored, it is not this file.
        sent = failure(FtpError::Fatal, "The server ended the upload before receiving the file: " +
                                            channel.finalReply->text);
    } else {
        sent = sendFileData(file.fd(), *channel.socket, progress);
        const bool tls = channel.socket->tls() != nullptr;
        if (sent && tls) {
            // TLS servers take the close_notify as the end of the file; a cut upload sends none.
            channel.socket->endTls(ioLimit());
        }
        // An orderly close even when the upload was cut short: some servers (pyftpdlib) never
        // answer a transfer whose connection was reset, which would cost the control connection
        // as well. The server then keeps a partial file, which is deleted below.
        channel.socket->finishSending();
        if (sent && tls) {
            channel.socket->drainUntilClosed(ioLimit());
            keepDataSession(channel);
        }
    }
    channel.closeSockets();
    FtpResult finished = finishData(channel, false);
    if (sent && finished) {
        return finished;
    }
    FtpResult result = sent ? finished : afterDataFailure(sent);
    if (connected_) {
        // Leave no partial file behind for the next run to take for a finished one. The
        // outcome of this clean-up does not change the failure being reported.
        Reply reply;
        command("DELE " + remotePath, reply);
    }
    return result;
}

}  // namespace ftp
