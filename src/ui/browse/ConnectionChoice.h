#pragma once

#include <memory>

#include "transfer/ConnectionsFile.h"

class QWidget;

// The FTP Connection Manager as the browse and exclusion dialogs open it, on their caller's
// list and active connection (both may change). True on OK; `changed` then tells whether the
// manager changed the list or the choice, and the caller's caller saves the connections file.
bool chooseConnection(QWidget* parent, ConnectionList& connections,
                      std::shared_ptr<ConnectionDetails>& active, bool& changed);
