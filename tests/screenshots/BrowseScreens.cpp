// The browsing windows with real content: the explorer view of a plan analysed from a real
// temporary tree against a local pyftpdlib (review, and the results with the failures of files
// taken away between review and execution), the legend, the FTP list and tree of that server in
// each view style, a local list and the Directory Name dialog.

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "common/Prompter.h"
#include "engine/ConnectingLogic.h"
#include "engine/Synchroniser.h"
#include "screenshots/Screenshot.h"
#include "support/PyFtpdServer.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "transfer/FtpLocation.h"
#include "ui/browse/BrowseListener.h"
#include "ui/browse/BrowseOrder.h"
#include "ui/browse/DirNameDlg.h"
#include "ui/browse/FtpFileBrowseCtrl.h"
#include "ui/browse/FtpFolderBrowseCtrl.h"
#include "ui/browse/SysFileBrowseCtrl.h"
#include "ui/report/ActionLegendDlg.h"
#include "ui/report/BrowseFilesDlg.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path& path, const std::string& bytes, fs::file_time_type when) {
    fs::create_directories(path.parent_path());
    testsupport::writeFile(path, bytes);
    fs::last_write_time(path, when);
}

std::vector<FileEntryPtr> entriesOf(std::initializer_list<const EntrySet*> sets) {
    std::vector<FileEntryPtr> entries;
    for (const EntrySet* set : sets) {
        entries.insert(entries.end(), set->begin(), set->end());
    }
    return entries;
}

// The explorer view at the site's folder, in the report style, with `select` chosen.
void saveExplorer(const ScreenshotContext& context, std::vector<FileEntryPtr> entries,
                  const std::string& folder, bool review, const QString& name) {
    BrowseFilesDlg dialog(entries, folder, true, review);
    dialog.resize(760, 440);
    dialog.OnTimer();
    dialog.findChild<QComboBox*>("viewStyleCombo")->setCurrentIndex(3);
    context.save(dialog, name);
}

// Shows what the run plans and does, at the moments the run shows them.
class ExplorerView final : public SynchroniserView {
  public:
    ExplorerView(const ScreenshotContext& context, fs::path local, std::string folder)
        : context_(context), local_(std::move(local)), folder_(std::move(folder)) {}

    void setStatus(const std::string&) override {}
    void setPhase(const std::string&) override {}
    void setProgress(int, const std::string&, const std::string&) override {}
    void setRetries(const std::string&, const std::string&) override {}
    void refreshControls() override {}
    void closeProgram() override {}
    bool connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) override {
        return connectAsDialogWould(connection);
    }

    bool reviewPlan(PlanForReview& plan) override {
        saveExplorer(context_,
                     entriesOf({&plan.overwriteTargets, &plan.addFileTargets, &plan.deleteFiles,
                                &plan.addFolderTargets, &plan.deleteFolders}),
                     folder_, true, "BrowseFilesDlg-review");
        // Taken away behind the run's back: their uploads fail.
        fs::remove(local_ / "contact.html");
        fs::remove_all(local_ / "gallery");
        return true;
    }

    void showReport(const ReportData& report) override {
        const ActionLists& l = *report.lists;
        saveExplorer(
            context_,
            entriesOf({&l.overwrittenFiles, &l.addedFiles, &l.deletedFiles, &l.addedFolders,
                       &l.deletedFolders, &l.failedOverwrittenFiles, &l.failedAddedFiles,
                       &l.failedDeletedFiles, &l.failedAddedFolders, &l.failedDeletedFolders}),
            folder_, false, "BrowseFilesDlg-results");
    }

  private:
    const ScreenshotContext& context_;
    fs::path local_;
    std::string folder_;
};

// A list and its tree side by side with a status line, as the browse dialogs hold them.
class BrowsePane final : public QWidget, public BrowseListener {
  public:
    BrowsePane() {
        auto* layout = new QVBoxLayout(this);
        splitter = new QSplitter(this);
        layout->addWidget(splitter, 1);
        status = new QLabel(this);
        status->setFrameShape(QFrame::StyledPanel);
        layout->addWidget(status);
        resize(720, 380);
    }
    void directoryChanged() override {}
    void showStatus(const std::string& text) override {
        status->setText(QString::fromStdString(text));
    }
    void folderRemoved(const FileEntryPtr&) override {}
    void folderAdded(const FileEntryPtr&) override {}
    void currentPathChanged(const std::string&) override {}
    void folderRenamed(const FileEntryPtr&, const FileEntryPtr&) override {}

    QSplitter* splitter;
    QLabel* status;
};

void renderBrowse(const ScreenshotContext& context) {
    testsupport::PyFtpdServer server;
    if (!server.start()) {
        std::fprintf(stderr, "browse: pyftpdlib did not start: %s\n", server.error().c_str());
        return;
    }
    testsupport::TempFolder work("kelvane-browse-screens");
    testsupport::RecordingPrompter prompter;
    Prompter* previousPrompter = setPrompter(&prompter);

    const auto now = fs::file_time_type::clock::now();
    const auto lastMonth = now - std::chrono::hours(24 * 30);
    const auto today = now - std::chrono::hours(2);
    const fs::path local = work.path() / "site";
    const fs::path site = server.root() / "harbour";
    const std::map<std::string, std::string> localFiles = {
        {"index.html", "<html>home, new look</html>"},
        {"contact.html", "<html>write to us</html>"},
        {"timetable.html", std::string(2400, 't')},
        {"css/site.css", "body { margin: 0 }"},
        {"css/print.css", "nav { display: none }"},
        {"gallery/quay.jpg", std::string(48213, 'Q')},
        {"gallery/boats/ferry.jpg", std::string(120345, 'F')},
        {"downloads/tide-tables-2026.pdf", std::string(1534021, 'P')},
    };
    for (const auto& [relative, bytes] : localFiles) {
        put(local / relative, bytes, today);
    }
    const std::map<std::string, std::string> serverFiles = {
        {"index.html", "<html>home</html>"},
        {"timetable.html", "<html>old times</html>"},
        {"css/site.css", "body { margin: 4px }"},
        {"draft.html", "<html>draft</html>"},
        {"notes.txt", "scratch"},
        {"old/index.html", "<html>old site</html>"},
        {"old/logo.gif", "GIF89a"},
    };
    for (const auto& [relative, bytes] : serverFiles) {
        put(site / relative, bytes, lastMonth);
    }

    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = "Harbour Site";
    connection->server = server.host();
    connection->port = server.port();
    connection->user = server.user();
    connection->password = server.password();
    connection->passive = true;

    const std::string siteFolder = server.remote("harbour") + "/";
    {
        ExplorerView view(context, local, siteFolder);
        Synchroniser sync(view);
        sync.connections.push_back(connection);
        Profile& profile = sync.profile;
        profile.location1 = local.string() + "/";
        profile.location2 = makeFtpLocation(connection->name, siteFolder);
        profile.check_actions = true;
        profile.delete_files = true;
        const std::string profilePath = (work.path() / "harbour.kvp").string();
        profile.saveToFile(profilePath);
        if (!sync.loadFile(profilePath, true, false)) {
            std::fprintf(stderr, "browse: the profile did not load\n");
        }
        sync.synchronise();
    }

    ActionLegendDlg legend;
    context.save(legend, "ActionLegendDlg");

    DirNameDlg names;
    names.setDirectoryName("summer-2026");
    context.save(names, "DirNameDlg");

    // The server as the run left it, in each view style.
    if (!connection->isConnected()) {
        connection->connectFtp();
    }
    const struct {
        int style;
        const char* name;
    } styles[] = {{FileBrowseCtrl::List, "FtpFileBrowseCtrl-list"},
                  {FileBrowseCtrl::LargeIcons, "FtpFileBrowseCtrl-icons"},
                  {FileBrowseCtrl::SmallIcons, "FtpFileBrowseCtrl-small"},
                  {FileBrowseCtrl::Report, "FtpFileBrowseCtrl-details"}};
    for (const auto& s : styles) {
        BrowsePane pane;
        std::vector<FileEntryPtr> selection;
        auto* tree = new FtpFolderBrowseCtrl(pane, pane.splitter);
        auto* list = new FtpFileBrowseCtrl(selection, pane, true, pane.splitter);
        pane.splitter->addWidget(tree);
        pane.splitter->addWidget(list);
        pane.splitter->setSizes({220, 500});
        tree->setConnection(connection);
        list->setConnection(connection);
        tree->initialise(siteFolder, connection->homeDirectory);
        list->initialise();
        list->setDirectory(siteFolder);
        list->setViewStyle(s.style);
        context.save(pane, s.name);
    }
    connection->disconnectFtp();

    BrowsePane pane;
    std::vector<FileEntryPtr> selection;
    auto* list = new SysFileBrowseCtrl(selection, pane, true, pane.splitter);
    pane.splitter->addWidget(list);
    list->initialise();
    list->setDirectory(local.string() + "/");
    list->setViewStyle(FileBrowseCtrl::Report);
    list->selectRows({1});
    pane.resize(560, 300);
    context.save(pane, "SysFileBrowseCtrl-details");

    setPrompter(previousPrompter);
}

const ScreenshotRegistrar registrar("browse", renderBrowse);

}  // namespace
