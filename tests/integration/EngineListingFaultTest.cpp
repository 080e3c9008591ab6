// What the analysis says when the server's listing of the target folder fails, against the
// in-process fault-injecting server: "Folder not found" only where the folder is not there, the
// real reason (the server's reply, "Timed out", a broken data connection) otherwise.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/ErrorReport.h"
#include "engine/Synchroniser.h"
#include "support/CommandGlobals.h"
#include "support/FakeSynchroniserView.h"
#include "support/FaultFtpServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/TimedCommand.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::FaultFtpServer;

namespace {

class EngineListingFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        globals_.takeOver(10, 0, &prompter_);
        ASSERT_TRUE(server_.start()) << server_.error();
        fs::create_directory(server_.root() / "site");
        testsupport::writeFile(local_.path() / "index.html", "home");
    }
    void TearDown() override { globals_.giveBack(); }

    // One analysis of the local folder against `folder` on a fresh login; its problem lines.
    ProblemList analyse(const std::string& folder) {
        auto connection = std::make_shared<ConnectionDetails>();
        connection->name = "fault";
        connection->server = server_.host();
        connection->port = server_.port();
        connection->user = server_.user();
        connection->password = server_.password();
        connection->passive = true;
        EXPECT_TRUE(connection->connectFtp()) << lastErrorText();
        testsupport::FakeSynchroniserView view;
        Synchroniser sync(view);
        sync.selectedConnection = connection;
        sync.prepareLocations();
        EXPECT_FALSE(sync.analyseDirectory(local_.path().string() + "/", folder));
        connection->disconnectFtp();
        EXPECT_TRUE(waitForCommandWorkers(10s));
        return sync.problemList;
    }

    FaultFtpServer server_;
    testsupport::RecordingPrompter prompter_;
    testsupport::TempFolder local_{"kelvane-listing-fault"};

  private:
    testsupport::CommandGlobals globals_;
};

}  // namespace

TEST_F(EngineListingFaultTest, OnlyAMissingFolderIsFolderNotFound) {
    struct Case {
        const char* what;
        const char* folder;
        std::function<void(FaultFtpServer&)> fault;
        std::string reason;  // empty: any reason but "Folder not found"
    };
    const Case cases[] = {
        {"missing", "/nowhere/", [](FaultFtpServer&) {}, "Folder not found"},
        // pyftpdlib refuses the listing of a missing folder with 501; the path itself is then
        // looked up.
        {"missing, told with 501", "/nowhere/",
         [](FaultFtpServer& s) { s.failNext("MLSD", 1, "501 No such directory."); },
         "Folder not found"},
        {"refused for now", "/site/",
         [](FaultFtpServer& s) { s.failNext("MLSD", 1, "450 Busy, try later."); },
         "450 Busy, try later."},
        {"refused for good", "/site/",
         [](FaultFtpServer& s) { s.failNext("MLSD", 1, "504 Not for this folder."); },
         "504 Not for this folder."},
        {"silent", "/site/", [](FaultFtpServer& s) { s.delayNext("MLSD", 3s); }, "Timed out"},
        {"cut off", "/site/", [](FaultFtpServer& s) { s.resetNextListing(); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A short limit for the silent server; room for a busy machine otherwise.
        commandTimeout = c.reason == "Timed out" ? 1 : 10;
        c.fault(server_);
        const ProblemList problems = analyse(c.folder);
        ASSERT_EQ(problems.size(), 2u);
        EXPECT_EQ(problems[0], std::string("CSynchroniserDlg::analyseDirectory (dst): Could not "
                                           "read folder: ") +
                                   c.folder);
        if (c.reason.empty()) {
            EXPECT_NE(problems[1], "Folder not found");
            EXPECT_FALSE(problems[1].empty());
        } else {
            EXPECT_EQ(problems[1], c.reason);
        }
    }
}
