#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/ActionLists.h"
#include "engine/SynchroniserView.h"

namespace testsupport {

// The person at the screen of a run, for tests: records everything the run shows and answers
// the review and the connecting dialog from a script. Progress and retries may arrive from the
// workers of timed commands, so every record is taken under a lock; read the records once the
// run is over.
class FakeSynchroniserView : public SynchroniserView {
  public:
    struct Progress {
        int thousandths = 0;
        std::string percent;
        std::string timeRemaining;
    };
    // What a report showed, copied when it was shown.
    struct Report {
        std::string heading;
        std::string source;
        std::string target;
        ActionLists lists;
        ProblemList problems;
    };

    void setStatus(const std::string& text) override;
    void setPhase(const std::string& label) override;
    void setProgress(int thousandths, const std::string& percent,
                     const std::string& timeRemaining) override;
    void setRetries(const std::string& label, const std::string& count) override;
    bool reviewPlan(PlanForReview& plan) override;
    void showReport(const ReportData& report) override;
    bool connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) override;
    void refreshControls() override;
    void closeProgram() override;

    // Statuses that start with `prefix`, in the order shown.
    std::vector<std::string> statusesStartingWith(const std::string& prefix) const;

    // ---- Script ----
    // Called with every status after it was recorded: a test presses Stop here, as a user
    // would while the status shows.
    std::function<void(const std::string&)> onStatus;
    // The review: the plan as offered is recorded, then `editPlan` may change it, then
    // `reviewAnswer` ends the review (false: Cancel).
    bool reviewAnswer = true;
    std::function<void(PlanForReview&)> editPlan;
    // The connecting dialog: with connectAnswer false it fails without trying, as Stop would;
    // otherwise it logs in with connectFtp and answers whether that worked.
    bool connectAnswer = true;

    // ---- Records ----
    std::vector<std::string> statuses;
    std::vector<std::string> phases;
    std::vector<Progress> progress;
    std::vector<std::pair<std::string, std::string>> retries;
    std::vector<PlanForReview> reviews;
    std::vector<Report> reports;
    int connectCalls = 0;
    int refreshCalls = 0;
    int closeCalls = 0;

  private:
    mutable std::mutex mutex_;
};

}  // namespace testsupport
