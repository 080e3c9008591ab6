#include "ui/icons/ImageLists.h"

#include <QString>

#include "common/FileEntry.h"

namespace {

constexpr int kFailedOffset = 6;

template <std::size_t count>
void load(std::array<QIcon, count>& icons, const char* const (&names)[count]) {
    for (std::size_t index = 0; index < count; ++index) {
        icons[index] = QIcon(QStringLiteral(":/entries/%1.svg").arg(QLatin1String(names[index])));
    }
}

}  // namespace

// The resources of a static library are not linked unless something asks for them. Outside
// any namespace: the macro declares the resource's own function.
static void loadEntryResources() {
    Q_INIT_RESOURCE(entries);
}

const ImageLists& ImageLists::instance() {
    static const ImageLists lists;
    return lists;
}

ImageLists::ImageLists() {
    loadEntryResources();
    const char* const entryNames[kEntryImages] = {
        "folder",
        "file",
        "folder-excluded",
        "file-excluded",
        "folder",
        "file-overwrite",
        "folder-add",
        "file-add",
        "folder-delete",
        "file-delete",
        "folder",
        "file-overwrite-failed",
        "folder-add-failed",
        "file-add-failed",
        "folder-delete-failed",
        "file-delete-failed",
    };
    load(entries_, entryNames);
    const char* const stateNames[kFolderStates] = {
        "folder",
        "folder",
        "folder-add",
        "folder-delete",
        "folder",
        "folder-add-failed",
        "folder-delete-failed",
        "folder-open",
        "folder-open-add",
        "folder-open-delete",
        "folder-open",
        "folder-open-add-failed",
        "folder-open-delete-failed",
    };
    load(folderStates_, stateNames);
}

int ImageLists::entryImageIndex(const FileEntry& entry, bool showActions) {
    const int kind = static_cast<int>(entry.kind);
    int index = kind - 1;
    if (showActions) {
        index = kind + static_cast<int>(entry.action) - 1 + (entry.failed ? kFailedOffset : 0);
    }
    return index >= 0 && index < kEntryImages ? index : -1;
}

int ImageLists::folderStateIndex(const FileEntry& folder) {
    int state = 1;
    if (folder.action == EntryAction::Add) {
        state = 2;
    } else if (folder.action == EntryAction::Delete) {
        state = 3;
    }
    return state + (folder.failed ? 3 : 0);
}

QIcon ImageLists::entryIcon(int index) const {
    return index >= 0 && index < kEntryImages ? entries_[index] : QIcon();
}

QIcon ImageLists::folderStateIcon(int index) const {
    return index >= 0 && index < kFolderStates ? folderStates_[index] : QIcon();
}
