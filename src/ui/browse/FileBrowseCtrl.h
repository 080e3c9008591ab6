#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "common/FileEntry.h"

class BrowseListener;
struct ConfirmationFlags;
class FileListModel;
class QAbstractItemView;
class QListView;
class QStackedWidget;
class QTreeView;

// The list of one folder's entries that every browsing window shows, in one of four view
// styles, with the columns "Name", "Bytes" and "Modified", sorting by header click, the Delete
// key, renaming in place and a double click into a folder. Where the listing comes from and
// what delete, rename and create do is the business of the subclasses: the entries of a plan
// (FileDetailsBrowseCtrl), an FTP server (FtpFileBrowseCtrl), the local disk
// (SysFileBrowseCtrl). Every operation that can fail says so with its result and has reported
// why.
class FileBrowseCtrl : public QWidget {
    Q_OBJECT

  public:
    // The list-view type numbers kept in the "BrowseStyle" setting.
    enum ViewStyle { LargeIcons = 0, Report = 1, SmallIcons = 2, List = 3 };

    // `selection` belongs to the window and is rewritten to the entries of the selected rows.
    FileBrowseCtrl(std::vector<FileEntryPtr>& selection, BrowseListener& listener, bool showActions,
                   QWidget* parent = nullptr);
    ~FileBrowseCtrl() override;

    virtual bool deleteItem() = 0;
    virtual bool createDirectory() = 0;
    // Lists the current folder again, bypassing any cached listing.
    virtual bool refresh() = 0;
    // Recomputes every row's image and redraws the rows whose image changed.
    virtual void updateRowImages();
    virtual bool upDirectory() = 0;
    // Renames the first selected entry to the name of `renamed`, shown in `row`.
    virtual bool renameSelected(const FileEntryPtr& renamed, int row) = 0;
    // Columns, images and the stored view style; called once the window is shown.
    virtual void initialise();
    // Shows a starting folder given as a path.
    virtual bool setDirectory(const std::string& path);
    // Makes `folder` the only selected entry and enters it without telling the listener.
    bool showFolder(const FileEntryPtr& folder);
    // Enters the first selected entry, which must be a folder.
    virtual bool changeDirectory() = 0;

    // 0 large icons, 1 report, 2 small icons, 3 list; kept in "BrowseStyle".
    void setViewStyle(int style);
    int viewStyle() const { return style_; }
    // The folder shown (an empty folder entry before the first listing).
    const FileEntryPtr& currentFolder() const { return current_; }
    virtual bool canGoUp() const;
    // Starts editing the name of the first selected row.
    void beginRename();
    // Puts the listing into the rows (up entries left out) and empties the selection.
    void fillList();

    // What the person does: a double click on a row, a click on a column header, the end of an
    // edit of a row's name.
    void changeDirToItem(int row);
    void sortByColumn(int column);
    void finishRename(int row, const std::string& name);
    // Selects rows as a click with Ctrl would, then rewrites the selection.
    void selectRows(const std::vector<int>& rows);

    // The entries shown, in listing order (the rows are these without the up entries).
    const std::vector<FileEntryPtr>& listing() const { return listing_; }
    int rowCount() const;
    FileEntryPtr entryAtRow(int row) const;
    int rowImage(int row) const;
    int rowOf(const FileEntryPtr& entry) const;
    // The view of the current style, and the report view with its header.
    QAbstractItemView* currentView() const;
    QTreeView* reportView() const { return reportView_; }
    QListView* iconView() const { return iconView_; }
    FileListModel& model() const { return *model_; }
    bool showActions() const { return showActions_; }
    // True while a command of this list is running (and the events of the window are pumped).
    bool busy() const { return busy_ > 0; }

    // The folder entry of a path ("" the root of a plan, "/" the top of a tree, "/a/b/" the
    // folder b), and the folder above one.
    static FileEntryPtr folderEntryFor(const std::string& path, bool remote);
    static FileEntryPtr parentFolderOf(const FileEntry& folder);
    // The path to list for a folder entry: its full path with a trailing separator, or "" for
    // the root of a plan.
    static std::string listingPathOf(const FileEntry& folder);

  protected:
    // The status text, the wait cursor and the busy mark for the time of one command; the
    // status is cleared when it ends.
    class Activity {
      public:
        Activity(FileBrowseCtrl& control, const std::string& status);
        ~Activity();
        Activity(const Activity&) = delete;
        Activity& operator=(const Activity&) = delete;
        void status(const std::string& text);

      private:
        FileBrowseCtrl& control_;
    };

    // Shows a new listing of `folder`: sorted in the program-wide order, the current folder
    // moved, currentPathChanged sent when `announce` is set, the rows refilled.
    void showListing(const FileEntryPtr& folder, std::vector<FileEntryPtr> entries, bool announce);
    BrowseListener& listener() { return listener_; }
    std::vector<FileEntryPtr>& selection() { return selection_; }
    void setCurrentFolder(FileEntryPtr folder) { current_ = std::move(folder); }
    void setRenamable(bool on);
    // True when an entry of the folder shown already has `name` (letter case counts).
    bool nameInUse(const std::string& name) const;
    // Failures the person is told about. `withReason` appends lastErrorText on a new line.
    static void report(const char* context, const std::string& message, bool withReason);

    // What deleting one selected entry came to: go on with the next, or end the command
    // (cancelled by the person, stopped, or a failure that ends it).
    enum class Next { Continue, End };
    // The frame of a delete command: Stop cleared, the up entry refused, every other selected
    // entry handed to `deleteOne` in order until one ends the command; then the selection
    // emptied and the folder listed again. False when the command was ended.
    bool deleteEach(
        const char* context,
        const std::function<Next(const FileEntryPtr& entry, Activity& activity)>& deleteOne);
    // The five-button question about one entry, the text cut into the question's lines;
    // kDeleteIt, kKeepIt or kCancelRun.
    static int askAbout(const std::string& caption, const std::string& question,
                        ConfirmationFlags& answers);
    // The end of a rename: the failure told, or the new name shown in `row`, the window told
    // of a renamed folder and the folder listed again. Returns `done`.
    bool completeRename(const char* context, const FileEntryPtr& old, const FileEntryPtr& renamed,
                        int row, bool done);
    // A folder delete that Stop ended, told once for the folder the person chose.
    static void reportStopped(const char* context, const std::string& path);

  private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void onSelectionChanged();
    void rewriteSelection();
    void applyStyle();

    std::vector<FileEntryPtr>& selection_;
    BrowseListener& listener_;
    const bool showActions_;
    std::vector<FileEntryPtr> listing_;
    FileEntryPtr current_;
    bool quiet_ = false;
    int style_ = List;
    int busy_ = 0;
    FileListModel* model_;
    QStackedWidget* stack_;
    QListView* iconView_;
    QTreeView* reportView_;
    // The selection follows the Up and Down keys 50 ms after the last one.
    QTimer keyTimer_;
    bool arrowKeyPending_ = false;
};
