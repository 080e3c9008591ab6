#include "app/gui/KelvaneApplication.h"

#include <chrono>
#include <filesystem>

#include "common/MessagePump.h"
#include "common/Prompter.h"
#include "profiles/SettingsStore.h"
#include "transfer/TimedCommand.h"
#include "transfer/UnfinishedUploads.h"
#include "ui/QtMessagePump.h"
#include "ui/icons/Icons.h"
#include "ui/mainwindow/CSynchroniserDlg.h"
#include "ui/mainwindow/CommandLine.h"
#include "ui/mainwindow/QtPrompter.h"
#include "ui/mainwindow/QtWindowDialogs.h"

namespace {

// Workers abandoned by Stop or a time-out end soon once their connection is closed.
constexpr std::chrono::milliseconds kWorkerGrace{3000};

// Installs the desktop front ends for as long as the main window lives.
class FrontEnds {
  public:
    FrontEnds() {
        setMessagePump(&pump_);
        setPrompter(&prompter_);
    }
    ~FrontEnds() {
        waitForCommandWorkers(kWorkerGrace);
        setPrompter(nullptr);
        setMessagePump(nullptr);
    }
    FrontEnds(const FrontEnds&) = delete;
    FrontEnds& operator=(const FrontEnds&) = delete;

  private:
    QtMessagePump pump_;
    QtPrompter prompter_;
};

}  // namespace

KelvaneApplication::KelvaneApplication(int& argc, char** argv) : app_(argc, argv) {
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setApplicationVersion(QStringLiteral(KELVANE_VERSION));
    QApplication::setWindowIcon(applicationIcon());
}

int KelvaneApplication::run() {
    const std::filesystem::path settingsFolder = defaultSettingsFolder();
    // Uploads a killed run left unfinished are overwritten by the next run of their connection.
    // Declared before the front ends, so that it outlives the workers they wait for.
    UnfinishedUploads unfinished(settingsFolder / kUnfinishedUploadsFileName);
    UnfinishedUploads* const previousUnfinished = setUnfinishedUploads(&unfinished);
    const FrontEnds frontEnds;
    FileSettingsStore store(settingsFolder);
    QtWindowDialogs dialogs(&store);
    CSynchroniserDlg window(dialogs, store, settingsFolder,
                            commandLineFile(QApplication::arguments()));
    window.exec();
    setUnfinishedUploads(previousUnfinished);
    return 0;
}
