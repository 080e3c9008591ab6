// The list of a local folder on a real temporary tree: the four delete questions with their
// to-all memories, read-only files and folders, links, rename and create folder.

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "gui/browse/BrowseTestSupport.h"
#include "support/TempFolder.h"
#include "ui/browse/DirNameDlg.h"
#include "ui/browse/FileListModel.h"
#include "ui/browse/SysFileBrowseCtrl.h"

namespace browsetest {
namespace {

namespace fs = std::filesystem;

class LocalListTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        root_ = work_.path() / "site";
        fs::create_directories(root_);
        list_ = std::make_unique<SysFileBrowseCtrl>(selection_, listener_, true);
        list_->initialise();
    }

    void put(const std::string& relative, const std::string& bytes = "x") {
        fs::create_directories((root_ / relative).parent_path());
        testsupport::writeFile(root_ / relative, bytes);
    }
    static void makeReadOnly(const fs::path& path) {
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
    }
    void show() { ASSERT_TRUE(list_->setDirectory(root_.string())); }
    std::string path(const std::string& relative) const { return (root_ / relative).string(); }

    testsupport::TempFolder work_;
    fs::path root_;
    std::unique_ptr<SysFileBrowseCtrl> list_;
};

TEST_F(LocalListTest, NoToAllOnTheFirstFileSkipsTheLaterFilesButStillAsksForFolders) {
    put("a.txt");
    put("b.txt");
    put("c.txt");
    put("keep/inner.txt");
    put("gone/inner.txt");
    show();
    // Descending names: the files come before the folders.
    list_->sortByColumn(FileListModel::NameColumn);
    selectNamed(*list_, {"c.txt", "b.txt", "a.txt", "keep", "gone"});
    prompter_.answers = {ConfirmAnswer::NoToAll, ConfirmAnswer::No, ConfirmAnswer::Yes};
    EXPECT_TRUE(list_->deleteItem());
    EXPECT_EQ(captions(),
              (std::vector<std::string>{"Delete File", "Delete Folder", "Delete Folder"}));
    EXPECT_EQ(prompter_.questions[0].line1, "Delete file: " + path("c.txt"));
    EXPECT_EQ(prompter_.questions[2].line1,
              "Delete folder and all of its contents: " + path("gone"));
    EXPECT_TRUE(fs::exists(root_ / "a.txt"));
    EXPECT_TRUE(fs::exists(root_ / "c.txt"));
    EXPECT_TRUE(fs::exists(root_ / "keep" / "inner.txt"));
    EXPECT_FALSE(fs::exists(root_ / "gone"));
    ASSERT_EQ(listener_.removed.size(), 1u);
    EXPECT_EQ(listener_.removed.front()->name, "gone");
    EXPECT_TRUE(prompter_.messages.empty());

    // The memories last for one command: the next delete asks again.
    selectNamed(*list_, {"a.txt"});
    prompter_.answers = {ConfirmAnswer::Yes};
    list_->deleteItem();
    EXPECT_FALSE(fs::exists(root_ / "a.txt"));
    EXPECT_EQ(prompter_.questions.size(), 4u);
}

TEST_F(LocalListTest, AReadOnlyFileIsAskedAboutAsSuchAndDeleted) {
    put("locked.txt");
    put("open.txt");
    makeReadOnly(root_ / "locked.txt");
    put("docs/readme.txt");
    put("docs/locked.txt");
    makeReadOnly(root_ / "docs" / "locked.txt");
    fs::create_directories(root_ / "frozen" / "deeper");
    put("frozen/deeper/f.txt");
    makeReadOnly(root_ / "frozen");
    show();

    selectNamed(*list_, {"locked.txt"});
    prompter_.answers = {ConfirmAnswer::Yes};
    EXPECT_TRUE(list_->deleteItem());
    ASSERT_EQ(prompter_.questions.size(), 1u);
    EXPECT_EQ(prompter_.questions[0].caption, "Delete Read Only File");
    EXPECT_EQ(prompter_.questions[0].line1, "Delete Read Only file: " + path("locked.txt"));
    EXPECT_FALSE(fs::exists(root_ / "locked.txt"));
    EXPECT_TRUE(fs::exists(root_ / "open.txt"));

    // A folder holding one: the folder question, then the read-only one inside; the other
    // file goes without a question.
    selectNamed(*list_, {"docs"});
    prompter_.answers = {ConfirmAnswer::Yes, ConfirmAnswer::Yes};
    EXPECT_TRUE(list_->deleteItem());
    EXPECT_EQ(captions(), (std::vector<std::string>{"Delete Read Only File", "Delete Folder",
                                                    "Delete Read Only File"}));
    EXPECT_EQ(prompter_.questions[2].line1, "Delete Read Only file: " + path("docs/locked.txt"));
    EXPECT_FALSE(fs::exists(root_ / "docs"));

    // A read-only folder has its own question.
    selectNamed(*list_, {"frozen"});
    prompter_.answers = {ConfirmAnswer::Yes};
    EXPECT_TRUE(list_->deleteItem());
    EXPECT_EQ(prompter_.questions.back().caption, "Delete Read Only Folder");
    EXPECT_EQ(prompter_.questions.back().line1, "Delete Read Only folder: " + path("frozen"));
    EXPECT_FALSE(fs::exists(root_ / "frozen"));
    EXPECT_TRUE(prompter_.messages.empty()) << prompter_.messages.front();
}

TEST_F(LocalListTest, NoToAReadOnlyFileInsideKeepsItAndItsFolder) {
    put("docs/a.txt");
    put("docs/b.txt");
    put("docs/c.txt");
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        makeReadOnly(root_ / "docs" / name);
    }
    show();
    selectNamed(*list_, {"docs"});
    // Yes to the folder, No To All to the first read-only file inside.
    prompter_.answers = {ConfirmAnswer::Yes, ConfirmAnswer::NoToAll};
    EXPECT_TRUE(list_->deleteItem());
    EXPECT_EQ(captions(), (std::vector<std::string>{"Delete Folder", "Delete Read Only File"}));
    EXPECT_TRUE(fs::exists(root_ / "docs" / "b.txt"));
    EXPECT_TRUE(listener_.removed.empty());
    EXPECT_TRUE(prompter_.messages.empty()) << "the person chose to keep them";
}

TEST_F(LocalListTest, ALinkToAFolderGoesAsALinkAndWhatItPointsAtStays) {
    const fs::path outside = work_.path() / "outside";
    fs::create_directories(outside);
    testsupport::writeFile(outside / "precious.txt", "keep me");
    put("docs/a.txt");
    fs::create_directory_symlink(outside, root_ / "docs" / "linked");
    fs::create_directory_symlink(outside, root_ / "top-link");
    show();
    selectNamed(*list_, {"docs", "top-link"});
    prompter_.answers = {ConfirmAnswer::YesToAll};
    EXPECT_TRUE(list_->deleteItem());
    EXPECT_FALSE(fs::exists(root_ / "docs"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "top-link")));
    EXPECT_EQ(testsupport::readFile(outside / "precious.txt"), "keep me");
}

TEST_F(LocalListTest, RenameInPlaceNeverReplacesAnotherFile) {
    put("a.txt", "first");
    put("b.txt", "second");
    put("folder/inner.txt");
    show();
    selectNamed(*list_, {"a.txt"});
    list_->finishRename(rowNamed(*list_, "a.txt"), "b.txt");
    EXPECT_EQ(testsupport::readFile(root_ / "b.txt"), "second");
    EXPECT_EQ(testsupport::readFile(root_ / "a.txt"), "first");
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0],
              "Failed to rename: " + path("a.txt") + "\n" + std::strerror(EEXIST));

    selectNamed(*list_, {"folder"});
    list_->finishRename(rowNamed(*list_, "folder"), "renamed");
    EXPECT_TRUE(fs::exists(root_ / "renamed" / "inner.txt"));
    ASSERT_EQ(listener_.renamed.size(), 1u);
    EXPECT_EQ(listener_.renamed[0].second->fullPath(), path("renamed"));
    EXPECT_GE(rowNamed(*list_, "renamed"), 0);
}

TEST_F(LocalListTest, CreateFolderAsksForTheNameAndRefusesOneInUse) {
    put("existing/inner.txt");
    show();
    std::string typed = "new folder";
    setModalRunner([&typed](QDialog& dialog) {
        auto& names = dynamic_cast<DirNameDlg&>(dialog);
        EXPECT_EQ(names.windowTitle(), "Directory Name");
        names.setDirectoryName(typed);
        return int(QDialog::Accepted);
    });
    EXPECT_TRUE(list_->createDirectory());
    EXPECT_TRUE(fs::is_directory(root_ / "new folder"));
    EXPECT_GE(rowNamed(*list_, "new folder"), 0);

    typed = "existing";
    EXPECT_FALSE(list_->createDirectory());
    EXPECT_EQ(lastMessage(),
              "Could not create directory: " + path("existing") + "\n" + std::strerror(EEXIST));
    EXPECT_TRUE(fs::exists(root_ / "existing" / "inner.txt"));

    setModalRunner([](QDialog&) { return int(QDialog::Rejected); });
    EXPECT_FALSE(list_->createDirectory());
    EXPECT_EQ(prompter_.messages.size(), 1u) << "Cancel says nothing";
}

TEST_F(LocalListTest, ListingsMoveThroughTheFoldersAndReportWhatCannotBeRead) {
    put("a/b/c.txt");
    show();
    EXPECT_EQ(listener_.paths.back(), root_.string() + "/");
    selectNamed(*list_, {"a"});
    ASSERT_TRUE(list_->changeDirectory());
    selectNamed(*list_, {"b"});
    ASSERT_TRUE(list_->changeDirectory());
    EXPECT_EQ(list_->rowCount(), 1);
    EXPECT_EQ(list_->entryAtRow(0)->name, "c.txt");
    ASSERT_TRUE(list_->upDirectory());
    EXPECT_EQ(list_->currentFolder()->fullPath(), path("a"));

    EXPECT_FALSE(list_->setDirectory(path("missing")));
    EXPECT_EQ(lastLogLine(), "SysFileBrowseCtrl::setDirectory: Failed to read directory: " +
                                 path("missing") + "/\n" + std::strerror(ENOENT));
    EXPECT_EQ(list_->currentFolder()->fullPath(), path("a")) << "the list stays where it was";
    EXPECT_EQ(listener_.statuses.back(), "");
}

}  // namespace
}  // namespace browsetest
