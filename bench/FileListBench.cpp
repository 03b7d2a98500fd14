// Benchmark: the result list with many rows, from adding them to pruning a group.
// SPDX-License-Identifier: GPL-3.0-or-later
// Times the result list at scale: AddFile on real files; rows from gathered
// facts added in one batch update, and again in batches with an event-loop
// turn after each (as a search adds them); sorting the groups; then scrolling to the end,
// selecting all, finding the first selected row and pruning a group; and
// the bytes the list holds for a row beyond its path.
// Usage: bench_filelist [ROWS] [FILES]   (offscreen by default; FILES real
// files, at most ROWS, default 100,000)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include "app/ResultListHandlers.h"
#include "review/FilProps.h"
#include "search/FileRow.h"
#include "views/FileList.h"

namespace {

// `count` files in a new folder below `folder`, a thousand a subfolder,
// under names with the usual extensions.
std::vector<std::string> makeFiles(const std::string& folder, int count)
{
    const char* extensions[] = {".txt", ".jpg", ".pdf", ".tar.gz", ".cpp", ".mp3", ".exe", ".odt"};
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const std::string sub = folder + "/d" + std::to_string(i / 1000);
        ::mkdir(sub.c_str(), 0755);
        paths.push_back(sub + "/file number " + std::to_string(i) + extensions[i % 8]);
        const int fd = ::open(paths.back().c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd >= 0) {
            // Large enough that the list opens each file for its versions.
            const std::string text(static_cast<std::size_t>(100 + i % 200), 'x');
            if (::write(fd, text.data(), text.size()) < 0) {
                std::perror("write");
            }
            ::close(fd);
        }
    }
    return paths;
}

// What is timed, in milliseconds unless said otherwise.
struct Timings {
    qint64 gathered = 0;
    qint64 added = 0;
    qint64 addShown = 0;
    qint64 listOnly = 0;
    double heldPerRow = 0;
    qint64 sortedGroups = 0;
    qint64 sortedByName = 0;
    qint64 foundAgain = 0;
    qint64 longestSortTurn = 0;
    qint64 scrolled = 0;
    qint64 selectedAll = 0;
    qint64 firstSelected = 0;
    std::string first;
    qint64 pruned = 0;
    int left = 0;
    qint64 longestTurn = 0;
    qint64 withTurns = 0;
};

// The facts of every file gathered alone, then AddFile on every file (a
// header every four), shown and fitted; the list is left empty.
std::vector<search::FileRowFacts> timeAddFile(QApplication& app, views::TFileListView& view,
                                              const std::vector<std::string>& paths, Timings& t)
{
    QElapsedTimer timer;
    timer.start();
    std::vector<search::FileRowFacts> facts(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        search::gatherFileRow(paths[i], nullptr, views::TFileListView::processLocale(), facts[i]);
    }
    t.gathered = timer.elapsed();

    timer.restart();
    view.beginUpdate();
    std::int64_t size = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i % 4 == 0) {
            if (i > 0) {
                view.addSeparatorRow();
            }
            view.addHeaderRow();
        }
        view.AddFile(paths[i], size);
    }
    t.added = timer.elapsed();
    view.endUpdate();
    view.fitColumns();
    app.processEvents();
    t.addShown = timer.elapsed();
    view.clearRows();
    app.processEvents();
    return facts;
}

// `count` rows from the gathered facts, in groups of two and three files,
// each path made unique; with `batch`, shown with an event-loop turn every
// `batch` groups. The longest turn.
qint64 addRows(QApplication& app, views::TFileListView& view,
               const std::vector<search::FileRowFacts>& facts,
               const std::vector<std::string>& paths, int count, int batch)
{
    qint64 longest = 0;
    std::vector<std::string> texts(6);
    view.beginUpdate();
    for (int i = 0, group = 0; view.rowCount() < count; ++group) {
        if (group > 0) {
            view.addSeparatorRow();
        }
        view.addHeaderRow();
        for (int copy = 0; copy < 2 + group % 2; ++copy, ++i) {
            const std::size_t f = static_cast<std::size_t>(i) % facts.size();
            std::copy(facts[f].subItems.begin(), facts[f].subItems.end(), texts.begin());
            view.addRow(paths[f] + " " + std::to_string(i), texts);
        }
        if (batch > 0 && group % batch == 0) {
            QElapsedTimer turn;
            turn.start();
            view.showPendingRows();
            app.processEvents();
            longest = std::max(longest, turn.elapsed());
        }
    }
    view.endUpdate();
    return longest;
}

// The groups sorted by the bytes they would give back, by name, and back. A
// long list is sorted on a helper thread: each time runs until the order is
// in place, and the longest the event loop waited meanwhile is kept.
qint64 timeOneSort(QApplication& app, views::TFileListView& view, views::GroupOrder order,
                   qint64& longestTurn)
{
    QElapsedTimer sorting;
    sorting.start();
    QElapsedTimer turn;
    turn.start();
    view.sortGroups(order);
    longestTurn = std::max(longestTurn, turn.elapsed());
    while (view.sorting()) {
        turn.restart();
        app.processEvents(QEventLoop::AllEvents, 5);
        longestTurn = std::max(longestTurn, turn.elapsed());
    }
    app.processEvents();
    return sorting.elapsed();
}

void timeSorting(QApplication& app, views::TFileListView& view, Timings& t)
{
    t.sortedGroups = timeOneSort(app, view, views::GroupOrder::BytesBack, t.longestSortTurn);
    t.sortedByName = timeOneSort(app, view, views::GroupOrder::FirstName, t.longestSortTurn);
    t.foundAgain = timeOneSort(app, view, views::GroupOrder::Found, t.longestSortTurn);
}

void timeScrollSelectPrune(QApplication& app, views::TFileListView& view,
                           app::ResultListHandlers& handlers, Timings& t)
{
    QElapsedTimer timer;
    timer.start();
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    app.processEvents();
    t.scrolled = timer.elapsed();
    timer.restart();
    view.selectAll();
    app.processEvents();
    t.selectedAll = timer.elapsed();
    timer.restart();
    for (int i = 0; i < 100; ++i) {
        t.first = handlers.GetSelectedFilePath();
    }
    t.firstSelected = timer.elapsed();
    view.clearSelection();
    app.processEvents();
    // A group of two in the middle: one file goes, and the group with it.
    int header = view.rowCount() / 2;
    while (view.kindOf(header) != views::RowKind::Header ||
           view.groupAround(header).end - view.groupAround(header).first != 2) {
        ++header;
    }
    view.setRowSelected(header + 2, true);
    view.scrollTo(view.model()->index(header + 2, 0));
    app.processEvents();
    timer.restart();
    view.deleteRow(header + 2);
    handlers.PruneGroup(header + 1);
    app.processEvents();
    t.pruned = timer.elapsed();
    t.left = view.rowCount();
    view.clearRows();
    app.processEvents();
}

void printTimings(const Timings& t, int fileCount)
{
    std::printf("gather facts alone       %lld ms\n", static_cast<long long>(t.gathered));
    std::printf("AddFile, facts and row   %lld ms (%d files)\n", static_cast<long long>(t.added),
                fileCount);
    std::printf("add, show and fit        %lld ms\n", static_cast<long long>(t.addShown));
    std::printf("rows                     %d\n", t.left + 3);
    std::printf("rows from gathered facts %lld ms (added, shown, fitted)\n",
                static_cast<long long>(t.listOnly));
    std::printf("rows in batches, turns   %lld ms, longest turn %lld ms\n",
                static_cast<long long>(t.withTurns), static_cast<long long>(t.longestTurn));
    std::printf("sort groups by bytes     %lld ms, by name %lld ms, back %lld ms\n",
                static_cast<long long>(t.sortedGroups), static_cast<long long>(t.sortedByName),
                static_cast<long long>(t.foundAgain));
    std::printf("longest wait of the loop %lld ms while sorting\n",
                static_cast<long long>(t.longestSortTurn));
    std::printf("scroll to the end        %lld ms\n", static_cast<long long>(t.scrolled));
    std::printf("select all               %lld ms\n", static_cast<long long>(t.selectedAll));
    std::printf("first selected, 100x     %lld ms (%s)\n", static_cast<long long>(t.firstSelected),
                t.first.empty() ? "none" : "a file");
    std::printf("prune a group            %lld ms\n", static_cast<long long>(t.pruned));
    std::printf("bytes a row beyond path  %.0f\n", t.heldPerRow);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int fileCount = std::min(rows, argc > 2 ? std::atoi(argv[2]) : 100000);

    std::string folder = (std::filesystem::temp_directory_path() / "gemmora-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::vector<std::string> paths = makeFiles(folder, fileCount);

    views::TFileListView view;
    review::TfrmFileProperties1 dialog;
    app::ResultListHandlers handlers(view, dialog);
    view.resize(900, 600);
    view.show();
    app.processEvents();

    Timings t;
    const std::vector<search::FileRowFacts> facts = timeAddFile(app, view, paths, t);

    QElapsedTimer timer;
    timer.start();
    addRows(app, view, facts, paths, rows, 0);
    view.fitColumns();
    app.processEvents();
    t.listOnly = timer.elapsed();
    std::size_t pathBytes = 0;
    for (int i = 0; i < view.rowCount(); ++i) {
        pathBytes += view.rows().caption(i).size();
    }
    t.heldPerRow = static_cast<double>(view.rows().bytesHeld() - pathBytes) / view.rowCount();

    timeSorting(app, view, t);
    timeScrollSelectPrune(app, view, handlers, t);

    // The same rows as a search adds them: a batch and a turn at a time.
    timer.restart();
    t.longestTurn = addRows(app, view, facts, paths, rows, 100);
    app.processEvents();
    t.withTurns = timer.elapsed();

    printTimings(t, fileCount);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
