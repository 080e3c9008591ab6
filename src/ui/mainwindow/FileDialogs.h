#pragma once

#include <optional>
#include <string>
#include <vector>

class QWidget;

// The file choosers of every window. The program uses the Qt dialogs; tests install scripted
// answers, so that a window's logic is driven without a blocking dialog.
// Filters are in Qt's form: "Kelvane profiles (*.kvp);;Kelvane batch files (*.kvb)".
class FileDialogs {
  public:
    virtual ~FileDialogs() = default;
    // An existing file to open; nothing when the person cancelled.
    virtual std::optional<std::string> openFile(QWidget* parent, const std::string& caption,
                                                const std::string& startPath,
                                                const std::string& filter,
                                                const std::string& defaultSuffix) = 0;
    // Several existing files; empty when cancelled.
    virtual std::vector<std::string> openFiles(QWidget* parent, const std::string& caption,
                                               const std::string& startPath,
                                               const std::string& filter,
                                               const std::string& defaultSuffix) = 0;
    // A file to write (it need not exist; its folder must).
    virtual std::optional<std::string> saveFile(QWidget* parent, const std::string& caption,
                                                const std::string& startPath,
                                                const std::string& filter,
                                                const std::string& defaultSuffix) = 0;
    // A file to open that need not exist yet (its folder must), such as a log file that a run
    // appends to: no question about replacing it. Scripted choosers that do not tell the two
    // apart get the saveFile answer.
    virtual std::optional<std::string> openNewOrExistingFile(QWidget* parent,
                                                             const std::string& caption,
                                                             const std::string& startPath,
                                                             const std::string& filter,
                                                             const std::string& defaultSuffix) {
        return saveFile(parent, caption, startPath, filter, defaultSuffix);
    }
    // An existing folder.
    virtual std::optional<std::string> chooseFolder(QWidget* parent, const std::string& caption,
                                                    const std::string& startPath) = 0;
};

// The process-wide file choosers; the program installs the Qt ones at start.
FileDialogs& fileDialogs();
// Installs `dialogs` (not owned; null restores the Qt dialogs).
void setFileDialogs(FileDialogs* dialogs);
