#pragma once

// The local side's windows on a real temporary tree: the home folder and the freedesktop trash
// moved into the test's own folder, a mount table of the test's making (so the drives and
// shares do not depend on the machine), the scripted person, and bounded waits for what the
// tree's reader threads hand over.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidgetItem>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui/DialogScripts.h"
#include "support/CommandGlobals.h"
#include "support/TempFolder.h"
#include "ui/ModalDialog.h"
#include "ui/browse/CTreeFileCtrl.h"

namespace localtest {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Runs the events until `done` holds, at most `limitMs`. True when it held.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline std::vector<std::string> childLabels(const QTreeWidgetItem* item) {
    std::vector<std::string> labels;
    for (int i = 0; i < item->childCount(); ++i) {
        labels.push_back(item->child(i)->text(0).toStdString());
    }
    return labels;
}

class LocalTest : public guitest::DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        globals_.takeOver(10, 1, &prompter_);
        home_ = work_.path() / "home";
        fs::create_directories(home_);
        homeEnv_.emplace("HOME", home_.string());
        dataEnv_.emplace("XDG_DATA_HOME", (home_ / ".local" / "share").string());
        mounts_ = work_.path() / "mounts";
        writeMounts("/dev/vda / ext4 rw 0 0\n");
    }
    void TearDown() override {
        setModalRunner({});
        dataEnv_.reset();
        homeEnv_.reset();
        globals_.giveBack();
        DialogTest::TearDown();
    }

    void writeMounts(const std::string& text) { testsupport::writeFile(mounts_, text); }
    // A file (or, with a trailing "/", a folder) below the home folder.
    void put(const std::string& relative, const std::string& bytes = "x") {
        const fs::path path = home_ / relative;
        if (!relative.empty() && relative.back() == '/') {
            fs::create_directories(path);
            return;
        }
        fs::create_directories(path.parent_path());
        testsupport::writeFile(path, bytes);
    }
    std::string path(const std::string& relative) const { return (home_ / relative).string(); }

    // A tree on the test's mount table, filled.
    std::unique_ptr<CTreeFileCtrl> makeTree(
        unsigned options = CTreeFileCtrl::kFolderDialogOptions) {
        auto tree = std::make_unique<CTreeFileCtrl>();
        tree->setMountTable(mounts_.string());
        tree->setOptions(options);
        tree->refresh();
        return tree;
    }
    // Waits until the tree has read everything it set out to read.
    static bool settled(const CTreeFileCtrl& tree) {
        return waitUntil([&tree] { return !tree.reading(); });
    }

    testsupport::TempFolder work_;
    fs::path home_;
    fs::path mounts_;

  private:
    testsupport::CommandGlobals globals_;
    std::optional<ScopedEnv> homeEnv_;
    std::optional<ScopedEnv> dataEnv_;
};

}  // namespace localtest
