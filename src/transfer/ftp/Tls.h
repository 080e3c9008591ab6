#pragma once

#include <memory>
#include <string>
#include <string_view>

// FTP over TLS (explicit FTPS): the settings of a connection, what the client learnt of the
// server's certificate, and owners for the OpenSSL objects, so that none of them leaks on any
// path out of a connect or a transfer.
struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;
struct x509_st;

namespace ftp {

enum class TlsMode {
    Off,       // plain FTP: the password and the files travel in clear text
    Required,  // AUTH TLS or no connection; never falls back to clear text
    Offered,   // TLS when the server takes AUTH TLS, plain FTP when it refuses it
};

// "off", "required", "offered"; parseTlsMode takes those words in any case.
const char* tlsModeName(TlsMode mode);
bool parseTlsMode(std::string_view text, TlsMode& mode);

struct TlsSettings {
    TlsMode mode = TlsMode::Off;
    // The SHA-256 fingerprint of the certificate the user trusts for this connection, in any
    // spelling normaliseFingerprint takes; empty: only the system's trust store vouches.
    std::string pinnedFingerprint;
};

// The server's certificate as the control connection's handshake presented it.
struct CertificateInfo {
    std::string subject;
    std::string issuer;
    std::string validFrom;
    std::string validUntil;
    std::string fingerprint;  // SHA-256, "AB:CD:...": 32 bytes in upper-case hex with colons
    // Why the system's trust store does not vouch for it ("self-signed certificate",
    // "Hostname mismatch", "the certificate has expired: it was valid until ...", several
    // joined by "; "); empty when it does.
    std::string problem;

    bool present() const { return !fingerprint.empty(); }
};

// Upper-case hex without separators (colons, spaces and case are ignored); empty unless the text
// holds exactly the 64 hex digits of a SHA-256 fingerprint.
std::string normaliseFingerprint(std::string_view text);
// "AB:CD:..." from the 64 digits of normaliseFingerprint.
std::string formatFingerprint(std::string_view digits);

struct TlsDeleter {
    void operator()(ssl_st* ssl) const;
    void operator()(ssl_ctx_st* context) const;
    void operator()(ssl_session_st* session) const;
    void operator()(x509_st* certificate) const;
};
using TlsContextPtr = std::unique_ptr<ssl_ctx_st, TlsDeleter>;
using TlsPtr = std::unique_ptr<ssl_st, TlsDeleter>;
using TlsSessionPtr = std::unique_ptr<ssl_session_st, TlsDeleter>;
using CertificatePtr = std::unique_ptr<x509_st, TlsDeleter>;

// A client context: TLS 1.2 or later, the system's trust store loaded. The verification result
// is read after the handshake (certificateOf), so that a refused certificate can still be shown
// with its fingerprint. Null, with the reason in `error`, when OpenSSL cannot make one.
// Connections made close together share one context (the same trust store): thread-safe.
TlsContextPtr makeClientContext(std::string& error);

// After a handshake: keeps the key exchange group with the session, for preferKeyExchangeOf.
void rememberKeyExchange(ssl_st* ssl);
// Before a handshake that offers `session` for resumption: puts the group the session was made
// with first, so that the server need not ask for another key share.
void preferKeyExchangeOf(ssl_st* ssl, ssl_session_st* session);

// Frees what OpenSSL keeps for the calling thread (its random generators, its error queue). A
// thread that may have used TLS calls it before it signals its end: the program may end right
// after that signal, and OpenSSL's own clean-up at exit would race the thread's.
void releaseThreadTlsState();

// Reads and writes `fd` through `ssl` with send(MSG_NOSIGNAL) and recv: a peer that has gone
// must fail the write, not raise SIGPIPE in a program that has not blocked it.
bool bindToDescriptor(ssl_st* ssl, int fd);

// Describes the peer certificate of a finished handshake; not present() when there is none.
CertificateInfo certificateOf(ssl_st* ssl);

// The text of the newest OpenSSL error of this thread, emptying the queue; `fallback` when
// there is none.
std::string takeTlsError(const std::string& fallback);

}  // namespace ftp
