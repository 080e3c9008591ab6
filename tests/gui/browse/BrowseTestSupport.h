#pragma once

// The person and the window around the browse lists in their tests: a prompter that answers
// delete questions from a script, a log that records what reportError wrote, a listener that
// records what a list told its window, and the program-wide settings taken over per test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/FileEntry.h"
#include "common/Prompter.h"
#include "integration/EngineTestFixture.h"
#include "support/CommandGlobals.h"
#include "ui/ModalDialog.h"
#include "ui/browse/BrowseListener.h"
#include "ui/browse/BrowseOrder.h"
#include "ui/browse/BrowseSettings.h"
#include "ui/browse/FileBrowseCtrl.h"

namespace browsetest {

// Delete questions answered from a script, each one recorded; messages recorded.
using enginetest::ScriptedPrompter;

// The lines "context: text" that reportError writes while a log is open.
class RecordingLog final : public ErrorLog {
  public:
    bool isOpen() const override { return true; }
    void writeLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class RecordingListener final : public BrowseListener {
  public:
    void directoryChanged() override { ++changes; }
    void showStatus(const std::string& text) override {
        statuses.push_back(text);
        if (onStatus) {
            onStatus(text);
        }
    }
    void folderRemoved(const FileEntryPtr& folder) override { removed.push_back(folder); }
    void folderAdded(const FileEntryPtr& folder) override { added.push_back(folder); }
    void currentPathChanged(const std::string& path) override { paths.push_back(path); }
    void folderRenamed(const FileEntryPtr& oldFolder, const FileEntryPtr& newFolder) override {
        renamed.push_back({oldFolder, newFolder});
    }

    int changes = 0;
    std::vector<std::string> statuses;
    std::vector<FileEntryPtr> removed;
    std::vector<FileEntryPtr> added;
    std::vector<std::string> paths;
    std::vector<std::pair<FileEntryPtr, FileEntryPtr>> renamed;
    std::function<void(const std::string&)> onStatus;
};

// Every test starts from the program's defaults: name order ascending, dates dd/mm/yy, no
// stored view style, a scripted person and a log, short command limits.
class BrowseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        globals_.takeOver(10, 1, &prompter_);
        savedLog_ = setErrorLog(&log_);
        setBrowseSort({});
        setDayBeforeMonth(true);
        setBrowseStyleStore(nullptr);
    }
    void TearDown() override {
        setModalRunner({});
        setBrowseStyleStore(nullptr);
        setBrowseSort({});
        setErrorLog(savedLog_);
        globals_.giveBack();
    }

    // The names of entries, in order.
    static std::vector<std::string> namesOf(const std::vector<FileEntryPtr>& entries) {
        std::vector<std::string> names;
        for (const FileEntryPtr& entry : entries) {
            names.push_back(entry->name);
        }
        return names;
    }
    // The last message and log line; empty when there was none.
    std::string lastMessage() const {
        return prompter_.messages.empty() ? std::string() : prompter_.messages.back();
    }
    std::string lastLogLine() const {
        return log_.lines.empty() ? std::string() : log_.lines.back();
    }
    std::vector<std::string> captions() const {
        std::vector<std::string> all;
        for (const auto& question : prompter_.questions) {
            all.push_back(question.caption);
        }
        return all;
    }

    ScriptedPrompter prompter_;
    RecordingLog log_;
    RecordingListener listener_;
    std::vector<FileEntryPtr> selection_;

  private:
    testsupport::CommandGlobals globals_;
    ErrorLog* savedLog_ = nullptr;
};

// A plan entry on the FTP side.
inline FileEntryPtr planEntry(const std::string& path, EntryAction action, std::uint64_t size = 0) {
    FileEntryPtr entry = FileEntry::fromPath(path);
    entry->remote = true;
    entry->action = action;
    entry->size = size;
    if (path.back() == '/') {
        entry->kind = EntryKind::Folder;
    }
    entry->date.set(5, 3, 2004);
    entry->time.set(9, 7, 2);
    return entry;
}

// The names of a list's rows in order, the row of a name, and a click with Ctrl on each name.
inline std::vector<std::string> rowNames(const FileBrowseCtrl& list) {
    std::vector<std::string> names;
    for (int row = 0; row < list.rowCount(); ++row) {
        names.push_back(list.entryAtRow(row)->name);
    }
    return names;
}
inline int rowNamed(const FileBrowseCtrl& list, const std::string& name) {
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.entryAtRow(row)->name == name) {
            return row;
        }
    }
    ADD_FAILURE() << "no row " << name;
    return -1;
}
inline void selectNamed(FileBrowseCtrl& list, const std::vector<std::string>& names) {
    std::vector<int> rows;
    for (const std::string& name : names) {
        rows.push_back(rowNamed(list, name));
    }
    list.selectRows(rows);
}

// Lets the events of a few turns run (timers due by then included), bounded in time.
inline void settle(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

}  // namespace browsetest
