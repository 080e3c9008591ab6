#include "ui/icons/ImageLists.h"

#include <array>

#include "common/FileEntry.h"

// Q_INIT_RESOURCE must be used outside any namespace. The resources sit in a static library,
// where nothing would pull them into a program, so every icon comes through here.
static void initImageResources() {
    Q_INIT_RESOURCE(images);
}

namespace {

constexpr std::array<const char*, ImageLists::kListImages> kListNames = {
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

constexpr std::array<const char*, ImageLists::kStateImages> kStateNames = {
    "folder",
    "folder",
    "folder-add",
    "folder-delete",
    "folder",
    "folder-add-failed",
    "folder-delete-failed",
    "folder-open",
    "folder-add-open",
    "folder-delete-open",
    "folder-open",
    "folder-add-failed-open",
    "folder-delete-failed-open",
};

template <std::size_t N>
std::array<QIcon, N> loadIcons(const std::array<const char*, N>& names) {
    static const bool loaded = (initImageResources(), true);
    (void)loaded;
    std::array<QIcon, N> icons;
    for (std::size_t i = 0; i < N; ++i) {
        icons[i] = QIcon(ImageLists::imagePath(names[i]));
    }
    return icons;
}

}  // namespace

QString ImageLists::imagePath(const char* name) {
    return QStringLiteral(":/images/%1.svg").arg(QLatin1String(name));
}

const QIcon& ImageLists::listImage(int index) {
    static const std::array<QIcon, kListImages> icons = loadIcons(kListNames);
    static const QIcon none;
    return index >= 0 && index < kListImages ? icons[static_cast<std::size_t>(index)] : none;
}

const QIcon& ImageLists::stateImage(int index) {
    static const std::array<QIcon, kStateImages> icons = loadIcons(kStateNames);
    static const QIcon none;
    return index >= 0 && index < kStateImages ? icons[static_cast<std::size_t>(index)] : none;
}

int ImageLists::listImageIndex(const FileEntry& entry, bool showActions) {
    const int kind = static_cast<int>(entry.kind);
    if (!showActions) {
        return kind - 1;
    }
    return kind + static_cast<int>(entry.action) - 1 + (entry.failed ? 6 : 0);
}

int ImageLists::stateImageIndex(const FileEntry& entry, bool showActions) {
    if (!showActions) {
        return 1;
    }
    int state = 1;
    if (entry.action == EntryAction::Add) {
        state = 2;
    } else if (entry.action == EntryAction::Delete) {
        state = 3;
    }
    return state + (entry.failed ? 3 : 0);
}

QIcon ImageLists::legendImage(Action action, bool folder, bool failed) {
    FileEntry entry;
    entry.kind = folder ? EntryKind::Folder : EntryKind::File;
    constexpr EntryAction kActions[] = {EntryAction::None, EntryAction::Overwrite, EntryAction::Add,
                                        EntryAction::Delete};
    entry.action = kActions[static_cast<int>(action)];
    entry.failed = failed;
    return listImage(listImageIndex(entry, true));
}
