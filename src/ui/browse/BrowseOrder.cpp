#include "ui/browse/BrowseOrder.h"

#include <algorithm>

namespace {

BrowseSort current;

template <typename T>
int threeWay(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int compareAscending(const FileEntry& a, const FileEntry& b, BrowseSortKey key) {
    const int kinds = threeWay(static_cast<int>(a.kind), static_cast<int>(b.kind));
    if (kinds != 0) {
        return kinds;
    }
    const int names = comparePathsIgnoringCase(a.name, b.name);
    const int times = threeWay(a.dateTime(), b.dateTime());
    switch (key) {
        case BrowseSortKey::Name:
            return names != 0 ? names : times;
        case BrowseSortKey::Time:
            return times != 0 ? times : names;
        case BrowseSortKey::Size: {
            const int sizes = threeWay(a.size, b.size);
            if (sizes != 0) {
                return sizes;
            }
            return names != 0 ? names : times;
        }
    }
    return 0;
}

}  // namespace

BrowseSort browseSort() {
    return current;
}

void setBrowseSort(BrowseSort sort) {
    current = sort;
}

void toggleBrowseSort(BrowseSortKey key) {
    if (current.key == key) {
        current.descending = !current.descending;
    } else {
        current = {key, false};
    }
}

int compareBrowseEntries(const FileEntry& a, const FileEntry& b, BrowseSort sort) {
    const int result = compareAscending(a, b, sort.key);
    return sort.descending ? -result : result;
}

void sortBrowseListing(std::vector<FileEntryPtr>& entries) {
    const BrowseSort sort = current;
    std::stable_sort(entries.begin(), entries.end(),
                     [sort](const FileEntryPtr& a, const FileEntryPtr& b) {
                         return compareBrowseEntries(*a, *b, sort) < 0;
                     });
}
