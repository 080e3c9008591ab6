// A new user's first start: no settings folder yet. The window shows the defaults that the user
// guide lists, Help opens the guide, and the guide's first steps (a connection made with
// kelvane-cli, the two locations typed, Save As, Synchronise Web Site) work as written against
// a real server.

#include <QDesktopServices>
#include <QLineEdit>
#include <QTextBrowser>

#include "gui/mainwindow/MainWindowFixture.h"
#include "support/CliProcess.h"
#include "support/PyFtpdServer.h"

namespace mainwindowtest {
namespace {

class FirstRunTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        fs::remove_all(settingsFolder());
    }

    void typeInto(const char* box, const std::string& text) {
        QLineEdit* edit = child<QComboBox>(box)->lineEdit();
        edit->setFocus();
        QTest::keyClicks(edit, QString::fromStdString(text));
        QTest::keyClick(edit, Qt::Key_Return);
    }
};

TEST_F(FirstRunTest, TheWindowOpensWithTheDefaultsTheGuideLists) {
    start();
    EXPECT_EQ(window().windowTitle(), "Kelvane");
    const std::pair<const char*, bool> boxes[] = {
        {"addMissingCheck", true},      {"deleteMissingCheck", true},
        {"confirmDeletesCheck", false}, {"checkSubFoldersCheck", true},
        {"checkActionsCheck", true},    {"exitOnCompletionCheck", false},
        {"silentModeCheck", false},
    };
    for (const auto& [name, on] : boxes) {
        EXPECT_EQ(button(name)->isChecked(), on) << name;
    }
    EXPECT_FALSE(button("confirmDeletesCheck")->isEnabled()) << "greyed out while checking";
    for (const char* box : {"localLocationCombo", "ftpLocationCombo"}) {
        EXPECT_EQ(child<QComboBox>(box)->currentText(), "") << box;
    }
    EXPECT_EQ(child<QComboBox>("recentFilesCombo")->count(), 0);
    EXPECT_EQ(text("connectionLabel"), "Not Connected");
    EXPECT_FALSE(fs::exists(settingsFolder())) << "nothing is written before the user leaves";

    // More Options and Configuration show what the guide's tables say.
    dialogs.onMoreOptions = [](Profile& profile) {
        EXPECT_FALSE(profile.compare_on_time) << "File Size";
        EXPECT_EQ(profile.adjust_time_hours, 0);
        EXPECT_EQ(profile.adjust_time_mins, 0);
        EXPECT_FALSE(profile.log_file_on);
        EXPECT_EQ(profile.auto_start, 0);
        return false;
    };
    click("moreOptionsButton");
    dialogs.onConfiguration = [this](ConfigurationSettings& settings, std::string& connections) {
        EXPECT_TRUE(settings.ddmmyy);
        EXPECT_TRUE(settings.showTooltips);
        EXPECT_EQ(settings.commandTimeout, 60u);
        EXPECT_EQ(settings.maxCommandRetries, 3u);
        EXPECT_TRUE(settings.isFtpConnectionTimeout);
        EXPECT_EQ(settings.ftpConnectionTimeoutSeconds, 10 * 60);
        EXPECT_EQ(fs::path(connections), settingsFolder() / "KelvaneConnections.txt");
        return false;
    };
    click("configurationButton");
    EXPECT_EQ(dialogs.calls, (std::vector<std::string>{"moreOptions", "configuration"}));

    // Help hands the guide to the desktop; here a text browser takes the desktop's place.
    QTextBrowser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "setSource");
    click("helpButton");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    const fs::path opened = browser.source().toLocalFile().toStdString();
    EXPECT_EQ(opened.filename(), "index.html");
    EXPECT_TRUE(fs::is_regular_file(opened)) << opened;
    EXPECT_EQ(browser.documentTitle(), "Kelvane user guide");
    EXPECT_TRUE(prompter.messages.empty());

    click("exitButton");
    EXPECT_TRUE(fs::is_regular_file(settingsFolder() / kSettingsFileName))
        << "leaving creates the settings folder";
}

TEST_F(FirstRunTest, TheGuidesFirstStepsSynchroniseASite) {
    testsupport::PyFtpdServer server;
    ASSERT_TRUE(server.start()) << server.error();
    const fs::path site = folder("site");
    fs::create_directories(site / "css");
    fs::create_directories(server.root() / "public_html");
    testsupport::writeFile(site / "index.html", "<html>home</html>");
    testsupport::writeFile(site / "css" / "site.css", "body { margin: 0 }");
    testsupport::writeFile(server.root() / "public_html" / "old.html", "<html>gone</html>");

    // "The first connection": kelvane-cli, before Kelvane starts.
    testsupport::CliProcess added(
        {"--config-dir", settingsFolder().string(), "connections", "add", "mysite", "--server",
         server.host(), "--port", std::to_string(server.port()), "--user", server.user(),
         "--password-stdin", "--tls", "off"},
        folder("cli"), -1, server.password() + "\n");
    const testsupport::CliResult result = added.finish();
    ASSERT_EQ(result.status, 0) << result.err;

    // "The first profile": the two boxes typed, each ended with Enter, then Save As.
    start();
    typeInto("localLocationCombo", site.string());
    const std::string ftpLocation = "FTP:mysite" + server.remote("public_html") + "/";
    ASSERT_EQ(ftpLocation, "FTP:mysite/public_html/") << "as the guide writes it";
    typeInto("ftpLocationCombo", ftpLocation);
    EXPECT_TRUE(window().isVisible()) << "Enter in a location box presses no button";
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(window().synchroniser().selectedConnection->name, "mysite");

    const fs::path profile = folder("profiles") / "site.kvp";
    files.answers = {profile.string()};
    click("saveAsButton");
    Profile saved;
    ASSERT_TRUE(saved.loadFromFile(profile));
    EXPECT_EQ(saved.location1, site.string());
    EXPECT_EQ(saved.location2, ftpLocation);
    EXPECT_NE(window().windowTitle().indexOf("site"), -1) << "the title names the profile";
    EXPECT_EQ(child<QComboBox>("recentFilesCombo")->itemText(0).toStdString(), profile.string());

    // "A run" and "The review": the plan shows the new files and the delete; OK runs it.
    dialogs.onReview = [](PlanForReview& plan) {
        EXPECT_EQ(plan.addFileTargets.size(), 1u);  // css/ goes up with its folder
        EXPECT_EQ(plan.addFolderTargets.size(), 1u);
        EXPECT_EQ(plan.deleteFiles.size(), 1u);
        return true;
    };
    click("synchroniseButton");
    ASSERT_EQ(dialogs.reports.size(), 1u);
    EXPECT_EQ(dialogs.reports[0].heading, "Synchronisation done:\n");
    EXPECT_TRUE(dialogs.reports[0].problems.empty())
        << ::testing::PrintToString(dialogs.reports[0].problems);
    EXPECT_TRUE(prompter.messages.empty());
    const fs::path published = server.root() / "public_html";
    EXPECT_EQ(testsupport::readFile(published / "index.html"), "<html>home</html>");
    EXPECT_EQ(testsupport::readFile(published / "css" / "site.css"), "body { margin: 0 }");
    EXPECT_FALSE(fs::exists(published / "old.html"));
    EXPECT_TRUE(button("lastReportButton")->isEnabled());

    // The next start opens the profile again.
    click("exitButton");
    EXPECT_EQ(store().readString("ProfilePath"), profile.string());
    start();
    EXPECT_EQ(window().synchroniser().openedPath, profile.string());
    EXPECT_EQ(child<QComboBox>("localLocationCombo")->currentText().toStdString(), site.string());
}

}  // namespace
}  // namespace mainwindowtest
