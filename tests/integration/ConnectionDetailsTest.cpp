// The live side of a connection against real servers on 127.0.0.1: pyftpdlib (MLSD, a named
// user, the login lands in "/") and vsftpd (LIST, anonymous, the login lands in a folder below
// "/", so the change to the root at login is exercised for real). Each test gets a server of its
// own on a temporary folder and checks what arrived directly on disk.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
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
#include "support/PyFtpdServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionMonitor.h"
#include "transfer/Progress.h"
#include "transfer/RetryDisplay.h"
#include "transfer/TimedCommand.h"
#include "transfer/ftp/FtpConnection.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::PyFtpdDosServer;
using testsupport::PyFtpdListServer;
using testsupport::PyFtpdServer;
using testsupport::randomBytes;
using testsupport::readFile;
using testsupport::RecordingPrompter;
using testsupport::TempFolder;
using testsupport::VsftpdServer;
using testsupport::writeFile;

namespace {

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

std::vector<std::string> names(const std::vector<FileEntryPtr>& entries) {
    std::vector<std::string> result;
    for (const FileEntryPtr& entry : entries) {
        result.push_back(entry->name);
    }
    return result;
}

const FileEntry* find(const std::vector<FileEntryPtr>& entries, const std::string& name) {
    for (const FileEntryPtr& entry : entries) {
        if (entry->name == name) {
            return entry.get();
        }
    }
    return nullptr;
}

// The retry display is called on the upload worker after every chunk; these stand-ins act at
// that moment, as a user pressing Stop or a network dropping the line would.
class StopAfterFirstChunk final : public RetryDisplay {
  public:
    void updateProgress() override {
        if (bytesDone.load() > 0) {
            requestStop();
        }
    }
};

class DropConnectionDuringUpload final : public RetryDisplay {
  public:
    DropConnectionDuringUpload(std::shared_ptr<ConnectionDetails> details, int drops)
        : details_(std::move(details)), dropsLeft_(drops) {}
    void updateProgress() override {
        // The worker's connection is the one the details held when the worker started.
        std::shared_ptr<ftp::FtpConnection> current = details_->ftp;
        std::lock_guard lock(mutex_);
        if (bytesDone.load() > 0 && dropsLeft_ > 0 && current && current != lastDropped_) {
            // Held on to, so that the next login cannot get the same address and pass for
            // the connection already dropped.
            lastDropped_ = current;
            --dropsLeft_;
            current->abort();
        }
    }

  private:
    std::shared_ptr<ConnectionDetails> details_;
    std::mutex mutex_;
    int dropsLeft_;
    std::shared_ptr<ftp::FtpConnection> lastDropped_;
};

// Remembers the highest retry count shown: n retries shown means n + 1 attempts made.
class RetryRecorder final : public RetryDisplay {
  public:
    void updateProgress() override {
        const int shown = commandState().retryCount.load();
        int seen = highest.load();
        while (shown > seen && !highest.compare_exchange_weak(seen, shown)) {
        }
    }
    std::atomic<int> highest{0};
};

// A port that accepts connections and never says a word: a server that hangs at the greeting.
class SilentListener {
  public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~SilentListener() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Settings, Stop, the retry display and the monitor are process-wide: every test starts from
// short limits and leaves everything as it found it.
class LiveConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { globals_.takeOver(10, 1, &prompter_); }
    void TearDown() override {
        setRetryDisplay(nullptr);
        globals_.giveBack();
    }

    RecordingPrompter prompter_;

  private:
    testsupport::CommandGlobals globals_;
};

template <typename Server>
class ConnectionDetailsTest : public LiveConnectionTest {
  protected:
    void SetUp() override {
        LiveConnectionTest::SetUp();
        ASSERT_TRUE(server_.start()) << server_.error();
    }

    std::shared_ptr<ConnectionDetails> details(bool passive = true) const {
        return detailsFor(server_, passive);
    }
    static std::shared_ptr<ConnectionDetails> detailsFor(const Server& server, bool passive) {
        auto connection = std::make_shared<ConnectionDetails>();
        connection->name = server.name();
        connection->server = server.host();
        connection->port = server.port();
        connection->user = server.user();
        connection->password = server.password();
        connection->email = "never-sent@example.org";
        connection->passive = passive;
        return connection;
    }
    std::shared_ptr<ConnectionDetails> connected(bool passive = true) {
        auto connection = details(passive);
        EXPECT_TRUE(connection->connectFtp()) << lastErrorText() << "\n" << server_.serverLog();
        return connection;
    }
    std::string home() const { return withSlash(server_.home()); }
    std::string remote(const std::string& relative) const { return server_.remote(relative); }

    Server server_;
};

using Servers = ::testing::Types<PyFtpdServer, VsftpdServer, PyFtpdListServer, PyFtpdDosServer>;
TYPED_TEST_SUITE(ConnectionDetailsTest, Servers, testsupport::ServerKindNames);

}  // namespace

TYPED_TEST(ConnectionDetailsTest, LogsInAtTheRootOfTheTreeAndOutAgain) {
    auto connection = this->connected();
    ASSERT_TRUE(connection->isConnected());
    // The home directory is the top of the tree; the login folder stays current (vsftpd logs
    // in below "/" and accepts the change to it).
    EXPECT_EQ(connection->homeDirectory, "/");
    EXPECT_EQ(connection->currentDirectory, this->home());
    std::string directory;
    ASSERT_TRUE(connection->printWorkingDirectory(directory));
    EXPECT_EQ(directory, this->home());
    EXPECT_TRUE(connectionMonitor().isActive());
    EXPECT_EQ(connectionMonitor().watched(), connection);

    FileEntry folder;
    ASSERT_TRUE(connection->changeDirectory(this->remote("")));
    ASSERT_TRUE(connection->currentFolderEntry(folder));
    EXPECT_TRUE(folder.isFolder());
    EXPECT_TRUE(folder.remote);
    EXPECT_EQ(folder.childFolderPath(), this->home());

    const std::shared_ptr<ftp::FtpConnection> client = connection->ftp;
    connection->disconnectFtp();
    EXPECT_FALSE(connection->isConnected());
    EXPECT_FALSE(client->isConnected());
    EXPECT_EQ(connection->currentDirectory, "");
    EXPECT_EQ(connection->homeDirectory, "/");
    EXPECT_FALSE(connectionMonitor().isActive());
    EXPECT_FALSE(connection->printWorkingDirectory(directory));
    EXPECT_EQ(lastErrorText(), "Not connected to an FTP server");

    // Connecting again starts afresh.
    ASSERT_TRUE(connection->connectFtp()) << lastErrorText();
    EXPECT_EQ(connection->currentDirectory, this->home());
    EXPECT_TRUE(this->prompter_.messages.empty());
}

TYPED_TEST(ConnectionDetailsTest, AWrongPasswordOrNoServerFailsWithTheReason) {
    maxCommandRetries = 0;
    auto refused = this->details();
    refused->user = this->server_.rejectedUser();
    refused->password = this->server_.rejectedPassword();
    EXPECT_FALSE(refused->connectFtp());
    EXPECT_FALSE(refused->isConnected());
    EXPECT_EQ(lastErrorText().substr(0, 3), "530") << lastErrorText();
    EXPECT_FALSE(connectionMonitor().isActive());

    auto nameless = this->details();
    nameless->server.clear();
    EXPECT_FALSE(nameless->connectFtp());
    const std::string noServer =
        "No server name has been provided - please check your FTP Connection details";
    ASSERT_EQ(this->prompter_.messages.size(), 1u);
    EXPECT_EQ(this->prompter_.messages[0], noServer);
    EXPECT_EQ(lastErrorText(), noServer);

    // A user name with a line break is never sent; the details are refused at once.
    auto injected = this->details();
    injected->user = "anonymous\r\nDELE x";
    maxCommandRetries = 3;
    EXPECT_FALSE(injected->connectFtp());
    EXPECT_NE(lastErrorText().find("line break"), std::string::npos) << lastErrorText();
}

TYPED_TEST(ConnectionDetailsTest, DirectoryCommandsKeepTheCurrentDirectoryInStep) {
    const fs::path root = this->server_.root();
    fs::create_directories(root / "web site" / "img");
    writeFile(root / "web site" / "index.html", "<p>");
    auto connection = this->connected();
    const std::string site = withSlash(this->remote("web site"));

    // A trailing "/" is not sent, but the current directory keeps one.
    ASSERT_TRUE(connection->changeDirectory(site)) << lastErrorText();
    EXPECT_EQ(connection->currentDirectory, site);
    ASSERT_TRUE(connection->changeDirectory(this->remote("web site/img")));
    EXPECT_EQ(connection->currentDirectory, site + "img/");
    FileEntry folder;
    ASSERT_TRUE(connection->currentFolderEntry(folder));
    EXPECT_EQ(folder.folder, site);
    EXPECT_EQ(folder.name, "img");

    ASSERT_TRUE(connection->upDirectory());
    EXPECT_EQ(connection->currentDirectory, site);

    // "/" and "" mean the top of the tree.
    ASSERT_TRUE(connection->changeDirectory(""));
    EXPECT_EQ(connection->currentDirectory, "/");
    ASSERT_TRUE(connection->upDirectory());
    EXPECT_EQ(connection->currentDirectory, "/");
    ASSERT_TRUE(connection->changeDirectory(site));
    ASSERT_TRUE(connection->changeDirectory("/"));
    EXPECT_EQ(connection->currentDirectory, "/");

    // A failed change leaves the directory as it was, with the server's reason.
    ASSERT_TRUE(connection->changeDirectory(site));
    EXPECT_FALSE(connection->changeDirectory(this->remote("no such folder")));
    EXPECT_EQ(lastErrorText().substr(0, 3), "550") << lastErrorText();
    EXPECT_EQ(connection->currentDirectory, site);

    // A path with "/" at the end is a folder, and the server moves there.
    ASSERT_TRUE(connection->changeDirectory("/"));
    EXPECT_TRUE(connection->pathExists(site + "img/"));
    EXPECT_EQ(connection->currentDirectory, site + "img/");
    EXPECT_FALSE(connection->pathExists(site + "nothing/"));
    EXPECT_EQ(connection->currentDirectory, site + "img/");
    // Any other path is looked up where it is, files and folders alike.
    EXPECT_TRUE(connection->pathExists(site + "index.html"));
    EXPECT_TRUE(connection->pathExists(site + "img"));
    EXPECT_EQ(connection->currentDirectory, site + "img/");

    // A missing path costs every attempt the retry setting allows; a found one only one.
    maxCommandRetries = 2;
    RetryRecorder retries;
    setRetryDisplay(&retries);
    EXPECT_FALSE(connection->pathExists(site + "missing.html"));
    EXPECT_EQ(retries.highest.load(), 2);
    retries.highest = 0;
    EXPECT_TRUE(connection->pathExists(site + "index.html"));
    EXPECT_EQ(retries.highest.load(), 0);
    setRetryDisplay(nullptr);
}

TYPED_TEST(ConnectionDetailsTest, CreatesRemovesDeletesAndRenamesWithTheServersReasons) {
    const fs::path root = this->server_.root();
    writeFile(root / "old name.html", "<p>page</p>");
    writeFile(root / "gone.txt", "x");
    auto connection = this->connected();

    ASSERT_TRUE(connection->createDirectory(this->remote("new folder/"))) << lastErrorText();
    EXPECT_TRUE(fs::is_directory(root / "new folder"));
    ASSERT_TRUE(connection->removeDirectory(this->remote("new folder")));
    EXPECT_FALSE(fs::exists(root / "new folder"));
    EXPECT_FALSE(connection->removeDirectory(this->remote("new folder")));
    EXPECT_EQ(lastErrorText().substr(0, 3), "550") << lastErrorText();

    ASSERT_TRUE(connection->deleteFile(this->remote("gone.txt")));
    EXPECT_FALSE(fs::exists(root / "gone.txt"));
    EXPECT_FALSE(connection->deleteFile(this->remote("gone.txt")));
    EXPECT_EQ(lastErrorText().substr(0, 3), "550") << lastErrorText();

    ASSERT_TRUE(
        connection->renameFile(this->remote("old name.html"), this->remote("new name.html")));
    EXPECT_EQ(readFile(root / "new name.html"), "<p>page</p>");
    EXPECT_FALSE(fs::exists(root / "old name.html"));
    EXPECT_FALSE(connection->renameFile(this->remote("old name.html"), this->remote("x.html")));
    EXPECT_FALSE(fs::exists(root / "x.html"));

    // Names with line breaks never reach the server, and nothing is retried for them.
    maxCommandRetries = 3;
    const auto before = connection->ftp->commandCount();
    EXPECT_FALSE(connection->createDirectory(this->remote("evil\r\nDELE new name.html")));
    EXPECT_NE(lastErrorText().find("line break"), std::string::npos) << lastErrorText();
    EXPECT_FALSE(connection->deleteFile(this->remote("a\nb")));
    EXPECT_FALSE(connection->renameFile(this->remote("new name.html"), this->remote("c\rd")));
    EXPECT_FALSE(connection->pathExists(this->remote("e\nf")));
    EXPECT_EQ(connection->ftp->commandCount(), before);
    EXPECT_TRUE(fs::exists(root / "new name.html"));
}

TYPED_TEST(ConnectionDetailsTest, ListingsAreSortedCachedAndNeverEmptyOnFailure) {
    const fs::path site = this->server_.root() / "site";
    fs::create_directories(site / "Images");
    fs::create_directories(site / "empty");
    writeFile(site / "zeta.html", std::string(2048, 'z'));
    writeFile(site / "Alpha.html", "a");
    writeFile(site / "with  two spaces.txt", "");
    const std::time_t when = std::time(nullptr) - 3 * 3600;
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (site / "zeta.html").c_str(), times, 0), 0);
    auto connection = this->connected();
    const std::string folder = withSlash(this->remote("site"));
    ASSERT_TRUE(connection->changeDirectory(folder));

    std::vector<FileEntryPtr> entries;
    ASSERT_TRUE(connection->listDirectory(entries, false)) << lastErrorText();
    EXPECT_EQ(names(entries), (std::vector<std::string>{"Alpha.html", "empty", "Images",
                                                        "with  two spaces.txt", "zeta.html"}));
    const FileEntry* zeta = find(entries, "zeta.html");
    ASSERT_NE(zeta, nullptr);
    EXPECT_EQ(zeta->folder, folder);
    EXPECT_EQ(zeta->kind, EntryKind::File);
    EXPECT_EQ(zeta->size, 2048u);
    EXPECT_TRUE(zeta->remote);
    std::tm local{};
    localtime_r(&when, &local);
    EXPECT_EQ(zeta->date.year(), local.tm_year + 1900);
    EXPECT_EQ(zeta->date.month(), local.tm_mon + 1);
    EXPECT_EQ(zeta->date.day(), local.tm_mday);
    EXPECT_EQ(zeta->time.hours(), local.tm_hour);
    EXPECT_EQ(zeta->time.minutes(), local.tm_min);
    EXPECT_EQ(find(entries, "Images")->kind, EntryKind::Folder);

    // The second look comes from the cache: not a single command.
    const auto afterFirst = connection->ftp->commandCount();
    std::vector<FileEntryPtr> again;
    ASSERT_TRUE(connection->listDirectory(again, false));
    EXPECT_EQ(connection->ftp->commandCount(), afterFirst);
    EXPECT_EQ(names(again), names(entries));
    // Refresh asks the server.
    ASSERT_TRUE(connection->listDirectory(again, true));
    EXPECT_GT(connection->ftp->commandCount(), afterFirst);

    // Every change empties the cache, so the next listing shows it.
    ASSERT_TRUE(connection->createDirectory(folder + "New"));
    again.clear();
    ASSERT_TRUE(connection->listDirectory(again, false));
    EXPECT_NE(find(again, "New"), nullptr);
    ASSERT_TRUE(connection->deleteFile(folder + "Alpha.html"));
    again.clear();
    ASSERT_TRUE(connection->listDirectory(again, false));
    EXPECT_EQ(find(again, "Alpha.html"), nullptr);

    // An empty folder is a successful empty listing and is asked for every time.
    ASSERT_TRUE(connection->changeDirectory(folder + "empty/"));
    std::vector<FileEntryPtr> none;
    ASSERT_TRUE(connection->listDirectory(none, false));
    EXPECT_TRUE(none.empty());
    const auto afterEmpty = connection->ftp->commandCount();
    ASSERT_TRUE(connection->listDirectory(none, false));
    EXPECT_GT(connection->ftp->commandCount(), afterEmpty);

    // A folder that vanished under us fails: it is not an empty folder, and what was cached
    // of it is not served any more.
    ASSERT_TRUE(connection->changeDirectory(folder + "Images/"));
    writeFile(site / "Images" / "logo.png", "png");
    std::vector<FileEntryPtr> images;
    ASSERT_TRUE(connection->listDirectory(images, false));
    ASSERT_EQ(images.size(), 1u);
    fs::remove_all(site / "Images");
    std::vector<FileEntryPtr> vanished{std::make_shared<FileEntry>()};
    EXPECT_FALSE(connection->listDirectory(vanished, true));
    EXPECT_FALSE(lastErrorText().empty());
    EXPECT_EQ(vanished.size(), 1u) << "a failed listing leaves the caller's entries alone";
    EXPECT_TRUE(connection->listingCache.empty());
    EXPECT_FALSE(connection->listDirectory(vanished, false));
}

TYPED_TEST(ConnectionDetailsTest, ListsTheCurrentDirectoryAfterLosingTrackOfIt) {
    writeFile(this->server_.root() / "page.html", "p");
    auto connection = this->connected();
    connection->currentDirectory.clear();  // unknown, as after a failed change
    std::vector<FileEntryPtr> entries;
    ASSERT_TRUE(connection->listDirectory(entries, false)) << lastErrorText();
    EXPECT_EQ(connection->currentDirectory, this->home());
    EXPECT_NE(find(entries, "page.html"), nullptr);
}

TYPED_TEST(ConnectionDetailsTest, UploadsByteForByteInBothModesAndCountsTheBytes) {
    TempFolder local;
    const std::string large = randomBytes(5 * 1024 * 1024 + 17, 1);
    writeFile(local.path() / "large.bin", large);
    writeFile(local.path() / "empty.txt", "");
    writeFile(this->server_.root() / "replaced.bin", "older and longer content than before");

    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto connection = this->connected(passive);
        const std::string suffix = passive ? "-p" : "-a";
        bytesDone = 0;
        ASSERT_TRUE(connection->uploadFile((local.path() / "large.bin").string(),
                                           this->remote("large" + suffix + ".bin")))
            << lastErrorText();
        EXPECT_EQ(bytesDone.load(), large.size());
        EXPECT_EQ(readFile(this->server_.root() / ("large" + suffix + ".bin")), large);

        ASSERT_TRUE(connection->uploadFile((local.path() / "empty.txt").string(),
                                           this->remote("empty" + suffix + ".txt")));
        EXPECT_EQ(bytesDone.load(), large.size());
        ASSERT_TRUE(fs::exists(this->server_.root() / ("empty" + suffix + ".txt")));
        EXPECT_EQ(fs::file_size(this->server_.root() / ("empty" + suffix + ".txt")), 0u);

        ASSERT_TRUE(connection->uploadFile((local.path() / "empty.txt").string(),
                                           this->remote("replaced.bin")));
        EXPECT_EQ(fs::file_size(this->server_.root() / "replaced.bin"), 0u);

        // The listing in this mode shows what arrived.
        std::vector<FileEntryPtr> entries;
        ASSERT_TRUE(connection->listDirectory(entries, false)) << lastErrorText();
        const FileEntry* listed = find(entries, "large" + suffix + ".bin");
        ASSERT_NE(listed, nullptr);
        EXPECT_EQ(listed->size, large.size());
    }

    auto connection = this->connected();
    bytesDone = 0;
    EXPECT_FALSE(connection->uploadFile((local.path() / "no such file").string(),
                                        this->remote("never.txt")));
    EXPECT_EQ(lastErrorText(), "Could not open file for reading");
    EXPECT_EQ(bytesDone.load(), 0u);
    EXPECT_FALSE(fs::exists(this->server_.root() / "never.txt"));
}

TYPED_TEST(ConnectionDetailsTest, StopDuringAnUploadIsAFailureThatLeavesNoPartialFile) {
    TempFolder local;
    writeFile(local.path() / "big.bin", randomBytes(4 * 1024 * 1024, 2));
    auto connection = this->connected();
    StopAfterFirstChunk stopper;
    setRetryDisplay(&stopper);
    bytesDone = 0;
    maxCommandRetries = 3;
    EXPECT_FALSE(
        connection->uploadFile((local.path() / "big.bin").string(), this->remote("big.bin")));
    setRetryDisplay(nullptr);
    // The worker cleans up behind the returned wait.
    ASSERT_TRUE(waitForCommandWorkers(10s));
    EXPECT_FALSE(fs::exists(this->server_.root() / "big.bin"));
    EXPECT_EQ(bytesDone.load(), 0u) << "the bytes of a failed upload are not progress";
    // Stop lands either inside the transfer loop or as the worker's result is collected.
    EXPECT_THAT(lastErrorText(), ::testing::AnyOf(::testing::HasSubstr("was stopped"),
                                                  ::testing::Eq("Stopped by the user")));

    // No retry followed, and the connection is still good once Stop is cleared.
    EXPECT_TRUE(connection->isConnected());
    stopRequested = false;
    std::string directory;
    EXPECT_TRUE(connection->printWorkingDirectory(directory)) << lastErrorText();
}

TYPED_TEST(ConnectionDetailsTest, ADroppedConnectionLogsInAgainForOneMoreUpload) {
    TempFolder local;
    const std::string content = randomBytes(3 * 1024 * 1024 + 5, 3);
    writeFile(local.path() / "page.bin", content);
    auto connection = this->connected();
    const std::shared_ptr<ftp::FtpConnection> first = connection->ftp;

    DropConnectionDuringUpload dropOnce(connection, 1);
    setRetryDisplay(&dropOnce);
    bytesDone = 0;
    ASSERT_TRUE(
        connection->uploadFile((local.path() / "page.bin").string(), this->remote("page.bin")))
        << lastErrorText();
    setRetryDisplay(nullptr);
    EXPECT_TRUE(connection->isConnected());
    EXPECT_NE(connection->ftp, first) << "a new login";
    EXPECT_FALSE(stopRequested.load());
    EXPECT_EQ(readFile(this->server_.root() / "page.bin"), content);
    EXPECT_EQ(bytesDone.load(), content.size());

    // Dropped again after the new login: the run is stopped and the connection closed.
    // (A failed upload takes its bytes back, so the display's last call, after the worker has
    // let go of the connection, finds nothing counted and leaves the details alone.)
    bytesDone = 0;
    DropConnectionDuringUpload dropTwice(connection, 2);
    setRetryDisplay(&dropTwice);
    EXPECT_FALSE(
        connection->uploadFile((local.path() / "page.bin").string(), this->remote("second.bin")));
    setRetryDisplay(nullptr);
    EXPECT_TRUE(stopRequested.load());
    EXPECT_FALSE(connection->isConnected());
    EXPECT_FALSE(lastErrorText().empty());
}

TYPED_TEST(ConnectionDetailsTest, TheMonitorClosesAnIdleConnection) {
    ConnectionMonitor& monitor = connectionMonitor();
    monitor.timeoutEnabled = true;
    monitor.idleLimit = 0;  // closed at the first check after a whole second of silence
    auto connection = this->connected();
    EXPECT_TRUE(monitor.check());
    EXPECT_TRUE(connection->isConnected());

    const auto start = std::chrono::steady_clock::now();
    bool closed = false;
    while (!closed && std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(100ms);
        closed = !monitor.check();
    }
    EXPECT_TRUE(closed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(connection->isConnected());
    EXPECT_FALSE(monitor.isActive());
    EXPECT_TRUE(monitor.check());
}

TYPED_TEST(ConnectionDetailsTest, AKeepAliveProbeHoldsTheConnectionOpen) {
    ConnectionMonitor& monitor = connectionMonitor();
    monitor.timeoutEnabled = false;
    monitor.keepAliveSeconds = 1;
    auto connection = this->connected();
    const auto before = connection->ftp->commandCount();
    EXPECT_TRUE(monitor.check());  // not idle long enough yet
    EXPECT_EQ(connection->ftp->commandCount(), before);

    std::this_thread::sleep_for(2100ms);
    EXPECT_GE(monitor.idleSeconds(), 2);
    EXPECT_TRUE(monitor.check());
    EXPECT_EQ(connection->ftp->commandCount(), before + 1) << "one PWD";
    EXPECT_TRUE(connection->isConnected());
    EXPECT_LT(monitor.idleSeconds(), 1) << "the probe counts as activity";
    EXPECT_TRUE(monitor.isActive());

    // While Stop is still set a probe could not tell a live server from a dead one.
    std::this_thread::sleep_for(2100ms);
    stopRequested = true;
    EXPECT_TRUE(monitor.check());
    EXPECT_TRUE(connection->isConnected());
    EXPECT_EQ(connection->ftp->commandCount(), before + 1);
}

TYPED_TEST(ConnectionDetailsTest, AProbeOfADeadServerClosesTheConnectionWithTheReason) {
    ConnectionMonitor& monitor = connectionMonitor();
    monitor.timeoutEnabled = false;
    monitor.keepAliveSeconds = 1;
    auto doomed = std::make_unique<TypeParam>();
    ASSERT_TRUE(doomed->start()) << doomed->error();
    auto connection = this->detailsFor(*doomed, true);
    ASSERT_TRUE(connection->connectFtp()) << lastErrorText();
    doomed.reset();  // the server and its sessions end

    std::this_thread::sleep_for(2100ms);
    EXPECT_FALSE(monitor.check());
    EXPECT_EQ(lastErrorText(), "Connection with the server was terminated");
    EXPECT_FALSE(connection->isConnected());
    EXPECT_FALSE(monitor.isActive());
}

TEST_F(LiveConnectionTest, StopDuringALoginThatHangsEndsItAtOnce) {
    SilentListener silent;
    ASSERT_NE(silent.port(), 0);
    commandTimeout = 30;  // the socket limits alone would take half a minute
    auto connection = std::make_shared<ConnectionDetails>();
    connection->server = "127.0.0.1";
    connection->port = silent.port();
    std::thread stopper([] {
        std::this_thread::sleep_for(300ms);
        requestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection->connectFtp());
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(connection->isConnected());
    // The login in progress was cut off too, not left to run out its limits.
    EXPECT_TRUE(waitForCommandWorkers(5s));
    EXPECT_FALSE(connection->isConnected());
}

TEST_F(LiveConnectionTest, AServerSilentAtLoginTimesOutOnTheSocketLimit) {
    SilentListener silent;
    ASSERT_NE(silent.port(), 0);
    commandTimeout = 1;
    maxCommandRetries = 0;
    auto connection = std::make_shared<ConnectionDetails>();
    connection->server = "127.0.0.1";
    connection->port = silent.port();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection->connectFtp());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(lastErrorText(), "Timed out");
}

TEST(FtpSocketLimits, FollowTheCommandTimeoutAndAreNeverEndless) {
    const unsigned saved = commandTimeout.exchange(7);
    EXPECT_EQ(ftpSocketLimits().io, 7s);
    EXPECT_EQ(ftpSocketLimits().connect, 7s);
    commandTimeout = 0;
    EXPECT_EQ(ftpSocketLimits().io, 1h);
    EXPECT_EQ(ftpSocketLimits().connect, 1h);
    commandTimeout = saved;
}
