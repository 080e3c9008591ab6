#pragma once

#include <QIcon>
#include <array>

struct FileEntry;

// The shared icons of the file lists and folder trees. The order of each set is fixed, because
// an entry's image is computed from its kind, action code and failed flag:
//
// entry images: 0 folder, 1 file, 2 excluded folder, 3 excluded file, 4 folder (an overwrite a
// folder never gets), 5 file to overwrite, 6 folder to add, 7 file to add, 8 folder to delete,
// 9 file to delete, then 10..15 the same six actions failed (10 is a plain folder again).
//
// folder-tree states: 0 and 1 folder, 2 folder to add, 3 folder to delete, 4 folder, 5 failed
// add, 6 failed delete, then 7..12 the open forms of 1..6.
class ImageLists {
  public:
    static constexpr int kEntryImages = 16;
    static constexpr int kFolderStates = 13;
    static constexpr int kOpenFolderOffset = 6;

    // Built on first use; needs the application object.
    static const ImageLists& instance();

    // kind + action - 1, plus 6 when failed; without actions kind - 1. -1 for the up entry,
    // which has no image of its own.
    static int entryImageIndex(const FileEntry& entry, bool showActions);
    // 2 for a folder to add, 3 for one to delete, 1 otherwise; plus 3 when failed. Add
    // kOpenFolderOffset for the expanded folder.
    static int folderStateIndex(const FileEntry& folder);

    // A null icon for an index out of range.
    QIcon entryIcon(int index) const;
    QIcon folderStateIcon(int index) const;

  private:
    ImageLists();

    std::array<QIcon, kEntryImages> entries_;
    std::array<QIcon, kFolderStates> folderStates_;
};
