#pragma once

#include "ui/browse/FileBrowseCtrl.h"

// The view-style drop-down of the browse windows lists "List", "Icon", "Small", "Details", in
// that order; these turn an item into the list's view style and back.
inline int viewStyleOfItem(int item) {
    constexpr int kStyleOfItem[] = {FileBrowseCtrl::List, FileBrowseCtrl::LargeIcons,
                                    FileBrowseCtrl::SmallIcons, FileBrowseCtrl::Report};
    return item >= 0 && item < 4 ? kStyleOfItem[item] : FileBrowseCtrl::List;
}

inline int viewItemOfStyle(int style) {
    for (int item = 0; item < 4; ++item) {
        if (viewStyleOfItem(item) == style) {
            return item;
        }
    }
    return 0;
}
