#pragma once

#include <QDialog>
#include <memory>

#include "engine/ActionLists.h"

namespace Ui {
class ProblemLogDlg;
}

// The problem lines of a run, in the order the run wrote them: each failure's message with its
// path, then the reason.
class ProblemLogDlg : public QDialog {
    Q_OBJECT

  public:
    explicit ProblemLogDlg(const ProblemList& problems, QWidget* parent = nullptr);
    ~ProblemLogDlg() override;

  private:
    std::unique_ptr<Ui::ProblemLogDlg> ui_;
};
