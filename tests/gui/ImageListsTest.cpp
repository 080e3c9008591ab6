#include "ui/icons/ImageLists.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "common/FileEntry.h"

namespace {

FileEntry entry(EntryKind kind, EntryAction action, bool failed) {
    FileEntry e;
    e.kind = kind;
    e.action = action;
    e.failed = failed;
    return e;
}

TEST(ImageListsTest, AnEntryTakesTheImageOfItsKindActionAndFailure) {
    using K = EntryKind;
    using A = EntryAction;
    struct Case {
        FileEntry entry;
        bool showActions;
        int image;
    };
    const Case cases[] = {
        {entry(K::Folder, A::None, false), true, 0},
        {entry(K::File, A::None, false), true, 1},
        {entry(K::Folder, A::Excluded, false), true, 2},
        {entry(K::File, A::Excluded, false), true, 3},
        {entry(K::File, A::Overwrite, false), true, 5},
        {entry(K::Folder, A::Add, false), true, 6},
        {entry(K::File, A::Add, false), true, 7},
        {entry(K::Folder, A::Delete, false), true, 8},
        {entry(K::File, A::Delete, false), true, 9},
        {entry(K::File, A::Overwrite, true), true, 11},
        {entry(K::Folder, A::Add, true), true, 12},
        {entry(K::File, A::Add, true), true, 13},
        {entry(K::Folder, A::Delete, true), true, 14},
        {entry(K::File, A::Delete, true), true, 15},
        {entry(K::File, A::Delete, true), false, 1},
        {entry(K::Folder, A::Add, false), false, 0},
        {entry(K::Up, A::None, false), true, -1},
        {entry(K::Up, A::None, false), false, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImageLists::entryImageIndex(c.entry, c.showActions), c.image)
            << static_cast<int>(c.entry.kind) << " " << static_cast<int>(c.entry.action) << " "
            << c.entry.failed << " " << c.showActions;
    }
}

TEST(ImageListsTest, AFolderInTheTreeTakesTheStateOfItsAction) {
    EXPECT_EQ(ImageLists::folderStateIndex(entry(EntryKind::Folder, EntryAction::None, false)), 1);
    EXPECT_EQ(ImageLists::folderStateIndex(entry(EntryKind::Folder, EntryAction::Add, false)), 2);
    EXPECT_EQ(ImageLists::folderStateIndex(entry(EntryKind::Folder, EntryAction::Delete, false)),
              3);
    EXPECT_EQ(ImageLists::folderStateIndex(entry(EntryKind::Folder, EntryAction::Add, true)), 5);
    EXPECT_EQ(ImageLists::folderStateIndex(entry(EntryKind::Folder, EntryAction::Delete, true)), 6);
}

// Every image draws at both list sizes (the resources are linked and the SVG parses), and the
// images of different meanings differ.
TEST(ImageListsTest, EveryImageDrawsAtSmallAndLargeSize) {
    const ImageLists& lists = ImageLists::instance();
    const auto draw = [](const QIcon& icon, int size) { return icon.pixmap(size, size).toImage(); };
    for (int index = 0; index < ImageLists::kEntryImages; ++index) {
        for (const int size : {16, 32}) {
            const QImage image = draw(lists.entryIcon(index), size);
            ASSERT_FALSE(image.isNull()) << index << " at " << size;
            EXPECT_EQ(image.width(), size) << index;
        }
    }
    for (int index = 0; index < ImageLists::kFolderStates; ++index) {
        EXPECT_FALSE(draw(lists.folderStateIcon(index), 16).isNull()) << index;
    }
    EXPECT_NE(draw(lists.entryIcon(7), 32), draw(lists.entryIcon(13), 32));  // add, failed add
    EXPECT_NE(draw(lists.entryIcon(7), 32), draw(lists.entryIcon(9), 32));   // add, delete
    EXPECT_EQ(draw(lists.entryIcon(4), 32), draw(lists.entryIcon(0), 32));   // plain folders
    EXPECT_TRUE(lists.entryIcon(16).isNull());
    EXPECT_TRUE(lists.folderStateIcon(-1).isNull());
}

}  // namespace
