// Benchmark: a cleanup and its undo in the desktop program, with the event loop's longest stall.
// SPDX-License-Identifier: GPL-3.0-or-later
// Times a cleanup in the desktop program on the offscreen platform, as a
// user does it: "Find Now" on a tree, "Mark all but one in each group" by
// keeping the oldest, "Trash marked" answered Yes, then "Undo last
// cleanup". For each step it reports the wall time and the longest time
// the event loop went without a turn, measured by a timer ticking every
// 5 ms throughout. The trash is made in WORK, which must be on the tree's
// file system; the tree is put back by the undo, and checked.
//
//   bench_cleanup TREE WORK
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/CleanupDialogs.h"
#include "app/MainForm.h"

namespace {

// The longest time between two ticks of a 5 ms timer, since the last reset.
class GapWatch {
public:
    GapWatch()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max<qint64>(m_longest, m_since.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_since.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return std::max<qint64>(m_longest, m_since.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

// Answers every question Yes and closes every report, as a user who reads
// nothing would.
void answerEverything()
{
    QWidget* top = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(top)) {
        if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
            yes->click();
        } else {
            box->accept();
        }
    } else if (auto* report = qobject_cast<app::TfrmCleanupReport*>(top)) {
        std::printf("  report: %s\n", report->lblSummary->text().toStdString().c_str());
        report->accept();
    }
}

std::size_t countFiles(const std::string& root)
{
    std::size_t files = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        files += it->is_regular_file(error) ? 1 : 0;
    }
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TREE WORK\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const std::string tree = std::filesystem::absolute(argv[1]).string() + "/";
    const std::string work = std::filesystem::absolute(argv[2]).string();
    std::filesystem::create_directories(work + "/lists");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(work + "/config"));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(work + "/data"));
    QApplication app(argc, argv);

    app::TfrmMain form;
    form.ResultListFile = work + "/lists/Kelvarin.lis";
    form.SkipListFile = work + "/lists/none.lis";
    form.NewListFile = work + "/lists/NewDupl.lis";
    form.Timer1Timer();
    form.cleanupActions->journalFolder = work + "/lists/";
    form.edtRootDir->setText(QString::fromStdString(tree));
    form.chkCheckFileTimestamp->setChecked(false);
    form.show();
    app.processEvents();
    const std::size_t before = countFiles(tree);

    QTimer answers;
    answers.setInterval(20);
    QObject::connect(&answers, &QTimer::timeout, &answerEverything);
    answers.start();
    GapWatch gaps;
    QElapsedTimer timer;

    timer.start();
    form.btnSearch->click();
    std::printf("search of %s: %lld ms, %d rows, longest event-loop gap %lld ms\n", tree.c_str(),
                static_cast<long long>(timer.elapsed()), form.FileListView1->rowCount(),
                static_cast<long long>(form.longestTurnGap().count()));

    cleanup::KeepRule oldest;
    oldest.kind = cleanup::KeepRule::Oldest;
    gaps.start();
    timer.restart();
    form.cleanupActions->markByRule(oldest);
    std::printf("mark all but the oldest: %lld ms, %lld files marked (%s), longest gap %lld ms\n",
                static_cast<long long>(timer.elapsed()),
                static_cast<long long>(form.FileListView1->markedCount()),
                form.pnlMarks->text().toStdString().c_str(), static_cast<long long>(gaps.stop()));

    gaps.start();
    timer.restart();
    form.cleanupActions->actOnMarked(cleanup::ActionKind::Trash);
    const cleanup::Report& report = form.cleanupActions->lastReport();
    std::printf("trash marked: %lld ms, %lld done, %lld untouched, %d rows left, longest gap "
                "%lld ms\n",
                static_cast<long long>(timer.elapsed()),
                static_cast<long long>(report.count(cleanup::Outcome::Done)),
                static_cast<long long>(report.count(cleanup::Outcome::Untouched)),
                form.FileListView1->rowCount(), static_cast<long long>(gaps.stop()));
    const std::size_t trashed = countFiles(tree);

    gaps.start();
    timer.restart();
    form.cleanupActions->undoLastCleanup();
    const cleanup::UndoReport& undo = form.cleanupActions->lastUndo();
    std::printf("undo last cleanup: %lld ms, %lld put back, %lld not, longest gap %lld ms\n",
                static_cast<long long>(timer.elapsed()),
                static_cast<long long>(undo.count(cleanup::UndoItem::PutBack)),
                static_cast<long long>(undo.count(cleanup::UndoItem::NotPutBack)),
                static_cast<long long>(gaps.stop()));
    const std::size_t after = countFiles(tree);
    std::printf("files in the tree: %zu before, %zu after the run, %zu after the undo\n", before,
                trashed, after);
    answers.stop();
    form.FileListView1->clearRows();
    return after == before ? 0 : 1;
}
