#pragma once

// One fixture for the main window's tests: a settings folder of its own, a scripted person
// (prompter, file choosers, dialogs) and helpers that write profiles, batches and connections.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "common/Prompter.h"
#include "gui/mainwindow/MainWindowScript.h"
#include "profiles/BatchList.h"
#include "profiles/Profile.h"
#include "profiles/SettingsStore.h"
#include "support/TempFolder.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/ConnectionMonitor.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/TimedCommand.h"
#include "ui/QtMessagePump.h"
#include "ui/Tooltips.h"
#include "ui/mainwindow/CSynchroniserDlg.h"
#include "ui/mainwindow/FileDialogs.h"

namespace mainwindowtest {

namespace fs = std::filesystem;

class MainWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(waitForCommandWorkers(std::chrono::milliseconds(5000)));
        fs::create_directories(settingsFolder());
        previousPrompter_ = setPrompter(&prompter);
        previousPump_ = setMessagePump(&pump_);
        setFileDialogs(&files);
        quietMode = false;
        stopRequested = false;
        savedTimeout_ = commandTimeout;
        savedRetries_ = maxCommandRetries;
        savedMonitor_ = connectionMonitor();
    }

    void TearDown() override {
        if (window_ != nullptr) {
            for (const auto& connection : window_->synchroniser().connections) {
                connection->disconnectFtp();
            }
        }
        window_.reset();
        EXPECT_TRUE(waitForCommandWorkers(std::chrono::milliseconds(5000)));
        setFileDialogs(nullptr);
        setMessagePump(previousPump_);
        setPrompter(previousPrompter_);
        quietMode = false;
        stopRequested = false;
        setShowTooltips(true);
        commandTimeout = savedTimeout_;
        maxCommandRetries = savedRetries_;
        connectionMonitor() = savedMonitor_;
    }

    fs::path settingsFolder() const { return work_.path() / "settings"; }
    fs::path folder(const std::string& name) {
        const fs::path path = work_.path() / name;
        fs::create_directories(path);
        return path;
    }

    // The settings file as a program would find it.
    FileSettingsStore& store() {
        if (store_ == nullptr) {
            store_ = std::make_unique<FileSettingsStore>(settingsFolder());
        }
        return *store_;
    }

    // Starts the program the way the application object does.
    CSynchroniserDlg& start(const std::string& commandLineFile = "") {
        window_.reset();
        window_ =
            std::make_unique<CSynchroniserDlg>(dialogs, store(), settingsFolder(), commandLineFile);
        window_->show();
        return *window_;
    }
    CSynchroniserDlg& window() { return *window_; }

    template <typename Widget = QWidget>
    Widget* child(const char* name) {
        Widget* widget = window_->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QAbstractButton* button(const char* name) { return child<QAbstractButton>(name); }
    QString text(const char* name) { return child<QLabel>(name)->text(); }
    // Near the left edge: a check box stretched by its layout reacts to its box and text only.
    static void clickOn(QWidget* widget) {
        QTest::mouseClick(widget, Qt::LeftButton, {},
                          QPoint(std::min(10, widget->width() / 2), widget->height() / 2));
    }
    void click(const char* name) { clickOn(button(name)); }

    // A profile sending `local` to "FTP:Site/"; `edit` changes it before it is written.
    fs::path writeProfile(const std::string& file, const std::function<void(Profile&)>& edit = {}) {
        Profile profile;
        profile.location1 = folder("site").string();
        profile.location2 = "FTP:Site/";
        if (edit) {
            edit(profile);
        }
        const fs::path path = work_.path() / file;
        EXPECT_TRUE(profile.saveToFile(path));
        return path;
    }
    fs::path writeBatch(const std::string& file, const std::vector<fs::path>& profiles) {
        BatchList batch;
        for (const fs::path& profile : profiles) {
            batch.profilePaths.push_back(profile.string());
        }
        const fs::path path = work_.path() / file;
        EXPECT_TRUE(batch.saveToFile(path));
        return path;
    }
    // The connections file of the settings folder, with one connection "Site".
    void writeConnection(const std::string& host, std::uint16_t port, const std::string& user = "",
                         const std::string& password = "") {
        ASSERT_TRUE(writeSiteConnection(settingsFolder() / "KelvaneConnections.txt", host, port,
                                        user, password));
    }

    // Lets the event loop run until `done` holds, at most `limit`.
    static bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            QTest::qWait(20);
        }
        return done();
    }

    ScriptedPrompter prompter;
    ScriptedFileDialogs files;
    ScriptedWindowDialogs dialogs;

  private:
    testsupport::TempFolder work_{"kelvane-window"};
    QtMessagePump pump_;
    std::unique_ptr<FileSettingsStore> store_;
    std::unique_ptr<CSynchroniserDlg> window_;
    Prompter* previousPrompter_ = nullptr;
    MessagePump* previousPump_ = nullptr;
    unsigned savedTimeout_ = 0;
    int savedRetries_ = 0;
    ConnectionMonitor savedMonitor_;
};

}  // namespace mainwindowtest
