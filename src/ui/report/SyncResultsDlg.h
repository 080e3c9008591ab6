#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <string>

#include "engine/ActionLists.h"

class QPushButton;
struct PlanForReview;
namespace Ui {
class SyncResultsDlg;
}

// One category of a run's actions at a time, as full paths, with a button per category that
// shows its count. In review mode (before execution) the person takes actions out of the plan
// and OK lets the run execute what is left; in results mode (after execution) it is read only.
// The categories, in the order of every list and button here: files overwritten, files added,
// files deleted, folders added, folders deleted.
class SyncResultsDlg : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kCategories = 5;

    // Review mode on the plan, which Remove Item edits in place.
    explicit SyncResultsDlg(PlanForReview& plan, QWidget* parent = nullptr);
    // Results mode on what a run did.
    explicit SyncResultsDlg(const ActionLists& results, QWidget* parent = nullptr);
    ~SyncResultsDlg() override;

    bool resultsMode() const { return editable_[0] == nullptr; }
    int currentCategory() const { return current_; }
    QPushButton* categoryButton(int category) const;

  public slots:
    // Shows the category's entries that did not fail; a category button's click.
    void showCategory(int category);
    // Takes the selected lines out of the current category's list.
    void OnRemoveItem();
    // All categories, failures included, in the explorer view; in review mode what is removed
    // there leaves the plan.
    void OnBrowse();
    // Review mode asks before a plan that deletes; No keeps the dialog open.
    void accept() override;

  private:
    SyncResultsDlg(std::array<const EntrySet*, kCategories> lists,
                   std::array<EntrySet*, kCategories> editable, QWidget* parent);
    void writeCounts();
    void fillList();
    void OnSelectionChanged();

    std::unique_ptr<Ui::SyncResultsDlg> ui_;
    std::array<const EntrySet*, kCategories> lists_;
    // The same sets as lists_ in review mode, none in results mode.
    std::array<EntrySet*, kCategories> editable_;
    int current_ = 0;
    // Results mode: the failures of each category, shown only by Browse.
    std::array<const EntrySet*, kCategories> failures_{};
    // Where Browse was last left with OK, while this dialog lives.
    std::string browseFolder_;
};
