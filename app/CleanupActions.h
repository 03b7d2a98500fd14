// The window's cleanup: marks, keep rules, the run on a helper thread, undo and the report.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QPoint>
#include <QString>

#include "cleanup/Journal.h"
#include "cleanup/Plan.h"
#include "cleanup/Runner.h"
#include "cleanup/Undo.h"
#include "review/FileOpener.h"

class QMenu;
class QWidget;

namespace views {
class TFileListView;
}

namespace app {

class ResultListHandlers;

// Marks and what acts on them, beside the designed one-file-at-a-time
// handlers: the result list's context menu, its keys and the marks, with
// marking all but one file of every group by a keep rule (CleanupActions.cpp);
// acting on the marked files through the cleanup engine on a helper thread,
// and undoing the last cleanup (CleanupRun.cpp). Its words and dialogs live
// in CleanupTexts and CleanupDialogs.
class CleanupActions : public QObject {
    Q_OBJECT
public:
    CleanupActions(views::TFileListView& list, ResultListHandlers& handlers, QWidget* window);
    ~CleanupActions() override;

    // The folders the listed files were searched from, each ending with '/':
    // links in them are followed as the search followed them, and nothing
    // below them is. Empty for a list read back from its file, where nothing
    // but "/" is trusted.
    std::vector<std::string> roots;
    // The folder the journals go to, ending with '/': beside the list files.
    std::string journalFolder;
    // Whether a search is running: until it ends its groups are not whole,
    // so marking by a rule and acting wait.
    std::function<bool()> searching;
    // Adds the window's own choices at the end of the list's menu opened over `row`.
    std::function<void(QMenu& menu, int row)> addToMenu;
    // Called on the helper thread after each marked file was compared with
    // its kept file and right before it is touched; the tests change or
    // slow the tree here.
    std::function<void(const cleanup::PlanFile& marked)> afterCheck;
    // Called on the helper thread once a marked file has left its name, just
    // before its kept file is checked at its place; the tests race it here.
    std::function<void(const cleanup::PlanFile& marked)> whileAway;

    // The menu for a row (-1: none), built afresh: what it offers depends on
    // the row, the selection and the marks.
    QMenu* buildMenu(int row, QWidget* parent);
    void showMenu(const QPoint& at, int row);
    // The keys beside the designed ones: Ctrl+Delete trashes the marked
    // files while any is marked (else it keeps its designed meaning), and
    // Ctrl+Z undoes the last cleanup. True when the key was taken.
    bool keyPress(int key, Qt::KeyboardModifiers modifiers);

    // Marks every file of each group but the one `rule` keeps, after
    // reading each file's facts afresh. Groups the rule cannot decide (no
    // file in the folder, none matching) keep their marks. False when the
    // user cancelled or nothing could be marked.
    bool markByRule(const cleanup::KeepRule& rule);
    // Asks for the folder or the masks a rule needs, then marks by it.
    void markByRuleAsking(cleanup::KeepRule::Kind kind);
    // Asks for the folder (the dialog opens at `start`) or the masks a rule
    // of `kind` needs, in words about files or, with `folders`, folders.
    // False when the user cancelled.
    bool askRule(cleanup::KeepRule::Kind kind, const std::string& start, bool folders,
                 cleanup::KeepRule& rule);
    void markSelected(bool mark);
    void unmarkAll();
    // Inverts the marks of every file of the groups the selection touches.
    void invertMarksInGroups();

    void openContainingFolder(int row);
    void copyPaths(int row);
    void review(int row);

    // Acts on the marked files: asks (and for a move, where to), runs, takes
    // the rows of the files acted on out of the list, reports.
    void actOnMarked(cleanup::ActionKind kind);
    // The same with the folder of a move already chosen.
    void actOnMarked(const cleanup::Action& action);
    void undoLastCleanup();

    // "Marked: 12 files, 3,456 bytes", or "" when nothing is marked.
    QString marksText() const;
    // "Marked: 12", for a status bar with little room.
    QString marksBrief() const;
    bool busy() const { return m_busy; }
    // Asks a run or an undo in progress to end after the file at hand.
    void requestStop() { m_stop = true; }

    // What the last run did, for the tests and the benchmark.
    const cleanup::Report& lastReport() const { return m_lastReport; }
    const cleanup::UndoReport& lastUndo() const { return m_lastUndo; }
    const std::string& lastJournal() const { return m_lastJournal; }
    std::int64_t longestTurnGapMs() const { return m_longestGap; }

signals:
    // A marking by a rule, a run or an undo has ended.
    void finished();

private:
    struct ListedGroup {
        int header = -1;
        int end = -1;           // the row after its last file row
        std::vector<int> rows;  // its file rows
    };
    std::vector<ListedGroup> listedGroups(bool onlyMarked) const;
    cleanup::FileFacts factsOf(int row) const;
    bool chooseFolder(const QString& title, const std::string& start, std::string& folder);

    // The steps of marking by a rule (CleanupActions.cpp): the files' facts
    // read on the helper thread and the plan made, the marks set, the notes.
    struct MarkWork;
    bool mark(const cleanup::KeepRule& rule);
    bool readForMarking(const cleanup::KeepRule& rule, MarkWork& work);
    std::int64_t applyMarks(const MarkWork& work);
    void tellMarkNotes(const cleanup::KeepRule& rule, std::int64_t undecided, const MarkWork& work);

    // The steps of a run (CleanupRun.cpp): the marked groups gathered, the
    // wholly marked ones settled and the plan checked, the question, the run
    // on the helper thread, the rows taken out and the report.
    void act(const cleanup::Action& action);
    void gatherMarked(std::vector<ListedGroup>& listed, cleanup::Plan& plan);
    bool settleMarked(std::vector<ListedGroup>& listed, cleanup::Plan& plan);
    bool confirmRun(const cleanup::Action& action, const cleanup::Plan& plan);
    cleanup::Report runPlan(const cleanup::Plan& plan, const cleanup::Action& action,
                            cleanup::Journal& journal);
    // The rows to take out of the list after a run: the files acted on, and
    // groups left with one file whole, as a deletion by hand leaves them.
    std::vector<int> rowsToRemove(const std::vector<ListedGroup>& groups,
                                  const cleanup::Report& report) const;
    void showReport(const cleanup::Plan& plan, const cleanup::Report& report,
                    const cleanup::Action& action, const std::string& journal);

    // The steps of an undo (CleanupRun.cpp): the journal summed up, the
    // question, the undo on the helper thread, the report.
    void undo();
    // The journal undo would take: this session's last, else the newest there.
    std::string journalToUndo() const;
    bool summariseForUndo(const QString& title, const std::string& journal,
                          cleanup::JournalSummary& summary);
    bool runUndo(const QString& title, const QString& when, const std::string& journal);

    void message(const QString& text, bool warning = false);

    views::TFileListView& m_list;
    ResultListHandlers& m_handlers;
    QWidget* m_window;
    review::FileOpener m_opener;
    cleanup::Report m_lastReport;
    cleanup::UndoReport m_lastUndo;
    std::string m_lastJournal;
    std::int64_t m_longestGap = 0;
    std::atomic<bool> m_stop{false};
    bool m_busy = false;
};

}  // namespace app
