// Runs over several logins against real servers: the same plan, log, results and server tree as
// a run over one connection, on servers that refuse extra sessions and when a session breaks.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "engine/LogFile.h"
#include "integration/EngineRunSupport.h"
#include "transfer/ConnectionPool.h"
#include "transfer/Progress.h"

namespace {

using namespace enginerun;
using testsupport::readFile;

// The log of a run without its clock: dates and times differ from run to run.
std::string maskedLog(const fs::path& file) {
    static const std::regex date("(Mon|Tue|Wed|Thu|Fri|Sat|Sun) [0-9]{2} [A-Za-z]+ [0-9]{4}");
    static const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(std::regex_replace(readFile(file), date, "<date>"), time, "<time>");
}

// A site with every kind of action: files to overwrite (their size differs) and to add at the
// top and in folders both sides have, whole folders to add (nested), files and a folder to
// delete, and files that stay.
std::map<std::string, std::string> localSite() {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 12; ++i) {
        files["page" + std::to_string(i) + ".html"] = "page " + std::to_string(i);
    }
    for (const char* folder : {"css", "img", "docs"}) {
        for (int i = 0; i < 6; ++i) {
            files[std::string(folder) + "/f" + std::to_string(i) + ".txt"] =
                std::string(100 + i, 'x');
        }
    }
    for (int i = 0; i < 5; ++i) {
        files["new/n" + std::to_string(i) + ".html"] = "new " + std::to_string(i);
        files["new/deep/d" + std::to_string(i) + ".html"] = "deep " + std::to_string(i);
    }
    files["empty/"] = "";
    return files;
}

std::map<std::string, std::string> serverSite() {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 12; i += 2) {
        files["page" + std::to_string(i) + ".html"] = "page " + std::to_string(i);  // same
    }
    files["page1.html"] = "an older and longer page 1";  // overwritten
    files["css/f0.txt"] = std::string(100, 'x');
    files["css/f1.txt"] = "short";
    files["img/"] = "";
    files["old.html"] = "gone";
    files["docs/old.txt"] = "gone too";
    files["attic/a.txt"] = "attic";
    files["attic/inner/b.txt"] = "attic inner";
    return files;
}

template <typename Server>
class ParallelRunTest : public EngineRunFixture<Server> {
  protected:
    // Puts the server's folder in its first state, runs the site with `logins` and returns the
    // masked log.
    std::string runWith(int logins, const std::string& logName) {
        const fs::path server = this->server_.root() / "www";
        fs::remove_all(server);
        makeTree(server, serverSite());
        setTreeTime(server, wholeMinuteHoursAgo(5));
        ftpConnections = logins;
        const fs::path log = this->work_.path() / logName;
        Profile profile = this->silentProfile(local_, "www");
        profile.compare_on_time = false;  // by size: the two runs see the same plan
        profile.log_file_on = true;
        profile.log_file_path = log.string();
        this->openAndRun(profile, "site.kvp");
        EXPECT_FALSE(this->view_.reports.empty()) << this->prompterMessages();
        EXPECT_EQ(treeOf(server), treeOf(local_)) << logins << " logins";
        return maskedLog(log);
    }

    void makeLocal() {
        local_ = this->localFolder("site");
        makeTree(local_, localSite());
        setTreeTime(local_, wholeMinuteHoursAgo(3));
    }

    fs::path local_;
};

TYPED_TEST_SUITE(ParallelRunTest, Servers, ServerNames);

TYPED_TEST(ParallelRunTest, FourLoginsGiveTheLogResultsAndTreeOfOne) {
    this->makeLocal();
    const std::string one = this->runWith(1, "one.log");
    ASSERT_FALSE(this->view_.reports.empty());
    const Report first = this->lastReport();
    EXPECT_EQ(this->synchroniser_.lastRunLogins(), 1);

    const std::string four = this->runWith(4, "four.log");
    ASSERT_EQ(this->view_.reports.size(), 2u);
    const Report second = this->lastReport();
    EXPECT_EQ(this->synchroniser_.lastRunLogins(), 4);

    EXPECT_EQ(four, one);
    EXPECT_EQ(second.heading, "Synchronisation done:\n");
    EXPECT_EQ(second.lists.overwrittenCount, first.lists.overwrittenCount);
    EXPECT_EQ(second.lists.addedFilesCount, first.lists.addedFilesCount);
    EXPECT_EQ(second.lists.addedFoldersCount, first.lists.addedFoldersCount);
    EXPECT_EQ(second.lists.deletedFilesCount, first.lists.deletedFilesCount);
    EXPECT_EQ(second.lists.deletedFoldersCount, first.lists.deletedFoldersCount);
    // 4 + 6 + 6 in the folders, 5 pages, 10 in the new folders.
    EXPECT_EQ(second.lists.addedFilesCount, 31u);
    EXPECT_TRUE(this->synchroniser_.problemList.empty());
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompterMessages();
    // Nothing is left to do, and the check of the whole site says so over four logins too, in
    // active mode, where each login's listings come in on connections the server opens to us.
    this->connection_->passive = false;
    Profile again = this->silentProfile(this->local_, "www");
    again.compare_on_time = false;
    this->openAndRun(again, "again.kvp");
    EXPECT_EQ(actionsDone(this->lastReport()), 0u);
    EXPECT_TRUE(this->synchroniser_.problemList.empty());
}

TYPED_TEST(ParallelRunTest, FailuresGiveTheProblemLinesOfOneLoginInTheirOrder) {
    this->makeLocal();
    // Folders on the server where the run wants files: each upload to them fails.
    const auto block = [this] {
        for (const char* name : {"page3.html/", "css/f4.txt/", "new/"}) {
            fs::create_directories(this->server_.root() / "www" / name / "keep");
        }
    };
    const auto runBlocked = [&](int logins) {
        const fs::path server = this->server_.root() / "www";
        fs::remove_all(server);
        makeTree(server, serverSite());
        block();
        ftpConnections = logins;
        Profile profile = this->silentProfile(this->local_, "www");
        profile.compare_on_time = false;
        this->openAndRun(profile, "blocked" + std::to_string(logins) + ".kvp");
        return this->synchroniser_.problemList;
    };
    const ProblemList one = runBlocked(1);
    const ProblemList four = runBlocked(4);
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(four, one);
}

// The logins list folders ahead of the walk as deep as the tree goes, and never below a folder
// the walk leaves alone.
TYPED_TEST(ParallelRunTest, ListingsAheadGoDeepButNotBelowAnExcludedFolder) {
    std::map<std::string, std::string> local;
    std::map<std::string, std::string> server;
    for (const char* chain : {"a/b/c/d/", "e/f/g/", "h/"}) {
        std::string folder;
        for (const char* at = chain; *at != '\0'; at += 2) {
            folder += std::string(at, 2);
            local[folder + "same.txt"] = "same";
            server[folder + "same.txt"] = "same";
            local[folder + "new.txt"] = "new in " + folder;
        }
    }
    // Below a folder that is itself listed ahead.
    local["a/b/skip/x/y/local.txt"] = "excluded";
    server["a/b/skip/x/y/z/server.txt"] = "left alone";
    this->local_ = this->localFolder("deep");
    makeTree(this->local_, local);
    const auto runWith = [&](int logins, const std::string& name) {
        const fs::path www = this->server_.root() / "www";
        fs::remove_all(www);
        makeTree(www, server);
        ftpConnections = logins;
        const fs::path log = this->work_.path() / (name + ".log");
        Profile profile = this->silentProfile(this->local_, "www");
        profile.compare_on_time = false;
        profile.log_file_on = true;
        profile.log_file_path = log.string();
        profile.exclusions.addPath((this->local_ / "a/b/skip").string() + "/");
        this->openAndRun(profile, "deep.kvp");
        EXPECT_TRUE(this->synchroniser_.problemList.empty());
        EXPECT_EQ(readFile(www / "a/b/c/d/new.txt"), "new in a/b/c/d/");
        EXPECT_EQ(readFile(www / "a/b/skip/x/y/z/server.txt"), "left alone");
        EXPECT_FALSE(fs::exists(www / "a/b/skip/x/y/local.txt"));
        return maskedLog(log);
    };
    const std::string one = runWith(1, "one");
    const std::string four = runWith(4, "four");
    EXPECT_EQ(four, one);
    EXPECT_EQ(this->synchroniser_.lastRunLogins(), 4);
    if constexpr (std::is_same_v<TypeParam, testsupport::VsftpdServer>) {
        // vsftpd writes every command to its log.
        const std::string commands = this->server_.serverLog();
        EXPECT_NE(commands.find("/www/a/b/c/d/"), std::string::npos);
        EXPECT_EQ(commands.find("/www/a/b/skip/"), std::string::npos);
    }
}

// The server takes two sessions from one address: the run's own and one more.
template <typename Server>
class LimitedParallelRunTest : public ParallelRunTest<Server> {
  protected:
    void SetUp() override {
        this->server_.limitSessionsPerAddress(2);
        ParallelRunTest<Server>::SetUp();
    }
};

TYPED_TEST_SUITE(LimitedParallelRunTest, Servers, ServerNames);

// vsftpd counts a session until its listener has reaped the session's process, a moment after
// the 221 that the client waits for; under load a new login can meet that count. Waits, for at
// most 5 s, until the listener has only the sessions the client still holds.
void awaitSessionsReaped(pid_t listener, int stillOpen) {
    const std::string children =
        "/proc/" + std::to_string(listener) + "/task/" + std::to_string(listener) + "/children";
    for (int step = 0; step < 500; ++step) {
        std::ifstream in(children);
        if (!in) {
            return;  // a kernel without the list: nothing to wait for
        }
        int count = 0;
        for (pid_t child = 0; in >> child;) {
            ++count;
        }
        if (count <= stillOpen) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TYPED_TEST(LimitedParallelRunTest, TheRunMakesDoWithTheSessionsTheServerAllows) {
    this->makeLocal();
    // The second run's extra login comes once the first run's has gone.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        if constexpr (std::is_same_v<TypeParam, testsupport::VsftpdServer>) {
            awaitSessionsReaped(this->server_.pid(), this->connection_->isConnected() ? 1 : 0);
        }
        this->runWith(4, "limited" + std::to_string(run) + ".log");
        ASSERT_FALSE(this->view_.reports.empty());
        EXPECT_EQ(this->lastReport().heading, "Synchronisation done:\n");
        EXPECT_TRUE(this->synchroniser_.problemList.empty());
        EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompterMessages();
        EXPECT_EQ(this->synchroniser_.lastRunLogins(), 2);
    }
}

// Over FTPS with a certificate nobody vouches for: the person trusts it when the run's own login
// asks, and the extra logins, which start while that login is still being made, log in with the
// certificate that was trusted.
template <typename Server>
class TrustedParallelRunTest : public ParallelRunTest<Server> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(this->server_.useTls());
        ParallelRunTest<Server>::SetUp();
        this->connection_->tlsMode = ftp::TlsMode::Required;
        this->view_.trustEveryCertificate = true;
    }
};

TYPED_TEST_SUITE(TrustedParallelRunTest, Servers, ServerNames);

TYPED_TEST(TrustedParallelRunTest, TheExtraLoginsTrustWhatThePersonTrusted) {
    this->makeLocal();
    this->runWith(4, "trusted.log");
    EXPECT_EQ(this->view_.trustQuestions, 1);
    EXPECT_EQ(this->connection_->tlsFingerprint, this->server_.certificateFingerprint());
    ASSERT_FALSE(this->view_.reports.empty());
    EXPECT_EQ(this->lastReport().heading, "Synchronisation done:\n");
    EXPECT_TRUE(this->synchroniser_.problemList.empty());
    EXPECT_EQ(this->synchroniser_.lastRunLogins(), 4);
}

// vsftpd serves each session in a process of its own, so one session can be cut while the
// others go on.
class BrokenSessionTest : public EngineRunFixture<testsupport::VsftpdServer> {
  protected:
    void SetUp() override {
        // Slow enough that every upload is under way when a session breaks.
        server_.limitUploadRate(64 * 1024);
        EngineRunFixture::SetUp();
    }

    // The newest process below the server's: the session of the last login.
    static pid_t newestSession(pid_t server) {
        pid_t newest = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            std::ifstream stat(entry.path() / "stat");
            std::string pid, command, state;
            pid_t parent = 0;
            stat >> pid >> command >> state >> parent;
            if (parent == server) {
                newest = std::max(newest, static_cast<pid_t>(std::stoi(pid)));
            }
        }
        return newest;
    }
};

TEST_F(BrokenSessionTest, AnUploadOnASessionThatBreaksIsSentAgainOnAnother) {
    const fs::path local = localFolder("site");
    std::map<std::string, std::string> files;
    for (int i = 0; i < 8; ++i) {
        files["big" + std::to_string(i) + ".bin"] = testsupport::randomBytes(48 * 1024, i);
    }
    makeTree(local, files);
    serverFolder("www");
    ftpConnections = 4;

    std::atomic<bool> killed{false};
    std::thread cutter([this, &killed] {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        // Once the uploads are under way on every login, one of the extra sessions is cut.
        while (bytesDone.load() < 64 * 1024 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        const pid_t session = newestSession(server_.pid());
        if (session > 0 && ::kill(session, SIGKILL) == 0) {
            killed = true;
        }
    });
    Profile profile = silentProfile(local, "www");
    openAndRun(profile);
    cutter.join();

    ASSERT_TRUE(killed);
    ASSERT_FALSE(view_.reports.empty()) << prompterMessages();
    EXPECT_EQ(lastReport().heading, "Synchronisation done:\n");
    EXPECT_TRUE(synchroniser_.problemList.empty());
    // Every file is there whole, the one cut short included.
    EXPECT_EQ(treeOf(server_.root() / "www"), treeOf(local));
}

}  // namespace
