#include "transfer/ftp/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ftp {

namespace {

constexpr const char* kClosedText = "The connection was closed";
constexpr const char* kTimedOutText = "Timed out";

int remainingMillis(std::chrono::steady_clock::time_point deadline) {
    // poll takes an int; a limit beyond 24 days is as good as none. Rounded up: a wait cut
    // short by the fraction of a millisecond would end before the limit it stands for.
    constexpr long long kLongest = 2'000'000'000;
    auto left = std::chrono::ceil<Millis>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, kLongest));
}

std::chrono::steady_clock::time_point deadlineAfter(Millis limit) {
    constexpr Millis kLongest{2'000'000'000};
    return std::chrono::steady_clock::now() + std::clamp(limit, Millis(0), kLongest);
}

Endpoint endpointFrom(const sockaddr_storage& address) {
    Endpoint result;
    char host[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        result.port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        result.port = ntohs(v6.sin6_port);
        result.ipv6 = true;
    }
    result.host = host;
    return result;
}

void setNoDelay(int fd) {
    // Commands are single small writes answered by the server; no point holding them back.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

Socket::Socket() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Socket::Socket(int fd) : Socket() {
    fd_ = fd;
}

Socket::~Socket() {
    close();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool Socket::adopt(int fd) {
    std::lock_guard lock(descriptorMutex_);
    if (shutDown_) {
        ::close(fd);
        fail(kClosedText);
        return false;
    }
    fd_ = fd;
    return true;
}

void Socket::fail(const std::string& text) {
    lastError_ = text;
}

void Socket::failErrno(const std::string& what, int error) {
    lastError_ = what.empty() ? std::strerror(error) : what + ": " + std::strerror(error);
}

bool Socket::waitFor(short events, Millis limit) {
    if (shutDown_) {
        fail(kClosedText);
        return false;
    }
    pollfd fds[2] = {{fd_.load(), events, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t count = wakeFd_ >= 0 ? 2 : 1;
    const auto deadline = deadlineAfter(limit);
    for (;;) {
        int ready = ::poll(fds, count, remainingMillis(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            failErrno("", errno);
            return false;
        }
        if (shutDown_ || (count == 2 && fds[1].revents != 0)) {
            fail(kClosedText);
            return false;
        }
        if (ready == 0 && std::chrono::steady_clock::now() < deadline) {
            continue;
        }
        if (ready == 0) {
            timedOut_ = true;
            fail(kTimedOutText);
            return false;
        }
        // Errors and hang-ups count as ready: the following call reports what happened.
        return true;
    }
}

bool Socket::connectTo(const void* address, unsigned addressLength, int family,
                       std::chrono::steady_clock::time_point deadline) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failErrno("", errno);
        return false;
    }
    if (!adopt(fd)) {
        return false;
    }
    if (::connect(fd, static_cast<const sockaddr*>(address), addressLength) != 0) {
        if (errno != EINPROGRESS) {
            failErrno("", errno);
            close();
            return false;
        }
        if (!waitFor(POLLOUT, Millis(remainingMillis(deadline)))) {
            close();
            return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        if (error != 0) {
            failErrno("", error);
            close();
            return false;
        }
    }
    setNoDelay(fd);
    return true;
}

bool Socket::connect(const std::string& host, std::uint16_t port, Millis limit) {
    close();
    timedOut_ = false;
    const auto deadline = deadlineAfter(limit);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    // "[::1]" is how people write an IPv6 address next to a port; the brackets are not part
    // of the address.
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    int status = getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
    if (status != 0) {
        fail("Cannot find the server " + host + ": " + gai_strerror(status));
        return false;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
    std::string firstError;
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        if (connectTo(entry->ai_addr, entry->ai_addrlen, entry->ai_family, deadline)) {
            return true;
        }
        if (firstError.empty()) {
            firstError = lastError_;
        }
        if (shutDown_ || timedOut_) {
            break;
        }
    }
    if (!timedOut_ && !shutDown_) {
        fail("Cannot connect to " + host + " port " + service + ": " + firstError);
    }
    return false;
}

bool Socket::listen(const std::string& localHost) {
    close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    int status = getaddrinfo(localHost.c_str(), "0", &hints, &found);
    if (status != 0) {
        fail("Cannot listen on " + localHost + ": " + gai_strerror(status));
        return false;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
    int fd = ::socket(list->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failErrno("", errno);
        return false;
    }
    if (!adopt(fd)) {
        return false;
    }
    if (::bind(fd, list->ai_addr, list->ai_addrlen) != 0 || ::listen(fd, 1) != 0) {
        failErrno("Cannot listen on " + localHost, errno);
        close();
        return false;
    }
    return true;
}

std::unique_ptr<Socket> Socket::accept(Millis limit) {
    timedOut_ = false;
    if (!isOpen()) {
        fail(kClosedText);
        return nullptr;
    }
    if (!waitFor(POLLIN, limit)) {
        return nullptr;
    }
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        failErrno("", errno);
        return nullptr;
    }
    return std::unique_ptr<Socket>(new Socket(fd));
}

long Socket::readSome(char* buffer, std::size_t size, Millis limit) {
    timedOut_ = false;
    if (!isOpen()) {
        fail(kClosedText);
        return -1;
    }
    if (tls_) {
        return tlsRead(buffer, size, limit, true);
    }
    for (;;) {
        ssize_t count = ::recv(fd_, buffer, size, 0);
        if (count >= 0) {
            if (shutDown_) {
                // A shut-down socket reads as end of file; that must not pass for a clean end.
                fail(kClosedText);
                return -1;
            }
            return static_cast<long>(count);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            failErrno("", errno);
            return -1;
        }
        if (!waitFor(POLLIN, limit)) {
            return -1;
        }
    }
}

long Socket::readPending(char* buffer, std::size_t size) {
    if (!isOpen() || shutDown_) {
        fail(kClosedText);
        return -1;
    }
    if (tls_) {
        const long count = tlsRead(buffer, size, Millis(0), false);
        if (count == 0) {
            fail("The server closed the connection");
            return -1;
        }
        return count == -2 ? 0 : count;
    }
    for (;;) {
        const ssize_t count = ::recv(fd_, buffer, size, MSG_DONTWAIT);
        if (count > 0) {
            return static_cast<long>(count);
        }
        if (count == 0) {
            fail("The server closed the connection");
            return -1;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        failErrno("", errno);
        return -1;
    }
}

bool Socket::writeAll(std::string_view data, Millis limit) {
    timedOut_ = false;
    if (!isOpen()) {
        fail(kClosedText);
        return false;
    }
    if (tls_) {
        return tlsWrite(data, limit);
    }
    while (!data.empty()) {
        if (shutDown_) {
            fail(kClosedText);
            return false;
        }
        ssize_t count = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (count > 0) {
            data.remove_prefix(static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failErrno("", errno);
            return false;
        }
        if (!waitFor(POLLOUT, limit)) {
            return false;
        }
    }
    return true;
}

void Socket::finishSending() {
    if (isOpen()) {
        ::shutdown(fd_, SHUT_WR);
    }
}

void Socket::shutdown() {
    std::lock_guard lock(descriptorMutex_);
    shutDown_ = true;
    if (wakeFd_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
    }
}

void Socket::close() {
    std::lock_guard lock(descriptorMutex_);
    tls_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

// ---- TLS ------------------------------------------------------------------------------------

namespace {

bool isNumericAddress(const std::string& host) {
    in6_addr scratch{};
    return inet_pton(AF_INET, host.c_str(), &scratch) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &scratch) == 1;
}

}  // namespace

bool Socket::tlsWait(int result, Millis limit, const char* what) {
    const int error = SSL_get_error(tls_.get(), result);
    if (error == SSL_ERROR_WANT_READ) {
        return waitFor(POLLIN, limit);
    }
    if (error == SSL_ERROR_WANT_WRITE) {
        return waitFor(POLLOUT, limit);
    }
    if (shutDown_) {
        fail(kClosedText);
    } else if (error == SSL_ERROR_SYSCALL && errno != 0) {
        failErrno(what, errno);
    } else if (error == SSL_ERROR_ZERO_RETURN || error == SSL_ERROR_SYSCALL) {
        fail(std::string(what) + ": the server closed the connection");
    } else {
        fail(std::string(what) + ": " + takeTlsError("TLS failure"));
    }
    ERR_clear_error();
    return false;
}

bool Socket::startTls(ssl_ctx_st* context, const std::string& hostName, ssl_session_st* resume,
                      Millis limit) {
    timedOut_ = false;
    if (!isOpen() || shutDown_) {
        fail(kClosedText);
        return false;
    }
    ERR_clear_error();
    TlsPtr ssl(SSL_new(context));
    if (!ssl || !bindToDescriptor(ssl.get(), fd_.load())) {
        fail("TLS handshake failed: " + takeTlsError("out of memory"));
        return false;
    }
    std::string name = hostName;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    if (isNumericAddress(name)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), name.c_str());
    } else if (!name.empty()) {
        SSL_set_tlsext_host_name(ssl.get(), name.c_str());
        SSL_set1_host(ssl.get(), name.c_str());
    }
    if (resume) {
        SSL_set_session(ssl.get(), resume);
        preferKeyExchangeOf(ssl.get(), resume);
    }
    tls_ = std::move(ssl);
    const auto deadline = deadlineAfter(limit);
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(tls_.get());
        if (result == 1) {
            rememberKeyExchange(tls_.get());
            return true;
        }
        if (!tlsWait(result, Millis(remainingMillis(deadline)), "TLS handshake failed")) {
            tls_.reset();
            return false;
        }
    }
}

long Socket::tlsRead(char* buffer, std::size_t size, Millis limit, bool wait) {
    for (;;) {
        if (shutDown_) {
            fail(kClosedText);
            return -1;
        }
        ERR_clear_error();
        std::size_t count = 0;
        const int result = SSL_read_ex(tls_.get(), buffer, size, &count);
        if (result == 1) {
            return static_cast<long>(count);
        }
        const int error = SSL_get_error(tls_.get(), result);
        if (error == SSL_ERROR_ZERO_RETURN) {
            if (shutDown_) {
                fail(kClosedText);  // our own shutdown() must not pass for a clean end
                return -1;
            }
            return 0;  // close_notify, or an end without one (SSL_OP_IGNORE_UNEXPECTED_EOF)
        }
        if (!wait && error == SSL_ERROR_WANT_READ) {
            return -2;  // nothing has come
        }
        if (!tlsWait(result, limit, "TLS read failed")) {
            return -1;
        }
    }
}

bool Socket::tlsWrite(std::string_view data, Millis limit) {
    while (!data.empty()) {
        if (shutDown_) {
            fail(kClosedText);
            return false;
        }
        ERR_clear_error();
        std::size_t count = 0;
        const int result = SSL_write_ex(tls_.get(), data.data(), data.size(), &count);
        if (result == 1) {
            data.remove_prefix(count);
            continue;
        }
        if (!tlsWait(result, limit, "TLS write failed")) {
            return false;
        }
    }
    return true;
}

void Socket::endTls(Millis limit) {
    if (!tls_ || !isOpen() || shutDown_) {
        return;
    }
    const auto deadline = deadlineAfter(limit);
    for (;;) {
        ERR_clear_error();
        const int result = SSL_shutdown(tls_.get());
        // 0: our close_notify is out and the peer's has not come, which is all we wait for.
        if (result >= 0) {
            return;
        }
        if (SSL_get_error(tls_.get(), result) != SSL_ERROR_WANT_WRITE ||
            !waitFor(POLLOUT, Millis(remainingMillis(deadline)))) {
            ERR_clear_error();
            return;
        }
    }
}

void Socket::drainUntilClosed(Millis limit) {
    const auto deadline = deadlineAfter(limit);
    char scratch[4096];
    while (isOpen() && !shutDown_) {
        const long count = readSome(scratch, sizeof scratch, Millis(remainingMillis(deadline)));
        if (count <= 0) {
            return;
        }
    }
}

Endpoint Socket::localEndpoint() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (!isOpen() || getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return endpointFrom(address);
}

Endpoint Socket::peerEndpoint() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (!isOpen() || getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return endpointFrom(address);
}

}  // namespace ftp
