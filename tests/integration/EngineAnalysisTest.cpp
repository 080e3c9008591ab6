// The folder analysis against real servers: what it plans from a local tree and a server tree,
// with the rules of the profile, the options of the window, exclusions on both sides and the
// answers given to the delete confirmation. Nothing may change on either side.

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "EngineTestFixture.h"

using namespace enginetest;
using Strings = std::vector<std::string>;

namespace {

template <typename Server>
class EngineAnalysisTest : public EngineTest<Server> {
  protected:
    // Runs one analysis afresh, as a run starts it.
    bool analyseAgain() {
        this->sync_.lists.clear();
        this->sync_.problemList.clear();
        this->sync_.fileConfirmation = {};
        this->sync_.folderConfirmation = {};
        return this->analyse();
    }
    bool nothingPlanned() const {
        const ActionLists& lists = this->sync_.lists;
        return lists.overwriteFiles.empty() && lists.addFiles.empty() && lists.addFolders.empty() &&
               lists.deleteFiles.empty() && lists.deleteFolders.empty();
    }
};

TYPED_TEST_SUITE(EngineAnalysisTest, Servers, ServerNames);

}  // namespace

TYPED_TEST(EngineAnalysisTest, OverwritesByTimeWithTheServerClockCorrected) {
    const std::time_t t = this->baseTime();
    constexpr std::time_t hour = 3600;
    // The server's clock runs two hours behind: its copies look two hours older.
    this->putLocal("same.html", "s", t);
    this->putServer("same.html", "s", t - 2 * hour);
    this->putLocal("later.html", "l", t + 1);
    this->putServer("later.html", "l", t - 2 * hour);
    this->putLocal("older.html", "o", t - 3 * hour);
    this->putServer("older.html", "o", t - 2 * hour);
    const auto before = treeOf(this->serverSite());

    struct Case {
        int hours;
        Strings overwritten;
    };
    const Case cases[] = {
        {0, {"later.html", "same.html"}},
        {2, {"later.html"}},
        {-2, {"later.html", "older.html", "same.html"}},
    };
    for (const Case& c : cases) {
        this->sync_.profile.adjust_time_hours = c.hours;
        ASSERT_TRUE(this->analyseAgain()) << this->sync_.problemList.size();
        EXPECT_EQ(this->targets(this->sync_.lists.overwriteFiles), c.overwritten) << c.hours;
        for (const auto& [source, pair] : this->sync_.lists.overwriteFiles) {
            EXPECT_EQ(pair.target->action, EntryAction::Overwrite);
            EXPECT_TRUE(pair.target->remote);
            EXPECT_EQ(pair.source->fullPath(), this->localFolder() + pair.source->name);
        }
        // Matched files are neither added nor deleted, newer or not.
        EXPECT_TRUE(this->sync_.lists.addFiles.empty());
        EXPECT_TRUE(this->sync_.lists.deleteFiles.empty());
    }
    EXPECT_EQ(treeOf(this->serverSite()), before);

    // Equal to the second, and one second later, with the minutes of the correction. The
    // server changed behind the connection's back: the analysis must see it as it is now.
    this->sync_.profile.adjust_time_hours = 0;
    this->sync_.profile.adjust_time_mins = 30;
    this->putLocal("same.html", "s", t);
    this->putServer("same.html", "s", t - 30 * 60);
    this->putLocal("later.html", "l", t + 1);
    this->putServer("later.html", "l", t - 30 * 60);
    ASSERT_TRUE(this->analyseAgain());
    EXPECT_EQ(this->targets(this->sync_.lists.overwriteFiles), Strings{"later.html"});

    EXPECT_TRUE(this->sync_.problemList.empty());
    EXPECT_TRUE(this->prompter_.questions.empty());
    EXPECT_EQ(this->view_.statusesStartingWith("Checking file: ").size(), 3u * 3u + 3u);
    EXPECT_EQ(this->view_.statusesStartingWith("Checking file: ").front(),
              "Checking file: " + this->localFolder() + "later.html");
}

TYPED_TEST(EngineAnalysisTest, OverwritesBySizeInEitherDirection) {
    this->sync_.profile.compare_on_time = false;
    this->putLocal("smaller.html", "12345", this->baseTime() - 86400);
    this->putServer("smaller.html", "1234567890");
    this->putLocal("larger.html", "1234567890");
    this->putServer("larger.html", "12345");
    // Same size, other bytes, newer: size alone decides.
    this->putLocal("edited.html", "ABCDE", this->baseTime() + 60);
    this->putServer("edited.html", "abcde");
    ASSERT_TRUE(this->analyse());
    EXPECT_EQ(this->targets(this->sync_.lists.overwriteFiles),
              (Strings{"larger.html", "smaller.html"}));
    for (const auto& [source, pair] : this->sync_.lists.overwriteFiles) {
        EXPECT_NE(pair.source->size, pair.target->size);
    }
}

TYPED_TEST(EngineAnalysisTest, AddsAndDeletesWhatOnlyOneSideHasAndDescendsIntoCommonFolders) {
    this->putLocal("index.html", "i");
    this->putServer("index.html", "i");
    this->putLocal("new.html", "n");
    this->putLocal("new folder/deep/page.html", "p");
    this->putLocal("common/added.html", "a");
    this->putLocal("common/inner/added too.html", "a");
    this->putServer("common/gone.html", "g");
    this->putServer("common/inner/gone too.html", "g");
    this->putServer("common/old folder/x.html", "x");
    this->putServer("gone.html", "g");
    this->putServer("gone folder/y.html", "y");
    this->serverFolderAt("empty gone");
    const auto localBefore = treeOf(this->localRoot());
    const auto serverBefore = treeOf(this->serverSite());

    ASSERT_TRUE(this->analyse());
    const ActionLists& lists = this->sync_.lists;
    EXPECT_TRUE(lists.overwriteFiles.empty());
    EXPECT_EQ(this->targets(lists.addFiles),
              (Strings{"common/added.html", "common/inner/added too.html", "new.html"}));
    // A new folder is added whole at execution; nothing inside it is analysed.
    EXPECT_EQ(this->targets(lists.addFolders), Strings{"new folder"});
    EXPECT_EQ(this->paths(lists.deleteFiles),
              (Strings{"common/gone.html", "common/inner/gone too.html", "gone.html"}));
    EXPECT_EQ(this->paths(lists.deleteFolders),
              (Strings{"common/old folder", "empty gone", "gone folder"}));
    for (const auto& [source, pair] : lists.addFiles) {
        EXPECT_EQ(pair.target->action, EntryAction::Add);
        EXPECT_TRUE(pair.target->remote);
    }
    for (const FileEntryPtr& entry : lists.deleteFolders) {
        EXPECT_EQ(entry->action, EntryAction::Delete);
        EXPECT_TRUE(entry->isFolder());
    }
    EXPECT_TRUE(this->sync_.problemList.empty());
    // Depth first, files before folders within a folder.
    EXPECT_EQ(this->view_.statusesStartingWith("Checking folder: "),
              (Strings{"Checking folder: " + this->localFolder() + "common",
                       "Checking folder: " + this->localFolder() + "common/inner",
                       "Checking folder: " + this->localFolder() + "new folder"}));
    // Analysis changes nothing on either side.
    EXPECT_EQ(treeOf(this->localRoot()), localBefore);
    EXPECT_EQ(treeOf(this->serverSite()), serverBefore);

    // With the options off only the overwrites of matched files remain.
    this->sync_.options.addMissing = false;
    this->sync_.options.deleteMissing = false;
    ASSERT_TRUE(this->analyseAgain());
    EXPECT_TRUE(this->nothingPlanned());
}

TYPED_TEST(EngineAnalysisTest, CheckSubFoldersOffLeavesEveryFolderAlone) {
    this->sync_.options.checkSubFolders = false;
    this->putLocal("new.html", "n");
    this->putLocal("new folder/a.html", "a");
    this->putLocal("common/added.html", "a");
    this->putServer("common/gone.html", "g");
    this->putServer("gone folder/b.html", "b");
    this->putServer("gone.html", "g");
    ASSERT_TRUE(this->analyse());
    EXPECT_EQ(this->targets(this->sync_.lists.addFiles), Strings{"new.html"});
    EXPECT_EQ(this->paths(this->sync_.lists.deleteFiles), Strings{"gone.html"});
    EXPECT_TRUE(this->sync_.lists.addFolders.empty());
    EXPECT_TRUE(this->sync_.lists.deleteFolders.empty());
    EXPECT_TRUE(this->view_.statusesStartingWith("Checking folder: ").empty());
}

TYPED_TEST(EngineAnalysisTest, ConfirmationAnswersDecideEachDelete) {
    this->sync_.options.confirmDeletes = true;
    for (const char* name : {"f1.html", "f2.html", "f3.html"}) {
        this->putServer(name, "x");
    }
    for (const char* name : {"d1", "d2", "d3", "d4"}) {
        this->serverFolderAt(name);
    }
    const std::string site = this->remoteSite();

    // Yes To All for the first file holds for the other files, not for folders.
    this->prompter_.answers = {ConfirmAnswer::YesToAll, ConfirmAnswer::No, ConfirmAnswer::Yes,
                               ConfirmAnswer::NoToAll};
    ASSERT_TRUE(this->analyseAgain());
    EXPECT_EQ(this->paths(this->sync_.lists.deleteFiles),
              (Strings{"f1.html", "f2.html", "f3.html"}));
    EXPECT_EQ(this->paths(this->sync_.lists.deleteFolders), Strings{"d2"});
    ASSERT_EQ(this->prompter_.questions.size(), 4u);
    EXPECT_EQ(this->prompter_.questions[0].caption, "Delete File");
    EXPECT_EQ(this->prompter_.questions[0].line1, "Delete file: " + site + "f1.html");
    EXPECT_EQ(this->prompter_.questions[1].caption, "Delete Sub-Folder");
    EXPECT_EQ(this->prompter_.questions[1].line1, "Delete sub-folder: " + site + "d1");
    EXPECT_EQ(this->prompter_.questions[3].line1, "Delete sub-folder: " + site + "d3");
    EXPECT_FALSE(stopRequested);

    // No, then No To All for files; Yes To All for folders.
    this->prompter_.questions.clear();
    this->prompter_.answers = {ConfirmAnswer::No, ConfirmAnswer::NoToAll, ConfirmAnswer::YesToAll};
    ASSERT_TRUE(this->analyseAgain());
    EXPECT_TRUE(this->sync_.lists.deleteFiles.empty());
    EXPECT_EQ(this->paths(this->sync_.lists.deleteFolders), (Strings{"d1", "d2", "d3", "d4"}));
    EXPECT_EQ(this->prompter_.questions.size(), 3u);

    // Cancel stops the analysis: nothing more is asked or planned.
    this->prompter_.questions.clear();
    this->prompter_.answers = {ConfirmAnswer::Yes, ConfirmAnswer::Cancel};
    ASSERT_TRUE(this->analyseAgain());
    EXPECT_TRUE(stopRequested);
    EXPECT_EQ(this->paths(this->sync_.lists.deleteFiles), Strings{"f1.html"});
    EXPECT_TRUE(this->sync_.lists.deleteFolders.empty());
    EXPECT_EQ(this->prompter_.questions.size(), 2u);
    stopRequested = false;

    // No one at the screen: nothing is asked and everything is planned.
    this->prompter_.questions.clear();
    quietMode = true;
    ASSERT_TRUE(this->analyseAgain());
    EXPECT_EQ(this->sync_.lists.deleteFiles.size(), 3u);
    EXPECT_EQ(this->sync_.lists.deleteFolders.size(), 4u);
    EXPECT_TRUE(this->prompter_.questions.empty());
}

TYPED_TEST(EngineAnalysisTest, ExclusionsOnBothSidesKeepTheirFilesAndFoldersOutOfThePlan) {
    const std::string local = this->localFolder();
    const std::string site = this->remoteSite();
    const std::time_t newer = this->baseTime() + 3600;
    // Local set: an exact file, an exact folder, a wildcard everywhere, a wildcard bound to
    // one folder.
    this->putLocal("secret.html", "s");  // excluded; no copy on the server: not added
    this->putLocal("draft.html", "new",
                   newer);  // excluded, matched: neither overwritten nor deleted
    this->putServer("draft.html", "old");
    this->putLocal("notes.tmp", "t");           // *.tmp: not added
    this->putLocal("private/p.html", "p");      // excluded folder, missing on the server: not added
    this->putLocal("kept/k.html", "k", newer);  // excluded folder, present on the server
    this->putServer("kept/k.html", "old");      // not descended, not deleted
    this->putServer("kept/only there.html", "x");
    this->putLocal("logs/a.log", "a");  // logs/*.log: not added
    this->serverFolderAt("logs");
    this->putLocal("b.log", "b");  // the bound wildcard does not reach here: added
    Profile& profile = this->sync_.profile;
    profile.exclusions.addPath(local + "secret.html");
    profile.exclusions.addPath(local + "draft.html");
    profile.exclusions.addPath(local + "private/");
    profile.exclusions.addPath(local + "kept/");
    profile.exclusions.addWildcard("*.tmp");
    profile.exclusions.addWildcard(local + "logs/*.log");
    profile.exclusions.sort();
    // FTP set: an exact file, an exact folder, a wildcard.
    this->putServer("stats.html", "s");            // excluded, only on the server: not deleted
    this->putLocal("counter.html", "new", newer);  // excluded on the server: not overwritten
    this->putServer("counter.html", "old");
    this->putServer("cgi-bin/run.cgi", "r");    // excluded folder: not deleted
    this->putLocal("data/d.html", "d", newer);  // excluded server folder: not descended
    this->putServer("data/d.html", "old");
    this->putServer("data/only there.html", "x");
    this->putServer("error.log", "e");  // *.log on the server: not deleted
    this->putServer("old.html", "o");   // not excluded: deleted
    profile.ftp_exclusions.addPath(site + "stats.html");
    profile.ftp_exclusions.addPath(site + "counter.html");
    profile.ftp_exclusions.addPath(site + "cgi-bin/");
    profile.ftp_exclusions.addPath(site + "data/");
    profile.ftp_exclusions.addWildcard("*.log");
    profile.ftp_exclusions.sort();
    this->sync_.prepareLocations();

    ASSERT_TRUE(this->analyse());
    const ActionLists& lists = this->sync_.lists;
    EXPECT_TRUE(lists.overwriteFiles.empty());
    EXPECT_EQ(this->targets(lists.addFiles), Strings{"b.log"});
    EXPECT_TRUE(lists.addFolders.empty());
    EXPECT_EQ(this->paths(lists.deleteFiles), Strings{"old.html"});
    EXPECT_TRUE(lists.deleteFolders.empty());
    const Strings folders = this->view_.statusesStartingWith("Checking folder: ");
    EXPECT_EQ(folders.size(), 4u) << "every source folder is shown, excluded or not";
    EXPECT_TRUE(this->sync_.problemList.empty());
}

TYPED_TEST(EngineAnalysisTest, NamesMatchIgnoringCaseAndTheServerKeepsItsSpelling) {
    this->putLocal("Index.html", "new", this->baseTime() + 60);
    this->putServer("INDEX.HTML", "old");
    this->putLocal("Images/Logo.png", "new", this->baseTime() + 60);
    this->putServer("images/LOGO.PNG", "old");
    ASSERT_TRUE(this->analyse());
    EXPECT_EQ(this->targets(this->sync_.lists.overwriteFiles),
              (Strings{"images/LOGO.PNG", "INDEX.HTML"}));
    EXPECT_TRUE(this->sync_.lists.addFiles.empty());
    EXPECT_TRUE(this->sync_.lists.deleteFiles.empty());
    EXPECT_TRUE(this->sync_.lists.addFolders.empty());
    EXPECT_TRUE(this->sync_.lists.deleteFolders.empty());
}

TYPED_TEST(EngineAnalysisTest, AMissingFolderAtTheTopFailsTheAnalysisWithItsProblemLines) {
    this->putLocal("a.html", "a");
    const std::string missing = this->remoteSite() + "no such folder/";
    EXPECT_FALSE(this->sync_.analyseDirectory(this->localFolder(), missing));
    EXPECT_EQ(
        this->sync_.problemList,
        (Strings{"CSynchroniserDlg::analyseDirectory (dst): Could not read folder: " + missing,
                 "Folder not found"}));
    EXPECT_TRUE(this->nothingPlanned());

    this->sync_.problemList.clear();
    const std::string gone = this->localFolder() + "gone/";
    EXPECT_FALSE(this->sync_.analyseDirectory(gone, this->remoteSite()));
    EXPECT_EQ(this->sync_.problemList,
              (Strings{"CSynchroniserDlg::analyseDirectory (src): Could not access folder: " + gone,
                       std::system_category().message(ENOENT)}));

    // A sub-folder that fails loses only its own part of the plan: here the server's folder
    // goes between the listing of its parent and its own.
    this->putLocal("b/page.html", "p");
    this->putServer("b/c.html", "c");
    this->putLocal("z/page.html", "p");
    const fs::path serverB = this->serverSite() / "b";
    const std::string checkingB = "Checking folder: " + this->localFolder() + "b";
    this->view_.onStatus = [&](const std::string& status) {
        if (status == checkingB) {
            fs::remove_all(serverB);
        }
    };
    ASSERT_TRUE(this->analyseAgain());
    EXPECT_EQ(this->sync_.problemList,
              (Strings{"CSynchroniserDlg::analyseDirectory (dst): Could not read folder: " +
                           this->remoteSite() + "b/",
                       "Folder not found"}));
    EXPECT_EQ(this->targets(this->sync_.lists.addFiles), Strings{"a.html"});
    EXPECT_EQ(this->targets(this->sync_.lists.addFolders), Strings{"z"});
    EXPECT_TRUE(this->sync_.lists.deleteFiles.empty());
}

TYPED_TEST(EngineAnalysisTest, NothingIsDoneWithoutAnOpenConnection) {
    this->putLocal("a.html", "a");
    this->connection_->disconnectFtp();
    EXPECT_FALSE(this->analyse());
    EXPECT_TRUE(this->sync_.problemList.empty());
    EXPECT_TRUE(this->nothingPlanned());
}

TYPED_TEST(EngineAnalysisTest, ANoChangeAnalysisListsEachFolderOnce) {
    // Three levels, seven folders with their files on both sides.
    const Strings folders = {"", "a/", "a/x/", "a/y/", "b/", "b/x/", "b/y/"};
    for (const std::string& folder : folders) {
        for (const char* name : {"1.html", "2.html"}) {
            this->putLocal(folder + name, "same", this->baseTime());
            this->putServer(folder + name, "same", this->baseTime());
        }
    }
    const std::uint64_t before = this->commandsSent();
    ASSERT_TRUE(this->analyse());
    const std::uint64_t sent = this->commandsSent() - before;
    EXPECT_TRUE(this->nothingPlanned());
    // Each folder is listed by its path: the data connection and the listing, two per folder.
    EXPECT_EQ(sent, 2u * folders.size());
}

TYPED_TEST(EngineAnalysisTest, NamesDifferingOnlyInCaseAreToldNotDroppedInSilence) {
    const std::time_t t = this->baseTime();
    this->putLocal("A.txt", "upper", t);
    this->putLocal("a.txt", "lower", t);
    this->putLocal("B.html", "new", t + 60);
    this->putLocal("b.html", "new", t + 60);
    this->putServer("B.html", "old", t);
    this->putServer("b.html", "old", t);
    this->putServer("X.txt", "gone");
    this->putServer("x.txt", "gone");
    this->putLocal("Img/1.png", "1");
    this->putLocal("img/2.png", "2");
    ASSERT_TRUE(this->analyse());

    // One spelling of each pair keeps its place in the plan; the other is named, with the one
    // that took its place, in the two lines of a problem.
    const Strings& problems = this->sync_.problemList;
    ASSERT_EQ(problems.size(), 8u);
    const auto expectClash = [&](std::size_t at, const Strings& planned, const std::string& side,
                                 const std::string& folder, const std::string& one,
                                 const std::string& other) {
        ASSERT_EQ(planned.size(), 1u) << one;
        const bool oneKept = planned[0] == one;
        EXPECT_TRUE(oneKept || planned[0] == other) << planned[0];
        const std::string& kept = oneKept ? one : other;
        const std::string& left = oneKept ? other : one;
        EXPECT_EQ(problems[at], "CSynchroniserDlg::analyseDirectory (" + side +
                                    "): Name differs only in letter case: " + folder + left);
        EXPECT_EQ(problems[at + 1], "Not synchronised: " + folder + kept +
                                        " has the same name when letter case is ignored");
    };
    const ActionLists& lists = this->sync_.lists;
    expectClash(0, this->targets(lists.addFiles), "src", this->localFolder(), "A.txt", "a.txt");
    expectClash(2, this->targets(lists.overwriteFiles), "src", this->localFolder(), "B.html",
                "b.html");
    expectClash(4, this->paths(lists.deleteFiles), "dst", this->remoteSite(), "X.txt", "x.txt");
    expectClash(6, this->targets(lists.addFolders), "src", this->localFolder(), "Img", "img");
}
