#include "ui/browse/ConnectionChoice.h"

bool chooseConnection(QWidget*, ConnectionList&, std::shared_ptr<ConnectionDetails>&,
                      bool& changed) {
    // Until the connection manager arrives.
    changed = false;
    return false;
}
