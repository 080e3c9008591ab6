#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class PropertiesDlg;
}

// What the folder tree's "Properties" shows of a file or folder: its name, kind, place, size
// (or, for a folder, what it holds), times, owner, permissions and the attributes the program
// goes by (read-only, hidden, compressed, encrypted). Nothing in it can be changed.
class PropertiesDlg : public QDialog {
    Q_OBJECT

  public:
    PropertiesDlg(const std::string& path, QWidget* parent = nullptr);
    ~PropertiesDlg() override;

  private:
    void fill(const std::string& path);

    std::unique_ptr<Ui::PropertiesDlg> ui_;
};
