// The window's cleanup run and its undo on a helper thread, from the question to the report.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include <QMessageBox>

#include "app/CleanupActions.h"
#include "app/CleanupDialogs.h"
#include "app/CleanupTexts.h"
#include "app/ResultListHandlers.h"
#include "cleanup/Prepare.h"
#include "cleanup/Undo.h"
#include "platform/FolderListing.h"
#include "views/FileList.h"

namespace app {

using namespace texts;

namespace {

const char kReviewHint[] = "Double-click a file to review";

}  // namespace

void CleanupActions::actOnMarked(cleanup::ActionKind kind)
{
    cleanup::Action action;
    action.kind = kind;
    if (kind == cleanup::ActionKind::Move) {
        if (m_list.markedCount() == 0 || (searching && searching()) || m_busy) {
            return;
        }
        std::string folder;
        if (!chooseFolder(tr("Gemmora - move the marked files into"),
                          roots.empty() ? std::string("/") : roots.front(), folder)) {
            return;
        }
        action.folder = folder;
    }
    actOnMarked(action);
}

void CleanupActions::actOnMarked(const cleanup::Action& action)
{
    if (m_list.markedCount() == 0 || (searching && searching()) || m_busy) {
        return;
    }
    m_busy = true;
    act(action);
    m_busy = false;
    emit finished();
}

void CleanupActions::act(const cleanup::Action& action)
{
    if (!cleanup::targetFolderReady(action)) {
        message(tr("There is no folder to move the files into at\n%1").arg(display(action.folder)),
                true);
        return;
    }
    std::vector<ListedGroup> listed = listedGroups(true);
    cleanup::Plan plan;
    gatherMarked(listed, plan);
    if (!settleMarked(listed, plan) || !confirmRun(action, plan)) {
        return;
    }
    cleanup::Journal journal;
    std::string journalPath;
    std::string error;
    if (!cleanup::openNewJournal(journalFolder, journal, journalPath, error)) {
        message(
            tr("The journal of the cleanup cannot be written, so nothing was changed:\n%1\n\n%2")
                .arg(display(journalPath), QString::fromStdString(error)),
            true);
        return;
    }
    const std::uint64_t generation = m_list.rows().generation();
    m_lastReport = runPlan(plan, action, journal);
    if (m_lastReport.refused) {
        message(tr("Nothing was changed: %1").arg(QString::fromStdString(m_lastReport.refusal)),
                true);
        return;
    }
    m_lastJournal = journalPath;
    Turns turnAfter;
    if (m_list.rows().generation() == generation) {
        const std::vector<int> gone = rowsToRemove(listed, m_lastReport);
        turnAfter();
        m_list.deleteRows(gone);
        m_list.setHint(QString::fromLatin1(kReviewHint));
        turnAfter();
    }
    showReport(plan, m_lastReport, action, journalPath);
    releaseSlowly(plan.groups, turnAfter);
    releaseSlowly(listed, turnAfter);
}

void CleanupActions::gatherMarked(std::vector<ListedGroup>& listed, cleanup::Plan& plan)
{
    Turns turn;
    for (const ListedGroup& group : listed) {
        turn();
        cleanup::PlanGroup planned;
        for (const int row : group.rows) {
            planned.files.push_back(
                {factsOf(row), m_list.isMarked(row) ? cleanup::Role::Mark : cleanup::Role::Keep});
        }
        plan.groups.push_back(std::move(planned));
    }
}

bool CleanupActions::settleMarked(std::vector<ListedGroup>& listed, cleanup::Plan& plan)
{
    // The engine never takes the last copy: a wholly marked group either
    // keeps one file after all, or is left alone.
    const std::size_t whole = cleanup::wholeGroupCount(plan);
    const cleanup::WholeGroupRule rule =
        whole > 0 && ask(m_window, cleanupTitle(),
                         wholeGroupsQuestion(static_cast<std::int64_t>(whole)), true)
            ? cleanup::WholeGroupRule::KeepFirstByPath
            : cleanup::WholeGroupRule::LeaveAlone;
    // On the helper thread: a set of every path of a long list takes longer
    // than a turn of the loop may.
    std::vector<std::size_t> kept;
    std::string error;
    bool sound = false;
    {
        TfrmCleanupProgress checking(m_window);
        checking.lblAction->setText(tr("Checking the marked files"));
        checking.lblBytes->hide();
        runOnHelper(
            checking, [&] { sound = cleanup::settlePlan(plan, rule, kept, error); }, m_stop, [] {});
    }
    for (std::size_t g = 0; g < kept.size(); ++g) {
        if (kept[g] != g) {
            listed[g] = std::move(listed[kept[g]]);
        }
    }
    listed.resize(kept.size());
    if (plan.markedCount() == 0) {
        return false;
    }
    if (!sound) {
        message(tr("The marked files cannot be acted on, so nothing was changed:\n\n%1")
                    .arg(QString::fromStdString(error)),
                true);
        return false;
    }
    return true;
}

bool CleanupActions::confirmRun(const cleanup::Action& action, const cleanup::Plan& plan)
{
    QString text = question(action, plan.markedCount(), plan.bytesToReclaim(),
                            static_cast<std::int64_t>(plan.groups.size()));
    if (!m_list.filter().empty()) {
        text += "\n\n" + tr("Only the groups the filter shows are included; marked files in "
                            "the groups it hides are left as they are.");
    }
    if (!m_handlers.contentsConfirmed) {
        text += "\n\n" + tr("These groups were found by name alone: a marked file whose contents "
                            "differ from the kept file's is left as it is.");
    }
    const bool careful = action.kind == cleanup::ActionKind::Delete ||
                         action.kind == cleanup::ActionKind::HardLink ||
                         action.kind == cleanup::ActionKind::Reflink;
    return ask(m_window, cleanupTitle(), text, careful);
}

cleanup::Report CleanupActions::runPlan(const cleanup::Plan& plan, const cleanup::Action& action,
                                        cleanup::Journal& journal)
{
    // What the helper thread tells, under a lock: the path is copied, since
    // the engine's view of it lasts only for the call.
    struct Shared {
        std::mutex lock;
        cleanup::Progress progress;
        std::string path;
    } shared;
    std::vector<std::int64_t> bytesBefore;  // of the marked files before each, in run order
    std::int64_t total = 0;
    for (const cleanup::PlanGroup& group : plan.groups) {
        for (const cleanup::PlanFile& file : group.files) {
            if (file.role == cleanup::Role::Mark) {
                bytesBefore.push_back(total);
                total += std::max<std::int64_t>(file.file.size, 0);
            }
        }
    }
    const std::int64_t marked = plan.markedCount();
    m_stop = false;
    TfrmCleanupProgress dialog(m_window);
    dialog.lblAction->setText(doing(action));
    cleanup::Report report;
    std::vector<std::string> leftovers;
    runOnHelper(
        dialog,
        [&] {
            // What a run that was killed left below these folders goes first.
            leftovers = cleanup::removeLeftoversOfKilledRuns(journalFolder, roots);
            // Made and let go on the helper thread: it holds a report of its own.
            cleanup::Runner runner(plan, action, &journal);
            runner.onProgress = [&shared](const cleanup::Progress& progress) {
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.progress = progress;
                shared.progress.path = {};
                shared.path.assign(progress.path);
            };
            runner.stopRequested = [this] { return m_stop.load(); };
            runner.afterCheck = afterCheck;
            runner.whileAway = whileAway;
            report = runner.run();
        },
        m_stop,
        [&] {
            cleanup::Progress now;
            std::string path;
            {
                std::lock_guard<std::mutex> hold(shared.lock);
                now = shared.progress;
                path = shared.path;
            }
            const std::int64_t index = std::min<std::int64_t>(
                now.filesDone, static_cast<std::int64_t>(bytesBefore.size()) - 1);
            const std::int64_t done =
                index >= 0 ? bytesBefore[static_cast<std::size_t>(index)] + now.bytesChecked : 0;
            dialog.setFile(display(path));
            if (!dialog.cancelled()) {
                dialog.lblCount->setText(
                    tr("File %1 of %2")
                        .arg(count(std::min(now.filesDone + 1, marked)), count(marked)));
            }
            dialog.lblBytes->setText(tr("%1 of %2 checked").arg(count(done), bytes(total)));
            dialog.setPosition(done, total);
        },
        &m_longestGap);
    if (!leftovers.empty()) {
        QString list;
        for (const std::string& line : leftovers) {
            list += "\n" + display(line);
        }
        message(tr("A cleanup that was stopped before its end had left these behind; they were "
                   "removed:%1")
                    .arg(list),
                false);
    }
    return report;
}

std::vector<int> CleanupActions::rowsToRemove(const std::vector<ListedGroup>& groups,
                                              const cleanup::Report& report) const
{
    std::vector<int> rows;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const ListedGroup& group = groups[g];
        std::vector<int> left;
        for (std::size_t i = 0; i < group.rows.size(); ++i) {
            if (report.results[g][i].outcome == cleanup::Outcome::Done) {
                rows.push_back(group.rows[i]);
            } else {
                left.push_back(group.rows[i]);
            }
        }
        // A group down to one file goes whole, with the separator after it.
        if (left.size() == 1 && left.size() < group.rows.size()) {
            rows.push_back(group.header);
            rows.push_back(left.front());
            if (group.end < m_list.rowCount() &&
                m_list.kindOf(group.end) == views::RowKind::Separator) {
                rows.push_back(group.end);
            }
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CleanupActions::showReport(const cleanup::Plan& plan, const cleanup::Report& report,
                                const cleanup::Action& action, const std::string& journal)
{
    TfrmCleanupReport dialog(m_window);
    dialog.setReport(cleanupTitle(), runSummary(plan, report, action), tr("&Left untouched:"),
                     runDetails(plan, report), runJournal(action, journal));
    dialog.exec();
}

namespace {

// Beside a journal whose cleanup was undone whole: it is not offered again,
// in this session or a later one.
std::string undoneMark(const std::string& journal)
{
    return journal + ".undone";
}

void markUndone(const std::string& journal)
{
    const int fd = ::open(undoneMark(journal).c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace

std::string CleanupActions::journalToUndo() const
{
    std::string journal;
    if (!m_lastJournal.empty() && platform::fileExists(m_lastJournal)) {
        journal = m_lastJournal;
    } else if (!journalFolder.empty()) {
        journal = cleanup::latestJournal(journalFolder);
    }
    if (!journal.empty() && platform::fileExists(undoneMark(journal))) {
        return "";
    }
    return journal;
}

void CleanupActions::undoLastCleanup()
{
    if ((searching && searching()) || m_busy) {
        return;
    }
    m_busy = true;
    undo();
    m_busy = false;
    emit finished();
}

void CleanupActions::undo()
{
    const QString title = tr("Gemmora - undo last cleanup");
    const std::string journal = journalToUndo();
    if (journal.empty()) {
        message(tr("There is no cleanup to undo."));
        return;
    }
    cleanup::JournalSummary summary;
    if (!summariseForUndo(title, journal, summary)) {
        return;
    }
    const QString when = whenText(summary.started);
    if (summary.canPutBack == 0) {
        message(summary.done == 0
                    ? tr("The last cleanup, of %1, changed no file.").arg(when)
                    : tr("The last cleanup, of %1, deleted its files for good or replaced them "
                         "by links: they cannot be put back.")
                          .arg(when));
        return;
    }
    if (!ask(m_window, title,
             tr("Put back the %1 that the cleanup of %2 moved to the trash or into another "
                "folder?\n\nEach goes back to where it was, unless another file has taken its "
                "place meanwhile.\n\nJournal: %3")
                 .arg(files(summary.canPutBack), when, display(journal)),
             false)) {
        return;
    }
    if (!runUndo(title, when, journal)) {
        return;
    }
    if (!m_lastUndo.stopped && m_lastUndo.count(cleanup::UndoItem::NotPutBack) == 0) {
        markUndone(journal);
    }
    TfrmCleanupReport reportDialog(m_window);
    reportDialog.setReport(title, undoSummary(m_lastUndo), tr("&Not put back:"),
                           undoDetails(m_lastUndo), tr("Journal: %1").arg(display(journal)));
    reportDialog.exec();
}

bool CleanupActions::summariseForUndo(const QString& title, const std::string& journal,
                                      cleanup::JournalSummary& summary)
{
    // A journal of a large run is read on the helper thread too.
    bool summed = false;
    std::string error;
    {
        m_stop = false;
        TfrmCleanupProgress reading(m_window);
        reading.setWindowTitle(title);
        reading.lblAction->setText(tr("Reading the journal of the last cleanup"));
        reading.setFile(display(journal));
        reading.lblBytes->hide();
        runOnHelper(
            reading, [&] { summed = cleanup::summariseJournal(journal, summary, error); }, m_stop,
            [] {});
    }
    if (!summed) {
        message(tr("The journal of the last cleanup cannot be read:\n%1\n\n%2")
                    .arg(display(journal), QString::fromStdString(error)),
                true);
    }
    return summed;
}

bool CleanupActions::runUndo(const QString& title, const QString& when, const std::string& journal)
{
    struct Shared {
        std::atomic<std::size_t> done{0};
        std::atomic<std::size_t> total{0};
    } shared;
    m_stop = false;
    TfrmCleanupProgress dialog(m_window);
    dialog.setWindowTitle(title);
    dialog.lblAction->setText(tr("Putting back the files of the cleanup of %1").arg(when));
    dialog.lblBytes->hide();
    cleanup::UndoReport report;
    std::string error;
    bool read = false;
    runOnHelper(
        dialog,
        [&] {
            read = cleanup::undoJournal(
                journal, report, error, [this] { return m_stop.load(); },
                [&shared](std::size_t done, std::size_t total) {
                    shared.done = done;
                    shared.total = total;
                });
        },
        m_stop,
        [&] {
            if (!dialog.cancelled()) {
                dialog.lblCount->setText(tr("%1 of %2 handled")
                                             .arg(count(static_cast<std::int64_t>(shared.done)),
                                                  files(static_cast<std::int64_t>(shared.total))));
            }
            dialog.setPosition(static_cast<std::int64_t>(shared.done),
                               static_cast<std::int64_t>(shared.total));
        },
        &m_longestGap);
    m_lastUndo = report;
    if (!read) {
        message(tr("The journal of the last cleanup cannot be read:\n%1\n\n%2")
                    .arg(display(journal), QString::fromStdString(error)),
                true);
    }
    return read;
}

}  // namespace app
