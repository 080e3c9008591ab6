#include "support/FaultFtpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "support/TempFolder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace testsupport {

namespace {

// How long the server waits for a client that should be sending: long enough for a slow
// sanitizer build, short enough that a forgotten client never holds a test for long.
constexpr int kDataWaitMs = 10'000;
constexpr int kIdleSessionMs = 60'000;

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes with RST instead of an orderly end: the peer's next read or write fails.
    void resetConnection() {
        if (fd_ >= 0) {
            linger abrupt{1, 0};
            ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
            reset();
        }
    }

  private:
    int fd_ = -1;
};

// A listening socket on 127.0.0.1 with a port of the system's choice.
Fd listenLoopback(std::uint16_t& port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return fd;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 16) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Fd();
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string permissionText(const struct stat& status) {
    std::string text = S_ISDIR(status.st_mode) ? "d" : "-";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        text += (status.st_mode & (0400 >> bit)) ? letters[bit] : '-';
    }
    return text;
}

// "type=file;size=5;modify=20240102030405; name"; MLSD times are UTC.
std::string mlsdLine(const std::string& name, const struct stat& status) {
    std::tm utc{};
    gmtime_r(&status.st_mtime, &utc);
    char modify[32];
    std::strftime(modify, sizeof modify, "%Y%m%d%H%M%S", &utc);
    std::string line = S_ISDIR(status.st_mode) ? "type=dir;" : "type=file;";
    if (!S_ISDIR(status.st_mode)) {
        line += "size=" + std::to_string(status.st_size) + ";";
    }
    return line + "modify=" + modify + "; " + name + "\r\n";
}

// "-rw-r--r-- 1 ftp ftp 5 Mar  2 15:13 name" in the server's local time, the year instead of the
// time for files older than half a year, as Unix servers write it.
std::string unixLine(const std::string& name, const struct stat& status) {
    std::tm local{};
    localtime_r(&status.st_mtime, &local);
    const bool recent = std::time(nullptr) - status.st_mtime < 180L * 24 * 3600;
    char when[32];
    std::strftime(when, sizeof when, recent ? "%b %e %H:%M" : "%b %e  %Y", &local);
    return permissionText(status) + " 1 ftp ftp " + std::to_string(status.st_size) + " " + when +
           " " + name + "\r\n";
}

}  // namespace

struct FaultFtpServer::State {
    explicit State(Options options) : options(std::move(options)) {}

    // Waits for `events` on `fd` for at most `ms`; false on time-out or when the server stops.
    bool waitFor(int fd, short events, int ms) const {
        pollfd fds[2] = {{fd, events, 0}, {stopSignal.get(), POLLIN, 0}};
        for (;;) {
            int ready = ::poll(fds, 2, ms);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
        }
    }
    // Sleeps, but not past the server's stop; false when stopped.
    bool pause(std::chrono::milliseconds delay) const {
        pollfd fd{stopSignal.get(), POLLIN, 0};
        return ::poll(&fd, 1, static_cast<int>(delay.count())) == 0;
    }
    bool sendAll(int fd, const std::string& data) const {
        std::size_t done = 0;
        while (done < data.size()) {
            if (!waitFor(fd, POLLOUT, kDataWaitMs)) {
                return false;
            }
            ssize_t sent =
                ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            if (sent <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }

    std::optional<std::string> takeFailure(const std::string& verb) {
        std::lock_guard lock(mutex);
        auto found = failures.find(verb);
        if (found == failures.end() || found->second.count <= 0) {
            return std::nullopt;
        }
        --found->second.count;
        return found->second.reply;
    }
    struct Extra {
        int count = 0;
        std::string reply;
        std::chrono::milliseconds delay{0};
    };
    std::optional<Extra> takeExtra(const std::string& verb) {
        std::lock_guard lock(mutex);
        auto found = extras.find(verb);
        if (found == extras.end() || found->second.count <= 0) {
            return std::nullopt;
        }
        --found->second.count;
        return found->second;
    }
    std::chrono::milliseconds takeDelay(const std::string& verb) {
        std::lock_guard lock(mutex);
        auto found = delays.find(verb);
        if (found == delays.end() || found->second.count <= 0) {
            return 0ms;
        }
        --found->second.count;
        return found->second.delay;
    }

    const Options options;
    TempFolder folder{"kelvane-faultftp"};
    Fd listener;
    Fd stopSignal{::eventfd(0, EFD_CLOEXEC)};  // readable once the server stops
    std::uint16_t port = 0;
    std::string error;
    std::thread acceptor;

    mutable std::mutex mutex;  // guards everything below
    std::vector<std::thread> sessions;
    std::vector<std::string> transcript;
    struct Failure {
        int count = 0;
        std::string reply;
    };
    struct Delay {
        int count = 0;
        std::chrono::milliseconds delay{0};
    };
    std::map<std::string, Failure> failures;
    std::map<std::string, Delay> delays;
    std::map<std::string, Extra> extras;
    int extrasSent = 0;
    std::optional<std::pair<std::uint64_t, Channel>> storeReset;
    bool refuseData = false;
    bool resetListing = false;
    int logins = 0;
    int sessionsAccepted = 0;
};

namespace {

// One control connection: the FTP conversation and its data connections.
class Session {
  public:
    Session(FaultFtpServer::State& state, Fd control)
        : state_(state), control_(std::move(control)) {}

    void run() {
        if (!reply("220 Fault-injecting test server ready.")) {
            return;
        }
        std::string line;
        while (open_ && readLine(line)) {
            handle(line);
        }
    }

  private:
    using Channel = FaultFtpServer::Channel;

    bool reply(const std::string& text) {
        std::optional<FaultFtpServer::State::Extra> extra;
        if (text.empty() || text[0] != '1') {
            extra = state_.takeExtra(verb_);
        }
        std::string sent = text + "\r\n";
        if (extra && extra->delay == 0ms) {
            sent += extra->reply + "\r\n";
        }
        if (!control_.valid() || !state_.sendAll(control_.get(), sent)) {
            open_ = false;
        }
        if (open_ && extra && extra->delay > 0ms) {
            open_ =
                state_.pause(extra->delay) && state_.sendAll(control_.get(), extra->reply + "\r\n");
        }
        if (open_ && extra) {
            std::lock_guard lock(state_.mutex);
            ++state_.extrasSent;
        }
        return open_;
    }

    bool readLine(std::string& line) {
        for (;;) {
            std::size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                return true;
            }
            if (!state_.waitFor(control_.get(), POLLIN, kIdleSessionMs)) {
                return false;
            }
            char buffer[4096];
            ssize_t count = ::recv(control_.get(), buffer, sizeof buffer, 0);
            if (count <= 0) {
                return false;
            }
            pending_.append(buffer, static_cast<std::size_t>(count));
        }
    }

    void handle(const std::string& line) {
        const std::size_t space = line.find(' ');
        const std::string verb = upper(line.substr(0, space));
        const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
        verb_ = verb;
        {
            std::lock_guard lock(state_.mutex);
            state_.transcript.push_back(line);
        }
        if (std::optional<std::string> failure = state_.takeFailure(verb)) {
            dropData();
            reply(*failure);
            return;
        }
        if (std::chrono::milliseconds delay = state_.takeDelay(verb); delay > 0ms) {
            if (!state_.pause(delay)) {
                open_ = false;
                return;
            }
        }
        if (verb == "USER") {
            user_ = argument;
            loggedIn_ = false;
            reply("331 Please specify the password.");
        } else if (verb == "PASS") {
            loggedIn_ = user_ == state_.options.user && argument == state_.options.password;
            if (loggedIn_) {
                std::lock_guard lock(state_.mutex);
                ++state_.logins;
            }
            reply(loggedIn_ ? "230 Login successful." : "530 Login incorrect.");
        } else if (verb == "QUIT") {
            reply("221 Goodbye.");
            open_ = false;
        } else if (verb == "FEAT") {
            features();
        } else if (!loggedIn_) {
            reply("530 Please login with USER and PASS.");
        } else {
            command(verb, argument);
        }
    }

    void features() {
        std::string text = "211-Features:\r\n";
        if (state_.options.epsv) {
            text += " EPSV\r\n";
        }
        if (state_.options.mlsd) {
            text += " MLST type*;size*;modify*;\r\n";
        }
        if (state_.options.utf8) {
            text += " UTF8\r\n";
        }
        reply(text + "211 End");
    }

    void command(const std::string& verb, const std::string& argument) {
        if (verb == "OPTS" || verb == "TYPE" || verb == "NOOP") {
            reply("200 " + verb + " ok.");
        } else if (verb == "PWD") {
            reply("257 \"" + quoted(cwd_) + "\" is the current directory");
        } else if (verb == "CWD" || verb == "CDUP") {
            const std::string target = resolve(verb == "CDUP" ? ".." : argument);
            if (fs::is_directory(local(target))) {
                cwd_ = target;
                reply("250 Directory successfully changed.");
            } else {
                reply("550 Failed to change directory.");
            }
        } else if (verb == "MKD") {
            const std::string target = resolve(argument);
            reply(::mkdir(local(target).c_str(), 0755) == 0
                      ? "257 \"" + quoted(target) + "\" created"
                      : "550 Create directory operation failed.");
        } else if (verb == "RMD") {
            reply(::rmdir(local(resolve(argument)).c_str()) == 0
                      ? "250 Remove directory operation successful."
                      : "550 Remove directory operation failed.");
        } else if (verb == "DELE") {
            const fs::path target = local(resolve(argument));
            reply(!fs::is_directory(target) && ::unlink(target.c_str()) == 0
                      ? "250 Delete operation successful."
                      : "550 Delete operation failed.");
        } else if (verb == "RNFR") {
            renameFrom_ = resolve(argument);
            reply(fs::exists(local(renameFrom_)) ? "350 Ready for RNTO."
                                                 : "550 RNFR command failed.");
        } else if (verb == "RNTO") {
            const std::string from = std::exchange(renameFrom_, "");
            reply(!from.empty() &&
                          ::rename(local(from).c_str(), local(resolve(argument)).c_str()) == 0
                      ? "250 Rename successful."
                      : "550 Rename failed.");
        } else if (verb == "SIZE") {
            const fs::path target = local(resolve(argument));
            reply(fs::is_regular_file(target) ? "213 " + std::to_string(fs::file_size(target))
                                              : "550 Could not get file size.");
        } else if (verb == "MLST" && state_.options.mlsd) {
            mlst(resolve(argument));
        } else if (verb == "EPSV" && state_.options.epsv) {
            if (passive()) {
                reply("229 Entering Extended Passive Mode (|||" + std::to_string(dataPort_) + "|)");
            }
        } else if (verb == "PASV") {
            if (passive()) {
                reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(dataPort_ / 256) +
                      "," + std::to_string(dataPort_ % 256) + ").");
            }
        } else if (verb == "EPRT" || verb == "PORT") {
            active(verb, argument);
        } else if (verb == "STOR") {
            store(resolve(argument));
        } else if (verb == "LIST" && !state_.options.listPaths && !argument.empty()) {
            dropData();
            reply("501 Syntax error in parameters or arguments.");
        } else if (verb == "LIST" || (verb == "MLSD" && state_.options.mlsd)) {
            std::string path = argument;
            if (verb == "LIST" && path.rfind("-", 0) == 0) {
                path = path.find(' ') == std::string::npos ? "" : path.substr(path.find(' ') + 1);
            }
            list(resolve(path), verb == "MLSD");
        } else {
            reply("502 Command not implemented.");
        }
    }

    static std::string quoted(const std::string& path) {
        std::string text;
        for (char c : path) {
            text += c;
            if (c == '"') {
                text += '"';
            }
        }
        return text;
    }

    // The absolute server path of an argument: relative to the current directory, "." and ".."
    // applied, never above "/".
    std::string resolve(const std::string& argument) const {
        std::vector<std::string> parts;
        std::string whole = argument.rfind("/", 0) == 0 ? argument : cwd_ + "/" + argument;
        std::size_t start = 0;
        while (start <= whole.size()) {
            std::size_t end = whole.find('/', start);
            if (end == std::string::npos) {
                end = whole.size();
            }
            std::string part = whole.substr(start, end - start);
            if (part == "..") {
                if (!parts.empty()) {
                    parts.pop_back();
                }
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = end + 1;
        }
        std::string path;
        for (const std::string& part : parts) {
            path += "/" + part;
        }
        return path.empty() ? "/" : path;
    }

    fs::path local(const std::string& serverPath) const {
        return state_.folder.path() / serverPath.substr(1);
    }

    void mlst(const std::string& path) {
        struct stat status {};
        if (::stat(local(path).c_str(), &status) != 0) {
            reply("550 No such file or directory.");
            return;
        }
        std::string line = mlsdLine(path, status);
        line.resize(line.size() - 2);
        reply("250-Listing " + path + "\r\n " + line + "\r\n250 End");
    }

    // ---- data connections -------------------------------------------------------------------

    void dropData() {
        dataListener_.reset();
        activeTarget_.reset();
    }

    bool takeRefusal() {
        std::lock_guard lock(state_.mutex);
        return std::exchange(state_.refuseData, false);
    }

    bool passive() {
        dropData();
        dataListener_ = listenLoopback(dataPort_);
        if (!dataListener_.valid()) {
            reply("425 Cannot open a passive port.");
            return false;
        }
        if (takeRefusal()) {
            dataListener_.reset();  // the client's connect finds nobody listening
        }
        return true;
    }

    void active(const std::string& verb, const std::string& argument) {
        dropData();
        std::string host;
        int port = -1;
        if (verb == "EPRT") {
            // |1|127.0.0.1|40123|
            std::vector<std::string> fields;
            std::size_t start = 1;
            while (start < argument.size()) {
                std::size_t end = argument.find(argument[0], start);
                if (end == std::string::npos) {
                    break;
                }
                fields.push_back(argument.substr(start, end - start));
                start = end + 1;
            }
            if (fields.size() == 3 && fields[0] == "1") {
                host = fields[1];
                port = std::atoi(fields[2].c_str());
            }
        } else {
            int n[6];
            if (std::sscanf(argument.c_str(), "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3],
                            &n[4], &n[5]) == 6) {
                host = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." +
                       std::to_string(n[2]) + "." + std::to_string(n[3]);
                port = n[4] * 256 + n[5];
            }
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (port <= 0 || port > 65535 ||
            ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
            reply("501 Illegal " + verb + " command.");
            return;
        }
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        activeTarget_ = address;
        reply("200 " + verb + " command successful.");
    }

    bool dataPrepared() const { return dataListener_.valid() || activeTarget_.has_value(); }

    // Opens the data connection that the last EPSV/PASV/EPRT/PORT prepared.
    Fd connectData() {
        if (activeTarget_) {
            const sockaddr_in target = *activeTarget_;
            activeTarget_.reset();
            if (takeRefusal()) {
                return Fd();
            }
            Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (fd.valid() && ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target),
                                        sizeof target) != 0) {
                fd.reset();
            }
            return fd;
        }
        Fd listener = std::move(dataListener_);
        if (!listener.valid() || !state_.waitFor(listener.get(), POLLIN, kDataWaitMs)) {
            return Fd();
        }
        return Fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

    void store(const std::string& path) {
        if (!dataPrepared()) {
            reply("425 Use PORT or PASV first.");
            return;
        }
        Fd file(::open(local(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!file.valid()) {
            dropData();
            reply("553 Could not create file.");
            return;
        }
        if (!reply("150 Ok to send data.")) {
            return;
        }
        Fd data = connectData();
        if (!data.valid()) {
            reply("425 Failed to establish connection.");
            return;
        }
        std::optional<std::pair<std::uint64_t, Channel>> reset;
        {
            std::lock_guard lock(state_.mutex);
            reset = std::exchange(state_.storeReset, std::nullopt);
        }
        std::uint64_t received = 0;
        char buffer[65536];
        for (;;) {
            if (!state_.waitFor(data.get(), POLLIN, kDataWaitMs)) {
                reply("426 Failure reading network stream.");
                return;
            }
            ssize_t count = ::recv(data.get(), buffer, sizeof buffer, 0);
            if (count == 0) {
                break;
            }
            if (count < 0) {
                reply("426 Failure reading network stream.");
                return;
            }
            std::size_t keep = static_cast<std::size_t>(count);
            if (reset && received + keep >= reset->first) {
                keep = static_cast<std::size_t>(reset->first - received);
            }
            if (::write(file.get(), buffer, keep) != static_cast<ssize_t>(keep)) {
                reply("451 Failure writing to local file.");
                return;
            }
            received += keep;
            if (reset && received >= reset->first) {
                data.resetConnection();
                if (reset->second == Channel::Control) {
                    control_.resetConnection();
                    open_ = false;
                } else {
                    reply("426 Connection closed; transfer aborted.");
                }
                return;
            }
        }
        data.reset();
        reply("226 Transfer complete.");
    }

    void list(const std::string& path, bool mlsd) {
        if (!dataPrepared()) {
            reply("425 Use PORT or PASV first.");
            return;
        }
        const fs::path folder = local(path);
        if (!fs::is_directory(folder)) {
            dropData();
            reply("550 No such file or directory.");
            return;
        }
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        std::string text;
        for (const std::string& name : names) {
            struct stat status {};
            if (::stat((folder / name).c_str(), &status) == 0) {
                text += mlsd ? mlsdLine(name, status) : unixLine(name, status);
            }
        }
        if (!reply("150 Here comes the directory listing.")) {
            return;
        }
        Fd data = connectData();
        if (!data.valid()) {
            reply("425 Failed to establish connection.");
            return;
        }
        bool reset = false;
        {
            std::lock_guard lock(state_.mutex);
            reset = std::exchange(state_.resetListing, false);
        }
        if (reset) {
            data.resetConnection();
            reply("426 Connection closed; transfer aborted.");
            return;
        }
        const bool sent = state_.sendAll(data.get(), text);
        data.reset();
        reply(sent ? "226 Directory send OK." : "426 Failure writing network stream.");
    }

    FaultFtpServer::State& state_;
    Fd control_;
    std::string pending_;
    bool open_ = true;
    std::string user_;
    bool loggedIn_ = false;
    std::string cwd_ = "/";
    std::string verb_;  // of the command being answered
    std::string renameFrom_;
    Fd dataListener_;
    std::uint16_t dataPort_ = 0;
    std::optional<sockaddr_in> activeTarget_;
};

}  // namespace

FaultFtpServer::FaultFtpServer(Options options)
    : state_(std::make_unique<State>(std::move(options))) {}

FaultFtpServer::~FaultFtpServer() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(state_->stopSignal.get(), &one, sizeof one);
    if (state_->acceptor.joinable()) {
        state_->acceptor.join();
    }
    // No new session can start now; those running see the stop signal in their next wait.
    std::vector<std::thread> sessions;
    {
        std::lock_guard lock(state_->mutex);
        sessions.swap(state_->sessions);
    }
    for (std::thread& session : sessions) {
        session.join();
    }
}

bool FaultFtpServer::start() {
    if (!state_->stopSignal.valid()) {
        state_->error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    state_->listener = listenLoopback(state_->port);
    if (!state_->listener.valid()) {
        state_->error = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        return false;
    }
    state_->acceptor = std::thread([this] { acceptLoop(); });
    return true;
}

void FaultFtpServer::acceptLoop() {
    State& state = *state_;
    for (;;) {
        pollfd fds[2] = {{state.listener.get(), POLLIN, 0}, {state.stopSignal.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        Fd control(::accept4(state.listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!control.valid()) {
            continue;
        }
        std::lock_guard lock(state.mutex);
        ++state.sessionsAccepted;
        state.sessions.emplace_back(
            [&state, fd = std::move(control)]() mutable { Session(state, std::move(fd)).run(); });
    }
}

const std::string& FaultFtpServer::error() const {
    return state_->error;
}
std::uint16_t FaultFtpServer::port() const {
    return state_->port;
}
const fs::path& FaultFtpServer::root() const {
    return state_->folder.path();
}
const std::string& FaultFtpServer::user() const {
    return state_->options.user;
}
const std::string& FaultFtpServer::password() const {
    return state_->options.password;
}

void FaultFtpServer::failNext(const std::string& verb, int count, const std::string& reply) {
    std::lock_guard lock(state_->mutex);
    state_->failures[upper(verb)] = State::Failure{count, reply};
}

void FaultFtpServer::delayNext(const std::string& verb, std::chrono::milliseconds delay,
                               int count) {
    std::lock_guard lock(state_->mutex);
    state_->delays[upper(verb)] = State::Delay{count, delay};
}

void FaultFtpServer::resetDuringNextStore(std::uint64_t afterBytes, Channel channel) {
    std::lock_guard lock(state_->mutex);
    state_->storeReset = std::make_pair(afterBytes, channel);
}

void FaultFtpServer::refuseNextDataConnection() {
    std::lock_guard lock(state_->mutex);
    state_->refuseData = true;
}

void FaultFtpServer::resetNextListing() {
    std::lock_guard lock(state_->mutex);
    state_->resetListing = true;
}

void FaultFtpServer::extraReplyAfterNext(const std::string& verb, const std::string& reply,
                                         int count, std::chrono::milliseconds delay) {
    std::lock_guard lock(state_->mutex);
    state_->extras[upper(verb)] = State::Extra{count, reply, delay};
}

int FaultFtpServer::extraRepliesSent() const {
    std::lock_guard lock(state_->mutex);
    return state_->extrasSent;
}

std::vector<std::string> FaultFtpServer::transcript() const {
    std::lock_guard lock(state_->mutex);
    return state_->transcript;
}

void FaultFtpServer::clearTranscript() {
    std::lock_guard lock(state_->mutex);
    state_->transcript.clear();
}

int FaultFtpServer::loginCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->logins;
}

int FaultFtpServer::sessionCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->sessionsAccepted;
}

}  // namespace testsupport
