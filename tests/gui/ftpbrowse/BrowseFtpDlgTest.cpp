// "Browse FTP Connection" against real servers (pyftpdlib, and vsftpd, which lists by LIST):
// opening connects and shows the start folder with the excluded entries marked, Add and Remove
// on a copy handed back only on OK, the commands, the tree and the list in step, and what a
// start folder that has gone does.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <map>

#include "gui/browse/BrowseTestSupport.h"
#include "gui/ftpbrowse/FtpBrowseSupport.h"
#include "profiles/ExclusionSet.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/RetryDisplay.h"
#include "ui/browse/BrowseFtpDlg.h"
#include "ui/browse/DirNameDlg.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/browse/FtpFolderBrowseCtrl.h"
#include "ui/connections/ConnectionManagerDlg.h"
#include "ui/icons/ImageLists.h"
#include "ui/mainwindow/ConnectingDlg.h"

namespace browsetest {
namespace {

namespace fs = std::filesystem;

template <typename Server>
class BrowseFtpDlgTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        ASSERT_TRUE(server_.start()) << server_.error();
        ftpbrowsetest::letTheTreeWalkDown(server_);
        site_ = server_.root() / "site";
        put("index.html");
        put("notes.txt");
        put("old/page.html");
        put("pics/logo.png");
        connection_ = ftpbrowsetest::siteConnection(server_);
        connections_ = {connection_};
        active_ = connection_;
        // The dialogs the browse dialog opens, worked as the person would.
        setModalRunner([this](QDialog& dialog) {
            if (auto* connecting = qobject_cast<ConnectingDlg*>(&dialog)) {
                ++connectingDialogs_;
                connecting->OnTimer();
                return connecting->result();
            }
            if (auto* manager = qobject_cast<ConnectionManagerDlg*>(&dialog)) {
                ++managers_;
                return onManager_ ? onManager_(*manager) : int(QDialog::Rejected);
            }
            if (auto* name = qobject_cast<DirNameDlg*>(&dialog)) {
                name->setDirectoryName(newFolderName_);
                return int(QDialog::Accepted);
            }
            ADD_FAILURE() << "unexpected dialog " << dialog.windowTitle().toStdString();
            return int(QDialog::Rejected);
        });
    }
    void TearDown() override {
        dialog_.reset();
        connection_->disconnectFtp();
        BrowseTest::TearDown();
    }

    void put(const std::string& relative) {
        fs::create_directories((site_ / relative).parent_path());
        testsupport::writeFile(site_ / relative, "x");
    }
    std::string remote(const std::string& relative) const {
        return server_.remote("site" + (relative.empty() ? "" : "/" + relative));
    }
    // The dialog as it is once its timer has fired.
    BrowseFtpDlg& open(const std::string& startFolder, ExclusionSet* exclusions) {
        // One at a time, as modal dialogs are: each gives the retry display back as it goes.
        dialog_.reset();
        dialog_ = std::make_unique<BrowseFtpDlg>(connections_, active_, startFolder, exclusions);
        dialog_->OnTimer();
        return *dialog_;
    }
    template <typename Widget = QPushButton>
    Widget& child(const char* name) {
        auto* widget = dialog_->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }
    QString text(const char* name) { return child<QLabel>(name).text(); }
    QString edit(const char* name) { return child<QLineEdit>(name).text(); }
    // Each row's action code, checked against the image the row shows.
    std::map<std::string, int> marks() {
        std::map<std::string, int> found;
        FtpFileBrowseCtrl& list = dialog_->list();
        for (int row = 0; row < list.rowCount(); ++row) {
            const FileEntryPtr entry = list.entryAtRow(row);
            EXPECT_EQ(list.rowImage(row), ImageLists::entryImageIndex(*entry, true)) << entry->name;
            found[entry->name] = static_cast<int>(entry->action);
        }
        return found;
    }
    static std::vector<std::string> linesOf(const std::vector<FileEntryPtr>& entries) {
        std::vector<std::string> lines;
        for (const FileEntryPtr& entry : entries) {
            lines.push_back(ExclusionSet::displayPath(*entry));
        }
        return lines;
    }
    // The profile's FTP set: the folder old/ and every .txt file.
    ExclusionSet profileSet() {
        ExclusionSet set;
        set.addPath(remote("old") + "/");
        set.addWildcard("*.txt");
        set.sort();
        return set;
    }

    Server server_;
    fs::path site_;
    std::shared_ptr<ConnectionDetails> connection_;
    ConnectionList connections_;
    std::shared_ptr<ConnectionDetails> active_;
    std::unique_ptr<BrowseFtpDlg> dialog_;
    std::string newFolderName_ = "made";
    int connectingDialogs_ = 0;
    int managers_ = 0;
    std::function<int(ConnectionManagerDlg&)> onManager_;
};

using Servers = ::testing::Types<testsupport::PyFtpdServer, testsupport::VsftpdServer>;
TYPED_TEST_SUITE(BrowseFtpDlgTest, Servers, testsupport::ServerKindNames);

TYPED_TEST(BrowseFtpDlgTest, OpeningConnectsAndShowsTheStartFolderWithItsExclusionsMarked) {
    ExclusionSet set = this->profileSet();
    BrowseFtpDlg& dialog = this->open(this->remote("") + "/", &set);
    EXPECT_EQ(this->connectingDialogs_, 1);
    EXPECT_TRUE(this->connection_->isConnected());
    EXPECT_EQ(this->edit("currentConnectionEdit"), "Site");
    EXPECT_EQ(this->text("connectionStateLabel"), "Connected");
    EXPECT_EQ(this->child("connectButton").text(), "Disconnect");
    EXPECT_EQ(this->edit("currentDirectoryEdit").toStdString(), this->remote("") + "/");
    EXPECT_EQ(this->text("statusLabel"), "");
    EXPECT_EQ(this->marks(), (std::map<std::string, int>{
                                 {"index.html", 0}, {"notes.txt", 2}, {"old", 2}, {"pics", 0}}));
    // The tree runs from the home folder down to the start folder, which it selects.
    const FileEntryPtr inTree = dialog.tree().selectedFolder();
    ASSERT_NE(inTree, nullptr);
    EXPECT_EQ(dialog.tree().pathOf(*inTree), this->remote("") + "/");
    EXPECT_NE(dialog.tree().itemOf(this->remote("pics") + "/"), nullptr);
    // Nothing selected: nothing to delete or exclude.
    for (const char* name : {"deleteButton", "addButton", "removeButton"}) {
        EXPECT_FALSE(this->child(name).isEnabled()) << name;
    }
    EXPECT_TRUE(this->child("upButton").isEnabled());
    EXPECT_TRUE(this->template child<QWidget>("exclusionsRow").isVisibleTo(&dialog));
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompter_.messages.front();
}

TYPED_TEST(BrowseFtpDlgTest, AddAndRemoveWorkOnACopyThatOnlyOkHandsBack) {
    for (const bool ok : {false, true}) {
        ExclusionSet set = this->profileSet();
        BrowseFtpDlg& dialog = this->open(this->remote("") + "/", &set);
        selectNamed(dialog.list(), {"index.html", "pics"});
        EXPECT_TRUE(this->child("addButton").isEnabled());
        dialog.OnAdd();
        selectNamed(dialog.list(), {"old"});
        dialog.OnRemove();
        EXPECT_EQ(this->marks(),
                  (std::map<std::string, int>{
                      {"index.html", 2}, {"notes.txt", 2}, {"old", 0}, {"pics", 2}}));
        // Nothing reaches the caller before OK.
        EXPECT_EQ(this->linesOf(set.exactEntries()),
                  std::vector<std::string>{this->remote("old") + "/"});
        if (ok) {
            dialog.accept();
            EXPECT_EQ(
                this->linesOf(set.exactEntries()),
                (std::vector<std::string>{this->remote("index.html"), this->remote("pics") + "/"}));
        } else {
            dialog.reject();
            EXPECT_EQ(this->linesOf(set.exactEntries()),
                      std::vector<std::string>{this->remote("old") + "/"});
        }
        EXPECT_EQ(this->linesOf(set.wildcardEntries()), std::vector<std::string>{"*.txt"});
        // The excluded entries are the set's own: a later listing cannot mark them.
        for (const FileEntryPtr& entry : set.exactEntries()) {
            EXPECT_EQ(entry->action, EntryAction::None);
        }
    }
}

TYPED_TEST(BrowseFtpDlgTest, OkExcludesTheSelectedEntriesAndNamesTheChosenFolder) {
    ExclusionSet set;
    BrowseFtpDlg& dialog = this->open(this->remote("") + "/", &set);
    selectNamed(dialog.list(), {"index.html", "notes.txt"});
    EXPECT_EQ(this->edit("currentDirectoryEdit").toStdString(), this->remote("") + "/");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(this->linesOf(set.exactEntries()),
              (std::vector<std::string>{this->remote("index.html"), this->remote("notes.txt")}));

    // Without a set there is nothing to mark: one folder selected is the folder chosen.
    BrowseFtpDlg& chooser = this->open(this->remote("") + "/", nullptr);
    EXPECT_FALSE(this->template child<QWidget>("exclusionsRow").isVisibleTo(&chooser));
    EXPECT_EQ(this->marks()["notes.txt"], 0);
    selectNamed(chooser.list(), {"pics"});
    EXPECT_EQ(this->edit("currentDirectoryEdit").toStdString(), this->remote("pics") + "/");
    chooser.accept();
    EXPECT_EQ(chooser.currentDirectory(), this->remote("pics") + "/");
    EXPECT_FALSE(chooser.connectionsChanged());
}

TYPED_TEST(BrowseFtpDlgTest, TheTreeAndTheListFollowEachOther) {
    BrowseFtpDlg& dialog = this->open(this->remote("") + "/", nullptr);
    FtpFolderBrowseCtrl& tree = dialog.tree();
    FtpFileBrowseCtrl& list = dialog.list();
    tree.setCurrentItem(tree.itemOf(this->remote("old") + "/"));
    EXPECT_EQ(rowNames(list), std::vector<std::string>{"page.html"});
    EXPECT_EQ(this->edit("currentDirectoryEdit").toStdString(), this->remote("old") + "/");

    dialog.OnUp();
    EXPECT_EQ(FileBrowseCtrl::listingPathOf(*list.currentFolder()), this->remote("") + "/");
    EXPECT_EQ(tree.pathOf(*tree.selectedFolder()), this->remote("") + "/");

    selectNamed(list, {"pics"});
    list.changeDirToItem(rowNamed(list, "pics"));
    EXPECT_EQ(rowNames(list), std::vector<std::string>{"logo.png"});
    EXPECT_EQ(tree.pathOf(*tree.selectedFolder()), this->remote("pics") + "/");
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompter_.messages.front();
}

TYPED_TEST(BrowseFtpDlgTest, CreateDeleteAndRefreshWorkOnTheServer) {
    BrowseFtpDlg& dialog = this->open(this->remote("") + "/", nullptr);
    dialog.OnCreatedir();
    EXPECT_TRUE(fs::is_directory(this->site_ / "made"));
    EXPECT_GE(rowNamed(dialog.list(), "made"), 0);
    EXPECT_NE(dialog.tree().itemOf(this->remote("made") + "/"), nullptr);

    selectNamed(dialog.list(), {"notes.txt"});
    EXPECT_TRUE(this->child("deleteButton").isEnabled());
    this->prompter_.answers = {ConfirmAnswer::Yes};
    dialog.OnDelete();
    EXPECT_FALSE(fs::exists(this->site_ / "notes.txt"));
    EXPECT_FALSE(this->child("deleteButton").isEnabled()) << "the selection went with it";

    this->put("later.txt");
    dialog.OnRefresh();
    EXPECT_GE(rowNamed(dialog.list(), "later.txt"), 0);
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompter_.messages.front();
}

TYPED_TEST(BrowseFtpDlgTest, DisconnectEmptiesTheTreeAndCreateDirThenSaysSo) {
    BrowseFtpDlg& dialog = this->open(this->remote("") + "/", nullptr);
    ASSERT_GT(dialog.tree().topLevelItemCount(), 0);
    dialog.OnConnect();
    EXPECT_FALSE(this->connection_->isConnected());
    EXPECT_EQ(dialog.tree().topLevelItemCount(), 0);
    EXPECT_EQ(dialog.list().rowCount(), 0);
    EXPECT_EQ(this->text("connectionStateLabel"), "Disconnected");
    EXPECT_EQ(this->child("connectButton").text(), "Connect");
    EXPECT_EQ(this->edit("currentConnectionEdit"), "Site");

    dialog.OnCreatedir();
    EXPECT_EQ(this->prompter_.messages,
              std::vector<std::string>{"You are not currently connected to an FTP server"});
    EXPECT_EQ(this->lastLogLine(),
              "BrowseFtpDlg::OnCreatedir: You are not currently connected to an FTP server");
    EXPECT_FALSE(fs::exists(this->site_ / "made"));
}

TYPED_TEST(BrowseFtpDlgTest, ConnectWithoutAConnectionOpensTheManagerAndShowsTheChosenOne) {
    auto other = std::make_shared<ConnectionDetails>(*this->connection_);
    other->name = "Other";
    this->connections_ = {other, this->connection_};
    this->active_ = nullptr;
    BrowseFtpDlg& dialog = this->open(this->remote("") + "/", nullptr);
    EXPECT_EQ(this->connectingDialogs_, 0) << "nothing to connect yet";
    EXPECT_EQ(this->edit("currentConnectionEdit"), "");
    EXPECT_EQ(this->text("connectionStateLabel"), "Disconnected");

    // Cancelled: nothing changes.
    dialog.OnConnect();
    EXPECT_EQ(this->managers_, 1);
    EXPECT_EQ(this->active_, nullptr);
    EXPECT_FALSE(dialog.connectionsChanged());

    this->onManager_ = [](ConnectionManagerDlg& manager) {
        auto& box = *manager.findChild<QComboBox*>("connectionCombo");
        box.setCurrentIndex(box.findText("Site"));
        manager.accept();
        return manager.result();
    };
    dialog.OnConnect();
    EXPECT_EQ(this->active_, this->connection_);
    EXPECT_TRUE(this->connection_->isConnected());
    EXPECT_EQ(this->connectingDialogs_, 1);
    EXPECT_TRUE(dialog.connectionsChanged()) << "the choice changed";
    EXPECT_EQ(this->edit("currentConnectionEdit"), "Site");
    EXPECT_EQ(this->text("connectionStateLabel"), "Connected");
    // After a change the list starts where the server is: where the login landed.
    const std::string login =
        this->server_.home() == "/" ? std::string("/") : this->server_.home() + "/";
    EXPECT_EQ(dialog.currentDirectory(), login);
    ASSERT_NE(dialog.tree().selectedFolder(), nullptr);
    EXPECT_EQ(dialog.tree().pathOf(*dialog.tree().selectedFolder()), login);
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompter_.messages.front();
}

TYPED_TEST(BrowseFtpDlgTest, AStartFolderThatHasGoneIsReportedOnceAndForgotten) {
    BrowseFtpDlg& dialog = this->open(this->remote("gone") + "/", nullptr);
    ASSERT_EQ(this->prompter_.messages.size(), 1u);
    EXPECT_EQ(this->prompter_.messages[0].rfind("Could not change directory\n", 0), 0u)
        << this->prompter_.messages[0];
    EXPECT_GT(this->prompter_.messages[0].size(),
              std::string("Could not change directory\n").size())
        << "the server's reason follows";
    EXPECT_EQ(this->lastLogLine().rfind(
                  "BrowseFtpDlg::OnTimer (set current dir): Could not change directory\n", 0),
              0u);
    // The top of the server's tree instead, and the gone folder is named nowhere.
    EXPECT_EQ(dialog.currentDirectory(), this->connection_->homeDirectory);
    EXPECT_EQ(FileBrowseCtrl::listingPathOf(*dialog.list().currentFolder()),
              this->connection_->homeDirectory);
}

TYPED_TEST(BrowseFtpDlgTest, TheRetryCountShowsWhileTheDialogIsOpen) {
    RetryDisplay* before = setRetryDisplay(nullptr);
    setRetryDisplay(before);
    {
        this->open(this->remote("") + "/", nullptr);
        commandState().retryCount = 2;
        updateRetryDisplay();
        settle(50);
        EXPECT_EQ(this->text("retriesLabel"), "Retries");
        EXPECT_EQ(this->text("retryCountLabel"), "2");
        commandState().retryCount = 0;
        updateRetryDisplay();
        settle(50);
        EXPECT_EQ(this->text("retriesLabel"), "");
        EXPECT_EQ(this->text("retryCountLabel"), "");
        this->dialog_.reset();
    }
    EXPECT_EQ(setRetryDisplay(before), before) << "the display of before is back";
}

}  // namespace
}  // namespace browsetest
