// The main window with a real server behind it: the controls while a run is on, and the
// connection display.

#include "gui/mainwindow/MainWindowFixture.h"
#include "support/PyFtpdServer.h"

namespace mainwindowtest {
namespace {

class MainWindowRunTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(server_.start()) << server_.error();
        std::vector<std::shared_ptr<ConnectionDetails>> connections;
        for (const char* name : {"Site", "Other"}) {
            auto connection = std::make_shared<ConnectionDetails>();
            connection->name = name;
            connection->server = server_.host();
            connection->port = server_.port();
            connection->user = server_.user();
            connection->password = server_.password();
            connection->passive = true;
            connections.push_back(connection);
        }
        ASSERT_TRUE(saveConnections(settingsFolder() / "KelvaneConnections.txt", connections));
        testsupport::writeFile(folder("site") / "index.html", "<html></html>");
    }

    testsupport::PyFtpdServer server_;
};

TEST_F(MainWindowRunTest, WhileARunIsOnNoDisabledControlCanStartASecondCommand) {
    start(writeProfile("site.kvp").string());
    const char* disabled[] = {
        "lastReportButton", "openButton", "closeButton", "saveButton", "saveAsButton",
        "recentFilesCombo", "localExclusionsButton", "localLocationButton", "ftpLocationButton",
        "deleteMissingCheck", "addMissingCheck", "confirmDeletesCheck", "checkSubFoldersCheck",
        "checkActionsCheck", "exitOnCompletionCheck", "silentModeCheck", "moreOptionsButton",
        "batchButton", "localLocationCombo", "ftpLocationCombo", "exitButton", "connectButton",
        "ftpExclusionsButton",
        // Its folder changes would move the server under the run.
        "ftpBrowseButton"};
    bool inspected = false;
    dialogs.onReview = [&](PlanForReview& plan) {
        inspected = true;
        EXPECT_EQ(plan.addFileTargets.size(), 1u);
        EXPECT_TRUE(window().synchroniser().running);
        for (const char* name : disabled) {
            EXPECT_FALSE(child(name)->isEnabled()) << name;
        }
        const std::vector<std::string> callsBefore = dialogs.calls;
        const std::size_t filesBefore = files.calls.size();
        for (const char* name : disabled) {
            clickOn(child(name));
        }
        EXPECT_EQ(dialogs.calls, callsBefore);
        EXPECT_EQ(files.calls.size(), filesBefore);
        EXPECT_TRUE(prompter.questions.empty());
        EXPECT_TRUE(button("stopButton")->isEnabled());
        EXPECT_TRUE(child("progressGroup")->isVisible());
        EXPECT_EQ(text("runningLabel"), "Running");
        EXPECT_TRUE(child("runningLabel")->isVisible());

        // What stays enabled refuses a second run, and the window refuses to close.
        click("synchroniseButton");
        window().close();
        EXPECT_TRUE(window().isVisible());
        EXPECT_EQ(prompter.messages,
                  (std::vector<std::string>{
                      "There is already a batch or synchronisation running",
                      "Kelvane cannot be closed whilst a synchronisation is running.\nUse the Stop "
                      "button first"}));
        return false;  // Cancel: nothing is executed
    };
    click("synchroniseButton");
    EXPECT_TRUE(inspected);
    EXPECT_FALSE(window().synchroniser().running);
    EXPECT_FALSE(button("stopButton")->isEnabled());
    EXPECT_FALSE(child("progressGroup")->isVisible());
    EXPECT_TRUE(button("openButton")->isEnabled());
    EXPECT_FALSE(fs::exists(server_.root() / "index.html"));
    EXPECT_TRUE(dialogs.reports.empty()) << "a cancelled review shows no report";
}

TEST_F(MainWindowRunTest, ConnectShowsTheConnectionAndAnotherLocationAsksToBreakIt) {
    start(writeProfile("site.kvp").string());
    EXPECT_EQ(text("connectionLabel"), "Not Connected");
    click("connectButton");
    EXPECT_EQ(dialogs.count("connecting"), 1);
    EXPECT_EQ(text("connectionLabel"), "Site");
    EXPECT_EQ(button("connectButton")->text(), "Disconnect");
    const std::shared_ptr<ConnectionDetails> site = window().synchroniser().selectedConnection;

    prompter.answers = {false};
    window().useFtpLocation("FTP:Other/");
    EXPECT_EQ(prompter.questions, std::vector<std::string>{"Break current connection?"});
    EXPECT_EQ(window().synchroniser().selectedConnection, site);
    EXPECT_TRUE(site->isConnected());
    EXPECT_EQ(text("connectionLabel"), "Site");

    prompter.answers = {true};
    window().useFtpLocation("FTP:Other/www/");
    EXPECT_FALSE(site->isConnected());
    EXPECT_EQ(window().synchroniser().selectedConnection->name, "Other");
    EXPECT_EQ(text("connectionLabel"), "Not Connected");
    EXPECT_EQ(button("connectButton")->text(), "Connect");

    click("connectButton");
    EXPECT_EQ(text("connectionLabel"), "Other");
    click("connectButton");  // Disconnect
    EXPECT_FALSE(window().synchroniser().selectedConnection->isConnected());
    EXPECT_EQ(text("connectionLabel"), "Not Connected");
}

}  // namespace
}  // namespace mainwindowtest
