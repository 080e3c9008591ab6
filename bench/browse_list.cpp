// How fast a browse list shows and sorts a large folder: a listing of ENTRIES entries (10,000 by
// default: folders and files with names, sizes and times) is handed to a list control on the
// offscreen platform in each view style, drawn, then sorted by each column in both directions.
// Each step is timed from the call until the view has been laid out and painted, and the median
// of REPEAT rounds is printed.
//
//   bench_browse_list [--entries N] [--repeat N]

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/browse/BrowseListener.h"
#include "ui/browse/BrowseOrder.h"
#include "ui/browse/FileDetailsBrowseCtrl.h"
#include "ui/browse/FileListModel.h"

namespace {

class QuietListener final : public BrowseListener {
  public:
    void directoryChanged() override {}
    void showStatus(const std::string&) override {}
    void folderRemoved(const FileEntryPtr&) override {}
    void folderAdded(const FileEntryPtr&) override {}
    void currentPathChanged(const std::string&) override {}
    void folderRenamed(const FileEntryPtr&, const FileEntryPtr&) override {}
};

// One folder of a site: a tenth folders, the rest files of many sizes and times, in no order.
std::vector<FileEntryPtr> makeFolder(int count) {
    std::vector<FileEntryPtr> entries;
    entries.reserve(static_cast<size_t>(count));
    unsigned seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xffffff;
    };
    for (int i = 0; i < count; ++i) {
        auto entry = std::make_shared<FileEntry>();
        entry->folder = "/www/big/";
        const bool folder = i % 10 == 0;
        entry->kind = folder ? EntryKind::Folder : EntryKind::File;
        entry->name = (folder ? "Folder-" : "page-") + std::to_string(next() % 100000) + "-" +
                      std::to_string(i) + (folder ? "" : ".html");
        entry->size = folder ? 0 : next() % 5000000;
        entry->remote = true;
        entry->action = folder ? EntryAction::Add : EntryAction::Overwrite;
        entry->date.set(1 + static_cast<int>(next() % 28), 1 + static_cast<int>(next() % 12),
                        2000 + static_cast<int>(next() % 26));
        entry->time.set(static_cast<int>(next() % 24), static_cast<int>(next() % 60),
                        static_cast<int>(next() % 60));
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Lays out and paints what the person would see.
void draw(FileBrowseCtrl& list) {
    QApplication::processEvents();
    QAbstractItemView* view = list.currentView();
    view->doItemsLayout();
    (void)list.grab();
    QApplication::processEvents();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int count = 10000;
    int repeat = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--entries") == 0) {
            count = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--repeat") == 0) {
            repeat = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    QApplication app(argc, argv);
    std::vector<FileEntryPtr> entries = makeFolder(count);
    std::vector<FileEntryPtr> selection;
    QuietListener listener;
    FileDetailsBrowseCtrl list(entries, selection, listener, true);
    list.resize(900, 600);
    list.show();
    list.initialise();

    std::printf("browse list: %d entries, median of %d rounds, milliseconds\n", count, repeat);
    std::printf("%-12s %8s %8s %8s %8s %8s %8s %8s\n", "style", "show", "name-", "name+",
                "bytes+", "bytes-", "time+", "time-");
    const struct {
        int style;
        const char* name;
    } styles[] = {{FileBrowseCtrl::Report, "details"},
                  {FileBrowseCtrl::List, "list"},
                  {FileBrowseCtrl::SmallIcons, "small icons"},
                  {FileBrowseCtrl::LargeIcons, "large icons"}};
    for (const auto& s : styles) {
        list.setViewStyle(s.style);
        std::vector<std::vector<double>> times(7);
        for (int round = 0; round < repeat; ++round) {
            setBrowseSort({});
            list.setDirectory("");  // a small folder first, so that each round shows anew
            draw(list);
            QElapsedTimer clock;
            clock.start();
            list.setDirectory("/www/big/");
            draw(list);
            times[0].push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
            // Name again (descending), then each other column twice.
            const int columns[] = {FileListModel::NameColumn,  FileListModel::NameColumn,
                                   FileListModel::BytesColumn, FileListModel::BytesColumn,
                                   FileListModel::ModifiedColumn,
                                   FileListModel::ModifiedColumn};
            for (int step = 0; step < 6; ++step) {
                clock.restart();
                list.sortByColumn(columns[step]);
                draw(list);
                times[static_cast<size_t>(step) + 1].push_back(
                    static_cast<double>(clock.nsecsElapsed()) / 1e6);
            }
        }
        std::printf("%-12s", s.name);
        for (const std::vector<double>& step : times) {
            std::printf(" %8.1f", median(step));
        }
        std::printf("\n");
    }
    return 0;
}
