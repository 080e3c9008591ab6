#pragma once

#include <QDialog>
#include <memory>

#include "engine/SynchroniserView.h"

class ProblemLogDlg;
class SyncResultsDlg;
namespace Ui {
class SyncReportDlg;
}

// The summary after a run and on "Last Report": the heading, the two locations, the five counts
// of what was done, and the ways into the problem log and the detailed results.
//
// The results block of the log is written by the run (Synchroniser::showReport) just before
// this dialog is made, so the report on screen and the one in the log are written once and from
// the same lists; this dialog writes nothing.
class SyncReportDlg : public QDialog {
    Q_OBJECT

  public:
    // `report` and the lists it points to must outlive the dialog.
    explicit SyncReportDlg(const ReportData& report, QWidget* parent = nullptr);
    ~SyncReportDlg() override;

    // With quietMode on nobody is at the screen: the dialog ends with OK at once, unseen.
    int exec() override;

    // What "View Problem Log" and "View Details" open.
    std::unique_ptr<ProblemLogDlg> makeProblemLog();
    std::unique_ptr<SyncResultsDlg> makeDetails();

  public slots:
    void OnViewProblemLog();
    void OnViewDetails();

  private:
    std::unique_ptr<Ui::SyncReportDlg> ui_;
    const ActionLists& lists_;
    const ProblemList& problems_;
};
