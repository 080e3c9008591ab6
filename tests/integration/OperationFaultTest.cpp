// The operations of a live connection against the in-process fault-injecting server: how many
// times each command really reaches the server when it fails, falls silent, loses its data
// connection or is stopped, and what the caller is told. The server's transcript is the judge of
// what was sent, its folder on disk of what arrived.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorReport.h"
#include "common/FileEntry.h"
#include "common/Prompter.h"
#include "support/CommandGlobals.h"
#include "support/FaultFtpServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionMonitor.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"
#include "transfer/TimedCommand.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::FaultFtpServer;
using testsupport::readFile;
using testsupport::RecordingPrompter;
using testsupport::TempFolder;
using testsupport::writeFile;
using Clock = std::chrono::steady_clock;

namespace {

// Varies with the position and the 64 KiB block, so a chunk sent twice or skipped shows.
std::string patternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + i / 65536) & 0xFF);
    }
    return bytes;
}

std::string verbOf(const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    std::transform(verb.begin(), verb.end(), verb.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return verb;
}

int countVerb(const std::vector<std::string>& transcript, const std::string& verb) {
    return static_cast<int>(std::count_if(transcript.begin(), transcript.end(),
                                          [&](const std::string& l) { return verbOf(l) == verb; }));
}

// The verbs in order of arrival, for readable failure messages and order checks.
std::vector<std::string> verbs(const std::vector<std::string>& transcript) {
    std::vector<std::string> result;
    for (const std::string& line : transcript) {
        result.push_back(verbOf(line));
    }
    return result;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + " | ";
    }
    return text;
}

std::vector<std::string> names(const std::vector<FileEntryPtr>& entries) {
    std::vector<std::string> result;
    for (const FileEntryPtr& entry : entries) {
        result.push_back(entry->name);
    }
    return result;
}

// What the retry display was asked to show, in order.
class RetryTextRecorder final : public RetryDisplay {
  public:
    void updateProgress() override {
        std::lock_guard lock(mutex_);
        shown_.push_back(retryTexts(commandState().retryCount.load()).number);
    }
    std::vector<std::string> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> shown_;
};

// Presses Stop from a thread of its own while the upload is under way: the upload worker (through
// its per-chunk display call) reports the first chunk and holds on until Stop has been pressed,
// so that the press always lands in the middle of the file, never after its end.
class StopPresser final : public RetryDisplay {
  public:
    StopPresser()
        : presser_([this] {
              std::unique_lock lock(mutex_);
              if (changed_.wait_for(lock, 20s, [this] { return chunkSeen_; })) {
                  lock.unlock();
                  std::this_thread::sleep_for(20ms);
                  requestStop();
              }
          }) {}
    ~StopPresser() override {
        {
            std::lock_guard lock(mutex_);
            chunkSeen_ = true;  // releases a presser that never saw a chunk
        }
        changed_.notify_all();
        presser_.join();
    }
    void updateProgress() override {
        if (bytesDone.load() == 0 || stopRequested.load()) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            chunkSeen_ = true;
        }
        changed_.notify_all();
        const auto deadline = Clock::now() + 5s;
        while (!stopRequested.load() && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool chunkSeen_ = false;
    std::thread presser_;
};

// Settings, Stop, the retry display and the monitor are process-wide: each test starts from its
// own values and leaves them as it found them.
class OperationFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        globals_.takeOver(10, 3, &prompter_);
        ASSERT_TRUE(server_.start()) << server_.error();
    }
    void TearDown() override {
        setRetryDisplay(nullptr);
        globals_.giveBack();
    }

    // Logged in, with the login forgotten by the transcript.
    std::shared_ptr<ConnectionDetails> connected() {
        auto connection = std::make_shared<ConnectionDetails>();
        connection->name = "fault";
        connection->server = server_.host();
        connection->port = server_.port();
        connection->user = server_.user();
        connection->password = server_.password();
        connection->passive = true;
        EXPECT_TRUE(connection->connectFtp()) << lastErrorText();
        server_.clearTranscript();
        return connection;
    }
    fs::path onServer(const std::string& name) const { return server_.root() / name; }

    FaultFtpServer server_;
    RecordingPrompter prompter_;
    TempFolder local_{"kelvane-opfault-local"};

  private:
    testsupport::CommandGlobals globals_;
};

}  // namespace

TEST_F(OperationFaultTest, ATransientRefusalIsRetriedUntilTheServerGivesIn) {
    writeFile(onServer("old.html"), "old");
    auto connection = connected();
    server_.failNext("DELE", 2, "450 Busy, try later.");
    ASSERT_TRUE(connection->deleteFile("/old.html")) << lastErrorText();
    EXPECT_FALSE(fs::exists(onServer("old.html")));
    EXPECT_EQ(countVerb(server_.transcript(), "DELE"), 3) << joined(server_.transcript());
}

TEST_F(OperationFaultTest, ACommandFailingEveryTimeGetsOneAttemptMoreThanTheRetries) {
    writeFile(onServer("kept.html"), "kept");
    auto connection = connected();
    RetryTextRecorder display;
    setRetryDisplay(&display);
    server_.failNext("DELE", 100, "550 Permission denied.");
    EXPECT_FALSE(connection->deleteFile("/kept.html"));
    EXPECT_EQ(lastErrorText(), "550 Permission denied.");
    EXPECT_EQ(countVerb(server_.transcript(), "DELE"), 4) << joined(server_.transcript());
    EXPECT_TRUE(fs::exists(onServer("kept.html")));

    // The display counts the retries made so far before each attempt and is blanked when the
    // worker ends.
    ASSERT_TRUE(waitForCommandWorkers(5s));
    setRetryDisplay(nullptr);
    const std::vector<std::string> expected{"", "1", "2", "3", ""};
    EXPECT_EQ(display.shown(), expected) << joined(display.shown());

    // No retries: exactly one attempt, and the connection is still good afterwards.
    maxCommandRetries = 0;
    server_.clearTranscript();
    EXPECT_FALSE(connection->deleteFile("/kept.html"));
    EXPECT_EQ(countVerb(server_.transcript(), "DELE"), 1) << joined(server_.transcript());
    EXPECT_EQ(lastErrorText(), "550 Permission denied.");
    EXPECT_TRUE(connection->isConnected());
}

TEST_F(OperationFaultTest, ASilentServerTimesOutWithoutASecondAttempt) {
    commandTimeout = 1;
    maxCommandRetries = 3;
    auto connection = connected();
    const auto silence = 3s;
    server_.delayNext("MKD", silence, 1);
    const auto start = Clock::now();
    EXPECT_FALSE(connection->createDirectory("/slow/"));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(lastErrorText(), "Timed out");
    EXPECT_GE(elapsed, 1s);
    EXPECT_LT(elapsed, silence) << "the wait ends on the command limit, not on the server";

    // A second MKD could only be read once the server has had its say about the first.
    ASSERT_TRUE(waitForCommandWorkers(10s));
    const auto settled = start + silence + 500ms;
    while (Clock::now() < settled) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(countVerb(server_.transcript(), "MKD"), 1) << joined(server_.transcript());
    EXPECT_EQ(lastErrorText(), "Timed out") << "the abandoned worker keeps its reason to itself";
}

TEST_F(OperationFaultTest, AnUploadWhoseControlConnectionIsResetLogsInAgainOnce) {
    const std::string content = patternBytes(1024 * 1024 + 333);
    writeFile(local_.path() / "page.bin", content);
    auto connection = connected();
    const int loginsBefore = server_.loginCount();
    server_.resetDuringNextStore(200 * 1024, FaultFtpServer::Channel::Control);
    bytesDone = 0;
    ASSERT_TRUE(connection->uploadFile((local_.path() / "page.bin").string(), "/page.bin"))
        << lastErrorText();
    EXPECT_EQ(server_.loginCount(), loginsBefore + 1);
    EXPECT_EQ(countVerb(server_.transcript(), "STOR"), 2) << joined(server_.transcript());
    EXPECT_EQ(readFile(onServer("page.bin")), content);
    EXPECT_EQ(bytesDone.load(), content.size()) << "the cut-off attempt is not counted";
    EXPECT_TRUE(connection->isConnected());
    EXPECT_FALSE(stopRequested.load());
}

TEST_F(OperationFaultTest, AnUploadWhoseDataConnectionIsResetIsRetriedOnTheSameLogin) {
    const std::string content = patternBytes(1024 * 1024 + 77);
    writeFile(local_.path() / "page.bin", content);
    auto connection = connected();
    const int loginsBefore = server_.loginCount();
    server_.resetDuringNextStore(200 * 1024, FaultFtpServer::Channel::Data);
    bytesDone = 0;
    ASSERT_TRUE(connection->uploadFile((local_.path() / "page.bin").string(), "/page.bin"))
        << lastErrorText();
    EXPECT_EQ(server_.loginCount(), loginsBefore);
    const std::vector<std::string> sent = verbs(server_.transcript());
    EXPECT_EQ(countVerb(server_.transcript(), "STOR"), 2) << joined(server_.transcript());
    // The partial file was deleted before the second attempt.
    const auto firstStore = std::find(sent.begin(), sent.end(), "STOR");
    const auto cleanUp = std::find(firstStore, sent.end(), "DELE");
    EXPECT_NE(cleanUp, sent.end()) << joined(server_.transcript());
    EXPECT_NE(std::find(cleanUp, sent.end(), "STOR"), sent.end()) << joined(server_.transcript());
    EXPECT_EQ(readFile(onServer("page.bin")), content);
    EXPECT_EQ(bytesDone.load(), content.size());
    EXPECT_FALSE(stopRequested.load());
}

TEST_F(OperationFaultTest, StopDuringAnUploadFailsLeavesNoFileAndIsNotRetried) {
    writeFile(local_.path() / "big.bin", patternBytes(8 * 1024 * 1024));
    auto connection = connected();
    bytesDone = 0;
    // A slow clean-up: the upload must not return before it is done, or a program that ends
    // after Stop would close the connection under it.
    server_.delayNext("DELE", 1s);
    {
        StopPresser presser;
        setRetryDisplay(&presser);
        EXPECT_FALSE(connection->uploadFile((local_.path() / "big.bin").string(), "/big.bin"));
        setRetryDisplay(nullptr);
    }
    EXPECT_TRUE(stopRequested.load());
    EXPECT_FALSE(fs::exists(onServer("big.bin")));
    EXPECT_EQ(bytesDone.load(), 0u);
    EXPECT_NE(lastErrorText().find("stopped"), std::string::npos) << lastErrorText();
    const std::vector<std::string> transcript = server_.transcript();
    EXPECT_EQ(countVerb(transcript, "STOR"), 1) << joined(transcript);
    EXPECT_EQ(countVerb(transcript, "DELE"), 1) << joined(transcript);
    EXPECT_EQ(verbs(transcript).back(), "DELE") << joined(transcript);
    EXPECT_TRUE(connection->isConnected());
}

TEST_F(OperationFaultTest, AListingWhoseDataConnectionFailsOnceIsRetried) {
    writeFile(onServer("b.html"), "b");
    writeFile(onServer("a.txt"), "a");
    fs::create_directory(onServer("img"));
    auto connection = connected();
    const std::vector<std::string> expected{"a.txt", "b.html", "img"};

    // Reset before the first byte of the listing.
    server_.resetNextListing();
    std::vector<FileEntryPtr> entries;
    ASSERT_TRUE(connection->listDirectory(entries, true)) << lastErrorText();
    EXPECT_EQ(names(entries), expected);
    EXPECT_EQ(countVerb(server_.transcript(), "MLSD"), 2) << joined(server_.transcript());

    // No data connection at all: the listing command itself is never sent the first time.
    server_.clearTranscript();
    server_.refuseNextDataConnection();
    entries.clear();
    ASSERT_TRUE(connection->listDirectory(entries, true)) << lastErrorText();
    EXPECT_EQ(names(entries), expected);
    EXPECT_EQ(countVerb(server_.transcript(), "EPSV"), 2) << joined(server_.transcript());
    EXPECT_EQ(countVerb(server_.transcript(), "MLSD"), 1) << joined(server_.transcript());
}

TEST_F(OperationFaultTest, AListingFailingOnEveryAttemptIsAFailureNotAnEmptyFolder) {
    writeFile(onServer("a.txt"), "a");
    maxCommandRetries = 2;
    auto connection = connected();
    server_.failNext("MLSD", 3, "425 Cannot open data connection.");
    std::vector<FileEntryPtr> entries;
    EXPECT_FALSE(connection->listDirectory(entries, true));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(lastErrorText(), "425 Cannot open data connection.");
    EXPECT_EQ(countVerb(server_.transcript(), "MLSD"), 3) << joined(server_.transcript());
    EXPECT_TRUE(connection->listingCache.empty());

    // Without a cache to serve, the next look asks again and gets the real folder.
    ASSERT_TRUE(connection->listDirectory(entries, false)) << lastErrorText();
    EXPECT_EQ(names(entries), std::vector<std::string>{"a.txt"});

    // A listing cut off on every attempt the same way.
    server_.clearTranscript();
    maxCommandRetries = 0;
    server_.resetNextListing();
    std::vector<FileEntryPtr> none;
    EXPECT_FALSE(connection->listDirectory(none, true));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(lastErrorText().empty());
    EXPECT_EQ(countVerb(server_.transcript(), "MLSD"), 1) << joined(server_.transcript());
}

// A reply left over from an earlier command: the command that meets it logs in again and runs
// once more, in the directory the caller was in, and the run goes on.
TEST_F(OperationFaultTest, AStrayReplyCostsANewLoginAndTheCommandRunsAgain) {
    writeFile(onServer("old.html"), "old");
    fs::create_directory(onServer("site"));
    writeFile(onServer("site/page.html"), "p");
    auto connection = connected();
    ASSERT_TRUE(connection->changeDirectory("/site/"));
    const int loginsBefore = server_.loginCount();

    server_.extraReplyAfterNext("DELE", "250 Delete operation successful.");
    ASSERT_TRUE(connection->deleteFile("/old.html")) << lastErrorText();
    ASSERT_TRUE(connection->createDirectory("/new/")) << lastErrorText();
    EXPECT_TRUE(fs::is_directory(onServer("new")));
    EXPECT_EQ(server_.loginCount(), loginsBefore + 1);
    EXPECT_EQ(connection->currentDirectory, "/site/");
    EXPECT_EQ(countVerb(server_.transcript(), "MKD"), 1) << joined(server_.transcript());

    // The same for a listing, which must never come back as another folder's.
    server_.extraReplyAfterNext("MKD", "257 \"/other\" created");
    ASSERT_TRUE(connection->createDirectory("/other/")) << lastErrorText();
    std::vector<FileEntryPtr> entries;
    ASSERT_TRUE(connection->listFolderAt("/site/", entries)) << lastErrorText();
    EXPECT_EQ(names(entries), std::vector<std::string>{"page.html"});
    EXPECT_EQ(server_.loginCount(), loginsBefore + 2);
    EXPECT_TRUE(connection->isConnected());
}

// An upload is done only by the final reply of its own STOR. Out of step once: a new login and
// the file once more; out of step again: this file fails, the run is not stopped, and the next
// command logs in afresh.
TEST_F(OperationFaultTest, AnUploadCountsOnlyByTheFinalReplyOfItsOwnStor) {
    const std::string content = patternBytes(300 * 1024 + 9);
    writeFile(local_.path() / "page.bin", content);
    auto connection = connected();
    const int loginsBefore = server_.loginCount();

    server_.extraReplyAfterNext("STOR", "226 Transfer complete.");
    bytesDone = 0;
    ASSERT_TRUE(connection->uploadFile((local_.path() / "page.bin").string(), "/page.bin"))
        << lastErrorText();
    EXPECT_EQ(server_.loginCount(), loginsBefore + 1);
    EXPECT_EQ(countVerb(server_.transcript(), "STOR"), 2) << joined(server_.transcript());
    EXPECT_EQ(readFile(onServer("page.bin")), content);
    EXPECT_EQ(bytesDone.load(), content.size()) << "the attempt out of step is not counted";

    server_.clearTranscript();
    server_.extraReplyAfterNext("STOR", "226 Transfer complete.", 2);
    bytesDone = 0;
    EXPECT_FALSE(connection->uploadFile((local_.path() / "page.bin").string(), "/again.bin"));
    EXPECT_NE(lastErrorText().find("226 Transfer complete."), std::string::npos) << lastErrorText();
    EXPECT_EQ(bytesDone.load(), 0u);
    EXPECT_FALSE(stopRequested.load());

    ASSERT_TRUE(connection->uploadFile((local_.path() / "page.bin").string(), "/again.bin"))
        << lastErrorText();
    EXPECT_EQ(readFile(onServer("again.bin")), content);
    EXPECT_EQ(server_.loginCount(), loginsBefore + 3);
}
