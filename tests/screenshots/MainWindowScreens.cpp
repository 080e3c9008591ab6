// The main window idle, in the middle of a throttled upload to a real pyftpdlib (progress, time
// remaining and a retry showing), and in silent mode; and the delete confirmation.

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "common/Prompter.h"
#include "gui/mainwindow/MainWindowScript.h"
#include "profiles/Profile.h"
#include "profiles/SettingsStore.h"
#include "screenshots/Screenshot.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/TimedCommand.h"
#include "ui/QtMessagePump.h"
#include "ui/mainwindow/CSynchroniserDlg.h"
#include "ui/mainwindow/ConfirmDlg.h"

namespace fs = std::filesystem;
using mainwindowtest::ScriptedPrompter;
using mainwindowtest::ScriptedWindowDialogs;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

// A small web site, its settings folder and a profile that sends it to "FTP:Site/".
struct SiteSetup {
    TempFolder work{"kelvane-shots"};
    fs::path site = work.path() / "site";
    fs::path settings = work.path() / "settings";

    SiteSetup() {
        fs::create_directories(site / "images");
        fs::create_directories(settings);
        writeFile(site / "index.html", "<html><body>Welcome</body></html>\n");
        writeFile(site / "contact.html", "<html><body>Contact us</body></html>\n");
        writeFile(site / "images" / "logo.png", testsupport::randomBytes(20000, 3));
    }

    void saveConnection(const std::string& host, std::uint16_t port, const std::string& user,
                        const std::string& password) {
        mainwindowtest::writeSiteConnection(settings / "KelvaneConnections.txt", host, port, user,
                                            password);
    }

    fs::path saveProfile(bool silent) {
        Profile profile;
        profile.location1 = site.string();
        profile.location2 = "FTP:Site/";
        profile.check_actions = !silent;
        profile.silent_mode = silent;
        const fs::path path = work.path() / (silent ? "nightly.kvp" : "site.kvp");
        profile.saveToFile(path);
        return path;
    }
};

// The process-wide front ends for as long as one window is shown.
struct FrontEnds {
    FrontEnds() {
        setMessagePump(&pump);
        setPrompter(&prompter);
    }
    ~FrontEnds() {
        waitForCommandWorkers(std::chrono::milliseconds(5000));
        setPrompter(nullptr);
        setMessagePump(nullptr);
        quietMode = false;
    }
    QtMessagePump pump;
    ScriptedPrompter prompter;
};

void idleWindow(const ScreenshotContext& context, bool silent) {
    FrontEnds frontEnds;
    SiteSetup setup;
    setup.saveConnection("ftp.example.org", 21, "webmaster", "secret");
    const fs::path profile = setup.saveProfile(silent);
    FileSettingsStore store(setup.settings);
    ScriptedWindowDialogs dialogs;
    CSynchroniserDlg window(dialogs, store, setup.settings, profile.string());
    context.save(window, silent ? "main-silent" : "main-idle");
}

// Uploads a large file to a throttled server whose first STOR fails, so that the second attempt
// runs slowly with "Retries 1" showing; grabs the window part-way and presses Stop. The file is
// large enough that the socket buffers of loopback take only part of it at once. It is the only
// file: with several logins another file's STOR could reach the server first and take the
// failure.
void runningWindow(const ScreenshotContext& context) {
    testsupport::PyFtpdServer::Options options;
    options.uploadBytesPerSecond = 1024 * 1024;
    options.failedStores = 1;
    testsupport::PyFtpdServer server(options);
    if (!server.start()) {
        std::fprintf(stderr, "main-running: %s\n", server.error().c_str());
        return;
    }
    FrontEnds frontEnds;
    SiteSetup setup;
    fs::remove_all(setup.site);
    fs::create_directories(setup.site);
    writeFile(setup.site / "archive.zip", testsupport::randomBytes(32 * 1024 * 1024, 7));
    setup.saveConnection(server.host(), server.port(), server.user(), server.password());
    Profile profile;
    profile.location1 = setup.site.string();
    profile.location2 = "FTP:Site/";
    profile.check_actions = false;
    const fs::path path = setup.work.path() / "site.kvp";
    profile.saveToFile(path);

    FileSettingsStore store(setup.settings);
    ScriptedWindowDialogs dialogs;
    CSynchroniserDlg window(dialogs, store, setup.settings, path.string());
    window.show();
    auto* bar = window.findChild<QProgressBar*>("progressBar");
    auto* retries = window.findChild<QLabel*>("retriesLabel");
    bool saved = false;
    QTimer watch;
    watch.setInterval(100);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!saved && bar->value() >= 50 && retries->text() == "Retries") {
            saved = true;
            context.save(window, "main-running");
            requestStop();
        } else if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "main-running: the upload did not get under way\n");
            requestStop();
        }
    });
    watch.start();
    window.OnSynch12();
    watch.stop();
    if (!saved) {
        for (const std::string& message : frontEnds.prompter.messages) {
            std::fprintf(stderr, "main-running: %s\n", message.c_str());
        }
        for (const auto& report : dialogs.reports) {
            std::fprintf(stderr, "main-running: report %s", report.heading.c_str());
            for (const std::string& line : report.problems) {
                std::fprintf(stderr, "  %s\n", line.c_str());
            }
        }
    }
}

void confirmDialog(const ScreenshotContext& context) {
    ConfirmDlg dialog("Delete File", "Delete file: /public_html/old/press-release-2019.html", "",
                      "", "");
    context.save(dialog, "confirm-delete");
}

const ScreenshotRegistrar registrar("mainwindow", [](const ScreenshotContext& context) {
    idleWindow(context, false);
    idleWindow(context, true);
    runningWindow(context);
    confirmDialog(context);
});

}  // namespace
