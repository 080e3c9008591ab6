#include "ui/browse/ConnectionChoice.h"

#include "ui/ModalDialog.h"
#include "ui/connections/ConnectionManagerDlg.h"

bool chooseConnection(QWidget* parent, ConnectionList& connections,
                      std::shared_ptr<ConnectionDetails>& active, bool& changed) {
    ConnectionManagerDlg manager(connections, active, parent);
    const bool accepted = runModal(manager) == QDialog::Accepted;
    changed = accepted && manager.modified();
    return accepted;
}
