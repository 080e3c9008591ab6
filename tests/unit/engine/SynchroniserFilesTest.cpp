// Opening profiles and batch files in the synchroniser, choosing the FTP location, and the
// refusals that need no server: what the person is told, and which context goes to the log.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "engine/Synchroniser.h"
#include "profiles/LocationHistory.h"
#include "profiles/RecentFiles.h"
#include "profiles/SettingsStore.h"
#include "support/FakeSynchroniserView.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;
using testsupport::FakeSynchroniserView;
using testsupport::RecordingPrompter;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

// Stands in for an open log file, to see the contexts of the reports.
class RecordingLog final : public ErrorLog {
  public:
    bool isOpen() const override { return true; }
    void writeLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

std::shared_ptr<ConnectionDetails> connectionNamed(const std::string& name) {
    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = name;
    connection->server = "127.0.0.1";
    return connection;
}

class SynchroniserFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedQuiet_ = quietMode.exchange(false);
        batchAborted = false;
        oldPrompter_ = setPrompter(&prompter_);
        oldLog_ = setErrorLog(&log_);
        synchroniser_.connections = {connectionNamed("Alpha"), connectionNamed("Beta")};
    }
    void TearDown() override {
        setErrorLog(oldLog_);
        setPrompter(oldPrompter_);
        quietMode = savedQuiet_;
        batchAborted = false;
        stopRequested = false;
    }

    std::string path(const std::string& name) const { return (work_.path() / name).string(); }
    std::string saveProfile(Profile& profile, const std::string& name) {
        EXPECT_TRUE(profile.saveToFile(path(name)));
        return path(name);
    }

    TempFolder work_;
    RecordingPrompter prompter_;
    RecordingLog log_;
    FakeSynchroniserView view_;
    Synchroniser synchroniser_{view_};

  private:
    bool savedQuiet_ = false;
    Prompter* oldPrompter_ = nullptr;
    ErrorLog* oldLog_ = nullptr;
};

}  // namespace

TEST_F(SynchroniserFilesTest, OpeningAProfileTakesItsOptionsLocationsAndConnection) {
    FileSettingsStore settings(work_.path());
    RecentFiles recent;
    LocationHistory localHistory(1);
    LocationHistory ftpHistory(2);
    synchroniser_.setSettings(&settings);
    synchroniser_.setRecentFiles(&recent);
    synchroniser_.setLocationHistories(&localHistory, &ftpHistory);

    Profile profile;
    profile.delete_files = false;
    profile.confirm_deletes = true;
    profile.add_files = false;
    profile.check_sub_folders = false;
    profile.check_actions = false;
    profile.silent_mode = true;
    profile.exit_on_completion = true;
    profile.location1 = "/home/ann/site/";
    profile.location2 = "FTP:Beta/www/";
    const std::string file = saveProfile(profile, "site.kvp");

    // An open batch stays while its profiles are loaded one by one...
    synchroniser_.batch.profilePaths = {file};
    synchroniser_.batch.modified = true;
    synchroniser_.batchPath = path("nightly.kvb");
    ASSERT_TRUE(synchroniser_.loadFile(file, false, false));
    EXPECT_EQ(synchroniser_.batch.profilePaths.size(), 1u);
    EXPECT_TRUE(recent.entries().empty());
    // ...and goes when a profile is opened on its own.
    ASSERT_TRUE(synchroniser_.loadFile(file, true, true));
    EXPECT_TRUE(synchroniser_.batch.profilePaths.empty());
    EXPECT_FALSE(synchroniser_.batch.modified);
    EXPECT_EQ(synchroniser_.batchPath, "");

    const Synchroniser::Options& options = synchroniser_.options;
    EXPECT_FALSE(options.deleteMissing);
    EXPECT_TRUE(options.confirmDeletes);
    EXPECT_FALSE(options.addMissing);
    EXPECT_FALSE(options.checkSubFolders);
    EXPECT_FALSE(options.checkActions);
    EXPECT_TRUE(options.silentMode);
    EXPECT_TRUE(options.exitOnCompletion);
    EXPECT_TRUE(quietMode.load());
    EXPECT_EQ(options.localLocation, "/home/ann/site/");
    EXPECT_EQ(options.ftpLocation, "FTP:Beta/www/");
    EXPECT_EQ(synchroniser_.selectedConnection, synchroniser_.connections[1]);
    EXPECT_EQ(synchroniser_.profilePath, file);
    EXPECT_EQ(synchroniser_.openedPath, file);

    EXPECT_EQ(settings.readString("OpenPath"), file);
    ASSERT_EQ(recent.entries().size(), 1u);
    EXPECT_EQ(recent.entries().front(), file);
    EXPECT_EQ(localHistory.front(), "/home/ann/site/");
    EXPECT_EQ(ftpHistory.front(), "FTP:Beta/www/");
    EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(SynchroniserFilesTest, AnUnattendedFrontEndRunsEveryProfileSilently) {
    Profile profile;
    profile.silent_mode = false;
    profile.check_actions = true;
    profile.location2 = "FTP:Alpha/www/";
    const std::string file = saveProfile(profile, "site.kvp");
    synchroniser_.unattended = true;
    ASSERT_TRUE(synchroniser_.loadFile(file, true, false));
    EXPECT_TRUE(synchroniser_.options.silentMode);
    EXPECT_FALSE(synchroniser_.options.checkActions);
    EXPECT_TRUE(quietMode.load());
    // The profile itself is left as it is stored.
    EXPECT_FALSE(synchroniser_.profile.silent_mode);
}

TEST_F(SynchroniserFilesTest, FilesThatCannotBeOpenedAreReportedWithTheirContext) {
    // Neither a profile nor a batch: refused without a word.
    EXPECT_FALSE(synchroniser_.loadFile(path("notes.txt"), true, true));
    EXPECT_TRUE(prompter_.messages.empty());
    EXPECT_EQ(synchroniser_.lastOutcome(), RunOutcome::Failed);

    const std::string missing = path("missing.kvp");
    EXPECT_FALSE(synchroniser_.loadFile(missing, true, true));
    writeFile(work_.path() / "junk.kvp", "this is no profile\r\n");
    EXPECT_FALSE(synchroniser_.loadFile(path("junk.kvp"), true, true));
    EXPECT_EQ(synchroniser_.profilePath, "");
    EXPECT_EQ(synchroniser_.openedPath, "");
    EXPECT_FALSE(synchroniser_.loadFile(path("missing.kvb"), true, true));
    writeFile(work_.path() / "junk.kvb", "this is no batch\r\n");
    EXPECT_FALSE(synchroniser_.loadFile(path("junk.kvb"), true, true));
    EXPECT_EQ(synchroniser_.batchPath, "");

    const std::vector<std::string> lines = {
        "CSynchroniserDlg::loadProfileData: Could not open file: " + missing,
        "CSynchroniserDlg::loadProfileData: " + path("junk.kvp") +
            " is not a valid Kelvane profile",
        "CSynchroniserDlg::loadBatchData: Could not open file: " + path("missing.kvb"),
        "CSynchroniserDlg::loadBatchData: " + path("junk.kvb") +
            " is not a valid Kelvane batch file"};
    EXPECT_EQ(log_.lines, lines);
    EXPECT_EQ(prompter_.messages.size(), 4u);
}

TEST_F(SynchroniserFilesTest, OpeningABatchLeavesNoProfileOpen) {
    Profile profile;
    profile.location1 = "/home/ann/site/";
    profile.location2 = "FTP:Alpha/www/";
    const std::string file = saveProfile(profile, "site.kvp");
    ASSERT_TRUE(synchroniser_.loadFile(file, true, false));

    BatchList batch;
    batch.profilePaths = {file, file};
    ASSERT_TRUE(batch.saveToFile(path("nightly.kvb")));
    ASSERT_TRUE(synchroniser_.loadFile(path("nightly.kvb"), true, false));
    EXPECT_EQ(synchroniser_.batchPath, path("nightly.kvb"));
    EXPECT_EQ(synchroniser_.openedPath, path("nightly.kvb"));
    EXPECT_EQ(synchroniser_.profilePath, "");
    EXPECT_EQ(synchroniser_.profile.location1, "");
    EXPECT_EQ(synchroniser_.batch.profilePaths.size(), 2u);
}

TEST_F(SynchroniserFilesTest, ALocationNamingNoKnownConnectionSelectsNone) {
    synchroniser_.selectFtpLocation("FTP:Alpha/www/");
    EXPECT_EQ(synchroniser_.selectedConnection, synchroniser_.connections[0]);
    synchroniser_.selectFtpLocation("FTP:Gamma/www/");
    EXPECT_EQ(synchroniser_.selectedConnection, nullptr);
    EXPECT_EQ(synchroniser_.options.ftpLocation, "FTP:Gamma/www/");
    synchroniser_.selectFtpLocation("not a location");
    EXPECT_EQ(synchroniser_.selectedConnection, nullptr);
    // Nothing was open, so there was nothing to break.
    EXPECT_TRUE(prompter_.questions.empty());
}

TEST_F(SynchroniserFilesTest, ARunNeedsAWebLocationAndGoesOnWithoutItsLog) {
    synchroniser_.profile.log_file_on = true;
    synchroniser_.profile.log_file_path = path("no such folder/run.log");
    synchroniser_.synchronise();

    ASSERT_EQ(prompter_.messages.size(), 2u);
    EXPECT_EQ(prompter_.messages[0], "Could not open log file: " + path("no such folder/run.log") +
                                         "\nNo such file or directory");
    EXPECT_EQ(prompter_.messages[1], "You must first select a web location");
    ASSERT_EQ(log_.lines.size(), 2u);
    EXPECT_EQ(log_.lines[0].rfind("CSynchroniserDlg::startLogFile: Could not open log file: ", 0),
              0u);
    EXPECT_EQ(log_.lines[1], "CSynchroniserDlg::OnSynch12: You must first select a web location");
    EXPECT_TRUE(view_.reports.empty());
    EXPECT_EQ(view_.connectCalls, 0);
    EXPECT_EQ(synchroniser_.lastOutcome(), RunOutcome::Failed);
    EXPECT_EQ(synchroniser_.worstOutcome(), RunOutcome::Failed);
    synchroniser_.resetOutcome();
    EXPECT_EQ(synchroniser_.worstOutcome(), RunOutcome::NotRun);
}
