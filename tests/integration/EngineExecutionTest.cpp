// Execution of a plan against real servers: what arrives on the server, what is removed, how each
// failure becomes two problem lines while the rest goes on, exclusions inside whole folders, and
// Stop. After each run the server's folder is compared with the local tree, byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "EngineTestFixture.h"

using namespace enginetest;
using Strings = std::vector<std::string>;

using testsupport::randomBytes;

namespace {

template <typename Server>
class EngineExecutionTest : public EngineTest<Server> {
  protected:
    // Analysis, then execution with the work estimated first, as a run without review does.
    void synchronise() {
        ASSERT_TRUE(this->analyse()) << problems();
        executePlan();
    }
    void executePlan() {
        this->sync_.estimateWork();
        bytesDone = 0;
        this->sync_.processFiles();
    }
    std::string problems() const {
        std::string text;
        for (const std::string& line : this->sync_.problemList) {
            text += line + "\n";
        }
        return text;
    }
    // The plan of a fresh analysis is empty: the server is in step.
    void expectNothingLeftToDo() {
        this->sync_.lists.clear();
        ASSERT_TRUE(this->analyse());
        const ActionLists& lists = this->sync_.lists;
        EXPECT_TRUE(lists.overwriteFiles.empty());
        EXPECT_TRUE(lists.addFiles.empty());
        EXPECT_TRUE(lists.addFolders.empty());
        EXPECT_TRUE(lists.deleteFiles.empty());
        EXPECT_TRUE(lists.deleteFolders.empty());
    }
    // Failures recorded nowhere.
    void expectNoFailures() const {
        const ActionLists& lists = this->sync_.lists;
        EXPECT_TRUE(lists.failedOverwrittenFiles.empty());
        EXPECT_TRUE(lists.failedAddedFiles.empty());
        EXPECT_TRUE(lists.failedAddedFolders.empty());
        EXPECT_TRUE(lists.failedDeletedFiles.empty());
        EXPECT_TRUE(lists.failedDeletedFolders.empty());
        EXPECT_TRUE(this->sync_.problemList.empty()) << problems();
    }
};

TYPED_TEST_SUITE(EngineExecutionTest, Servers, ServerNames);

}  // namespace

TYPED_TEST(EngineExecutionTest, AFirstUploadCopiesTheWholeTreeAndLeavesNothingToDo) {
    this->putLocal("index.html", randomBytes(1000, 1));
    this->putLocal("css/site.css", "body {}");
    this->putLocal("images/photo.jpg", randomBytes(200000, 2));
    this->putLocal("images/icons/x.png", randomBytes(3000, 3));
    this->putLocal("empty.txt", "");
    this->localFolderAt("empty folder");

    this->synchronise();
    const ActionLists& lists = this->sync_.lists;
    this->expectNoFailures();
    EXPECT_EQ(lists.addedFilesCount, 5u);
    EXPECT_EQ(lists.addedFoldersCount, 4u);
    EXPECT_EQ(this->paths(lists.addedFiles),
              (Strings{"css/site.css", "empty.txt", "images/icons/x.png", "images/photo.jpg",
                       "index.html"}));
    EXPECT_EQ(this->paths(lists.addedFolders),
              (Strings{"css", "empty folder", "images", "images/icons"}));
    EXPECT_EQ(lists.overwrittenCount + lists.deletedFilesCount + lists.deletedFoldersCount, 0u);
    // Every byte sent and every operation counted: the work done meets the estimate.
    EXPECT_EQ(bytesDone.load(), this->sync_.totalWork());

    // Files first, then each folder with its contents, depth first; "Done" at the end.
    const std::string site = this->remoteSite();
    EXPECT_EQ(
        this->view_.statusesStartingWith("Adding "),
        (Strings{"Adding file: " + site + "empty.txt", "Adding file: " + site + "index.html",
                 "Adding folder: " + site + "css", "Adding file: " + site + "css/site.css",
                 "Adding folder: " + site + "empty folder", "Adding folder: " + site + "images",
                 "Adding file: " + site + "images/icons/x.png",
                 "Adding file: " + site + "images/photo.jpg"}));
    EXPECT_EQ(this->view_.statuses.back(), "Done");
    this->expectServerEqualsLocal();
    this->expectNothingLeftToDo();
}

TYPED_TEST(EngineExecutionTest, OverwritesAddsAndDeletesUntilTheServerIsInStep) {
    const std::time_t t = this->baseTime();
    this->putLocal("changed.html", "new content", t + 60);
    this->putServer("changed.html", "old", t);
    this->putLocal("same.html", "same", t);
    this->putServer("same.html", "same", t);
    this->putLocal("docs/new.html", "n");
    this->putServer("docs/gone.html", "g");
    this->putServer("gone.html", "g");
    this->putServer("old/deep/deeper/z.html", "z");
    this->putServer("old/a.html", "a");
    // A file on the server where a folder is wanted: the file goes before the folder comes.
    this->putServer("media", "a file");
    this->putLocal("media/clip.txt", "c");

    this->synchronise();
    const ActionLists& lists = this->sync_.lists;
    this->expectNoFailures();
    EXPECT_EQ(this->paths(lists.overwrittenFiles), Strings{"changed.html"});
    EXPECT_EQ(this->paths(lists.addedFiles), (Strings{"docs/new.html", "media/clip.txt"}));
    EXPECT_EQ(this->paths(lists.addedFolders), Strings{"media"});
    EXPECT_EQ(this->paths(lists.deletedFiles), (Strings{"docs/gone.html", "gone.html", "media",
                                                        "old/a.html", "old/deep/deeper/z.html"}));
    EXPECT_EQ(this->paths(lists.deletedFolders), (Strings{"old", "old/deep", "old/deep/deeper"}));
    EXPECT_EQ(lists.overwrittenCount, 1u);
    EXPECT_EQ(lists.addedFilesCount, 2u);
    EXPECT_EQ(lists.addedFoldersCount, 1u);
    EXPECT_EQ(lists.deletedFilesCount, 5u);
    EXPECT_EQ(lists.deletedFoldersCount, 3u);
    EXPECT_EQ(bytesDone.load(), this->sync_.totalWork());
    EXPECT_EQ(this->view_.statuses.back(), "Done");
    this->expectServerEqualsLocal();
    this->expectNothingLeftToDo();
}

TYPED_TEST(EngineExecutionTest, FoldersNamedWithoutTheirClosingSlashHoldWhatIsAdded) {
    this->putLocal("index.html", "i");
    this->putLocal("docs/a.html", "a");
    std::string local = this->localFolder();
    std::string site = this->remoteSite();
    local.pop_back();
    site.pop_back();
    ASSERT_TRUE(this->sync_.analyseDirectory(local, site));
    this->executePlan();
    this->expectNoFailures();
    this->expectServerEqualsLocal();
}

TYPED_TEST(EngineExecutionTest, TheServersSpellingOfANameIsKept) {
    this->putLocal("Index.html", "new", this->baseTime() + 60);
    this->putServer("INDEX.HTML", "old");
    this->synchronise();
    this->expectNoFailures();
    EXPECT_EQ(this->paths(this->sync_.lists.overwrittenFiles), Strings{"INDEX.HTML"});
    EXPECT_EQ(treeOf(this->serverSite()),
              (std::map<std::string, std::string>{{"INDEX.HTML", "new"}}));
}

TYPED_TEST(EngineExecutionTest, EachFailureIsTwoProblemLinesAndTheRestGoesOn) {
    const std::time_t t = this->baseTime();
    this->putLocal("a.html", "newer", t + 60);
    this->putServer("a.html", "older", t);
    this->putLocal("b.html", "new");
    this->putLocal("ok.html", "fine");
    this->putServer("c.html", "gone");
    this->putServer("e/x.html", "x");
    this->putLocal("d/inside.html", "i");
    this->putLocal("f/inside.html", "i");
    ASSERT_TRUE(this->analyse());

    // Between analysis and execution the server changes so that each operation is refused: a
    // folder where a file is to be written, a file already gone, a file where a folder is to be
    // made, a folder already gone.
    const fs::path site = this->serverSite();
    fs::remove(site / "a.html");
    fs::create_directories(site / "a.html" / "blocker");
    fs::create_directories(site / "b.html" / "blocker");
    fs::remove(site / "c.html");
    fs::remove_all(site / "e");
    testsupport::writeFile(site / "d", "a file");
    // And a local folder goes: the empty folder made for it must not pass for its tree.
    fs::remove_all(this->localRoot() / "f");
    this->executePlan();

    const ActionLists& lists = this->sync_.lists;
    const std::string remote = this->remoteSite();
    const ProblemList& problems = this->sync_.problemList;
    ASSERT_EQ(problems.size(), 12u) << this->problems();
    EXPECT_EQ(problems[0], "CSynchroniserDlg::processFiles (overwrite): Could not copy file: " +
                               remote + "a.html");
    EXPECT_EQ(problems[2],
              "CSynchroniserDlg::processFiles (add): Could not copy file: " + remote + "b.html");
    EXPECT_EQ(problems[4], "CSynchroniserDlg::processFiles (delete): Could not delete file: " +
                               remote + "c.html");
    EXPECT_EQ(problems[6],
              "CSynchroniserDlg::deleteDirectory: Could not read folder: " + remote + "e");
    EXPECT_EQ(problems[8],
              "CSynchroniserDlg::copyDirectory: Could not add folder: " + remote + "d");
    // The second line of each is the server's refusal...
    for (std::size_t i = 1; i < 10; i += 2) {
        EXPECT_EQ(problems[i].substr(0, 1), "5") << problems[i - 1] << ": " << problems[i];
    }
    // ... or, for the local side, the system's reason.
    EXPECT_EQ(problems[10], "CSynchroniserDlg::copyDirectory: Could not read folder: " +
                                this->localFolder() + "f/");
    EXPECT_EQ(problems[11], std::system_category().message(ENOENT));

    EXPECT_EQ(this->paths(lists.failedOverwrittenFiles), Strings{"a.html"});
    EXPECT_EQ(this->paths(lists.failedAddedFiles), Strings{"b.html"});
    EXPECT_EQ(this->paths(lists.failedDeletedFiles), Strings{"c.html"});
    EXPECT_EQ(this->paths(lists.failedAddedFolders), Strings{"d"});
    EXPECT_TRUE(lists.failedDeletedFolders.empty()) << "a folder that cannot be read is not tried";
    for (const EntrySet* failed : {&lists.failedOverwrittenFiles, &lists.failedAddedFiles,
                                   &lists.failedDeletedFiles, &lists.failedAddedFolders}) {
        EXPECT_TRUE((*failed->begin())->failed);
    }
    // The counters count successes only; ok.html went through.
    EXPECT_EQ(lists.overwrittenCount, 0u);
    EXPECT_TRUE(lists.overwrittenFiles.empty());
    EXPECT_EQ(lists.addedFilesCount, 1u);
    EXPECT_EQ(this->paths(lists.addedFiles), Strings{"ok.html"});
    EXPECT_EQ(this->paths(lists.addedFolders), Strings{"f"});
    EXPECT_EQ(lists.deletedFilesCount + lists.deletedFoldersCount, 0u);
    EXPECT_EQ(testsupport::readFile(site / "ok.html"), "fine");
    // Nothing inside a folder that could not be made is tried.
    EXPECT_TRUE(this->view_.statusesStartingWith("Adding file: " + remote + "d/").empty());
    EXPECT_EQ(this->view_.statuses.back(), "Done");
}

TYPED_TEST(EngineExecutionTest, AnAddedFolderLeavesExcludedLocalItemsBehind) {
    const std::string local = this->localFolder();
    this->putLocal("new/keep.html", "k");
    this->putLocal("new/private/p.html", "p");
    this->putLocal("new/notes.tmp", "t");
    this->putLocal("new/sub/s.html", "s");
    this->putLocal("new/sub/more.TMP", "t");
    this->sync_.profile.exclusions.addPath(local + "new/private/");
    this->sync_.profile.exclusions.addWildcard("*.tmp");
    this->sync_.profile.exclusions.sort();

    this->synchronise();
    this->expectNoFailures();
    EXPECT_EQ(this->paths(this->sync_.lists.addedFolders), (Strings{"new", "new/sub"}));
    EXPECT_EQ(this->paths(this->sync_.lists.addedFiles),
              (Strings{"new/keep.html", "new/sub/s.html"}));
    EXPECT_EQ(
        treeOf(this->serverSite()),
        (std::map<std::string, std::string>{
            {"new/", ""}, {"new/keep.html", "k"}, {"new/sub/", ""}, {"new/sub/s.html", "s"}}));
}

TYPED_TEST(EngineExecutionTest,
           ADeletedFolderKeepsExcludedFoldersAndFilesAndIsReportedAsNotRemoved) {
    const std::string remote = this->remoteSite();
    this->putServer("old/a.html", "a");
    this->putServer("old/keep/k.html", "k");  // an excluded folder
    this->putServer("old/sub/b.html", "b");
    this->putServer("old2/error.log", "e");  // an excluded file, by wildcard
    this->putServer("old2/x.html", "x");
    this->putServer("old3/secret.html", "s");  // an excluded file, exactly
    this->putServer("gone/deep/z.html", "z");
    Profile& profile = this->sync_.profile;
    profile.ftp_exclusions.addPath(remote + "old/keep/");
    profile.ftp_exclusions.addWildcard("*.log");
    profile.ftp_exclusions.addPath(remote + "old3/secret.html");
    profile.ftp_exclusions.sort();

    this->synchronise();
    const ActionLists& lists = this->sync_.lists;
    EXPECT_EQ(this->paths(lists.deletedFiles),
              (Strings{"gone/deep/z.html", "old/a.html", "old/sub/b.html", "old2/x.html"}));
    EXPECT_EQ(this->paths(lists.deletedFolders), (Strings{"gone", "gone/deep", "old/sub"}));
    EXPECT_EQ(this->paths(lists.failedDeletedFolders), (Strings{"old", "old2", "old3"}));
    EXPECT_EQ(lists.deletedFilesCount, 4u);
    EXPECT_EQ(lists.deletedFoldersCount, 3u);
    const ProblemList& problems = this->sync_.problemList;
    ASSERT_EQ(problems.size(), 6u) << this->problems();
    EXPECT_EQ(problems[0],
              "CSynchroniserDlg::deleteDirectory: Could not delete folder: " + remote + "old");
    EXPECT_EQ(problems[2],
              "CSynchroniserDlg::deleteDirectory: Could not delete folder: " + remote + "old2");
    EXPECT_EQ(problems[4],
              "CSynchroniserDlg::deleteDirectory: Could not delete folder: " + remote + "old3");
    EXPECT_EQ(treeOf(this->serverSite()),
              (std::map<std::string, std::string>{{"old/", ""},
                                                  {"old/keep/", ""},
                                                  {"old/keep/k.html", "k"},
                                                  {"old2/", ""},
                                                  {"old2/error.log", "e"},
                                                  {"old3/", ""},
                                                  {"old3/secret.html", "s"}}));
}

TYPED_TEST(EngineExecutionTest, StopDuringAddFilesSkipsEveryLaterKindAndEndsWithDone) {
    const std::time_t t = this->baseTime();
    this->putLocal("changed.html", "new", t + 60);
    this->putServer("changed.html", "old", t);
    for (const char* name : {"n1.html", "n2.html", "n3.html"}) {
        this->putLocal(name, randomBytes(50000, 4));
    }
    this->putServer("gone.html", "g");
    this->putServer("gone folder/g.html", "g");
    this->putLocal("new folder/f.html", "f");
    this->view_.onStatus = [](const std::string& status) {
        if (status.rfind("Adding file: ", 0) == 0) {
            requestStop();
        }
    };

    this->synchronise();
    EXPECT_TRUE(stopRequested);
    const ActionLists& lists = this->sync_.lists;
    EXPECT_EQ(lists.overwrittenCount, 1u);
    EXPECT_EQ(this->view_.statusesStartingWith("Adding file: ").size(), 1u);
    EXPECT_TRUE(this->view_.statusesStartingWith("Deleting ").empty());
    EXPECT_TRUE(this->view_.statusesStartingWith("Adding folder: ").empty());
    EXPECT_EQ(this->view_.statuses.back(), "Done");
    EXPECT_TRUE(lists.deletedFiles.empty());
    EXPECT_TRUE(lists.deletedFolders.empty());
    EXPECT_TRUE(lists.addedFolders.empty());

    // The file being sent when Stop came is either whole on the server or not there at all.
    ASSERT_TRUE(waitForCommandWorkers(10s));
    const fs::path site = this->serverSite();
    EXPECT_EQ(lists.addedFiles.size() + lists.failedAddedFiles.size(), 1u);
    if (lists.addedFiles.empty()) {
        EXPECT_FALSE(fs::exists(site / "n1.html"));
    } else {
        EXPECT_EQ(testsupport::readFile(site / "n1.html"), randomBytes(50000, 4));
    }
    EXPECT_FALSE(fs::exists(site / "n2.html"));
    EXPECT_TRUE(fs::exists(site / "gone.html"));
    EXPECT_TRUE(fs::exists(site / "gone folder" / "g.html"));
    EXPECT_FALSE(fs::exists(site / "new folder"));
    EXPECT_EQ(testsupport::readFile(site / "changed.html"), "new");
    stopRequested = false;
}
