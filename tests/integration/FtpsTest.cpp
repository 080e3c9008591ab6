// FTP over TLS against real servers on 127.0.0.1 with a self-signed certificate made for the
// test: pyftpdlib's TLS handler and vsftpd with encrypted logins and data connections forced and
// session reuse required. The certificate cases as a user meets them, a whole run, and uploads
// cut short by Stop or by a data connection that breaks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "profiles/Profile.h"
#include "support/CliProcess.h"
#include "support/CommandGlobals.h"
#include "support/PyFtpdServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"
#include "transfer/TimedCommand.h"
#include "transfer/ftp/FtpConnection.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::CliProcess;
using testsupport::CliResult;
using testsupport::PyFtpdServer;
using testsupport::randomBytes;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::VsftpdServer;
using testsupport::writeFile;

namespace {

constexpr const char* kOtherFingerprint =
    "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:"
    "EE:FF";

std::map<std::string, std::string> tree(const fs::path& top) {
    return testsupport::treeOf(top);
}

void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    writeFile(path, bytes);
}

// Stop pressed once the upload is under way.
class StopAfterFirstChunk final : public RetryDisplay {
  public:
    void updateProgress() override {
        if (bytesDone.load() > 0) {
            requestStop();
        }
    }
};

// Breaks the data connection of an upload under way, as a network would, and leaves the control
// connection alone: every socket of this process whose peer is the server but not on its
// control port is shut down.
class BreakDataConnection final : public RetryDisplay {
  public:
    explicit BreakDataConnection(std::uint16_t controlPort) : controlPort_(controlPort) {}
    void updateProgress() override {
        if (bytesDone.load() == 0 || broken_) {
            return;
        }
        DIR* folder = ::opendir("/proc/self/fd");
        if (!folder) {
            return;
        }
        while (const dirent* entry = ::readdir(folder)) {
            const int fd = std::atoi(entry->d_name);
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            if (fd <= 2 || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
                peer.sin_family != AF_INET || peer.sin_addr.s_addr != htonl(INADDR_LOOPBACK) ||
                ntohs(peer.sin_port) == controlPort_) {
                continue;
            }
            ::shutdown(fd, SHUT_RDWR);
            broken_ = true;
        }
        ::closedir(folder);
    }
    bool broken() const { return broken_; }

  private:
    std::uint16_t controlPort_;
    bool broken_ = false;  // the upload worker is the only caller
};

template <typename Server>
class FtpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        globals_.takeOver(10, 0, &prompter_);
        ASSERT_TRUE(server_.useTls()) << server_.error();
        ASSERT_TRUE(server_.start()) << server_.error();
        config_ = temp_.path() / "config";
        fs::create_directories(config_);
        put(config_ / "Kelvane.conf", "CommandTimeout=dword:10\nMaxCommandRetries=dword:0\n");
    }
    void TearDown() override {
        setRetryDisplay(nullptr);
        globals_.giveBack();
    }

    std::shared_ptr<ConnectionDetails> details(const std::string& pin) const {
        auto connection = std::make_shared<ConnectionDetails>();
        connection->name = "site";
        connection->server = server_.host();
        connection->port = server_.port();
        connection->user = server_.user();
        connection->password = server_.password();
        connection->passive = true;
        connection->tlsMode = ftp::TlsMode::Required;
        connection->tlsFingerprint = pin;
        return connection;
    }
    std::shared_ptr<ConnectionDetails> connected() {
        auto connection = details(server_.certificateFingerprint());
        EXPECT_TRUE(connection->connectFtp()) << lastErrorText() << "\n" << server_.serverLog();
        return connection;
    }
    fs::path connectionsFile() const { return config_ / "KelvaneConnections.txt"; }
    CliResult cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--config-dir", config_.string()});
        CliProcess process(args, temp_.path());
        return process.finish();
    }

    Server server_;
    TempFolder temp_;
    fs::path config_;
    testsupport::RecordingPrompter prompter_;

  private:
    testsupport::CommandGlobals globals_;
};

using Servers = ::testing::Types<PyFtpdServer, VsftpdServer>;
TYPED_TEST_SUITE(FtpsTest, Servers, testsupport::ServerKindNames);

}  // namespace

TYPED_TEST(FtpsTest, EachCertificateCaseMeetsTheUserWithItsFingerprint) {
    const std::string fingerprint = this->server_.certificateFingerprint();

    // Self-signed and not pinned: refused, naming the fingerprint to compare.
    auto unpinned = this->details("");
    EXPECT_FALSE(unpinned->connectFtp());
    EXPECT_FALSE(unpinned->isConnected());
    EXPECT_THAT(lastErrorText(), HasSubstr("The server's certificate is not trusted"));
    EXPECT_THAT(lastErrorText(), HasSubstr(fingerprint));
    EXPECT_TRUE(unpinned->certificateRefused());
    EXPECT_EQ(unpinned->lastCertificate.fingerprint, fingerprint);
    EXPECT_THAT(unpinned->lastCertificate.subject, HasSubstr("CN=127.0.0.1"));
    EXPECT_FALSE(unpinned->lastCertificate.problem.empty());
    EXPECT_FALSE(unpinned->lastCertificate.validUntil.empty());

    // Pinned, in any spelling of the same digits: in, with the data connections encrypted.
    std::string spelled;
    for (char c : fingerprint) {
        if (c != ':') {
            spelled += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    auto pinned = this->details(spelled);
    ASSERT_TRUE(pinned->connectFtp()) << lastErrorText() << "\n" << this->server_.serverLog();
    EXPECT_TRUE(pinned->ftp->encrypted());
    EXPECT_TRUE(pinned->ftp->dataProtected());
    std::vector<FileEntryPtr> entries;
    EXPECT_TRUE(pinned->listDirectory(entries, true)) << lastErrorText();
    pinned->disconnectFtp();

    // A pin that no longer matches fails loudly, with both fingerprints.
    auto changed = this->details(kOtherFingerprint);
    EXPECT_FALSE(changed->connectFtp());
    EXPECT_THAT(lastErrorText(), HasSubstr("has changed since it was trusted"));
    EXPECT_THAT(lastErrorText(), HasSubstr(fingerprint));
    EXPECT_THAT(lastErrorText(), HasSubstr(kOtherFingerprint));

    // The system's trust store vouching for it (here: the certificate as its own anchor): in
    // without a pin for the name it carries, refused for another name of the same server.
    ASSERT_EQ(::setenv("SSL_CERT_FILE", this->server_.certificateFile().c_str(), 1), 0);
    auto trusted = this->details("");
    EXPECT_TRUE(trusted->connectFtp()) << lastErrorText();
    trusted->disconnectFtp();
    auto otherName = this->details("");
    otherName->server = "localhost";
    EXPECT_FALSE(otherName->connectFtp());
    EXPECT_THAT(lastErrorText(), HasSubstr("mismatch")) << lastErrorText();
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_TRUE(this->prompter_.messages.empty());
}

TYPED_TEST(FtpsTest, AnExpiredCertificateIsCalledExpiredUntilTheUserTrustsIt) {
    TypeParam expired;
    ASSERT_TRUE(expired.useTls(true, true)) << expired.error();
    ASSERT_TRUE(expired.start()) << expired.error();
    const std::string fingerprint = expired.certificateFingerprint();
    auto connection = this->details("");
    connection->port = expired.port();
    connection->user = expired.user();
    connection->password = expired.password();

    // Self-signed and out of date: both are said, with the date and the fingerprint.
    EXPECT_FALSE(connection->connectFtp());
    EXPECT_FALSE(connection->isConnected());
    EXPECT_TRUE(connection->certificateRefused());
    EXPECT_THAT(lastErrorText(), HasSubstr("The server's certificate is not trusted"));
    EXPECT_THAT(lastErrorText(), HasSubstr("the certificate has expired"));
    EXPECT_THAT(lastErrorText(), HasSubstr("valid until Feb  1 00:00:00 2020 GMT"));
    EXPECT_THAT(lastErrorText(), HasSubstr("self-signed"));
    EXPECT_THAT(lastErrorText(), HasSubstr(fingerprint));
    EXPECT_EQ(connection->lastCertificate.fingerprint, fingerprint);
    EXPECT_THAT(connection->lastCertificate.validUntil, HasSubstr("2020"));

    // The system's trust store vouching for it does not make it current: expiry alone refuses.
    ASSERT_EQ(::setenv("SSL_CERT_FILE", expired.certificateFile().c_str(), 1), 0);
    EXPECT_FALSE(connection->connectFtp());
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_THAT(lastErrorText(), HasSubstr("the certificate has expired"));
    EXPECT_THAT(lastErrorText(), Not(HasSubstr("self-signed")));
    EXPECT_THAT(lastErrorText(), HasSubstr(fingerprint));

    // The user has decided to trust it: pinned, it is in, and files travel encrypted.
    connection->tlsFingerprint = fingerprint;
    ASSERT_TRUE(connection->connectFtp()) << lastErrorText() << "\n" << expired.serverLog();
    EXPECT_TRUE(connection->ftp->dataProtected());
    TempFolder local;
    const std::string content = randomBytes(200 * 1024 + 3, 11);
    writeFile(local.path() / "page.html", content);
    ASSERT_TRUE(
        connection->uploadFile((local.path() / "page.html").string(), expired.remote("page.html")))
        << lastErrorText() << "\n"
        << expired.serverLog();
    EXPECT_EQ(readFile(expired.root() / "page.html"), content);
    connection->disconnectFtp();
    EXPECT_TRUE(this->prompter_.messages.empty());
}

TYPED_TEST(FtpsTest, RequiredNeverSendsTheLoginToAServerWithoutTls) {
    // The same kind of server, without TLS.
    TypeParam plain;
    ASSERT_TRUE(plain.start()) << plain.error();
    auto connection = this->details("");
    connection->port = plain.port();
    EXPECT_FALSE(connection->connectFtp());
    EXPECT_THAT(lastErrorText(), HasSubstr("The server does not offer encryption"));
    EXPECT_THAT(lastErrorText(), HasSubstr("not even the user name"));
    EXPECT_EQ(connection->lastConnectError, ftp::FtpError::Security);
    EXPECT_THAT(plain.serverLog(), Not(HasSubstr("\"USER")));
    EXPECT_THAT(plain.serverLog(), Not(HasSubstr("logged in")));

    // "When the server offers it" goes on in clear text there, and uses TLS where it can.
    connection->tlsMode = ftp::TlsMode::Offered;
    ASSERT_TRUE(connection->connectFtp()) << lastErrorText();
    EXPECT_FALSE(connection->ftp->encrypted());
    connection->disconnectFtp();
    connection->port = this->server_.port();
    connection->tlsFingerprint = this->server_.certificateFingerprint();
    ASSERT_TRUE(connection->connectFtp()) << lastErrorText();
    EXPECT_TRUE(connection->ftp->encrypted());
    // Offered never means "any certificate": an untrusted one is refused as with required.
    connection->disconnectFtp();
    connection->tlsFingerprint.clear();
    EXPECT_FALSE(connection->connectFtp());
    EXPECT_TRUE(connection->certificateRefused());
}

TYPED_TEST(FtpsTest, UploadsByteForByteAndLeavesNothingPartialWhenCutShort) {
    TempFolder local;
    const std::string content = randomBytes(3 * 1024 * 1024 + 7, 5);
    writeFile(local.path() / "page.bin", content);
    writeFile(local.path() / "empty.txt", "");
    auto connection = this->connected();
    ASSERT_TRUE(connection->isConnected());
    ASSERT_TRUE(connection->uploadFile((local.path() / "page.bin").string(),
                                       this->server_.remote("page.bin")))
        << lastErrorText() << "\n"
        << this->server_.serverLog();
    EXPECT_EQ(readFile(this->server_.root() / "page.bin"), content);
    ASSERT_TRUE(connection->uploadFile((local.path() / "empty.txt").string(),
                                       this->server_.remote("empty.txt")))
        << lastErrorText();
    EXPECT_EQ(fs::file_size(this->server_.root() / "empty.txt"), 0u);

    // Stop during a TLS upload.
    bytesDone = 0;
    StopAfterFirstChunk stopper;
    setRetryDisplay(&stopper);
    EXPECT_FALSE(connection->uploadFile((local.path() / "page.bin").string(),
                                        this->server_.remote("stopped.bin")));
    setRetryDisplay(nullptr);
    ASSERT_TRUE(waitForCommandWorkers(10s));
    EXPECT_FALSE(fs::exists(this->server_.root() / "stopped.bin")) << this->server_.serverLog();
    stopRequested = false;

    // The data connection breaks mid-upload; the control connection lives on.
    if (!connection->isConnected()) {
        ASSERT_TRUE(connection->connectFtp()) << lastErrorText();
    }
    // That attempt fails; a server that closes the session over it (vsftpd) gets the one more
    // attempt after a new login that a dropped connection gets. Never a partial file.
    bytesDone = 0;
    BreakDataConnection breaker(this->server_.port());
    setRetryDisplay(&breaker);
    const bool uploaded = connection->uploadFile((local.path() / "page.bin").string(),
                                                 this->server_.remote("broken.bin"));
    setRetryDisplay(nullptr);
    ASSERT_TRUE(waitForCommandWorkers(10s));
    EXPECT_TRUE(breaker.broken());
    if (uploaded) {
        EXPECT_EQ(readFile(this->server_.root() / "broken.bin"), content);
    } else {
        EXPECT_FALSE(fs::exists(this->server_.root() / "broken.bin")) << this->server_.serverLog();
    }
    EXPECT_EQ(readFile(this->server_.root() / "page.bin"), content);
}

TYPED_TEST(FtpsTest, TheCommandLineTrustsRunsAndRefusesAsTheUserSays) {
    auto connection = this->details("");
    ASSERT_TRUE(saveConnections(this->connectionsFile(), {connection}));
    const std::string fingerprint = this->server_.certificateFingerprint();
    const std::string location = "FTP:site" + this->server_.remote("");

    // Refused: exit 2 with the fingerprint; a wrong one for the call is refused too.
    const CliResult refused = this->cli({"ls", location});
    EXPECT_EQ(refused.status, 2) << refused.out << refused.err;
    EXPECT_THAT(refused.err, HasSubstr(fingerprint));
    const CliResult wrong = this->cli({"ls", location, "--tls-fingerprint", kOtherFingerprint});
    EXPECT_EQ(wrong.status, 2) << wrong.err;
    const CliResult bad = this->cli({"ls", location, "--tls-fingerprint", "12:34"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, HasSubstr("64 hex digits"));

    // The right one for one call, and for that call only.
    put(this->server_.root() / "index.html", "home");
    const CliResult once = this->cli({"ls", location, "--tls-fingerprint", fingerprint});
    EXPECT_EQ(once.status, 0) << once.err;
    EXPECT_THAT(once.out, HasSubstr("index.html"));
    EXPECT_EQ(this->cli({"ls", location}).status, 2);

    // Trusted for good: shown, pinned beside the connections file, then a whole run.
    const CliResult trust = this->cli({"connections", "trust", "site"});
    EXPECT_EQ(trust.status, 0) << trust.out << trust.err;
    EXPECT_THAT(trust.out, HasSubstr("SHA-256:      " + fingerprint));
    EXPECT_THAT(trust.out, HasSubstr("Subject:      CN=127.0.0.1"));
    EXPECT_THAT(readFile(tlsSettingsPath(this->connectionsFile())),
                HasSubstr("TlsFingerprint=" + fingerprint));
    const CliResult listed = this->cli({"connections"});
    EXPECT_THAT(listed.out, HasSubstr("required (certificate trusted)")) << listed.out;

    const fs::path site = this->temp_.path() / "site";
    put(site / "index.html", "<html>new home</html>");
    put(site / "css" / "style.css", "body { margin: 0 }");
    put(site / "img" / "big.bin", randomBytes(700 * 1024, 9));
    fs::create_directories(this->server_.root() / "www");
    Profile profile;
    profile.location1 = site.string();
    profile.location2 = location + "www/";
    profile.add_files = true;
    profile.delete_files = true;
    profile.check_sub_folders = true;
    profile.auto_start = 1;
    const fs::path file = this->temp_.path() / "site.kvp";
    ASSERT_TRUE(profile.saveToFile(file));
    const CliResult run = this->cli({"run", file.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err << this->server_.serverLog();
    EXPECT_EQ(tree(this->server_.root() / "www"), tree(site));
    const CliResult again = this->cli({"run", file.string()});
    EXPECT_EQ(again.status, 0) << again.out << again.err << this->server_.serverLog();
    EXPECT_THAT(again.out, HasSubstr("Added files:       0")) << again.out;
}
