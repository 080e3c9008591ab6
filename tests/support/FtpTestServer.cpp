#include "support/FtpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
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

std::string makeCertificate(const std::filesystem::path& certificate,
                            const std::filesystem::path& key, const std::string& name,
                            std::string& error) {
    const bool address = name.find_first_not_of("0123456789.:") == std::string::npos;
    const std::filesystem::path log = certificate.string() + ".log";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-keyout '" +
        key.string() + "' -out '" + certificate.string() + "' -subj '/CN=" + name +
        "' -addext 'subjectAltName=" + (address ? "IP:" : "DNS:") + name + "' >'" + log.string() +
        "' 2>&1";
    if (std::system(command.c_str()) != 0) {
        std::ifstream in(log);
        error = "openssl req failed: " + std::string(std::istreambuf_iterator<char>(in), {});
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

bool FtpTestServer::useTls(bool required) {
    certificateFile_ = work_.path() / "certificate.pem";
    keyFile_ = work_.path() / "key.pem";
    tlsRequired_ = required;
    std::string problem;
    fingerprint_ = makeCertificate(certificateFile_, keyFile_, host_, problem);
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
