// `kelvane-cli ls` as a script would run it, against both real servers.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/CliProcess.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/ConnectionsFile.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Result = testsupport::CliResult;
using testsupport::CliProcess;
using testsupport::lines;
using testsupport::PyFtpdDosServer;
using testsupport::PyFtpdListServer;
using testsupport::PyFtpdServer;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::VsftpdServer;
using testsupport::writeFile;

namespace {

std::string localStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// A settings folder with short limits and a connections file naming the server "site".
class CliLsSetup {
  public:
    CliLsSetup(const std::string& server, std::uint16_t port, const std::string& user,
               const std::string& password)
        : config_(temp_.path() / "config") {
        fs::create_directories(config_);
        writeFile(config_ / "Kelvane.conf", "CommandTimeout=dword:10\nMaxCommandRetries=dword:0\n");
        auto connection = std::make_shared<ConnectionDetails>();
        connection->name = "site";
        connection->server = server;
        connection->port = port;
        connection->user = user;
        connection->password = password;
        connection->passive = true;
        EXPECT_TRUE(saveConnections(config_ / "KelvaneConnections.txt", {connection}));
    }

    Result ls(const std::string& location, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--config-dir", config_.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("ls");
        args.push_back(location);
        CliProcess process(args, temp_.path());
        return process.finish();
    }

    const fs::path& folder() const { return temp_.path(); }
    const fs::path& config() const { return config_; }

  private:
    TempFolder temp_;
    fs::path config_;
};

template <typename Server>
class CliLsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.start()) << server_.error(); }
    std::unique_ptr<CliLsSetup> setup() const {
        return std::make_unique<CliLsSetup>(server_.host(), server_.port(), server_.user(),
                                            server_.password());
    }
    Server server_;
};

using Servers = ::testing::Types<PyFtpdServer, VsftpdServer, PyFtpdListServer, PyFtpdDosServer>;
TYPED_TEST_SUITE(CliLsTest, Servers, testsupport::ServerKindNames);

}  // namespace

TYPED_TEST(CliLsTest, PrintsOneLinePerEntrySortedByName) {
    const fs::path site = this->server_.root() / "web site";
    fs::create_directories(site / "img");
    writeFile(site / "index.html", std::string(1234, 'i'));
    writeFile(site / "with  two spaces.txt", "");
    writeFile(site / "Zeta.css", "z");
    // A recent time on a whole minute: LIST shows minutes, MLSD seconds; both give this.
    const std::time_t when = (std::time(nullptr) - 5 * 3600) / 60 * 60;
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (site / "index.html").c_str(), times, 0), 0);

    auto setup = this->setup();
    const Result result = setup->ls("FTP:site" + this->server_.remote("web site"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const auto rows = lines(result.out);
    ASSERT_EQ(rows.size(), 4u) << result.out;
    EXPECT_EQ(rows[0].substr(0, 2), "d ");
    EXPECT_EQ(rows[0].substr(rows[0].size() - 4), " img");
    EXPECT_EQ(rows[1], "- 1234 " + localStamp(when) + " index.html");
    EXPECT_EQ(rows[2].substr(0, 4), "- 0 ");
    // The name comes last and unchanged, spaces and all.
    EXPECT_EQ(rows[2].substr(rows[2].size() - 21), " with  two spaces.txt");
    EXPECT_EQ(rows[3].substr(0, 4), "- 1 ");
    EXPECT_EQ(rows[3].substr(rows[3].size() - 9), " Zeta.css");

    // The top of the tree, and a trailing "/", work too.
    const Result top = setup->ls("FTP:site" + this->server_.remote(""));
    EXPECT_EQ(top.status, 0) << top.err;
    EXPECT_NE(top.out.find(" web site\n"), std::string::npos) << top.out;
    const Result slash = setup->ls("FTP:site" + this->server_.remote("web site/"));
    EXPECT_EQ(slash.out, result.out);
}

TYPED_TEST(CliLsTest, FailuresSayWhyAndExitWithTwo) {
    auto setup = this->setup();
    const Result missing = setup->ls("FTP:site" + this->server_.remote("no such folder"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("550"), std::string::npos) << missing.err;

    const Result unknown = setup->ls("FTP:other/");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("\"other\""), std::string::npos) << unknown.err;

    const Result notFtp = setup->ls("site/");
    EXPECT_EQ(notFtp.status, 2);
    EXPECT_NE(notFtp.err.find("FTP:NAME/PATH"), std::string::npos) << notFtp.err;

    CliLsSetup refused(this->server_.host(), this->server_.port(), this->server_.rejectedUser(),
                       this->server_.rejectedPassword());
    const Result login = refused.ls("FTP:site/");
    EXPECT_EQ(login.status, 2);
    EXPECT_EQ(login.err.rfind("Failed to connect to FTP server\n530", 0), 0u) << login.err;
    EXPECT_EQ(login.err.find(this->server_.rejectedPassword()), std::string::npos);
}

TEST(CliLs, CtrlCWhileTheServerHangsExitsWith130) {
    // Accepts the connection and never greets.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    CliLsSetup setup("127.0.0.1", ntohs(address.sin_port), "user", "secret");
    writeFile(setup.config() / "Kelvane.conf", "CommandTimeout=dword:60\n");
    CliProcess process({"--config-dir", setup.config().string(), "ls", "FTP:site/"},
                       setup.folder());
    ASSERT_TRUE(process.started());
    // A connection waiting on the listener means the program is inside the login, with its
    // signal handling in place.
    pollfd pending{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&pending, 1, 20000), 1);
    const auto start = std::chrono::steady_clock::now();
    process.signal(SIGINT);
    const Result result = process.finish(20s);
    EXPECT_EQ(result.status, 130) << result.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(result.out, "");
    ::close(listener);
}
