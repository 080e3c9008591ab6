#pragma once

#include <QIcon>
#include <QSize>

struct FileEntry;

// The icons every browsing window shares, built once from the SVG images of images.qrc. The
// list images (sixteen, in the order of their index) serve the file lists in both sizes, since
// an SVG icon renders sharp at 16 and at 32 pixels alike; the state images (thirteen) mark the
// folders of the trees, closed and open.
class ImageLists {
  public:
    static constexpr int kListImages = 16;
    static constexpr int kStateImages = 13;
    // A closed state image plus this is its open form.
    static constexpr int kOpenStateOffset = 6;

    static QSize smallIconSize() { return {16, 16}; }
    static QSize largeIconSize() { return {32, 32}; }

    // 0 folder, 1 file, 2/3 excluded folder/file, 5 overwrite, 6/7 add, 8/9 delete; 10..15 the
    // same actions failed (4 and 10, folder overwrites, never happen and show the plain folder).
    static const QIcon& listImage(int index);
    // 1 folder, 2 added, 3 deleted; 4..6 the same failed; 7..12 their open forms; 0 unused.
    static const QIcon& stateImage(int index);

    // The list image of an entry: with show-actions, kind + action - 1, plus 6 when it failed;
    // without, kind - 1.
    static int listImageIndex(const FileEntry& entry, bool showActions);
    // The closed state image of a folder of a tree.
    static int stateImageIndex(const FileEntry& entry, bool showActions);

    // The images of the action legend, by action (none, overwrite, add, delete) and failure.
    enum class Action { None, Overwrite, Add, Delete };
    static QIcon legendImage(Action action, bool folder, bool failed);

    // The resource path of a named image ("folder-add"), for tests and the legend.
    static QString imagePath(const char* name);
};
