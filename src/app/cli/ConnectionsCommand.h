#pragma once

#include <ostream>

#include "app/cli/CliOptions.h"

// `kelvane-cli connections`: one line per connection with name, server, user, port and mode,
// under a header line. Passwords are never printed.
int runConnectionsCommand(const CliOptions& options, std::ostream& out, std::ostream& err);
