// The review and the report in whole runs against a real local server (pyftpdlib): the
// person's choices in SyncResultsDlg decide what reaches the server.

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

#include "engine/LogFile.h"
#include "integration/EngineRunSupport.h"
#include "ui/report/SyncReportDlg.h"
#include "ui/report/SyncResultsDlg.h"

using namespace enginerun;

namespace {

const std::map<std::string, std::string> kSite = {
    {"index.html", "<html>home</html>"},    {"about.html", "<html>about</html>"},
    {"contact.html", "<html>mail</html>"},  {"news.html", "<html>news</html>"},
    {"prices.html", "<html>prices</html>"}, {"css/site.css", "body {}"},
};

class ReviewRunTest : public EngineRunFixture<testsupport::PyFtpdServer> {
  protected:
    // The person in the review: `choose` acts on the dialog, then the dialog's own result
    // answers the run.
    void reviewWith(std::function<void(SyncResultsDlg&)> choose) {
        view_.editPlan = [this, choose](PlanForReview& plan) {
            SyncResultsDlg dialog(plan);
            choose(dialog);
            view_.reviewAnswer = dialog.result() == QDialog::Accepted;
        };
    }

    Profile reviewedProfile(const fs::path& local) {
        Profile profile = silentProfile(local, "www");
        profile.silent_mode = false;
        profile.check_actions = true;
        return profile;
    }
};

QPushButton* dialogButton(SyncResultsDlg& dialog, QDialogButtonBox::StandardButton which) {
    return dialog.findChild<QDialogButtonBox*>("buttonBox")->button(which);
}

TEST_F(ReviewRunTest, TwoUploadsRemovedInTheReviewAreTheOnlyOnesNotMade) {
    const fs::path local = localFolder("site");
    makeTree(local, kSite);
    setTreeTime(local, wholeMinuteHoursAgo(3));
    const fs::path server = serverFolder("www");
    testsupport::writeFile(server / "stale.html", "gone locally");
    prompter_.answers = {true};  // the delete question

    std::vector<std::string> removed;
    reviewWith([&removed](SyncResultsDlg& dialog) {
        dialog.categoryButton(1)->click();
        auto* list = dialog.findChild<QListWidget*>("entryList");
        ASSERT_EQ(list->count(), 5);
        for (const int row : {1, 3}) {
            list->item(row)->setSelected(true);
            removed.push_back(fs::path(list->item(row)->text().toStdString()).filename());
        }
        dialog.findChild<QPushButton*>("removeItemButton")->click();
        dialogButton(dialog, QDialogButtonBox::Ok)->click();
    });
    Profile profile = reviewedProfile(local);
    openAndRun(profile);

    ASSERT_EQ(view_.reports.size(), 1u) << prompterMessages();
    // The plan as offered held every upload; the run made all but the two removed.
    EXPECT_EQ(view_.reviews.front().addFileTargets.size(), 5u);
    EXPECT_EQ(prompter_.questions,
              std::vector<std::string>{
                  "You are about to delete 1 files.\nAre you sure you want to continue?"});
    std::map<std::string, std::string> expected = treeOf(local);
    ASSERT_EQ(removed.size(), 2u);
    for (const std::string& name : removed) {
        EXPECT_EQ(expected.erase(name), 1u) << name;
    }
    EXPECT_EQ(treeOf(server), expected);
    EXPECT_EQ(lastReport().lists.addedFilesCount, 4u);  // three files and css/site.css
    EXPECT_EQ(lastReport().lists.deletedFilesCount, 1u);
    EXPECT_TRUE(lastReport().problems.empty()) << lastReport().problems.front();
}

TEST_F(ReviewRunTest, CancelInTheReviewLeavesTheServerAsItWas) {
    const fs::path local = localFolder("site");
    makeTree(local, kSite);
    setTreeTime(local, wholeMinuteHoursAgo(1));
    const fs::path server = serverFolder("www");
    makeTree(server, {{"index.html", "old home"}, {"stale.html", "gone locally"}, {"old/", ""}});
    setTreeTime(server, wholeMinuteHoursAgo(48));
    const auto before = treeOf(server);

    reviewWith(
        [](SyncResultsDlg& dialog) { dialogButton(dialog, QDialogButtonBox::Cancel)->click(); });
    Profile profile = reviewedProfile(local);
    openAndRun(profile);

    ASSERT_EQ(view_.reviews.size(), 1u);
    EXPECT_FALSE(view_.reviews.front().overwriteTargets.empty());
    EXPECT_FALSE(view_.reviews.front().deleteFolders.empty());
    EXPECT_TRUE(view_.reports.empty());
    EXPECT_TRUE(prompter_.questions.empty());
    EXPECT_EQ(treeOf(server), before);
    EXPECT_EQ(synchroniser_.lastOutcome(), RunOutcome::NotRun);
}

// The report of a silent run: the results block is in the log, and the dialog ends unseen.
class QuietReportView final : public testsupport::FakeSynchroniserView {
  public:
    bool connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) override {
        return connectAsDialogWould(connection);
    }
    void showReport(const ReportData& report) override {
        SyncReportDlg dialog(report);
        dialog.installEventFilter(&shows);
        QTimer::singleShot(3000, &dialog, &QDialog::reject);  // should it wait after all
        results.push_back(dialog.exec());
    }

    struct ShowCounter : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::Show ? 1 : 0;
            return false;
        }
        int count = 0;
    } shows;
    std::vector<int> results;
};

TEST_F(ReviewRunTest, ASilentRunWritesTheResultsBlockAndItsReportEndsUnseen) {
    const fs::path local = localFolder("site");
    makeTree(local, kSite);
    serverFolder("www");
    Profile profile = silentProfile(local, "www");
    profile.log_file_on = true;
    profile.log_file_path = (work_.path() / "site.log").string();
    const std::string path = saveProfile(profile, "silent.kvp");

    QuietReportView view;
    Synchroniser synchroniser(view);
    synchroniser.connections.push_back(connection_);
    ASSERT_TRUE(synchroniser.loadFile(path, true, false));
    synchroniser.synchronise();
    quietMode = false;

    EXPECT_EQ(view.results, std::vector<int>{QDialog::Accepted});
    EXPECT_EQ(view.shows.count, 0);
    const std::string log = testsupport::readFile(profile.log_file_path);
    const std::size_t results = log.find("Synchronisation completed at:\n");
    ASSERT_NE(results, std::string::npos) << log;
    EXPECT_NE(log.find("Results Summary:\n0\toverwritten files\n6\tadded files\n", results),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("++++++++++++++++++++\nAdded Files\n", results), std::string::npos);
}

}  // namespace
