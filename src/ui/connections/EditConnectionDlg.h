#pragma once

#include <QDialog>
#include <memory>
#include <set>
#include <string>

#include "ui/connections/ConnectionAdvancedDlg.h"

class ConnectionDetails;
namespace Ui {
class EditConnectionDlg;
}

// "Edit FTP Connection Details": the fields of one connection. OK checks what was typed (the
// first failing check says why and the dialog stays open) and writes it into the connection
// object itself; Cancel leaves the object as it was. `namesInUse` holds the names the
// connection may not take: those of the other connections.
class EditConnectionDlg : public QDialog {
    Q_OBJECT

  public:
    EditConnectionDlg(std::set<std::string> namesInUse,
                      std::shared_ptr<ConnectionDetails> connection, QWidget* parent = nullptr);
    ~EditConnectionDlg() override;

    const std::shared_ptr<ConnectionDetails>& connection() const { return connection_; }
    // The port and mode kept for the connection: its own, or those chosen under Advanced.
    const ConnectionAdvancedDlg::Settings& advancedSettings() const { return advanced_; }

  public slots:
    // Opens the advanced settings with the kept port and mode; OK there keeps the new ones.
    void OnAdvanced();
    void accept() override;

  private:
    std::unique_ptr<Ui::EditConnectionDlg> ui_;
    const std::set<std::string> namesInUse_;
    const std::shared_ptr<ConnectionDetails> connection_;
    ConnectionAdvancedDlg::Settings advanced_;
};
