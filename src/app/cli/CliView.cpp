#include "app/cli/CliView.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "app/cli/CliMessagePump.h"
#include "common/EscapeText.h"
#include "engine/ConnectingLogic.h"
#include "transfer/ConnectionDetails.h"

namespace {

using namespace std::chrono_literals;

// A terminal redraw costs a write; file-by-file status changes come far faster than anyone reads.
constexpr auto kRedrawInterval = 80ms;
constexpr auto kPlainInterval = 5s;
constexpr std::size_t kDefaultWidth = 80;

std::size_t terminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return kDefaultWidth;
}

// Once SIGINT or SIGTERM came, everything that follows stops, even where a run clears
// stopRequested for its own start (the next run of a batch, a connection attempt).
void keepStopAfterSignal() {
    if (CliMessagePump::receivedSignal() != 0 && !stopRequested.load()) {
        requestStop();
    }
}

std::string withoutTrailingNewlines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string fitToWidth(const std::string& text, std::size_t width) {
    if (text.size() <= width) {
        return text;
    }
    std::size_t end = width;
    // Back off to the first byte of a character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::string formatPlan(const PlanForReview& plan) {
    std::string text;
    const std::pair<const char*, const EntrySet*> groups[] = {
        {"overwrite", &plan.overwriteTargets},  {"add", &plan.addFileTargets},
        {"delete", &plan.deleteFiles},          {"add-folder", &plan.addFolderTargets},
        {"delete-folder", &plan.deleteFolders},
    };
    for (const auto& [word, entries] : groups) {
        for (const FileEntryPtr& entry : *entries) {
            text += word;
            text += ' ';
            text += escapeControlCharacters(entry->fullPath());
            text += '\n';
        }
    }
    return text;
}

std::string formatReport(const ReportData& report) {
    std::string text = withoutTrailingNewlines(report.heading) + '\n';
    const auto line = [&text](const char* label, const std::string& value) {
        text += label;
        text += escapeControlCharacters(value);
        text += '\n';
    };
    line("Local Location:    ", report.source);
    line("FTP Location:      ", report.target);
    const ActionLists empty;
    const ActionLists& lists = report.lists != nullptr ? *report.lists : empty;
    line("Overwritten files: ", std::to_string(lists.overwrittenCount));
    line("Added files:       ", std::to_string(lists.addedFilesCount));
    line("Deleted files:     ", std::to_string(lists.deletedFilesCount));
    line("Added Folders:     ", std::to_string(lists.addedFoldersCount));
    line("Deleted Folders:   ", std::to_string(lists.deletedFoldersCount));
    if (report.problems != nullptr && !report.problems->empty()) {
        text += "Some problems were encountered:\n";
        // One line each, whatever the names and the server's replies hold; the log file keeps
        // them as they are.
        for (const std::string& problem : *report.problems) {
            text += "  ";
            text += escapeControlCharacters(problem);
            text += '\n';
        }
    }
    return text;
}

CliView::CliView(std::ostream& out, std::ostream& err, bool errIsTerminal, bool dryRun)
    : out_(out), err_(err), terminal_(errIsTerminal), dryRun_(dryRun) {}

void CliView::setStatus(const std::string& text) {
    keepStopAfterSignal();
    std::lock_guard lock(mutex_);
    status_ = text;
    redrawLocked(false);
}

void CliView::setPhase(const std::string& label) {
    keepStopAfterSignal();
    std::lock_guard lock(mutex_);
    if (label == phase_) {
        return;
    }
    phase_ = label;
    if (label == "Analysing") {
        lastPlainTenth_ = -1;
    }
    redrawLocked(true);
}

void CliView::setProgress(int thousandths, const std::string& percent,
                          const std::string& timeRemaining) {
    std::lock_guard lock(mutex_);
    percent_ = percent;
    remaining_ = timeRemaining;
    if (terminal_) {
        redrawLocked(false);
        return;
    }
    // Plain output goes to logs: a short run says nothing, a long one a line per tenth of the
    // way at most every few seconds.
    if (percent.empty()) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const int tenth = thousandths / 100;
    if (lastPlainTenth_ < 0) {
        lastPlainTenth_ = tenth;
        lastDraw_ = now;
        return;
    }
    if (tenth > lastPlainTenth_ && now - lastDraw_ >= kPlainInterval) {
        lastPlainTenth_ = tenth;
        lastDraw_ = now;
        err_ << "kelvane-cli: " << percent << "% done";
        if (!timeRemaining.empty()) {
            err_ << ", " << timeRemaining << " left";
        }
        err_ << '\n' << std::flush;
    }
}

void CliView::setRetries(const std::string& label, const std::string& count) {
    std::lock_guard lock(mutex_);
    const std::string retries = label.empty() ? std::string() : label + " " + count;
    if (retries == retries_) {
        return;
    }
    retries_ = retries;
    if (terminal_) {
        redrawLocked(true);
    } else if (!retries.empty()) {
        err_ << "kelvane-cli: " << retries << ": " << status_ << '\n' << std::flush;
    }
}

bool CliView::reviewPlan(PlanForReview& plan) {
    if (!dryRun_) {
        // No one reviews a run from the command line: the whole plan goes ahead.
        return true;
    }
    endProgress();
    out_ << formatPlan(plan) << std::flush;
    // A dry run ends here: nothing is executed.
    return false;
}

void CliView::showReport(const ReportData& report) {
    endProgress();
    std::lock_guard lock(mutex_);
    if (reportCount_ > 0) {
        out_ << '\n';
    }
    ++reportCount_;
    out_ << formatReport(report) << std::flush;
}

bool CliView::connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) {
    keepStopAfterSignal();
    if (CliMessagePump::receivedSignal() != 0) {
        return false;
    }
    return connectAsDialogWould(connection);
}

void CliView::connectionNotFound(const std::string& name) {
    // The same line as ls gives: which name, and where it was looked for.
    writeLine("No connection named \"" + name + "\" in " + connectionsFile_);
}

void CliView::refreshControls() {
    keepStopAfterSignal();
}

void CliView::writeLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    clearLineLocked();
    err_ << line << '\n' << std::flush;
}

void CliView::endProgress() {
    std::lock_guard lock(mutex_);
    clearLineLocked();
}

void CliView::redrawLocked(bool force) {
    if (!terminal_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && lineShown_ && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    lastDraw_ = now;
    std::string line = phase_;
    if (!percent_.empty()) {
        line += " " + percent_ + "%";
    }
    if (!remaining_.empty()) {
        line += " " + remaining_ + " left";
    }
    if (!retries_.empty()) {
        line += " (" + retries_ + ")";
    }
    if (!status_.empty()) {
        line += line.empty() ? status_ : ": " + status_;
    }
    // One column short of the width, so that the terminal never wraps the line.
    err_ << '\r' << fitToWidth(escapeControlCharacters(line), terminalWidth() - 1) << "\x1b[K"
         << std::flush;
    lineShown_ = true;
}

void CliView::clearLineLocked() {
    if (terminal_ && lineShown_) {
        err_ << "\r\x1b[K" << std::flush;
    }
    lineShown_ = false;
}
