#pragma once

#include <chrono>
#include <string>

namespace ftp {

// What kind of failure an FTP exchange met. The layer above retries every failure the same way;
// the kind lets it tell a missing path from a dead connection without reading reply texts.
enum class FtpError {
    None,
    NotFound,        // the server said the path does not exist (550 to a command naming one)
    Transient,       // a 4xx reply: try again later
    Fatal,           // a 5xx reply or an answer the client cannot use
    TimedOut,        // a socket wait passed its limit; the connection has been closed
    ConnectionLost,  // the control connection broke or was never made
    Cancelled,       // the caller stopped the transfer (progress callback returned false)
    OutOfStep,       // a reply that answers no command sent (an extra one, or a code the
                     // command cannot get): the connection has been closed, since every later
                     // reply would be paired with the wrong command
    InvalidName,     // the name holds CR, LF or NUL and was not sent
    LocalFile,       // the local file of an upload could not be read
    Security,        // TLS was required and the server refused it, or its handshake failed
    Certificate,     // the server's certificate is not trusted, or not the pinned one
};

struct FtpResult {
    FtpError error = FtpError::None;
    // The server's own reply ("550 No such file or directory.") or the system's message; fit to
    // be shown as the reason of a failure.
    std::string text;
    int replyCode = 0;  // the code of the reply that decided the result, 0 when none

    bool ok() const { return error == FtpError::None; }
    explicit operator bool() const { return ok(); }
};

// Every socket operation of a connection waits at most this long. `io` applies to each single
// read or write wait, so a long but moving transfer never times out; a stalled one does.
struct FtpTimeouts {
    std::chrono::milliseconds connect{30'000};
    std::chrono::milliseconds io{60'000};
};

}  // namespace ftp
