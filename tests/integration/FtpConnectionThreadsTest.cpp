// Time limits, aborts from another thread and the serialisation of exchanges: what keeps an
// abandoned worker from hanging or from mixing its replies with the next command's.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/PyFtpdServer.h"
#include "transfer/ftp/FtpConnection.h"
#include "transfer/ftp/Socket.h"

using namespace std::chrono_literals;
using ftp::FtpConnection;
using ftp::FtpError;

namespace {

// A port that completes the TCP handshake (the kernel does that for the backlog) and then says
// nothing: a server that hangs before its welcome.
class SilentServer {
  public:
    SilentServer() { listening_ = socket_.listen("127.0.0.1"); }
    bool listening() const { return listening_; }
    std::uint16_t port() const { return socket_.localEndpoint().port; }

  private:
    ftp::Socket socket_;
    bool listening_ = false;
};

TEST(FtpConnectionThreadsTest, ASilentServerTimesOutWithinTheLimit) {
    SilentServer silent;
    ASSERT_TRUE(silent.listening());
    FtpConnection connection;
    const auto start = std::chrono::steady_clock::now();
    ftp::FtpResult result =
        connection.connect("127.0.0.1", silent.port(), "user", "pw", true, {2s, 300ms});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.error, FtpError::TimedOut);
    EXPECT_EQ(result.text, "Timed out");
    EXPECT_FALSE(connection.isConnected());
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
}

TEST(FtpConnectionThreadsTest, AbortFromAnotherThreadEndsAWaitAtOnce) {
    SilentServer silent;
    ASSERT_TRUE(silent.listening());
    auto connection = std::make_shared<FtpConnection>();
    auto pending = std::async(std::launch::async, [connection, port = silent.port()] {
        return connection->connect("127.0.0.1", port, "user", "pw", true, {30s, 30s});
    });
    std::this_thread::sleep_for(200ms);  // let the worker reach its wait for the welcome
    const auto start = std::chrono::steady_clock::now();
    connection->abort();
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    ftp::FtpResult result = pending.get();
    EXPECT_EQ(result.error, FtpError::ConnectionLost);
    EXPECT_FALSE(connection->isConnected());
}

TEST(FtpConnectionThreadsTest, AnAbortThatComesBeforeTheConnectStillStopsIt) {
    SilentServer silent;
    ASSERT_TRUE(silent.listening());
    FtpConnection connection;
    connection.abort();
    const auto start = std::chrono::steady_clock::now();
    ftp::FtpResult result =
        connection.connect("127.0.0.1", silent.port(), "user", "pw", true, {30s, 30s});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(result.error, FtpError::ConnectionLost);
    EXPECT_EQ(connection.commandCount(), 0u);
}

TEST(FtpConnectionThreadsTest, ConnectingToAClosedPortFailsWithTheSystemsReason) {
    std::uint16_t port = 0;
    {
        ftp::Socket probe;
        ASSERT_TRUE(probe.listen("127.0.0.1"));
        port = probe.localEndpoint().port;
    }  // closed again: nothing listens there now
    FtpConnection connection;
    ftp::FtpResult result = connection.connect("127.0.0.1", port, "", "", true, {2s, 2s});
    EXPECT_EQ(result.error, FtpError::ConnectionLost);
    EXPECT_NE(result.text.find("Connection refused"), std::string::npos) << result.text;
}

TEST(FtpConnectionThreadsTest, ExchangesFromSeveralThreadsNeverMixTheirReplies) {
    testsupport::PyFtpdServer server;
    ASSERT_TRUE(server.start()) << server.error();
    std::filesystem::create_directories(server.root() / "a");
    std::filesystem::create_directories(server.root() / "b");
    auto connection = std::make_shared<FtpConnection>();
    ASSERT_TRUE(connection->connect(server.host(), server.port(), server.user(), server.password(),
                                    true, {10s, 20s}));
    const auto before = connection->commandCount();

    // Each thread asks questions whose answers it can check; a reply taken by the wrong
    // thread shows as a wrong answer.
    constexpr int kRounds = 60;
    std::atomic<int> wrong{0};
    auto worker = [&](const std::string& folder) {
        for (int i = 0; i < kRounds; ++i) {
            ftp::PathKind kind = ftp::PathKind::Missing;
            if (!connection->exists("/" + folder, kind) || kind != ftp::PathKind::Directory) {
                ++wrong;
            }
            std::vector<ftp::ListingEntry> entries;
            if (!connection->list("/" + folder, entries) || !entries.empty()) {
                ++wrong;
            }
            if (!connection->noop()) {
                ++wrong;
            }
        }
    };
    std::thread first(worker, "a");
    std::thread second(worker, "b");
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
    // MLST, EPSV, MLSD and NOOP per round and thread: no command more than needed.
    EXPECT_EQ(connection->commandCount() - before, 2u * kRounds * 4);
    EXPECT_TRUE(connection->isConnected());
}

}  // namespace
