// `kelvane-cli run` as a deploy script or cron job would call it, against both real servers:
// the upload of a tree and its report, a dry run, failures and their exit statuses, a batch,
// and Ctrl+C in the middle of a long upload.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "profiles/BatchList.h"
#include "profiles/Profile.h"
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
using testsupport::FtpTestServer;
using testsupport::lines;
using testsupport::PyFtpdDosServer;
using testsupport::PyFtpdListServer;
using testsupport::PyFtpdServer;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::VsftpdServer;
using testsupport::writeFile;

namespace {

// Writes a file, making its folders first.
void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    writeFile(path, bytes);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The five counts of a report as "overwritten added deleted added-folders deleted-folders".
std::string counts(const std::string& report) {
    const char* labels[] = {"Overwritten files:", "Added files:", "Deleted files:",
                            "Added Folders:", "Deleted Folders:"};
    std::string result;
    for (const char* label : labels) {
        const std::size_t at = report.find(label);
        if (at == std::string::npos) {
            return "no " + std::string(label);
        }
        std::istringstream in(report.substr(at + std::string(label).size()));
        std::string value;
        in >> value;
        result += (result.empty() ? "" : " ") + value;
    }
    return result;
}

std::map<std::string, std::string> tree(const fs::path& top) {
    return testsupport::treeOf(top);
}

void setModified(const fs::path& path, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Dates every file below `top` an hour back. Servers without MLSD list times to the minute, so
// a file written in the minute of its upload would look newer than the uploaded copy.
void dateBack(const fs::path& top) {
    const std::time_t hourAgo = std::time(nullptr) - 3600;
    for (const auto& item : fs::recursive_directory_iterator(top)) {
        if (item.is_regular_file()) {
            setModified(item.path(), hourAgo);
        }
    }
}

// A settings folder (short limits, one connection named "site"), a local folder and a place
// for profiles, all in one temporary folder.
class RunSetup {
  public:
    explicit RunSetup(const FtpTestServer& server)
        : server_(server), config_(temp_.path() / "config"), local_(temp_.path() / "local") {
        fs::create_directories(config_);
        fs::create_directories(local_);
        put(config_ / "Kelvane.conf", "CommandTimeout=dword:10\nMaxCommandRetries=dword:0\n");
        auto connection = std::make_shared<ConnectionDetails>();
        connection->name = "site";
        connection->server = server.host();
        connection->port = server.port();
        connection->user = server.user();
        connection->password = server.password();
        connection->passive = true;
        EXPECT_TRUE(saveConnections(config_ / "KelvaneConnections.txt", {connection}));
    }

    // A profile that uploads `localFolder` to the server folder `remoteFolder` (relative to the
    // server's root), deleting what is only there, with its log in the temporary folder.
    Profile profile(const fs::path& localFolder, const std::string& remoteFolder) const {
        Profile p;
        p.location1 = localFolder.string();
        p.location2 = "FTP:site" + server_.remote(remoteFolder) + "/";
        p.delete_files = true;
        p.add_files = true;
        p.check_sub_folders = true;
        p.check_actions = true;  // a run from the command line reviews nothing anyway
        p.silent_mode = false;   // nor does it ask anything
        p.confirm_deletes = true;
        p.auto_start = 1;
        p.log_file_on = true;
        p.log_file_append = true;
        p.log_file_path = (temp_.path() / "run.log").string();
        return p;
    }

    fs::path save(Profile profile, const std::string& name) const {
        const fs::path path = temp_.path() / name;
        EXPECT_TRUE(profile.saveToFile(path));
        return path;
    }

    Result run(const fs::path& file, const std::vector<std::string>& extra = {}) const {
        CliProcess process(arguments(file, extra), temp_.path());
        return process.finish();
    }

    std::vector<std::string> arguments(const fs::path& file,
                                       const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> args{"--config-dir", config_.string(), "run", file.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    const fs::path& folder() const { return temp_.path(); }
    const fs::path& local() const { return local_; }
    fs::path logFile() const { return temp_.path() / "run.log"; }

  private:
    const FtpTestServer& server_;
    TempFolder temp_;
    fs::path config_;
    fs::path local_;
};

template <typename Server>
class CliRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.error();
        setup_ = std::make_unique<RunSetup>(server_);
    }
    fs::path onServer(const std::string& relative) const { return server_.root() / relative; }

    Server server_;
    std::unique_ptr<RunSetup> setup_;
};

using Servers = ::testing::Types<PyFtpdServer, VsftpdServer, PyFtpdListServer, PyFtpdDosServer>;
TYPED_TEST_SUITE(CliRunTest, Servers, testsupport::ServerKindNames);

}  // namespace

TYPED_TEST(CliRunTest, UploadsATreeReportsTheCountsAndThenHasNothingToDo) {
    const fs::path site = this->setup_->local() / "site";
    put(site / "index.html", "<html>home</html>\n");
    put(site / ".htaccess", "Options -Indexes\n");
    put(site / "css" / "style.css", "body { margin: 0 }\n");
    put(site / "img" / "dot.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\r", 12));
    put(site / "img" / "icons" / "arrow.gif", "GIF89a");
    put(site / "notes.tmp", "excluded by a wildcard");
    put(site / "drafts" / "next.html", "excluded with its folder");
    dateBack(site);
    fs::create_directories(this->onServer("www"));

    Profile profile = this->setup_->profile(site, "www");
    profile.exclusions.addWildcard("*.tmp");
    profile.exclusions.addPath((site / "drafts").string() + "/");
    profile.exclusions.sort();
    const fs::path file = this->setup_->save(profile, "site.kvp");

    const Result first = this->setup_->run(file);
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    const std::vector<std::string> report = lines(first.out);
    ASSERT_GE(report.size(), 3u) << first.out;
    EXPECT_EQ(report[0], "Synchronisation done:");
    EXPECT_EQ(report[1], "Local Location:    " + site.string());
    EXPECT_EQ(report[2], "FTP Location:      " + this->server_.remote("www") + "/");
    EXPECT_EQ(counts(first.out), "0 5 0 3 0") << first.out;
    EXPECT_FALSE(contains(first.out, "problems")) << first.out;
    // Not a terminal, and a short run: nothing on the error stream.
    EXPECT_EQ(first.err, "");

    std::map<std::string, std::string> expected = tree(site);
    expected.erase("notes.tmp");
    expected.erase("drafts/");
    expected.erase("drafts/next.html");
    EXPECT_EQ(tree(this->onServer("www")), expected);

    const Result second = this->setup_->run(file);
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(counts(second.out), "0 0 0 0 0") << second.out;
    EXPECT_EQ(tree(this->onServer("www")), expected);

    // The profile's log has both runs, each with its results.
    const std::string log = readFile(this->setup_->logFile());
    std::size_t runs = 0;
    for (std::size_t at = log.find("Results Summary:\n"); at != std::string::npos;
         at = log.find("Results Summary:\n", at + 1)) {
        ++runs;
    }
    EXPECT_EQ(runs, 2u) << log;
    EXPECT_TRUE(contains(log, "Silent mode: off\n")) << "the log shows the profile's own options";
    EXPECT_TRUE(contains(log, "0\toverwritten files\n5\tadded files\n")) << log;
}

TYPED_TEST(CliRunTest, DryRunPrintsThePlanAndChangesNothing) {
    const fs::path site = this->setup_->local() / "site";
    put(site / "index.html", "new home page");
    put(site / "new.html", "a new page");
    put(site / "newdir" / "inside.html", "a new folder");
    put(site / "same.html", "unchanged");
    put(this->onServer("www/index.html"), "old home page");
    put(this->onServer("www/old.html"), "a page that is gone");
    put(this->onServer("www/gone/inside.html"), "a folder that is gone");
    put(this->onServer("www/same.html"), "unchanged");
    const std::time_t now = std::time(nullptr);
    setModified(this->onServer("www/index.html"), now - 86400);
    // Older here than there: left alone.
    setModified(site / "same.html", now - 2 * 86400);
    const fs::path file = this->setup_->save(this->setup_->profile(site, "www"), "site.kvp");
    const auto before = tree(this->onServer("www"));

    const Result dry = this->setup_->run(file, {"--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.out << dry.err;
    const std::string www = this->server_.remote("www");
    EXPECT_EQ(lines(dry.out), (std::vector<std::string>{
                                  "overwrite " + www + "/index.html",
                                  "add " + www + "/new.html",
                                  "delete " + www + "/old.html",
                                  "add-folder " + www + "/newdir",
                                  "delete-folder " + www + "/gone",
                              }));
    EXPECT_EQ(tree(this->onServer("www")), before);

    // The same plan, carried out.
    const Result real = this->setup_->run(file);
    EXPECT_EQ(real.status, 0) << real.out << real.err;
    EXPECT_EQ(counts(real.out), "1 2 2 1 1") << real.out;
    EXPECT_EQ(tree(this->onServer("www")), tree(site));
}

TYPED_TEST(CliRunTest, AFailedUploadIsAProblemAndExitsWithOne) {
    const fs::path site = this->setup_->local() / "site";
    put(site / "page.html", "a page");
    put(site / "ok.html", "fine");
    // A folder on the server where the page must go: the upload fails.
    fs::create_directories(this->onServer("www/page.html"));
    Profile profile = this->setup_->profile(site, "www");
    profile.delete_files = false;
    const fs::path file = this->setup_->save(profile, "site.kvp");

    const Result result = this->setup_->run(file);
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_EQ(counts(result.out), "0 1 0 0 0") << result.out;
    EXPECT_TRUE(contains(result.out, "Some problems were encountered:\n  ")) << result.out;
    EXPECT_TRUE(contains(result.out, "page.html")) << result.out;
    EXPECT_EQ(readFile(this->onServer("www/ok.html")), "fine");
}

TYPED_TEST(CliRunTest, FailuresSayWhyAndExitWithTwo) {
    RunSetup& setup = *this->setup_;
    const fs::path site = setup.local();
    put(site / "index.html", "home");
    fs::create_directories(this->onServer("www"));

    const Result missing = setup.run(setup.folder() / "no such profile.kvp");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_TRUE(contains(missing.err, "Could not open file: ")) << missing.err;

    put(setup.folder() / "broken.kvp", "this is not a profile\r\n");
    const Result broken = setup.run(setup.folder() / "broken.kvp");
    EXPECT_EQ(broken.status, 2);
    EXPECT_TRUE(contains(broken.err, "is not a valid Kelvane profile")) << broken.err;

    const Result notAProfile = setup.run(setup.folder() / "site.txt");
    EXPECT_EQ(notAProfile.status, 2);
    EXPECT_TRUE(contains(notAProfile.err, ".kvp")) << notAProfile.err;

    Profile unknown = setup.profile(site, "www");
    unknown.location2 = "FTP:elsewhere/www/";
    const Result noConnection = setup.run(setup.save(unknown, "unknown.kvp"));
    EXPECT_EQ(noConnection.status, 2);
    EXPECT_TRUE(contains(noConnection.err, "You must first select a web location"))
        << noConnection.err;
    // The profile's log has the same line under "Errors".
    EXPECT_TRUE(contains(readFile(setup.logFile()),
                         "\nErrors\n\nCSynchroniserDlg::OnSynch12: You must first select a web "
                         "location\n"));

    const Result noFolder = setup.run(setup.save(setup.profile(site, "not there"), "nf.kvp"));
    EXPECT_EQ(noFolder.status, 2) << noFolder.out << noFolder.err;
    EXPECT_EQ(lines(noFolder.out).at(0), "Synchronisation failed");
    EXPECT_TRUE(contains(noFolder.out, "Folder not found")) << noFolder.out;

    Profile refused = setup.profile(site, "www");
    const fs::path refusedFile = setup.save(refused, "refused.kvp");
    auto wrong = std::make_shared<ConnectionDetails>();
    wrong->name = "site";
    wrong->server = this->server_.host();
    wrong->port = this->server_.port();
    wrong->user = this->server_.rejectedUser();
    wrong->password = this->server_.rejectedPassword();
    const fs::path wrongConnections = setup.folder() / "wrong.txt";
    ASSERT_TRUE(saveConnections(wrongConnections, {wrong}));
    const Result login =
        setup.run(refusedFile, {});  // the right login first, to show the override matters
    EXPECT_EQ(login.status, 0) << login.err;
    CliProcess process({"--connections", wrongConnections.string(), "--config-dir",
                        (setup.folder() / "config").string(), "run", refusedFile.string()},
                       setup.folder());
    const Result failedLogin = process.finish();
    EXPECT_EQ(failedLogin.status, 2);
    EXPECT_TRUE(contains(failedLogin.err, "Failed to connect to FTP server\n")) << failedLogin.err;
    EXPECT_FALSE(contains(failedLogin.err, this->server_.rejectedPassword()));
    EXPECT_EQ(failedLogin.out, "");
}

TYPED_TEST(CliRunTest, ABatchRunsItsProfilesAndExitsWithTheWorstStatus) {
    RunSetup& setup = *this->setup_;
    put(setup.local() / "one" / "a.html", "first site");
    put(setup.local() / "two" / "b.html", "second site");
    fs::create_directories(this->onServer("one"));
    fs::create_directories(this->onServer("two"));
    const fs::path first = setup.save(setup.profile(setup.local() / "one", "one"), "one.kvp");
    const fs::path second = setup.save(setup.profile(setup.local() / "two", "two"), "two.kvp");
    Profile manual = setup.profile(setup.local() / "two", "two");
    manual.auto_start = 0;
    const fs::path notAuto = setup.save(manual, "manual.kvp");

    BatchList good;
    good.profilePaths = {first.string(), second.string()};
    ASSERT_TRUE(good.saveToFile(setup.folder() / "good.kvb"));
    const Result both = setup.run(setup.folder() / "good.kvb");
    EXPECT_EQ(both.status, 0) << both.out << both.err;
    EXPECT_EQ(readFile(this->onServer("one/a.html")), "first site");
    EXPECT_EQ(readFile(this->onServer("two/b.html")), "second site");

    put(setup.local() / "one" / "c.html", "added later");
    put(setup.local() / "two" / "d.html", "added later");
    BatchList mixed;
    mixed.profilePaths = {first.string(), notAuto.string(), second.string()};
    ASSERT_TRUE(mixed.saveToFile(setup.folder() / "mixed.kvb"));
    const Result result = setup.run(setup.folder() / "mixed.kvb");
    EXPECT_EQ(result.status, 2) << result.out << result.err;
    EXPECT_TRUE(contains(result.err, "The profile " + notAuto.string() +
                                         "\n must have Auto Start selected to be used as a "
                                         "batch profile"))
        << result.err;
    // The first and third still ran, each with its own report.
    EXPECT_EQ(readFile(this->onServer("one/c.html")), "added later");
    EXPECT_EQ(readFile(this->onServer("two/d.html")), "added later");
    std::size_t reports = 0;
    for (const std::string& line : lines(result.out)) {
        reports += line == "Synchronisation done:" ? 1 : 0;
    }
    EXPECT_EQ(reports, 2u) << result.out;
}

TYPED_TEST(CliRunTest, ControlCharactersInNamesAreShownEscapedOnTheTerminal) {
    const fs::path site = this->setup_->local() / "site";
    put(site / "line\nbreak.html", "never sent: a name with a line break");
    put(site / "tab\there.html", "a tab is fine");
    put(site / "back\\slash.html", "so is a backslash");
    put(site / "index.html", "home");
    dateBack(site);
    fs::create_directories(this->onServer("www"));
    const fs::path file = this->setup_->save(this->setup_->profile(site, "www"), "site.kvp");
    const std::string www = this->server_.remote("www");

    // One line per action, and the escaped form cannot pass for another name.
    const Result dry = this->setup_->run(file, {"--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.out << dry.err;
    EXPECT_EQ(lines(dry.out), (std::vector<std::string>{
                                  "add " + www + "/back\\\\slash.html",
                                  "add " + www + "/index.html",
                                  "add " + www + "/line\\nbreak.html",
                                  "add " + www + "/tab\\there.html",
                              }));

    const Result run = this->setup_->run(file);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(counts(run.out), "0 3 0 0 0") << run.out;
    const std::vector<std::string> report = lines(run.out);
    const std::string problem =
        "  CSynchroniserDlg::processFiles (add): Could not copy file: " + www +
        "/line\\nbreak.html";
    EXPECT_NE(std::find(report.begin(), report.end(), problem), report.end()) << run.out;
    EXPECT_EQ(std::find(report.begin(), report.end(), "break.html"), report.end()) << run.out;
    EXPECT_EQ(readFile(this->onServer("www/tab\there.html")), "a tab is fine");
    // The log keeps the name as it is.
    EXPECT_TRUE(contains(readFile(this->setup_->logFile()),
                         "Could not copy file: " + www + "/line\nbreak.html\n"));
}

TYPED_TEST(CliRunTest, AProfileCutShortOrNamingAnUnknownConnectionRunsNothing) {
    RunSetup& setup = *this->setup_;
    const fs::path site = setup.local();
    put(site / "index.html", "home");
    put(site / "draft.html", "excluded here");
    put(this->onServer("www/counter.dat"), "kept by the FTP exclusions");
    Profile profile = setup.profile(site, "www");
    profile.exclusions.addPath((site / "draft.html").string());
    profile.ftp_exclusions.addPath(this->server_.remote("www") + "/counter.dat");
    const std::string whole = readFile(setup.save(profile, "whole.kvp"));

    // Cut inside the local block, then inside the FTP block: neither may run with what is left.
    const std::size_t localBlock = whole.find("exclusions=") + 12;
    const std::size_t ftpBlock = whole.find("ftp_exclusions=") + 16;
    for (const std::size_t cut : {localBlock, ftpBlock}) {
        const fs::path truncated = setup.folder() / "cut.kvp";
        writeFile(truncated, whole.substr(0, cut));
        const Result result = setup.run(truncated);
        EXPECT_EQ(result.status, 2) << cut << result.out << result.err;
        EXPECT_TRUE(contains(result.err, truncated.string() + " is not a valid Kelvane profile"))
            << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(fs::exists(this->onServer("www/draft.html")));
    EXPECT_FALSE(fs::exists(this->onServer("www/index.html")));
    EXPECT_EQ(readFile(this->onServer("www/counter.dat")), "kept by the FTP exclusions");

    Profile unknown = setup.profile(site, "www");
    unknown.location2 = "FTP:elsewhere/www/";
    const Result noConnection = setup.run(setup.save(unknown, "unknown.kvp"));
    EXPECT_EQ(noConnection.status, 2);
    EXPECT_TRUE(contains(noConnection.err,
                         "You must first select a web location\n"
                         "No connection named \"elsewhere\" in " +
                             (setup.folder() / "config" / "KelvaneConnections.txt").string() +
                             "\n"))
        << noConnection.err;
}

namespace {

std::size_t countFiles(const fs::path& top) {
    std::size_t count = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(top, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        count += it->is_regular_file(error) ? 1 : 0;
    }
    return count;
}

// pyftpdlib answers a command line of more than 2,048 bytes with two or three 500 replies, so
// in a tree this deep every reply after the first long line would be one command behind.
// Each file the report counts as added must be on the server whole, the files that cannot be
// sent are problems, and the run goes on to the end (with the default retries, which meet the
// extra replies too).
TEST(CliRunLongPaths, CommandLinesTooLongForTheServerFailOnlyTheirOwnFiles) {
    PyFtpdServer server;
    ASSERT_TRUE(server.start()) << server.error();
    RunSetup setup(server);
    put(setup.folder() / "config" / "Kelvane.conf",
        "CommandTimeout=dword:10\nMaxCommandRetries=dword:3\n");
    const fs::path site = setup.local() / "site";
    fs::path folder = site / "deep";
    for (int level = 0; level < 60; ++level) {
        folder /= "level-" + std::to_string(100 + level) + "-with-a-long-folder-name";
        put(folder / "page.html", "page at level " + std::to_string(level));
    }
    put(site / "zz" / "after.html", "uploaded after the deep tree");
    put(site / "index.html", "home");
    dateBack(site);
    fs::create_directories(server.root() / "www");
    const fs::path file = setup.save(setup.profile(site, "www"), "site.kvp");

    const Result result = setup.run(file);
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_TRUE(contains(result.out, "Some problems were encountered:\n")) << result.out;
    const std::map<std::string, std::string> local = tree(site);
    const std::map<std::string, std::string> remote = tree(server.root() / "www");
    std::size_t filesOnServer = 0;
    for (const auto& [path, bytes] : remote) {
        if (path.back() == '/') {
            continue;
        }
        ++filesOnServer;
        ASSERT_TRUE(local.count(path)) << path;
        EXPECT_EQ(bytes, local.at(path)) << path;
    }
    EXPECT_EQ(remote.count("zz/after.html"), 1u);
    EXPECT_EQ(remote.count("index.html"), 1u);
    EXPECT_LT(filesOnServer, 62u) << "some command lines must have been too long";
    std::istringstream report(result.out.substr(result.out.find("Added files:")));
    std::string label;
    std::string added;
    report >> label >> label >> added;
    EXPECT_EQ(added, std::to_string(filesOnServer)) << result.out;
}

// Runs against pyftpdlib with a tree large enough to be interrupted halfway.
class CliRunStop : public ::testing::Test {
  protected:
    static constexpr int kFolders = 40;
    static constexpr int kFilesPerFolder = 50;
    static constexpr std::size_t kFiles = kFolders * kFilesPerFolder;

    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.error();
        setup_ = std::make_unique<RunSetup>(server_);
    }

    fs::path bigProfile() {
        const fs::path site = setup_->local() / "big";
        for (int folder = 0; folder < kFolders; ++folder) {
            for (int index = 0; index < kFilesPerFolder; ++index) {
                put(site / ("f" + std::to_string(folder)) / ("p" + std::to_string(index) + ".html"),
                    std::string(2048, 'x'));
            }
        }
        fs::create_directories(server_.root() / "big");
        return setup_->save(setup_->profile(site, "big"), "big.kvp");
    }

    // Waits (at most a minute) until some files reached the server: the upload is under way.
    void waitForUpload() {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (countFiles(server_.root() / "big") < 20 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        ASSERT_GE(countFiles(server_.root() / "big"), 20u) << "the upload did not start";
    }

    PyFtpdServer server_;
    std::unique_ptr<RunSetup> setup_;
};

}  // namespace

TEST_F(CliRunStop, CtrlCDuringALongUploadStopsTheRunAndExitsWith130) {
    const fs::path file = bigProfile();
    CliProcess process(setup_->arguments(file), setup_->folder());
    ASSERT_TRUE(process.started());
    waitForUpload();
    const auto start = std::chrono::steady_clock::now();
    process.signal(SIGINT);
    const Result result = process.finish(30s);
    EXPECT_EQ(result.status, 130) << result.out << result.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(lines(result.out).at(0), "Synchronisation interrupted") << result.out;
    EXPECT_LT(countFiles(server_.root() / "big"), kFiles);
    // The log records the interrupted run to its end.
    EXPECT_TRUE(contains(readFile(setup_->logFile()), "Results Summary:\n"));
}

TEST_F(CliRunStop, SigtermStopsABatchBeforeItsNextProfile) {
    const fs::path big = bigProfile();
    put(setup_->local() / "small" / "a.html", "never uploaded");
    fs::create_directories(server_.root() / "small");
    const fs::path small =
        setup_->save(setup_->profile(setup_->local() / "small", "small"), "small.kvp");
    BatchList batch;
    batch.profilePaths = {big.string(), small.string()};
    ASSERT_TRUE(batch.saveToFile(setup_->folder() / "both.kvb"));

    CliProcess process(setup_->arguments(setup_->folder() / "both.kvb"), setup_->folder());
    ASSERT_TRUE(process.started());
    waitForUpload();
    process.signal(SIGTERM);
    const Result result = process.finish(30s);
    EXPECT_EQ(result.status, 130) << result.out << result.err;
    const std::vector<std::string> report = lines(result.out);
    EXPECT_EQ(std::count(report.begin(), report.end(), "Synchronisation interrupted"), 1)
        << result.out;
    EXPECT_EQ(std::count(report.begin(), report.end(), "Synchronisation done:"), 0) << result.out;
    EXPECT_FALSE(fs::exists(server_.root() / "small" / "a.html"));
}

TEST_F(CliRunStop, OnATerminalProgressIsOneLineRedrawnInPlace) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);

    const fs::path file = bigProfile();
    CliProcess process(setup_->arguments(file), setup_->folder(), terminal);
    ::close(terminal);
    ASSERT_TRUE(process.started());
    // The terminal must be read while the program writes, or it blocks when the buffer fills.
    std::string shown;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{master, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) {
            if (!process.running()) {
                break;
            }
            continue;
        }
        char buffer[4096];
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count <= 0) {
            break;  // the last writer is gone
        }
        shown.append(buffer, static_cast<std::size_t>(count));
    }
    const Result result = process.finish(30s);
    ::close(master);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(counts(result.out), "0 2000 0 40 0") << result.out;

    // Redrawn with a carriage return and cleared to the end of the line, never a new line; the
    // line is gone before the program ends.
    EXPECT_NE(shown.find("\rExecution "), std::string::npos) << shown.substr(0, 400);
    EXPECT_NE(shown.find("% "), std::string::npos);
    EXPECT_NE(shown.find(" left"), std::string::npos);
    EXPECT_NE(shown.find("\x1b[K"), std::string::npos);
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    const std::string clear = "\r\x1b[K";
    ASSERT_GE(shown.size(), clear.size());
    EXPECT_EQ(shown.substr(shown.size() - clear.size()), clear);
}

namespace {

// A site with one large file that the server takes in slowly, so that a run can be cut in the
// middle of its upload; and the run after it, which must leave the server as the local tree.
// The file is much larger than what the sockets hold on loopback, or the program would have
// handed all of it to the system by the time the server has the first bytes.
template <typename Server>
class CliRunCut : public ::testing::Test {
  protected:
    static constexpr std::size_t kBigSize = 16 * 1024 * 1024;
    static constexpr std::uint32_t kUploadRate = 8 * 1024 * 1024;

    void SetUp() override {
        server_.limitUploadRate(kUploadRate);
        ASSERT_TRUE(server_.start()) << server_.error();
        setup_ = std::make_unique<RunSetup>(server_);
        site_ = setup_->local() / "site";
        put(site_ / "a.html", "before the big file");
        put(site_ / "big.bin", bigFile());
        put(site_ / "z.html", "after the big file");
        // Older than anything the server writes: compared on time, a partial file there looks
        // up to date.
        dateBack(site_);
        fs::create_directories(onServer("www"));
        Profile profile = setup_->profile(site_, "www");
        profile.compare_on_time = true;
        profile_ = setup_->save(profile, "site.kvp");
    }

    fs::path onServer(const std::string& relative) const { return server_.root() / relative; }

    // Random bytes, each mebibyte numbered, so that a part missing or sent twice shows.
    static std::string bigFile() {
        constexpr std::size_t kBlock = 1024 * 1024;
        const std::string block = testsupport::randomBytes(kBlock, 8);
        std::string bytes;
        bytes.reserve(kBigSize);
        for (std::size_t at = 0; at < kBigSize; at += kBlock) {
            const std::string number = std::to_string(at / kBlock);
            bytes += number + block.substr(number.size());
        }
        return bytes;
    }

    // Starts a run and waits (at most half a minute) until part of the big file is on the
    // server.
    std::unique_ptr<CliProcess> runUntilHalfway() {
        auto process = std::make_unique<CliProcess>(setup_->arguments(profile_), setup_->folder());
        EXPECT_TRUE(process->started());
        const fs::path big = onServer("www/big.bin");
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        std::error_code error;
        while (std::chrono::steady_clock::now() < deadline &&
               !(fs::file_size(big, error) > 0 && !error)) {
            std::this_thread::sleep_for(10ms);
        }
        const std::uintmax_t size = fs::file_size(big, error);
        EXPECT_FALSE(error) << "the upload did not start";
        EXPECT_LT(size, kBigSize) << "the upload was not cut in the middle";
        return process;
    }

    // Starts the server again (on the same port and root) taking uploads at `rate`.
    void relaunch(std::uint32_t rate) {
        server_.kill();
        server_.limitUploadRate(rate);
        ASSERT_TRUE(server_.restart()) << server_.error();
    }

    // The run after the cut one brings the server in step, byte for byte. It needs no slow
    // server.
    void expectRepairedByTheNextRun() {
        relaunch(0);
        const Result next = setup_->run(profile_);
        EXPECT_EQ(next.status, 0) << next.out << next.err;
        EXPECT_EQ(lines(next.out).at(0), "Synchronisation done:") << next.out;
        EXPECT_TRUE(tree(onServer("www")) == tree(site_)) << next.out;
        // Nothing is left for a third run.
        const Result third = setup_->run(profile_);
        EXPECT_EQ(counts(third.out), "0 0 0 0 0") << third.out;
    }

    Server server_;
    std::unique_ptr<RunSetup> setup_;
    fs::path site_;
    fs::path profile_;
};

// A cut upload is about the data connection, not the listing form: the two server programs.
using CutServers = ::testing::Types<PyFtpdServer, VsftpdServer>;
TYPED_TEST_SUITE(CliRunCut, CutServers, testsupport::ServerKindNames);

}  // namespace

TYPED_TEST(CliRunCut, StoppedBySignalLeavesNoPartialFileAndTheNextRunCompletesTheSite) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        fs::remove_all(this->onServer("www"));
        fs::create_directories(this->onServer("www"));
        this->relaunch(this->kUploadRate);
        std::unique_ptr<CliProcess> process = this->runUntilHalfway();
        process->signal(signal);
        const Result cut = process->finish(60s);
        EXPECT_EQ(cut.status, 130) << cut.out << cut.err;
        EXPECT_EQ(lines(cut.out).at(0), "Synchronisation interrupted") << cut.out;
        const bool reported =
            contains(cut.out, "Could not copy file: " + this->server_.remote("www") + "/big.bin");
        const fs::path big = this->onServer("www/big.bin");
        std::error_code error;
        if (reported) {
            // The program deleted what it had sent before it ended.
            EXPECT_FALSE(fs::exists(big))
                << fs::file_size(big, error) << " bytes stay on the server";
        } else {
            // The signal came once the last byte had been handed over (the socket buffers of
            // loopback hold megabytes): the server confirmed the whole file, and the run counts
            // it as added. What it may never leave is a part of it.
            EXPECT_EQ(readFile(big), readFile(this->site_ / "big.bin")) << cut.out;
        }
        this->expectRepairedByTheNextRun();
    }
}

TYPED_TEST(CliRunCut, StopDuringUploadsOverFourLoginsLeavesNoPartialFile) {
    for (int copy = 2; copy <= 4; ++copy) {
        put(this->site_ / ("big" + std::to_string(copy) + ".bin"), this->bigFile());
    }
    dateBack(this->site_);
    CliProcess process(this->setup_->arguments(this->profile_, {"--parallel", "4"}),
                       this->setup_->folder());
    ASSERT_TRUE(process.started());
    // Until two of the big files are under way at once.
    const auto underWay = [this] {
        int started = 0;
        std::error_code error;
        for (const char* name : {"big.bin", "big2.bin", "big3.bin", "big4.bin"}) {
            started += fs::file_size(this->onServer("www") / name, error) > 0 && !error ? 1 : 0;
        }
        return started;
    };
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (underWay() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(underWay(), 2) << "the uploads did not run side by side";
    process.signal(SIGINT);
    const Result cut = process.finish(60s);
    EXPECT_EQ(cut.status, 130) << cut.out << cut.err;
    EXPECT_EQ(lines(cut.out).at(0), "Synchronisation interrupted") << cut.out;
    // Whatever is on the server is whole: each upload cut short was deleted before the end.
    for (const fs::directory_entry& item : fs::directory_iterator(this->onServer("www"))) {
        EXPECT_EQ(readFile(item.path()), readFile(this->site_ / item.path().filename()))
            << item.path();
    }
    this->expectRepairedByTheNextRun();
}

TYPED_TEST(CliRunCut, KilledMidUploadTheNextRunOverwritesThePartialFile) {
    std::unique_ptr<CliProcess> process = this->runUntilHalfway();
    process->signal(SIGKILL);
    process->finish(30s);
    // Nothing could clean up: part of the file stays, newer than the local one.
    std::error_code error;
    EXPECT_LT(fs::file_size(this->onServer("www/big.bin"), error), this->kBigSize);
    this->expectRepairedByTheNextRun();
}

TYPED_TEST(CliRunCut, AServerThatDiesMidUploadFailsTheRunAndTheNextRunRepairsIt) {
    std::unique_ptr<CliProcess> process = this->runUntilHalfway();
    this->server_.kill();
    const Result lost = process->finish(60s);
    EXPECT_EQ(lost.status, 2) << "no signal stopped it" << lost.out << lost.err;
    EXPECT_EQ(lines(lost.out).at(0), "Synchronisation interrupted") << lost.out;
    this->expectRepairedByTheNextRun();
}
