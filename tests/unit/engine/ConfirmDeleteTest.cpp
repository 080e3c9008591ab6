// The delete confirmation: how each of the five answers is told to the analysis and remembered
// for the rest of the run, and how a long path is cut into the four lines of the dialog.

#include "engine/ConfirmDelete.h"

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"

namespace {

// Answers the confirmations from a script and records what it was shown.
class ScriptedPrompter final : public Prompter {
  public:
    void messageBox(const std::string&) override {}
    bool askYesNo(const std::string&) override { return false; }
    ConfirmAnswer confirmDelete(const std::string& caption, const std::string& line1,
                                const std::string& line2, const std::string& line3,
                                const std::string& line4) override {
        shown.push_back({caption, line1, line2, line3, line4});
        if (answers.empty()) {
            ADD_FAILURE() << "asked more often than scripted";
            return ConfirmAnswer::Cancel;
        }
        const ConfirmAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<ConfirmAnswer> answers;
    std::vector<std::vector<std::string>> shown;
};

class ConfirmDeleteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = setPrompter(&prompter_);
        savedQuiet_ = quietMode.exchange(false);
    }
    void TearDown() override {
        setPrompter(previous_);
        quietMode = savedQuiet_;
    }

    int ask(ConfirmationFlags& flags) {
        return askToDelete("Delete File", "1", "2", "3", "4", flags);
    }

    ScriptedPrompter prompter_;

  private:
    Prompter* previous_ = nullptr;
    bool savedQuiet_ = false;
};

}  // namespace

TEST_F(ConfirmDeleteTest, EachAnswerIsToldAndTheToAllAnswersAreRemembered) {
    struct Case {
        ConfirmAnswer answer;
        int result;
        bool yesToAll, noToAll;
    };
    const Case cases[] = {
        {ConfirmAnswer::Yes, kDeleteIt, false, false},
        {ConfirmAnswer::YesToAll, kDeleteIt, true, false},
        {ConfirmAnswer::No, kKeepIt, false, false},
        {ConfirmAnswer::NoToAll, kKeepIt, false, true},
        {ConfirmAnswer::Cancel, kCancelRun, false, false},
    };
    for (const Case& c : cases) {
        ConfirmationFlags flags;
        prompter_.answers = {c.answer};
        EXPECT_EQ(ask(flags), c.result) << static_cast<int>(c.answer);
        EXPECT_EQ(flags.yesToAll, c.yesToAll);
        EXPECT_EQ(flags.noToAll, c.noToAll);
    }
    ASSERT_EQ(prompter_.shown.size(), 5u);
    EXPECT_EQ(prompter_.shown[0], (std::vector<std::string>{"Delete File", "1", "2", "3", "4"}));
}

TEST_F(ConfirmDeleteTest, ToAllAnswersHoldForTheirOwnPairOnly) {
    ConfirmationFlags files;
    ConfirmationFlags folders;
    prompter_.answers = {ConfirmAnswer::YesToAll, ConfirmAnswer::No, ConfirmAnswer::NoToAll};
    EXPECT_EQ(ask(files), kDeleteIt);
    // Later files are deleted without a question; folders are still asked about.
    EXPECT_EQ(ask(files), kDeleteIt);
    EXPECT_EQ(ask(files), kDeleteIt);
    EXPECT_EQ(ask(folders), kKeepIt);
    EXPECT_EQ(ask(folders), kKeepIt);
    EXPECT_EQ(ask(folders), kKeepIt);
    EXPECT_EQ(prompter_.shown.size(), 3u);
    EXPECT_TRUE(prompter_.answers.empty());
}

TEST_F(ConfirmDeleteTest, NoOneAtTheScreenMeansDelete) {
    quietMode = true;
    ConfirmationFlags flags;
    EXPECT_EQ(ask(flags), kDeleteIt);
    // Even a remembered No To All gives way: a silent run deletes what the plan says.
    flags.noToAll = true;
    EXPECT_EQ(ask(flags), kDeleteIt);
    EXPECT_TRUE(prompter_.shown.empty());
    EXPECT_FALSE(flags.yesToAll);
}

TEST(SplitConfirmTextTest, CutsIntoFourLinesOfTheWidth) {
    const std::string a120(120, 'a');
    const std::string b120(120, 'b');
    const std::string c120(120, 'c');
    const std::string d120(120, 'd');

    using Lines = std::array<std::string, 4>;
    EXPECT_EQ(splitConfirmText("", 120), (Lines{"", "", "", ""}));
    EXPECT_EQ(splitConfirmText("Delete file: /a", 120), (Lines{"Delete file: /a", "", "", ""}));
    EXPECT_EQ(splitConfirmText(a120, 120), (Lines{a120, "", "", ""}));
    EXPECT_EQ(splitConfirmText(a120 + "0123456789", 120), (Lines{a120, "0123456789", "", ""}));
    EXPECT_EQ(splitConfirmText(a120 + b120 + c120 + d120, 120), (Lines{a120, b120, c120, d120}));
    // What does not fit into four lines is not shown.
    EXPECT_EQ(splitConfirmText(a120 + b120 + c120 + d120 + "lost", 120),
              (Lines{a120, b120, c120, d120}));
}

TEST(SplitConfirmTextTest, NeverCutsACharacterInTwo) {
    // "é" is two bytes in UTF-8; a line of width 3 holds three characters, not three bytes.
    const std::array<std::string, 4> lines = splitConfirmText("ééééé", 3);
    EXPECT_EQ(lines[0], "ééé");
    EXPECT_EQ(lines[1], "éé");
    EXPECT_EQ(lines[2], "");
}
