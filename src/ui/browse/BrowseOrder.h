#pragma once

#include <vector>

#include "common/FileEntry.h"

// The order of every browse list, chosen by a click on a column header and shared by all lists
// of the program: by name, size or modification time, ascending or descending.
enum class BrowseSortKey { Name, Size, Time };

struct BrowseSort {
    BrowseSortKey key = BrowseSortKey::Name;
    bool descending = false;
};

BrowseSort browseSort();
void setBrowseSort(BrowseSort sort);
// A click on the header of `key`: the current key changes direction, another key sorts
// ascending.
void toggleBrowseSort(BrowseSortKey key);

// The up entry before everything, folders before files, then by the key (name: the names
// ignoring letter case, then the times; time: the times, then the names; size: the sizes, then
// the names, then the times). Descending turns the whole result round, folders included.
// <0, 0 or >0.
int compareBrowseEntries(const FileEntry& a, const FileEntry& b, BrowseSort sort);
// Sorts stably in the program-wide order.
void sortBrowseListing(std::vector<FileEntryPtr>& entries);
