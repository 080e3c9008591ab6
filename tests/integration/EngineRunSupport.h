#pragma once

// What the whole-run tests share: a scripted person (prompter and view), a profile that points a
// local tree at a folder of a real server, and the comparison of the server's folder with the
// local tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "engine/ConnectingLogic.h"
#include "engine/Synchroniser.h"
#include "engine/SynchroniserView.h"
#include "support/CommandGlobals.h"
#include "support/FakeSynchroniserView.h"
#include "support/PyFtpdServer.h"
#include "support/ScriptedPrompter.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionMonitor.h"
#include "transfer/ConnectionPool.h"
#include "transfer/FtpLocation.h"
#include "transfer/RetryDisplay.h"
#include "transfer/TimedCommand.h"

namespace enginerun {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using ScriptedPrompter = testsupport::ScriptedPrompter;

using Report = testsupport::FakeSynchroniserView::Report;

// All actions a report counts as done.
inline std::uint32_t actionsDone(const Report& report) {
    const ActionLists& lists = report.lists;
    return lists.overwrittenCount + lists.addedFilesCount + lists.deletedFilesCount +
           lists.addedFoldersCount + lists.deletedFoldersCount;
}

// The recording view, with the connecting dialog doing what the real one does when its timer
// fires, failure report included.
class RunView final : public testsupport::FakeSynchroniserView {
  public:
    bool connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) override {
        ++connectCalls;  // only ever touched on this thread
        if (pressStopWhileConnecting) {
            // The dialog's Stop button: the attempt ends without a message.
            requestStop();
            return false;
        }
        if (trustEveryCertificate) {
            // The person answers Trust to the certificate question.
            return connectAsDialogWould(
                connection, [this](const ConnectionDetails&, const ftp::CertificateInfo&) {
                    ++trustQuestions;
                    return true;
                });
        }
        return connectAsDialogWould(connection);
    }

    bool trustEveryCertificate = false;
    int trustQuestions = 0;

    int highestProgress() const {
        int highest = -1;
        for (const Progress& shown : progress) {
            highest = std::max(highest, shown.thousandths);
        }
        return highest;
    }
    bool shownPercent(const std::string& percent) const {
        return std::any_of(progress.begin(), progress.end(),
                           [&percent](const Progress& shown) { return shown.percent == percent; });
    }
    bool sawStatusStartingWith(const std::string& prefix) const {
        return !statusesStartingWith(prefix).empty();
    }

    bool pressStopWhileConnecting = false;
};

// Every regular file and folder below `root`, by relative path: a file maps to its bytes, a
// folder to "<folder>".
inline std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string relative = fs::relative(it->path(), root).generic_string();
        tree[relative] = it->is_directory() ? "<folder>" : testsupport::readFile(it->path());
    }
    return tree;
}

// A local tree described by relative path and content; a path ending in "/" is a folder.
inline void makeTree(const fs::path& root, const std::map<std::string, std::string>& files) {
    for (const auto& [relative, content] : files) {
        if (!relative.empty() && relative.back() == '/') {
            fs::create_directories(root / relative);
        } else {
            fs::create_directories((root / relative).parent_path());
            testsupport::writeFile(root / relative, content);
        }
    }
}

// Sets the modification time of every file and folder below `root` to `when`.
inline void setTreeTime(const fs::path& root, fs::file_time_type when) {
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        fs::last_write_time(item.path(), when);
    }
}

// A whole minute some hours ago, as a file time: servers that list by LIST show no seconds.
inline fs::file_time_type wholeMinuteHoursAgo(int hours) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto then = floor<minutes>(now - std::chrono::hours(hours));
    return fs::file_time_type::clock::now() -
           duration_cast<fs::file_time_type::duration>(now - then);
}

// Settings, Stop, silent mode, the prompter and the monitor are process-wide: each test starts
// from short limits and leaves everything as it found it.
template <typename Server>
class EngineRunFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        globals_.takeOver(10, 1, &prompter_);
        batchAborted = false;
        ASSERT_TRUE(server_.start()) << server_.error();
        connection_ = std::make_shared<ConnectionDetails>();
        connection_->name = "Site";
        connection_->server = server_.host();
        connection_->port = server_.port();
        connection_->user = server_.user();
        connection_->password = server_.password();
        connection_->passive = true;
        synchroniser_.connections.push_back(connection_);
    }

    void TearDown() override {
        for (const auto& connection : synchroniser_.connections) {
            connection->disconnectFtp();
        }
        globals_.giveBack();
        batchAborted = false;
    }

    // A local folder of this test (made on first use), as the location text of a profile.
    fs::path localFolder(const std::string& name) {
        const fs::path folder = work_.path() / name;
        fs::create_directories(folder);
        return folder;
    }
    // The folder `name` on the server, made on disk, and its FTP location text.
    fs::path serverFolder(const std::string& name) {
        const fs::path folder = server_.root() / name;
        fs::create_directories(folder);
        return folder;
    }
    std::string ftpLocation(const std::string& name) const {
        return makeFtpLocation("Site", server_.remote(name) + "/");
    }

    // A profile that runs unattended: silent, auto start on, no review.
    Profile silentProfile(const fs::path& local, const std::string& serverName) {
        Profile profile;
        profile.location1 = local.string() + "/";
        profile.location2 = ftpLocation(serverName);
        profile.silent_mode = true;
        profile.check_actions = false;
        profile.auto_start = 1;
        return profile;
    }
    std::string saveProfile(Profile& profile, const std::string& fileName) {
        const std::string path = (work_.path() / fileName).string();
        EXPECT_TRUE(profile.saveToFile(path));
        return path;
    }
    // Saves the profile, opens it as the person would and runs it.
    void openAndRun(Profile& profile, const std::string& fileName = "site.kvp") {
        const std::string path = saveProfile(profile, fileName);
        ASSERT_TRUE(synchroniser_.loadFile(path, true, true)) << prompterMessages();
        synchroniser_.synchronise();
    }

    std::string prompterMessages() const {
        std::string all;
        for (const std::string& message : prompter_.messages) {
            all += message + "\n";
        }
        return all;
    }
    const Report& lastReport() const { return view_.reports.back(); }

    Server server_;
    testsupport::TempFolder work_{"kelvane-engine-run"};
    ScriptedPrompter prompter_;
    RunView view_;
    Synchroniser synchroniser_{view_};
    std::shared_ptr<ConnectionDetails> connection_;

  private:
    testsupport::CommandGlobals globals_;
};

struct ServerNames {
    template <typename T>
    static std::string GetName(int) {
        return std::is_same_v<T, testsupport::PyFtpdServer> ? "pyftpdlib" : "vsftpd";
    }
};

using Servers = ::testing::Types<testsupport::PyFtpdServer, testsupport::VsftpdServer>;

}  // namespace enginerun
