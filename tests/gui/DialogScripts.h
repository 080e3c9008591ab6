#pragma once

// The person at the screen of the dialog tests: file choosers answer from a script and record
// what they were asked; the prompter and the other program-wide switches the dialogs read
// (quiet mode, tooltips, the file choosers) are taken over for one test and given back.

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "integration/EngineRunSupport.h"
#include "ui/Tooltips.h"
#include "ui/mainwindow/FileDialogs.h"

namespace guitest {

class ScriptedFileDialogs final : public FileDialogs {
  public:
    struct Call {
        std::string kind;  // "openFile", "openFiles", "saveFile", "openNewOrExistingFile", ...
        std::string caption;
        std::string startPath;
        std::string filter;
        std::string defaultSuffix;
    };

    std::optional<std::string> openFile(QWidget*, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& suffix) override {
        return single("openFile", caption, startPath, filter, suffix);
    }
    std::vector<std::string> openFiles(QWidget*, const std::string& caption,
                                       const std::string& startPath, const std::string& filter,
                                       const std::string& suffix) override {
        calls.push_back({"openFiles", caption, startPath, filter, suffix});
        std::vector<std::string> chosen;
        chosen.swap(files);
        return chosen;
    }
    std::optional<std::string> saveFile(QWidget*, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& suffix) override {
        return single("saveFile", caption, startPath, filter, suffix);
    }
    std::optional<std::string> openNewOrExistingFile(QWidget*, const std::string& caption,
                                                     const std::string& startPath,
                                                     const std::string& filter,
                                                     const std::string& suffix) override {
        return single("openNewOrExistingFile", caption, startPath, filter, suffix);
    }
    std::optional<std::string> chooseFolder(QWidget*, const std::string& caption,
                                            const std::string& startPath) override {
        return single("chooseFolder", caption, startPath, "", "");
    }

    // The next single choice (nothing: the person cancels), and the next multiple choice.
    std::optional<std::string> file;
    std::vector<std::string> files;
    std::vector<Call> calls;

  private:
    std::optional<std::string> single(const char* kind, const std::string& caption,
                                      const std::string& startPath, const std::string& filter,
                                      const std::string& suffix) {
        calls.push_back({kind, caption, startPath, filter, suffix});
        std::optional<std::string> chosen;
        chosen.swap(file);
        return chosen;
    }
};

// The lines reportError writes to a log while one is open.
class RecordingErrorLog final : public ErrorLog {
  public:
    bool isOpen() const override { return true; }
    void writeLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// One fixture base for every family of dialogs: scripted prompter, file choosers and error
// log, quiet mode off and tooltips on while a test runs.
class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedPrompter_ = setPrompter(&prompter_);
        savedLog_ = setErrorLog(&log_);
        setFileDialogs(&files_);
        savedQuiet_ = quietMode.exchange(false);
        savedTooltips_ = showTooltips();
        setShowTooltips(true);
    }
    void TearDown() override {
        setShowTooltips(savedTooltips_);
        quietMode = savedQuiet_;
        setFileDialogs(nullptr);
        setErrorLog(savedLog_);
        setPrompter(savedPrompter_);
    }

    enginerun::ScriptedPrompter prompter_;
    ScriptedFileDialogs files_;
    RecordingErrorLog log_;

  private:
    Prompter* savedPrompter_ = nullptr;
    ErrorLog* savedLog_ = nullptr;
    bool savedQuiet_ = false;
    bool savedTooltips_ = true;
};

}  // namespace guitest
