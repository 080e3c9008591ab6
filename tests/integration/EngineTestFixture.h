#pragma once

// A synchroniser between a temporary local tree and the folder "site" of a real FTP server
// (pyftpdlib and vsftpd), for the tests of analysis and execution. Both trees are made and
// checked directly on disk; the synchroniser sees the server only through FTP.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "engine/Synchroniser.h"
#include "support/CommandGlobals.h"
#include "support/FakeSynchroniserView.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "support/VsftpdServer.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionMonitor.h"
#include "transfer/Progress.h"
#include "transfer/TimedCommand.h"
#include "transfer/ftp/FtpConnection.h"

namespace enginetest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Answers delete confirmations from a script and records each question.
class ScriptedPrompter final : public Prompter {
  public:
    struct Question {
        std::string caption;
        std::string line1;
    };
    void messageBox(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string&) override { return false; }
    ConfirmAnswer confirmDelete(const std::string& caption, const std::string& line1,
                                const std::string&, const std::string&,
                                const std::string&) override {
        questions.push_back({caption, line1});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << caption << " " << line1;
            return ConfirmAnswer::Cancel;
        }
        const ConfirmAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<ConfirmAnswer> answers;
    std::vector<Question> questions;
    std::vector<std::string> messages;
};

inline std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

// Every file below `root` with its bytes, and every folder (with a trailing "/" and no bytes),
// by path relative to root.
inline std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    if (!fs::is_directory(root)) {
        return tree;
    }
    for (const fs::directory_entry& item : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(item.path(), root).string();
        if (item.is_directory()) {
            tree[relative + "/"] = "";
        } else {
            tree[relative] = testsupport::readFile(item.path());
        }
    }
    return tree;
}

inline void setModifiedTime(const fs::path& path, std::time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

template <typename Server>
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Failures are part of these tests; on loopback a retry would only repeat them.
        globals_.takeOver(10, 0, &prompter_);
        bytesDone = 0;
        ASSERT_TRUE(server_.start()) << server_.error();
        fs::create_directory(serverSite());

        connection_ = std::make_shared<ConnectionDetails>();
        connection_->name = server_.name();
        connection_->server = server_.host();
        connection_->port = server_.port();
        connection_->user = server_.user();
        connection_->password = server_.password();
        connection_->passive = true;
        ASSERT_TRUE(connection_->connectFtp()) << lastErrorText() << "\n" << server_.serverLog();

        sync_.options.addMissing = true;
        sync_.options.deleteMissing = true;
        sync_.options.confirmDeletes = false;
        sync_.options.checkSubFolders = true;
        sync_.profile.compare_on_time = true;
        sync_.selectedConnection = connection_;
        sync_.prepareLocations();
    }

    void TearDown() override {
        if (connection_) {
            connection_->disconnectFtp();
        }
        globals_.giveBack();
        bytesDone = 0;
    }

    // ---- The two trees ----
    fs::path localRoot() const { return local_.path(); }
    fs::path serverSite() const { return server_.root() / "site"; }
    // The folders as the synchroniser is given them.
    std::string localFolder() const { return local_.path().string() + "/"; }
    std::string remoteSite() const { return withSlash(server_.remote("site")); }

    // A time two days ago on a whole minute: servers that list by LIST show recent files to the
    // minute only.
    static std::time_t baseTime() {
        static const std::time_t base = (std::time(nullptr) - 2 * 86400) / 60 * 60;
        return base;
    }

    void putLocal(const std::string& relative, const std::string& bytes,
                  std::time_t modified = baseTime()) {
        const fs::path path = localRoot() / relative;
        fs::create_directories(path.parent_path());
        testsupport::writeFile(path, bytes);
        setModifiedTime(path, modified);
    }
    void putServer(const std::string& relative, const std::string& bytes,
                   std::time_t modified = baseTime()) {
        const fs::path path = serverSite() / relative;
        fs::create_directories(path.parent_path());
        testsupport::writeFile(path, bytes);
        setModifiedTime(path, modified);
    }
    void localFolderAt(const std::string& relative) {
        fs::create_directories(localRoot() / relative);
    }
    void serverFolderAt(const std::string& relative) {
        fs::create_directories(serverSite() / relative);
    }

    // ---- Running ----
    bool analyse() { return sync_.analyseDirectory(localFolder(), remoteSite()); }

    // A path of the target side relative to the site, as the plans and results name it.
    std::string relative(const FileEntry& entry) const {
        const std::string full = entry.fullPath();
        const std::string site = remoteSite();
        EXPECT_EQ(full.compare(0, site.size(), site), 0) << full << " is not below " << site;
        return full.size() >= site.size() ? full.substr(site.size()) : full;
    }
    std::vector<std::string> targets(const ActionPairMap& pairs) const {
        std::vector<std::string> paths;
        for (const auto& [key, pair] : pairs) {
            paths.push_back(relative(*pair.target));
        }
        return paths;
    }
    std::vector<std::string> paths(const EntrySet& entries) const {
        std::vector<std::string> result;
        for (const FileEntryPtr& entry : entries) {
            result.push_back(relative(*entry));
        }
        return result;
    }
    std::uint64_t commandsSent() const {
        return connection_->ftp ? connection_->ftp->commandCount() : 0;
    }

    void expectServerEqualsLocal() const { EXPECT_EQ(treeOf(serverSite()), treeOf(localRoot())); }

    Server server_;
    testsupport::TempFolder local_{"kelvane-engine"};
    testsupport::FakeSynchroniserView view_;
    ScriptedPrompter prompter_;
    std::shared_ptr<ConnectionDetails> connection_;
    Synchroniser sync_{view_};

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

}  // namespace enginetest
