// SyncResultsDlg, SyncReportDlg and ProblemLogDlg on entries of a real temporary tree.

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "engine/ActionLists.h"
#include "engine/SyncLocation.h"
#include "engine/SynchroniserView.h"
#include "gui/DialogScripts.h"
#include "support/TempFolder.h"
#include "ui/report/ProblemLogDlg.h"
#include "ui/report/SyncReportDlg.h"
#include "ui/report/SyncResultsDlg.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const QListWidget& list) {
    std::vector<std::string> texts;
    for (int row = 0; row < list.count(); ++row) {
        texts.push_back(list.item(row)->text().toStdString());
    }
    return texts;
}

QListWidget& entryList(QDialog& dialog) {
    return *dialog.findChild<QListWidget*>("entryList");
}

QPushButton& button(QDialog& dialog, const char* name) {
    return *dialog.findChild<QPushButton*>(name);
}

QString buttonText(SyncResultsDlg& dialog, int category) {
    return dialog.categoryButton(category)->text();
}

class ReportDialogsTest : public guitest::DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        for (const char* name : {"a.html", "b.html", "c.html", "d.html", "e.html"}) {
            testsupport::writeFile(tree_.path() / name, name);
        }
        fs::create_directory(tree_.path() / "news");
        fs::create_directory(tree_.path() / "old");
        std::vector<FileEntryPtr> files;
        std::vector<FileEntryPtr> folders;
        ASSERT_TRUE(LocalSyncLocation().listFolder(folder(), files, folders));
        ASSERT_EQ(files.size(), 5u);
        ASSERT_EQ(folders.size(), 2u);
        files_ = files;
        folders_ = folders;
    }

    std::string folder() const { return tree_.path().string() + "/"; }
    std::string path(const std::string& name) const { return folder() + name; }
    // The first `count` files (or folders) of the tree.
    EntrySet someFiles(std::size_t count) const {
        return EntrySet(files_.begin(), files_.begin() + static_cast<long>(count));
    }
    EntrySet someFolders(std::size_t count) const {
        return EntrySet(folders_.begin(), folders_.begin() + static_cast<long>(count));
    }

    testsupport::TempFolder tree_{"kelvane-gui-report"};
    std::vector<FileEntryPtr> files_;
    std::vector<FileEntryPtr> folders_;
};

TEST_F(ReportDialogsTest, ReviewShowsEachCategoryWithItsCountAndCaption) {
    PlanForReview plan;
    plan.overwriteTargets = someFiles(2);
    plan.addFileTargets = someFiles(5);
    plan.addFolderTargets = someFolders(1);
    SyncResultsDlg dialog(plan);

    EXPECT_EQ(dialog.windowTitle(), "Synchronisation analysis results");
    EXPECT_EQ(buttonText(dialog, 0), "2 Overwrite Files");
    EXPECT_EQ(buttonText(dialog, 1), "5 Add Files");
    EXPECT_EQ(buttonText(dialog, 2), "0 Delete Files");
    EXPECT_EQ(buttonText(dialog, 3), "1 Add Folders");
    EXPECT_EQ(buttonText(dialog, 4), "0 Delete Folders");
    const bool enabled[] = {true, true, false, true, false};
    for (int category = 0; category < SyncResultsDlg::kCategories; ++category) {
        EXPECT_EQ(dialog.categoryButton(category)->isEnabled(), enabled[category]) << category;
    }
    EXPECT_EQ(dialog.findChild<QLabel*>("captionLabel")->text(),
              "Now Showing: Files To Be Overwritten");
    EXPECT_EQ(lines(entryList(dialog)), (std::vector<std::string>{path("a.html"), path("b.html")}));
    EXPECT_TRUE(button(dialog, "removeItemButton").isEnabled());
    EXPECT_TRUE(button(dialog, "browseButton").isEnabled());
    EXPECT_FALSE(button(dialog, "browseButton").toolTip().isEmpty());

    dialog.categoryButton(3)->click();
    EXPECT_EQ(dialog.currentCategory(), 3);
    EXPECT_EQ(dialog.findChild<QLabel*>("captionLabel")->text(),
              "Now Showing: Folders To Be Added");
    EXPECT_EQ(lines(entryList(dialog)), std::vector<std::string>{path("news")});
}

TEST_F(ReportDialogsTest, ResultsCountFailedEntriesButListOnlyTheOthers) {
    ActionLists results;
    results.deletedFiles = someFiles(3);
    (*std::next(results.deletedFiles.begin()))->failed = true;  // b.html
    SyncResultsDlg dialog(results);

    EXPECT_TRUE(dialog.resultsMode());
    EXPECT_EQ(dialog.windowTitle(), "Detailed Synchronisation Results");
    EXPECT_TRUE(button(dialog, "removeItemButton").isHidden());
    auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
    EXPECT_TRUE(buttons->button(QDialogButtonBox::Cancel)->isHidden());
    EXPECT_EQ(buttonText(dialog, 2), "3 Deleted Files");
    EXPECT_EQ(buttonText(dialog, 0), "0 Overwritten Files");

    dialog.showCategory(2);
    EXPECT_EQ(dialog.findChild<QLabel*>("captionLabel")->text(), "Now Showing: Deleted Files");
    EXPECT_EQ(lines(entryList(dialog)), (std::vector<std::string>{path("a.html"), path("c.html")}));
    // Deletions that were done need no question afterwards.
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompter_.questions.empty());
}

TEST_F(ReportDialogsTest, RemoveItemTakesTheSelectedLinesOutOfThePlan) {
    PlanForReview plan;
    plan.addFileTargets = someFiles(5);
    SyncResultsDlg dialog(plan);
    dialog.showCategory(1);
    QListWidget& list = entryList(dialog);
    list.item(1)->setSelected(true);
    list.item(3)->setSelected(true);
    EXPECT_TRUE(button(dialog, "removeItemButton").isEnabled());

    button(dialog, "removeItemButton").click();

    // Taken from the last line up: the rows chosen are the lines removed.
    const std::vector<std::string> left = {path("a.html"), path("c.html"), path("e.html")};
    EXPECT_EQ(lines(list), left);
    std::vector<std::string> planned;
    for (const FileEntryPtr& entry : plan.addFileTargets) {
        planned.push_back(entry->fullPath());
    }
    EXPECT_EQ(planned, left);
    EXPECT_EQ(buttonText(dialog, 1), "3 Add Files");
    EXPECT_FALSE(button(dialog, "removeItemButton").isEnabled());

    list.item(0)->setSelected(true);
    EXPECT_TRUE(button(dialog, "removeItemButton").isEnabled());
    list.clearSelection();
    EXPECT_FALSE(button(dialog, "removeItemButton").isEnabled());
}

TEST_F(ReportDialogsTest, EmptiedCategoryIsDisabledWhenTheNextCategoryIsShown) {
    PlanForReview plan;
    plan.overwriteTargets = someFiles(1);
    plan.deleteFolders = someFolders(2);
    SyncResultsDlg dialog(plan);
    entryList(dialog).selectAll();
    dialog.OnRemoveItem();
    EXPECT_TRUE(plan.overwriteTargets.empty());
    // Until another category is shown the button keeps its state.
    EXPECT_TRUE(dialog.categoryButton(0)->isEnabled());
    EXPECT_EQ(buttonText(dialog, 0), "0 Overwrite Files");

    dialog.categoryButton(4)->click();
    EXPECT_FALSE(dialog.categoryButton(0)->isEnabled());
    EXPECT_TRUE(dialog.categoryButton(4)->isEnabled());
}

TEST_F(ReportDialogsTest, NothingPlannedDisablesEveryCategoryAndOkClosesAtOnce) {
    for (const bool results : {false, true}) {
        PlanForReview plan;
        ActionLists lists;
        const auto dialog = results ? std::make_unique<SyncResultsDlg>(lists)
                                    : std::make_unique<SyncResultsDlg>(plan);
        for (int category = 0; category < SyncResultsDlg::kCategories; ++category) {
            EXPECT_FALSE(dialog->categoryButton(category)->isEnabled()) << category;
        }
        EXPECT_EQ(entryList(*dialog).count(), 0);
        dialog->accept();
        EXPECT_EQ(dialog->result(), QDialog::Accepted) << results;
    }
    EXPECT_TRUE(prompter_.questions.empty());
}

TEST_F(ReportDialogsTest, DeletesInThePlanAreConfirmedBeforeOk) {
    struct Case {
        std::size_t folders;
        std::size_t files;
        bool answer;
        std::string question;
    };
    const Case cases[] = {
        {2, 5, true,
         "You are about to delete 2 folders and 5 files.\nAre you sure you want to "
         "continue?"},
        {0, 3, true, "You are about to delete 3 files.\nAre you sure you want to continue?"},
        {1, 0, false, "You are about to delete 1 folders.\nAre you sure you want to continue?"},
        {0, 1, false, "You are about to delete 1 files.\nAre you sure you want to continue?"},
    };
    for (const Case& c : cases) {
        PlanForReview plan;
        plan.deleteFolders = someFolders(c.folders);
        plan.deleteFiles = someFiles(c.files);
        plan.addFileTargets = someFiles(1);
        prompter_.questions.clear();
        prompter_.answers = {c.answer};
        SyncResultsDlg dialog(plan);
        dialog.accept();
        ASSERT_EQ(prompter_.questions.size(), 1u);
        EXPECT_EQ(prompter_.questions.front(), c.question);
        // No keeps the dialog open with the plan as it was.
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.answer) << c.question;
        EXPECT_EQ(plan.deleteFolders.size(), c.folders);
        EXPECT_EQ(plan.deleteFiles.size(), c.files);
    }
}

TEST_F(ReportDialogsTest, CancelClosesTheReviewWithoutAQuestion) {
    PlanForReview plan;
    plan.deleteFiles = someFiles(2);
    SyncResultsDlg dialog(plan);
    dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompter_.questions.empty());
    EXPECT_EQ(plan.deleteFiles.size(), 2u);
}

// ---- SyncReportDlg and ProblemLogDlg ----

struct ReportOf {
    ActionLists lists;
    ProblemList problems;
    ReportData data(const std::string& heading) {
        return ReportData{heading, "/home/ann/site/", "/www/", &lists, &problems};
    }
};

TEST_F(ReportDialogsTest, ReportShowsHeadingLocationsAndTheFiveCounts) {
    ReportOf run;
    run.lists.overwrittenCount = 1;
    run.lists.addedFilesCount = 22;
    run.lists.deletedFilesCount = 3;
    run.lists.addedFoldersCount = 4;
    run.lists.deletedFoldersCount = 5;
    for (const char* heading :
         {"Synchronisation done:\n", "Synchronisation interrupted\n", "Synchronisation failed\n"}) {
        SyncReportDlg dialog(run.data(heading));
        EXPECT_EQ(dialog.windowTitle(), "Synchronisation Report");
        std::string shown = heading;
        shown.pop_back();  // the line break of the heading is not drawn
        EXPECT_EQ(dialog.findChild<QLabel*>("headingLabel")->text().toStdString(), shown);
        const auto field = [&dialog](const char* name) {
            return dialog.findChild<QLineEdit*>(name)->text().toStdString();
        };
        EXPECT_EQ(field("localLocationEdit"), "/home/ann/site/");
        EXPECT_EQ(field("ftpLocationEdit"), "/www/");
        EXPECT_EQ(field("overwrittenEdit"), "1");
        EXPECT_EQ(field("addedFilesEdit"), "22");
        EXPECT_EQ(field("deletedFilesEdit"), "3");
        EXPECT_EQ(field("addedFoldersEdit"), "4");
        EXPECT_EQ(field("deletedFoldersEdit"), "5");
        EXPECT_EQ(dialog.findChild<QLineEdit*>("ftpLocationEdit")->toolTip(),
                  "The target location");
    }
}

TEST_F(ReportDialogsTest, ProblemControlsShowOnlyWithProblems) {
    ReportOf clean;
    SyncReportDlg withoutProblems(clean.data("Synchronisation done:\n"));
    EXPECT_TRUE(withoutProblems.findChild<QLabel*>("problemsLabel")->isHidden());
    EXPECT_TRUE(button(withoutProblems, "viewProblemLogButton").isHidden());

    ReportOf failing;
    // In the order the run wrote them, which is not the sorted order.
    failing.problems = {"CSynchroniserDlg::processFiles (delete): Could not delete file: /www/x",
                        "550 No such file or directory.",
                        "CSynchroniserDlg::copyDirectory: Could not add folder: /www/a",
                        "Timed out"};
    SyncReportDlg withProblems(failing.data("Synchronisation done:\n"));
    EXPECT_FALSE(withProblems.findChild<QLabel*>("problemsLabel")->isHidden());
    EXPECT_EQ(button(withProblems, "viewProblemLogButton").text(), "!!!!! View Problem Log !!!!!");
    EXPECT_FALSE(button(withProblems, "viewProblemLogButton").isHidden());
    const std::unique_ptr<ProblemLogDlg> log = withProblems.makeProblemLog();
    EXPECT_EQ(log->windowTitle(), "Problem Log");
    EXPECT_EQ(lines(*log->findChild<QListWidget*>("problemList")), failing.problems);
}

TEST_F(ReportDialogsTest, DetailsOfARunThatDidNothingHaveEveryCategoryDisabled) {
    ReportOf run;
    run.lists.failedAddedFiles = someFiles(2);  // failures are not results
    SyncReportDlg report(run.data("Synchronisation done:\n"));
    const std::unique_ptr<SyncResultsDlg> details = report.makeDetails();
    EXPECT_TRUE(details->resultsMode());
    for (int category = 0; category < SyncResultsDlg::kCategories; ++category) {
        EXPECT_FALSE(details->categoryButton(category)->isEnabled()) << category;
    }
}

// Counts the times a widget is shown.
class ShowCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        shows += event->type() == QEvent::Show ? 1 : 0;
        return false;
    }
    int shows = 0;
};

TEST_F(ReportDialogsTest, QuietReportEndsWithOkUnseen) {
    ReportOf run;
    run.problems = {"a problem", "its reason"};
    quietMode = true;
    SyncReportDlg dialog(run.data("Synchronisation done:\n"));
    ShowCounter counter;
    dialog.installEventFilter(&counter);
    // With quiet mode on the dialog ends before it is shown; should it wait for the person after
    // all, the guard ends it with Cancel instead of leaving the test hanging.
    QTimer::singleShot(3000, &dialog, &QDialog::reject);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(counter.shows, 0);
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
