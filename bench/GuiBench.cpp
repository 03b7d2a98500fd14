// Benchmark: a search and a list reload in the desktop program, and the event loop's longest stall.
// SPDX-License-Identifier: GPL-3.0-or-later
// Times the desktop program on the offscreen platform: a whole search of a
// tree started with "Find Now" (and the longest time the event loop went
// without a turn meanwhile); then the reload of a saved list of ROWS rows,
// and in it scrolling to the end, selecting all and pruning a group.
// ROWS 0 leaves the reload out, for timing the search alone.
//
//   bench_gui TREE [ROWS]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include "app/MainForm.h"
#include "settings/ResultLines.h"
#include "text/StringList.h"

namespace {

long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field));
        }
    }
    return -1;
}

// A saved list of `rows` rows, groups of two files, as the program writes it.
void writeSavedList(const std::string& file, int rows)
{
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(rows));
    for (int i = 0; static_cast<int>(lines.size()) < rows; ++i) {
        if (i > 0) {
            lines.push_back("\"\"");
        }
        lines.push_back("\"Duplicate files .....\"");
        for (int copy = 0; copy < 2; ++copy) {
            lines.push_back(*settings::formatResultLine(
                {"/home/user/photos/album " + std::to_string(i % 97) + "/picture " +
                     std::to_string(i) + (copy ? " copy" : "") + ".jpg",
                 {std::to_string(100000 + i), "JPEG image", "2024/05/06 07:08", "    ", "", ""}}));
        }
    }
    lines.resize(static_cast<std::size_t>(rows));
    text::writeLinesFile(file, lines);
}

// The reload of the saved list: its time and the memory it takes at its peak.
void timeReload(QApplication& app, app::TfrmMain& form)
{
    // The peak of the reload alone, not of making the file before it.
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKiB("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    form.ReloadResultList();
    app.processEvents();
    std::printf("reload of %d rows: %lld ms\n", form.FileListView1->rowCount(),
                static_cast<long long>(timer.elapsed()));
    std::printf("peak resident size during the reload: %ld KiB more than before it\n",
                statusKiB("VmHWM:") - before);
}

// The bytes the list holds, then scrolling, selecting, a click and pruning
// in the whole list; the list is left empty.
void timeListActions(QApplication& app, app::TfrmMain& form)
{
    views::TFileListView& list = *form.FileListView1;
    std::size_t pathBytes = 0;
    for (int i = 0; i < list.rowCount(); ++i) {
        pathBytes += list.rows().caption(i).size();
    }
    std::printf("the list holds %.0f bytes a row beyond %.0f bytes of path\n",
                static_cast<double>(list.rows().bytesHeld() - pathBytes) / list.rowCount(),
                static_cast<double>(pathBytes) / list.rowCount());
    QElapsedTimer timer;
    timer.start();
    list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
    app.processEvents();
    std::printf("scroll to the end: %lld ms\n", static_cast<long long>(timer.elapsed()));
    timer.restart();
    list.selectAll();
    app.processEvents();
    std::printf("select all: %lld ms\n", static_cast<long long>(timer.elapsed()));
    timer.restart();
    form.handlers.FileListView1Click();
    app.processEvents();
    std::printf("click with all selected: %lld ms\n", static_cast<long long>(timer.elapsed()));
    list.clearSelection();
    // A group in the middle loses a file, and goes.
    int header = list.rowCount() / 2;
    while (header < list.rowCount() && list.kindOf(header) != views::RowKind::Header) {
        ++header;
    }
    list.setRowSelected(header + 1, true);
    list.scrollTo(list.model()->index(header + 1, 0));
    app.processEvents();
    timer.restart();
    list.deleteRow(header + 2);
    form.handlers.PruneGroup(header + 1);
    app.processEvents();
    std::printf("prune a group: %lld ms\n", static_cast<long long>(timer.elapsed()));
    list.clearRows();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TREE [ROWS]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const std::string work =
        (std::filesystem::temp_directory_path() / "gemmora-gui-bench").string();
    std::filesystem::create_directories(work);
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(work + "/config"));
    QApplication app(argc, argv);
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100000;

    app::TfrmMain form;
    form.ResultListFile = work + "/Kelvarin.lis";
    form.SkipListFile = work + "/none.lis";
    form.NewListFile = work + "/NewDupl.lis";
    form.Timer1Timer();
    form.edtRootDir->setText(QString::fromStdString(argv[1]));
    form.chkCheckFileTimestamp->setChecked(false);
    form.show();
    app.processEvents();

    QElapsedTimer timer;
    timer.start();
    form.btnSearch->click();
    const qint64 searched = timer.elapsed();
    std::printf("search of %s: %lld ms, %d rows, longest event-loop gap %lld ms\n", argv[1],
                static_cast<long long>(searched), form.FileListView1->rowCount(),
                static_cast<long long>(form.longestTurnGap().count()));
    form.FileListView1->clearRows();
    app.processEvents();
    if (rows > 0) {
        writeSavedList(form.ResultListFile, rows);
        timeReload(app, form);
        timeListActions(app, form);
    }
    std::filesystem::remove_all(work);
    return 0;
}
