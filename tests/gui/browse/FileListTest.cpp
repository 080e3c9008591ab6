// The list behaviour every browse list shares, on the entries of a plan: listing a folder of
// the plan, double clicks, sorting, view styles, the key timer and removal.

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QTreeView>
#include <filesystem>

#include "gui/browse/BrowseTestSupport.h"
#include "profiles/SettingsStore.h"
#include "support/TempFolder.h"
#include "ui/browse/FileDetailsBrowseCtrl.h"
#include "ui/browse/FileListModel.h"

namespace browsetest {
namespace {

class FileListTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        plan_ = {
            planEntry("/www/index.html", EntryAction::Overwrite, 2048),
            planEntry("/www/about.html", EntryAction::Add, 900),
            planEntry("/www/big.zip", EntryAction::Add, 1234567),
            planEntry("/www/css/site.css", EntryAction::Add, 10),
            planEntry("/www/old/", EntryAction::Delete),
            planEntry("/www/img/new/", EntryAction::Add),
            planEntry("/www/img/new/logo.png", EntryAction::Add, 5000),
        };
        list_ = std::make_unique<FileDetailsBrowseCtrl>(plan_, selection_, listener_, true);
        list_->initialise();
    }

    QString cell(int row, int column) const {
        return list_->model().index(row, column).data().toString();
    }

    std::vector<FileEntryPtr> plan_;
    std::unique_ptr<FileDetailsBrowseCtrl> list_;
};

TEST_F(FileListTest, AFolderOfThePlanListsItsEntriesAndOneFolderPerLevelBelow) {
    const struct {
        std::string folder;
        std::vector<std::string> names;
    } cases[] = {
        {"", {""}},  // the top of the paths, shown as "/"
        {"\\", {""}},
        {"/", {"www"}},
        {"/www/", {"css", "img", "old", "about.html", "big.zip", "index.html"}},
        {"/www/img/", {"new"}},
        {"/www/img/new/", {"logo.png"}},
        {"/WWW/CSS/", {"site.css"}},  // paths compare ignoring case, as every set of entries
    };
    for (const auto& c : cases) {
        std::vector<FileEntryPtr> listing;
        EXPECT_TRUE(FileDetailsBrowseCtrl::listPlanFolder(plan_, c.folder, listing)) << c.folder;
        EXPECT_EQ(namesOf(listing), c.names) << c.folder;
    }
    std::vector<FileEntryPtr> listing;
    EXPECT_FALSE(FileDetailsBrowseCtrl::listPlanFolder(plan_, "/elsewhere/", listing));

    // The planned folder itself is listed with its action, not a made-up plain one.
    ASSERT_TRUE(FileDetailsBrowseCtrl::listPlanFolder(plan_, "/www/img/", listing));
    EXPECT_EQ(listing.front(), plan_[5]);
    ASSERT_TRUE(FileDetailsBrowseCtrl::listPlanFolder(plan_, "/www/", listing));
    EXPECT_EQ(listing[0]->action, EntryAction::None) << "css is only the folder of a file";
}

TEST_F(FileListTest, RowsShowTheActionImagesSizesAndDates) {
    plan_[1]->failed = true;
    ASSERT_TRUE(list_->setDirectory("/www/"));
    list_->setViewStyle(FileBrowseCtrl::Report);
    const int about = rowNamed(*list_, "about.html");
    EXPECT_EQ(list_->rowImage(about), 13) << "a failed add";
    EXPECT_EQ(list_->rowImage(rowNamed(*list_, "index.html")), 5);
    EXPECT_EQ(list_->rowImage(rowNamed(*list_, "old")), 8);
    EXPECT_EQ(list_->rowImage(rowNamed(*list_, "css")), 0);
    EXPECT_EQ(cell(rowNamed(*list_, "big.zip"), FileListModel::BytesColumn), "1,234,567");
    EXPECT_EQ(cell(rowNamed(*list_, "about.html"), FileListModel::BytesColumn), "900");
    EXPECT_EQ(cell(rowNamed(*list_, "css"), FileListModel::BytesColumn), "");
    EXPECT_EQ(cell(about, FileListModel::ModifiedColumn), "05/03/04  09:07:02");
    setDayBeforeMonth(false);
    EXPECT_EQ(cell(about, FileListModel::ModifiedColumn), "03/05/04  09:07:02");

    plan_[1]->failed = false;
    list_->updateRowImages();
    EXPECT_EQ(list_->rowImage(about), 7);

    const struct {
        std::uint64_t size;
        const char* text;
    } sizes[] = {{0, "0"},
                 {123, "123"},
                 {1000, "1,000"},
                 {999999, "999,999"},
                 {18446744073709551615ull, "18,446,744,073,709,551,615"}};
    for (const auto& s : sizes) {
        EXPECT_EQ(FileListModel::formatBytes(s.size), s.text);
    }
}

TEST_F(FileListTest, DoubleClickingAFileSaysSoAndChangesNothing) {
    ASSERT_TRUE(list_->setDirectory("/www/"));
    const std::vector<std::string> before = rowNames(*list_);
    const int file = rowNamed(*list_, "index.html");
    list_->selectRows({file});
    list_->changeDirToItem(file);
    EXPECT_EQ(rowNames(*list_), before);
    EXPECT_EQ(list_->currentFolder()->fullPath(), "/www");
    EXPECT_EQ(prompter_.messages,
              std::vector<std::string>{"Please double click a folder to browse it"});
    EXPECT_EQ(log_.lines, std::vector<std::string>{"FileBrowseCtrl::changeDirToItem: Please "
                                                   "double click a folder to browse it"});

    // A folder that is not the first of a selection is refused too.
    list_->selectRows({rowNamed(*list_, "css"), rowNamed(*list_, "img")});
    list_->changeDirToItem(rowNamed(*list_, "img"));
    EXPECT_EQ(lastMessage(), "Invalid Selection");

    // The first selected folder is entered.
    list_->selectRows({rowNamed(*list_, "img")});
    list_->changeDirToItem(rowNamed(*list_, "img"));
    EXPECT_EQ(rowNames(*list_), std::vector<std::string>{"new"});
    EXPECT_TRUE(list_->canGoUp());
    ASSERT_TRUE(list_->upDirectory());
    EXPECT_EQ(rowNames(*list_), before);
}

TEST_F(FileListTest, SortingByBytesTwiceTurnsTheOrderRoundWithFoldersLast) {
    ASSERT_TRUE(list_->setDirectory("/www/"));
    list_->sortByColumn(FileListModel::BytesColumn);
    EXPECT_EQ(rowNames(*list_), (std::vector<std::string>{"css", "img", "old", "about.html",
                                                          "index.html", "big.zip"}));
    list_->sortByColumn(FileListModel::BytesColumn);
    EXPECT_EQ(rowNames(*list_), (std::vector<std::string>{"big.zip", "index.html", "about.html",
                                                          "old", "img", "css"}));
    EXPECT_EQ(list_->reportView()->header()->sortIndicatorOrder(), Qt::DescendingOrder);

    // The order is the program's: the next listing, of any list, follows it.
    std::vector<FileEntryPtr> listing;
    ASSERT_TRUE(FileDetailsBrowseCtrl::listPlanFolder(plan_, "/www/", listing));
    EXPECT_EQ(listing.front()->name, "big.zip");

    // Another column starts ascending; equal sizes fall back on the names.
    list_->sortByColumn(FileListModel::NameColumn);
    EXPECT_EQ(rowNames(*list_).front(), "css");
    plan_[0]->size = 900;
    list_->sortByColumn(FileListModel::BytesColumn);
    EXPECT_EQ(rowNames(*list_)[3], "about.html");
    EXPECT_EQ(rowNames(*list_)[4], "index.html");
}

TEST_F(FileListTest, TheViewStyleIsKeptInTheSettings) {
    testsupport::TempFolder folder;
    FileSettingsStore store(folder.path());
    setBrowseStyleStore(&store);
    EXPECT_EQ(storedBrowseStyle(), 3u) << "list is the default";

    const struct {
        int style;
        bool report;
        QListView::ViewMode mode;
        QListView::Flow flow;
    } styles[] = {
        {FileBrowseCtrl::LargeIcons, false, QListView::IconMode, QListView::LeftToRight},
        {FileBrowseCtrl::SmallIcons, false, QListView::ListMode, QListView::LeftToRight},
        {FileBrowseCtrl::List, false, QListView::ListMode, QListView::TopToBottom},
        {FileBrowseCtrl::Report, true, QListView::ListMode, QListView::TopToBottom},
    };
    for (const auto& s : styles) {
        const int changesBefore = listener_.changes;
        list_->setViewStyle(s.style);
        EXPECT_EQ(store.readDword("BrowseStyle"), static_cast<std::uint32_t>(s.style));
        EXPECT_EQ(list_->currentView() == list_->reportView(), s.report) << s.style;
        if (!s.report) {
            EXPECT_EQ(list_->iconView()->viewMode(), s.mode) << s.style;
            EXPECT_EQ(list_->iconView()->flow(), s.flow) << s.style;
        }
        EXPECT_EQ(listener_.changes, changesBefore + 1);
    }

    // A new list starts in the stored style, without telling its window.
    std::vector<FileEntryPtr> otherSelection;
    RecordingListener other;
    FileDetailsBrowseCtrl next(plan_, otherSelection, other, true);
    next.initialise();
    EXPECT_EQ(next.viewStyle(), FileBrowseCtrl::Report);
    EXPECT_EQ(other.changes, 0);
}

TEST_F(FileListTest, TheSelectionFollowsTheArrowKeysOnlyAfterTheirTimer) {
    ASSERT_TRUE(list_->setDirectory("/www/"));
    list_->show();
    list_->selectRows({0});
    ASSERT_EQ(namesOf(selection_), std::vector<std::string>{"css"});
    QWidget* view = list_->currentView();
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(view, &down);
    EXPECT_EQ(namesOf(selection_), std::vector<std::string>{"css"}) << "not before 50 ms";
    settle(120);
    EXPECT_EQ(namesOf(selection_), std::vector<std::string>{"img"});
}

TEST_F(FileListTest, RemovingAFolderTakesEverythingBelowItOutOfThePlan) {
    ASSERT_TRUE(list_->setDirectory("/www/"));
    list_->selectRows({rowNamed(*list_, "img"), rowNamed(*list_, "about.html")});
    ASSERT_TRUE(list_->deleteItem());
    EXPECT_EQ(plan_.size(), 4u);
    for (const FileEntryPtr& entry : plan_) {
        EXPECT_EQ(entry->fullPath().find("/www/img"), std::string::npos) << entry->fullPath();
        EXPECT_NE(entry->name, "about.html");
    }
    std::vector<std::string> removed;
    for (const FileEntryPtr& folder : listener_.removed) {
        removed.push_back(folder->fullPath());
    }
    EXPECT_EQ(removed, (std::vector<std::string>{"/www/img/new", "/www/img"}));
    EXPECT_EQ(rowNames(*list_), (std::vector<std::string>{"css", "old", "big.zip", "index.html"}));
    EXPECT_TRUE(selection_.empty());

    // The up entry is never taken out.
    selection_ = {std::make_shared<FileEntry>()};
    selection_.front()->kind = EntryKind::Up;
    list_->deleteItem();
    EXPECT_EQ(lastLogLine(), "FileDetailsBrowseCtrl::deleteItem: Cannot delete the up directory");
    EXPECT_EQ(plan_.size(), 4u);
}

}  // namespace
}  // namespace browsetest
