#include "ui/browse/FileListModel.h"

#include <QMetaObject>

#include "ui/browse/BrowseSettings.h"
#include "ui/icons/ImageLists.h"

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void FileListModel::setRows(std::vector<FileEntryPtr> entries, std::vector<int> images) {
    beginResetModel();
    entries_ = std::move(entries);
    images_ = std::move(images);
    images_.resize(entries_.size(), 0);
    endResetModel();
}

int FileListModel::imageAt(int row) const {
    return row >= 0 && row < static_cast<int>(images_.size()) ? images_[static_cast<size_t>(row)]
                                                              : -1;
}

void FileListModel::setImage(int row, int image) {
    if (row < 0 || row >= static_cast<int>(images_.size())) {
        return;
    }
    images_[static_cast<size_t>(row)] = image;
    const QModelIndex cell = index(row, NameColumn);
    emit dataChanged(cell, cell, {Qt::DecorationRole, kImageIndexRole});
}

void FileListModel::setRowName(int row, const FileEntryPtr& renamed) {
    if (row < 0 || row >= static_cast<int>(entries_.size())) {
        return;
    }
    entries_[static_cast<size_t>(row)] = renamed;
    const QModelIndex cell = index(row, NameColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::EditRole});
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(entries_.size())) {
        return {};
    }
    const FileEntry& entry = *entries_[static_cast<size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            switch (index.column()) {
                case NameColumn:
                    return QString::fromStdString(entry.name);
                case BytesColumn:
                    return entry.kind == EntryKind::File ? formatBytes(entry.size) : QString();
                case ModifiedColumn:
                    return formatModified(entry, dayBeforeMonth());
                default:
                    return {};
            }
        case Qt::DecorationRole:
            if (index.column() == NameColumn) {
                return ImageLists::instance().entryIcon(images_[static_cast<size_t>(index.row())]);
            }
            return {};
        case kImageIndexRole:
            return images_[static_cast<size_t>(index.row())];
        case Qt::TextAlignmentRole:
            if (index.column() == BytesColumn) {
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            }
            return {};
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        switch (section) {
            case NameColumn:
                return QStringLiteral("Name");
            case BytesColumn:
                return QStringLiteral("Bytes");
            case ModifiedColumn:
                return QStringLiteral("Modified");
            default:
                return {};
        }
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(
            (section == BytesColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (renamable_ && index.isValid() && index.column() == NameColumn) {
        flags |= Qt::ItemIsEditable;
    }
    return flags;
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != NameColumn ||
        !onRenameEdited) {
        return false;
    }
    // The rename runs commands and refills the list; it must not do so inside the editor's
    // commit, so it runs once the editor has gone.
    const int row = index.row();
    const std::string name = value.toString().toStdString();
    QMetaObject::invokeMethod(
        this, [this, row, name] { onRenameEdited(row, name); }, Qt::QueuedConnection);
    return false;
}

QString FileListModel::formatBytes(std::uint64_t size) {
    std::string digits = std::to_string(size);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), 1, ',');
    }
    return QString::fromStdString(digits);
}

QString FileListModel::formatModified(const FileEntry& entry, bool dayFirst) {
    if (entry.date.isNull()) {
        return {};
    }
    const auto two = [](int value) { return QStringLiteral("%1").arg(value, 2, 10, QChar('0')); };
    const QString day = two(entry.date.day());
    const QString month = two(entry.date.month());
    return QStringLiteral("%1/%2/%3  %4:%5:%6")
        .arg(dayFirst ? day : month, dayFirst ? month : day, two(entry.date.year() % 100),
             two(entry.time.hours()), two(entry.time.minutes()), two(entry.time.seconds()));
}
