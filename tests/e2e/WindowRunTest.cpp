// The real main window on a real X server, clicked with QTest, synchronising a real local tree
// to pyftpdlib and vsftpd: the server ends up equal to the tree, and the window's report and log
// say what `kelvane-cli run` of the same profile says. Stop in the middle of a large upload
// interrupts the run.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/EscapeText.h"
#include "common/MessagePump.h"
#include "common/Prompter.h"
#include "gui/mainwindow/MainWindowScript.h"
#include "profiles/Profile.h"
#include "profiles/SettingsStore.h"
#include "support/CliProcess.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/TimedCommand.h"
#include "ui/QtMessagePump.h"
#include "ui/mainwindow/CSynchroniserDlg.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using mainwindowtest::ScriptedPrompter;
using mainwindowtest::ScriptedWindowDialogs;
using testsupport::readFile;
using testsupport::writeFile;

void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    writeFile(path, bytes);
}

// Every file (with its bytes) and folder (with a trailing "/") below `top`, by relative path.
std::map<std::string, std::string> treeOf(const fs::path& top) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(top)) {
        const std::string relative = fs::relative(item.path(), top).generic_string();
        if (item.is_directory()) {
            tree[relative + "/"] = "";
        } else {
            tree[relative] = readFile(item.path());
        }
    }
    return tree;
}

// What the report tells, from the five counts on, the way kelvane-cli prints it.
std::string countsAndProblems(const ScriptedWindowDialogs::Report& report) {
    const ActionLists& lists = report.lists;
    std::string text = "Overwritten files: " + std::to_string(lists.overwrittenCount) + "\n" +
                       "Added files:       " + std::to_string(lists.addedFilesCount) + "\n" +
                       "Deleted files:     " + std::to_string(lists.deletedFilesCount) + "\n" +
                       "Added Folders:     " + std::to_string(lists.addedFoldersCount) + "\n" +
                       "Deleted Folders:   " + std::to_string(lists.deletedFoldersCount) + "\n";
    if (!report.problems.empty()) {
        text += "Some problems were encountered:\n";
        // As the terminal shows them: one line each, control characters written out.
        for (const std::string& problem : report.problems) {
            text += "  " + escapeControlCharacters(problem) + "\n";
        }
    }
    return text;
}

std::string fromCounts(const std::string& cliReport) {
    const std::size_t at = cliReport.find("Overwritten files:");
    return at == std::string::npos ? cliReport : cliReport.substr(at);
}

// A log with its dates and times taken out.
std::string withoutTimeStamps(const std::string& log) {
    static const std::regex date("(Mon|Tue|Wed|Thu|Fri|Sat|Sun) [0-9]{2} [A-Za-z]+ [0-9]{4}");
    static const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(std::regex_replace(log, date, "<date>"), time, "<time>");
}

// The window with its settings folder, a scripted person and a real server behind "FTP:Site".
class WindowFixture : public ::testing::Test {
  protected:
    virtual std::unique_ptr<testsupport::FtpTestServer> makeServer() = 0;

    void SetUp() override {
        ASSERT_TRUE(waitForCommandWorkers(5000ms));
        setMessagePump(&pump_);
        previousPrompter_ = setPrompter(&prompter_);
        quietMode = false;
        stopRequested = false;
        serverPtr_ = makeServer();
        ASSERT_TRUE(server().start()) << server().error();
        fs::create_directories(settings());
        ASSERT_TRUE(mainwindowtest::writeSiteConnection(settings() / "KelvaneConnections.txt",
                                                        server().host(), server().port(),
                                                        server().user(), server().password()));
    }

    void TearDown() override {
        if (window_ != nullptr) {
            for (const auto& connection : window_->synchroniser().connections) {
                connection->disconnectFtp();
            }
        }
        window_.reset();
        EXPECT_TRUE(waitForCommandWorkers(5000ms));
        setPrompter(previousPrompter_);
        setMessagePump(nullptr);
        quietMode = false;
        stopRequested = false;
    }

    testsupport::FtpTestServer& server() { return *serverPtr_; }
    fs::path settings() const { return work_.path() / "settings"; }
    fs::path local() const { return work_.path() / "site"; }
    fs::path remoteRoot() { return server().root() / "www"; }

    // A profile that sends local() to the server's folder www, logging to run.log.
    fs::path writeProfile(const std::function<void(Profile&)>& edit = {}) {
        Profile profile;
        profile.location1 = local().string();
        profile.location2 = "FTP:Site" + server().remote("www") + "/";
        profile.check_actions = false;
        profile.log_file_on = true;
        profile.log_file_path = (work_.path() / "run.log").string();
        profile.exclusions.addWildcard("*.bak");
        if (edit) {
            edit(profile);
        }
        const fs::path path = work_.path() / "site.kvp";
        EXPECT_TRUE(profile.saveToFile(path));
        return path;
    }

    CSynchroniserDlg& openWindow(const fs::path& profile) {
        store_ = std::make_unique<FileSettingsStore>(settings());
        window_ =
            std::make_unique<CSynchroniserDlg>(dialogs_, *store_, settings(), profile.string());
        window_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        return *window_;
    }

    template <typename Widget = QAbstractButton>
    Widget* child(const char* name) {
        return window_->findChild<Widget*>(name);
    }

    std::unique_ptr<testsupport::FtpTestServer> serverPtr_;
    testsupport::TempFolder work_{"kelvane-e2e"};
    ScriptedWindowDialogs dialogs_;
    ScriptedPrompter prompter_;

  private:
    QtMessagePump pump_;
    Prompter* previousPrompter_ = nullptr;
    std::unique_ptr<FileSettingsStore> store_;
    std::unique_ptr<CSynchroniserDlg> window_;
};

template <typename Server>
class WindowRunTest : public WindowFixture {
  protected:
    std::unique_ptr<testsupport::FtpTestServer> makeServer() override {
        return std::make_unique<Server>();
    }
};

using Servers = ::testing::Types<testsupport::PyFtpdServer, testsupport::VsftpdServer>;
TYPED_TEST_SUITE(WindowRunTest, Servers);

TYPED_TEST(WindowRunTest, ARunFromTheWindowMatchesTheCommandLineRun) {
    // The site: new files and a new folder, a newer page, an excluded backup, and a file whose
    // name cannot be sent to a server (a problem both runs report).
    put(this->local() / "index.html", "<html>new front page</html>");
    put(this->local() / "contact.html", "<html>contact</html>");
    put(this->local() / "images" / "logo.png", testsupport::randomBytes(70000, 1));
    put(this->local() / "images" / "icons" / "home.png", testsupport::randomBytes(3000, 2));
    put(this->local() / "notes.bak", "not for the server");
    put(this->local() / "bad\nname.html", "never sent");
    // The server before each run: an older front page and a page that is gone locally.
    const auto serverBefore = [this] {
        fs::remove_all(this->remoteRoot());
        put(this->remoteRoot() / "index.html", "<html>old</html>");
        put(this->remoteRoot() / "obsolete.html", "<html>gone</html>");
        const auto hoursAgo =
            std::chrono::floor<std::chrono::minutes>(fs::file_time_type::clock::now() - 5h);
        for (const auto& item : fs::recursive_directory_iterator(this->remoteRoot())) {
            fs::last_write_time(item.path(), hoursAgo);
        }
    };
    serverBefore();
    const fs::path profile = this->writeProfile();

    CSynchroniserDlg& window = this->openWindow(profile);
    QTest::mouseClick(this->child("synchroniseButton"), Qt::LeftButton);
    ASSERT_EQ(this->dialogs_.reports.size(), 1u)
        << ::testing::PrintToString(this->prompter_.messages);
    const ScriptedWindowDialogs::Report report = this->dialogs_.reports[0];
    EXPECT_EQ(report.heading, "Synchronisation done:\n");
    EXPECT_EQ(report.problems.size(), 2u);
    EXPECT_TRUE(this->child("lastReportButton")->isEnabled());
    EXPECT_EQ(this->template child<QLabel>("connectionLabel")->text(), "Site");

    std::map<std::string, std::string> expected = treeOf(this->local());
    expected.erase("notes.bak");
    expected.erase("bad\nname.html");
    EXPECT_EQ(treeOf(this->remoteRoot()), expected);
    const std::string windowLog = readFile(this->work_.path() / "run.log");

    // "Last Report" shows the same again.
    QTest::mouseClick(this->child("lastReportButton"), Qt::LeftButton);
    ASSERT_EQ(this->dialogs_.reports.size(), 2u);
    EXPECT_EQ(countsAndProblems(this->dialogs_.reports[1]), countsAndProblems(report));

    // The same profile from the command line, against the same server state.
    QTest::mouseClick(this->child("connectButton"), Qt::LeftButton);  // Disconnect
    EXPECT_EQ(this->template child<QLabel>("connectionLabel")->text(), "Not Connected");
    serverBefore();
    testsupport::CliProcess cli(
        {"--config-dir", this->settings().string(), "run", profile.string()}, this->work_.path());
    ASSERT_TRUE(cli.started());
    const testsupport::CliResult result = cli.finish(120s);
    EXPECT_EQ(result.status, 1) << result.out << result.err;  // done, with problems
    EXPECT_EQ(fromCounts(result.out), countsAndProblems(report));
    EXPECT_EQ(treeOf(this->remoteRoot()), expected);
    EXPECT_EQ(withoutTimeStamps(readFile(this->work_.path() / "run.log")),
              withoutTimeStamps(windowLog));
    (void)window;
}

// A server that takes uploads slowly, so that Stop comes while a large file is on its way.
class WindowStopTest : public WindowFixture {
  protected:
    std::unique_ptr<testsupport::FtpTestServer> makeServer() override {
        testsupport::PyFtpdServer::Options options;
        options.uploadBytesPerSecond = 1024 * 1024;
        return std::make_unique<testsupport::PyFtpdServer>(options);
    }
};

TEST_F(WindowStopTest, StopDuringALargeUploadInterruptsTheRun) {
    // Large enough that loopback's socket buffers take only part of it at once.
    put(local() / "archive.zip", testsupport::randomBytes(32 * 1024 * 1024, 9));
    put(local() / "zz-after.html", "<html>beside the archive</html>");
    fs::create_directories(remoteRoot());
    CSynchroniserDlg& window = openWindow(writeProfile());
    auto* bar = child<QProgressBar>("progressBar");
    QTimer watch;
    watch.setInterval(50);
    bool pressed = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!pressed && (bar->value() >= 40 || std::chrono::steady_clock::now() > deadline)) {
            pressed = true;
            EXPECT_TRUE(child("stopButton")->isEnabled());
            QTest::mouseClick(child("stopButton"), Qt::LeftButton);
        }
    });
    watch.start();
    QTest::mouseClick(child("synchroniseButton"), Qt::LeftButton);
    watch.stop();
    ASSERT_TRUE(pressed);
    ASSERT_EQ(dialogs_.reports.size(), 1u);
    const auto& report = dialogs_.reports[0];
    EXPECT_EQ(report.heading, "Synchronisation interrupted\n");
    // The small file goes up on another login beside the archive, whole or not at all.
    EXPECT_LE(report.lists.addedFilesCount, 1u);
    if (fs::exists(remoteRoot() / "zz-after.html")) {
        EXPECT_EQ(testsupport::readFile(remoteRoot() / "zz-after.html"),
                  "<html>beside the archive</html>");
    }
    // The cut upload is a failure, and its partial file is gone once its worker has ended.
    EXPECT_TRUE(waitForCommandWorkers(10000ms));
    std::error_code error;
    EXPECT_FALSE(fs::exists(remoteRoot() / "archive.zip"))
        << fs::file_size(remoteRoot() / "archive.zip", error);
    EXPECT_FALSE(window.synchroniser().running);
    EXPECT_FALSE(child("stopButton")->isEnabled());
    EXPECT_TRUE(child("exitButton")->isEnabled());
}

}  // namespace
