// The main window's location and exclusion buttons with the real dialogs behind them, worked
// through runModal, against real servers (pyftpdlib and vsftpd): a connection created in the
// manager and chosen in "Browse FTP Connection" becomes the FTP location and a run uploads the
// tree there; exclusions added in the dialogs reach the profile file and keep their entries out
// of the next run; Cancel leaves the profile as it was. Then the window's own part of Connect,
// FTP Browse and Local Location, with scripted dialogs.

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <map>
#include <sstream>

#include "gui/browse/BrowseTestSupport.h"
#include "gui/ftpbrowse/FtpBrowseSupport.h"
#include "gui/mainwindow/MainWindowFixture.h"
#include "integration/EngineTestFixture.h"
#include "support/PyFtpdServer.h"
#include "support/VsftpdServer.h"
#include "ui/ModalDialog.h"
#include "ui/browse/BrowseFtpDlg.h"
#include "ui/browse/CTreeFileCtrl.h"
#include "ui/browse/FolderDlg.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/connections/ConnectionAdvancedDlg.h"
#include "ui/connections/ConnectionManagerDlg.h"
#include "ui/connections/EditConnectionDlg.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/mainwindow/QtWindowDialogs.h"
#include "ui/settings/ExclusionLists.h"
#include "ui/settings/FtpExclusionsDlg.h"
#include "ui/settings/LocalExclusionsDlg.h"
#include "ui/settings/WildcardDlg.h"

namespace mainwindowtest {
namespace {

using browsetest::selectNamed;
using enginetest::treeOf;

template <typename Widget>
Widget& part(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return *widget;
}

std::vector<std::string> linesOf(const std::vector<FileEntryPtr>& entries) {
    std::vector<std::string> lines;
    for (const FileEntryPtr& entry : entries) {
        lines.push_back(ExclusionSet::displayPath(*entry));
    }
    return lines;
}

// The window with the real browse and exclusion dialogs, which the test works as they open.
template <typename Server>
class MainWindowBrowseTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        exclusionBrowsePath().clear();
        ASSERT_TRUE(server_.start()) << server_.error();
        ftpbrowsetest::letTheTreeWalkDown(server_);
        dialogs.real = &real_;
        on["ConnectingDlg"] = [](QDialog& dialog) {
            auto& connecting = dynamic_cast<ConnectingDlg&>(dialog);
            connecting.OnTimer();
            return connecting.result();
        };
        setModalRunner([this](QDialog& dialog) {
            const std::string kind = dialog.metaObject()->className();
            opened.push_back(kind);
            const auto handler = on.find(kind);
            if (handler == on.end()) {
                ADD_FAILURE() << "unexpected dialog " << kind;
                return int(QDialog::Rejected);
            }
            return handler->second(dialog);
        });
        local_ = folder("site");
        for (const auto& [path, bytes] :
             std::map<std::string, std::string>{{"index.html", "<html>home</html>"},
                                                {"notes.bak", "not for the server"},
                                                {"css/site.css", "body {}"},
                                                {"css/old.bak", "nor this"}}) {
            fs::create_directories((local_ / path).parent_path());
            testsupport::writeFile(local_ / path, bytes);
        }
        fs::create_directories(server_.root() / "www");
    }
    void TearDown() override {
        setModalRunner({});
        exclusionBrowsePath().clear();
        MainWindowFixture::TearDown();
    }

    std::string www() const { return server_.remote("www") + "/"; }
    fs::path connectionsFile() const { return settingsFolder() / "KelvaneConnections.txt"; }
    // A profile sending the local site to www, without questions.
    fs::path profileToWww(const std::function<void(Profile&)>& edit = {}) {
        return writeProfile("site.kvp", [&](Profile& profile) {
            profile.location2 = "FTP:Site" + www();
            profile.check_actions = false;
            profile.confirm_deletes = false;
            profile.delete_files = true;
            if (edit) {
                edit(profile);
            }
        });
    }
    void writeServerConnection() {
        writeConnection(server_.host(), server_.port(), server_.user(), server_.password());
    }
    // New in the manager: the fields of this server, port and passive mode under Advanced.
    void createSiteInManager() {
        on["EditConnectionDlg"] = [this](QDialog& dialog) {
            auto& edit = dynamic_cast<EditConnectionDlg&>(dialog);
            part<QLineEdit>(edit, "nameEdit").setText("Site");
            part<QLineEdit>(edit, "serverEdit").setText(QString::fromStdString(server_.host()));
            part<QLineEdit>(edit, "userEdit").setText(QString::fromStdString(server_.user()));
            part<QLineEdit>(edit, "passwordEdit")
                .setText(QString::fromStdString(server_.password()));
            part<QLineEdit>(edit, "emailEdit").setText("web@example.org");
            edit.OnAdvanced();
            edit.accept();
            return edit.result();
        };
        on["ConnectionAdvancedDlg"] = [this](QDialog& dialog) {
            part<QLineEdit>(dialog, "portEdit").setText(QString::number(server_.port()));
            part<QRadioButton>(dialog, "passiveModeRadio").setChecked(true);
            part<QComboBox>(dialog, "tlsCombo").setCurrentIndex(0);  // a server without TLS
            dialog.accept();
            return dialog.result();
        };
        on["ConnectionManagerDlg"] = [](QDialog& dialog) {
            auto& manager = dynamic_cast<ConnectionManagerDlg&>(dialog);
            manager.OnNew();
            manager.accept();
            return manager.result();
        };
    }
    // The browse dialog: shown, then `work` done in it; OK, or Cancel with `ok` false.
    void inBrowseFtp(std::function<void(BrowseFtpDlg&)> work, bool ok = true) {
        on["BrowseFtpDlg"] = [work = std::move(work), ok](QDialog& dialog) {
            auto& browse = dynamic_cast<BrowseFtpDlg&>(dialog);
            browse.OnTimer();
            work(browse);
            ok ? browse.accept() : browse.reject();
            return browse.result();
        };
    }
    std::string comboText(const char* name) {
        return child<QComboBox>(name)->currentText().toStdString();
    }
    std::map<std::string, std::string> serverTree() { return treeOf(server_.root() / "www"); }

    Server server_;
    QtWindowDialogs real_;
    fs::path local_;
    std::map<std::string, std::function<int(QDialog&)>> on;
    std::vector<std::string> opened;
};

using Servers = ::testing::Types<testsupport::PyFtpdServer, testsupport::VsftpdServer>;
TYPED_TEST_SUITE(MainWindowBrowseTest, Servers, testsupport::ServerKindNames);

TYPED_TEST(MainWindowBrowseTest, AConnectionMadeInTheManagerBecomesTheLocationAndARunUploadsThere) {
    ASSERT_FALSE(fs::exists(this->connectionsFile()));
    CSynchroniserDlg& window = this->start();
    // The local folder, picked in the folder tree.
    this->on["FolderDlg"] = [this](QDialog& dialog) {
        auto& chooser = dynamic_cast<FolderDlg&>(dialog);
        chooser.initialise();
        EXPECT_TRUE(chooser.tree().selectPath(this->local_.string()));
        chooser.accept();
        return chooser.result();
    };
    this->click("localLocationButton");
    const std::string localText = this->local_.string() + "/";
    EXPECT_EQ(this->comboText("localLocationCombo"), localText);
    EXPECT_EQ(window.settings().location1.front(), localText);

    // No connection yet: Connect in the browse dialog opens the manager, New makes one.
    this->createSiteInManager();
    this->inBrowseFtp([](BrowseFtpDlg& browse) {
        browse.OnConnect();
        ASSERT_TRUE(browse.list().connection() != nullptr);
        selectNamed(browse.list(), {"www"});
    });
    this->click("ftpLocationButton");
    EXPECT_EQ(this->opened, (std::vector<std::string>{"FolderDlg", "BrowseFtpDlg",
                                                      "ConnectionManagerDlg", "EditConnectionDlg",
                                                      "ConnectionAdvancedDlg", "ConnectingDlg"}));
    const std::string location = "FTP:Site" + this->www();
    EXPECT_EQ(this->comboText("ftpLocationCombo"), location);
    EXPECT_EQ(window.settings().location2.front(), location);
    EXPECT_EQ(window.synchroniser().profile.location2, location);
    ASSERT_NE(window.synchroniser().selectedConnection, nullptr);
    EXPECT_EQ(window.synchroniser().selectedConnection->name, "Site");
    // The new connection is in the connections file already.
    const ConnectionList stored = loadConnections(this->connectionsFile());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]->name, "Site");
    EXPECT_EQ(stored[0]->port, this->server_.port());
    EXPECT_TRUE(stored[0]->passive);

    this->click("synchroniseButton");
    EXPECT_EQ(this->dialogs.count("reviewPlan"), 1);
    EXPECT_EQ(this->serverTree(), treeOf(this->local_));
    EXPECT_TRUE(this->prompter.messages.empty()) << this->prompter.messages.front();
}

TYPED_TEST(MainWindowBrowseTest, AnFtpExclusionAddedInTheBrowserIsSavedAndKeptOutOfTheNextRun) {
    this->writeServerConnection();
    testsupport::writeFile(this->server_.root() / "www" / "gone.html", "delete me");
    fs::create_directories(this->server_.root() / "www" / "stats");
    testsupport::writeFile(this->server_.root() / "www" / "stats" / "report.html", "keep");
    const fs::path profileFile = this->profileToWww();
    CSynchroniserDlg& window = this->start(profileFile.string());

    this->inBrowseFtp([](BrowseFtpDlg& browse) {
        selectNamed(browse.list(), {"stats"});
        browse.OnAdd();
    });
    this->on["FtpExclusionsDlg"] = [](QDialog& dialog) {
        dynamic_cast<FtpExclusionsDlg&>(dialog).OnBrowse();
        dialog.accept();
        return dialog.result();
    };
    this->click("ftpExclusionsButton");
    const std::vector<std::string> excluded{this->www() + "stats/"};
    EXPECT_EQ(linesOf(window.synchroniser().profile.ftp_exclusions.exactEntries()), excluded);
    EXPECT_TRUE(window.synchroniser().profile.modified);

    this->click("saveButton");
    Profile saved;
    ASSERT_TRUE(saved.loadFromFile(profileFile.string()));
    EXPECT_EQ(linesOf(saved.ftp_exclusions.exactEntries()), excluded);

    this->click("synchroniseButton");
    std::map<std::string, std::string> expected = treeOf(this->local_);
    expected["stats/"] = "";
    expected["stats/report.html"] = "keep";
    EXPECT_EQ(this->serverTree(), expected) << "gone.html deleted, stats left alone";
    EXPECT_TRUE(this->prompter.messages.empty()) << this->prompter.messages.front();
}

TYPED_TEST(MainWindowBrowseTest, ALocalWildcardAddedInTheDialogIsSavedAndKeepsItsFilesOut) {
    this->writeServerConnection();
    const fs::path profileFile = this->profileToWww();
    CSynchroniserDlg& window = this->start(profileFile.string());

    this->on["WildcardDlg"] = [](QDialog& dialog) {
        auto& entry = dynamic_cast<WildcardDlg&>(dialog);
        entry.setWildcard("*.bak");
        entry.accept();
        return entry.result();
    };
    this->on["LocalExclusionsDlg"] = [](QDialog& dialog) {
        dynamic_cast<LocalExclusionsDlg&>(dialog).OnWildcard();
        dialog.accept();
        return dialog.result();
    };
    this->click("localExclusionsButton");
    EXPECT_EQ(linesOf(window.synchroniser().profile.exclusions.wildcardEntries()),
              std::vector<std::string>{"*.bak"});

    this->click("saveButton");
    const std::string text = testsupport::readFile(profileFile);
    EXPECT_NE(text.find("wildcard_exclusions=\r\n*.bak\r\nend_wildcard_exclusions"),
              std::string::npos)
        << text;

    this->click("synchroniseButton");
    EXPECT_EQ(this->serverTree(),
              (std::map<std::string, std::string>{
                  {"index.html", "<html>home</html>"}, {"css/", ""}, {"css/site.css", "body {}"}}));
}

TYPED_TEST(MainWindowBrowseTest, CancelInAnyOfTheDialogsLeavesTheProfileAsItWas) {
    this->writeServerConnection();
    const fs::path profileFile = this->profileToWww([this](Profile& profile) {
        profile.exclusions.addPath((this->local_ / "index.html").string());
        profile.exclusions.addWildcard("*.tmp");
        profile.ftp_exclusions.addPath(this->www() + "keep/");
        profile.exclusions.sort();
        profile.ftp_exclusions.sort();
    });
    const std::string before = testsupport::readFile(profileFile);
    CSynchroniserDlg& window = this->start(profileFile.string());
    const Profile& profile = window.synchroniser().profile;
    const std::string location = profile.location2;

    // Everything the person can change in each, then Cancel.
    this->inBrowseFtp([](BrowseFtpDlg& browse) { browse.OnUp(); }, false);
    this->on["FtpExclusionsDlg"] = [](QDialog& dialog) {
        auto& exclusions = dynamic_cast<FtpExclusionsDlg&>(dialog);
        part<QListWidget>(exclusions, "exactList").selectAll();
        exclusions.OnRemove();
        dialog.reject();
        return dialog.result();
    };
    this->on["WildcardDlg"] = [](QDialog& dialog) {
        dynamic_cast<WildcardDlg&>(dialog).setWildcard("*.html");
        dialog.accept();
        return dialog.result();
    };
    this->on["LocalExclusionsDlg"] = [](QDialog& dialog) {
        auto& exclusions = dynamic_cast<LocalExclusionsDlg&>(dialog);
        exclusions.OnWildcard();
        part<QListWidget>(exclusions, "exactList").selectAll();
        exclusions.OnRemove();
        dialog.reject();
        return dialog.result();
    };
    for (const char* button :
         {"ftpLocationButton", "ftpExclusionsButton", "localExclusionsButton"}) {
        this->click(button);
        EXPECT_FALSE(profile.modified) << button;
        EXPECT_EQ(profile.location2, location) << button;
        EXPECT_EQ(this->comboText("ftpLocationCombo"), location) << button;
        EXPECT_EQ(linesOf(profile.exclusions.exactEntries()),
                  std::vector<std::string>{(this->local_ / "index.html").string()})
            << button;
        EXPECT_EQ(linesOf(profile.exclusions.wildcardEntries()), std::vector<std::string>{"*.tmp"})
            << button;
        EXPECT_EQ(linesOf(profile.ftp_exclusions.exactEntries()),
                  std::vector<std::string>{this->www() + "keep/"})
            << button;
    }
    EXPECT_EQ(this->opened,
              (std::vector<std::string>{"BrowseFtpDlg", "ConnectingDlg", "FtpExclusionsDlg",
                                        "LocalExclusionsDlg", "WildcardDlg"}));
    window.OnExit();
    EXPECT_EQ(testsupport::readFile(profileFile), before);
    EXPECT_TRUE(this->prompter.questions.empty()) << "nothing to save";
}

// ---- The window's own part, with scripted dialogs ----

class MainWindowLocationTest : public MainWindowFixture {};

TEST_F(MainWindowLocationTest, LocalLocationTakesTheChosenFolderAndCancelKeepsTheOld) {
    start(writeProfile("site.kvp").string());
    const std::string before = window().synchroniser().options.localLocation;
    std::vector<std::string> startedIn;
    dialogs.onChooseLocalFolder = [&](const std::string& start) -> std::optional<std::string> {
        startedIn.push_back(start);
        return std::nullopt;
    };
    click("localLocationButton");
    EXPECT_EQ(window().synchroniser().options.localLocation, before);
    EXPECT_FALSE(window().synchroniser().profile.modified);

    const std::string chosen = folder("other").string() + "/";
    dialogs.onChooseLocalFolder = [&](const std::string& start) -> std::optional<std::string> {
        startedIn.push_back(start);
        return chosen;
    };
    click("localLocationButton");
    EXPECT_EQ(startedIn, (std::vector<std::string>{before, before}));
    EXPECT_EQ(window().synchroniser().options.localLocation, chosen);
    EXPECT_EQ(window().synchroniser().profile.location1, chosen);
    EXPECT_TRUE(window().synchroniser().profile.modified);
    EXPECT_EQ(window().settings().location1.front(), chosen);
    EXPECT_EQ(child<QComboBox>("localLocationCombo")->currentText().toStdString(), chosen);
}

TEST_F(MainWindowLocationTest,
       ConnectAfterChangedConnectionsSavesThemAndStartsTheNextBrowseAtTheTop) {
    writeConnection("127.0.0.1", 1);
    start(writeProfile("site.kvp", [](Profile& profile) {
              profile.location2 = "FTP:Site/www/";
          }).string());
    std::vector<std::string> startedIn;
    auto made = std::make_shared<ConnectionDetails>();
    made->name = "Made";
    made->server = "127.0.0.1";
    made->port = 1;
    dialogs.onBrowseFtp = [&](ConnectionList& list, std::shared_ptr<ConnectionDetails>& active,
                              const std::string& start) {
        startedIn.push_back(start);
        if (startedIn.size() == 1) {
            list.push_back(made);  // what the manager does with New and OK
            active = made;
            return WindowDialogs::FtpBrowse{true, "/ignored/", true};
        }
        return WindowDialogs::FtpBrowse{false, "", false};
    };
    dialogs.onConnecting = [](const std::shared_ptr<ConnectionDetails>&) { return false; };
    click("connectButton");
    EXPECT_EQ(dialogs.calls, (std::vector<std::string>{"browseFtp", "connecting"}));
    std::vector<std::string> names;
    for (const auto& connection : loadConnections(settingsFolder() / "KelvaneConnections.txt")) {
        names.push_back(connection->name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Site", "Made"}));
    EXPECT_EQ(window().synchroniser().selectedConnection, made);
    EXPECT_EQ(window().synchroniser().options.ftpLocation, "FTP:Site/www/")
        << "Connect chooses no location";

    // The folder of the old location means nothing on the new connection.
    click("ftpBrowseButton");
    // A location used again brings its folder back.
    window().useFtpLocation("FTP:Site/docs/");
    click("ftpBrowseButton");
    EXPECT_EQ(startedIn, (std::vector<std::string>{"/www/", "", "/docs/"}));
}

}  // namespace
}  // namespace mainwindowtest
