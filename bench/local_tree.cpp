// How the local folder tree opens a folder of many sub-folders: FOLDERS sub-folders (5,000 by
// default, every other one holding a folder of its own, so that the has-children buttons have
// something to find) are made in a temporary folder, and a tree on the offscreen platform opens
// that folder. Measured, median of REPEAT rounds, each on a new tree:
//
//   expand    how long the call that opens the item keeps the window's thread
//   listed    until the sub-folders are in the tree (the listing handed over and inserted)
//   details   until every sub-folder's button and attributes are known
//   stall     the longest the window's thread went without running a 1 ms timer meanwhile
//   painted   drawing the opened tree once everything is in
//
// and, for comparison, what reading the same folder and each sub-folder's details on the
// window's thread would cost (the freeze a tree that reads on its own thread avoids).
//
//   bench_local_tree [--folders N] [--repeat N] [--root DIR]

#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ui/browse/CTreeFileCtrl.h"
#include "ui/browse/LocalTreeReader.h"

namespace fs = std::filesystem;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

bool runUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int folders = 5000;
    int repeat = 5;
    std::string root = fs::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--folders") == 0) {
            folders = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--repeat") == 0) {
            repeat = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--root") == 0) {
            root = argv[i + 1];
        }
    }
    QApplication app(argc, argv);

    std::string work = (fs::path(root) / "kelvane-bench-tree-XXXXXX").string();
    if (::mkdtemp(work.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path big = fs::path(work) / "big";
    for (int i = 0; i < folders; ++i) {
        const fs::path folder = big / ("folder-" + std::to_string(i));
        fs::create_directories(i % 2 == 0 ? folder / "inner" : folder);
    }

    std::vector<double> expand, listed, details, stall, painted, direct;
    for (int round = 0; round < repeat; ++round) {
        CTreeFileCtrl tree;
        tree.resize(400, 700);
        tree.show();
        tree.setRootFolder(work);
        tree.refresh();
        runUntil([&tree] { return !tree.reading(); }, 10000);
        QTreeWidgetItem* item = tree.itemOfPath(big.string());
        if (item == nullptr) {
            std::fprintf(stderr, "the big folder is not in the tree\n");
            return 1;
        }

        // The heartbeat: a timer every millisecond, and the longest gap between its runs.
        QElapsedTimer beat;
        double longest = 0;
        QTimer heart;
        heart.setInterval(1);
        QObject::connect(&heart, &QTimer::timeout, [&] {
            longest = std::max(longest, ms(beat));
            beat.restart();
        });
        bool inserted = false;
        QObject::connect(&tree, &CTreeFileCtrl::folderListed,
                         [&](const QString&) { inserted = true; });

        QElapsedTimer clock;
        heart.start();
        beat.start();
        clock.start();
        item->setExpanded(true);
        expand.push_back(ms(clock));
        runUntil([&] { return inserted; }, 60000);
        listed.push_back(ms(clock));
        runUntil([&tree] { return !tree.reading(); }, 60000);
        details.push_back(ms(clock));
        heart.stop();
        stall.push_back(longest);
        clock.restart();
        (void)tree.grab();
        painted.push_back(ms(clock));
        if (item->childCount() != folders) {
            std::fprintf(stderr, "listed %d of %d folders\n", item->childCount(), folders);
            return 1;
        }

        // The same reading done on the window's thread.
        clock.restart();
        LocalTreeFilter filter;
        std::vector<LocalTreeEntry> entries;
        int error = 0;
        readLocalTreeFolder(big.string(), filter, entries, error);
        int withChildren = 0;
        for (const LocalTreeEntry& entry : entries) {
            withChildren +=
                readLocalTreeDetails((big / entry.name).string(), true, filter).hasChildren;
        }
        direct.push_back(ms(clock));
        if (withChildren != (folders + 1) / 2) {
            std::fprintf(stderr, "%d folders hold one, expected %d\n", withChildren,
                         (folders + 1) / 2);
            return 1;
        }
    }
    fs::remove_all(work);

    std::printf("local tree: a folder of %d sub-folders, median of %d rounds, milliseconds\n",
                folders, repeat);
    std::printf("%8s %8s %8s %8s %8s | %s\n", "expand", "listed", "details", "stall", "painted",
                "read on the window's thread");
    std::printf("%8.1f %8.1f %8.1f %8.1f %8.1f | %8.1f\n", median(expand), median(listed),
                median(details), median(stall), median(painted), median(direct));
    return 0;
}
