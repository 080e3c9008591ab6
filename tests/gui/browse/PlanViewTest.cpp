// The explorer view of a plan: BrowseFilesDlg on its own, from SyncResultsDlg's Browse in both
// modes, the action legend, and a whole reviewed run against pyftpdlib whose plan was trimmed
// in the explorer view.

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/browse/BrowseTestSupport.h"
#include "integration/EngineRunSupport.h"
#include "ui/browse/FileDetailsBrowseCtrl.h"
#include "ui/browse/FileDetailsFolderBrowseCtrl.h"
#include "ui/report/ActionLegendDlg.h"
#include "ui/report/BrowseFilesDlg.h"
#include "ui/report/SyncResultsDlg.h"

namespace browsetest {
namespace {

std::string editText(const QDialog& dialog) {
    return dialog.findChild<QLineEdit*>("currentDirectoryEdit")->text().toStdString();
}

class PlanViewTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        plan_ = {
            planEntry("/www/index.html", EntryAction::Overwrite, 100),
            planEntry("/www/news/", EntryAction::Add),
            planEntry("/www/news/a.html", EntryAction::Add, 10),
            planEntry("/www/news/old/b.html", EntryAction::Add, 10),
            planEntry("/www/archive/", EntryAction::Delete),
        };
    }
    std::vector<FileEntryPtr> plan_;
};

TEST_F(PlanViewTest, RemoveTakesAFolderAndAllBelowOutOfTheEntriesAndTheTree) {
    BrowseFilesDlg dialog(plan_, "/www/", true, true);
    dialog.OnTimer();
    EXPECT_EQ(editText(dialog), "/www/");
    EXPECT_EQ(dialog.tree().selectedFolder()->fullPath(), "/www");
    EXPECT_EQ(dialog.list().rowCount(), 3);
    auto* remove = dialog.findChild<QPushButton*>("removeButton");
    EXPECT_FALSE(remove->isEnabled());

    // The tree shows the folder's action, and below it the levels the entries name.
    QTreeWidgetItem* news = dialog.tree().itemOf("/www/news/");
    ASSERT_NE(news, nullptr);
    EXPECT_EQ(FolderBrowseCtrl::stateOf(news), 2);
    news->setExpanded(true);
    ASSERT_NE(dialog.tree().itemOf("/www/news/old/"), nullptr);

    dialog.list().selectRows({rowNamed(dialog.list(), "news")});
    EXPECT_TRUE(remove->isEnabled());
    EXPECT_EQ(editText(dialog), "/www/news/") << "one folder selected";
    dialog.OnRemove();
    EXPECT_EQ(dialog.tree().itemOf("/www/news/"), nullptr);
    EXPECT_EQ(dialog.tree().itemOf("/www/news/old/"), nullptr);
    EXPECT_EQ(dialog.entries().size(), 2u);
    EXPECT_EQ(plan_.size(), 5u) << "the caller's entries change only on OK";
    EXPECT_FALSE(remove->isEnabled());

    dialog.accept();
    EXPECT_EQ(namesOf(plan_), (std::vector<std::string>{"index.html", "archive"}));
    EXPECT_EQ(dialog.currentDirectory(), "/www/");
}

TEST_F(PlanViewTest, CancelKeepsTheEntriesAndAFolderWithNothingInsideStartsAtTheRoot) {
    BrowseFilesDlg dialog(plan_, "/gone/", true, true);
    dialog.OnTimer();
    EXPECT_EQ(editText(dialog), "");
    EXPECT_EQ(namesOf(dialog.list().listing()), std::vector<std::string>{""});
    EXPECT_FALSE(dialog.findChild<QPushButton*>("upButton")->isEnabled());
    dialog.list().selectRows({0});
    dialog.list().changeDirToItem(0);
    EXPECT_EQ(editText(dialog), "/");
    EXPECT_TRUE(dialog.findChild<QPushButton*>("upButton")->isEnabled());
    EXPECT_EQ(dialog.tree().selectedFolder()->fullPath(), "/") << "the tree follows the list";

    dialog.list().selectRows({0});
    dialog.OnRemove();
    EXPECT_TRUE(dialog.entries().empty());
    dialog.reject();
    EXPECT_EQ(plan_.size(), 5u);
}

TEST_F(PlanViewTest, ResultsShowFailuresInTheViewWhichRemovesNothing) {
    ActionLists results;
    const FileEntryPtr failedFolder = planEntry("/www/archive/", EntryAction::Delete);
    failedFolder->failed = true;
    const FileEntryPtr failedFile = planEntry("/www/news.html", EntryAction::Add, 5);
    failedFile->failed = true;
    results.overwrittenFiles.insert(planEntry("/www/index.html", EntryAction::Overwrite, 100));
    results.deletedFolders.insert(planEntry("/www/old/", EntryAction::Delete));
    results.deletedFiles.insert(planEntry("/www/docs/x.html", EntryAction::Delete, 3));
    results.failedDeletedFolders.insert(failedFolder);
    results.failedAddedFiles.insert(failedFile);
    SyncResultsDlg dialog(results);

    std::vector<std::string> starts;
    setModalRunner([&starts, &failedFolder](QDialog& shown) {
        auto& browse = dynamic_cast<BrowseFilesDlg&>(shown);
        browse.OnTimer();
        starts.push_back(editText(browse));
        if (starts.size() > 1) {
            browse.reject();
            return int(QDialog::Rejected);
        }
        EXPECT_FALSE(browse.findChild<QPushButton*>("removeButton")->isVisible() &&
                     browse.isVisible());
        EXPECT_TRUE(browse.findChild<QPushButton*>("removeButton")->isHidden());
        const FileBrowseCtrl& list = browse.list();
        EXPECT_EQ(list.rowImage(rowNamed(list, "news.html")), 13);
        EXPECT_EQ(list.rowImage(rowNamed(list, "archive")), 14);
        // The failed folder in the tree: its state, open while selected, closed after.
        QTreeWidgetItem* item = browse.tree().itemOf("/www/archive/");
        EXPECT_EQ(FolderBrowseCtrl::stateOf(item), 6);
        browse.tree().selectFolder(failedFolder);
        EXPECT_EQ(FolderBrowseCtrl::stateOf(item), 12);
        EXPECT_EQ(editText(browse), "/www/archive/");
        browse.tree().selectFolder(planEntry("/www/docs/", EntryAction::None));
        EXPECT_EQ(FolderBrowseCtrl::stateOf(item), 6);
        EXPECT_EQ(namesOf(list.listing()), std::vector<std::string>{"x.html"});
        browse.accept();
        return int(QDialog::Accepted);
    });
    dialog.OnBrowse();
    dialog.OnBrowse();
    EXPECT_EQ(starts, (std::vector<std::string>{"/www/", "/www/docs/"}))
        << "the second look starts where the first was left";
    EXPECT_EQ(dialog.categoryButton(4)->text(), "1 Deleted Folders");
}

TEST_F(PlanViewTest, TheLegendShowsTheImagesOfTheLists) {
    ActionLegendDlg legend;
    EXPECT_EQ(legend.windowTitle(), "Action Legend");
    const struct {
        const char* cell;
        int image;
    } cells[] = {
        {"plainFileIcon", 1},         {"plainFolderIcon", 0},
        {"overwriteFileIcon", 5},     {"overwriteFailedFileIcon", 11},
        {"addFileIcon", 7},           {"addFolderIcon", 6},
        {"addFailedFileIcon", 13},    {"addFailedFolderIcon", 12},
        {"deleteFileIcon", 9},        {"deleteFolderIcon", 8},
        {"deleteFailedFileIcon", 15}, {"deleteFailedFolderIcon", 14},
    };
    for (const auto& c : cells) {
        auto* label = legend.findChild<QLabel*>(c.cell);
        ASSERT_NE(label, nullptr) << c.cell;
        EXPECT_EQ(label->property("entryImage").toInt(), c.image) << c.cell;
        EXPECT_FALSE(label->pixmap().isNull()) << c.cell;
    }
    for (const char* text : {"File", "Folder", "Failed", "Overwrite", "Add", "Delete"}) {
        bool found = false;
        for (const QLabel* label : legend.findChildren<QLabel*>()) {
            found = found || label->text() == text;
        }
        EXPECT_TRUE(found) << text;
    }
}

// A whole run: the folder taken out in the explorer view of the review is neither uploaded nor
// deleted; everything else is.
class PlanViewRunTest : public enginerun::EngineRunFixture<testsupport::PyFtpdServer> {};

TEST_F(PlanViewRunTest, AFolderRemovedInTheExplorerViewIsLeftOutOfTheRun) {
    const enginerun::fs::path local = localFolder("site");
    enginerun::makeTree(local, {{"index.html", "home"},
                                {"news/a.html", "a"},
                                {"news/old/b.html", "b"},
                                {"css/site.css", "body {}"}});
    const enginerun::fs::path server = serverFolder("www");
    enginerun::makeTree(server, {{"stale.html", "gone locally"}, {"archive/x.html", "x"}});
    prompter_.answers = {true};  // You are about to delete ... files.

    std::vector<std::string> counts;
    view_.editPlan = [this, &counts](PlanForReview& plan) {
        SyncResultsDlg dialog(plan);
        setModalRunner([this](QDialog& shown) {
            auto& browse = dynamic_cast<BrowseFilesDlg&>(shown);
            browse.OnTimer();
            const std::string www = server_.remote("www") + "/";
            browse.tree().selectFolder(FileBrowseCtrl::folderEntryFor(www, true));
            EXPECT_EQ(editText(browse), www);
            FileBrowseCtrl& list = browse.list();
            list.selectRows({rowNamed(list, "archive"), rowNamed(list, "news")});
            browse.OnRemove();
            EXPECT_EQ(browse.tree().itemOf(www + "news/"), nullptr);
            EXPECT_EQ(browse.tree().itemOf(www + "archive/"), nullptr);
            browse.accept();
            return int(QDialog::Accepted);
        });
        dialog.OnBrowse();
        setModalRunner({});
        for (int category = 0; category < SyncResultsDlg::kCategories; ++category) {
            counts.push_back(dialog.categoryButton(category)->text().toStdString());
        }
        dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        view_.reviewAnswer = dialog.result() == QDialog::Accepted;
    };
    Profile profile = silentProfile(local, "www");
    profile.silent_mode = false;
    profile.check_actions = true;
    profile.delete_files = true;
    openAndRun(profile);

    ASSERT_EQ(view_.reports.size(), 1u) << prompterMessages();
    EXPECT_EQ(counts,
              (std::vector<std::string>{"0 Overwrite Files", "1 Add Files", "1 Delete Files",
                                        "1 Add Folders", "0 Delete Folders"}));
    EXPECT_EQ(enginerun::treeOf(server),
              (std::map<std::string, std::string>{{"index.html", "home"},
                                                  {"css", "<folder>"},
                                                  {"css/site.css", "body {}"},
                                                  {"archive", "<folder>"},
                                                  {"archive/x.html", "x"}}));
    EXPECT_TRUE(lastReport().problems.empty()) << lastReport().problems.front();
}

}  // namespace
}  // namespace browsetest
