// The walks of a whole run over the local tree (analysis, the work estimate, whole-folder
// uploads) against real servers: folder links that lead back up the tree, links that lead
// elsewhere, and Stop while the estimate walks.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/MessagePump.h"
#include "integration/EngineRunSupport.h"

using namespace enginerun;
using Strings = std::vector<std::string>;

namespace {

// Presses Stop once `limit` has passed, so that a walk that never ends (the fault these tests
// guard against) fails its test instead of hanging it.
class StopWatchdog {
  public:
    explicit StopWatchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  requestStop();
              }
          }) {}
    ~StopWatchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    StopWatchdog(const StopWatchdog&) = delete;
    StopWatchdog& operator=(const StopWatchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// The pump of kelvane-cli turns SIGINT and SIGTERM into Stop when it is next pumped; this one
// does the same on its `signalAt`-th pump once armed, and waits like the default pump.
class SignalOnPump final : public MessagePump {
  public:
    SignalOnPump() : inner_(messagePump()) { previous_ = setMessagePump(this); }
    ~SignalOnPump() override { setMessagePump(previous_); }
    SignalOnPump(const SignalOnPump&) = delete;
    SignalOnPump& operator=(const SignalOnPump&) = delete;

    void pumpOnce() override {
        if (pumpsLeft > 0 && --pumpsLeft == 0) {
            requestStop();
        }
        inner_.pumpOnce();
    }
    void idleWait(int ms) override { inner_.idleWait(ms); }
    void wake() override { inner_.wake(); }

    int pumpsLeft = 0;  // the set-up thread only

  private:
    MessagePump& inner_;
    MessagePump* previous_ = nullptr;
};

template <typename Server>
class EngineWalkTest : public EngineRunFixture<Server> {
  protected:
    // A run whose estimate has local folders to walk, stopped by `stopAtEstimate` when the
    // estimate starts: it ends interrupted, with nothing done, and an estimate cut short.
    void expectStopDuringTheEstimate(const std::function<void()>& stopAtEstimate) {
        const fs::path local = this->localFolder("site");
        std::map<std::string, std::string> tree = {{"index.html", "home"}};
        for (const char* top : {"a", "b", "c"}) {
            for (const char* sub : {"x", "y"}) {
                for (const char* name : {"1.html", "2.html"}) {
                    tree[std::string(top) + "/" + sub + "/" + name] = "page";
                }
            }
        }
        makeTree(local, tree);
        setTreeTime(local, wholeMinuteHoursAgo(3));
        // Only local folders to walk: a listing on the server refuses to start under Stop.
        const fs::path server = this->serverFolder("www");
        makeTree(server, {{"kept.html", "kept"}});
        Profile profile = this->silentProfile(local, "www");
        profile.delete_files = false;
        const auto before = treeOf(server);
        this->view_.onStatus = [&stopAtEstimate](const std::string& status) {
            if (status == "Estimating amount of work to do...") {
                stopAtEstimate();
            }
        };
        this->openAndRun(profile);

        ASSERT_EQ(this->view_.reports.size(), 1u) << this->prompterMessages();
        EXPECT_EQ(this->lastReport().heading, "Synchronisation interrupted\n");
        EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::Stopped);
        EXPECT_EQ(actionsDone(this->lastReport()), 0u);
        EXPECT_EQ(treeOf(server), before);
        // The estimate stopped walking: it is less than the whole.
        const std::uint64_t cutShort = this->synchroniser_.totalWork();
        this->synchroniser_.estimateWork();
        EXPECT_LT(cutShort, this->synchroniser_.totalWork());
    }
};

TYPED_TEST_SUITE(EngineWalkTest, Servers, ServerNames);

}  // namespace

TYPED_TEST(EngineWalkTest, AFolderLinkBackUpTheTreeIsReportedAndNotEntered) {
    const fs::path local = this->localFolder("site");
    makeTree(local, {{"index.html", "home"},
                     {"a/page.html", "a page"},
                     {"b/deep/x.html", "deep down"},
                     {"lib/shared.css", "shared"}});
    setTreeTime(local, wholeMinuteHoursAgo(3));
    fs::create_directory_symlink("..", local / "a" / "up");
    fs::create_directory_symlink("../..", local / "b" / "deep" / "top");
    // A link to a folder beside it is followed, and the link back up found through it too.
    fs::create_directory_symlink("b", local / "c");
    const fs::path server = this->serverFolder("www");
    Profile profile = this->silentProfile(local, "www");

    {
        StopWatchdog watchdog(60s);
        this->openAndRun(profile);
    }
    ASSERT_EQ(this->view_.reports.size(), 1u) << this->prompterMessages();
    const Report& first = this->lastReport();
    EXPECT_EQ(first.heading, "Synchronisation done:\n");
    EXPECT_EQ(this->synchroniser_.lastOutcome(), RunOutcome::DoneWithProblems);
    // Two lines per link, the message with its path, then the reason.
    const auto linkProblems = [site = local.string() + "/"](const std::string& context) {
        Strings lines;
        for (const char* link : {"a/up", "b/deep/top", "c/deep/top"}) {
            lines.push_back(context + ": Folder link not followed: " + site + link);
            lines.push_back("The link leads back to " + site + ", a folder that holds it");
        }
        return lines;
    };
    EXPECT_EQ(first.problems, linkProblems("CSynchroniserDlg::copyDirectory"));
    // Every real file once, the linked folder as a copy of what it leads to.
    const std::map<std::string, std::string> expected = {
        {"index.html", "home"}, {"a", "<folder>"},           {"a/page.html", "a page"},
        {"b", "<folder>"},      {"b/deep", "<folder>"},      {"b/deep/x.html", "deep down"},
        {"c", "<folder>"},      {"c/deep", "<folder>"},      {"c/deep/x.html", "deep down"},
        {"lib", "<folder>"},    {"lib/shared.css", "shared"}};
    EXPECT_EQ(treeOf(server), expected);
    // The estimate left the links out as the upload did: the work done meets it exactly.
    EXPECT_EQ(this->view_.highestProgress(), 1000);

    // Now that the folders are on the server, the analysis walks into them and meets the links.
    {
        StopWatchdog watchdog(60s);
        this->synchroniser_.synchronise();
    }
    ASSERT_EQ(this->view_.reports.size(), 2u);
    const Report& second = this->lastReport();
    EXPECT_EQ(actionsDone(second), 0u);
    EXPECT_EQ(second.problems, linkProblems("CSynchroniserDlg::analyseDirectory (src)"));
    EXPECT_EQ(treeOf(server), expected);
}

TYPED_TEST(EngineWalkTest, StopPressedAsTheEstimateStartsEndsItAndTheRunExecutesNothing) {
    this->expectStopDuringTheEstimate([] { requestStop(); });
}

TYPED_TEST(EngineWalkTest, ASignalNoticedByThePumpDuringTheEstimateEndsIt) {
    SignalOnPump pump;
    // The status line pumps once; the next pump is the estimate's own, on its first folder.
    this->expectStopDuringTheEstimate([&pump] { pump.pumpsLeft = 2; });
}
