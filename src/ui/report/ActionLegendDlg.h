#pragma once

#include <QDialog>
#include <memory>

class QLabel;
namespace Ui {
class ActionLegendDlg;
}

// What the icons of the browse lists and trees mean: a file and a folder plain, overwritten,
// added and deleted, and the same actions failed.
class ActionLegendDlg : public QDialog {
    Q_OBJECT

  public:
    explicit ActionLegendDlg(QWidget* parent = nullptr);
    ~ActionLegendDlg() override;

  private:
    std::unique_ptr<Ui::ActionLegendDlg> ui_;
};
