#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

class ExclusionSet;
namespace Ui {
class LocalExclusionsDlg;
}

// "Local Exclusion Files": the exact entries and the wildcards of a profile's local set, edited
// on a copy that the caller takes back on OK. Browse marks files and folders in the local
// browser; Lost Files selects the entries that no longer exist, so that Remove can drop them.
class LocalExclusionsDlg : public QDialog {
    Q_OBJECT

  public:
    explicit LocalExclusionsDlg(ExclusionSet& exclusions, QWidget* parent = nullptr);
    ~LocalExclusionsDlg() override;

    // The full paths of the exact entries that were missing on disk when the dialog opened.
    const std::vector<std::string>& lostEntries() const { return lost_; }

  public slots:
    void OnRemove();
    void OnBrowse();
    void OnLostFiles();
    void OnWildcard();
    void OnRemoveWildcard();

  private:
    void updateButtons();
    // Where Browse and Wildcard start: the remembered folder, or the first exact entry.
    std::string browseStart() const;

    std::unique_ptr<Ui::LocalExclusionsDlg> ui_;
    ExclusionSet& exclusions_;
    std::vector<std::string> lost_;
};
