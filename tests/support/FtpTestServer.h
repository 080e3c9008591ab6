#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace testsupport {

// A real FTP server on 127.0.0.1 serving a temporary folder, for the integration tests. The
// server and the folder go when the object goes.
class FtpTestServer {
  public:
    virtual ~FtpTestServer() = default;

    // Starts the server and waits until it accepts connections; false with error() otherwise.
    virtual bool start() = 0;
    virtual std::string name() const = 0;
    // Whether the server lists by MLSD (otherwise the client falls back to LIST).
    virtual bool offersMlsd() const = 0;

    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    // The folder the login lands in; files put here appear on the server.
    const std::filesystem::path& root() const { return root_; }
    // The login folder as the server names it: "/" when the server confines the session to
    // root(), root() itself when it does not (vsftpd started by an ordinary process).
    virtual std::string home() const = 0;
    // The server's name for root() / relative.
    std::string remote(const std::string& relative) const;
    // A login that works. An empty user logs in anonymously.
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    // A login the server refuses.
    virtual std::string rejectedUser() const = 0;
    virtual std::string rejectedPassword() const = 0;

    // Before start(): uploads are read at most this fast (bytes per second; 0: no limit), so that
    // a test can act while one is under way.
    void limitUploadRate(std::uint32_t bytesPerSecond) { uploadRate_ = bytesPerSecond; }
    // Before start(): at most this many sessions from one address (0: no limit); the server
    // refuses one more with a 421 and closes it, as shared hosting does.
    void limitSessionsPerAddress(int sessions) { sessionsPerAddress_ = sessions; }
    // Before start(): the server speaks explicit FTPS with a self-signed certificate for
    // 127.0.0.1 made for it (makeCertificate). `required`: it refuses logins and data
    // connections in clear text. `expired`: the certificate's validity ended in 2020.
    bool useTls(bool required = true, bool expired = false);
    bool tlsEnabled() const { return !certificateFile_.empty(); }
    // The certificate's SHA-256 fingerprint, "AB:CD:..."; its PEM file, fit for SSL_CERT_FILE.
    const std::string& certificateFingerprint() const { return fingerprint_; }
    const std::filesystem::path& certificateFile() const { return certificateFile_; }

    // The server's process (vsftpd serves each session in a child of it).
    pid_t pid() const { return process_.pid(); }
    // Kills the server and its sessions at once, as a crash would: nothing is cleaned up.
    void kill() { process_.kill(); }
    // After kill(): starts the server again on the same port, serving the same root.
    virtual bool restart() = 0;

    // Why start() failed, with what the server wrote.
    const std::string& error() const { return error_; }
    std::string serverLog() const;

  protected:
    FtpTestServer();
    void fail(const std::string& what);

    TempFolder work_{"kelvane-ftpd"};  // root, configuration and logs
    std::filesystem::path root_;
    std::filesystem::path logFile_;
    ChildProcess process_;
    std::string host_ = "127.0.0.1";
    std::uint16_t port_ = 0;
    std::string user_;
    std::string password_;
    std::string error_;
    std::uint32_t uploadRate_ = 0;
    int sessionsPerAddress_ = 0;
    std::filesystem::path certificateFile_;
    std::filesystem::path keyFile_;
    std::string fingerprint_;
    bool tlsRequired_ = false;
};

// Writes a self-signed certificate (EC P-256) and its key as PEM files with the openssl command:
// common name and subject alternative name `name` (an IP address or a DNS name), valid for a
// day (`expired`: from January to February 2020). Returns the certificate's SHA-256 fingerprint
// ("AB:CD:..."), or empty with `error` set.
std::string makeCertificate(const std::filesystem::path& certificate,
                            const std::filesystem::path& key, const std::string& name,
                            std::string& error, bool expired = false);

// Names the instances of a typed test after their server kind: "pyftpdlib", "vsftpd" ...
struct ServerKindNames {
    template <typename Server>
    static std::string GetName(int) {
        return Server::kName;
    }
};

// A port on 127.0.0.1 that nobody listens on right now (0 when none was found).
std::uint16_t freeLocalPort();
// The first of `count` consecutive free ports on 127.0.0.1, chosen below the range of ports the
// system hands out for outgoing connections, so that the client's own data connections do not
// take them (0 when none was found).
std::uint16_t freePortRange(int count);

// Waits until something accepts a TCP connection on 127.0.0.1:port.
bool waitForListener(std::uint16_t port, std::chrono::milliseconds limit);

}  // namespace testsupport
