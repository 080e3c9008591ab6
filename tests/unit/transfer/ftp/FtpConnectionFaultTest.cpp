// The FTP client against the in-process fault-injecting server: the exact commands it sends, and
// what it reports when the server answers with errors, falls silent or drops a connection.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/FaultFtpServer.h"
#include "support/TempFolder.h"
#include "transfer/ftp/FtpConnection.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftp::FtpConnection;
using ftp::FtpError;
using ftp::FtpTimeouts;
using ftp::ListingEntry;
using testsupport::FaultFtpServer;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;
using Clock = std::chrono::steady_clock;
using Transcript = std::vector<std::string>;

namespace {

// Generous for a sanitizer build on a busy machine, yet a hung exchange still fails the test.
const FtpTimeouts kTimeouts{5000ms, 5000ms};

std::string patternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
    }
    return bytes;
}

class FtpConnectionFaultTest : public ::testing::Test {
  protected:
    void startServer(FaultFtpServer::Options options = {}) {
        server_ = std::make_unique<FaultFtpServer>(options);
        ASSERT_TRUE(server_->start()) << server_->error();
    }
    void SetUp() override { startServer(); }

    // Connects and forgets the login commands, so that a test sees only its own exchanges.
    void connect(FtpConnection& connection, bool passive = true,
                 const FtpTimeouts& timeouts = kTimeouts) {
        ftp::FtpResult result =
            connection.connect(server_->host(), server_->port(), server_->user(),
                               server_->password(), passive, timeouts);
        ASSERT_TRUE(result.ok()) << result.text;
        server_->clearTranscript();
    }
    fs::path localFile(const std::string& name, const std::string& bytes) {
        const fs::path path = local_.path() / name;
        writeFile(path, bytes);
        return path;
    }
    fs::path onServer(const std::string& name) const { return server_->root() / name; }

    std::unique_ptr<FaultFtpServer> server_;
    TempFolder local_{"kelvane-fault-local"};
};

TEST_F(FtpConnectionFaultTest, LoginSendsTheLoginAndNothingMore) {
    FaultFtpServer::Options options;
    options.utf8 = true;
    startServer(options);
    FtpConnection connection;
    ftp::FtpResult result =
        connection.connect(server_->host(), server_->port(), "tester", "secret", true, kTimeouts);
    ASSERT_TRUE(result.ok()) << result.text;
    EXPECT_EQ(server_->transcript(),
              (Transcript{"USER tester", "PASS secret", "FEAT", "OPTS UTF8 ON", "TYPE I"}));
    EXPECT_EQ(connection.commandCount(), 5u);
    EXPECT_TRUE(connection.supportsMlsd());
    EXPECT_EQ(server_->loginCount(), 1);

    FtpConnection refused;
    result = refused.connect(server_->host(), server_->port(), "tester", "wrong", true, kTimeouts);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.text, "530 Login incorrect.");
    EXPECT_FALSE(refused.isConnected());
    EXPECT_EQ(server_->loginCount(), 1);
}

TEST_F(FtpConnectionFaultTest, EachUploadIsOneDataCommandAndStor) {
    FtpConnection connection;
    connect(connection);
    const std::uint64_t before = connection.commandCount();
    for (const char* name : {"a.html", "b.html", "empty.html"}) {
        const std::string bytes = std::string(name) == "empty.html" ? "" : patternBytes(1024);
        ftp::FtpResult result = connection.upload(localFile(name, bytes), std::string("/") + name);
        ASSERT_TRUE(result.ok()) << name << ": " << result.text;
        EXPECT_EQ(readFile(onServer(name)), bytes) << name;
    }
    const Transcript expected{"EPSV",         "STOR /a.html", "EPSV",
                              "STOR /b.html", "EPSV",         "STOR /empty.html"};
    EXPECT_EQ(server_->transcript(), expected);
    EXPECT_EQ(connection.commandCount() - before, expected.size());
}

TEST_F(FtpConnectionFaultTest, RefusedEpsvFallsBackToPasvForTheSession) {
    FaultFtpServer::Options options;
    options.epsv = false;
    startServer(options);
    FtpConnection connection;
    connect(connection);
    ASSERT_TRUE(connection.upload(localFile("a.txt", "one"), "/a.txt").ok());
    ASSERT_TRUE(connection.upload(localFile("b.txt", "two"), "/b.txt").ok());
    EXPECT_EQ(server_->transcript(),
              (Transcript{"EPSV", "PASV", "STOR /a.txt", "PASV", "STOR /b.txt"}));
    EXPECT_EQ(readFile(onServer("b.txt")), "two");
}

TEST_F(FtpConnectionFaultTest, ActiveModeUploadsThroughEprt) {
    FtpConnection connection;
    connect(connection, false);
    const std::string bytes = patternBytes(200'000);
    ftp::FtpResult result = connection.upload(localFile("active.bin", bytes), "/active.bin");
    ASSERT_TRUE(result.ok()) << result.text;
    EXPECT_EQ(readFile(onServer("active.bin")), bytes);
    const Transcript transcript = server_->transcript();
    ASSERT_EQ(transcript.size(), 2u);
    EXPECT_EQ(transcript[0].rfind("EPRT |1|127.0.0.1|", 0), 0u) << transcript[0];
    EXPECT_EQ(transcript[1], "STOR /active.bin");
}

TEST_F(FtpConnectionFaultTest, ListingByMlsdAndByList) {
    for (bool mlsd : {true, false}) {
        SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
        FaultFtpServer::Options options;
        options.mlsd = mlsd;
        startServer(options);
        fs::create_directories(onServer("site/images"));
        writeFile(onServer("site/index.html"), patternBytes(1234));
        writeFile(onServer("site/with space.txt"), "x");
        // Two days ago on a whole minute, so that LIST shows the time rather than the year.
        const std::time_t modified = (std::time(nullptr) - 2 * 24 * 3600) / 60 * 60;
        const timespec times[2] = {{modified, 0}, {modified, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, onServer("site/index.html").c_str(), times, 0), 0);
        std::tm local{};
        localtime_r(&modified, &local);

        FtpConnection connection;
        connect(connection);
        std::vector<ListingEntry> entries;
        ftp::FtpResult result = connection.list("/site", entries);
        ASSERT_TRUE(result.ok()) << result.text;
        EXPECT_EQ(server_->transcript(),
                  (Transcript{"EPSV", mlsd ? "MLSD /site" : "LIST -a /site"}));
        ASSERT_EQ(entries.size(), 3u);
        std::sort(entries.begin(), entries.end(),
                  [](const ListingEntry& a, const ListingEntry& b) { return a.name < b.name; });
        EXPECT_EQ(entries[0].name, "images");
        EXPECT_EQ(entries[0].type, ftp::EntryType::Directory);
        EXPECT_EQ(entries[1].name, "index.html");
        EXPECT_EQ(entries[1].type, ftp::EntryType::File);
        EXPECT_EQ(entries[1].size.value_or(0), 1234u);
        // MLSD sends UTC, LIST the server's own time; either way the client gives local time.
        EXPECT_EQ(entries[1].year, local.tm_year + 1900);
        EXPECT_EQ(entries[1].month, local.tm_mon + 1);
        EXPECT_EQ(entries[1].day, local.tm_mday);
        EXPECT_EQ(entries[1].hour, local.tm_hour);
        EXPECT_EQ(entries[1].minute, local.tm_min);
        EXPECT_EQ(entries[2].name, "with space.txt");
    }
}

TEST_F(FtpConnectionFaultTest, ListFallsBackToPlainListWhenTheOptionIsRejected) {
    FaultFtpServer::Options options;
    options.mlsd = false;
    startServer(options);
    fs::create_directories(onServer("site"));
    writeFile(onServer("site/.htaccess"), "deny");
    FtpConnection connection;
    connect(connection);

    server_->failNext("LIST", 1, "501 Unknown option.");
    std::vector<ListingEntry> entries;
    ftp::FtpResult result = connection.list("/site", entries);
    ASSERT_TRUE(result.ok()) << result.text;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, ".htaccess");
    // The refusal is remembered: the next listing asks plainly at once.
    ASSERT_TRUE(connection.list("/site", entries).ok());
    EXPECT_EQ(server_->transcript(),
              (Transcript{"EPSV", "LIST -a /site", "EPSV", "LIST /site", "EPSV", "LIST /site"}));
}

// A server that lists only where it is: the listing changes into the folder and back, and the
// server's current directory is the same afterwards.
TEST_F(FtpConnectionFaultTest, ListListsInsideTheFolderWhenTheServerTakesNoPath) {
    FaultFtpServer::Options options;
    options.mlsd = false;
    options.listPaths = false;
    startServer(options);
    fs::create_directories(onServer("site"));
    writeFile(onServer("site/index.html"), "x");
    FtpConnection connection;
    connect(connection);

    std::vector<ListingEntry> entries;
    for (int round = 0; round < 2; ++round) {
        ftp::FtpResult result = connection.list("/site/", entries);
        ASSERT_TRUE(result.ok()) << result.text;
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, "index.html");
    }
    std::string directory;
    ASSERT_TRUE(connection.printWorkingDirectory(directory).ok());
    EXPECT_EQ(directory, "/");
    EXPECT_EQ(server_->transcript(),
              (Transcript{"EPSV", "LIST -a /site/", "EPSV", "LIST /site/", "PWD", "CWD /site/",
                          "EPSV", "LIST", "CWD /", "CWD /site/", "EPSV", "LIST", "CWD /", "PWD"}));

    // A missing folder is still a failure, not an empty one.
    ftp::FtpResult missing = connection.list("/nowhere/", entries);
    EXPECT_EQ(missing.error, FtpError::NotFound) << missing.text;
}

TEST_F(FtpConnectionFaultTest, AListingReportsProgressAndCanBeStopped) {
    fs::create_directories(onServer("big"));
    for (int i = 0; i < 400; ++i) {
        writeFile(onServer("big/file-with-a-long-name-" + std::to_string(i) + ".html"), "x");
    }
    FtpConnection connection;
    connect(connection);

    std::vector<std::uint64_t> counts;
    std::vector<ListingEntry> entries;
    ASSERT_TRUE(connection
                    .list("/big", entries,
                          [&counts](std::uint64_t received) {
                              counts.push_back(received);
                              return true;
                          })
                    .ok());
    EXPECT_EQ(entries.size(), 400u);
    ASSERT_FALSE(counts.empty());
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));

    ftp::FtpResult stopped = connection.list("/big", entries, [](std::uint64_t) { return false; });
    EXPECT_EQ(stopped.error, FtpError::Cancelled) << stopped.text;
    // The control connection is still in step: the next listing is whole.
    ftp::FtpResult again = connection.list("/big", entries);
    ASSERT_TRUE(again.ok()) << again.text;
    EXPECT_EQ(entries.size(), 400u);
}

TEST_F(FtpConnectionFaultTest, AListingWhoseDataConnectionFailsIsAFailure) {
    fs::create_directories(onServer("site"));
    writeFile(onServer("site/index.html"), "x");
    fs::create_directories(onServer("empty"));
    FtpConnection connection;
    connect(connection);
    std::vector<ListingEntry> entries;

    server_->resetNextListing();
    ftp::FtpResult result = connection.list("/site", entries);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error, FtpError::Transient) << result.text;
    EXPECT_TRUE(entries.empty());

    server_->refuseNextDataConnection();
    result = connection.list("/site", entries);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error, FtpError::Transient) << result.text;

    server_->failNext("MLSD", 1, "425 Can't open data connection.");
    result = connection.list("/site", entries);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.text, "425 Can't open data connection.");

    // The connection survives all of it, and an empty folder is a success with no entries.
    EXPECT_TRUE(connection.isConnected());
    result = connection.list("/empty", entries);
    EXPECT_TRUE(result.ok()) << result.text;
    EXPECT_TRUE(entries.empty());
    result = connection.list("/site", entries);
    EXPECT_TRUE(result.ok()) << result.text;
    EXPECT_EQ(entries.size(), 1u);
}

TEST_F(FtpConnectionFaultTest, ErrorRepliesKeepTheServersText) {
    writeFile(onServer("busy.txt"), "x");
    FtpConnection connection;
    connect(connection);

    server_->failNext("DELE", 1, "450 File busy, try again later.");
    ftp::FtpResult result = connection.deleteFile("/busy.txt");
    EXPECT_EQ(result.error, FtpError::Transient);
    EXPECT_EQ(result.text, "450 File busy, try again later.");
    EXPECT_EQ(result.replyCode, 450);
    EXPECT_TRUE(fs::exists(onServer("busy.txt")));

    result = connection.deleteFile("/busy.txt");
    EXPECT_TRUE(result.ok()) << result.text;
    EXPECT_FALSE(fs::exists(onServer("busy.txt")));

    result = connection.deleteFile("/busy.txt");
    EXPECT_EQ(result.error, FtpError::NotFound);
    EXPECT_EQ(result.text, "550 Delete operation failed.");
}

TEST_F(FtpConnectionFaultTest, ASilentServerTimesOut) {
    writeFile(onServer("slow.txt"), "x");
    FtpConnection connection;
    connect(connection, true, FtpTimeouts{5000ms, 400ms});

    // A reply that comes late but within the limit is an ordinary success.
    server_->delayNext("NOOP", 100ms);
    EXPECT_TRUE(connection.noop().ok());

    server_->delayNext("DELE", 30s);
    const Clock::time_point start = Clock::now();
    ftp::FtpResult result = connection.deleteFile("/slow.txt");
    const auto waited = Clock::now() - start;
    EXPECT_EQ(result.error, FtpError::TimedOut) << result.text;
    EXPECT_GE(waited, 350ms);
    EXPECT_LT(waited, 3s);
    // The replies are out of step with the commands now: the connection must not be reused.
    EXPECT_FALSE(connection.isConnected());
    EXPECT_FALSE(connection.noop().ok());

    // The server itself stops at once although it is still holding back that reply.
    const Clock::time_point stopping = Clock::now();
    server_.reset();
    EXPECT_LT(Clock::now() - stopping, 2s);
}

TEST_F(FtpConnectionFaultTest, AResetControlConnectionDuringStorIsConnectionLost) {
    const std::string bytes = patternBytes(4 * 1024 * 1024);
    const fs::path file = localFile("big.bin", bytes);
    FtpConnection connection;
    connect(connection);

    server_->resetDuringNextStore(64 * 1024, FaultFtpServer::Channel::Control);
    ftp::FtpResult result = connection.upload(file, "/big.bin");
    EXPECT_EQ(result.error, FtpError::ConnectionLost) << result.text;
    EXPECT_FALSE(connection.isConnected());

    // What the layer above does after a reset: log in again and upload once more.
    FtpConnection again;
    connect(again);
    result = again.upload(file, "/big.bin");
    ASSERT_TRUE(result.ok()) << result.text;
    EXPECT_EQ(readFile(onServer("big.bin")), bytes);
    EXPECT_EQ(server_->loginCount(), 2);
}

TEST_F(FtpConnectionFaultTest, AResetDataConnectionFailsTheUploadAndRemovesThePart) {
    // Larger than any socket buffers, so the reset meets the client still sending.
    const std::string bytes = patternBytes(16 * 1024 * 1024);
    const fs::path file = localFile("big.bin", bytes);
    FtpConnection connection;
    connect(connection);

    server_->resetDuringNextStore(100 * 1024, FaultFtpServer::Channel::Data);
    ftp::FtpResult result = connection.upload(file, "/big.bin");
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(connection.isConnected()) << result.text;
    EXPECT_EQ(server_->transcript().back(), "DELE /big.bin");
    EXPECT_FALSE(fs::exists(onServer("big.bin")));

    result = connection.upload(file, "/big.bin");
    ASSERT_TRUE(result.ok()) << result.text;
    EXPECT_EQ(fs::file_size(onServer("big.bin")), bytes.size());
}

TEST_F(FtpConnectionFaultTest, ACancelledUploadFailsAndLeavesNoPartialFile) {
    const fs::path file = localFile("big.bin", patternBytes(1024 * 1024));
    FtpConnection connection;
    connect(connection);

    int calls = 0;
    std::uint64_t lastSent = 0;
    ftp::FtpResult result = connection.upload(file, "/big.bin", [&](std::uint64_t sent) {
        ++calls;
        lastSent = sent;
        return false;
    });
    EXPECT_EQ(result.error, FtpError::Cancelled) << result.text;
    EXPECT_EQ(calls, 1);
    EXPECT_GT(lastSent, 0u);
    EXPECT_LT(lastSent, 1024u * 1024u);
    EXPECT_FALSE(fs::exists(onServer("big.bin")));
    EXPECT_EQ(server_->transcript(), (Transcript{"EPSV", "STOR /big.bin", "DELE /big.bin"}));
    EXPECT_TRUE(connection.noop().ok());
}

// A server that answers one command twice puts every later reply one command behind. The
// extra reply is seen before the next command goes out, whether it came with the answer or on
// its own a little later, and the connection closes instead of pairing replies wrongly.
TEST_F(FtpConnectionFaultTest, AnExtraReplyClosesTheConnectionBeforeTheNextCommand) {
    for (const auto delay : {0ms, 150ms}) {
        SCOPED_TRACE(delay.count());
        writeFile(onServer("old.html"), "x");
        FtpConnection connection;
        connect(connection);
        const int sentBefore = server_->extraRepliesSent();
        server_->extraReplyAfterNext("DELE", "250 Delete operation successful.", 1, delay);
        ASSERT_TRUE(connection.deleteFile("/old.html").ok());
        const Clock::time_point deadline = Clock::now() + 5s;
        while (server_->extraRepliesSent() == sentBefore && Clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(server_->extraRepliesSent(), sentBefore + 1);

        ftp::FtpResult result = connection.noop();
        EXPECT_EQ(result.error, FtpError::OutOfStep) << result.text;
        EXPECT_NE(result.text.find("250 Delete operation successful."), std::string::npos)
            << result.text;
        EXPECT_FALSE(connection.isConnected());
        EXPECT_TRUE(connection.lostStep());
        EXPECT_EQ(server_->transcript(), (Transcript{"DELE /old.html"}));
    }
}

// A STOR counts only by its own final reply: a 226 with another reply behind it may have been an
// earlier transfer's, so the upload fails although the server has the file.
TEST_F(FtpConnectionFaultTest, AnUploadWithAReplyBehindItsFinalOneFails) {
    FtpConnection connection;
    connect(connection);
    server_->extraReplyAfterNext("STOR", "226 Transfer complete.");
    ftp::FtpResult result = connection.upload(localFile("a.txt", "abc"), "/a.txt");
    EXPECT_EQ(result.error, FtpError::OutOfStep) << result.text;
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(server_->transcript(), (Transcript{"EPSV", "STOR /a.txt"}));
}

// A reply code that cannot answer the command sent (229 to STOR, 227 to CWD) belongs to
// another command.
TEST_F(FtpConnectionFaultTest, AReplyThatCannotAnswerTheCommandClosesTheConnection) {
    struct Case {
        const char* verb;
        const char* reply;
    };
    const Case cases[] = {
        {"STOR", "229 Entering Extended Passive Mode (|||4242|)"},
        {"CWD", "227 Entering Passive Mode (127,0,0,1,16,146)."},
        {"EPSV", "150 Ok to send data."},
        {"PWD", "250 Directory successfully changed."},
    };
    fs::create_directories(onServer("site"));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.verb);
        FtpConnection connection;
        connect(connection);
        server_->failNext(test.verb, 1, test.reply);
        ftp::FtpResult result;
        std::string directory;
        const std::string verb = test.verb;
        if (verb == "CWD") {
            result = connection.changeDirectory("/site");
        } else if (verb == "PWD") {
            result = connection.printWorkingDirectory(directory);
        } else {
            result = connection.upload(localFile("a.txt", "abc"), "/a.txt");
        }
        EXPECT_EQ(result.error, FtpError::OutOfStep) << result.text;
        EXPECT_NE(result.text.find(test.reply), std::string::npos) << result.text;
        EXPECT_FALSE(connection.isConnected());
    }
}

}  // namespace
