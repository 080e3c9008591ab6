#pragma once

// The person at the screen of the main window, for tests and screenshots: scripted answers for
// every dialog the window opens, every file chooser and every message box, with a record of
// what was asked and shown.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Prompter.h"
#include "engine/ActionLists.h"
#include "engine/ConnectingLogic.h"
#include "engine/SynchroniserView.h"
#include "profiles/AppSettings.h"
#include "profiles/BatchList.h"
#include "profiles/ExclusionSet.h"
#include "profiles/Profile.h"
#include "support/FakeSynchroniserView.h"
#include "support/ScriptedPrompter.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionsFile.h"
#include "ui/mainwindow/FileDialogs.h"
#include "ui/mainwindow/WindowDialogs.h"

namespace mainwindowtest {

class ScriptedWindowDialogs final : public WindowDialogs {
  public:
    // What a report showed, copied when it was shown.
    using Report = testsupport::FakeSynchroniserView::Report;

    bool moreOptions(QWidget*, Profile& profile) override {
        calls.push_back("moreOptions");
        return onMoreOptions ? onMoreOptions(profile) : false;
    }
    bool configuration(QWidget*, ConfigurationSettings& settings,
                       std::string& connectionsFileName) override {
        calls.push_back("configuration");
        return onConfiguration ? onConfiguration(settings, connectionsFileName) : false;
    }
    bool batchList(QWidget*, BatchList& batch) override {
        calls.push_back("batchList");
        return onBatchList ? onBatchList(batch) : false;
    }
    bool reviewPlan(QWidget*, PlanForReview& plan) override {
        calls.push_back("reviewPlan");
        return onReview ? onReview(plan) : true;
    }
    void report(QWidget*, const ReportData& report) override {
        calls.push_back("report");
        reports.push_back(Report{report.heading, report.source, report.target,
                                 report.lists != nullptr ? *report.lists : ActionLists{},
                                 report.problems != nullptr ? *report.problems : ProblemList{}});
        if (onReport) {
            onReport(report);
        }
    }
    // Without a script it connects the way the real "Please wait..." dialog does.
    bool connecting(QWidget*, const std::shared_ptr<ConnectionDetails>& connection,
                    bool = false) override {
        calls.push_back("connecting");
        return onConnecting ? onConnecting(connection) : connectAsDialogWould(connection);
    }

    // With `real` set these four are the real dialogs, which the test works through runModal.
    std::optional<std::string> chooseLocalFolder(QWidget* parent,
                                                 const std::string& startPath) override {
        calls.push_back("chooseLocalFolder");
        if (real != nullptr) {
            return real->chooseLocalFolder(parent, startPath);
        }
        return onChooseLocalFolder ? onChooseLocalFolder(startPath) : std::nullopt;
    }
    // Without a script the person presses OK at once, on the folder it started in.
    FtpBrowse browseFtp(QWidget* parent, ConnectionList& connections,
                        std::shared_ptr<ConnectionDetails>& active,
                        const std::string& startFolder) override {
        calls.push_back("browseFtp");
        if (real != nullptr) {
            return real->browseFtp(parent, connections, active, startFolder);
        }
        return onBrowseFtp ? onBrowseFtp(connections, active, startFolder)
                           : FtpBrowse{true, startFolder, false};
    }
    bool ftpExclusions(QWidget* parent, ExclusionSet& exclusions, ConnectionList& connections,
                       std::shared_ptr<ConnectionDetails>& active, const std::string& ftpPath,
                       bool& connectionsChanged) override {
        calls.push_back("ftpExclusions");
        if (real != nullptr) {
            return real->ftpExclusions(parent, exclusions, connections, active, ftpPath,
                                       connectionsChanged);
        }
        return onFtpExclusions &&
               onFtpExclusions(exclusions, connections, active, ftpPath, connectionsChanged);
    }
    bool localExclusions(QWidget* parent, ExclusionSet& exclusions) override {
        calls.push_back("localExclusions");
        if (real != nullptr) {
            return real->localExclusions(parent, exclusions);
        }
        return onLocalExclusions && onLocalExclusions(exclusions);
    }

    int count(const std::string& call) const {
        int n = 0;
        for (const std::string& made : calls) {
            n += made == call ? 1 : 0;
        }
        return n;
    }

    std::function<bool(Profile&)> onMoreOptions;
    std::function<bool(ConfigurationSettings&, std::string&)> onConfiguration;
    std::function<bool(BatchList&)> onBatchList;
    std::function<bool(PlanForReview&)> onReview;
    std::function<void(const ReportData&)> onReport;
    std::function<bool(const std::shared_ptr<ConnectionDetails>&)> onConnecting;
    std::function<std::optional<std::string>(const std::string&)> onChooseLocalFolder;
    std::function<FtpBrowse(ConnectionList&, std::shared_ptr<ConnectionDetails>&,
                            const std::string&)>
        onBrowseFtp;
    std::function<bool(ExclusionSet&, ConnectionList&, std::shared_ptr<ConnectionDetails>&,
                       const std::string&, bool&)>
        onFtpExclusions;
    std::function<bool(ExclusionSet&)> onLocalExclusions;
    WindowDialogs* real = nullptr;

    std::vector<std::string> calls;
    std::vector<Report> reports;
};

using ScriptedPrompter = testsupport::ScriptedPrompter;

// Writes a connections file holding one connection "Site".
inline bool writeSiteConnection(const std::filesystem::path& file, const std::string& host,
                                std::uint16_t port, const std::string& user,
                                const std::string& password) {
    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = "Site";
    connection->server = host;
    connection->port = port;
    connection->user = user;
    connection->password = password;
    connection->passive = true;
    return saveConnections(file, {connection});
}

// File choosers answer from a queue (cancel once it is empty) and record what they were given.
class ScriptedFileDialogs final : public FileDialogs {
  public:
    struct Call {
        std::string kind;
        std::string caption;
        std::string startPath;
        std::string filter;
        std::string defaultSuffix;
    };

    std::optional<std::string> openFile(QWidget*, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& defaultSuffix) override {
        calls.push_back({"open", caption, startPath, filter, defaultSuffix});
        return next();
    }
    std::vector<std::string> openFiles(QWidget*, const std::string& caption,
                                       const std::string& startPath, const std::string& filter,
                                       const std::string& defaultSuffix) override {
        calls.push_back({"openFiles", caption, startPath, filter, defaultSuffix});
        std::optional<std::string> one = next();
        return one ? std::vector<std::string>{*one} : std::vector<std::string>{};
    }
    std::optional<std::string> saveFile(QWidget*, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& defaultSuffix) override {
        calls.push_back({"save", caption, startPath, filter, defaultSuffix});
        return next();
    }
    std::optional<std::string> chooseFolder(QWidget*, const std::string& caption,
                                            const std::string& startPath) override {
        calls.push_back({"folder", caption, startPath, "", ""});
        return next();
    }

    std::vector<std::string> answers;
    std::vector<Call> calls;

  private:
    std::optional<std::string> next() {
        if (answers.empty()) {
            return std::nullopt;
        }
        std::string answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
};

}  // namespace mainwindowtest
