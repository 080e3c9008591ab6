// The list and the tree of an FTP folder against real servers (pyftpdlib, and vsftpd, which
// lists by LIST): browsing, create folder, rename, and deletes with their questions, a whole
// tree at once and a Stop in the middle.

#include <filesystem>
#include <map>

#include "gui/browse/BrowseTestSupport.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/ConnectionDetails.h"
#include "ui/browse/DirNameDlg.h"
#include "ui/browse/FileListModel.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/browse/FtpFolderBrowseCtrl.h"

namespace browsetest {
namespace {

namespace fs = std::filesystem;

template <typename Server>
class FtpListTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        ASSERT_TRUE(server_.start()) << server_.error();
        site_ = server_.root() / "site";
        fs::create_directories(site_);
        connection_ = std::make_shared<ConnectionDetails>();
        connection_->name = "Site";
        connection_->server = server_.host();
        connection_->port = server_.port();
        connection_->user = server_.user();
        connection_->password = server_.password();
        connection_->passive = true;
        list_ = std::make_unique<FtpFileBrowseCtrl>(selection_, listener_, true);
        list_->setConnection(connection_);
        list_->initialise();
    }
    void TearDown() override {
        list_.reset();
        connection_->disconnectFtp();
        BrowseTest::TearDown();
    }

    void put(const std::string& relative, const std::string& bytes = "x") {
        fs::create_directories((site_ / relative).parent_path());
        testsupport::writeFile(site_ / relative, bytes);
    }
    std::string remote(const std::string& relative) const {
        return server_.remote("site" + (relative.empty() ? "" : "/" + relative));
    }
    void connectAndShowSite() {
        ASSERT_TRUE(connection_->connectFtp()) << lastErrorText();
        ASSERT_TRUE(list_->setDirectory(remote("") + "/"));
    }
    // Files below the site, by relative path.
    int filesBelow(const fs::path& folder) const {
        int count = 0;
        for (const auto& item : fs::recursive_directory_iterator(folder)) {
            count += item.is_regular_file() ? 1 : 0;
        }
        return count;
    }

    Server server_;
    fs::path site_;
    std::shared_ptr<ConnectionDetails> connection_;
    std::unique_ptr<FtpFileBrowseCtrl> list_;
};

struct ServerNames {
    template <typename T>
    static std::string GetName(int) {
        return std::is_same_v<T, testsupport::PyFtpdServer> ? "pyftpdlib" : "vsftpd";
    }
};
using Servers = ::testing::Types<testsupport::PyFtpdServer, testsupport::VsftpdServer>;
TYPED_TEST_SUITE(FtpListTest, Servers, ServerNames);

TYPED_TEST(FtpListTest, DeleteWhileDisconnectedSaysSoAndAsksNothing) {
    this->put("a.txt");
    this->selection_ = {FileEntry::fromPath(this->remote("a.txt"))};
    EXPECT_FALSE(this->list_->deleteItem());
    EXPECT_EQ(this->prompter_.messages,
              std::vector<std::string>{"You are not currently connected to an FTP server"});
    EXPECT_TRUE(this->prompter_.questions.empty());
    EXPECT_EQ(this->lastLogLine(),
              "FtpFileBrowseCtrl::deleteItem: You are not currently "
              "connected to an FTP server");
    EXPECT_TRUE(fs::exists(this->site_ / "a.txt"));
}

TYPED_TEST(FtpListTest, ARecursiveDeleteRemovesTheWholeTree) {
    this->put("tree/one.txt");
    this->put("tree/two.txt", std::string(70000, 'b'));
    this->put("tree/sub/three.txt");
    this->put("tree/sub/deeper/four.txt");
    fs::create_directories(this->site_ / "tree" / "empty");
    this->put("other.txt");
    this->connectAndShowSite();
    selectNamed(*this->list_, {"tree"});
    this->prompter_.answers = {ConfirmAnswer::Yes};
    EXPECT_TRUE(this->list_->deleteItem());
    ASSERT_EQ(this->prompter_.questions.size(), 1u);
    EXPECT_EQ(this->prompter_.questions[0].caption, "Delete Folder");
    EXPECT_EQ(this->prompter_.questions[0].line1,
              "Delete folder and all of its contents: " + this->remote("tree"));
    EXPECT_FALSE(fs::exists(this->site_ / "tree"));
    EXPECT_TRUE(fs::exists(this->site_ / "other.txt"));
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompter_.messages.front();
    EXPECT_EQ(rowNames(*this->list_), std::vector<std::string>{"other.txt"});
    ASSERT_EQ(this->listener_.removed.size(), 1u);
    EXPECT_EQ(this->listener_.removed[0]->name, "tree");
}

TYPED_TEST(FtpListTest, StopInTheMiddleOfARecursiveDeleteLeavesTheRestAndSaysSo) {
    for (int i = 0; i < 6; ++i) {
        this->put("tree/f" + std::to_string(i) + ".txt");
        this->put("tree/sub/g" + std::to_string(i) + ".txt");
    }
    this->connectAndShowSite();
    int deleting = 0;
    this->listener_.onStatus = [&deleting](const std::string& status) {
        if (status.rfind("Deleting file: ", 0) == 0 && ++deleting == 4) {
            requestStop();  // the Stop button, pressed while the fourth file goes
        }
    };
    selectNamed(*this->list_, {"tree"});
    this->prompter_.answers = {ConfirmAnswer::Yes};
    EXPECT_FALSE(this->list_->deleteItem());
    const int left = this->filesBelow(this->site_ / "tree");
    EXPECT_GT(left, 0);
    EXPECT_LT(left, 12);
    EXPECT_GE(left, 12 - 4);
    EXPECT_EQ(this->prompter_.messages,
              std::vector<std::string>{"Could not delete folder: " + this->remote("tree") +
                                       "\nStopped by the user"});
    EXPECT_FALSE(stopRequested.load());
    EXPECT_TRUE(this->listener_.removed.empty());
    // The list shows what is left, and the connection works on.
    EXPECT_EQ(rowNames(*this->list_), std::vector<std::string>{"tree"});
}

TYPED_TEST(FtpListTest, NoToAllOnTheFirstFileSkipsTheLaterFilesButStillAsksForFolders) {
    this->put("a.txt");
    this->put("b.txt");
    this->put("keep/k.txt");
    this->put("gone/g.txt");
    this->connectAndShowSite();
    this->list_->sortByColumn(FileListModel::NameColumn);  // descending: files first
    selectNamed(*this->list_, {"b.txt", "a.txt", "keep", "gone"});
    this->prompter_.answers = {ConfirmAnswer::NoToAll, ConfirmAnswer::No, ConfirmAnswer::Yes};
    EXPECT_TRUE(this->list_->deleteItem());
    EXPECT_EQ(this->captions(),
              (std::vector<std::string>{"Delete File", "Delete Folder", "Delete Folder"}));
    EXPECT_TRUE(fs::exists(this->site_ / "a.txt"));
    EXPECT_TRUE(fs::exists(this->site_ / "b.txt"));
    EXPECT_TRUE(fs::exists(this->site_ / "keep" / "k.txt"));
    EXPECT_FALSE(fs::exists(this->site_ / "gone"));
}

TYPED_TEST(FtpListTest, BrowsingCreatingAndRenaming) {
    this->put("docs/readme.txt");
    this->put("a.txt", "first");
    this->put("b.txt", "second");
    ASSERT_TRUE(this->connection_->connectFtp());
    ASSERT_TRUE(this->connection_->changeDirectory(this->remote("") + "/"));
    ASSERT_TRUE(this->list_->setDirectory(""));
    EXPECT_EQ(this->list_->currentFolder()->fullPath(), this->remote(""));
    EXPECT_EQ(rowNames(*this->list_), (std::vector<std::string>{"docs", "a.txt", "b.txt"}));
    EXPECT_EQ(this->listener_.paths.back(), this->remote("") + "/");

    selectNamed(*this->list_, {"docs"});
    this->list_->changeDirToItem(rowNamed(*this->list_, "docs"));
    EXPECT_EQ(rowNames(*this->list_), std::vector<std::string>{"readme.txt"});
    ASSERT_TRUE(this->list_->upDirectory());
    EXPECT_EQ(this->list_->currentFolder()->fullPath(), this->remote(""));

    setModalRunner([](QDialog& dialog) {
        dynamic_cast<DirNameDlg&>(dialog).setDirectoryName("made");
        return int(QDialog::Accepted);
    });
    ASSERT_TRUE(this->list_->createDirectory());
    EXPECT_TRUE(fs::is_directory(this->site_ / "made"));
    ASSERT_EQ(this->listener_.added.size(), 1u);
    EXPECT_EQ(this->listener_.added[0]->fullPath(), this->remote("made"));
    EXPECT_GE(rowNamed(*this->list_, "made"), 0);

    selectNamed(*this->list_, {"a.txt"});
    this->list_->finishRename(rowNamed(*this->list_, "a.txt"), "b.txt");
    EXPECT_EQ(testsupport::readFile(this->site_ / "b.txt"), "second") << "never replaced";
    ASSERT_FALSE(this->prompter_.messages.empty());
    EXPECT_EQ(this->lastMessage(), "Failed to rename: " + this->remote("a.txt") +
                                       "\nA file or folder of that name already "
                                       "exists");
    selectNamed(*this->list_, {"a.txt"});
    this->list_->finishRename(rowNamed(*this->list_, "a.txt"), "c.txt");
    EXPECT_EQ(testsupport::readFile(this->site_ / "c.txt"), "first");
    EXPECT_GE(rowNamed(*this->list_, "c.txt"), 0);
}

TYPED_TEST(FtpListTest, TheListKeepsToItsFolderWhereverTheTreeTookTheServer) {
    this->put("docs/readme.txt");
    this->put("docs/deep/x.txt");
    this->put("index.html");
    this->connectAndShowSite();
    FtpFolderBrowseCtrl tree(this->listener_);
    tree.setConnection(this->connection_);
    // Opening docs/deep in the tree moves the server's current folder there.
    tree.initialise(this->remote("docs/deep") + "/", this->remote("") + "/");
    ASSERT_EQ(this->connection_->currentDirectory, this->remote("docs/deep") + "/");
    ASSERT_TRUE(this->list_->refresh());
    EXPECT_EQ(rowNames(*this->list_), (std::vector<std::string>{"docs", "index.html"}));

    selectNamed(*this->list_, {"docs"});
    ASSERT_TRUE(this->list_->changeDirectory());
    tree.initialise(this->remote("docs/deep") + "/", this->remote("") + "/");
    ASSERT_TRUE(this->list_->upDirectory());
    EXPECT_EQ(this->list_->currentFolder()->fullPath(), this->remote(""));
    EXPECT_EQ(rowNames(*this->list_), (std::vector<std::string>{"docs", "index.html"}));
}

TYPED_TEST(FtpListTest, TheTreeListsFoldersOnDemandAndReportsOneThatVanished) {
    this->put("a/b/c.txt");
    this->put("a/d/e.txt");
    ASSERT_TRUE(this->connection_->connectFtp());
    FtpFolderBrowseCtrl tree(this->listener_);
    tree.setConnection(this->connection_);
    // Rooted at the site: vsftpd cannot list the private temporary folders above it.
    tree.initialise(this->remote("a") + "/", this->remote("") + "/");
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(tree.topLevelItem(0)->text(0).toStdString(), this->remote(""));
    ASSERT_NE(tree.selectedFolder(), nullptr);

    EXPECT_EQ(tree.selectedFolder()->fullPath(), this->remote("a"));
    QTreeWidgetItem* a = tree.currentItem();
    EXPECT_EQ(FolderBrowseCtrl::stateOf(a), 7) << "the open form of a plain folder";

    a->setExpanded(true);
    ASSERT_EQ(a->childCount(), 2);
    fs::remove_all(this->site_ / "a" / "d");
    QTreeWidgetItem* d = a->child(1);
    d->setExpanded(true);
    ASSERT_EQ(this->prompter_.messages.size(), 1u);
    EXPECT_EQ(this->prompter_.messages.front().rfind(
                  "Could not change directory to: " + this->remote("a/d") + "\n", 0),
              0u)
        << this->prompter_.messages.front();
    EXPECT_EQ(a->childCount(), 2);
    EXPECT_EQ(d->childCount(), 0);

    tree.setCurrentItem(a->child(0));
    EXPECT_EQ(FolderBrowseCtrl::stateOf(a), 1) << "closed again";
    tree.removeFolder(tree.entryOf(a->child(0)));
    EXPECT_EQ(a->childCount(), 1);
}

}  // namespace
}  // namespace browsetest
