#include "transfer/ftp/Tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstdint>

namespace ftp {

const char* tlsModeName(TlsMode mode) {
    switch (mode) {
        case TlsMode::Required:
            return "required";
        case TlsMode::Offered:
            return "offered";
        case TlsMode::Off:
            break;
    }
    return "off";
}

bool parseTlsMode(std::string_view text, TlsMode& mode) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (TlsMode candidate : {TlsMode::Off, TlsMode::Required, TlsMode::Offered}) {
        if (lower == tlsModeName(candidate)) {
            mode = candidate;
            return true;
        }
    }
    return false;
}

std::string normaliseFingerprint(std::string_view text) {
    constexpr std::size_t kDigits = 64;
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return {};
        }
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return digits.size() == kDigits ? digits : std::string();
}

std::string formatFingerprint(std::string_view digits) {
    std::string result;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        if (!result.empty()) {
            result += ':';
        }
        result.append(digits.substr(i, 2));
    }
    return result;
}

void TlsDeleter::operator()(ssl_st* ssl) const {
    SSL_free(ssl);
}
void TlsDeleter::operator()(ssl_ctx_st* context) const {
    SSL_CTX_free(context);
}
void TlsDeleter::operator()(ssl_session_st* session) const {
    SSL_SESSION_free(session);
}
void TlsDeleter::operator()(x509_st* certificate) const {
    X509_free(certificate);
}

std::string takeTlsError(const std::string& fallback) {
    unsigned long code = 0;
    unsigned long newest = 0;
    while ((code = ERR_get_error()) != 0) {
        newest = code;
    }
    if (newest == 0) {
        return fallback;
    }
    const char* reason = ERR_reason_error_string(newest);
    return reason ? std::string(reason) : fallback;
}

TlsContextPtr makeClientContext(std::string& error) {
    ERR_clear_error();
    TlsContextPtr context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        error = "TLS is not available: " + takeTlsError("no context");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // Verification runs during the handshake and its result is read afterwards: a refused
    // certificate must still be seen, to name its fingerprint and to match a pinned one.
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    if (SSL_CTX_set_default_verify_paths(context.get()) != 1) {
        ERR_clear_error();  // no trust store: every certificate then needs a pin
    }
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE |
                                        SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY);
    // Many FTP servers close a data connection without a close_notify; the transfer's own
    // final reply on the control connection says whether it was complete.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Resumed sessions are set by hand from the control connection; no cache needed.
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_CLIENT);
    return context;
}

namespace {

// A socket BIO that never raises SIGPIPE; OpenSSL's own writes with write(2).
int descriptorOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

bool retryable(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

int bioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t count =
        ::send(descriptorOf(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (count < 0 && retryable(errno)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(count);
}

int bioRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t count = ::recv(descriptorOf(bio), data, static_cast<std::size_t>(length), 0);
    if (count < 0 && retryable(errno)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(count);
}

long bioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* socketMethod() {
    // Made once for the process and never freed: BIOs of every connection point at it.
    static BIO_METHOD* method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kelvane socket");
        if (made) {
            BIO_meth_set_write(made, bioWrite);
            BIO_meth_set_read(made, bioRead);
            BIO_meth_set_ctrl(made, bioControl);
            BIO_meth_set_create(made, bioCreate);
        }
        return made;
    }();
    return method;
}

std::string nameText(X509_NAME* name) {
    if (!name) {
        return {};
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
    if (!out) {
        return {};
    }
    X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string timeText(const ASN1_TIME* time) {
    if (!time) {
        return {};
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
    if (!out || ASN1_TIME_print(out.get(), time) != 1) {
        return {};
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

bool bindToDescriptor(ssl_st* ssl, int fd) {
    BIO_METHOD* method = socketMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio) {
        return false;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    SSL_set_bio(ssl, bio, bio);  // the SSL object owns the BIO from here on
    return true;
}

CertificateInfo certificateOf(ssl_st* ssl) {
    CertificateInfo info;
    CertificatePtr certificate(SSL_get1_peer_certificate(ssl));
    if (!certificate) {
        return info;
    }
    info.subject = nameText(X509_get_subject_name(certificate.get()));
    info.issuer = nameText(X509_get_issuer_name(certificate.get()));
    info.validFrom = timeText(X509_get0_notBefore(certificate.get()));
    info.validUntil = timeText(X509_get0_notAfter(certificate.get()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate.get(), EVP_sha256(), digest, &length) == 1) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string digits;
        for (unsigned int i = 0; i < length; ++i) {
            digits += kHex[digest[i] >> 4];
            digits += kHex[digest[i] & 0x0F];
        }
        info.fingerprint = formatFingerprint(digits);
    }
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
        info.problem = X509_verify_cert_error_string(verified);
    }
    return info;
}

}  // namespace ftp
