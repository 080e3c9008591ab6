#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "transfer/ftp/Tls.h"

// A TCP socket for the FTP client. Every call that waits has its own time limit, so a caller
// never blocks for longer than it asked, and shutdown() may be called from any thread to make a
// call that is waiting fail at once (the user pressed Stop, or the connection is being closed
// while a worker still uses it).
namespace ftp {

using Millis = std::chrono::milliseconds;

// A numeric address and port, as the socket layer reports them.
struct Endpoint {
    std::string host;  // "127.0.0.1", "::1"
    std::uint16_t port = 0;
    bool ipv6 = false;
};

class Socket {
  public:
    Socket();
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Resolves host (a name or a numeric address of either family) and connects to the first
    // address that answers. The limit covers the whole attempt, name lookup excepted.
    bool connect(const std::string& host, std::uint16_t port, Millis limit);

    // Listens on the given numeric local address with a port of the system's choice.
    bool listen(const std::string& localHost);
    // Waits for one incoming connection on a listening socket.
    std::unique_ptr<Socket> accept(Millis limit);

    // Reads what is available, at most `size` bytes, waiting up to `limit` for the first byte.
    // Returns the count, 0 when the peer closed its end, -1 on failure or time-out.
    long readSome(char* buffer, std::size_t size, Millis limit);
    // Takes what has already arrived, without waiting: the count of bytes read, 0 when nothing
    // is waiting, -1 when the peer has closed its end or the socket failed.
    long readPending(char* buffer, std::size_t size);
    // Sends every byte. The limit applies to each wait for buffer space, so a slow but moving
    // transfer never times out; only a stalled one does.
    bool writeAll(std::string_view data, Millis limit);

    // Ends sending (the peer reads end of file); reading stays possible.
    void finishSending();

    // Makes this a TLS client connection: the handshake, within `limit`, with `hostName` set
    // for the server's name indication and the certificate's name check (a numeric address is
    // checked as one). A `resume` session is offered for resumption. Every read and write is
    // encrypted from here on. On failure lastError() says why; the socket stays open.
    bool startTls(ssl_ctx_st* context, const std::string& hostName, ssl_session_st* resume,
                  Millis limit);
    ssl_st* tls() const { return tls_.get(); }
    // Sends the close_notify of an orderly TLS end, without waiting for the peer's.
    void endTls(Millis limit);
    // Reads and drops what comes until the peer closes its end (its close_notify on TLS), at most
    // `limit`. Closing a socket with bytes unread resets the connection, and a reset makes the
    // peer's system drop data it has received but its program has not read yet: after an
    // upload over TLS the server has always sent something (session tickets, its close_notify).
    void drainUntilClosed(Millis limit);

    // Thread-safe: makes every waiting and later call fail at once. The descriptor itself is
    // released by close() or the destructor on the owning thread.
    void shutdown();
    void close();

    bool isOpen() const { return fd_.load() >= 0; }
    bool timedOut() const { return timedOut_; }
    bool wasShutDown() const { return shutDown_.load(); }
    const std::string& lastError() const { return lastError_; }

    Endpoint localEndpoint() const;
    Endpoint peerEndpoint() const;

  private:
    explicit Socket(int fd);
    // Installs a new descriptor unless shutdown() came first (then it is closed at once).
    bool adopt(int fd);
    // Waits for `events` on the socket; false on time-out, shutdown or poll failure.
    bool waitFor(short events, Millis limit);
    bool connectTo(const void* address, unsigned addressLength, int family,
                   std::chrono::steady_clock::time_point deadline);
    void fail(const std::string& text);
    void failErrno(const std::string& what, int error);

    std::atomic<int> fd_{-1};  // written by the owner under descriptorMutex_, read anywhere
    int wakeFd_ = -1;          // an eventfd that shutdown() signals; every wait polls it too
    std::mutex descriptorMutex_;
    std::atomic<bool> shutDown_{false};
    bool timedOut_ = false;
    std::string lastError_;
    TlsPtr tls_;  // owned and used by the owning thread only
    long tlsRead(char* buffer, std::size_t size, Millis limit, bool wait);
    bool tlsWrite(std::string_view data, Millis limit);
    // After a TLS call that did not complete: waits for what it needs; false on failure.
    bool tlsWait(int result, Millis limit, const char* what);
};

}  // namespace ftp
