#pragma once

#include <ostream>
#include <string>

#include "app/cli/CliOptions.h"

struct FileEntry;

// `kelvane-cli ls FTP:NAME/PATH`: logs in with the named connection of the connections file and
// prints the folder, one entry per line. Failures go to `err` with exit status 2; SIGINT or
// SIGTERM ends it with 130.
int runLsCommand(const CliOptions& options, const std::string& location, std::ostream& out,
                 std::ostream& err);

// "d" or "-", the size in bytes, the date and the time as listed, the name last and as it is:
// "- 1234 2024-03-02 15:13:00 index.html".
std::string formatListingLine(const FileEntry& entry);
