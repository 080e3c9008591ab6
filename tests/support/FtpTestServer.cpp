#include "support/FtpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace testsupport {

namespace {

// Binds 127.0.0.1:port (0: any) and returns the port bound, 0 on failure.
std::uint16_t tryBind(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::uint16_t bound = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        bound = ntohs(address.sin_port);
    }
    ::close(fd);
    return bound;
}

}  // namespace

FtpTestServer::FtpTestServer()
    : root_(work_.path() / "root"), logFile_(work_.path() / "server.log") {
    std::filesystem::create_directories(root_);
}

void FtpTestServer::fail(const std::string& what) {
    error_ = name() + ": " + what;
    std::string log = serverLog();
    if (!log.empty()) {
        error_ += "\n--- server output ---\n" + log;
    }
    process_.stop();
}

namespace {

bool runLogged(const std::string& command, const std::filesystem::path& log, std::string& error) {
    if (std::system((command + " >>'" + log.string() + "' 2>&1").c_str()) == 0) {
        return true;
    }
    std::ifstream in(log);
    error = "openssl failed: " + std::string(std::istreambuf_iterator<char>(in), {});
    return false;
}

// `openssl req -x509` only dates a certificate from now on; `openssl ca` takes any start and
// end date, so a self-signed certificate that expired long ago comes from a throw-away CA
// folder beside it, signed with its own key.
bool makeExpiredCertificate(const std::filesystem::path& certificate,
                            const std::filesystem::path& key, const std::string& name,
                            const std::string& altName, const std::filesystem::path& log,
                            std::string& error) {
    const std::filesystem::path folder = certificate.string() + ".ca";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder / "issued");
    std::ofstream(folder / "index.txt").close();
    std::ofstream(folder / "serial") << "01\n";
    {
        std::ofstream conf(folder / "ca.cnf");
        conf << "[ca]\ndefault_ca = self\n";
        conf << "[self]\n";
        conf << "database = " << (folder / "index.txt").string() << "\n";
        conf << "new_certs_dir = " << (folder / "issued").string() << "\n";
        conf << "serial = " << (folder / "serial").string() << "\n";
        conf << "default_md = sha256\npolicy = any_name\nunique_subject = no\n";
        conf << "x509_extensions = leaf\n";
        conf << "[any_name]\ncommonName = supplied\n";
        conf << "[leaf]\nbasicConstraints = CA:FALSE\nsubjectAltName = " << altName << "\n";
    }
    const std::filesystem::path request = folder / "request.csr";
    return runLogged(
               "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
               "-keyout '" +
                   key.string() + "' -out '" + request.string() + "' -subj '/CN=" + name + "'",
               log, error) &&
           runLogged("openssl ca -batch -notext -selfsign -config '" +
                         (folder / "ca.cnf").string() + "' -keyfile '" + key.string() + "' -in '" +
                         request.string() + "' -out '" + certificate.string() +
                         "' -startdate 20200101000000Z -enddate 20200201000000Z",
                     log, error);
}

}  // namespace

std::string makeCertificate(const std::filesystem::path& certificate,
                            const std::filesystem::path& key, const std::string& name,
                            std::string& error, bool expired) {
    const bool address = name.find_first_not_of("0123456789.:") == std::string::npos;
    const std::string altName = (address ? "IP:" : "DNS:") + name;
    const std::filesystem::path log = certificate.string() + ".log";
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    const bool made =
        expired ? makeExpiredCertificate(certificate, key, name, altName, log, error)
                : runLogged(
                      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                      "-nodes -days 1 -keyout '" +
                          key.string() + "' -out '" + certificate.string() +
                          "' -subj '/CN=" + name + "' -addext 'subjectAltName=" + altName + "'",
                      log, error);
    if (!made) {
        return {};
    }
    std::FILE* file = std::fopen(certificate.c_str(), "r");
    if (!file) {
        error = "no certificate written";
        return {};
    }
    X509* read = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool digested = read && X509_digest(read, EVP_sha256(), digest, &length) == 1;
    X509_free(read);
    if (!digested) {
        error = "the certificate cannot be read";
        return {};
    }
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += pair;
    }
    return text;
}

bool FtpTestServer::useTls(bool required, bool expired) {
    certificateFile_ = work_.path() / "certificate.pem";
    keyFile_ = work_.path() / "key.pem";
    tlsRequired_ = required;
    std::string problem;
    fingerprint_ = makeCertificate(certificateFile_, keyFile_, host_, problem, expired);
    if (fingerprint_.empty()) {
        error_ = problem;
        certificateFile_.clear();
        return false;
    }
    return true;
}

std::string FtpTestServer::serverLog() const {
    std::ifstream in(logFile_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FtpTestServer::remote(const std::string& relative) const {
    const std::string base = home();
    return base.back() == '/' ? base + relative : base + "/" + relative;
}

std::uint16_t freeLocalPort() {
    return tryBind(0);
}

std::uint16_t freePortRange(int count) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> base(20000, 32000 - count);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int first = base(random);
        bool free = true;
        for (int port = first; port < first + count && free; ++port) {
            free = tryBind(static_cast<std::uint16_t>(port)) != 0;
        }
        if (free) {
            return static_cast<std::uint16_t>(first);
        }
    }
    return 0;
}

bool waitForListener(std::uint16_t port, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace testsupport
