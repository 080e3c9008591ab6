#include "common/ErrorReport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "common/Prompter.h"
#include "transfer/RetryDisplay.h"

namespace {

class ScriptedPrompter final : public Prompter {
  public:
    void messageBox(const std::string& text) override { boxes.push_back(text); }
    bool askYesNo(const std::string&) override { return true; }
    ConfirmAnswer confirmDelete(const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&) override {
        return ConfirmAnswer::YesToAll;
    }
    std::vector<std::string> boxes;
};

class FakeLog final : public ErrorLog {
  public:
    bool isOpen() const override { return open; }
    void writeLine(const std::string& line) override { lines.push_back(line); }
    bool open = true;
    std::vector<std::string> lines;
};

class ErrorReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousPrompter_ = setPrompter(&prompter_);
        previousLog_ = setErrorLog(&log_);
        quietMode = false;
    }
    void TearDown() override {
        setPrompter(previousPrompter_);
        setErrorLog(previousLog_);
        quietMode = false;
    }

    ScriptedPrompter prompter_;
    FakeLog log_;
    Prompter* previousPrompter_ = nullptr;
    ErrorLog* previousLog_ = nullptr;
};

TEST_F(ErrorReportTest, LastErrorTakesTheTextOrTheSystemsReason) {
    setLastError("Could not open file for reading");
    EXPECT_EQ(lastErrorText(), "Could not open file for reading");

    errno = ENOENT;
    setLastError("");
    EXPECT_EQ(lastErrorText(), "No such file or directory");

    setLastErrorFromCode(EACCES);
    EXPECT_EQ(lastErrorText(), "Permission denied");

    // A code the system has no text for, and no code at all, give no reason.
    errno = 4711;
    setLastError("");
    EXPECT_EQ(lastErrorText(), "Reason not known");
    setLastError("something");
    setLastErrorFromCode(0);
    EXPECT_EQ(lastErrorText(), "Reason not known");
}

TEST_F(ErrorReportTest, AbandonedWorkerNoLongerSetsTheLastError) {
    setLastError("Timed out");
    std::atomic<bool> abandoned{true};
    std::thread worker([&abandoned] {
        bindLastErrorToCommand(&abandoned);
        setLastError("late failure");
        bindLastErrorToCommand(nullptr);
        EXPECT_EQ(lastErrorText(), "Timed out");
        setLastError("heard again");  // unbound, the thread's failures count again
    });
    worker.join();
    EXPECT_EQ(lastErrorText(), "heard again");

    abandoned = false;
    std::thread current([&abandoned] {
        bindLastErrorToCommand(&abandoned);
        setLastError("current failure");
        bindLastErrorToCommand(nullptr);
    });
    current.join();
    EXPECT_EQ(lastErrorText(), "current failure");
}

TEST_F(ErrorReportTest, ReportShowsABoxAndLogsContextAndText) {
    setLastError("reason");
    reportError("ctx", "msg", true);
    EXPECT_EQ(prompter_.boxes, (std::vector<std::string>{"msg\nreason"}));
    EXPECT_EQ(log_.lines, (std::vector<std::string>{"ctx: msg\nreason"}));

    reportError("CSynchroniserDlg::saveConnections", "Could not save", false);
    EXPECT_EQ(prompter_.boxes.back(), "Could not save");
    EXPECT_EQ(log_.lines.back(), "CSynchroniserDlg::saveConnections: Could not save");
}

TEST_F(ErrorReportTest, QuietModeKeepsTheLogLineButShowsNoBox) {
    quietMode = true;
    setLastError("reason");
    reportError("ctx", "msg", true);
    EXPECT_TRUE(prompter_.boxes.empty());
    EXPECT_EQ(log_.lines, (std::vector<std::string>{"ctx: msg\nreason"}));

    // A closed log, or none, takes no line.
    log_.open = false;
    reportError("ctx", "again", false);
    setErrorLog(nullptr);
    reportError("ctx", "and again", false);
    EXPECT_EQ(log_.lines.size(), 1u);
}

TEST_F(ErrorReportTest, DefaultPrompterChangesNothingAndIsRestoredByNull) {
    EXPECT_EQ(setPrompter(nullptr), &prompter_);
    EXPECT_FALSE(prompter().askYesNo("Delete everything?"));
    EXPECT_EQ(prompter().confirmDelete("Confirm", "a", "b", "c", "d"), ConfirmAnswer::Cancel);
    EXPECT_EQ(setPrompter(&prompter_), nullptr);
    EXPECT_TRUE(prompter().askYesNo("Delete everything?"));
}

TEST(RetryTextsTest, BlankUntilARetryThenLabelAndCount) {
    EXPECT_EQ(retryTexts(0).label, "");
    EXPECT_EQ(retryTexts(0).number, "");
    EXPECT_EQ(retryTexts(-1).number, "");
    EXPECT_EQ(retryTexts(3).label, "Retries");
    EXPECT_EQ(retryTexts(3).number, "3");
}

}  // namespace
