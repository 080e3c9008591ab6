// The running display of a run: the work estimate, progress in thousandths with percentage and
// time remaining, the retry count, and the report headings.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/ErrorReport.h"
#include "engine/LogFile.h"
#include "engine/ProgressEstimate.h"
#include "engine/Synchroniser.h"
#include "support/FakeSynchroniserView.h"
#include "support/TempFolder.h"
#include "transfer/CommandState.h"
#include "transfer/Progress.h"

namespace fs = std::filesystem;
using testsupport::FakeSynchroniserView;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

FileEntryPtr localFolderEntry(const fs::path& path) {
    auto entry = std::make_shared<FileEntry>();
    entry->folder = path.parent_path().string() + "/";
    entry->name = path.filename().string();
    entry->kind = EntryKind::Folder;
    return entry;
}

FileEntryPtr ftpFile(const std::string& folder, const std::string& name, std::uint64_t size) {
    auto entry = std::make_shared<FileEntry>();
    entry->folder = folder;
    entry->name = name;
    entry->size = size;
    entry->remote = true;
    return entry;
}

class ProgressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bytesDone = 0;
        commandState().retryCount = 0;
        stopRequested = false;
    }
    void TearDown() override {
        bytesDone = 0;
        commandState().retryCount = 0;
        stopRequested = false;
    }

    FakeSynchroniserView view_;
    Synchroniser synchroniser_{view_};
};

}  // namespace

TEST(ProgressArithmetic, TimeRemainingFollowsTheRateSoFar) {
    // A quarter done after 30 seconds: three quarters take another 90.
    EXPECT_EQ(progressThousandths(250, 1000), 250);
    EXPECT_EQ(timeRemainingText(250, 30'000), "00:01:30");
    EXPECT_EQ(progressPercentText(250), "25");

    EXPECT_EQ(timeRemainingText(100, 1'000'000), "02:30:00");
    // Rounded to the nearest second, never less than one.
    EXPECT_EQ(timeRemainingText(500, 2'400), "00:00:02");
    EXPECT_EQ(timeRemainingText(500, 2'600), "00:00:03");
    EXPECT_EQ(timeRemainingText(1000, 60'000), "00:00:01");
    EXPECT_EQ(timeRemainingText(999, 100), "00:00:01");
    // Hours are not cut at two digits.
    EXPECT_EQ(timeRemainingText(1, 3'600'000), "999:00:00");
    // Before the first whole thousandth there is no rate to go by.
    EXPECT_EQ(timeRemainingText(0, 5'000), "");
}

TEST(ProgressArithmetic, ThousandthsAreTruncatedAndStopAtTheEnd) {
    EXPECT_EQ(progressThousandths(1, 3), 333);
    EXPECT_EQ(progressThousandths(2, 3), 666);
    EXPECT_EQ(progressPercentText(999), "99");
    EXPECT_EQ(progressThousandths(3072, 3072), 1000);
    EXPECT_EQ(progressPercentText(1000), "100");
    // An estimate that fell short, or none at all, shows a full bar rather than more.
    EXPECT_EQ(progressThousandths(5000, 3072), 1000);
    EXPECT_EQ(progressThousandths(2, 0), 1000);
    // Sizes beyond 32 bits.
    EXPECT_EQ(progressThousandths(3ULL << 32, 6ULL << 32), 500);
}

TEST_F(ProgressTest, ThreeDeletesAre3072AndRedrawOnlyWhenTheThousandthChanges) {
    for (const char* name : {"a.html", "b.html", "c.html"}) {
        synchroniser_.lists.deleteFiles.insert(ftpFile("/www/", name, 1'000'000));
    }
    synchroniser_.estimateWork();
    EXPECT_EQ(synchroniser_.totalWork(), 3072u);

    bytesDone = 1024;
    synchroniser_.updateProgress();
    ASSERT_EQ(view_.progress.size(), 1u);
    EXPECT_EQ(view_.progress[0].thousandths, 333);
    EXPECT_EQ(view_.progress[0].percent, "33");
    EXPECT_FALSE(view_.progress[0].timeRemaining.empty());

    // The same thousandth again: nothing to redraw.
    bytesDone = 1025;
    synchroniser_.updateProgress();
    EXPECT_EQ(view_.progress.size(), 1u);

    bytesDone = 3072;
    synchroniser_.updateProgress();
    ASSERT_EQ(view_.progress.size(), 2u);
    EXPECT_EQ(view_.progress[1].thousandths, 1000);
    EXPECT_EQ(view_.progress[1].percent, "100");

    // Fewer than two units done: an empty bar without texts, drawn once.
    bytesDone = 1;
    synchroniser_.updateProgress();
    synchroniser_.updateProgress();
    ASSERT_EQ(view_.progress.size(), 3u);
    EXPECT_EQ(view_.progress[2].thousandths, 0);
    EXPECT_EQ(view_.progress[2].percent, "");
    EXPECT_EQ(view_.progress[2].timeRemaining, "");
}

TEST_F(ProgressTest, RetriesAreShownWhileTheCommandIsRetried) {
    synchroniser_.updateProgress();
    commandState().retryCount = 2;
    synchroniser_.updateProgress();
    synchroniser_.updateProgress();
    commandState().retryCount = 0;
    synchroniser_.updateProgress();
    const std::vector<std::pair<std::string, std::string>> shown = {
        {"", ""}, {"Retries", "2"}, {"", ""}};
    EXPECT_EQ(view_.retries, shown);
}

TEST_F(ProgressTest, FoldersAreEstimatedFromTheirWholeTree) {
    TempFolder work;
    const fs::path site = work.path() / "site";
    fs::create_directories(site / "sub" / "deeper");
    writeFile(site / "a.html", std::string(100, 'a'));
    writeFile(site / "sub" / "b.html", std::string(50, 'b'));
    LocalSyncLocation local;

    // Three folders and two files: 1024 each, plus the bytes of the files when they go up.
    EXPECT_EQ(synchroniser_.estimateFolder(local, *localFolderEntry(site), false), 5 * 1024u + 150);
    EXPECT_EQ(synchroniser_.estimateFolder(local, *localFolderEntry(site), true), 5 * 1024u);
    // A folder that cannot be listed still counts its own operation.
    EXPECT_EQ(synchroniser_.estimateFolder(local, *localFolderEntry(work.path() / "gone"), false),
              1024u);

    // The estimate of a whole plan adds every kind.
    ActionLists& lists = synchroniser_.lists;
    const FileEntryPtr folder = localFolderEntry(site);
    lists.addFolders.emplace(folder, ActionPair{folder, folder->copyForOtherSide("/www/", true)});
    const FileEntryPtr changed = ftpFile("/local/", "changed.html", 3000);
    lists.overwriteFiles.emplace(changed, ActionPair{changed, ftpFile("/www/", "changed.html", 1)});
    const FileEntryPtr added = ftpFile("/local/", "new.html", 0);
    lists.addFiles.emplace(added, ActionPair{added, ftpFile("/www/", "new.html", 0)});
    lists.deleteFiles.insert(ftpFile("/www/", "old.html", 99));
    synchroniser_.estimateWork();
    EXPECT_EQ(synchroniser_.totalWork(), (5 * 1024u + 150) + (3000 + 1024) + 1024 + 1024);
}

TEST_F(ProgressTest, TheReportHeadingTellsHowTheRunEnded) {
    ASSERT_FALSE(LogFile::instance().isOpen());
    synchroniser_.showReport("/site/", "/www/", true, false);
    stopRequested = true;
    synchroniser_.showReport("/site/", "/www/", false, false);
    stopRequested = false;
    synchroniser_.showReport("/site/", "/www/", false, false);
    EXPECT_EQ(lastReportHeading, "Synchronisation done:\n");
    // "Last Report" shows the heading of the report before it again, whatever happened since.
    synchroniser_.showReport("/site/", "/www/", true, false);
    synchroniser_.showReport("/last/", "/lastwww/", false, true);

    ASSERT_EQ(view_.reports.size(), 5u);
    EXPECT_EQ(view_.reports[0].heading, "Synchronisation failed\n");
    EXPECT_EQ(view_.reports[1].heading, "Synchronisation interrupted\n");
    EXPECT_EQ(view_.reports[2].heading, "Synchronisation done:\n");
    EXPECT_EQ(view_.reports[4].heading, "Synchronisation failed\n");
    EXPECT_EQ(view_.reports[4].source, "/last/");
    EXPECT_EQ(view_.reports[4].target, "/lastwww/");
}
