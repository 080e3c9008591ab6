#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/FileEntry.h"

// The rows of a file list: shared entries in row order with the image each row shows. Texts
// are made when a row is drawn, so a listing of many thousands of entries costs one reset, not
// one widget per entry. The order is the list control's; the model never sorts.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { NameColumn, BytesColumn, ModifiedColumn, ColumnCount };
    // The row's image index (int), for the tests and the image updates.
    static constexpr int kImageIndexRole = Qt::UserRole + 1;

    explicit FileListModel(QObject* parent = nullptr);

    void setRows(std::vector<FileEntryPtr> entries, std::vector<int> images);
    const std::vector<FileEntryPtr>& entries() const { return entries_; }
    int imageAt(int row) const;
    // Changes one row's image and redraws that row only.
    void setImage(int row, int image);
    // Shows a new name in a row, as a successful rename does.
    void setRowName(int row, const FileEntryPtr& renamed);

    // Called, after the editor has closed, with the row and the text typed into its name. The
    // edit itself is never taken: the control decides, and a successful rename writes the name.
    std::function<void(int row, const std::string& name)> onRenameEdited;
    void setRenamable(bool on) { renamable_ = on; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // 1,234,567: a comma before every group of three digits from the right.
    static QString formatBytes(std::uint64_t size);
    // dd/mm/yy (or mm/dd/yy), two spaces, hh:mm:ss; empty when the entry has no date.
    static QString formatModified(const FileEntry& entry, bool dayFirst);

  private:
    std::vector<FileEntryPtr> entries_;
    std::vector<int> images_;
    bool renamable_ = false;
};
