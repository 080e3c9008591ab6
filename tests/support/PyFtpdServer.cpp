#include "support/PyFtpdServer.h"

#include <charconv>

namespace testsupport {

namespace {

constexpr int kPassivePorts = 40;

}  // namespace

PyFtpdServer::PyFtpdServer(Options options) : options_(std::move(options)) {
    user_ = "kelvane";
    password_ = "s3cret pass";
}

std::string PyFtpdServer::name() const {
    switch (options_.listing) {
        case Listing::List:
            return PyFtpdListServer::kName;
        case Listing::Dos:
            return PyFtpdDosServer::kName;
        case Listing::Mlsd:
            break;
    }
    return kName;
}

bool PyFtpdServer::start() {
    const std::uint16_t passive = freePortRange(kPassivePorts);
    if (passive == 0) {
        fail("no free range of passive ports");
        return false;
    }
    std::vector<std::string> argv = {
        "/usr/bin/python3",
        std::string(KELVANE_TEST_SUPPORT_DIR) + "/pyftpd_server.py",
        "--root",
        root_.string(),
        "--user",
        user_,
        "--password",
        password_,
        "--passive-ports",
        std::to_string(passive) + "-" + std::to_string(passive + kPassivePorts - 1)};
    if (!options_.epsv) {
        argv.push_back("--no-epsv");
    }
    if (!options_.eprt) {
        argv.push_back("--no-eprt");
    }
    if (!options_.masqueradeAddress.empty()) {
        argv.push_back("--masquerade");
        argv.push_back(options_.masqueradeAddress);
    }
    if (options_.failedStores > 0) {
        argv.push_back("--fail-stores");
        argv.push_back(std::to_string(options_.failedStores));
    }
    if (port_ != 0) {
        argv.push_back("--port");  // a restart
        argv.push_back(std::to_string(port_));
    }
    const std::uint32_t rate = uploadRate_ != 0 ? uploadRate_ : options_.uploadBytesPerSecond;
    if (rate != 0) {
        argv.push_back("--max-upload-rate");
        argv.push_back(std::to_string(rate));
    }
    if (sessionsPerAddress_ != 0) {
        argv.push_back("--max-cons-per-ip");
        argv.push_back(std::to_string(sessionsPerAddress_));
    }
    if (options_.listing != Listing::Mlsd) {
        argv.push_back("--listing");
        argv.push_back(options_.listing == Listing::List ? "list" : "dos");
    }
    if (tlsEnabled()) {
        argv.insert(argv.end(),
                    {"--tls-cert", certificateFile_.string(), "--tls-key", keyFile_.string()});
        if (tlsRequired_) {
            argv.push_back("--tls-required");
        }
    }
    if (!process_.start(argv, logFile_, true)) {
        fail(process_.error());
        return false;
    }
    // Python starts slowly on a busy machine; the server says its port once it listens.
    std::optional<std::string> line = process_.readLine(std::chrono::seconds(20));
    int port = 0;
    if (line) {
        std::from_chars(line->data(), line->data() + line->size(), port);
    }
    if (port <= 0 || port > 65535) {
        fail("the server did not report its port");
        return false;
    }
    port_ = static_cast<std::uint16_t>(port);
    return true;
}

bool PyFtpdServer::restart() {
    process_.kill();
    return start();
}

}  // namespace testsupport
