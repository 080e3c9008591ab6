// Batch runs through runBatch(), as the "Run Batch" button starts them: each profile of the list
// is opened and synchronised in turn against a real server; the batch file is shown again at
// the end.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "integration/EngineRunSupport.h"
#include "profiles/BatchList.h"
#include "profiles/RecentFiles.h"

using namespace enginerun;

namespace {

template <typename Server>
class EngineBatchTest : public EngineRunFixture<Server> {
  protected:
    // Profile n synchronises local folder "local<n>" with server folder "site<n>".
    std::string makeProfile(int n, bool autoStart) {
        const fs::path local = this->localFolder("local" + std::to_string(n));
        makeTree(local, {{"page" + std::to_string(n) + ".html", "page " + std::to_string(n)},
                         {"sub/more.html", "more " + std::to_string(n)}});
        setTreeTime(local, wholeMinuteHoursAgo(3));
        this->serverFolder(site(n));
        Profile profile = this->silentProfile(local, site(n));
        // Not silent, so that what the batch reports reaches the prompter.
        profile.silent_mode = false;
        profile.check_actions = false;
        profile.auto_start = autoStart ? 1 : 0;
        return this->saveProfile(profile, "profile" + std::to_string(n) + ".kvp");
    }
    static std::string site(int n) { return "site" + std::to_string(n); }
    fs::path local(int n) const { return this->work_.path() / ("local" + std::to_string(n)); }
    fs::path server(int n) const { return this->server_.root() / site(n); }

    std::string saveBatch(const std::vector<std::string>& paths) {
        BatchList batch;
        batch.profilePaths = paths;
        const std::string path = (this->work_.path() / "nightly.kvb").string();
        EXPECT_TRUE(batch.saveToFile(path));
        return path;
    }
    void openBatch(const std::string& path) {
        this->synchroniser_.setRecentFiles(&recent_);
        ASSERT_TRUE(this->synchroniser_.loadFile(path, true, true)) << this->prompterMessages();
    }
    // After every batch the window shows the batch file again, not its last profile.
    void expectBatchShownAgain(const std::string& batchPath) {
        EXPECT_EQ(this->synchroniser_.batchPath, batchPath);
        EXPECT_EQ(this->synchroniser_.openedPath, batchPath);
        EXPECT_EQ(this->synchroniser_.profilePath, "");
        EXPECT_FALSE(this->synchroniser_.running);
        EXPECT_FALSE(batchAborted);
        ASSERT_FALSE(recent_.entries().empty());
        EXPECT_EQ(recent_.entries().front(), batchPath);
    }

    RecentFiles recent_;
};

TYPED_TEST_SUITE(EngineBatchTest, Servers, ServerNames);

}  // namespace

TYPED_TEST(EngineBatchTest, RunsTheProfilesWithAutoStartAndNamesTheOthers) {
    const std::string first = this->makeProfile(1, true);
    const std::string second = this->makeProfile(2, false);
    const std::string third = this->makeProfile(3, true);
    const std::string batchPath = this->saveBatch({first});
    this->openBatch(batchPath);
    // The list was edited since it was saved: Yes saves it before the batch runs.
    this->synchroniser_.batch.profilePaths = {first, second, third};
    this->synchroniser_.batch.modified = true;
    this->prompter_.answers = {true};
    // A run stopped on its own earlier does not make this batch run nothing.
    batchAborted = true;

    this->synchroniser_.runBatch();

    const std::vector<std::string> asked = {
        "The current batch file has been modified.\nDo you wish to save your changes?"};
    EXPECT_EQ(this->prompter_.questions, asked);
    const std::vector<std::string> told = {
        "The profile " + second + "\n must have Auto Start selected to be used as a batch profile"};
    EXPECT_EQ(this->prompter_.messages, told);
    ASSERT_EQ(this->view_.reports.size(), 2u);
    for (const Report& report : this->view_.reports) {
        EXPECT_EQ(report.heading, "Synchronisation done:\n");
    }
    EXPECT_EQ(this->view_.reports[0].source, this->local(1).string() + "/");
    EXPECT_EQ(this->view_.reports[1].source, this->local(3).string() + "/");
    EXPECT_EQ(treeOf(this->server(1)), treeOf(this->local(1)));
    EXPECT_TRUE(treeOf(this->server(2)).empty());
    EXPECT_EQ(treeOf(this->server(3)), treeOf(this->local(3)));
    // The profile that could not run makes the batch count as failed.
    EXPECT_EQ(this->synchroniser_.worstOutcome(), RunOutcome::Failed);

    this->expectBatchShownAgain(batchPath);
    // The saved list is the one shown again.
    const std::vector<std::string> all = {first, second, third};
    EXPECT_EQ(this->synchroniser_.batch.profilePaths, all);
    EXPECT_FALSE(this->synchroniser_.batch.modified);
}

TYPED_TEST(EngineBatchTest, StopInTheFirstProfileEndsTheBatch) {
    const std::string first = this->makeProfile(1, true);
    const std::string second = this->makeProfile(2, true);
    const std::string batchPath = this->saveBatch({first, second});
    this->openBatch(batchPath);
    this->view_.onStatus = [](const std::string& status) {
        if (status.rfind("Adding file: ", 0) == 0) {
            requestStop();
        }
    };

    this->synchroniser_.runBatch();

    ASSERT_EQ(this->view_.reports.size(), 1u) << this->prompterMessages();
    EXPECT_EQ(this->view_.reports[0].heading, "Synchronisation interrupted\n");
    EXPECT_EQ(this->synchroniser_.worstOutcome(), RunOutcome::Stopped);
    // The second profile was never even opened.
    EXPECT_FALSE(this->view_.sawStatusStartingWith("Checking folder: " + this->local(2).string()));
    EXPECT_TRUE(treeOf(this->server(2)).empty());
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompterMessages();
    this->expectBatchShownAgain(batchPath);

    // Nothing of the stop lingers: the next batch runs both.
    this->view_.onStatus = nullptr;
    this->synchroniser_.runBatch();
    ASSERT_EQ(this->view_.reports.size(), 3u);
    EXPECT_EQ(this->synchroniser_.worstOutcome(), RunOutcome::Done);
    EXPECT_EQ(treeOf(this->server(1)), treeOf(this->local(1)));
    EXPECT_EQ(treeOf(this->server(2)), treeOf(this->local(2)));
}

TYPED_TEST(EngineBatchTest, StopWhileConnectingEndsTheBatchToo) {
    const std::string first = this->makeProfile(1, true);
    const std::string second = this->makeProfile(2, true);
    const std::string batchPath = this->saveBatch({first, second});
    this->openBatch(batchPath);
    this->view_.pressStopWhileConnecting = true;

    this->synchroniser_.runBatch();

    EXPECT_EQ(this->view_.connectCalls, 1);
    EXPECT_TRUE(this->view_.reports.empty());
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompterMessages();
    EXPECT_EQ(this->synchroniser_.worstOutcome(), RunOutcome::Stopped);
    EXPECT_FALSE(stopRequested.load());
    this->expectBatchShownAgain(batchPath);
}

TYPED_TEST(EngineBatchTest, AProfileThatIsGoneIsReportedAndTheNextOneRuns) {
    const std::string missing = (this->work_.path() / "deleted.kvp").string();
    const std::string first = this->makeProfile(1, true);
    const std::string batchPath = this->saveBatch({missing, first});
    this->openBatch(batchPath);

    this->synchroniser_.runBatch();

    const std::vector<std::string> told = {"Could not open file: " + missing};
    EXPECT_EQ(this->prompter_.messages, told);
    ASSERT_EQ(this->view_.reports.size(), 1u);
    EXPECT_EQ(this->view_.reports[0].heading, "Synchronisation done:\n");
    EXPECT_EQ(treeOf(this->server(1)), treeOf(this->local(1)));
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Done);
    EXPECT_EQ(this->synchroniser_.worstOutcome(), RunOutcome::Failed);
    this->expectBatchShownAgain(batchPath);
}

TYPED_TEST(EngineBatchTest, ExitOnCompletionEndsTheBatchWithTheProgram) {
    const std::string first = this->makeProfile(1, true);
    const std::string second = this->makeProfile(2, true);
    Profile closing;
    ASSERT_TRUE(closing.loadFromFile(first));
    closing.exit_on_completion = true;
    ASSERT_TRUE(closing.saveToFile(first));
    const std::string batchPath = this->saveBatch({first, second});
    this->openBatch(batchPath);

    this->synchroniser_.runBatch();

    EXPECT_EQ(this->view_.closeCalls, 1);
    ASSERT_EQ(this->view_.reports.size(), 1u);
    EXPECT_EQ(treeOf(this->server(1)), treeOf(this->local(1)));
    EXPECT_TRUE(treeOf(this->server(2)).empty());
    EXPECT_FALSE(batchAborted);
}
