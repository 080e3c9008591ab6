// "Browse FTP Connection" on a local pyftpdlib with a few folders and exclusions marked, and as
// the chooser of the FTP location; the FTP and local exclusion dialogs with their entries (one
// local entry gone, so that Lost Files shows); the wildcard entry.

#include <QComboBox>
#include <cstdio>
#include <filesystem>
#include <map>

#include "common/Prompter.h"
#include "profiles/ExclusionSet.h"
#include "screenshots/Screenshot.h"
#include "support/PyFtpdServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionDetails.h"
#include "ui/browse/BrowseFtpDlg.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/settings/FtpExclusionsDlg.h"
#include "ui/settings/LocalExclusionsDlg.h"
#include "ui/settings/WildcardDlg.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    testsupport::writeFile(path, bytes);
}

// Selects the rows of `names` in the dialog's list.
void select(FtpFileBrowseCtrl& list, const std::vector<std::string>& names) {
    std::vector<int> rows;
    for (int row = 0; row < list.rowCount(); ++row) {
        for (const std::string& name : names) {
            if (list.entryAtRow(row)->name == name) {
                rows.push_back(row);
            }
        }
    }
    list.selectRows(rows);
}

void renderFtpBrowse(const ScreenshotContext& context) {
    testsupport::PyFtpdServer server;
    if (!server.start()) {
        std::fprintf(stderr, "ftpbrowse: pyftpdlib did not start: %s\n", server.error().c_str());
        return;
    }
    testsupport::RecordingPrompter prompter;
    Prompter* previousPrompter = setPrompter(&prompter);

    const fs::path site = server.root() / "harbour";
    for (const auto& [path, bytes] : std::map<std::string, std::string>{
             {"index.html", "<html>home</html>"},
             {"timetable.html", std::string(2400, 't')},
             {"contact.html", "<html>write to us</html>"},
             {"draft.html", "<html>draft</html>"},
             {"notes.txt", "scratch"},
             {"css/site.css", "body {}"},
             {"gallery/quay.jpg", std::string(48213, 'Q')},
             {"gallery/boats/ferry.jpg", std::string(120345, 'F')},
             {"old/index.html", "<html>old site</html>"},
             {"stats/2026-05.html", "<html>May</html>"},
             {"stats/2026-06.html", "<html>June</html>"},
         }) {
        put(site / path, bytes);
    }

    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = "Harbour Site";
    connection->server = server.host();
    connection->port = server.port();
    connection->user = server.user();
    connection->password = server.password();
    connection->passive = true;
    ConnectionList connections{connection};
    std::shared_ptr<ConnectionDetails> active = connection;
    // Connected before the dialogs open: no "Please wait..." in the way.
    if (!connection->connectFtp()) {
        std::fprintf(stderr, "ftpbrowse: could not connect\n");
        setPrompter(previousPrompter);
        return;
    }
    const std::string siteFolder = server.remote("harbour") + "/";

    ExclusionSet ftpSet;
    ftpSet.addPath(siteFolder + "old/");
    ftpSet.addPath(siteFolder + "stats/");
    ftpSet.addPath(siteFolder + "draft.html");
    ftpSet.addPath(siteFolder + "private/");  // gone from the server
    ftpSet.addWildcard("*.txt");
    ftpSet.sort();
    {
        BrowseFtpDlg dialog(connections, active, siteFolder, &ftpSet);
        dialog.resize(820, 520);
        dialog.OnTimer();
        dialog.findChild<QComboBox*>("viewStyleCombo")->setCurrentIndex(3);
        select(dialog.list(), {"contact.html", "gallery"});
        context.save(dialog, "BrowseFtpDlg");
    }
    {
        // As the FTP location's chooser: no exclusion controls, one folder chosen.
        BrowseFtpDlg dialog(connections, active, siteFolder, nullptr);
        dialog.resize(820, 480);
        dialog.OnTimer();
        select(dialog.list(), {"gallery"});
        context.save(dialog, "BrowseFtpDlg-location");
    }
    {
        // Lost Files has found the folder the server no longer has.
        FtpExclusionsDlg dialog(ftpSet, connections, active, siteFolder);
        dialog.OnLostFiles();
        context.save(dialog, "FtpExclusionsDlg");
    }
    connection->disconnectFtp();

    testsupport::TempFolder work("kelvane-ftpbrowse-screens");
    const fs::path local = work.path() / "harbour";
    for (const char* path : {"index.html", "drafts/summer.html", "downloads/tide-tables.pdf"}) {
        put(local / path, "x");
    }
    ExclusionSet localSet;
    localSet.addPath((local / "drafts").string() + "/");
    localSet.addPath((local / "downloads" / "tide-tables.pdf").string());
    localSet.addPath((local / "photos-raw").string() + "/");  // gone from the disk
    localSet.addWildcard("*.bak");
    localSet.addWildcard((local / "logs").string() + "/*.log");
    localSet.sort();
    {
        LocalExclusionsDlg dialog(localSet);
        dialog.OnLostFiles();
        context.save(dialog, "LocalExclusionsDlg");
    }
    {
        WildcardDlg dialog(local.string() + "/");
        dialog.setWildcard((local / "logs").string() + "/*.log");
        context.save(dialog, "WildcardDlg");
    }
    setPrompter(previousPrompter);
}

const ScreenshotRegistrar registrar("ftpbrowse", renderFtpBrowse);

}  // namespace
