#include "ui/mainwindow/CSynchroniserDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QMetaObject>
#include <QSignalBlocker>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <optional>
#include <system_error>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "profiles/ExclusionSet.h"
#include "profiles/PersistentRecord.h"
#include "profiles/SettingsStore.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionMonitor.h"
#include "transfer/ConnectionPool.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/FtpLocation.h"
#include "transfer/LocalFileOperations.h"
#include "transfer/TimedCommand.h"
#include "ui/Tooltips.h"
#include "ui/browse/BrowseSettings.h"
#include "ui/icons/Icons.h"
#include "ui/mainwindow/ConnectingDlg.h"
#include "ui/mainwindow/FileDialogs.h"
#include "ui/mainwindow/WindowDialogs.h"
#include "ui_CSynchroniserDlg.h"

namespace fs = std::filesystem;

namespace {

constexpr int kAutoStartTimer = 1;
constexpr int kConnectionTimer = 4;
constexpr int kAutoStartDelayMs = 500;
constexpr int kConnectionCheckMs = 10000;

constexpr const char* kProfileModified =
    "The current profile has been modified.\nDo you wish to save your changes?";
constexpr const char* kBatchModified =
    "The current batch file has been modified.\nDo you wish to save your changes?";
constexpr const char* kOpenFilter = "Kelvane profiles (*.kvp);;Kelvane batch files (*.kvb)";

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// Every command that can show a message shows it, silent mode or not; the profile's silent mode
// is back in force once the command is over.
class QuietOff {
  public:
    QuietOff() : saved_(quietMode.exchange(false)) {}
    ~QuietOff() { quietMode.store(saved_); }
    QuietOff(const QuietOff&) = delete;
    QuietOff& operator=(const QuietOff&) = delete;

  private:
    bool saved_;
};

QStringList itemsOf(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) {
        items << box.itemText(i);
    }
    return items;
}

// Refills a box only when its list changed, so that a refresh does not disturb the person typing.
void setItems(QComboBox& box, const QStringList& items) {
    if (itemsOf(box) != items) {
        box.clear();
        box.addItems(items);
    }
}

}  // namespace

CSynchroniserDlg::CSynchroniserDlg(WindowDialogs& dialogs, SettingsStore& store,
                                   const fs::path& settingsFolder,
                                   const std::string& commandLineFile, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CSynchroniserDlg>()),
      dialogs_(dialogs),
      store_(store),
      settings_(store, settingsFolder),
      view_(*this),
      sync_(view_) {
    ui_->setupUi(this);
    // The program's only window: it gets the buttons of a main window, not of a dialog.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowIcon(applicationIcon());
    for (QWidget* hidden :
         {static_cast<QWidget*>(ui_->progressGroup), static_cast<QWidget*>(ui_->runBatchButton)}) {
        // Hidden while idle, but their room stays, so the window does not jump when a run starts.
        QSizePolicy policy = hidden->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        hidden->setSizePolicy(policy);
    }
    sync_.setSettings(&store_);
    sync_.setRecentFiles(&settings_.recentFiles);
    sync_.setLocationHistories(&settings_.location1, &settings_.location2);

    timer1_.setSingleShot(true);
    timer1_.setInterval(kAutoStartDelayMs);
    connect(&timer1_, &QTimer::timeout, this, [this] { OnTimer(kAutoStartTimer); });
    timer4_.setInterval(kConnectionCheckMs);
    connect(&timer4_, &QTimer::timeout, this, [this] { OnTimer(kConnectionTimer); });

    connectControls();
    initialise(commandLineFile);
}

CSynchroniserDlg::~CSynchroniserDlg() {
    setBrowseStyleStore(nullptr);
}

// ---- Start ----

void CSynchroniserDlg::initialise(const std::string& commandLineFile) {
    setWindowTitle(QStringLiteral("Kelvane"));
    // The connections file lives in the settings folder by default (the program's own folder
    // is not writable here), which AppSettings knows.
    settings_.readAtStart();
    applyConfiguration();
    // Read before any file is opened, so that a profile opened below finds the connection its
    // FTP location names (an automatic start needs it half a second later).
    sync_.connections = loadConnections(settings_.connectionsFileName);
    ConnectingDlg::setTrustedCertificatesFile(settings_.connectionsFileName);
    fillLocationBox(*ui_->localLocationCombo, settings_.location1, settings_.location1.front());
    fillLocationBox(*ui_->ftpLocationCombo, settings_.location2, settings_.location2.front());
    fillRecentFilesBox();

    sync_.openedPath = settings_.profilePath;
    bool batchStartDue = false;
    if (!commandLineFile.empty()) {
        sync_.openedPath = commandLineFile;
        if (sync_.loadFile(commandLineFile, true, true)) {
            batchStartDue = fileKind(commandLineFile) == FileKind::Batch;
        } else {
            sync_.openedPath.clear();
        }
    } else if (!sync_.openedPath.empty()) {
        if (!sync_.loadFile(sync_.openedPath, true, true)) {
            sync_.openedPath.clear();
        }
    }
    const Profile& profile = sync_.profile;
    autoStart_ = profile.auto_start == 1 || profile.auto_start == 2;
    if (sync_.openedPath.empty() || fileKind(sync_.openedPath) == FileKind::Batch) {
        settings_.readOptionDefaults();
        takeOptionDefaults();
        autoStart_ = false;
    }
    quietMode = sync_.options.silentMode;

    showPhase(QStringLiteral("Execution"));
    showRetries({}, {});
    refreshControls();

    if ((!commandLineFile.empty() && autoStart_) || batchStartDue) {
        timer1_.start();
    }
    timer4_.start();
}

void CSynchroniserDlg::applyConfiguration() {
    const ConfigurationSettings& c = settings_.configuration;
    setShowTooltips(c.showTooltips);
    // The browse lists show dates in this order and keep their view style in this store.
    setDayBeforeMonth(c.ddmmyy);
    setBrowseStyleStore(&store_);
    commandTimeout = c.commandTimeout;
    maxCommandRetries = static_cast<int>(std::min<std::uint32_t>(c.maxCommandRetries, INT_MAX));
    ftpConnections = static_cast<int>(std::clamp<std::uint32_t>(
        c.ftpConnections, 1, static_cast<std::uint32_t>(kMaxFtpConnections)));
    ConnectionMonitor& monitor = connectionMonitor();
    monitor.timeoutEnabled = c.isFtpConnectionTimeout;
    monitor.idleLimit = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(c.ftpConnectionTimeoutSeconds, 0, UINT32_MAX));
    applyTooltips();
}

void CSynchroniserDlg::applyTooltips() {
    Ui::CSynchroniserDlg& u = *ui_;
    const QString exclusions = QStringLiteral(
        "Select files/folders on the FTP server to be excluded (ignored) during the "
        "synchronisation");
    ::applyTooltips({
        {u.exitButton, "Exit Kelvane"},
        {u.localLocationButton, "Browse the local system for the source location"},
        {u.batchButton, "Select profiles to be run as a batch"},
        {u.ftpLocationButton, "Browse the FTP server for the target location"},
        {u.synchroniseButton, "Synchronise the FTP server"},
        {u.runningLabel, "Synchronise the FTP server"},
        {u.deleteMissingCheck,
         "If selected files and folders on the FTP server will be deleted "
         "if they do not exist on the source"},
        {u.addMissingCheck,
         "If selected files and folders in the source system will be added to "
         "the FTP server if they do not exist"},
        {u.confirmDeletesCheck, "You will be asked for confirmation on any deletes"},
        {u.checkSubFoldersCheck, "All sub-folders will be processed"},
        {u.statusLabel, "Shows what the synchronisation is currently doing"},
        {u.stopButton,
         "Terminate the current Synchronisation. Be careful - this is likely to "
         "leave an incomplete file on the FTP server"},
        {u.runBatchButton, "Run the current batch"},
        {u.helpButton, "View help"},
        {u.openButton, "Open a profile"},
        {u.saveButton, "Save a profile"},
        {u.saveAsButton, "Save a profile under a new name"},
        {u.localExclusionsButton, exclusions},
        {u.ftpExclusionsButton, exclusions},
        {u.lastReportButton, "View the results of the last synchronisation that was run"},
        {u.checkActionsCheck,
         "You will be given the opportunity to check and edit a list of all actions before "
         "they are executed (makes the check deletes option redundant and disables it)"},
        {u.connectButton,
         "Connect immediately to the FTP server. This will happen automatically "
         "when the synchronisation is run"},
        {u.progressBar,
         "Shows an estimate of the current progress. Due to the nature of how "
         "connections are made and files copied this may be a little \"lumpy\"!"},
        {u.closeButton,
         "Close a profile. Mainly intended to be used if you don't want a profile "
         "opened when Kelvane is next started"},
        {u.ftpBrowseButton, "Browse an FTP server and perform simple commands on it"},
        {u.moreOptionsButton, "Edit more options - includes log files, auto start, time zones..."},
        {u.configurationButton,
         "Configure the general Kelvane options: time-outs, retries, "
         "tooltips and the connections file"},
    });
}

void CSynchroniserDlg::connectControls() {
    Ui::CSynchroniserDlg& u = *ui_;
    const auto onClick = [this](QAbstractButton* button, void (CSynchroniserDlg::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    onClick(u.synchroniseButton, &CSynchroniserDlg::OnSynch12);
    onClick(u.runBatchButton, &CSynchroniserDlg::OnRunbatch);
    onClick(u.openButton, &CSynchroniserDlg::OnOpen);
    onClick(u.closeButton, &CSynchroniserDlg::OnClose);
    onClick(u.saveButton, &CSynchroniserDlg::OnSave);
    onClick(u.saveAsButton, &CSynchroniserDlg::OnSaveas);
    onClick(u.batchButton, &CSynchroniserDlg::OnBatch);
    onClick(u.moreOptionsButton, &CSynchroniserDlg::OnMoreOptions);
    onClick(u.configurationButton, &CSynchroniserDlg::OnConfiguration);
    onClick(u.connectButton, &CSynchroniserDlg::OnConnect);
    onClick(u.localLocationButton, &CSynchroniserDlg::OnLocalLocation);
    onClick(u.ftpLocationButton, &CSynchroniserDlg::OnFtpLocation);
    onClick(u.ftpBrowseButton, &CSynchroniserDlg::OnFtpBrowse);
    onClick(u.ftpExclusionsButton, &CSynchroniserDlg::OnFtpExclusions);
    onClick(u.localExclusionsButton, &CSynchroniserDlg::OnLocalExclusions);
    onClick(u.lastReportButton, &CSynchroniserDlg::OnLastReport);
    onClick(u.helpButton, &CSynchroniserDlg::OnHelp);
    onClick(u.stopButton, &CSynchroniserDlg::OnStop);
    onClick(u.exitButton, &CSynchroniserDlg::OnExit);

    using Options = Synchroniser::Options;
    connectCheckBox(u.deleteMissingCheck, &Options::deleteMissing, &Profile::delete_files);
    connectCheckBox(u.addMissingCheck, &Options::addMissing, &Profile::add_files);
    connectCheckBox(u.confirmDeletesCheck, &Options::confirmDeletes, &Profile::confirm_deletes);
    connectCheckBox(u.checkSubFoldersCheck, &Options::checkSubFolders, &Profile::check_sub_folders);
    connectCheckBox(u.checkActionsCheck, &Options::checkActions, &Profile::check_actions,
                    &CSynchroniserDlg::onCheckActions);
    connectCheckBox(u.exitOnCompletionCheck, &Options::exitOnCompletion,
                    &Profile::exit_on_completion);
    connectCheckBox(u.silentModeCheck, &Options::silentMode, &Profile::silent_mode,
                    &CSynchroniserDlg::onSilentMode);

    connect(u.recentFilesCombo, &QComboBox::activated, this,
            &CSynchroniserDlg::OnSelchangeRecentFiles);
    // Typing changes the location (and the profile) at once; the history only learns it once
    // the location is used.
    const auto onEdit = [this](QComboBox* box, std::string Options::*option,
                               std::string Profile::*field) {
        connect(box, &QComboBox::editTextChanged, this, [this, option, field](const QString& text) {
            setLocation(option, field, text.toStdString());
            refreshControls();
        });
    };
    onEdit(u.localLocationCombo, &Options::localLocation, &Profile::location1);
    onEdit(u.ftpLocationCombo, &Options::ftpLocation, &Profile::location2);
    // A location counts as used when it is picked from the list, or typed and confirmed (Enter,
    // or leaving the box).
    const auto onUse = [this](QComboBox* box, void (CSynchroniserDlg::*use)(const std::string&)) {
        const auto used = [this, box, use] { (this->*use)(box->currentText().toStdString()); };
        connect(box, &QComboBox::activated, this, used);
        connect(box->lineEdit(), &QLineEdit::editingFinished, this, used);
    };
    onUse(u.localLocationCombo, &CSynchroniserDlg::useLocalLocation);
    onUse(u.ftpLocationCombo, &CSynchroniserDlg::useFtpLocation);
}

void CSynchroniserDlg::connectCheckBox(QAbstractButton* box, bool Synchroniser::Options::*option,
                                       bool Profile::*field,
                                       void (CSynchroniserDlg::*interlock)(bool)) {
    // clicked, not toggled: only the person's clicks change the profile, never a refresh.
    connect(box, &QAbstractButton::clicked, this, [this, option, field, interlock](bool on) {
        setOption(option, field, on);
        if (interlock != nullptr) {
            (this->*interlock)(on);
        }
        refreshControls();
    });
}

// ---- The window's values ----

void CSynchroniserDlg::takeOptionDefaults() {
    const OptionDefaults& d = settings_.options;
    Synchroniser::Options& o = sync_.options;
    Profile& p = sync_.profile;
    o.addMissing = p.add_files = d.addMissing;
    o.deleteMissing = p.delete_files = d.delMissing;
    o.confirmDeletes = p.confirm_deletes = d.checkDel;
    o.checkSubFolders = p.check_sub_folders = d.subFolders;
    o.checkActions = p.check_actions = d.checkActions;
    p.compare_on_time = !d.compareTimeOrSize;
    p.adjust_time_hours = d.adjustHours;
    p.adjust_time_mins = d.adjustMins;
    p.log_file_on = d.logOn;
    p.log_file_append = d.logAppend;
    p.log_file_path = d.logPath;
    o.localLocation = settings_.location1.front();
    // The location the box shows names the connection a run will use.
    sync_.selectFtpLocation(settings_.location2.front());
}

OptionDefaults CSynchroniserDlg::optionDefaults() const {
    const Synchroniser::Options& o = sync_.options;
    const Profile& p = sync_.profile;
    OptionDefaults d;
    d.addMissing = o.addMissing;
    d.delMissing = o.deleteMissing;
    d.checkDel = o.confirmDeletes;
    d.subFolders = o.checkSubFolders;
    d.checkActions = o.checkActions;
    d.compareTimeOrSize = !p.compare_on_time;
    d.adjustHours = p.adjust_time_hours;
    d.adjustMins = p.adjust_time_mins;
    d.logOn = p.log_file_on;
    d.logAppend = p.log_file_append;
    d.logPath = p.log_file_path;
    return d;
}

void CSynchroniserDlg::storeValuesInProfile() {
    const Synchroniser::Options& o = sync_.options;
    Profile& p = sync_.profile;
    p.delete_files = o.deleteMissing;
    p.confirm_deletes = o.confirmDeletes;
    p.add_files = o.addMissing;
    p.check_sub_folders = o.checkSubFolders;
    p.check_actions = o.checkActions;
    p.silent_mode = o.silentMode;
    p.exit_on_completion = o.exitOnCompletion;
    p.location1 = o.localLocation;
    p.location2 = o.ftpLocation;
}

void CSynchroniserDlg::setOption(bool Synchroniser::Options::*option, bool Profile::*field,
                                 bool on) {
    sync_.options.*option = sync_.profile.*field = on;
    sync_.profile.modified = true;
}

void CSynchroniserDlg::onCheckActions(bool on) {
    if (on) {
        // The review shows every delete anyway.
        setOption(&Synchroniser::Options::confirmDeletes, &Profile::confirm_deletes, false);
    }
}

void CSynchroniserDlg::onSilentMode(bool on) {
    if (on) {
        // No one is there to review or to confirm.
        setOption(&Synchroniser::Options::checkActions, &Profile::check_actions, false);
        setOption(&Synchroniser::Options::confirmDeletes, &Profile::confirm_deletes, false);
    }
    quietMode = on;
}

void CSynchroniserDlg::setLocation(std::string Synchroniser::Options::*option,
                                   std::string Profile::*field, const std::string& location) {
    sync_.options.*option = location;
    if (sync_.profile.*field != location) {
        sync_.profile.*field = location;
        sync_.profile.modified = true;
    }
}

void CSynchroniserDlg::useLocalLocation(const std::string& location) {
    setLocation(&Synchroniser::Options::localLocation, &Profile::location1, location);
    settings_.location1.use(location);
    refreshControls();
}

void CSynchroniserDlg::useFtpLocation(const std::string& location) {
    setLocation(&Synchroniser::Options::ftpLocation, &Profile::location2, location);
    // This also remembers the location, and may ask to break the open connection.
    sync_.selectFtpLocation(location);
    refreshControls();
}

// ---- The controls ----

void CSynchroniserDlg::refreshControls() {
    Ui::CSynchroniserDlg& u = *ui_;
    const Synchroniser::Options& o = sync_.options;
    const bool running = sync_.running;

    setWindowTitle(sync_.openedPath.empty()
                       ? QStringLiteral("Kelvane")
                       : QStringLiteral("Kelvane - ") +
                             QFileInfo(qs(sync_.openedPath)).completeBaseName());
    u.runningLabel->setText(o.silentMode ? QStringLiteral("Silent Running")
                                         : QStringLiteral("Running"));
    const std::shared_ptr<ConnectionDetails>& selected = sync_.selectedConnection;
    const bool connected = selected != nullptr && selected->isConnected();
    u.connectButton->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    u.connectionLabel->setText(connected ? qs(selected->name) : QStringLiteral("Not Connected"));

    const bool noFile = sync_.openedPath.empty();
    u.saveButton->setEnabled(sync_.batch.modified || noFile || sync_.profile.modified);
    u.saveAsButton->setEnabled(true);
    u.closeButton->setEnabled(!noFile);
    u.runBatchButton->setVisible(!sync_.batch.profilePaths.empty());
    u.lastReportButton->setEnabled(!sync_.lastSource.empty() && !sync_.lastTarget.empty());

    // FTP Browse too: its commands would move the server's folder under a run's feet.
    const std::vector<QWidget*> idleOnly = {
        u.openButton,           u.recentFilesCombo,      u.deleteMissingCheck,  u.addMissingCheck,
        u.checkSubFoldersCheck, u.exitOnCompletionCheck, u.silentModeCheck,     u.moreOptionsButton,
        u.batchButton,          u.localLocationCombo,    u.ftpLocationCombo,    u.exitButton,
        u.connectButton,        u.localExclusionsButton, u.localLocationButton, u.ftpLocationButton,
        u.ftpExclusionsButton,  u.ftpBrowseButton};
    const std::vector<QWidget*> runningDisplay = {u.progressGroup, u.runningLabel};
    if (running) {
        u.silentModeLabel->hide();
        for (QWidget* control : idleOnly) {
            control->setEnabled(false);
        }
        for (QWidget* control : std::initializer_list<QWidget*>{
                 u.lastReportButton, u.closeButton, u.saveButton, u.saveAsButton,
                 u.confirmDeletesCheck, u.checkActionsCheck}) {
            control->setEnabled(false);
        }
        u.stopButton->setEnabled(true);
        for (QWidget* display : runningDisplay) {
            display->show();
        }
    } else {
        u.silentModeLabel->setVisible(o.silentMode);
        for (QWidget* control : idleOnly) {
            control->setEnabled(true);
        }
        u.confirmDeletesCheck->setEnabled(!o.checkActions && !o.silentMode);
        u.checkActionsCheck->setEnabled(!o.silentMode);
        u.stopButton->setEnabled(false);
        for (QWidget* display : runningDisplay) {
            display->hide();
        }
    }

    u.deleteMissingCheck->setChecked(o.deleteMissing);
    u.addMissingCheck->setChecked(o.addMissing);
    u.confirmDeletesCheck->setChecked(o.confirmDeletes);
    u.checkSubFoldersCheck->setChecked(o.checkSubFolders);
    u.checkActionsCheck->setChecked(o.checkActions);
    u.exitOnCompletionCheck->setChecked(o.exitOnCompletion);
    u.silentModeCheck->setChecked(o.silentMode);
    fillLocationBox(*u.localLocationCombo, settings_.location1, o.localLocation);
    fillLocationBox(*u.ftpLocationCombo, settings_.location2, o.ftpLocation);
    fillRecentFilesBox();
}

void CSynchroniserDlg::fillLocationBox(QComboBox& box, const LocationHistory& history,
                                       const std::string& current) {
    const QSignalBlocker blocker(&box);
    QStringList items;
    for (const std::string& entry : history.entries()) {
        if (!entry.empty()) {
            items << qs(entry);
        }
    }
    setItems(box, items);
    if (box.currentText() != qs(current)) {
        box.setEditText(qs(current));
    }
}

void CSynchroniserDlg::fillRecentFilesBox() {
    QComboBox& box = *ui_->recentFilesCombo;
    const QSignalBlocker blocker(&box);
    QStringList items;
    for (const std::string& path : settings_.recentFiles.entries()) {
        items << qs(path);
    }
    setItems(box, items);
    const int index = static_cast<int>(items.indexOf(qs(sync_.openedPath)));
    box.setCurrentIndex(index);
    // A profile of a running batch is not among the recent files, but the box still tells
    // which file is open.
    box.setPlaceholderText(index < 0 ? qs(sync_.openedPath) : QString());
}

void CSynchroniserDlg::showStatus(const QString& text) {
    ui_->statusLabel->setFullText(text);
}

void CSynchroniserDlg::showPhase(const QString& label) {
    ui_->executionGroup->setTitle(label);
}

void CSynchroniserDlg::showProgress(int thousandths, const QString& percent,
                                    const QString& timeRemaining) {
    ui_->progressBar->setValue(thousandths / 10);
    ui_->percentLabel->setText(percent);
    ui_->timeRemainingLabel->setText(timeRemaining);
}

void CSynchroniserDlg::showRetries(const QString& label, const QString& count) {
    ui_->retriesLabel->setText(label);
    ui_->retryCountLabel->setText(count);
}

// ---- Runs ----

void CSynchroniserDlg::OnSynch12() {
    sync_.synchronise();
    refreshControls();
}

void CSynchroniserDlg::OnRunbatch() {
    sync_.runBatch();
    quietMode = sync_.options.silentMode;
    refreshControls();
}

void CSynchroniserDlg::OnStop() {
    requestStop();
}

void CSynchroniserDlg::OnLastReport() {
    const QuietOff quiet;
    sync_.showReport(sync_.lastSource, sync_.lastTarget, false, true);
}

void CSynchroniserDlg::OnTimer(int id) {
    if (id == kAutoStartTimer) {
        timer1_.stop();
        if (fileKind(sync_.openedPath) == FileKind::Batch) {
            OnRunbatch();
        } else {
            OnSynch12();
        }
    } else if (id == kConnectionTimer) {
        if (!connectionMonitor().check()) {
            refreshControls();
        }
    }
}

// ---- Files ----

void CSynchroniserDlg::askToSaveBatch() {
    if (!sync_.batch.profilePaths.empty() && sync_.batch.modified &&
        prompter().askYesNo(kBatchModified)) {
        OnSave();
    }
}

void CSynchroniserDlg::askToSaveProfile() {
    if (!sync_.profilePath.empty() && sync_.profile.modified &&
        prompter().askYesNo(kProfileModified)) {
        OnSave();
    }
}

void CSynchroniserDlg::askToSaveChanges() {
    if (!sync_.batch.profilePaths.empty() && sync_.batch.modified) {
        askToSaveBatch();
    } else {
        askToSaveProfile();
    }
}

bool CSynchroniserDlg::openFile(const std::string* path) {
    bool loaded = false;
    {
        const QuietOff quiet;
        askToSaveChanges();
        const std::optional<std::string> chosen =
            path != nullptr ? std::optional<std::string>(*path)
                            : fileDialogs().openFile(this, "Open", settings_.readOpenPath(),
                                                     kOpenFilter, "kvp");
        loaded = chosen && sync_.loadFile(*chosen, true, true);
    }
    sync_.options.silentMode = sync_.profile.silent_mode;
    quietMode = sync_.options.silentMode;
    refreshControls();
    return loaded;
}

void CSynchroniserDlg::OnOpen() {
    openFile(nullptr);
}

void CSynchroniserDlg::OnSelchangeRecentFiles(int index) {
    const std::vector<std::string>& entries = settings_.recentFiles.entries();
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        return;
    }
    const std::string path = entries[static_cast<std::size_t>(index)];
    if (!openFile(&path)) {
        settings_.recentFiles.remove(path);
        refreshControls();
    }
}

void CSynchroniserDlg::OnClose() {
    {
        const QuietOff quiet;
        switch (fileKind(sync_.openedPath)) {
            case FileKind::Profile:
                askToSaveProfile();
                sync_.profile.reset();
                sync_.profilePath.clear();
                break;
            case FileKind::Batch:
                askToSaveBatch();
                sync_.batch.profilePaths.clear();
                sync_.batch.modified = false;
                sync_.batchPath.clear();
                break;
            case FileKind::None:
                break;
        }
    }
    sync_.openedPath.clear();
    refreshControls();
}

bool CSynchroniserDlg::writeOpenFile(const std::string& path, bool asBatch, const char* context) {
    bool saved = false;
    if (asBatch) {
        saved = sync_.batch.saveToFile(path);
    } else {
        storeValuesInProfile();
        saved = sync_.profile.saveToFile(path);
    }
    if (!saved) {
        reportError(context, "Could not open file: " + path, false);
    }
    return saved;
}

void CSynchroniserDlg::OnSave() {
    if (sync_.openedPath.empty()) {
        OnSaveas();
        return;
    }
    {
        const QuietOff quiet;
        writeOpenFile(sync_.openedPath, fileKind(sync_.openedPath) == FileKind::Batch,
                      "CSynchroniserDlg::OnSave");
    }
    refreshControls();
}

void CSynchroniserDlg::OnSaveas() {
    {
        const QuietOff quiet;
        const bool asBatch = !sync_.batch.profilePaths.empty();
        const std::optional<std::string> chosen = fileDialogs().saveFile(
            this, "Save As", settings_.readOpenPath(),
            asBatch ? "Kelvane batch (*.kvb)" : "Kelvane profile (*.kvp)", asBatch ? "kvb" : "kvp");
        if (!chosen) {
            return;
        }
        settings_.writeOpenPath(*chosen);
        if (writeOpenFile(*chosen, asBatch, "CSynchroniserDlg::OnSaveas") &&
            fileKind(*chosen) == (asBatch ? FileKind::Batch : FileKind::Profile)) {
            // The file just written is the open file from now on: the next Save goes there and
            // the next start opens it.
            sync_.openedPath = *chosen;
            (asBatch ? sync_.batchPath : sync_.profilePath) = *chosen;
            settings_.recentFiles.addRecent(*chosen);
        }
    }
    refreshControls();
}

void CSynchroniserDlg::OnBatch() {
    {
        const QuietOff quiet;
        if (fileKind(sync_.openedPath) == FileKind::Profile) {
            askToSaveProfile();
            sync_.openedPath.clear();
            sync_.profile.reset();
            sync_.profilePath.clear();
        }
        if (dialogs_.batchList(this, sync_.batch) && sync_.openedPath.empty() &&
            !sync_.batch.profilePaths.empty()) {
            OnSaveas();
        }
    }
    refreshControls();
}

// ---- Options and settings ----

void CSynchroniserDlg::OnMoreOptions() {
    {
        const QuietOff quiet;
        dialogs_.moreOptions(this, sync_.profile);
    }
    refreshControls();
}

void CSynchroniserDlg::OnConfiguration() {
    {
        const QuietOff quiet;
        ConfigurationSettings edited = settings_.configuration;
        std::string fileName = settings_.connectionsFileName;
        if (dialogs_.configuration(this, edited, fileName)) {
            settings_.configuration = edited;
            applyConfiguration();
            settings_.writeConfiguration();
            if (fileName != settings_.connectionsFileName) {
                moveConnectionsFile(fileName);
            }
        }
    }
    refreshControls();
}

void CSynchroniserDlg::moveConnectionsFile(std::string newPath) {
    const std::string current = settings_.connectionsFileName;
    std::error_code error;
    const bool worthMoving =
        fs::is_regular_file(current, error) && fs::file_size(current, error) > 0;
    if (worthMoving && !error &&
        prompter().askYesNo("Do you wish to move the current connections file to the new "
                            "location")) {
        bool moved = true;
        if (fs::exists(newPath, error)) {
            moved = deleteLocalFile(newPath, false);
        }
        moved = moved && moveLocalFile(current, newPath, false);
        if (!moved) {
            reportError("CSynchroniserDlg::OnConfiguration",
                        "Could not move the connections file. The connections file location "
                        "will not change",
                        true);
            newPath = current;
        }
    }
    settings_.connectionsFileName = newPath;
    settings_.writeConnectionsFileName();
    reloadConnections();
}

void CSynchroniserDlg::reloadConnections() {
    // The records of the old file are gone with it; a connection open on one of them is closed
    // rather than left running outside the list.
    for (const std::shared_ptr<ConnectionDetails>& connection : sync_.connections) {
        if (connection->isConnected()) {
            waitForCommand(0);
            connection->disconnectFtp();
        }
    }
    sync_.connections = loadConnections(settings_.connectionsFileName);
    ConnectingDlg::setTrustedCertificatesFile(settings_.connectionsFileName);
    std::string name;
    std::string path;
    parseFtpLocation(sync_.options.ftpLocation, name, path);
    sync_.selectedConnection = findConnection(sync_.connections, name);
}

// ---- The connection ----

void CSynchroniserDlg::OnConnect() {
    {
        const QuietOff quiet;
        std::shared_ptr<ConnectionDetails>& selected = sync_.selectedConnection;
        if (selected != nullptr && selected->isConnected()) {
            waitForCommand(0);
            selected->disconnectFtp();
        } else {
            const WindowDialogs::FtpBrowse browsed =
                dialogs_.browseFtp(this, sync_.connections, selected, ftpFolderPath());
            if (browsed.accepted) {
                if (browsed.connectionsChanged) {
                    saveChangedConnections(true);
                    clearFtpFolderPath();
                }
                if (selected != nullptr && !selected->isConnected()) {
                    dialogs_.connecting(this, selected, true);
                }
            } else {
                saveChangedConnections(browsed.connectionsChanged);
            }
        }
    }
    refreshControls();
}

void CSynchroniserDlg::saveChangedConnections(bool changed) {
    // The manager has already replaced the list the window holds; the file follows it, also
    // when the dialog around the manager was then cancelled.
    if (changed) {
        saveConnections(settings_.connectionsFileName, sync_.connections);
    }
}

std::string CSynchroniserDlg::ftpFolderPath() const {
    if (ftpFolderClearedFor_ == sync_.options.ftpLocation) {
        return {};
    }
    std::string name;
    std::string path;
    parseFtpLocation(sync_.options.ftpLocation, name, path);
    return path;
}

void CSynchroniserDlg::clearFtpFolderPath() {
    ftpFolderClearedFor_ = sync_.options.ftpLocation;
}

// ---- The locations and their exclusions ----

void CSynchroniserDlg::OnLocalLocation() {
    std::optional<std::string> chosen;
    {
        const QuietOff quiet;
        chosen = dialogs_.chooseLocalFolder(this, sync_.options.localLocation);
    }
    if (chosen) {
        useLocalLocation(*chosen);
    }
}

void CSynchroniserDlg::OnFtpLocation() {
    std::string location;
    {
        const QuietOff quiet;
        std::shared_ptr<ConnectionDetails>& selected = sync_.selectedConnection;
        const WindowDialogs::FtpBrowse browsed =
            dialogs_.browseFtp(this, sync_.connections, selected, ftpFolderPath());
        saveChangedConnections(browsed.connectionsChanged);
        if (browsed.accepted && selected != nullptr) {
            location = makeFtpLocation(selected->name, browsed.folder);
        }
    }
    if (!location.empty()) {
        useFtpLocation(location);
    } else {
        refreshControls();
    }
}

void CSynchroniserDlg::OnFtpBrowse() {
    {
        const QuietOff quiet;
        saveChangedConnections(
            dialogs_.browseFtp(this, sync_.connections, sync_.selectedConnection, ftpFolderPath())
                .connectionsChanged);
    }
    refreshControls();
}

void CSynchroniserDlg::OnFtpExclusions() {
    {
        const QuietOff quiet;
        ExclusionSet edited = sync_.profile.ftp_exclusions;
        bool connectionsChanged = false;
        const bool accepted =
            dialogs_.ftpExclusions(this, edited, sync_.connections, sync_.selectedConnection,
                                   ftpFolderPath(), connectionsChanged);
        saveChangedConnections(connectionsChanged);
        if (accepted) {
            sync_.profile.ftp_exclusions = edited;
            sync_.profile.ftp_exclusions.sort();
            sync_.profile.modified = true;
        }
    }
    refreshControls();
}

void CSynchroniserDlg::OnLocalExclusions() {
    {
        const QuietOff quiet;
        ExclusionSet edited = sync_.profile.exclusions;
        if (dialogs_.localExclusions(this, edited)) {
            sync_.profile.exclusions = edited;
            sync_.profile.exclusions.sort();
            sync_.profile.modified = true;
        }
    }
    refreshControls();
}

// ---- Help ----

fs::path CSynchroniserDlg::userGuidePath() {
    const fs::path programFolder = QCoreApplication::applicationDirPath().toStdString();
    const fs::path candidates[] = {
        programFolder / "docs" / "index.html",
        programFolder.parent_path() / KELVANE_GUIDE_RELATIVE_DIR / "index.html",
        fs::path(KELVANE_SOURCE_DOCS) / "index.html",
        fs::path(KELVANE_INSTALLED_DOCS) / "index.html",
    };
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

void CSynchroniserDlg::OnHelp() {
    const fs::path guide = userGuidePath();
    if (guide.empty()) {
        const QuietOff quiet;
        reportError("CSynchroniserDlg::OnHelp", "The user guide (docs/index.html) was not found",
                    false);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(qs(guide.string())));
}

// ---- Leaving ----

void CSynchroniserDlg::closeProgram() {
    // Called at the end of a run, inside its handler: the window leaves once that has returned.
    if (exitQueued_) {
        return;
    }
    exitQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            exitQueued_ = false;
            if (!sync_.running && !exiting_) {
                exitProgram();
            }
        },
        Qt::QueuedConnection);
}

void CSynchroniserDlg::OnExit() {
    if (!sync_.running) {
        exitProgram();
    }
}

void CSynchroniserDlg::OnCancel() {
    if (sync_.running) {
        const QuietOff quiet;
        reportError("CSynchroniserDlg::OnCancel",
                    "Kelvane cannot be closed whilst a synchronisation is running.\nUse the Stop "
                    "button first",
                    false);
        return;
    }
    exitProgram();
}

void CSynchroniserDlg::exitProgram() {
    {
        const QuietOff quiet;
        askToSaveChanges();
    }
    settings_.options = optionDefaults();
    settings_.profilePath = sync_.openedPath;
    settings_.writeAtExit();
    timer1_.stop();
    timer4_.stop();
    for (const std::shared_ptr<ConnectionDetails>& connection : sync_.connections) {
        if (connection->isConnected()) {
            waitForCommand(0);
            connection->disconnectFtp();
        }
    }
    exiting_ = true;
    done(QDialog::Accepted);
}

void CSynchroniserDlg::reject() {
    OnCancel();
}

void CSynchroniserDlg::closeEvent(QCloseEvent* event) {
    if (!exiting_) {
        OnCancel();
    }
    if (exiting_) {
        event->accept();
    } else {
        event->ignore();
    }
}
