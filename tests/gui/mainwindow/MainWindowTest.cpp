// The main window's own decisions, offscreen: interlocks, histories, recent files, the automatic
// start, saving, leaving, the settings written back, and the configuration's connections file.

#include <QLineEdit>
#include <QProgressBar>
#include <thread>

#include "gui/mainwindow/MainWindowFixture.h"
#include "ui/mainwindow/CommandLine.h"
#include "ui/mainwindow/ConfirmDlg.h"
#include "ui/mainwindow/QtSynchroniserView.h"

using namespace std::chrono_literals;

namespace mainwindowtest {
namespace {

constexpr const char* kProfileQuestion =
    "The current profile has been modified.\nDo you wish to save your changes?";

using MainWindowTest = MainWindowFixture;

TEST_F(MainWindowTest, SilentModeSwitchesOffAndDisablesReviewAndDeleteQuestions) {
    start();
    EXPECT_FALSE(button("confirmDeletesCheck")->isEnabled())
        << "check actions is on by default, so the delete question is disabled";
    click("checkActionsCheck");  // off: the delete question may be asked again
    EXPECT_TRUE(button("confirmDeletesCheck")->isEnabled());
    click("confirmDeletesCheck");
    EXPECT_TRUE(button("confirmDeletesCheck")->isChecked());

    click("checkActionsCheck");  // on again: no delete question
    EXPECT_FALSE(button("confirmDeletesCheck")->isChecked());
    EXPECT_FALSE(button("confirmDeletesCheck")->isEnabled());

    click("silentModeCheck");
    EXPECT_FALSE(button("checkActionsCheck")->isChecked());
    EXPECT_FALSE(button("checkActionsCheck")->isEnabled());
    EXPECT_FALSE(button("confirmDeletesCheck")->isChecked());
    EXPECT_FALSE(button("confirmDeletesCheck")->isEnabled());
    EXPECT_TRUE(quietMode.load());
    EXPECT_TRUE(child("silentModeLabel")->isVisible());
    const Profile& profile = window().synchroniser().profile;
    EXPECT_TRUE(profile.silent_mode);
    EXPECT_FALSE(profile.check_actions);
    EXPECT_TRUE(profile.modified);

    click("silentModeCheck");
    EXPECT_FALSE(quietMode.load());
    EXPECT_TRUE(button("checkActionsCheck")->isEnabled());
    EXPECT_FALSE(button("checkActionsCheck")->isChecked()) << "switched off, not restored";
    EXPECT_TRUE(button("confirmDeletesCheck")->isEnabled());
    EXPECT_FALSE(child("silentModeLabel")->isVisible());
}

TEST_F(MainWindowTest, ALocationUsedAgainMovesToTheTopAndFiveStay) {
    const char* names[] = {"Location1A", "Location1B", "Location1C", "Location1D", "Location1E"};
    for (int i = 0; i < 5; ++i) {
        store().writeString(names[i], std::string("/web/") + char('a' + i));
    }
    start();
    auto* box = child<QComboBox>("localLocationCombo");
    ASSERT_EQ(box->count(), 5);
    EXPECT_EQ(box->currentText(), "/web/a");

    // Typed and confirmed with Enter, as a person would.
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), "/web/c");
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) {
        shown << box->itemText(i);
    }
    EXPECT_EQ(shown, QStringList({"/web/c", "/web/a", "/web/b", "/web/d", "/web/e"}));
    EXPECT_EQ(window().synchroniser().options.localLocation, "/web/c");

    window().useLocalLocation("/web/new");
    shown.clear();
    for (int i = 0; i < box->count(); ++i) {
        shown << box->itemText(i);
    }
    EXPECT_EQ(shown, QStringList({"/web/new", "/web/c", "/web/a", "/web/b", "/web/d"}));
}

TEST_F(MainWindowTest, ASixteenthFileDropsTheOldestAndReopeningMovesItToTheFront) {
    std::vector<std::string> paths;
    for (int i = 0; i < 16; ++i) {
        paths.push_back(writeProfile("p" + std::to_string(i) + ".kvp").string());
    }
    start();
    for (const std::string& path : paths) {
        files.answers = {path};
        click("openButton");
    }
    ASSERT_FALSE(files.calls.empty());
    EXPECT_EQ(files.calls.front().kind, "open");
    EXPECT_EQ(files.calls.front().filter, "Kelvane profiles (*.kvp);;Kelvane batch files (*.kvb)");
    EXPECT_EQ(files.calls.front().defaultSuffix, "kvp");
    // Every open starts where the last file was chosen.
    EXPECT_EQ(files.calls.back().startPath, paths[14]);

    auto* box = child<QComboBox>("recentFilesCombo");
    ASSERT_EQ(box->count(), 15);
    EXPECT_EQ(box->itemText(0).toStdString(), paths[15]);
    EXPECT_EQ(box->itemText(14).toStdString(), paths[1]) << "p0 is the one dropped";
    EXPECT_EQ(box->currentIndex(), 0);

    // A pick in the box reopens p5: to the front, still fifteen.
    const int index = box->findText(QString::fromStdString(paths[5]));
    ASSERT_GE(index, 0);
    window().OnSelchangeRecentFiles(index);
    EXPECT_EQ(box->count(), 15);
    EXPECT_EQ(box->itemText(0).toStdString(), paths[5]);
    EXPECT_EQ(window().synchroniser().openedPath, paths[5]);
    EXPECT_EQ(window().windowTitle(), "Kelvane - p5");

    // A file that no longer loads leaves the box.
    fs::remove(paths[7]);
    window().OnSelchangeRecentFiles(box->findText(QString::fromStdString(paths[7])));
    EXPECT_EQ(box->count(), 14);
    EXPECT_EQ(box->findText(QString::fromStdString(paths[7])), -1);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0], "Could not open file: " + paths[7]);
}

// ---- The automatic start ----

class AutoStartTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        writeConnection("127.0.0.1", 9);
        // The connecting dialog records the start and lets it go no further.
        dialogs.onConnecting = [](const std::shared_ptr<ConnectionDetails>&) { return false; };
    }
    int starts() const { return dialogs.count("connecting"); }
    fs::path autoStartProfile(const std::string& file) {
        return writeProfile(file, [](Profile& p) { p.auto_start = 1; });
    }
};

TEST_F(AutoStartTest, AProfileOnTheCommandLineStartsHalfASecondAfterTheWindowShows) {
    start(autoStartProfile("site.kvp").string());
    EXPECT_EQ(starts(), 0) << "not before the window is up";
    EXPECT_TRUE(waitUntil([this] { return starts() == 1; }, 5000ms));
    EXPECT_EQ(window().synchroniser().lastOutcome(), RunOutcome::Failed);
}

TEST_F(AutoStartTest, TheSameProfileLeftOpenAtTheLastExitDoesNotStart) {
    const fs::path profile = autoStartProfile("site.kvp");
    store().writeString("ProfilePath", profile.string());
    start();
    EXPECT_EQ(window().synchroniser().openedPath, profile.string());
    QTest::qWait(1500);
    EXPECT_EQ(starts(), 0);
}

TEST_F(AutoStartTest, ABatchOnTheCommandLineAlwaysRuns) {
    const fs::path batch = writeBatch("nightly.kvb", {autoStartProfile("site.kvp")});
    start(batch.string());
    EXPECT_TRUE(waitUntil([this] { return starts() == 1; }, 5000ms));
    // The batch is the open file again afterwards.
    EXPECT_TRUE(waitUntil(
        [this, &batch] { return window().synchroniser().openedPath == batch.string(); }, 5000ms));
}

TEST_F(AutoStartTest, AFileEndingInCapitalKvpIsNoProfile) {
    const fs::path profile = autoStartProfile("site.KVP");
    start(profile.string());
    EXPECT_TRUE(window().synchroniser().openedPath.empty());
    EXPECT_EQ(window().windowTitle(), "Kelvane");
    QTest::qWait(1500);
    EXPECT_EQ(starts(), 0);
    EXPECT_TRUE(prompter.messages.empty()) << "ignored without a word";
}

// ---- Saving and leaving ----

TEST_F(MainWindowTest, SaveOfANewProfileGoesToSaveAs) {
    start();
    window().useLocalLocation("/web/site");
    const fs::path chosen = folder("profiles") / "new.kvp";
    files.answers = {chosen.string()};
    click("saveButton");
    ASSERT_EQ(files.calls.size(), 1u);
    EXPECT_EQ(files.calls[0].kind, "save");
    EXPECT_EQ(files.calls[0].filter, "Kelvane profile (*.kvp)");
    EXPECT_EQ(files.calls[0].defaultSuffix, "kvp");
    Profile saved;
    ASSERT_TRUE(saved.loadFromFile(chosen));
    EXPECT_TRUE(saved.valid);
    EXPECT_EQ(saved.location1, "/web/site");
    EXPECT_EQ(window().synchroniser().openedPath, chosen.string());
    EXPECT_EQ(window().windowTitle(), "Kelvane - new");
    EXPECT_FALSE(button("saveButton")->isEnabled());
    EXPECT_EQ(store().readString("OpenPath"), chosen.string());
}

TEST_F(MainWindowTest, ExitWithAModifiedProfileAsksAndYesSaves) {
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        const fs::path profile = writeProfile(yes ? "yes.kvp" : "no.kvp");
        start(profile.string());
        click("deleteMissingCheck");  // off
        prompter.questions.clear();
        prompter.answers = {yes};
        click("exitButton");
        EXPECT_EQ(prompter.questions, std::vector<std::string>{kProfileQuestion});
        EXPECT_FALSE(window().isVisible());
        EXPECT_EQ(window().result(), QDialog::Accepted);
        Profile saved;
        ASSERT_TRUE(saved.loadFromFile(profile));
        EXPECT_EQ(saved.delete_files, !yes);
    }
}

TEST_F(MainWindowTest, TheSettingsAfterExitHoldWhatTheWindowShowedAndTheNextStartShowsIt) {
    const fs::path first = writeProfile("first.kvp");
    const fs::path second = writeProfile("second.kvp");
    start();
    for (const fs::path& path : {first, second}) {
        files.answers = {path.string()};
        click("openButton");
    }
    click("closeButton");
    EXPECT_FALSE(button("closeButton")->isEnabled());
    click("addMissingCheck");       // off
    click("checkSubFoldersCheck");  // off
    click("checkActionsCheck");     // off
    click("confirmDeletesCheck");   // on
    window().useLocalLocation("/web/local");
    window().useFtpLocation("FTP:Other/www");
    click("exitButton");

    EXPECT_EQ(store().readDword("AddMissing"), 0u);
    EXPECT_EQ(store().readDword("DelMissing"), 1u);
    EXPECT_EQ(store().readDword("CheckDel"), 1u);
    EXPECT_EQ(store().readDword("SubFolders"), 0u);
    EXPECT_EQ(store().readDword("CheckActions"), 0u);
    EXPECT_EQ(store().readString("Location1A"), "/web/local");
    EXPECT_EQ(store().readString("Location2A"), "FTP:Other/www");
    EXPECT_EQ(store().readString("ProfilePath00"), second.string());
    EXPECT_EQ(store().readString("ProfilePath01"), first.string());
    EXPECT_EQ(store().readString("ProfilePath"), "");

    start();
    EXPECT_FALSE(button("addMissingCheck")->isChecked());
    EXPECT_TRUE(button("deleteMissingCheck")->isChecked());
    EXPECT_TRUE(button("confirmDeletesCheck")->isChecked());
    EXPECT_TRUE(button("confirmDeletesCheck")->isEnabled());
    EXPECT_FALSE(button("checkSubFoldersCheck")->isChecked());
    EXPECT_FALSE(button("checkActionsCheck")->isChecked());
    EXPECT_EQ(child<QComboBox>("localLocationCombo")->currentText(), "/web/local");
    EXPECT_EQ(child<QComboBox>("ftpLocationCombo")->currentText(), "FTP:Other/www");
    auto* recent = child<QComboBox>("recentFilesCombo");
    ASSERT_EQ(recent->count(), 2);
    EXPECT_EQ(recent->itemText(0).toStdString(), second.string());
    EXPECT_EQ(recent->currentIndex(), -1) << "no file open";
}

TEST_F(MainWindowTest, ClosingTheWindowLeavesLikeExit) {
    start();
    window().useLocalLocation("/web/closed");
    window().close();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(store().readString("Location1A"), "/web/closed");
}

// ---- Configuration ----

TEST_F(MainWindowTest, ConfigurationAppliesTheSettingsAndMovesTheConnectionsFile) {
    writeConnection("ftp.example.org", 21);
    const fs::path old = settingsFolder() / "KelvaneConnections.txt";
    const std::string oldBytes = testsupport::readFile(old);
    const fs::path moved = folder("elsewhere") / "connections.txt";
    testsupport::writeFile(moved, "to be replaced");
    start();
    dialogs.onConfiguration = [&moved](ConfigurationSettings& settings, std::string& file) {
        settings.commandTimeout = 25;
        settings.maxCommandRetries = 5;
        settings.showTooltips = false;
        file = moved.string();
        return true;
    };
    prompter.answers = {true};
    click("configurationButton");
    EXPECT_EQ(prompter.questions,
              std::vector<std::string>{
                  "Do you wish to move the current connections file to the new location"});
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(testsupport::readFile(moved), oldBytes);
    EXPECT_EQ(store().readString("ConnectionsFileName"), moved.string());
    EXPECT_EQ(store().readDword("CommandTimeout"), 25u);
    EXPECT_EQ(store().readDword("MaxCommandRetries"), 5u);
    EXPECT_EQ(commandTimeout.load(), 25u);
    EXPECT_EQ(maxCommandRetries.load(), 5);
    EXPECT_TRUE(button("exitButton")->toolTip().isEmpty()) << "tooltips are off now";
    ASSERT_EQ(window().synchroniser().connections.size(), 1u);
    EXPECT_EQ(window().synchroniser().connections[0]->server, "ftp.example.org");

    // The same path again: nothing to ask, nothing moved.
    dialogs.onConfiguration = [](ConfigurationSettings&, std::string&) { return true; };
    prompter.questions.clear();
    click("configurationButton");
    EXPECT_TRUE(prompter.questions.empty());
    EXPECT_TRUE(fs::exists(moved));
}

TEST_F(MainWindowTest, ConfigurationAnsweredNoChangesTheLocationWithoutMoving) {
    writeConnection("ftp.example.org", 21);
    const fs::path old = settingsFolder() / "KelvaneConnections.txt";
    const fs::path other = folder("elsewhere") / "none-yet.txt";
    start();
    dialogs.onConfiguration = [&other](ConfigurationSettings&, std::string& file) {
        file = other.string();
        return true;
    };
    prompter.answers = {false};
    click("configurationButton");
    EXPECT_TRUE(fs::exists(old));
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(store().readString("ConnectionsFileName"), other.string());
    EXPECT_TRUE(window().synchroniser().connections.empty());
}

TEST_F(MainWindowTest, TooltipsAppearOnlyWhileTheSettingIsOn) {
    store().writeDword("ShowTooltips", 0);
    start();
    EXPECT_TRUE(button("synchroniseButton")->toolTip().isEmpty());
    store().writeDword("ShowTooltips", 1);
    start();
    EXPECT_EQ(button("synchroniseButton")->toolTip(), "Synchronise the FTP server");
    EXPECT_EQ(child("progressBar")->toolTip(),
              "Shows an estimate of the current progress. Due to the nature of how connections "
              "are made and files copied this may be a little \"lumpy\"!");
    EXPECT_EQ(button("localLocationButton")->toolTip(),
              "Browse the local system for the source location");
    EXPECT_EQ(button("ftpBrowseButton")->toolTip(),
              "Browse an FTP server and perform simple commands on it");
}

// ---- Pieces ----

TEST(CommandLineTest, TheFirstParameterThatIsNoSwitchIsTheFile) {
    const struct {
        QStringList arguments;
        std::string file;
    } cases[] = {
        {{"kelvane"}, ""},
        {{"kelvane", "-x", "--verbose"}, ""},
        {{"kelvane", "-x", "/home/ann/site.kvp", "/other.kvp"}, "/home/ann/site.kvp"},
        {{"kelvane", "no-such-dir/b.kvb"}, "no-such-dir/b.kvb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(commandLineFile(c.arguments), c.file) << c.arguments.join(' ').toStdString();
    }
    // An existing file is named by its absolute path.
    testsupport::TempFolder folder;
    testsupport::writeFile(folder.path() / "site.kvp", "");
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    EXPECT_EQ(commandLineFile({"kelvane", "site.kvp"}), (folder.path() / "site.kvp").string());
    fs::current_path(previous);
}

TEST(ConfirmDlgTest, EachButtonGivesItsAnswerAndClosingCancels) {
    const struct {
        const char* button;
        ConfirmAnswer answer;
    } cases[] = {{"yesButton", ConfirmAnswer::Yes},
                 {"yesToAllButton", ConfirmAnswer::YesToAll},
                 {"noButton", ConfirmAnswer::No},
                 {"noToAllButton", ConfirmAnswer::NoToAll},
                 {"cancelButton", ConfirmAnswer::Cancel}};
    for (const auto& c : cases) {
        ConfirmDlg dialog("Delete File", "Delete file: /a.html", "", "", "");
        dialog.show();
        QTest::mouseClick(dialog.findChild<QAbstractButton*>(c.button), Qt::LeftButton);
        EXPECT_EQ(dialog.answer(), c.answer) << c.button;
        EXPECT_FALSE(dialog.isVisible());
    }
    ConfirmDlg dialog("Delete Folder", "Delete folder: /old/", "", "", "");
    dialog.show();
    dialog.close();
    EXPECT_EQ(dialog.answer(), ConfirmAnswer::Cancel);
    EXPECT_EQ(dialog.windowTitle(), "Delete Folder");
}

TEST_F(MainWindowTest, WorkerUpdatesReachTheWindowInTheOrderTheyWereMade) {
    start();
    QtSynchroniserView view(window());
    std::thread worker([&view] {
        view.setRetries("Retries", "1");
        view.setProgress(500, "50", "00:00:10");
    });
    worker.join();
    // The window's own thread clears the retries after the worker's update was made.
    view.setRetries("", "");
    QApplication::processEvents();
    EXPECT_EQ(text("retriesLabel"), "");
    EXPECT_EQ(text("retryCountLabel"), "");
    EXPECT_EQ(text("percentLabel"), "50");
    EXPECT_EQ(text("timeRemainingLabel"), "00:00:10");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 50);
}

}  // namespace
}  // namespace mainwindowtest
