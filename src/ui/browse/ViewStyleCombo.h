#pragma once

class FileBrowseCtrl;
class QComboBox;

// The view-style drop-down of the browse dialogs. Its items "List", "Icon", "Small" and
// "Details" stand for the list, large-icon, small-icon and report views of the file list.
namespace viewstylecombo {

// The list's style for an item of the drop-down; false for an index out of range.
bool applyItem(FileBrowseCtrl& list, int item);
// Shows the list's style in the drop-down without sending a change back.
void showStyleOf(QComboBox& combo, const FileBrowseCtrl& list);

}  // namespace viewstylecombo
