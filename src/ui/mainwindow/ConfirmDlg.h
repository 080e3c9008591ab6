#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "common/Prompter.h"

namespace Ui {
class ConfirmDlg;
}

// "Confirmation": the five-button delete question of the analysis and the browse controls. The
// answer is Cancel until a button says otherwise, so closing it any other way cancels.
class ConfirmDlg : public QDialog {
    Q_OBJECT

  public:
    ConfirmDlg(const std::string& caption, const std::string& line1, const std::string& line2,
               const std::string& line3, const std::string& line4, QWidget* parent = nullptr);
    ~ConfirmDlg() override;

    ConfirmAnswer answer() const { return answer_; }

  private:
    void finish(ConfirmAnswer answer);

    std::unique_ptr<Ui::ConfirmDlg> ui_;
    ConfirmAnswer answer_ = ConfirmAnswer::Cancel;
};
