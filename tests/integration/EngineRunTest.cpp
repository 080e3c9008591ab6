// Whole runs through synchronise(), as the "Synchronise Web Site" button starts them, against
// real servers on 127.0.0.1: pyftpdlib (MLSD) and vsftpd (LIST). Each run's outcome is checked
// on the server's disk, not only in the report.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/LogFile.h"
#include "integration/EngineRunSupport.h"
#include "support/TempFolder.h"
#include "transfer/Progress.h"

using namespace enginerun;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::map<std::string, std::string> kSite = {
    {"index.html", "<html>home</html>"},    {"about.html", "<html>about us</html>"},
    {"css/site.css", "body { margin: 0 }"}, {"img/logo.png", std::string(70000, 'L')},
    {"img/icons/up.gif", "GIF89a"},         {"empty/", ""},
};

template <typename Server>
class EngineRunTest : public EngineRunFixture<Server> {};

TYPED_TEST_SUITE(EngineRunTest, Servers, ServerNames);

}  // namespace

TYPED_TEST(EngineRunTest, FirstUploadThenNothingToDoThenDeletes) {
    const fs::path local = this->localFolder("site");
    makeTree(local, kSite);
    // Older than anything the server will stamp, so the second run finds nothing newer.
    setTreeTime(local, wholeMinuteHoursAgo(3));
    const fs::path server = this->serverFolder("www");
    Profile profile = this->silentProfile(local, "www");
    profile.check_actions = true;  // silent mode wins: no review

    this->openAndRun(profile);
    ASSERT_EQ(this->view_.reports.size(), 1u) << this->prompterMessages();
    const Report& first = this->lastReport();
    EXPECT_EQ(first.heading, "Synchronisation done:\n");
    EXPECT_EQ(first.source, local.string() + "/");
    EXPECT_EQ(first.target, this->server_.remote("www") + "/");
    EXPECT_EQ(first.lists.addedFilesCount, 5u);
    EXPECT_EQ(first.lists.addedFoldersCount, 4u);  // css, img, img/icons, empty
    EXPECT_TRUE(first.problems.empty()) << first.problems.front();
    EXPECT_EQ(treeOf(server), treeOf(local));
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Done);
    EXPECT_EQ(this->view_.reviews.size(), 0u);
    EXPECT_EQ(this->view_.connectCalls, 1);
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompterMessages();
    // The running display: analysis, then execution up to the whole estimate, then idle.
    const std::vector<std::string> phases = {"Analysing", "Execution", "Execution"};
    EXPECT_EQ(this->view_.phases, phases);
    EXPECT_EQ(this->view_.highestProgress(), 1000);
    EXPECT_TRUE(this->view_.sawStatusStartingWith("Adding folder: "));
    EXPECT_EQ(this->view_.statuses.back(), "");
    EXPECT_FALSE(this->synchroniser_.running);
    EXPECT_EQ(this->synchroniser_.lastSource, local.string() + "/");
    EXPECT_EQ(bytesDone.load(), 0u);

    // The connection stays open and is used again; nothing is left to do.
    this->synchroniser_.synchronise();
    ASSERT_EQ(this->view_.reports.size(), 2u);
    EXPECT_EQ(this->lastReport().heading, "Synchronisation done:\n");
    EXPECT_EQ(actionsDone(this->lastReport()), 0u);
    EXPECT_EQ(this->view_.connectCalls, 1);
    EXPECT_EQ(this->synchroniser_.totalWork(), 0u);
    EXPECT_EQ(treeOf(server), treeOf(local));

    // Three files gone locally: three deletes are 3072 units of work, all of them done.
    fs::remove(local / "about.html");
    fs::remove(local / "css" / "site.css");
    fs::remove(local / "img" / "icons" / "up.gif");
    this->view_.progress.clear();
    this->synchroniser_.synchronise();
    ASSERT_EQ(this->view_.reports.size(), 3u);
    EXPECT_EQ(this->lastReport().lists.deletedFilesCount, 3u);
    EXPECT_EQ(actionsDone(this->lastReport()), 3u);
    EXPECT_EQ(this->synchroniser_.totalWork(), 3072u);
    EXPECT_EQ(this->view_.highestProgress(), 1000);
    EXPECT_TRUE(this->view_.shownPercent("100"));
    EXPECT_EQ(treeOf(server), treeOf(local));
}

TYPED_TEST(EngineRunTest, OverwriteByTimeFollowsTheTimeAdjustment) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"a.html", "aaaa"}, {"b.html", "bbbb"}, {"sub/c.html", "cccc"}});
    const fs::path server = this->serverFolder("www");
    makeTree(server, {{"a.html", "AAAA"}, {"b.html", "BBBB"}, {"sub/c.html", "CCCC"}});
    // The server's clock is two hours behind the local one.
    setTreeTime(local, wholeMinuteHoursAgo(3));
    setTreeTime(server, wholeMinuteHoursAgo(5));

    Profile profile = this->silentProfile(local, "www");
    profile.adjust_time_hours = 2;
    this->openAndRun(profile, "plus.kvp");
    ASSERT_EQ(this->view_.reports.size(), 1u) << this->prompterMessages();
    EXPECT_EQ(actionsDone(this->lastReport()), 0u);
    EXPECT_EQ(readFile(server / "a.html"), "AAAA");

    // Pulling the server's times back instead makes every file newer.
    profile.adjust_time_hours = -2;
    this->openAndRun(profile, "minus.kvp");
    ASSERT_EQ(this->view_.reports.size(), 2u);
    EXPECT_EQ(this->lastReport().lists.overwrittenCount, 3u);
    EXPECT_EQ(actionsDone(this->lastReport()), 3u);
    EXPECT_EQ(treeOf(server), treeOf(local));
}

TYPED_TEST(EngineRunTest, StopDuringExecutionInterruptsTheRun) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"1.html", "one"},
                     {"2.html", "two"},
                     {"3.html", std::string(200000, '3')},
                     {"4.html", "four"},
                     {"5.html", "five"},
                     {"later/6.html", "six"}});
    setTreeTime(local, wholeMinuteHoursAgo(3));
    const fs::path server = this->serverFolder("www");
    // One upload after the other, so that the Stop lands between two known files (over several
    // logins the CLI's Stop tests cover it).
    ftpConnections = 1;
    int adds = 0;
    this->view_.onStatus = [&adds](const std::string& status) {
        if (status.rfind("Adding file: ", 0) == 0 && ++adds == 3) {
            requestStop();  // the Stop button, pressed while the third file goes up
        }
    };
    Profile profile = this->silentProfile(local, "www");
    this->openAndRun(profile);

    ASSERT_EQ(this->view_.reports.size(), 1u) << this->prompterMessages();
    const Report& stopped = this->lastReport();
    EXPECT_EQ(stopped.heading, "Synchronisation interrupted\n");
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Stopped);
    EXPECT_TRUE(batchAborted);
    EXPECT_FALSE(stopRequested.load());
    EXPECT_EQ(stopped.lists.addedFilesCount, 2u);
    EXPECT_EQ(stopped.lists.addedFoldersCount, 0u);  // folders come after files
    EXPECT_EQ(this->view_.statuses.size() >= 2 ? this->view_.statuses.end()[-2] : "", "Done");
    // What arrived is whole; the file cut short is not left behind. The upload that Stop
    // abandoned cleans up on its worker, which may still be at it.
    ASSERT_TRUE(waitForCommandWorkers(10s));
    const auto onServer = treeOf(server);
    const auto wanted = treeOf(local);
    EXPECT_EQ(onServer.size(), 2u);
    for (const auto& [path, content] : onServer) {
        ASSERT_TRUE(wanted.contains(path)) << path;
        EXPECT_TRUE(content == wanted.at(path))
            << path << ": " << content.size() << " bytes instead of " << wanted.at(path).size();
    }

    // The next run finishes the job.
    this->view_.onStatus = nullptr;
    this->synchroniser_.synchronise();
    ASSERT_EQ(this->view_.reports.size(), 2u);
    EXPECT_EQ(this->lastReport().heading, "Synchronisation done:\n");
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Done);
    EXPECT_EQ(this->synchroniser_.worstOutcome(), RunOutcome::Stopped);
    EXPECT_EQ(treeOf(server), treeOf(local));
}

TYPED_TEST(EngineRunTest, TheReviewTrimsOrCancelsThePlan) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"keep.html", "k"}, {"skip.html", "s"}, {"folder/x.html", "x"}});
    setTreeTime(local, wholeMinuteHoursAgo(3));
    const fs::path server = this->serverFolder("www");
    Profile profile = this->silentProfile(local, "www");
    profile.silent_mode = false;
    profile.check_actions = true;

    // Cancel: nothing is executed and no report appears.
    this->view_.reviewAnswer = false;
    this->openAndRun(profile);
    EXPECT_EQ(this->view_.reviews.size(), 1u);
    EXPECT_EQ(this->view_.reviews[0].addFileTargets.size(), 2u);
    EXPECT_TRUE(this->view_.reports.empty());
    EXPECT_TRUE(treeOf(server).empty());
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::NotRun);
    EXPECT_FALSE(this->synchroniser_.running);

    // OK after taking one file out of the plan: everything else is done.
    this->view_.reviewAnswer = true;
    this->view_.editPlan = [](PlanForReview& plan) {
        std::erase_if(plan.addFileTargets,
                      [](const FileEntryPtr& entry) { return entry->name == "skip.html"; });
    };
    this->synchroniser_.synchronise();
    ASSERT_EQ(this->view_.reports.size(), 1u) << this->prompterMessages();
    EXPECT_EQ(this->lastReport().lists.addedFilesCount, 2u);  // keep.html and folder/x.html
    EXPECT_FALSE(fs::exists(server / "skip.html"));
    EXPECT_TRUE(fs::exists(server / "keep.html"));
    EXPECT_TRUE(fs::exists(server / "folder" / "x.html"));

    // A review long enough for the idle time-out to close the connection: the run connects
    // again before it executes.
    this->view_.editPlan = [this](PlanForReview&) { this->connection_->disconnectFtp(); };
    this->synchroniser_.synchronise();
    EXPECT_TRUE(this->connection_->isConnected());
    EXPECT_EQ(this->lastReport().lists.addedFilesCount, 1u);
    EXPECT_EQ(treeOf(server), treeOf(local));
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompterMessages();
}

TYPED_TEST(EngineRunTest, PressingSynchroniseDuringARunOnlyTellsSo) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"a.html", "a"}, {"b.html", "b"}});
    setTreeTime(local, wholeMinuteHoursAgo(3));
    const fs::path server = this->serverFolder("www");
    const fs::path logPath = this->work_.path() / "run.log";
    Profile profile = this->silentProfile(local, "www");
    profile.log_file_on = true;
    profile.log_file_path = logPath.string();

    bool pressed = false;
    this->view_.onStatus = [this, &pressed](const std::string& status) {
        if (!pressed && status.rfind("Adding file: ", 0) == 0) {
            pressed = true;
            this->synchroniser_.synchronise();
            this->synchroniser_.runBatch();
        }
    };
    this->openAndRun(profile);

    ASSERT_TRUE(pressed);
    const std::string busy = "There is already a batch or synchronisation running";
    // Shown although the profile is silent, and silent mode is back afterwards.
    const std::vector<std::string> expected = {busy, busy};
    EXPECT_EQ(this->prompter_.messages, expected);
    EXPECT_TRUE(quietMode.load());
    ASSERT_EQ(this->view_.reports.size(), 1u);
    EXPECT_EQ(this->lastReport().heading, "Synchronisation done:\n");
    EXPECT_EQ(treeOf(server), treeOf(local));
    // The run's log went on: the messages are among its errors, the results follow them.
    const std::string log = readFile(logPath);
    const auto firstLine = log.find("CSynchroniserDlg::OnSynch12: " + busy);
    const auto secondLine = log.find("CSynchroniserDlg::OnRunbatch: " + busy);
    const auto results = log.find("Results Summary:\n");
    ASSERT_NE(firstLine, std::string::npos) << log;
    ASSERT_NE(secondLine, std::string::npos) << log;
    ASSERT_NE(results, std::string::npos) << log;
    EXPECT_LT(secondLine, results);
    EXPECT_FALSE(LogFile::instance().isOpen());
}

TYPED_TEST(EngineRunTest, AFailedConnectionIsReportedAndNothingRuns) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"a.html", "a"}});
    maxCommandRetries = 0;
    this->connection_->password = this->server_.rejectedPassword();
    this->connection_->user = this->server_.rejectedUser();
    Profile profile = this->silentProfile(local, "www");
    profile.silent_mode = false;
    this->openAndRun(profile);

    ASSERT_EQ(this->prompter_.messages.size(), 1u);
    EXPECT_EQ(this->prompter_.messages[0].rfind("Failed to connect to FTP server\n", 0), 0u)
        << this->prompter_.messages[0];
    EXPECT_TRUE(this->view_.reports.empty());
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Failed);
    EXPECT_FALSE(batchAborted);
}

TYPED_TEST(EngineRunTest, AnotherConnectionIsOnlyTakenWhenTheOpenOneMayBeBroken) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"a.html", "a"}});
    setTreeTime(local, wholeMinuteHoursAgo(3));
    const fs::path first = this->serverFolder("first");
    const fs::path second = this->serverFolder("second");
    auto other = std::make_shared<ConnectionDetails>();
    other->name = "Other";
    other->server = this->connection_->server;
    other->port = this->connection_->port;
    other->user = this->connection_->user;
    other->password = this->connection_->password;
    other->passive = true;
    this->synchroniser_.connections.push_back(other);

    Profile profile = this->silentProfile(local, "first");
    profile.silent_mode = false;
    profile.check_actions = false;
    this->openAndRun(profile);
    ASSERT_TRUE(this->connection_->isConnected());
    EXPECT_EQ(treeOf(first), treeOf(local));

    // No keeps the open connection selected, although the location now names the other one.
    const std::string otherLocation =
        makeFtpLocation("Other", this->server_.remote("second") + "/");
    this->prompter_.answers = {false};
    this->synchroniser_.selectFtpLocation(otherLocation);
    const std::vector<std::string> asked = {"Break current connection?"};
    EXPECT_EQ(this->prompter_.questions, asked);
    EXPECT_EQ(this->synchroniser_.selectedConnection, this->connection_);
    EXPECT_TRUE(this->connection_->isConnected());

    // The run goes where the location says, once the open connection may be broken; it must
    // never put the second location's plan on the first connection.
    this->prompter_.answers = {true};
    this->synchroniser_.synchronise();
    EXPECT_EQ(this->prompter_.questions.size(), 2u);
    EXPECT_FALSE(this->connection_->isConnected());
    EXPECT_EQ(this->synchroniser_.selectedConnection, other);
    EXPECT_TRUE(other->isConnected());
    EXPECT_EQ(treeOf(second), treeOf(local));
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Done);
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompterMessages();
}

TYPED_TEST(EngineRunTest, ADryRunShowsThePlanAndChangesNothing) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"new.html", "n"}, {"folder/x.html", "x"}});
    setTreeTime(local, wholeMinuteHoursAgo(3));
    const fs::path server = this->serverFolder("www");
    makeTree(server, {{"old.html", "o"}});
    this->synchroniser_.dryRun = true;
    Profile profile = this->silentProfile(local, "www");
    this->openAndRun(profile);

    ASSERT_EQ(this->view_.reviews.size(), 1u) << this->prompterMessages();
    const PlanForReview& plan = this->view_.reviews[0];
    EXPECT_EQ(plan.addFileTargets.size(), 1u);
    EXPECT_EQ(plan.addFolderTargets.size(), 1u);
    ASSERT_EQ(plan.deleteFiles.size(), 1u);
    EXPECT_EQ((*plan.deleteFiles.begin())->name, "old.html");
    EXPECT_TRUE(this->view_.reports.empty());
    EXPECT_FALSE(this->view_.sawStatusStartingWith("Adding file: "));
    const std::map<std::string, std::string> untouched = {{"old.html", "o"}};
    EXPECT_EQ(treeOf(server), untouched);
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Done);
}
