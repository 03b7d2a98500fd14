// Benchmark: a search and a list reload in the desktop program, and the event loop's longest stall.
// SPDX-License-Identifier: GPL-3.0-or-later
// Times the desktop program on the offscreen platform: a whole search of a
// tree started with "Find Now" (and the longest time the event loop went
// without a turn meanwhile); then the reload of a saved list of ROWS rows,
// and in it scrolling to the end, selecting all and pruning a group.
// ROWS 0 leaves the reload out, for timing the search alone. --no-cache
// searches without the cache of earlier searches; --gaps MS lists every
// stretch of MS milliseconds or more without an event-loop turn, with the
// status bar's words after it and where the window's thread was meanwhile.
//
//   bench_gui [--no-cache] [--gaps MS] TREE [ROWS]
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <execinfo.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include <QAbstractEventDispatcher>
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

// Where the window's thread is, caught by a signal: the watcher asks for a
// stack when the event loop has not turned for a while.
constexpr int kDepth = 24;
constexpr int kMostStacks = 8;  // a gap keeps its first few
struct Stack {
    void* frames[kDepth];
    int depth = 0;
    long atMs = 0;  // since the gap began
};
Stack g_stacks[kMostStacks];
std::atomic<int> g_stackCount{0};
std::atomic<long> g_sinceTurnMs{0};

void takeStack(int)
{
    const int at = g_stackCount.load();
    if (at < kMostStacks) {
        g_stacks[at].depth = ::backtrace(g_stacks[at].frames, kDepth);
        g_stacks[at].atMs = g_sinceTurnMs.load();
        g_stackCount.store(at + 1);
    }
}

// The function of a frame, "binary(mangled+0x12) [0x...]", without its
// arguments; the binary and offset where it has no name.
std::string functionName(const char* symbol)
{
    const char* open = std::strchr(symbol, '(');
    const char* plus = open != nullptr ? std::strchr(open, '+') : nullptr;
    if (open == nullptr || plus == nullptr || plus == open + 1) {
        return symbol;
    }
    const std::string mangled(open + 1, plus);
    int status = 0;
    char* plain = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
    std::string name = status == 0 && plain != nullptr ? plain : mangled;
    std::free(plain);
    const std::size_t arguments = name.find('(');
    return arguments == std::string::npos ? name : name.substr(0, arguments);
}

// A stack from the frame the signal met down to the click that started the
// search, a frame repeated in a row written once with its count.
std::string describeStack(const Stack& stack)
{
    std::string text;
    char** symbols = ::backtrace_symbols(stack.frames, stack.depth);
    std::string previous;
    int repeats = 0;
    const auto flush = [&] {
        if (!previous.empty()) {
            text += "    " + previous + (repeats > 1 ? " x" + std::to_string(repeats) : "") + "\n";
        }
    };
    // Frames 0 and 1 are the handler and the signal's return.
    for (int f = 2; symbols != nullptr && f < stack.depth; ++f) {
        const std::string name = functionName(symbols[f]);
        if (name == previous) {
            ++repeats;
            continue;
        }
        flush();
        previous = name;
        repeats = 1;
        if (name == "app::TfrmMain::btnSearchClick") {
            break;
        }
    }
    flush();
    std::free(symbols);
    return text;
}

// The event loop's long gaps during the search, each with the status bar's
// words after it and the stacks the watcher caught in it.
class GapLog {
public:
    GapLog(app::TfrmMain& form, long thresholdMs) : m_form(form), m_threshold(thresholdMs)
    {
        void* prime[1];
        ::backtrace(prime, 1);  // loads the unwinder before any signal
        struct sigaction action = {};
        action.sa_handler = takeStack;
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGPROF, &action, nullptr);
        m_main = ::pthread_self();
        m_start = m_lastTurn = now();
        m_awake = QObject::connect(QAbstractEventDispatcher::instance(),
                                   &QAbstractEventDispatcher::awake, [this] { turned(); });
        m_watcher = std::thread([this] { watch(); });
    }
    ~GapLog() { stop(); }

    // No stacks are taken after this.
    void stop()
    {
        if (m_watcher.joinable()) {
            m_stop = true;
            m_watcher.join();
            std::signal(SIGPROF, SIG_IGN);
            QObject::disconnect(m_awake);
        }
    }

    void print() const
    {
        std::printf("%zu gaps of %ld ms or more\n", m_gaps.size(), m_threshold);
        for (const std::string& gap : m_gaps) {
            std::fputs(gap.c_str(), stdout);
        }
    }

private:
    static long now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void watch()
    {
        // Asks for a stack at 3/4 of the threshold and every threshold after.
        long nextAsk = 0;
        long turnSeen = -1;
        while (!m_stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const long last = m_lastTurn.load();
            if (last != turnSeen) {
                turnSeen = last;
                nextAsk = m_threshold * 3 / 4;
            }
            const long since = now() - last;
            if (since >= nextAsk && g_stackCount.load() < kMostStacks) {
                g_sinceTurnMs.store(since);
                ::pthread_kill(m_main, SIGPROF);
                nextAsk += m_threshold;
            }
        }
    }

    void turned()
    {
        const long at = now();
        const long gap = at - m_lastTurn.load();
        if (gap >= m_threshold) {
            record(gap, at);
        }
        g_stackCount.store(0);
        m_lastTurn.store(now());
    }

    void record(long gap, long at)
    {
        char head[160];
        std::snprintf(head, sizeof head, "gap %ld ms, ending %ld ms into the run, load %s\n", gap,
                      at - m_start, loadAverage().c_str());
        std::string text = head;
        text += "  after it: [" + m_form.lblFileListCaption->text().toStdString() + "] [" +
                m_form.StatusBar1->panel(0)->text().toStdString() + "] [" +
                m_form.StatusBar1->panel(3)->text().left(60).toStdString() + "]\n";
        const int stacks = g_stackCount.load();
        for (int i = 0; i < stacks; ++i) {
            text += "  at " + std::to_string(g_stacks[i].atMs) + " ms:\n" +
                    describeStack(g_stacks[i]);
        }
        m_gaps.push_back(std::move(text));
    }

    static std::string loadAverage()
    {
        std::ifstream file("/proc/loadavg");
        std::string one;
        file >> one;
        return one;
    }

    app::TfrmMain& m_form;
    long m_threshold;
    pthread_t m_main;
    long m_start = 0;
    std::atomic<long> m_lastTurn{0};
    std::atomic<bool> m_stop{false};
    std::vector<std::string> m_gaps;
    QMetaObject::Connection m_awake;
    std::thread m_watcher;
};

}  // namespace

int main(int argc, char** argv)
{
    bool noCache = false;
    long gapsMs = 0;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (std::strcmp(argv[first], "--no-cache") == 0) {
            noCache = true;
        } else if (std::strcmp(argv[first], "--gaps") == 0 && first + 1 < argc) {
            gapsMs = std::atol(argv[++first]);
        } else {
            break;
        }
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--no-cache] [--gaps MS] TREE [ROWS]\n", argv[0]);
        return 2;
    }
    const char* tree = argv[first];
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const std::string work =
        (std::filesystem::temp_directory_path() / "gemmora-gui-bench").string();
    std::filesystem::create_directories(work);
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(work + "/config"));
    QApplication app(argc, argv);
    const int rows = first + 1 < argc ? std::atoi(argv[first + 1]) : 100000;

    app::TfrmMain form;
    form.ResultListFile = work + "/Kelvarin.lis";
    form.SkipListFile = work + "/none.lis";
    form.NewListFile = work + "/NewDupl.lis";
    form.Timer1Timer();
    form.edtRootDir->setText(QString::fromStdString(tree));
    form.chkCheckFileTimestamp->setChecked(false);
    form.chkUseCache->setChecked(!noCache);
    form.show();
    app.processEvents();

    std::unique_ptr<GapLog> gaps = gapsMs > 0 ? std::make_unique<GapLog>(form, gapsMs) : nullptr;
    QElapsedTimer timer;
    timer.start();
    form.btnSearch->click();
    const qint64 searched = timer.elapsed();
    if (gaps) {
        gaps->stop();
    }
    std::printf("search of %s: %lld ms, %d rows, longest event-loop gap %lld ms\n", tree,
                static_cast<long long>(searched), form.FileListView1->rowCount(),
                static_cast<long long>(form.longestTurnGap().count()));
    if (gaps) {
        gaps->print();
    }
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
