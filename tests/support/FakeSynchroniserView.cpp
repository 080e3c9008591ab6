#include "support/FakeSynchroniserView.h"

#include "transfer/ConnectionDetails.h"

namespace testsupport {

void FakeSynchroniserView::setStatus(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        statuses.push_back(text);
    }
    if (onStatus) {
        onStatus(text);
    }
}

void FakeSynchroniserView::setPhase(const std::string& label) {
    std::lock_guard lock(mutex_);
    phases.push_back(label);
}

void FakeSynchroniserView::setProgress(int thousandths, const std::string& percent,
                                       const std::string& timeRemaining) {
    std::lock_guard lock(mutex_);
    progress.push_back({thousandths, percent, timeRemaining});
}

void FakeSynchroniserView::setRetries(const std::string& label, const std::string& count) {
    std::lock_guard lock(mutex_);
    retries.emplace_back(label, count);
}

bool FakeSynchroniserView::reviewPlan(PlanForReview& plan) {
    {
        std::lock_guard lock(mutex_);
        reviews.push_back(plan);
    }
    if (editPlan) {
        editPlan(plan);
    }
    return reviewAnswer;
}

void FakeSynchroniserView::showReport(const ReportData& report) {
    Report copy;
    copy.heading = report.heading;
    copy.source = report.source;
    copy.target = report.target;
    if (report.lists != nullptr) {
        copy.lists = *report.lists;
    }
    if (report.problems != nullptr) {
        copy.problems = *report.problems;
    }
    std::lock_guard lock(mutex_);
    reports.push_back(std::move(copy));
}

bool FakeSynchroniserView::connectWithDialog(const std::shared_ptr<ConnectionDetails>& connection) {
    {
        std::lock_guard lock(mutex_);
        ++connectCalls;
    }
    if (!connectAnswer || !connection) {
        return false;
    }
    return connection->connectFtp();
}

void FakeSynchroniserView::refreshControls() {
    std::lock_guard lock(mutex_);
    ++refreshCalls;
}

void FakeSynchroniserView::closeProgram() {
    std::lock_guard lock(mutex_);
    ++closeCalls;
}

std::vector<std::string> FakeSynchroniserView::statusesStartingWith(
    const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    for (const std::string& status : statuses) {
        if (status.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(status);
        }
    }
    return found;
}

}  // namespace testsupport
