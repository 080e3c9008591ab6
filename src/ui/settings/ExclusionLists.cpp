#include "ui/settings/ExclusionLists.h"

#include <QListWidget>
#include <algorithm>

#include "profiles/ExclusionSet.h"

QString exclusionLine(const FileEntry& entry) {
    return QString::fromStdString(ExclusionSet::displayPath(entry));
}

void fillExclusionBox(QListWidget& box, const std::vector<FileEntryPtr>& entries) {
    box.clear();
    for (const FileEntryPtr& entry : entries) {
        box.addItem(exclusionLine(*entry));
    }
    // Long paths are scrolled to, not cut off.
    box.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    box.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

std::vector<std::string> unselectedLines(const QListWidget& box) {
    std::vector<std::string> lines;
    for (int row = 0; row < box.count(); ++row) {
        const QListWidgetItem* item = box.item(row);
        if (!item->isSelected()) {
            lines.push_back(item->text().toStdString());
        }
    }
    return lines;
}

void removeSelectedExactEntries(QListWidget& box, ExclusionSet& set) {
    const std::vector<std::string> kept = unselectedLines(box);
    set.clearExactEntries();
    for (const std::string& line : kept) {
        set.addPath(line);
    }
    set.sort();
    fillExclusionBox(box, set.exactEntries());
}

void selectLines(QListWidget& box, const std::vector<std::string>& lines) {
    box.clearSelection();
    for (int row = 0; row < box.count(); ++row) {
        QListWidgetItem* item = box.item(row);
        const std::string text = item->text().toStdString();
        if (std::find(lines.begin(), lines.end(), text) != lines.end()) {
            item->setSelected(true);
        }
    }
}

std::string& exclusionBrowsePath() {
    static std::string path;
    return path;
}
