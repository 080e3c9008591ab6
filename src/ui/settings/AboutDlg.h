#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDlg;
}

// The program's name, the version being run and what the program is for.
class AboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDlg(QWidget* parent = nullptr);
    ~AboutDlg() override;

  private:
    std::unique_ptr<Ui::AboutDlg> ui_;
};
