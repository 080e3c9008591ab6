#include "transfer/ftp/Tls.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

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

namespace {

// Every verification problem of a handshake, kept with its SSL object. OpenSSL stops at the
// first problem when nobody listens, so a self-signed certificate that has also expired would
// be called self-signed only, and the user would not learn that it is out of date.
struct VerifyProblems {
    std::vector<int> codes;
};

void freeProblems(void*, void* problems, CRYPTO_EX_DATA*, int, long, void*) {
    delete static_cast<VerifyProblems*>(problems);
}

int problemsIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, freeProblems);
    return index;
}

// Notes each problem and goes on, so that the whole chain is checked; whether the connection may
// go on is decided after the handshake, from all that was found and the user's pin.
int noteProblem(int ok, X509_STORE_CTX* store) {
    if (ok == 1) {
        return 1;
    }
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const int index = problemsIndex();
    if (ssl == nullptr || index < 0) {
        return 1;  // the verification result still carries the last problem
    }
    auto* problems = static_cast<VerifyProblems*>(SSL_get_ex_data(ssl, index));
    if (problems == nullptr) {
        problems = new (std::nothrow) VerifyProblems;
        if (problems == nullptr || SSL_set_ex_data(ssl, index, problems) != 1) {
            delete problems;
            return 1;
        }
    }
    const int code = X509_STORE_CTX_get_error(store);
    if (std::find(problems->codes.begin(), problems->codes.end(), code) == problems->codes.end()) {
        problems->codes.push_back(code);
    }
    return 1;
}

TlsContextPtr newClientContext(std::string& error) {
    ERR_clear_error();
    TlsContextPtr context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        error = "TLS is not available: " + takeTlsError("no context");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // Verification runs during the handshake and its result is read afterwards: a refused
    // certificate must still be seen, to name its fingerprint and to match a pinned one.
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, noteProblem);
    if (SSL_CTX_set_default_verify_paths(context.get()) != 1) {
        ERR_clear_error();  // no trust store: every certificate then needs a pin
    }
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE |
                                        SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY);
    // Many FTP servers close a data connection without a close_notify; the transfer's own
    // final reply on the control connection says whether it was complete.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Each connection keeps the sessions it resumes itself (the control connection's, then the
    // newest data connection's); a cache in the context would only grow with every ticket.
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
    // A record's header and body in one read, and often the next records with them.
    SSL_CTX_set_read_ahead(context.get(), 1);
    return context;
}

// The trust store is read from the places OpenSSL's environment variables name; the same
// variables give the same store.
std::string trustStoreKey() {
    std::string key;
    for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
        const char* value = std::getenv(name);
        key += value ? std::string("=") + value : std::string("-");
        key += '\n';
    }
    return key;
}

}  // namespace

TlsContextPtr makeClientContext(std::string& error) {
    // Loading the system's trust store takes tens of milliseconds of CPU, for each of the
    // connections of a run and for each reconnection. A context holds nothing of one connection
    // (sessions are kept by their connections), so one serves them all for a while; then the
    // store is read again, to see certificates that were added or removed meanwhile.
    constexpr auto kReloadAfter = std::chrono::minutes(10);
    static std::mutex mutex;
    static ssl_ctx_st* shared = nullptr;  // one reference of its own, kept for the process
    static std::string sharedKey;
    static std::chrono::steady_clock::time_point sharedSince;
    const std::string key = trustStoreKey();
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    if (shared && key == sharedKey && now - sharedSince < kReloadAfter &&
        SSL_CTX_up_ref(shared) == 1) {
        return TlsContextPtr(shared);
    }
    TlsContextPtr made = newClientContext(error);
    if (made && SSL_CTX_up_ref(made.get()) == 1) {
        SSL_CTX_free(shared);
        shared = made.get();
        sharedKey = key;
        sharedSince = now;
    }
    return made;
}

namespace {

// The key exchange group a session was made with, kept with the session (and so with the
// sessions of the tickets that follow it, which copy it).
int groupIndex() {
    static const int index = SSL_SESSION_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

}  // namespace

void rememberKeyExchange(ssl_st* ssl) {
    SSL_SESSION* session = SSL_get_session(ssl);
    const int index = groupIndex();
    const long group = SSL_get_negotiated_group(ssl);
    if (session && index >= 0 && group > 0) {
        SSL_SESSION_set_ex_data(session, index,
                                reinterpret_cast<void*>(static_cast<std::intptr_t>(group)));
    }
}

void preferKeyExchangeOf(ssl_st* ssl, ssl_session_st* session) {
    const int index = groupIndex();
    if (!session || index < 0) {
        return;
    }
    const int group =
        static_cast<int>(reinterpret_cast<std::intptr_t>(SSL_SESSION_get_ex_data(session, index)));
    // OpenSSL's own list of groups up to 3.4, which this context keeps; later versions add
    // others (hybrid post-quantum ones) and send more than one key share, so they are left
    // as they are rather than cut down to this list.
    constexpr unsigned long kNewerDefaults = 0x30500000UL;
    std::vector<int> groups = {NID_X25519,    NID_X9_62_prime256v1, NID_X448,      NID_secp521r1,
                               NID_secp384r1, NID_ffdhe2048,        NID_ffdhe3072, NID_ffdhe4096,
                               NID_ffdhe6144, NID_ffdhe8192};
    const auto found = std::find(groups.begin(), groups.end(), group);
    if (OpenSSL_version_num() >= kNewerDefaults || found == groups.end() ||
        found == groups.begin()) {
        return;
    }
    // The same groups, the server's choice first: a TLS 1.3 client sends a key share for its
    // first group only, and a server that takes another one (vsftpd: P-256) answers with a
    // retry request, one more round trip and key generation for each data connection.
    std::rotate(groups.begin(), found, found + 1);
    if (SSL_set1_groups(ssl, groups.data(), static_cast<long>(groups.size())) != 1) {
        ERR_clear_error();
    }
}

void releaseThreadTlsState() {
    OPENSSL_thread_stop();
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
    std::vector<int> codes;
    const int index = problemsIndex();
    if (const auto* problems =
            index < 0 ? nullptr : static_cast<VerifyProblems*>(SSL_get_ex_data(ssl, index))) {
        codes = problems->codes;
    }
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK &&
        std::find(codes.begin(), codes.end(), static_cast<int>(verified)) == codes.end()) {
        codes.push_back(static_cast<int>(verified));
    }
    for (int code : codes) {
        if (!info.problem.empty()) {
            info.problem += "; ";
        }
        if (code == X509_V_ERR_CERT_HAS_EXPIRED) {
            info.problem += "the certificate has expired: it was valid until " + info.validUntil;
        } else if (code == X509_V_ERR_CERT_NOT_YET_VALID) {
            info.problem += "the certificate is not valid yet: it is valid from " + info.validFrom;
        } else {
            info.problem += X509_verify_cert_error_string(code);
        }
    }
    return info;
}

}  // namespace ftp
