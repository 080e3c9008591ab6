#include "app/gui/KelvaneApplication.h"

#include <chrono>
#include <filesystem>

#include "common/MessagePump.h"
#include "common/Prompter.h"
#include "profiles/SettingsStore.h"
#include "transfer/TimedCommand.h"
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
    const FrontEnds frontEnds;
    const std::filesystem::path settingsFolder = defaultSettingsFolder();
    FileSettingsStore store(settingsFolder);
    QtWindowDialogs dialogs(&store);
    CSynchroniserDlg window(dialogs, store, settingsFolder,
                            commandLineFile(QApplication::arguments()));
    window.exec();
    return 0;
}
