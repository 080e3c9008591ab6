// The dialogs of a run and of the options, filled from a real run: a temporary site is
// synchronised to a local pyftpdlib, with files taken away between the review and the execution
// so that the results hold real failures and the report real problem lines.

#include <QListWidget>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "engine/ConnectingLogic.h"
#include "engine/Synchroniser.h"
#include "profiles/AppSettings.h"
#include "profiles/BatchList.h"
#include "profiles/SettingsStore.h"
#include "screenshots/Screenshot.h"
#include "support/PyFtpdServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "transfer/FtpLocation.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/report/ProblemLogDlg.h"
#include "ui/report/SyncReportDlg.h"
#include "ui/report/SyncResultsDlg.h"
#include "ui/settings/AboutDlg.h"
#include "ui/settings/BatchDlg.h"
#include "ui/settings/ConfigurationDlg.h"
#include "ui/settings/MoreOptionsDlg.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path& path, const std::string& bytes, fs::file_time_type when) {
    fs::create_directories(path.parent_path());
    testsupport::writeFile(path, bytes);
    fs::last_write_time(path, when);
}

// Renders the dialogs at the moments the run shows them, with the run's own data.
class ScreenshotView final : public SynchroniserView {
  public:
    ScreenshotView(const ScreenshotContext& context, fs::path local, fs::path server)
        : context_(context), local_(std::move(local)), server_(std::move(server)) {}

    void setStatus(const std::string&) override {}
    void setPhase(const std::string&) override {}
    void setProgress(int, const std::string&, const std::string&) override {}
    void setRetries(const std::string&, const std::string&) override {}
    void refreshControls() override {}
    void closeProgram() override {}

    bool connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) override {
        {
            ConnectingDlg dialog(connection);
            context_.save(dialog, "ConnectingDlg");
        }
        return connectAsDialogWould(connection);
    }

    bool reviewPlan(PlanForReview& plan) override {
        if (reviews_++ == 0) {
            SyncResultsDlg overwrite(plan);
            context_.save(overwrite, "SyncResultsDlg-review");
            SyncResultsDlg add(plan);
            add.showCategory(1);
            auto* list = add.findChild<QListWidget*>("entryList");
            for (int row : {0, 2}) {
                if (QListWidgetItem* item = list->item(row)) {
                    item->setSelected(true);
                }
            }
            context_.save(add, "SyncResultsDlg-review-add-files");
            // Taken away behind the run's back: these actions fail when they are executed.
            fs::remove(local_ / "js" / "menu.js");
            fs::remove_all(local_ / "news");
            fs::remove(server_ / "draft.html");
            fs::remove_all(server_ / "archive");
        }
        return true;
    }

    void showReport(const ReportData& report) override {
        SyncReportDlg dialog(report);
        if (reports_++ == 0) {
            context_.save(dialog, "SyncReportDlg-problems");
            std::unique_ptr<ProblemLogDlg> problems = dialog.makeProblemLog();
            context_.save(*problems, "ProblemLogDlg");
            std::unique_ptr<SyncResultsDlg> added = dialog.makeDetails();
            added->showCategory(1);
            context_.save(*added, "SyncResultsDlg-results-add-files");
            std::unique_ptr<SyncResultsDlg> deleted = dialog.makeDetails();
            deleted->showCategory(2);
            context_.save(*deleted, "SyncResultsDlg-results-delete-files");
        } else {
            context_.save(dialog, "SyncReportDlg-done");
        }
    }

  private:
    const ScreenshotContext& context_;
    fs::path local_;
    fs::path server_;
    int reviews_ = 0;
    int reports_ = 0;
};

void renderDialogs(const ScreenshotContext& context) {
    testsupport::PyFtpdServer server;
    if (!server.start()) {
        std::fprintf(stderr, "dialogs: pyftpdlib did not start: %s\n", server.error().c_str());
        return;
    }
    testsupport::TempFolder work("kelvane-screens");
    testsupport::RecordingPrompter prompter;
    Prompter* previousPrompter = setPrompter(&prompter);

    const auto now = fs::file_time_type::clock::now();
    const auto lastWeek = now - std::chrono::hours(24 * 7);
    const auto anHourAgo = now - std::chrono::hours(1);
    const fs::path local = work.path() / "site";
    const fs::path site = server.root() / "www";
    const std::map<std::string, std::string> localFiles = {
        {"index.html", "<html>home, new look</html>"},
        {"about.html", "<html>about us, rewritten</html>"},
        {"contact.html", "<html>write to us</html>"},
        {"css/site.css", "body { margin: 0; font-family: sans-serif }"},
        {"css/print.css", "nav { display: none }"},
        {"img/logo.png", std::string(4096, 'L')},
        {"img/banner.jpg", std::string(20000, 'B')},
        {"img/photos/harbour.jpg", std::string(30000, 'H')},
        {"img/photos/lighthouse.jpg", std::string(25000, 'T')},
        {"js/menu.js", "function open() {}"},
        {"news/2026-spring.html", "<html>spring</html>"},
        {"news/2026-summer.html", "<html>summer</html>"},
    };
    for (const auto& [relative, bytes] : localFiles) {
        put(local / relative, bytes, anHourAgo);
    }
    const std::map<std::string, std::string> serverFiles = {
        {"index.html", "<html>home</html>"},
        {"about.html", "<html>about</html>"},
        {"css/site.css", "body { margin: 4px }"},
        {"draft.html", "<html>draft</html>"},
        {"img/logo.png", std::string(3000, 'l')},
        {"js/jquery.js", "/* jQuery */"},
        {"temp.txt", "scratch"},
        {"old/index.html", "<html>old site</html>"},
        {"old/logo.gif", "GIF89a"},
        {"archive/2019.html", "<html>2019</html>"},
    };
    for (const auto& [relative, bytes] : serverFiles) {
        put(site / relative, bytes, lastWeek);
    }

    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = "Harbour Site";
    connection->server = server.host();
    connection->port = server.port();
    connection->user = server.user();
    connection->password = server.password();
    connection->passive = true;

    ScreenshotView view(context, local, site);
    Synchroniser sync(view);
    sync.connections.push_back(connection);
    Profile& profile = sync.profile;
    profile.location1 = local.string() + "/";
    profile.location2 = makeFtpLocation(connection->name, server.remote("www") + "/");
    profile.check_actions = true;
    profile.log_file_on = true;
    profile.log_file_path = (work.path() / "harbour-site.txt").string();
    profile.auto_start = 1;
    const std::string profilePath = (work.path() / "harbour-site.kvp").string();
    profile.saveToFile(profilePath);
    if (!sync.loadFile(profilePath, true, false)) {
        std::fprintf(stderr, "dialogs: the profile did not load\n");
    }
    sync.synchronise();
    sync.synchronise();
    connection->disconnectFtp();

    MoreOptionsDlg moreOptions(sync.profile);
    context.save(moreOptions, "MoreOptionsDlg");

    FileSettingsStore store(work.path());
    AppSettings settings(store, work.path());
    settings.readAtStart();
    ConfigurationDlg configuration(settings.configuration, settings.connectionsFileName);
    context.save(configuration, "ConfigurationDlg");
    AboutDlg about;
    context.save(about, "AboutDlg");

    BatchList batch;
    for (const char* name :
         {"harbour-site.kvp", "lighthouse-club.kvp", "harbour-site-mirror.kvp"}) {
        Profile batchProfile = profile;
        const std::string path = (work.path() / name).string();
        batchProfile.saveToFile(path);
        batch.profilePaths.push_back(path);
    }
    BatchDlg batchDialog(batch, &store);
    batchDialog.findChild<QListWidget*>("profileList")->setCurrentRow(1);
    context.save(batchDialog, "BatchDlg");

    setPrompter(previousPrompter);
}

const ScreenshotRegistrar registrar("dialogs", renderDialogs);

}  // namespace
