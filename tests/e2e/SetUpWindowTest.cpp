// A first start of the real program on a real X server, everything done through its dialogs
// with the mouse and the keyboard: from an empty settings folder, a connection made in the
// connection manager, the local folder chosen in the folder tree and the server folder in
// "Browse FTP Connection", an FTP exclusion marked in the server browser and a local wildcard
// typed in, the profile saved, a synchronisation run, and the server folder checked.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "common/Prompter.h"
#include "gui/mainwindow/MainWindowScript.h"
#include "integration/EngineTestFixture.h"
#include "profiles/Profile.h"
#include "profiles/SettingsStore.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/TimedCommand.h"
#include "ui/QtMessagePump.h"
#include "ui/browse/BrowseFtpDlg.h"
#include "ui/browse/CTreeFileCtrl.h"
#include "ui/browse/FileListModel.h"
#include "ui/browse/FolderDlg.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/connections/ConnectionAdvancedDlg.h"
#include "ui/connections/ConnectionManagerDlg.h"
#include "ui/connections/EditConnectionDlg.h"
#include "ui/mainwindow/CSynchroniserDlg.h"
#include "ui/mainwindow/FileDialogs.h"
#include "ui/mainwindow/QtWindowDialogs.h"
#include "ui/report/SyncReportDlg.h"
#include "ui/report/SyncResultsDlg.h"
#include "ui/settings/FtpExclusionsDlg.h"
#include "ui/settings/LocalExclusionsDlg.h"
#include "ui/settings/WildcardDlg.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using enginetest::treeOf;

// Runs the events until `done` holds, ten seconds at most.
bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// Does `act` with the next modal dialog of type T once it is on the screen: the dialog runs its
// own event loop, so the test waits for it from a timer. One that never comes is a failure, and
// whatever modal dialog stands in its way is cancelled so that the test ends.
template <typename T>
void onNextModal(std::function<void(T&)> act) {
    auto* poll = new QTimer;
    poll->setInterval(20);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    QObject::connect(poll, &QTimer::timeout, [poll, act = std::move(act), deadline] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            if (std::chrono::steady_clock::now() > deadline) {
                QWidget* blocking = QApplication::activeModalWidget();
                ADD_FAILURE() << "no " << T::staticMetaObject.className() << " appeared"
                              << (blocking != nullptr
                                      ? std::string(", only ") + blocking->metaObject()->className()
                                      : std::string());
                if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                    other->reject();
                    return;
                }
                poll->deleteLater();
                poll->stop();
            }
            return;
        }
        poll->stop();
        poll->deleteLater();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
        act(*dialog);
    });
    poll->start();
}

template <typename Widget = QAbstractButton>
Widget* part(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// A click where the button takes it: a radio button or a check box stretched across its row
// takes clicks on its mark and its text only, not at the middle of the row.
void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    auto* toggle = qobject_cast<QAbstractButton*>(widget);
    if (toggle != nullptr && toggle->isCheckable()) {
        QTest::mouseClick(widget, Qt::LeftButton, {},
                          QPoint(toggle->height() / 2, toggle->height() / 2));
        return;
    }
    QTest::mouseClick(widget, Qt::LeftButton);
}

void clickOk(QWidget& dialog) {
    click(part<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok));
}

void type(QWidget& dialog, const char* edit, const std::string& text) {
    auto* box = part<QLineEdit>(dialog, edit);
    box->selectAll();
    QTest::keyClicks(box, QString::fromStdString(text));
}

// A click on the row of `name` in a file list.
void clickRow(FileBrowseCtrl& list, const std::string& name) {
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.entryAtRow(row)->name == name) {
            QAbstractItemView* view = list.currentView();
            const QModelIndex index = list.model().index(row, FileListModel::NameColumn);
            view->scrollTo(index);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                              view->visualRect(index).center());
            return;
        }
    }
    ADD_FAILURE() << "no row " << name;
}

bool hasRow(const FileBrowseCtrl& list, const std::string& name) {
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.entryAtRow(row)->name == name) {
            return true;
        }
    }
    return false;
}

class SetUpWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(waitForCommandWorkers(5000ms));
        setMessagePump(&pump_);
        previousPrompter_ = setPrompter(&prompter_);
        setFileDialogs(&files_);
        quietMode = false;
        stopRequested = false;
        ASSERT_TRUE(server_.start()) << server_.error();
    }
    void TearDown() override {
        if (window_ != nullptr) {
            for (const auto& connection : window_->synchroniser().connections) {
                connection->disconnectFtp();
            }
        }
        window_.reset();
        EXPECT_TRUE(waitForCommandWorkers(5000ms));
        setFileDialogs(nullptr);
        setPrompter(previousPrompter_);
        setMessagePump(nullptr);
    }

    testsupport::PyFtpdServer server_;
    testsupport::TempFolder work_{"kelvane-e2e-setup"};
    mainwindowtest::ScriptedPrompter prompter_;
    mainwindowtest::ScriptedFileDialogs files_;
    std::unique_ptr<FileSettingsStore> store_;
    std::unique_ptr<QtWindowDialogs> dialogs_;
    std::unique_ptr<CSynchroniserDlg> window_;

  private:
    QtMessagePump pump_;
    Prompter* previousPrompter_ = nullptr;
};

TEST_F(SetUpWindowTest, FromAnEmptySettingsFolderToASynchronisedSite) {
    const fs::path settings = work_.path() / "settings";
    fs::create_directories(settings);
    const fs::path local = work_.path() / "site";
    for (const auto& [path, bytes] :
         std::map<std::string, std::string>{{"index.html", "<html>home</html>"},
                                            {"notes.bak", "not for the server"},
                                            {"css/site.css", "body {}"},
                                            {"css/old.bak", "nor this"},
                                            {"images/logo.png", std::string(3000, 'L')}}) {
        fs::create_directories((local / path).parent_path());
        testsupport::writeFile(local / path, bytes);
    }
    const fs::path www = server_.root() / "www";
    fs::create_directories(www / "stats");
    testsupport::writeFile(www / "stats" / "visits.html", "kept by the exclusion");
    testsupport::writeFile(www / "gone.html", "deleted by the run");

    store_ = std::make_unique<FileSettingsStore>(settings);
    dialogs_ = std::make_unique<QtWindowDialogs>(store_.get());
    window_ = std::make_unique<CSynchroniserDlg>(*dialogs_, *store_, settings, "");
    CSynchroniserDlg& window = *window_;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // "Local Location": the folder tree, opened at the work folder, its "site" clicked.
    onNextModal<FolderDlg>([&](FolderDlg& chooser) {
        CTreeFileCtrl& tree = chooser.tree();
        ASSERT_TRUE(waitUntil([&] { return tree.topLevelItemCount() > 0 && !tree.reading(); }));
        ASSERT_TRUE(tree.selectPath(work_.path().string()));
        QTreeWidgetItem* parent = tree.currentItem();
        ASSERT_NE(parent, nullptr);
        parent->setExpanded(true);
        ASSERT_TRUE(waitUntil([&] { return tree.itemOfPath(local.string()) != nullptr; }));
        QTreeWidgetItem* site = tree.itemOfPath(local.string());
        tree.scrollToItem(site);
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(site).center());
        EXPECT_EQ(tree.selectedPath(), local.string());
        clickOk(chooser);
    });
    click(part(window, "localLocationButton"));
    EXPECT_EQ(window.synchroniser().options.localLocation, local.string() + "/");

    // "FTP Location": no connection yet, so Connect in the browser opens the manager, where New
    // makes one (port and passive mode under Advanced); then the folder www is chosen.
    onNextModal<BrowseFtpDlg>([&](BrowseFtpDlg& browse) {
        onNextModal<ConnectionManagerDlg>([&](ConnectionManagerDlg& manager) {
            onNextModal<EditConnectionDlg>([&](EditConnectionDlg& edit) {
                type(edit, "nameEdit", "Site");
                type(edit, "serverEdit", server_.host());
                type(edit, "userEdit", server_.user());
                type(edit, "passwordEdit", server_.password());
                onNextModal<ConnectionAdvancedDlg>([&](ConnectionAdvancedDlg& advanced) {
                    type(advanced, "portEdit", std::to_string(server_.port()));
                    click(part<QRadioButton>(advanced, "passiveModeRadio"));
                    EXPECT_TRUE(part<QRadioButton>(advanced, "passiveModeRadio")->isChecked());
                    // The test server has no TLS, which a new connection requires.
                    part<QComboBox>(advanced, "tlsCombo")->setCurrentIndex(0);
                    clickOk(advanced);
                });
                click(part(edit, "advancedButton"));
                clickOk(edit);
            });
            click(part(manager, "newButton"));
            clickOk(manager);
        });
        click(part(browse, "connectButton"));
        ASSERT_TRUE(waitUntil([&] { return hasRow(browse.list(), "www"); }));
        clickRow(browse.list(), "www");
        EXPECT_EQ(browse.currentDirectory(), "/www/");
        clickOk(browse);
    });
    click(part(window, "ftpLocationButton"));
    EXPECT_EQ(window.synchroniser().options.ftpLocation, "FTP:Site/www/");
    const ConnectionList stored = loadConnections(settings / "KelvaneConnections.txt");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]->port, server_.port());
    EXPECT_TRUE(stored[0]->passive);

    // "FTP Exclusions": Browse, the folder stats marked with Add.
    onNextModal<FtpExclusionsDlg>([&](FtpExclusionsDlg& exclusions) {
        onNextModal<BrowseFtpDlg>([&](BrowseFtpDlg& browse) {
            ASSERT_TRUE(waitUntil([&] { return hasRow(browse.list(), "stats"); }));
            clickRow(browse.list(), "stats");
            click(part(browse, "addButton"));
            clickOk(browse);
        });
        click(part(exclusions, "browseButton"));
        clickOk(exclusions);
    });
    click(part(window, "ftpExclusionsButton"));

    // "Local Exclusions": the wildcard *.bak typed in.
    onNextModal<LocalExclusionsDlg>([&](LocalExclusionsDlg& exclusions) {
        onNextModal<WildcardDlg>([&](WildcardDlg& entry) {
            type(entry, "wildcardEdit", "*.bak");
            clickOk(entry);
        });
        click(part(exclusions, "wildcardButton"));
        clickOk(exclusions);
    });
    click(part(window, "localExclusionsButton"));

    // "Save": no file yet, so Save As names one.
    const fs::path profileFile = work_.path() / "site.kvp";
    files_.answers = {profileFile.string()};
    click(part(window, "saveButton"));
    Profile saved;
    ASSERT_TRUE(saved.loadFromFile(profileFile.string()));
    EXPECT_EQ(saved.location1, local.string() + "/");
    EXPECT_EQ(saved.location2, "FTP:Site/www/");
    ASSERT_EQ(saved.ftp_exclusions.exactEntries().size(), 1u);
    EXPECT_EQ(ExclusionSet::displayPath(*saved.ftp_exclusions.exactEntries()[0]), "/www/stats/");
    ASSERT_EQ(saved.exclusions.wildcardEntries().size(), 1u);
    EXPECT_EQ(saved.exclusions.wildcardEntries()[0]->fullPath(), "*.bak");

    // "Synchronise Web Site", the plan reviewed (OK asks about the delete of gone.html) and the
    // report read.
    prompter_.answers = {true};
    onNextModal<SyncResultsDlg>([](SyncResultsDlg& review) { clickOk(review); });
    onNextModal<SyncReportDlg>([](SyncReportDlg& report) { clickOk(report); });
    click(part(window, "synchroniseButton"));
    EXPECT_EQ(treeOf(www),
              (std::map<std::string, std::string>{{"index.html", "<html>home</html>"},
                                                  {"css/", ""},
                                                  {"css/site.css", "body {}"},
                                                  {"images/", ""},
                                                  {"images/logo.png", std::string(3000, 'L')},
                                                  {"stats/", ""},
                                                  {"stats/visits.html", "kept by the exclusion"}}));
    EXPECT_EQ(prompter_.questions.size(), 1u) << ::testing::PrintToString(prompter_.questions);
    EXPECT_TRUE(prompter_.messages.empty()) << ::testing::PrintToString(prompter_.messages);
}

}  // namespace
