#pragma once

#include <QDialog>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "transfer/ConnectionsFile.h"

namespace Ui {
class ConnectionManagerDlg;
}

// "FTP Connection Manager": choose the connection to use; create, edit and delete connections.
// It works on a copy of the caller's list of handles, so New and Delete reach the caller only
// on OK; the connection objects themselves are shared, so an Edit stays in memory even after
// Cancel. OK makes the chosen connection the caller's active one and, when anything changed,
// hands the list back; the caller then saves the connections file (see manage).
class ConnectionManagerDlg : public QDialog {
    Q_OBJECT

  public:
    ConnectionManagerDlg(ConnectionList& list, std::shared_ptr<ConnectionDetails>& active,
                         QWidget* parent = nullptr);
    ~ConnectionManagerDlg() override;

    // Set by every change of selection, New, Edit and Delete; what the caller reads after OK.
    bool modified() const { return modified_; }
    // The dialog's own list and the connection chosen in it (null: none).
    const ConnectionList& connections() const { return list_; }
    const std::shared_ptr<ConnectionDetails>& selection() const { return selection_; }

    struct Outcome {
        bool accepted = false;
        bool modified = false;
    };
    // What every caller does: opens the manager on `list` and `active` (through runModal) and,
    // after OK with a change, saves the list to `connectionsFile` (a failure is reported).
    static Outcome manage(ConnectionList& list, std::shared_ptr<ConnectionDetails>& active,
                          const std::filesystem::path& connectionsFile, QWidget* parent);

  public slots:
    // The person chose another name in the drop-down list.
    void OnSelchangeConnection();
    void OnNew();
    void OnEdit();
    void OnDelete();
    void accept() override;

  private:
    // When the selection is connected: asks "Break current connection?" (with `naming`, "...
    // to NAME?") and breaks it on Yes; false on No, and nothing else changes then.
    bool breakSelectedConnection(bool naming);
    // Edit and Delete up to the look-up: the connection the drop-down list names. Null with
    // `stopped` set when there is no selection (said so) or the person keeps its connection;
    // null alone when the name is not in the list (said so).
    std::shared_ptr<ConnectionDetails> connectionToChange(bool& stopped);
    // The stored name of the current item of the drop-down list; empty when none is chosen.
    std::string comboName() const;
    // Inserts `name` in its sorted place (letter case aside); the current item stays.
    void addToCombo(const std::string& name);
    void selectInCombo(const std::string& name);  // empty: none
    void removeFromCombo(int index);
    void showFields(const ConnectionDetails* connection);  // null: empties them
    std::set<std::string> allNames() const;
    // "Two connections flagged as connected" when the caller's active connection and another,
    // chosen one are both connected.
    void checkConsistency();
    void focusOk();

    std::unique_ptr<Ui::ConnectionManagerDlg> ui_;
    ConnectionList& callerList_;
    std::shared_ptr<ConnectionDetails>& callerActive_;
    ConnectionList list_;
    std::shared_ptr<ConnectionDetails> selection_;
    bool modified_ = false;
};
