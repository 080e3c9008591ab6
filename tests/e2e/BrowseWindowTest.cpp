// The explorer view of a plan and the FTP browse list as real windows on a real X server,
// worked with the mouse and the keyboard through QTest against pyftpdlib: a folder taken out of
// a reviewed plan in the explorer view is not uploaded, and the FTP list enters folders, deletes
// and renames on the server.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "integration/EngineRunSupport.h"
#include "ui/QtMessagePump.h"
#include "ui/browse/BrowseListener.h"
#include "ui/browse/FileDetailsBrowseCtrl.h"
#include "ui/browse/FileDetailsFolderBrowseCtrl.h"
#include "ui/browse/FileListModel.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/browse/FtpFolderBrowseCtrl.h"
#include "ui/report/BrowseFilesDlg.h"
#include "ui/report/SyncResultsDlg.h"

namespace {

namespace fs = std::filesystem;
using enginerun::treeOf;

// Runs the events until `done` holds, ten seconds at most.
bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// Where the row of `name` is drawn in a list's current view.
QPoint rowCentre(FileBrowseCtrl& list, const std::string& name) {
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.entryAtRow(row)->name == name) {
            QAbstractItemView* view = list.currentView();
            return view->visualRect(list.model().index(row, FileListModel::NameColumn)).center();
        }
    }
    ADD_FAILURE() << "no row " << name;
    return {};
}

void doubleClickRow(FileBrowseCtrl& list, const std::string& name) {
    QWidget* viewport = list.currentView()->viewport();
    const QPoint at = rowCentre(list, name);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
}

class BrowseWindowTest : public enginerun::EngineRunFixture<testsupport::PyFtpdServer> {
  protected:
    void SetUp() override {
        EngineRunFixture::SetUp();
        setMessagePump(&pump_);
    }
    void TearDown() override {
        setMessagePump(nullptr);
        EngineRunFixture::TearDown();
    }
    QtMessagePump pump_;
};

TEST_F(BrowseWindowTest, AFolderRemovedInTheShownExplorerViewIsNotUploaded) {
    const fs::path local = localFolder("site");
    enginerun::makeTree(local, {{"index.html", "home"},
                                {"news/a.html", "a"},
                                {"news/old/b.html", "b"},
                                {"css/site.css", "body {}"}});
    const fs::path server = serverFolder("www");
    const std::string www = server_.remote("www") + "/";

    bool browsed = false;
    view_.editPlan = [&](PlanForReview& plan) {
        SyncResultsDlg review(plan);
        review.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&review));
        // The explorer view opens modally; the person works in it once it is on the screen.
        QTimer::singleShot(0, [&] {
            auto* browse = qobject_cast<BrowseFilesDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(browse, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(browse));
            ASSERT_TRUE(waitUntil([browse] { return browse->list().rowCount() > 0; }));
            FileBrowseCtrl& list = browse->list();
            while (list.currentFolder()->fullPath() + "/" != www && list.rowCount() > 0) {
                doubleClickRow(list, list.entryAtRow(0)->name);  // down the only folder
            }
            ASSERT_EQ(browse->findChild<QLineEdit*>("currentDirectoryEdit")->text().toStdString(),
                      www);
            QTest::mouseClick(list.currentView()->viewport(), Qt::LeftButton, {},
                              rowCentre(list, "news"));
            QTest::mouseClick(browse->findChild<QPushButton*>("removeButton"), Qt::LeftButton);
            EXPECT_EQ(browse->tree().itemOf(www + "news/"), nullptr);
            browsed = true;
            QTest::mouseClick(
                browse->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok),
                Qt::LeftButton);
        });
        QTest::mouseClick(review.findChild<QPushButton*>("browseButton"), Qt::LeftButton);
        QTest::mouseClick(
            review.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok),
            Qt::LeftButton);
        view_.reviewAnswer = review.result() == QDialog::Accepted;
    };
    Profile profile = silentProfile(local, "www");
    profile.silent_mode = false;
    profile.check_actions = true;
    openAndRun(profile);

    EXPECT_TRUE(browsed);
    ASSERT_EQ(view_.reports.size(), 1u) << prompterMessages();
    EXPECT_EQ(treeOf(server),
              (std::map<std::string, std::string>{
                  {"index.html", "home"}, {"css", "<folder>"}, {"css/site.css", "body {}"}}));
}

// A list and its tree as a browse window holds them: the tree's choice moves the list.
class FtpPane final : public QWidget, public BrowseListener {
  public:
    FtpPane() : tree(*this, this), list(selection, *this, true, this) {
        auto* layout = new QHBoxLayout(this);
        layout->addWidget(&tree, 1);
        layout->addWidget(&list, 2);
        resize(800, 420);
        connect(&tree, &FolderBrowseCtrl::folderSelected, this, [this] {
            const FileEntryPtr folder = tree.selectedFolder();
            if (folder && FileBrowseCtrl::listingPathOf(*folder) !=
                              FileBrowseCtrl::listingPathOf(*list.currentFolder())) {
                list.setDirectory(folder->childFolderPath());
            }
        });
    }
    void directoryChanged() override {}
    void showStatus(const std::string&) override {}
    void folderRemoved(const FileEntryPtr& folder) override { tree.removeFolder(folder); }
    void folderAdded(const FileEntryPtr& folder) override { tree.addFolder(folder); }
    void currentPathChanged(const std::string&) override {}
    void folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) override {
        tree.renameFolder(oldFolder, newFolder);
    }

    std::vector<FileEntryPtr> selection;
    FtpFolderBrowseCtrl tree;
    FtpFileBrowseCtrl list;
};

TEST_F(BrowseWindowTest, TheFtpListIsWorkedWithTheMouseAndTheKeys) {
    const fs::path site = serverFolder("site");
    enginerun::makeTree(site, {{"docs/readme.txt", "read me"},
                               {"docs/old.txt", "old"},
                               {"index.html", "home"},
                               {"pics/", ""}});
    ASSERT_TRUE(connection_->connectFtp());
    const std::string top = server_.remote("site") + "/";
    FtpPane pane;
    pane.tree.setConnection(connection_);
    pane.list.setConnection(connection_);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    pane.tree.initialise(top, top);
    pane.list.initialise();
    pane.list.setViewStyle(FileBrowseCtrl::Report);
    ASSERT_TRUE(pane.list.setDirectory(top));

    doubleClickRow(pane.list, "docs");
    ASSERT_TRUE(waitUntil([&pane] { return pane.list.currentFolder()->name == "docs"; }));

    // Delete on the selected file, answered Yes by the scripted person.
    QTest::mouseClick(pane.list.currentView()->viewport(), Qt::LeftButton, {},
                      rowCentre(pane.list, "old.txt"));
    QTest::keyClick(pane.list.currentView(), Qt::Key_Delete);
    EXPECT_FALSE(fs::exists(site / "docs" / "old.txt"));

    // F2, a new name, Enter: renamed on the server once the editor has closed.
    QTest::mouseClick(pane.list.currentView()->viewport(), Qt::LeftButton, {},
                      rowCentre(pane.list, "readme.txt"));
    QTest::keyClick(pane.list.currentView(), Qt::Key_F2);
    auto* editor = pane.list.currentView()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "readme.txt");
    editor->selectAll();
    QTest::keyClicks(editor, "README.md");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&site] { return fs::exists(site / "docs" / "README.md"); }));
    EXPECT_FALSE(fs::exists(site / "docs" / "readme.txt"));

    // A click on a folder of the tree shows it in the list.
    QTreeWidgetItem* pics = pane.tree.itemOf(top + "pics/");
    ASSERT_NE(pics, nullptr);
    QTest::mouseClick(pane.tree.viewport(), Qt::LeftButton, {},
                      pane.tree.visualItemRect(pics).center());
    EXPECT_TRUE(waitUntil([&pane] { return pane.list.currentFolder()->name == "pics"; }));
    EXPECT_EQ(pane.list.rowCount(), 0);
    EXPECT_TRUE(prompter_.messages.empty()) << prompter_.messages.front();
}

}  // namespace
