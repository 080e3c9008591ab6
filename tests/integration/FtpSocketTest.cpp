// The socket under the FTP client, over real loopback connections of both address families.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "transfer/ftp/Socket.h"

using namespace std::chrono_literals;
using ftp::Socket;

namespace {

// A listener on `host` and a connected pair, or nothing when the family is not available.
struct Pair {
    Socket listener;
    Socket client;
    std::unique_ptr<Socket> server;
};

bool connectPair(Pair& pair, const std::string& host) {
    if (!pair.listener.listen(host)) {
        return false;
    }
    const ftp::Endpoint where = pair.listener.localEndpoint();
    if (!pair.client.connect(host, where.port, 2s)) {
        return false;
    }
    pair.server = pair.listener.accept(2s);
    return pair.server != nullptr;
}

class FtpSocketTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FtpSocketTest, CarriesLargeWritesWhole) {
    Pair pair;
    if (!connectPair(pair, GetParam())) {
        GTEST_SKIP() << GetParam() << " not available: " << pair.listener.lastError();
    }
    const ftp::Endpoint local = pair.client.localEndpoint();
    const ftp::Endpoint peer = pair.client.peerEndpoint();
    EXPECT_EQ(peer.host, GetParam());
    EXPECT_EQ(peer.port, pair.listener.localEndpoint().port);
    EXPECT_EQ(local.ipv6, GetParam().find(':') != std::string::npos);
    EXPECT_EQ(pair.server->peerEndpoint().port, local.port);

    // Far more than the socket buffers hold: the write has to wait for the reader many times.
    std::string data(8 * 1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 + i / 4096);
    }
    auto writer = std::async(std::launch::async, [&] {
        bool ok = pair.client.writeAll(data, 5s);
        pair.client.finishSending();
        return ok;
    });
    std::string received;
    char buffer[65536];
    for (int reads = 0; reads < 100000; ++reads) {
        long count = pair.server->readSome(buffer, sizeof buffer, 5s);
        ASSERT_GE(count, 0) << pair.server->lastError();
        if (count == 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(count));
    }
    EXPECT_TRUE(writer.get());
    EXPECT_TRUE(received == data) << received.size() << " of " << data.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, FtpSocketTest, ::testing::Values("127.0.0.1", "::1"),
                         [](const auto& info) { return info.index == 0 ? "IPv4" : "IPv6"; });

TEST(FtpSocketLimitsTest, AReadWithNothingToReadEndsAtItsLimit) {
    Pair pair;
    ASSERT_TRUE(connectPair(pair, "127.0.0.1"));
    char buffer[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pair.client.readSome(buffer, sizeof buffer, 200ms), -1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(pair.client.timedOut());
    EXPECT_EQ(pair.client.lastError(), "Timed out");
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 2s);

    // Never a fraction of a millisecond early: a command limit of one second that ended at
    // 999.7 ms would be a time-out the user never allowed.
    for (int i = 0; i < 10; ++i) {
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(pair.client.readSome(buffer, sizeof buffer, 20ms), -1);
        EXPECT_GE(std::chrono::steady_clock::now() - before, 20ms) << "read " << i;
    }
}

TEST(FtpSocketLimitsTest, ShutdownFromAnotherThreadWakesReadsAndAccepts) {
    Pair pair;
    ASSERT_TRUE(connectPair(pair, "127.0.0.1"));
    auto reading = std::async(std::launch::async, [&] {
        char buffer[16];
        return pair.client.readSome(buffer, sizeof buffer, 30s);
    });
    auto accepting = std::async(std::launch::async, [&] { return pair.listener.accept(30s); });
    std::this_thread::sleep_for(100ms);
    pair.client.shutdown();
    pair.listener.shutdown();
    ASSERT_EQ(reading.wait_for(2s), std::future_status::ready);
    ASSERT_EQ(accepting.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(reading.get(), -1);
    EXPECT_EQ(accepting.get(), nullptr);
    EXPECT_FALSE(pair.client.timedOut());
    // Once shut down, a socket refuses all further work at once.
    EXPECT_FALSE(pair.client.writeAll("x", 30s));
    EXPECT_FALSE(pair.client.connect("127.0.0.1", pair.listener.localEndpoint().port, 30s));
}

}  // namespace
