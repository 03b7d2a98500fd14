// Times the result list at scale: adding file rows (facts gathered from real
// files) inside one batch update, then painting, scrolling and selecting.
// Usage: bench_filelist [ROWS]   (runs on the offscreen platform by default)
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include "platform/FolderListing.h"
#include "search/FileRow.h"
#include "views/FileList.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;

    std::string folder = (std::filesystem::temp_directory_path() / "gemmora-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const char* extensions[] = {".txt", ".jpg", ".pdf", ".tar.gz", ".cpp", ".mp3", ".exe", ".odt"};
    std::vector<std::string> paths;
    for (int i = 0; i < rows; ++i) {
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

    views::TFileListView view;
    view.resize(900, 600);
    view.show();
    app.processEvents();

    // Rows from facts gathered beforehand: the list's own cost.
    QElapsedTimer timer;
    timer.start();
    std::vector<search::FileRowFacts> facts(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        search::gatherFileRow(paths[i], nullptr, views::TFileListView::processLocale(), facts[i]);
    }
    const qint64 gathered = timer.elapsed();
    timer.restart();
    view.beginUpdate();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        view.addRow(paths[i],
                    std::vector<std::string>(facts[i].subItems.begin(), facts[i].subItems.end()));
    }
    view.endUpdate();
    view.fitColumns();
    app.processEvents();
    const qint64 listOnly = timer.elapsed();
    view.clearRows();
    app.processEvents();

    timer.restart();
    view.beginUpdate();
    std::int64_t size = 0;
    for (int i = 0; i < rows; ++i) {
        if (i % 4 == 0) {
            view.addCaptionRow(i == 0 ? "Duplicate files ....." : "");
        }
        view.AddFile(paths[static_cast<std::size_t>(i)], size);
    }
    const qint64 added = timer.elapsed();
    view.endUpdate();
    view.fitColumns();
    app.processEvents();
    const qint64 shown = timer.elapsed();

    timer.restart();
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    app.processEvents();
    view.selectAll();
    app.processEvents();
    view.clearSelection();
    view.row(view.rowCount() / 2)->setSelected(true);
    view.scrollToItem(view.row(view.rowCount() / 2));
    app.processEvents();
    const qint64 scrolled = timer.elapsed();

    std::printf("gather facts alone       %lld ms\n", static_cast<long long>(gathered));
    std::printf("rows from gathered facts %lld ms (added, shown, fitted)\n",
                static_cast<long long>(listOnly));
    std::printf("rows (files)             %d (%d)\n", view.rowCount(), rows);
    std::printf("AddFile, facts and row   %lld ms\n", static_cast<long long>(added));
    std::printf("add, show and fit        %lld ms\n", static_cast<long long>(shown));
    std::printf("scroll and select        %lld ms\n", static_cast<long long>(scrolled));

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
