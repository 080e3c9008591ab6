#include "ui/browse/ViewStyleCombo.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "ui/browse/FileBrowseCtrl.h"

namespace viewstylecombo {

namespace {

// The drop-down's items, in their order, as list view styles.
constexpr int kStyleOfItem[] = {FileBrowseCtrl::List, FileBrowseCtrl::LargeIcons,
                                FileBrowseCtrl::SmallIcons, FileBrowseCtrl::Report};
constexpr int kItems = 4;

}  // namespace

bool applyItem(FileBrowseCtrl& list, int item) {
    if (item < 0 || item >= kItems) {
        return false;
    }
    list.setViewStyle(kStyleOfItem[item]);
    return true;
}

void showStyleOf(QComboBox& combo, const FileBrowseCtrl& list) {
    int shown = 0;
    for (int item = 0; item < kItems; ++item) {
        if (kStyleOfItem[item] == list.viewStyle()) {
            shown = item;
        }
    }
    const QSignalBlocker quiet(&combo);
    combo.setCurrentIndex(shown);
}

}  // namespace viewstylecombo
