// The FTP client against real servers on 127.0.0.1: pyftpdlib (MLSD, a named user) and vsftpd
// (LIST only, anonymous login). Each test gets a server of its own on a temporary root folder,
// so the test can prepare and check files directly on disk.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/ftp/FtpConnection.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftp::FtpConnection;
using ftp::FtpError;
using ftp::ListingEntry;
using ftp::PathKind;
using testsupport::PyFtpdDosServer;
using testsupport::PyFtpdListServer;
using testsupport::PyFtpdServer;
using testsupport::randomBytes;
using testsupport::readFile;
using testsupport::VsftpdServer;
using testsupport::writeFile;

namespace {

void setModified(const fs::path& path, std::time_t when) {
    timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// A time zone well away from UTC for one test, so that a listing time left in UTC shows.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

const ListingEntry* findEntry(const std::vector<ListingEntry>& entries, const std::string& name) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const ListingEntry& e) { return e.name == name; });
    return it == entries.end() ? nullptr : &*it;
}

template <typename Server>
class FtpClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.start()) << server_.error(); }

    std::shared_ptr<FtpConnection> connect(bool passive = true) {
        auto connection = std::make_shared<FtpConnection>();
        ftp::FtpResult result = connection->connect(server_.host(), server_.port(), server_.user(),
                                                    server_.password(), passive, kTimeouts);
        EXPECT_TRUE(result) << result.text << "\n" << server_.serverLog();
        return connection;
    }

    // Short enough that a fault ends a test in seconds, long enough for a busy machine.
    static constexpr ftp::FtpTimeouts kTimeouts{10s, 20s};
    Server server_;
};

using Servers = ::testing::Types<PyFtpdServer, VsftpdServer, PyFtpdListServer, PyFtpdDosServer>;
TYPED_TEST_SUITE(FtpClientTest, Servers, testsupport::ServerKindNames);

TYPED_TEST(FtpClientTest, LogsInWithFewCommandsAndRefusesAWrongPassword) {
    auto connection = this->connect();
    ASSERT_TRUE(connection->isConnected());
    // USER, PASS, FEAT, OPTS UTF8 ON, TYPE I at most: nothing else before the first request.
    EXPECT_LE(connection->commandCount(), 5u);
    EXPECT_EQ(connection->supportsMlsd(), this->server_.offersMlsd());

    FtpConnection refused;
    ftp::FtpResult result =
        refused.connect(this->server_.host(), this->server_.port(), this->server_.rejectedUser(),
                        this->server_.rejectedPassword(), true, this->kTimeouts);
    EXPECT_EQ(result.error, FtpError::Fatal);
    EXPECT_EQ(result.replyCode, 530);
    EXPECT_EQ(result.text.substr(0, 3), "530") << result.text;
    EXPECT_FALSE(refused.isConnected());
    std::string directory;
    EXPECT_EQ(refused.printWorkingDirectory(directory).error, FtpError::ConnectionLost);
}

TYPED_TEST(FtpClientTest, ChangesIntoFoldersAndBack) {
    fs::create_directories(this->server_.root() / "web site" / "img");
    auto connection = this->connect();
    std::string directory;
    ASSERT_TRUE(connection->printWorkingDirectory(directory));
    EXPECT_EQ(directory, this->server_.home());

    ASSERT_TRUE(connection->changeDirectory(this->server_.remote("web site/img")));
    const auto before = connection->commandCount();
    ASSERT_TRUE(connection->printWorkingDirectory(directory));
    EXPECT_EQ(directory, this->server_.remote("web site/img"));
    EXPECT_EQ(connection->commandCount(), before + 1);

    ASSERT_TRUE(connection->changeDirectory(this->server_.home()));
    ASSERT_TRUE(connection->printWorkingDirectory(directory));
    EXPECT_EQ(directory, this->server_.home());

    ftp::FtpResult missing = connection->changeDirectory(this->server_.remote("no such folder"));
    EXPECT_EQ(missing.error, FtpError::NotFound);
    EXPECT_EQ(missing.text.substr(0, 3), "550") << missing.text;
    ASSERT_TRUE(connection->printWorkingDirectory(directory));
    EXPECT_EQ(directory, this->server_.home());
}

TYPED_TEST(FtpClientTest, CreatesRemovesDeletesAndRenames) {
    const fs::path root = this->server_.root();
    writeFile(root / "old name.html", "<p>page</p>");
    writeFile(root / "gone.txt", "x");
    auto connection = this->connect();

    ASSERT_TRUE(connection->makeDirectory(this->server_.remote("new folder")));
    EXPECT_TRUE(fs::is_directory(root / "new folder"));
    ASSERT_TRUE(connection->removeDirectory(this->server_.remote("new folder")));
    EXPECT_FALSE(fs::exists(root / "new folder"));
    EXPECT_EQ(connection->removeDirectory(this->server_.remote("new folder")).error,
              FtpError::NotFound);

    ASSERT_TRUE(connection->deleteFile(this->server_.remote("gone.txt")));
    EXPECT_FALSE(fs::exists(root / "gone.txt"));
    ftp::FtpResult again = connection->deleteFile(this->server_.remote("gone.txt"));
    EXPECT_EQ(again.error, FtpError::NotFound);
    EXPECT_EQ(again.replyCode, 550);

    ASSERT_TRUE(connection->rename(this->server_.remote("old name.html"),
                                   this->server_.remote("new name.html")));
    EXPECT_FALSE(fs::exists(root / "old name.html"));
    EXPECT_EQ(readFile(root / "new name.html"), "<p>page</p>");
    EXPECT_EQ(
        connection->rename(this->server_.remote("old name.html"), this->server_.remote("x.html"))
            .error,
        FtpError::NotFound);
    EXPECT_FALSE(fs::exists(root / "x.html"));
}

TYPED_TEST(FtpClientTest, ListsNamesWithSpacesSizesKindsAndLocalTimes) {
    // Compared in a zone five hours east of UTC, so that MLSD times left in UTC would show.
    ScopedTimeZone zone("KLV-5");
    TypeParam server;  // started after the zone is set: vsftpd writes its times in it
    ASSERT_TRUE(server.start()) << server.error();
    const fs::path site = server.root() / "my site";
    fs::create_directories(site / "a folder");
    fs::create_directories(site / "empty");
    writeFile(site / "with space.txt", std::string(1234, 'a'));
    writeFile(site / "two  spaces.htm", "");
    writeFile(site / ".htaccess", "deny");
    std::tm old{};
    old.tm_year = 2021 - 1900;
    old.tm_mon = 2;
    old.tm_mday = 4;
    old.tm_hour = 5;
    old.tm_min = 6;
    old.tm_sec = 7;
    old.tm_isdst = -1;
    const std::time_t oldTime = std::mktime(&old);
    setModified(site / "with space.txt", oldTime);
    const std::time_t recentTime = std::time(nullptr) - 2 * 3600;
    setModified(site / "two  spaces.htm", recentTime);

    FtpConnection connection;
    ASSERT_TRUE(connection.connect(server.host(), server.port(), server.user(), server.password(),
                                   true, this->kTimeouts));
    std::vector<ListingEntry> entries;
    ftp::FtpResult result = connection.list(server.remote("my site"), entries);
    ASSERT_TRUE(result) << result.text;
    ASSERT_EQ(entries.size(), 5u);

    const ListingEntry* file = findEntry(entries, "with space.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->type, ftp::EntryType::File);
    EXPECT_EQ(file->size, 1234u);
    // A file older than six months: LIST gives the day only, MLSD the second.
    EXPECT_EQ(file->year, 2021);
    EXPECT_EQ(file->month, 3);
    EXPECT_EQ(file->day, 4);
    EXPECT_FALSE(file->timeIsUtc);
    if (server.offersMlsd()) {
        EXPECT_EQ(file->precision, ftp::TimePrecision::Second);
        EXPECT_EQ(file->hour, 5);
        EXPECT_EQ(file->minute, 6);
        EXPECT_EQ(file->second, 7);
    }

    const ListingEntry* recent = findEntry(entries, "two  spaces.htm");
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(recent->size, 0u);
    std::tm expected{};
    localtime_r(&recentTime, &expected);
    EXPECT_EQ(recent->year, expected.tm_year + 1900);
    EXPECT_EQ(recent->month, expected.tm_mon + 1);
    EXPECT_EQ(recent->day, expected.tm_mday);
    EXPECT_EQ(recent->hour, expected.tm_hour);
    EXPECT_EQ(recent->minute, expected.tm_min);
    EXPECT_GE(recent->precision, ftp::TimePrecision::Minute);

    const ListingEntry* folder = findEntry(entries, "a folder");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->type, ftp::EntryType::Directory);
    EXPECT_NE(findEntry(entries, ".htaccess"), nullptr);

    // An empty folder is a successful empty listing.
    ftp::FtpResult empty = connection.list(server.remote("my site/empty"), entries);
    ASSERT_TRUE(empty) << empty.text;
    EXPECT_TRUE(entries.empty());
}

// However a server wants its LIST, that is found out on the first listing: from then on each
// listing is one data connection and one command, dot files included.
TYPED_TEST(FtpClientTest, ListingsCostOneCommandOnceTheServersFormIsKnown) {
    const fs::path site = this->server_.root() / "site";
    fs::create_directories(site / "sub");
    writeFile(site / ".htaccess", "deny");
    writeFile(site / "index.html", "<html/>");
    auto connection = this->connect();
    std::vector<ListingEntry> entries;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const auto sent = connection->commandCount();
        ftp::FtpResult result = connection->list(this->server_.remote("site") + "/", entries);
        ASSERT_TRUE(result) << result.text;
        std::vector<std::string> names;
        for (const ListingEntry& entry : entries) {
            names.push_back(entry.name);
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{".htaccess", "index.html", "sub"}));
        if (round > 0) {
            EXPECT_EQ(connection->commandCount(), sent + 2);
        }
    }
}

// A listing told that another transfer follows sends that transfer's EPSV ahead of its own
// final reply. Whatever comes next (a listing, an upload, a plain command, a listing that fails,
// a new login's worth of facts), each reply still meets its own command.
TYPED_TEST(FtpClientTest, AnEpsvSentAheadIsTakenByWhateverComesNext) {
    const fs::path site = this->server_.root() / "ahead";
    for (const char* folder : {"a", "b", "c"}) {
        fs::create_directories(site / folder);
        writeFile(site / folder / "page.html", folder);
    }
    const testsupport::TempFolder local("kelvane-ahead");
    writeFile(local.path() / "up.bin", randomBytes(70000, 7));
    const auto remote = [this](const std::string& name) {
        return this->server_.remote("ahead/" + name);
    };
    auto connection = this->connect();
    const std::function<bool()> follows = [] { return true; };
    std::vector<ListingEntry> entries;
    const auto names = [&entries] {
        std::vector<std::string> found;
        for (const ListingEntry& entry : entries) {
            found.push_back(entry.name);
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::vector<std::string> page{"page.html"};

    ASSERT_TRUE(connection->list(remote("a/"), entries, {}, follows));
    EXPECT_EQ(names(), page);
    // Listings the form of which is known cost one command each after the first.
    ASSERT_TRUE(connection->list(remote("b/"), entries, {}, follows));
    const auto sent = connection->commandCount();
    ftp::FtpResult listed = connection->list(remote("c/"), entries, {}, follows);
    ASSERT_TRUE(listed) << listed.text;
    EXPECT_EQ(names(), page);
    EXPECT_EQ(connection->commandCount(), sent + 2);
    // An upload takes the EPSV sent ahead.
    ftp::FtpResult sentFile = connection->upload(local.path() / "up.bin", remote("c/up.bin"));
    ASSERT_TRUE(sentFile) << sentFile.text;
    EXPECT_EQ(readFile(site / "c" / "up.bin"), readFile(local.path() / "up.bin"));
    // A command without data reads that EPSV's reply first.
    ASSERT_TRUE(connection->list(remote("a/"), entries, {}, follows));
    ftp::FtpResult made = connection->makeDirectory(remote("d"));
    ASSERT_TRUE(made) << made.text;
    EXPECT_TRUE(fs::is_directory(site / "d"));
    // A listing of a missing folder fails as ever, and the connection stays in step.
    ASSERT_TRUE(connection->list(remote("b/"), entries, {}, follows));
    EXPECT_FALSE(connection->list(remote("missing/"), entries, {}, follows));
    EXPECT_TRUE(connection->isConnected());
    ASSERT_TRUE(connection->list(remote("c/"), entries));
    EXPECT_EQ(names(), (std::vector<std::string>{"page.html", "up.bin"}));
    EXPECT_TRUE(connection->noop());
    EXPECT_FALSE(connection->lostStep());

    // In active mode the server connects to us; nothing is sent ahead, and nothing breaks.
    auto active = this->connect(false);
    ASSERT_TRUE(active->list(remote("a/"), entries, {}, follows));
    ASSERT_TRUE(active->list(remote("b/"), entries, {}, follows));
    EXPECT_EQ(names(), page);
    EXPECT_TRUE(active->noop());
}

// A second login to the same server takes the first one's facts instead of asking again, and
// lists as the first does.
TYPED_TEST(FtpClientTest, ASecondLoginTakesTheFirstOnesFacts) {
    fs::create_directories(this->server_.root() / "f" / "sub");
    auto first = this->connect();
    const ftp::SessionFacts facts = first->sessionFacts();
    ASSERT_TRUE(facts.known);
    EXPECT_EQ(facts.features.mlsd, this->server_.offersMlsd());

    FtpConnection second;
    second.takeFactsFrom(first);
    ftp::FtpResult result =
        second.connect(this->server_.host(), this->server_.port(), this->server_.user(),
                       this->server_.password(), true, this->kTimeouts);
    ASSERT_TRUE(result) << result.text;
    // No FEAT, and no OPTS UTF8 ON where the first login's was refused.
    EXPECT_LT(second.commandCount(), first->commandCount());
    EXPECT_EQ(second.supportsMlsd(), this->server_.offersMlsd());
    std::vector<ListingEntry> entries;
    ASSERT_TRUE(second.list(this->server_.remote("f") + "/", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "sub");
    // Its uploads still go byte for byte (a server in ASCII mode rewrites line ends).
    const testsupport::TempFolder local("kelvane-facts");
    const std::string text = "line one\r\nline two\r\n\r\n" + randomBytes(3000, 3);
    writeFile(local.path() / "page.html", text);
    ftp::FtpResult sent =
        second.upload(local.path() / "page.html", this->server_.remote("f/page.html"));
    ASSERT_TRUE(sent) << sent.text;
    EXPECT_EQ(readFile(this->server_.root() / "f" / "page.html"), text);
}

TYPED_TEST(FtpClientTest, ListsAFolderOfThousandsOfEntries) {
    const fs::path big = this->server_.root() / "big";
    fs::create_directories(big);
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i) {
        writeFile(big / ("page " + std::to_string(i) + ".html"), std::string(i % 97, 'p'));
    }
    for (int i = 0; i < 20; ++i) {
        fs::create_directories(big / ("dir" + std::to_string(i)));
    }
    auto connection = this->connect();
    ASSERT_TRUE(connection->changeDirectory(this->server_.remote("big")));
    std::vector<ListingEntry> entries;
    const auto start = std::chrono::steady_clock::now();
    ftp::FtpResult result = connection->list("", entries);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(result) << result.text;
    EXPECT_LT(took, 10s);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kFiles + 20));

    std::map<std::string, const ListingEntry*> byName;
    for (const ListingEntry& entry : entries) {
        byName[entry.name] = &entry;
    }
    ASSERT_EQ(byName.size(), entries.size()) << "a name came twice";
    for (int i = 0; i < kFiles; ++i) {
        auto it = byName.find("page " + std::to_string(i) + ".html");
        ASSERT_NE(it, byName.end()) << i;
        EXPECT_EQ(it->second->type, ftp::EntryType::File);
        EXPECT_EQ(it->second->size, static_cast<std::uint64_t>(i % 97)) << i;
    }
    for (int i = 0; i < 20; ++i) {
        auto it = byName.find("dir" + std::to_string(i));
        ASSERT_NE(it, byName.end()) << i;
        EXPECT_EQ(it->second->type, ftp::EntryType::Directory);
    }
}

TYPED_TEST(FtpClientTest, ListingAMissingFolderFailsInsteadOfComingBackEmpty) {
    fs::create_directories(this->server_.root() / "here");
    auto connection = this->connect();
    std::vector<ListingEntry> entries;
    ftp::FtpResult missing = connection->list(this->server_.remote("not here"), entries);
    EXPECT_FALSE(missing);
    // pyftpdlib answers "501 No such directory." to MLSD, vsftpd a listing checked by CWD.
    EXPECT_TRUE(missing.replyCode == 550 || missing.replyCode == 501) << missing.text;
    EXPECT_FALSE(missing.text.empty());
    // The failure leaves the connection usable and where it was.
    std::string directory;
    ASSERT_TRUE(connection->printWorkingDirectory(directory));
    EXPECT_EQ(directory, this->server_.home());
    EXPECT_TRUE(connection->list(this->server_.remote("here"), entries));
}

TYPED_TEST(FtpClientTest, AFolderTheServerMayNotOpenIsAFailureNotAnEmptyFolder) {
    // vsftpd serves anonymous sessions as an unprivileged user, so a folder that only its owner
    // may read cannot be opened; servers running as the owner read it and are not this case.
    const fs::path closed = this->server_.root() / "closed";
    fs::create_directories(closed);
    writeFile(closed / "page.html", "<html></html>");
    fs::permissions(closed, fs::perms::owner_all, fs::perm_options::replace);
    auto connection = this->connect();
    std::vector<ListingEntry> entries;
    ftp::FtpResult listed = connection->list(this->server_.remote("closed"), entries);
    if (listed && entries.size() == 1) {
        GTEST_SKIP() << this->server_.name() << " reads the folder as its owner";
    }
    EXPECT_FALSE(listed) << entries.size() << " entries";
    EXPECT_NE(listed.text.find("failed to open directory"), std::string::npos) << listed.text;
    EXPECT_TRUE(entries.empty());
}

TYPED_TEST(FtpClientTest, UploadsEmptyAndLargeFilesByteForByteInBothModes) {
    testsupport::TempFolder local;
    const std::string large = randomBytes(5 * 1024 * 1024 + 17, 1);
    writeFile(local.path() / "large.bin", large);
    writeFile(local.path() / "empty.txt", "");
    writeFile(this->server_.root() / "replaced.bin", "older and longer content");

    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto connection = this->connect(passive);
        const std::string suffix = passive ? "-p" : "-a";

        std::vector<std::uint64_t> reported;
        ftp::FtpResult result = connection->upload(local.path() / "large.bin",
                                                   this->server_.remote("large" + suffix + ".bin"),
                                                   [&](std::uint64_t sent) {
                                                       reported.push_back(sent);
                                                       return true;
                                                   });
        ASSERT_TRUE(result) << result.text;
        EXPECT_TRUE(readFile(this->server_.root() / ("large" + suffix + ".bin")) == large);
        ASSERT_FALSE(reported.empty());
        EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
        EXPECT_EQ(reported.back(), large.size());
        // Large writes: a 5 MiB file in no more than a hundred chunks.
        EXPECT_LE(reported.size(), 100u);

        ASSERT_TRUE(connection->upload(local.path() / "empty.txt",
                                       this->server_.remote("empty" + suffix + ".txt")));
        const fs::path emptyRemote = this->server_.root() / ("empty" + suffix + ".txt");
        ASSERT_TRUE(fs::exists(emptyRemote));
        EXPECT_EQ(fs::file_size(emptyRemote), 0u);

        ASSERT_TRUE(
            connection->upload(local.path() / "empty.txt", this->server_.remote("replaced.bin")));
        EXPECT_EQ(fs::file_size(this->server_.root() / "replaced.bin"), 0u);

        std::vector<ListingEntry> entries;
        ASSERT_TRUE(connection->list(this->server_.home(), entries));
        const ListingEntry* listed = findEntry(entries, "large" + suffix + ".bin");
        ASSERT_NE(listed, nullptr);
        EXPECT_EQ(listed->size, large.size());
    }

    FtpConnection connection;
    ASSERT_TRUE(connection.connect(this->server_.host(), this->server_.port(), this->server_.user(),
                                   this->server_.password(), true, this->kTimeouts));
    ftp::FtpResult missingLocal =
        connection.upload(local.path() / "does-not-exist", this->server_.remote("never.txt"));
    EXPECT_EQ(missingLocal.error, FtpError::LocalFile);
    EXPECT_EQ(missingLocal.text, "Could not open file for reading");
    EXPECT_FALSE(fs::exists(this->server_.root() / "never.txt"));
}

TYPED_TEST(FtpClientTest, CancelledUploadFailsAndLeavesNoPartialFile) {
    testsupport::TempFolder local;
    writeFile(local.path() / "big.bin", randomBytes(3 * 1024 * 1024, 2));
    auto connection = this->connect();
    int calls = 0;
    ftp::FtpResult result = connection->upload(
        local.path() / "big.bin", this->server_.remote("big.bin"), [&](std::uint64_t) {
            return ++calls < 2;  // Stop after the second chunk
        });
    EXPECT_EQ(result.error, FtpError::Cancelled);
    EXPECT_FALSE(result.text.empty());
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(fs::exists(this->server_.root() / "big.bin"));
    // The control connection survived the cut data connection.
    std::string directory;
    EXPECT_TRUE(connection->printWorkingDirectory(directory));
}

TYPED_TEST(FtpClientTest, TellsFilesFoldersAndMissingPathsApart) {
    const fs::path root = this->server_.root();
    fs::create_directories(root / "docs" / "sub folder");
    writeFile(root / "docs" / "read me.txt", "r");
    auto connection = this->connect();
    ASSERT_TRUE(connection->changeDirectory(this->server_.remote("docs")));
    std::string before;
    ASSERT_TRUE(connection->printWorkingDirectory(before));

    struct Case {
        std::string path;
        PathKind kind;
    };
    const Case cases[] = {
        {this->server_.remote("docs/read me.txt"), PathKind::File},
        {"read me.txt", PathKind::File},
        {this->server_.remote("docs/sub folder"), PathKind::Directory},
        {"sub folder", PathKind::Directory},
        {this->server_.remote("docs/missing.txt"), PathKind::Missing},
        {this->server_.remote("nowhere/missing"), PathKind::Missing},
    };
    for (const Case& c : cases) {
        PathKind kind = PathKind::Missing;
        ftp::FtpResult result = connection->exists(c.path, kind);
        ASSERT_TRUE(result) << c.path << ": " << result.text;
        EXPECT_EQ(kind, c.kind) << c.path;
    }
    // The test never moves the server's current directory.
    std::string after;
    ASSERT_TRUE(connection->printWorkingDirectory(after));
    EXPECT_EQ(after, before);

    // A file answers in one exchange on either server (MLST or SIZE).
    const auto sent = connection->commandCount();
    PathKind kind = PathKind::Missing;
    ASSERT_TRUE(connection->exists(this->server_.remote("docs/read me.txt"), kind));
    EXPECT_EQ(connection->commandCount(), sent + 1);
}

TYPED_TEST(FtpClientTest, RefusesNamesWithLineBreaksWithoutSendingAnything) {
    const fs::path root = this->server_.root();
    writeFile(root / "victim.txt", "keep me");
    testsupport::TempFolder local;
    writeFile(local.path() / "f.txt", "f");
    auto connection = this->connect();
    const auto sent = connection->commandCount();

    const std::string injected = "x\r\nDELE victim.txt";
    const std::string lineFeed = "x\nDELE victim.txt";
    std::vector<ListingEntry> entries;
    PathKind kind;
    const ftp::FtpResult results[] = {
        connection->deleteFile(injected),
        connection->deleteFile(lineFeed),
        connection->makeDirectory(injected),
        connection->removeDirectory(injected),
        connection->changeDirectory(lineFeed),
        connection->rename("victim.txt", injected),
        connection->rename(injected, "other.txt"),
        connection->list(injected, entries),
        connection->exists(injected, kind),
        connection->upload(local.path() / "f.txt", injected),
    };
    for (const ftp::FtpResult& result : results) {
        EXPECT_EQ(result.error, FtpError::InvalidName);
        EXPECT_NE(result.text.find("line break"), std::string::npos) << result.text;
    }
    EXPECT_EQ(connection->commandCount(), sent);
    EXPECT_EQ(readFile(root / "victim.txt"), "keep me");
    EXPECT_TRUE(connection->isConnected());
}

TYPED_TEST(FtpClientTest, ListsInActiveModeAndQuits) {
    writeFile(this->server_.root() / "index.html", "<html/>");
    auto connection = this->connect(false);
    std::vector<ListingEntry> entries;
    for (int round = 0; round < 2; ++round) {
        ftp::FtpResult result = connection->list(this->server_.home(), entries);
        ASSERT_TRUE(result) << result.text;
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, "index.html");
        EXPECT_EQ(entries[0].size, 7u);
    }
    connection->close();
    EXPECT_FALSE(connection->isConnected());
    EXPECT_EQ(connection->noop().error, FtpError::ConnectionLost);
}

// ---- pyftpdlib set up to refuse the extended commands or to give a useless PASV address ----

TEST(FtpClientFallbackTest, FallsBackToPasvOnceAndReplacesAnUnusableAddress) {
    // EPSV refused, and PASV names 0.0.0.0 as a server behind NAT might.
    PyFtpdServer server(PyFtpdServer::Options{false, true, "0.0.0.0"});
    ASSERT_TRUE(server.start()) << server.error();
    writeFile(server.root() / "a.txt", "abc");
    FtpConnection connection;
    ASSERT_TRUE(connection.connect(server.host(), server.port(), server.user(), server.password(),
                                   true, {10s, 20s}));
    std::vector<ListingEntry> entries;
    ftp::FtpResult first = connection.list("/", entries);
    ASSERT_TRUE(first) << first.text;
    EXPECT_EQ(entries.size(), 1u);
    // The refusal is remembered: PASV and MLSD only from now on.
    const auto sent = connection.commandCount();
    ASSERT_TRUE(connection.list("/", entries));
    EXPECT_EQ(connection.commandCount(), sent + 2);
    EXPECT_EQ(entries.size(), 1u);
}

TEST(FtpClientFallbackTest, AFailedDataConnectionIsAFailureNotAnEmptyFolder) {
    // PASV names 127.0.0.2, where nothing listens: every data connection is refused.
    PyFtpdServer server(PyFtpdServer::Options{false, true, "127.0.0.2"});
    ASSERT_TRUE(server.start()) << server.error();
    testsupport::TempFolder local;
    writeFile(local.path() / "page.html", "<p>hello</p>");
    FtpConnection connection;
    ASSERT_TRUE(connection.connect(server.host(), server.port(), server.user(), server.password(),
                                   true, {10s, 20s}));
    std::vector<ListingEntry> entries{ListingEntry{}};
    ftp::FtpResult listed = connection.list("/", entries);
    EXPECT_EQ(listed.error, FtpError::Transient);
    EXPECT_NE(listed.text.find("data connection"), std::string::npos) << listed.text;
    EXPECT_TRUE(entries.empty());

    ftp::FtpResult uploaded = connection.upload(local.path() / "page.html", "/page.html");
    EXPECT_FALSE(uploaded);
    EXPECT_FALSE(fs::exists(server.root() / "page.html"));
    // Only the data connection failed; the session goes on.
    std::string directory;
    EXPECT_TRUE(connection.printWorkingDirectory(directory));
    EXPECT_TRUE(connection.isConnected());
}

// pyftpdlib answers a command line longer than 2,048 bytes twice. The second answer must not be
// taken for the reply to the next command: that command fails and the connection closes.
TEST(FtpClientFallbackTest, AnOverLongCommandLineClosesTheConnectionBeforeRepliesMix) {
    PyFtpdServer server;
    ASSERT_TRUE(server.start()) << server.error();
    testsupport::TempFolder local;
    writeFile(local.path() / "page.html", "<p>hello</p>");
    FtpConnection connection;
    ASSERT_TRUE(connection.connect(server.host(), server.port(), server.user(), server.password(),
                                   true, {10s, 20s}));
    const ftp::FtpResult tooLong = connection.makeDirectory("/" + std::string(2100, 'd'));
    EXPECT_EQ(tooLong.replyCode, 500) << tooLong.text;
    const ftp::FtpResult next = connection.upload(local.path() / "page.html", "/page.html");
    EXPECT_EQ(next.error, FtpError::OutOfStep) << next.text;
    EXPECT_FALSE(connection.isConnected());
    EXPECT_FALSE(fs::exists(server.root() / "page.html"));
}

TEST(FtpClientFallbackTest, FallsBackToPortWhenEprtIsRefused) {
    PyFtpdServer server(PyFtpdServer::Options{true, false, {}});
    ASSERT_TRUE(server.start()) << server.error();
    testsupport::TempFolder local;
    writeFile(local.path() / "page.html", "<p>hello</p>");
    FtpConnection connection;
    ASSERT_TRUE(connection.connect(server.host(), server.port(), server.user(), server.password(),
                                   false, {10s, 20s}));
    for (int round = 0; round < 2; ++round) {
        ftp::FtpResult result = connection.upload(local.path() / "page.html", "/page.html");
        ASSERT_TRUE(result) << result.text;
    }
    EXPECT_EQ(readFile(server.root() / "page.html"), "<p>hello</p>");
    // After the first refusal EPRT is not tried again: PORT, STOR.
    const auto sent = connection.commandCount();
    ASSERT_TRUE(connection.upload(local.path() / "page.html", "/again.html"));
    EXPECT_EQ(connection.commandCount(), sent + 2);
}

}  // namespace
