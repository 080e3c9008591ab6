#pragma once

#include <QString>
#include <string>
#include <vector>

#include "common/FileEntry.h"

class QListWidget;
class ExclusionSet;

// What the exclusion dialogs do alike with their list boxes: one line per entry, the entry's
// full path (a folder keeps its trailing separator), and a list rebuilt from the lines that
// are left after "Remove".

// Fills `box` with the entries in list order; the box scrolls sideways to its widest line.
void fillExclusionBox(QListWidget& box, const std::vector<FileEntryPtr>& entries);
// The lines of `box` that are not selected.
std::vector<std::string> unselectedLines(const QListWidget& box);
// Deletes the selected lines from the box and the exact list of `set`, then builds the exact
// list again from the lines left: an entry that the others or a wildcard cover is dropped.
void removeSelectedExactEntries(QListWidget& box, ExclusionSet& set);
// Selects (only) the lines equal to one of `lines`.
void selectLines(QListWidget& box, const std::vector<std::string>& lines);
// The full path an entry is shown and stored as.
QString exclusionLine(const FileEntry& entry);

// Where the local exclusion dialog's Browse and its wildcard entry start: one folder for the
// whole run of the program, remembered from the last of them.
std::string& exclusionBrowsePath();
