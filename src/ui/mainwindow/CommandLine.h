#pragma once

#include <QStringList>
#include <string>

// The file named on the program's command line: the first parameter after the program's own
// path that is not a switch. A switch starts with "-" and changes nothing in this program
// ("/" starts an absolute path here, not a switch). An existing file is returned as an
// absolute path, so that the recent files and the next start find it from any folder.
// Empty when no file is named.
std::string commandLineFile(const QStringList& arguments);
