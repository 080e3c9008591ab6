#pragma once

#include <QDialog>
#include <memory>

class BatchList;
class SettingsStore;
namespace Ui {
class BatchDlg;
}

// "Batch List": the profiles of the open batch in run order. Profiles are checked as they are
// added (each must have Auto Start on); the batch changes only on OK.
class BatchDlg : public QDialog {
    Q_OBJECT

  public:
    // `settings` (may be null) keeps "OpenPath", where Add Files starts and what it remembers.
    BatchDlg(BatchList& batch, SettingsStore* settings, QWidget* parent = nullptr);
    ~BatchDlg() override;

  public slots:
    void OnAddFiles();
    void OnRemove();
    void OnMoveUp();
    void OnMoveDown();
    void accept() override;

  private:
    void updateButtons();
    void moveSelected(int step);

    std::unique_ptr<Ui::BatchDlg> ui_;
    BatchList& batch_;
    SettingsStore* settings_;
};
