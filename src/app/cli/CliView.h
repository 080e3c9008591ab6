#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "common/ErrorReport.h"
#include "engine/SynchroniserView.h"

// What a run shows when kelvane-cli drives it: the report and the plan of a dry run on the
// output stream (for scripts), progress and error lines on the error stream (for people). On a
// terminal the progress is one line redrawn in place; otherwise a plain line now and then, so
// that a captured log stays short.
//
// It is also the program's error log beside the log file: every reportError line reaches the
// error stream, silent or not, so that a failed call says why.
//
// Progress may be reported from worker threads (uploads count their chunks there), so the
// stream writes are serialised.
class CliView final : public SynchroniserView, public ErrorLog {
  public:
    CliView(std::ostream& out, std::ostream& err, bool errIsTerminal, bool dryRun);

    void setStatus(const std::string& text) override;
    void setPhase(const std::string& label) override;
    void setProgress(int thousandths, const std::string& percent,
                     const std::string& timeRemaining) override;
    void setRetries(const std::string& label, const std::string& count) override;
    bool reviewPlan(PlanForReview& plan) override;
    void showReport(const ReportData& report) override;
    bool connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) override;
    void refreshControls() override;
    void closeProgram() override {}
    void connectionNotFound(const std::string& name) override;

    // The connections file the run was given, named when a profile's connection is not in it.
    void setConnectionsFile(std::string path) { connectionsFile_ = std::move(path); }

    bool isOpen() const override { return true; }
    void writeLine(const std::string& line) override;

    // Clears the progress line, so that what comes next starts on a clean line.
    void endProgress();

    // How many reports were shown (a batch shows one per run).
    int reportCount() const { return reportCount_; }

  private:
    void redrawLocked(bool force);
    void clearLineLocked();

    std::ostream& out_;
    std::ostream& err_;
    const bool terminal_;
    const bool dryRun_;
    std::mutex mutex_;
    std::string status_;
    std::string phase_;
    std::string percent_;
    std::string remaining_;
    std::string retries_;
    bool lineShown_ = false;
    int lastPlainTenth_ = -1;
    std::chrono::steady_clock::time_point lastDraw_{};
    int reportCount_ = 0;
    std::string connectionsFile_;
};

// The lines of a dry run: one per planned action, the action word, a space and the target path.
std::string formatPlan(const PlanForReview& plan);
// The report as kelvane-cli prints it: heading, the two locations, the five counts, the problems.
std::string formatReport(const ReportData& report);
// `text` cut to at most `width` bytes without splitting a UTF-8 character.
std::string fitToWidth(const std::string& text, std::size_t width);
