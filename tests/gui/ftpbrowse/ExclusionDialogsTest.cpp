// The exclusion dialogs on the set they are given: the local one with its lost entries, Remove
// that builds the list again, the wildcard entry with its folder chooser and the local browser;
// the FTP one with Browse and Lost Files against real servers.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <filesystem>
#include <functional>

#include "gui/browse/BrowseTestSupport.h"
#include "gui/ftpbrowse/FtpBrowseSupport.h"
#include "profiles/ExclusionSet.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/ConnectionDetails.h"
#include "ui/browse/BrowseFtpDlg.h"
#include "ui/browse/BrowseLocalDlg.h"
#include "ui/browse/CTreeFileCtrl.h"
#include "ui/browse/FolderDlg.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/browse/SysFileBrowseCtrl.h"
#include "ui/connections/ConnectionManagerDlg.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/settings/ExclusionLists.h"
#include "ui/settings/FtpExclusionsDlg.h"
#include "ui/settings/LocalExclusionsDlg.h"
#include "ui/settings/WildcardDlg.h"

namespace browsetest {
namespace {

namespace fs = std::filesystem;

template <typename Widget = QPushButton>
Widget& child(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return *widget;
}

std::vector<std::string> lines(QWidget& dialog, const char* box) {
    std::vector<std::string> all;
    auto& list = child<QListWidget>(dialog, box);
    for (int row = 0; row < list.count(); ++row) {
        all.push_back(list.item(row)->text().toStdString());
    }
    return all;
}

std::vector<std::string> selectedLines(QWidget& dialog, const char* box) {
    std::vector<std::string> all;
    auto& list = child<QListWidget>(dialog, box);
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->isSelected()) {
            all.push_back(list.item(row)->text().toStdString());
        }
    }
    return all;
}

void selectLinesNamed(QWidget& dialog, const char* box, const std::vector<std::string>& wanted) {
    selectLines(child<QListWidget>(dialog, box), wanted);
}

std::vector<std::string> linesOf(const std::vector<FileEntryPtr>& entries) {
    std::vector<std::string> all;
    for (const FileEntryPtr& entry : entries) {
        all.push_back(ExclusionSet::displayPath(*entry));
    }
    return all;
}

// The dialogs a dialog opens, worked by the test through runModal.
class ExclusionDialogsTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        exclusionBrowsePath().clear();
        setModalRunner([this](QDialog& dialog) {
            opened_.push_back(dialog.metaObject()->className());
            if (onDialog_) {
                return onDialog_(dialog);
            }
            ADD_FAILURE() << "unexpected dialog " << opened_.back();
            return int(QDialog::Rejected);
        });
    }
    void TearDown() override {
        exclusionBrowsePath().clear();
        BrowseTest::TearDown();
    }

    std::function<int(QDialog&)> onDialog_;
    std::vector<std::string> opened_;
};

// ---- Local Exclusion Files ----

class LocalExclusionsTest : public ExclusionDialogsTest {
  protected:
    void SetUp() override {
        ExclusionDialogsTest::SetUp();
        for (const char* file : {"index.html", "a.txt", "b.txt", "logs/day.log", "old/x.html"}) {
            fs::create_directories((site_ / file).parent_path());
            testsupport::writeFile(site_ / file, "x");
        }
    }
    std::string at(const std::string& relative) const { return (site_ / relative).string(); }

    testsupport::TempFolder work_{"kelvane-exclusions"};
    fs::path site_ = work_.path() / "site";
};

TEST_F(LocalExclusionsTest, LostFilesSelectsWhatIsGoneAndRemoveDropsIt) {
    ExclusionSet set;
    for (const std::string& path :
         {at("index.html"), at("gone.html"), at("old") + "/", at("missing") + "/"}) {
        set.addPath(path);
    }
    set.addWildcard("*.bak");
    set.sort();
    LocalExclusionsDlg dialog(set);
    EXPECT_EQ(lines(dialog, "exactList"),
              (std::vector<std::string>{at("gone.html"), at("index.html"), at("missing") + "/",
                                        at("old") + "/"}));
    EXPECT_EQ(lines(dialog, "wildcardList"), std::vector<std::string>{"*.bak"});
    EXPECT_TRUE(child(dialog, "lostFilesButton").isVisibleTo(&dialog));
    EXPECT_FALSE(child(dialog, "removeButton").isEnabled());
    EXPECT_FALSE(child(dialog, "removeWildcardButton").isEnabled());

    dialog.OnLostFiles();
    EXPECT_EQ(selectedLines(dialog, "exactList"),
              (std::vector<std::string>{at("gone.html"), at("missing") + "/"}));
    EXPECT_TRUE(child(dialog, "removeButton").isEnabled());
    dialog.OnRemove();
    EXPECT_EQ(linesOf(set.exactEntries()),
              (std::vector<std::string>{at("index.html"), at("old") + "/"}));
    EXPECT_EQ(lines(dialog, "exactList"), linesOf(set.exactEntries()));

    // Nothing lost: no button to find it.
    LocalExclusionsDlg intact(set);
    EXPECT_FALSE(child(intact, "lostFilesButton").isVisibleTo(&intact));
}

TEST_F(LocalExclusionsTest, RemoveBuildsTheListAgainSoThatWhatAWildcardCoversDropsOut) {
    // As a profile file may hold it: an exact entry that a later wildcard covers.
    ExclusionSet set;
    set.addPath(at("notes.bak"));
    set.addPath(at("index.html"));
    set.addPath(at("a.txt"));
    set.addWildcard("*.bak");
    set.sort();
    ASSERT_EQ(set.exactEntries().size(), 3u);
    LocalExclusionsDlg dialog(set);
    selectLinesNamed(dialog, "exactList", {at("a.txt")});
    dialog.OnRemove();
    EXPECT_EQ(linesOf(set.exactEntries()), std::vector<std::string>{at("index.html")});
    EXPECT_EQ(linesOf(set.wildcardEntries()), std::vector<std::string>{"*.bak"});
}

TEST_F(LocalExclusionsTest, AWildcardIsAddedInOrderWithTheCaretOnItAndRemWildcardTakesItOff) {
    ExclusionSet set;
    set.addPath(at("index.html"));
    set.addWildcard("*.bak");
    set.addWildcard("*.zip");
    set.sort();
    LocalExclusionsDlg dialog(set);
    std::string startedIn;
    onDialog_ = [&startedIn](QDialog& opened) {
        auto& entry = dynamic_cast<WildcardDlg&>(opened);
        startedIn = entry.folder();
        entry.setWildcard("*.tmp");
        entry.accept();
        return entry.result();
    };
    dialog.OnWildcard();
    EXPECT_EQ(startedIn, at("index.html")) << "nothing remembered yet: the first exact entry";
    EXPECT_EQ(linesOf(set.wildcardEntries()),
              (std::vector<std::string>{"*.bak", "*.tmp", "*.zip"}));
    EXPECT_EQ(lines(dialog, "wildcardList"), linesOf(set.wildcardEntries()));
    auto& box = child<QListWidget>(dialog, "wildcardList");
    ASSERT_NE(box.currentItem(), nullptr);
    EXPECT_EQ(box.currentItem()->text(), "*.tmp");

    // The same pattern again, in capitals, adds nothing.
    onDialog_ = [](QDialog& opened) {
        auto& entry = dynamic_cast<WildcardDlg&>(opened);
        entry.setWildcard("*.TMP");
        entry.accept();
        return entry.result();
    };
    dialog.OnWildcard();
    EXPECT_EQ(set.wildcardEntries().size(), 3u);

    selectLinesNamed(dialog, "wildcardList", {"*.bak", "*.zip"});
    EXPECT_TRUE(child(dialog, "removeWildcardButton").isEnabled());
    dialog.OnRemoveWildcard();
    EXPECT_EQ(linesOf(set.wildcardEntries()), std::vector<std::string>{"*.tmp"});
    EXPECT_EQ(linesOf(set.exactEntries()), std::vector<std::string>{at("index.html")});
    EXPECT_FALSE(child(dialog, "removeWildcardButton").isEnabled());
}

TEST_F(LocalExclusionsTest, BrowseFoldersMakesTheChosenFolderTheTextAndOkRemembersIt) {
    exclusionBrowsePath() = at("old") + "/";
    WildcardDlg entry(exclusionBrowsePath());
    std::string chooserStart;
    for (const bool chosen : {false, true}) {
        onDialog_ = [&, chosen](QDialog& opened) {
            auto& chooser = dynamic_cast<FolderDlg&>(opened);
            EXPECT_EQ(chooser.windowTitle(), "Select folder");
            chooser.initialise();
            chooserStart = chooser.path();
            if (!chosen) {
                chooser.reject();
                return chooser.result();
            }
            EXPECT_TRUE(chooser.tree().selectPath(at("logs")));
            chooser.accept();
            return chooser.result();
        };
        entry.OnBrowseFolders();
    }
    EXPECT_EQ(chooserStart, at("old"));
    auto& text = child<QLineEdit>(entry, "wildcardEdit");
    EXPECT_EQ(text.text().toStdString(), at("logs") + "/");
    EXPECT_EQ(text.cursorPosition(), text.text().size());
    text.insert("*.log");
    EXPECT_EQ(exclusionBrowsePath(), at("old") + "/") << "remembered only on OK";
    entry.accept();
    EXPECT_EQ(entry.wildcard(), at("logs") + "/*.log");
    EXPECT_EQ(exclusionBrowsePath(), at("logs") + "/");
}

TEST_F(LocalExclusionsTest, BrowseMarksInTheLocalBrowserAndRemembersWhereItEnded) {
    ExclusionSet set;
    set.addPath(at("index.html"));
    set.sort();
    exclusionBrowsePath() = site_.string() + "/";
    LocalExclusionsDlg dialog(set);
    onDialog_ = [](QDialog& opened) {
        auto& browse = dynamic_cast<BrowseLocalDlg&>(opened);
        browse.OnTimer();
        // OK takes what is selected, as Add would.
        selectNamed(browse.list(), {"a.txt", "b.txt"});
        browse.accept();
        return browse.result();
    };
    dialog.OnBrowse();
    EXPECT_EQ(opened_, std::vector<std::string>{"BrowseLocalDlg"});
    EXPECT_EQ(lines(dialog, "exactList"),
              (std::vector<std::string>{at("a.txt"), at("b.txt"), at("index.html")}));
    EXPECT_EQ(linesOf(set.exactEntries()), lines(dialog, "exactList"));
    EXPECT_EQ(exclusionBrowsePath(), site_.string() + "/");

    // Cancelled: the set keeps what it had.
    onDialog_ = [](QDialog& opened) {
        auto& browse = dynamic_cast<BrowseLocalDlg&>(opened);
        browse.OnTimer();
        selectNamed(browse.list(), {"logs"});
        browse.OnAdd();
        browse.reject();
        return browse.result();
    };
    dialog.OnBrowse();
    EXPECT_EQ(set.exactEntries().size(), 3u);
}

// ---- FTP Exclusion Files ----

template <typename Server>
class FtpExclusionsTest : public ExclusionDialogsTest {
  protected:
    void SetUp() override {
        ExclusionDialogsTest::SetUp();
        ASSERT_TRUE(server_.start()) << server_.error();
        ftpbrowsetest::letTheTreeWalkDown(server_);
        for (const char* file : {"index.html", "notes.txt", "old/page.html", "pics/logo.png"}) {
            fs::create_directories((server_.root() / "site" / file).parent_path());
            testsupport::writeFile(server_.root() / "site" / file, "x");
        }
        connection_ = ftpbrowsetest::siteConnection(server_);
        connections_ = {connection_};
        active_ = connection_;
    }
    void TearDown() override {
        connection_->disconnectFtp();
        ExclusionDialogsTest::TearDown();
    }
    std::string remote(const std::string& relative) const {
        return server_.remote("site" + (relative.empty() ? "" : "/" + relative));
    }
    // The connecting dialog as it works by itself, and what `then` does with the others.
    void answer(std::function<int(QDialog&)> then) {
        onDialog_ = [then = std::move(then)](QDialog& opened) {
            if (auto* connecting = qobject_cast<ConnectingDlg*>(&opened)) {
                connecting->OnTimer();
                return connecting->result();
            }
            return then(opened);
        };
    }

    Server server_;
    std::shared_ptr<ConnectionDetails> connection_;
    ConnectionList connections_;
    std::shared_ptr<ConnectionDetails> active_;
};

using Servers = ::testing::Types<testsupport::PyFtpdServer, testsupport::VsftpdServer>;
TYPED_TEST_SUITE(FtpExclusionsTest, Servers, testsupport::ServerKindNames);

TYPED_TEST(FtpExclusionsTest, BrowseMarksOnTheServerAndTakesOverTheFolderShownLast) {
    ExclusionSet set;
    set.addPath(this->remote("old") + "/");
    set.sort();
    FtpExclusionsDlg dialog(set, this->connections_, this->active_, this->remote("") + "/");
    EXPECT_EQ(lines(dialog, "exactList"), std::vector<std::string>{this->remote("old") + "/"});
    std::string startedIn;
    this->answer([&startedIn](QDialog& opened) {
        auto& browse = dynamic_cast<BrowseFtpDlg&>(opened);
        browse.OnTimer();
        startedIn = browse.currentDirectory();
        selectNamed(browse.list(), {"notes.txt"});
        browse.OnAdd();
        FtpFileBrowseCtrl& list = browse.list();
        selectNamed(list, {"pics"});
        list.changeDirToItem(rowNamed(list, "pics"));
        browse.accept();
        return browse.result();
    });
    dialog.OnBrowse();
    EXPECT_EQ(startedIn, this->remote("") + "/");
    EXPECT_EQ(lines(dialog, "exactList"),
              (std::vector<std::string>{this->remote("notes.txt"), this->remote("old") + "/"}));
    EXPECT_EQ(linesOf(set.exactEntries()), lines(dialog, "exactList"));
    EXPECT_EQ(dialog.ftpPath(), this->remote("pics") + "/");
    EXPECT_TRUE(this->connection_->isConnected()) << "the connection stays open";
    EXPECT_FALSE(dialog.connectionsChanged());
    EXPECT_TRUE(this->prompter_.messages.empty()) << this->prompter_.messages.front();
}

TYPED_TEST(FtpExclusionsTest, LostFilesSelectsWhatTheServerNoLongerHas) {
    ExclusionSet set;
    for (const std::string& path : {this->remote("index.html"), this->remote("gone.html"),
                                    this->remote("old") + "/", this->remote("vanished") + "/"}) {
        set.addPath(path);
    }
    set.addWildcard("*.tmp");
    set.sort();
    ASSERT_TRUE(this->connection_->connectFtp()) << lastErrorText();
    FtpExclusionsDlg dialog(set, this->connections_, this->active_, "");
    this->answer({});
    dialog.OnLostFiles();
    EXPECT_TRUE(this->opened_.empty()) << "connected already";
    EXPECT_EQ(
        selectedLines(dialog, "exactList"),
        (std::vector<std::string>{this->remote("gone.html"), this->remote("vanished") + "/"}));
    EXPECT_EQ(child<QLabel>(dialog, "checkingLabel").text(), "");
    EXPECT_EQ(child<QLabel>(dialog, "checkedNameLabel").text(), "");
    dialog.OnRemove();
    EXPECT_EQ(linesOf(set.exactEntries()),
              (std::vector<std::string>{this->remote("index.html"), this->remote("old") + "/"}));
    EXPECT_EQ(linesOf(set.wildcardEntries()), std::vector<std::string>{"*.tmp"})
        << "the wildcards pass through";
}

TYPED_TEST(FtpExclusionsTest, AServerThatGoesAwaySelectsNothingForRemove) {
    ExclusionSet set;
    set.addPath(this->remote("index.html"));
    set.addPath(this->remote("old") + "/");
    set.sort();
    ASSERT_TRUE(this->connection_->connectFtp()) << lastErrorText();
    FtpExclusionsDlg dialog(set, this->connections_, this->active_, "");
    this->server_.kill();
    this->answer([](QDialog&) { return int(QDialog::Rejected); });
    dialog.OnLostFiles();
    EXPECT_TRUE(selectedLines(dialog, "exactList").empty())
        << "a check that could not be made is no proof the entry has gone";
    ASSERT_EQ(this->prompter_.messages.size(), 1u);
    EXPECT_EQ(
        this->prompter_.messages[0].rfind("Could not check the exclusions on the server\n", 0), 0u)
        << this->prompter_.messages[0];
}

TYPED_TEST(FtpExclusionsTest, LostFilesWithoutAConnectionLetsThePersonConnectFirst) {
    ExclusionSet set;
    set.addPath(this->remote("gone.html"));
    set.addPath(this->remote("index.html"));
    set.sort();
    this->active_ = nullptr;
    FtpExclusionsDlg dialog(set, this->connections_, this->active_, "");
    // The manager cancelled: nothing is checked.
    this->answer([](QDialog& opened) {
        EXPECT_NE(qobject_cast<ConnectionManagerDlg*>(&opened), nullptr);
        return int(QDialog::Rejected);
    });
    dialog.OnLostFiles();
    EXPECT_EQ(this->opened_, std::vector<std::string>{"ConnectionManagerDlg"});
    EXPECT_TRUE(selectedLines(dialog, "exactList").empty());

    this->answer([](QDialog& opened) {
        auto& manager = dynamic_cast<ConnectionManagerDlg&>(opened);
        auto& box = *manager.findChild<QComboBox*>("connectionCombo");
        box.setCurrentIndex(box.findText("Site"));
        manager.accept();
        return manager.result();
    });
    dialog.OnLostFiles();
    EXPECT_EQ(this->active_, this->connection_);
    EXPECT_TRUE(this->connection_->isConnected());
    EXPECT_TRUE(dialog.connectionsChanged());
    EXPECT_EQ(selectedLines(dialog, "exactList"),
              std::vector<std::string>{this->remote("gone.html")});
}

}  // namespace
}  // namespace browsetest
