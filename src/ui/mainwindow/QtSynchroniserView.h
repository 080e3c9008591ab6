#pragma once

#include "engine/SynchroniserView.h"

class CSynchroniserDlg;

// What a run shows in the main window. Progress and retries arrive from the workers of timed
// commands: they are always queued to the window's thread, also when they come from that thread,
// so that they are shown in the order they were made (a late worker's "Retries 1" must not land
// after the window has cleared it). The window's widgets are touched on its own thread only.
class QtSynchroniserView final : public SynchroniserView {
  public:
    explicit QtSynchroniserView(CSynchroniserDlg& window) : window_(window) {}

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

  private:
    CSynchroniserDlg& window_;
};
