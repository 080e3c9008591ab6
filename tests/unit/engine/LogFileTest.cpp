// The log file of a run: its whole text compared line by line (dates and times masked), append
// and overwrite, the error lines that reportError adds while it is open, and a log that is off.

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "engine/LogFile.h"
#include "profiles/Profile.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

// Records the message boxes instead of showing them.
class RecordingPrompter : public Prompter {
  public:
    void messageBox(const std::string& text) override { boxes.push_back(text); }
    bool askYesNo(const std::string&) override { return false; }
    ConfirmAnswer confirmDelete(const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&) override {
        return ConfirmAnswer::Cancel;
    }
    std::vector<std::string> boxes;
};

// The command line's error stream, as it stands beside the log file.
class RecordingErrorLog : public ErrorLog {
  public:
    bool isOpen() const override { return true; }
    void writeLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

FileEntryPtr remoteEntry(const std::string& folder, const std::string& name,
                         EntryKind kind = EntryKind::File) {
    auto entry = std::make_shared<FileEntry>();
    entry->folder = folder;
    entry->name = name;
    entry->kind = kind;
    entry->remote = true;
    return entry;
}

// Every date and time line of the log becomes "<date> <time>", so that a whole log can be
// compared with a fixed text.
std::vector<std::string> maskedLines(const std::string& text) {
    static const std::regex stamp(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) [0-3][0-9] "
        "(January|February|March|April|May|June|July|August|September|October|November|December)"
        " [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(std::regex_match(line, stamp) ? "<date> <time>" : line);
    }
    return lines;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void expectSameLines(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected) {
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;
    }
    EXPECT_EQ(actual.size(), expected.size());
}

const std::string kStartBlock = R"(

==================================================
==================================================

Synchronisation started at:
<date> <time>
)";

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousPrompter_ = setPrompter(&prompter_);
        previousQuiet_ = quietMode.load();
        quietMode.store(true);
        profile_.delete_files = true;
        profile_.add_files = true;
        profile_.confirm_deletes = false;
        profile_.check_actions = false;
        profile_.check_sub_folders = true;
        profile_.exit_on_completion = false;
        profile_.silent_mode = true;
        profile_.auto_start = 1;
        profile_.compare_on_time = true;
        profile_.adjust_time_hours = -1;
        profile_.adjust_time_mins = 30;
    }
    void TearDown() override {
        log().close();
        quietMode.store(previousQuiet_);
        setPrompter(previousPrompter_);
    }

    static LogFile& log() { return LogFile::instance(); }
    fs::path logPath() const { return temp_.path() / "site.log"; }

    // One synthetic run: header, an error reported while it runs, results, close.
    void writeRun(bool append, const ActionLists& lists, const ProblemList& problems) {
        ASSERT_TRUE(log().open(logPath().string(), append));
        log().writeRunHeader("/home/me/site.kvp", "/home/me/site", "FTP:demo/www", profile_);
        reportError("CSynchroniserDlg::OnSynch12", "Something went wrong", false);
        log().writeResults(lists, problems);
        log().close();
    }

    TempFolder temp_;
    RecordingPrompter prompter_;
    Prompter* previousPrompter_ = nullptr;
    bool previousQuiet_ = false;
    Profile profile_;
};

TEST_F(LogFileTest, WholeRunMatchesTheExpectedTextLineByLine) {
    ActionLists lists;
    lists.overwrittenFiles.insert(remoteEntry("/www/", "index.html"));
    lists.addedFiles.insert(remoteEntry("/www/img/", "logo.png"));
    lists.addedFiles.insert(remoteEntry("/www/", "about.html"));
    lists.addedFolders.insert(remoteEntry("/www/", "img", EntryKind::Folder));
    lists.deletedFolders.insert(remoteEntry("/www/", "old", EntryKind::Folder));
    lists.failedAddedFiles.insert(remoteEntry("/www/", "big.zip"));
    lists.overwrittenCount = 1;
    lists.addedFilesCount = 2;
    lists.deletedFilesCount = 3;  // inside the deleted folder, so not listed one by one
    lists.addedFoldersCount = 1;
    lists.deletedFoldersCount = 1;
    const ProblemList problems{"Failed to upload file: /home/me/site/big.zip", "Timed out"};

    writeRun(false, lists, problems);

    const std::string expected = kStartBlock + R"(
------------------------------

Profile: /home/me/site.kvp
Source: /home/me/site
Dest: FTP:demo/www

------------------------------

Options

Delete files: on
Add files: on
Confirm deletes: off
Check actions: off
Check sub-folders: on
Exit on completion: off
Silent mode: on
Auto start: on
Compare on: time
Time adjustment: -1Hrs 30Mins


------------------------------

Errors

CSynchroniserDlg::OnSynch12: Something went wrong

------------------------------

Synchronisation completed at:

<date> <time>

Results Summary:
1	overwritten files
2	added files
3	deleted files
1	added folders
1	deleted folders

------------------------------

Problems:


Failed to upload file: /home/me/site/big.zip
Timed out
------------------------------

Results Details:

++++++++++++++++++++
Overwritten Files
++++++++++++++++++++
/www/index.html
++++++++++++++++++++
Added Files
++++++++++++++++++++
/www/about.html
/www/img/logo.png
++++++++++++++++++++
Added Folders
++++++++++++++++++++
/www/img
++++++++++++++++++++
Deleted Folders
++++++++++++++++++++
/www/old
++++++++++++++++++++
Failed Added Files
++++++++++++++++++++
/www/big.zip
)";
    const std::string text = readFile(logPath());
    expectSameLines(maskedLines(text), splitLines(expected));
    // Platform line ends, and the file ends with the last entry line.
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    // Silent: the error went to the log only.
    EXPECT_TRUE(prompter_.boxes.empty());
}

TEST_F(LogFileTest, NoProblemsAndOnlyAddedFiles) {
    ActionLists lists;
    lists.addedFiles.insert(remoteEntry("/www/", "a.html"));
    lists.addedFilesCount = 1;
    writeRun(false, lists, {});

    const std::vector<std::string> lines = maskedLines(readFile(logPath()));
    const auto problems = std::find(lines.begin(), lines.end(), "Problems:");
    ASSERT_NE(problems, lines.end());
    // "Problems:" and its blank line, then straight into the next heading.
    const std::vector<std::string> rest(problems, lines.end());
    const std::vector<std::string> expected{"Problems:",
                                            "",
                                            "",
                                            std::string(30, '-'),
                                            "",
                                            "Results Details:",
                                            "",
                                            std::string(20, '+'),
                                            "Added Files",
                                            std::string(20, '+'),
                                            "/www/a.html"};
    expectSameLines(rest, expected);
}

TEST_F(LogFileTest, AppendKeepsEarlierRunsAndOverwriteReplacesThem) {
    writeFile(logPath(), "kept from before\n");
    writeRun(true, {}, {});
    writeRun(true, {}, {});
    std::string text = readFile(logPath());
    EXPECT_EQ(text.rfind("kept from before\n\n\n=====", 0), 0u) << text.substr(0, 80);
    std::vector<std::string> lines = maskedLines(text);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Synchronisation started at:"), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string(50, '=')), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Synchronisation completed at:"), 2);

    writeRun(false, {}, {});
    text = readFile(logPath());
    EXPECT_EQ(text.find("kept from before"), std::string::npos);
    lines = maskedLines(text);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Synchronisation started at:"), 1);
    // The file starts with the start block itself.
    EXPECT_EQ(text.rfind("\n\n" + std::string(50, '=') + "\n", 0), 0u);
}

TEST_F(LogFileTest, OptionLinesForEveryAutoStartAndCompareChoice) {
    struct Case {
        int autoStart;
        bool onTime;
        int hours;
        int minutes;
        const char* autoStartLine;
        const char* compareLine;
        const char* adjustLine;
    };
    const Case cases[] = {
        {0, true, 0, 0, "Auto start: off", "Compare on: time", "Time adjustment: 0Hrs 0Mins"},
        {1, false, 2, 15, "Auto start: on", "Compare on: file size",
         "Time adjustment: 2Hrs 15Mins"},
        {2, true, -1, 30, "Auto start: Location 2 to Location 1", "Compare on: time",
         "Time adjustment: -1Hrs 30Mins"},
        {7, true, 0, -45, "Auto start: ", "Compare on: time", "Time adjustment: 0Hrs -45Mins"},
    };
    for (const Case& c : cases) {
        profile_.auto_start = c.autoStart;
        profile_.compare_on_time = c.onTime;
        profile_.adjust_time_hours = c.hours;
        profile_.adjust_time_mins = c.minutes;
        profile_.confirm_deletes = true;
        profile_.delete_files = false;
        ASSERT_TRUE(log().open(logPath().string(), false));
        log().writeOptions(profile_);
        log().close();
        const std::vector<std::string> lines = splitLines(readFile(logPath()));
        ASSERT_EQ(lines.size(), 17u) << c.autoStart;
        const std::vector<std::string> options(lines.begin() + 7, lines.end());
        expectSameLines(options,
                        {"Delete files: off", "Add files: on", "Confirm deletes: on",
                         "Check actions: off", "Check sub-folders: on", "Exit on completion: off",
                         "Silent mode: on", c.autoStartLine, c.compareLine, c.adjustLine});
    }
}

TEST_F(LogFileTest, ClosedLogWritesNothingAndErrorsStillShowTheirBoxes) {
    quietMode.store(false);
    // Never opened: no file appears.
    log().write(std::string("lost"));
    log().writeResults({}, {"a problem"});
    reportError("CSynchroniserDlg::OnSynch12", "You must first select a web location", false);
    EXPECT_FALSE(fs::exists(logPath()));
    ASSERT_EQ(prompter_.boxes.size(), 1u);
    EXPECT_EQ(prompter_.boxes[0], "You must first select a web location");

    // Opened and closed: the error log is taken back, later reports leave the file alone.
    ASSERT_TRUE(log().open(logPath().string(), false));
    EXPECT_TRUE(log().isOpen());
    log().close();
    EXPECT_FALSE(log().isOpen());
    const std::string closed = readFile(logPath());
    reportError("CSynchroniserDlg::OnSynch12", "after close", false);
    log().writeHeading("after close");
    EXPECT_EQ(readFile(logPath()), closed);
    EXPECT_EQ(prompter_.boxes.size(), 2u);
    ErrorLog* installed = setErrorLog(nullptr);
    EXPECT_EQ(installed, nullptr);
}

TEST_F(LogFileTest, ErrorLinesCarryTheLastErrorAndMessageBoxesShowTooWhenNotSilent) {
    quietMode.store(false);
    ASSERT_TRUE(log().open(logPath().string(), false));
    setLastError("550 No such file");
    reportError("CSynchroniserDlg::startLogFile", "Could not open log file: /x.log", true);
    log().close();
    const std::vector<std::string> lines = splitLines(readFile(logPath()));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "CSynchroniserDlg::startLogFile: Could not open log file: /x.log");
    EXPECT_EQ(lines.back(), "550 No such file");
    ASSERT_EQ(prompter_.boxes.size(), 1u);
    EXPECT_EQ(prompter_.boxes[0], "Could not open log file: /x.log\n550 No such file");
}

TEST_F(LogFileTest, AFileThatCannotBeOpenedOrWrittenCountsAsClosed) {
    EXPECT_FALSE(log().open((temp_.path() / "no such folder" / "site.log").string(), true));
    EXPECT_FALSE(log().isOpen());
    EXPECT_EQ(lastErrorText(), "No such file or directory");
    EXPECT_EQ(setErrorLog(nullptr), nullptr);

    // A device that refuses every write: the stream goes bad once its buffer is flushed, and
    // from then on the log is closed as far as everyone is concerned.
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    RecordingErrorLog stderrLog;
    setErrorLog(&stderrLog);
    ASSERT_TRUE(log().open("/dev/full", false));
    for (int i = 0; i < 64 && log().isOpen(); ++i) {
        log().write(std::string(4096, 'x'));
    }
    EXPECT_FALSE(log().isOpen());
    // The error stream beside it still gets every line.
    reportError("CSynchroniserDlg::OnSynch12", "still seen", false);
    log().close();
    EXPECT_EQ(setErrorLog(nullptr), &stderrLog);
    EXPECT_EQ(stderrLog.lines, std::vector<std::string>{"CSynchroniserDlg::OnSynch12: still seen"});
}

TEST_F(LogFileTest, AnErrorLogInstalledBeforeGetsEveryLineAndIsPutBack) {
    RecordingErrorLog stderrLog;
    setErrorLog(&stderrLog);
    reportError("A::before", "one", false);
    ASSERT_TRUE(log().open(logPath().string(), false));
    reportError("A::during", "two", false);
    // Opening again while open does not make the log file its own predecessor.
    ASSERT_TRUE(log().open(logPath().string(), true));
    reportError("A::during", "three", false);
    log().close();
    reportError("A::after", "four", false);
    EXPECT_EQ(setErrorLog(nullptr), &stderrLog);

    EXPECT_EQ(stderrLog.lines, (std::vector<std::string>{"A::before: one", "A::during: two",
                                                         "A::during: three", "A::after: four"}));
    const std::string text = readFile(logPath());
    EXPECT_NE(text.find("\nA::during: two\n"), std::string::npos);
    EXPECT_NE(text.find("\nA::during: three\n"), std::string::npos);
    EXPECT_EQ(text.find("one"), std::string::npos);
    EXPECT_EQ(text.find("four"), std::string::npos);
}

TEST(LogDateTime, LocalDateAndTimeInTheLogFormat) {
    // Read the clock around the call, so a change of second (or day) in between is no failure.
    const auto format = [](const char* pattern) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[64];
        std::strftime(text, sizeof text, pattern, &local);
        return std::string(text);
    };
    // strftime's names are those of the C locale, which is what the log must use everywhere.
    ASSERT_STREQ(std::setlocale(LC_TIME, nullptr), "C");
    const std::string dateBefore = format("%a %d %B %Y");
    const std::string timeBefore = format("%H:%M:%S");
    const std::string date = logDate();
    const std::string time = logTime();
    const std::string dateAfter = format("%a %d %B %Y");
    const std::string timeAfter = format("%H:%M:%S");
    EXPECT_TRUE(date == dateBefore || date == dateAfter) << date;
    EXPECT_TRUE(time == timeBefore || time == timeAfter) << time;
    EXPECT_EQ(time.size(), 8u);
}

}  // namespace
