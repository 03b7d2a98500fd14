// Trashes or moves marked folders through the folder cleanup engine, asking first and reporting after.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FolderCleanup.h"

#include <algorithm>
#include <mutex>

#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QWidget>

#include "app/CleanupDialogs.h"
#include "app/CleanupTexts.h"
#include "cleanup/Undo.h"
#include "text/Text.h"

namespace app {

using texts::ask;
using texts::cleanupTitle;

namespace {

QString display(const std::string& path)
{
    return QString::fromStdString(text::displayName(path));
}

QString count(std::int64_t value)
{
    return QLocale().toString(static_cast<qlonglong>(value));
}

// "1 folder", "12 folders".
QString folderCount(std::int64_t value)
{
    return value == 1 ? FolderCleanup::tr("1 folder")
                      : FolderCleanup::tr("%1 folders").arg(count(value));
}

// What goes with the folders beside their files: how many of each kind
// ("2 links, 1 empty file"), then a line each, the first few.
QString alsoRemovedText(const cleanup::FolderPlan& plan)
{
    constexpr int kListed = 15;
    std::vector<std::pair<std::string, std::int64_t>> kinds;
    QStringList lines;
    std::int64_t more = 0;
    for (const cleanup::PlanFolder& folder : plan.folders) {
        for (std::size_t i = 0; i < folder.alsoRemoved.size(); ++i) {
            const std::string& kind = folder.alsoRemovedKinds[i];
            const auto seen = std::find_if(kinds.begin(), kinds.end(),
                                           [&kind](const auto& k) { return k.first == kind; });
            (seen == kinds.end() ? kinds.emplace_back(kind, 0) : *seen).second += 1;
            if (lines.size() < kListed) {
                lines << FolderCleanup::tr("%1 (%2)").arg(
                    display(folder.path + folder.alsoRemoved[i]), QString::fromStdString(kind));
            } else {
                ++more;
            }
        }
    }
    if (lines.isEmpty()) {
        return {};
    }
    if (more > 0) {
        lines << FolderCleanup::tr("and %1 more").arg(count(more));
    }
    QStringList counts;
    for (const auto& [kind, n] : kinds) {
        counts << QStringLiteral("%1 %2").arg(count(n),
                                              QString::fromStdString(n == 1 ? kind : kind + "s"));
    }
    return FolderCleanup::tr("\n\nThese go with them, being no copies (%1):\n")
               .arg(counts.join(QStringLiteral(", "))) +
           lines.join('\n');
}

}  // namespace

FolderCleanup::FolderCleanup(QWidget* window) : QObject(window), m_window(window) {}

void FolderCleanup::message(const QString& text, bool warning, const QString& details)
{
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, cleanupTitle(), text,
                    QMessageBox::Ok, m_window);
    if (!details.isEmpty()) {
        box.setDetailedText(details);
    }
    box.exec();
}

std::vector<GoneFolder> FolderCleanup::act(const folders::FolderFinder& finder,
                                           const folders::FolderResult& result,
                                           const std::vector<std::string>& marked,
                                           cleanup::ActionKind kind)
{
    if (m_busy || marked.empty()) {
        return {};
    }
    m_busy = true;
    m_stop = false;
    std::vector<GoneFolder> gone = planAndRun(finder, result, marked, kind);
    m_busy = false;
    return gone;
}

std::vector<GoneFolder> FolderCleanup::planAndRun(const folders::FolderFinder& finder,
                                                  const folders::FolderResult& result,
                                                  const std::vector<std::string>& marked,
                                                  cleanup::ActionKind kind)
{
    cleanup::FolderChoice choice;
    choice.only = marked;
    cleanup::FolderPlan plan;
    {
        // Each folder is listed again: on the helper thread.
        TfrmCleanupProgress checking(m_window);
        checking.lblAction->setText(tr("Listing the marked folders"));
        checking.lblBytes->hide();
        runOnHelper(
            checking, [&] { plan = cleanup::makeFolderPlan(finder, result, {}, choice, roots); },
            m_stop, [] {});
    }
    if (plan.folders.empty()) {
        QStringList notes;
        for (const std::string& note : plan.notes) {
            notes << QString::fromStdString(text::displayUtf8(note));
        }
        message(tr("None of the marked folders can go: each would take the last copy of a file "
                   "with it, or is no copy any more."),
                true, notes.join('\n'));
        return {};
    }
    cleanup::Action action;
    action.kind = kind;
    if (kind == cleanup::ActionKind::Move) {
        const QString chosen =
            QFileDialog::getExistingDirectory(m_window, tr("Move the marked folders into"));
        if (chosen.isEmpty()) {
            return {};
        }
        action.folder = QFile::encodeName(chosen).toStdString();
        if (action.folder.back() != '/') {
            action.folder += '/';
        }
    }
    if (!confirm(plan, action)) {
        return {};
    }
    cleanup::Journal journal;
    std::string error;
    if (!journal.create(journalFolder, error)) {
        message(tr("Nothing was changed: the journal could not be made: %1")
                    .arg(QString::fromStdString(error)),
                true);
        return {};
    }
    const cleanup::FolderReport done = run(plan, action, journal);
    m_lastJournal = journal.path();
    std::vector<GoneFolder> gone;
    for (std::size_t i = 0; i < done.results.size(); ++i) {
        if (done.results[i].outcome == cleanup::Outcome::Done) {
            gone.push_back({plan.folders[i].path, plan.folders[i].keptFolder});
        }
    }
    report(plan, done, action);
    return gone;
}

bool FolderCleanup::confirm(const cleanup::FolderPlan& plan, const cleanup::Action& action)
{
    const auto folders = static_cast<std::int64_t>(plan.folders.size());
    QString text =
        (action.kind == cleanup::ActionKind::Move
             ? tr("Move %1, %2 files and %3 bytes, into %4?")
                   .arg(folderCount(folders), count(plan.fileCount()),
                        count(plan.bytesToReclaim()), display(action.folder))
             : tr("Move %1, %2 files and %3 bytes, to the trash?")
                   .arg(folderCount(folders), count(plan.fileCount()),
                        count(plan.bytesToReclaim()))) +
        tr("\n\nRight before a folder goes, each of its files is compared byte for byte with its "
           "copy outside it; a folder that differs in anything is left as it is.");
    text += alsoRemovedText(plan);
    if (!plan.notes.empty()) {
        text += tr("\n\n%1 of the marked folders stay: each would take the last copy of a file.")
                    .arg(count(static_cast<std::int64_t>(plan.notes.size())));
    }
    return ask(m_window, cleanupTitle(), text, false);
}

cleanup::FolderReport FolderCleanup::run(const cleanup::FolderPlan& plan,
                                         const cleanup::Action& action, cleanup::Journal& journal)
{
    struct Shared {
        std::mutex lock;
        cleanup::Progress progress;
        std::string path;
    } shared;
    cleanup::FolderReport done;
    cleanup::FolderRunner runner(plan, action, &journal);
    runner.onProgress = [&shared](const cleanup::Progress& progress) {
        const std::lock_guard<std::mutex> hold(shared.lock);
        shared.progress = progress;
        shared.progress.path = {};  // the engine's, for the call only
        shared.path.assign(progress.path);
    };
    runner.stopRequested = [this] { return m_stop.load(); };
    TfrmCleanupProgress progress(m_window);
    progress.lblAction->setText(action.kind == cleanup::ActionKind::Move
                                    ? tr("Moving the marked folders")
                                    : tr("Moving the marked folders to the trash"));
    progress.lblBytes->hide();
    runOnHelper(
        progress,
        [&] {
            // What a run that was killed left below these folders goes first.
            cleanup::removeLeftoversOfKilledRuns(journalFolder, roots);
            done = runner.run();
        },
        m_stop,
        [&] {
            const std::lock_guard<std::mutex> hold(shared.lock);
            progress.setFile(display(shared.path));
            progress.lblCount->setText(tr("%1 of %2 folders")
                                           .arg(count(shared.progress.filesDone),
                                                count(shared.progress.filesToDo)));
            progress.setPosition(shared.progress.filesDone, shared.progress.filesToDo);
        });
    return done;
}

void FolderCleanup::report(const cleanup::FolderPlan& plan, const cleanup::FolderReport& done,
                           const cleanup::Action& action)
{
    if (done.refused) {
        message(tr("Nothing was changed: %1").arg(QString::fromStdString(done.refusal)), true);
        return;
    }
    QStringList details;
    for (std::size_t i = 0; i < done.results.size(); ++i) {
        const cleanup::FolderOutcome& outcome = done.results[i];
        if (outcome.outcome == cleanup::Outcome::Untouched) {
            details << tr("%1: %2").arg(display(plan.folders[i].path),
                                        QString::fromStdString(outcome.reason));
        } else if (outcome.outcome == cleanup::Outcome::NotReached) {
            details << tr("%1: not reached, the run was stopped").arg(display(plan.folders[i].path));
        }
    }
    for (const std::string& note : plan.notes) {
        details << QString::fromStdString(text::displayUtf8(note));
    }
    const QString summary =
        tr("%1 of %2 went %3, giving back %4 bytes.")
            .arg(count(done.count(cleanup::Outcome::Done)),
                 folderCount(static_cast<std::int64_t>(plan.folders.size())),
                 action.kind == cleanup::ActionKind::Move ? tr("to %1").arg(display(action.folder))
                                                          : tr("to the trash"),
                 count(done.bytesReclaimed()));
    TfrmCleanupReport dialog(m_window);
    dialog.setReport(cleanupTitle(), summary, tr("Left as they were:"), details.join('\n'),
                     display(m_lastJournal));
    dialog.exec();
}

void FolderCleanup::undoLast()
{
    if (!canUndo() ||
        !ask(m_window, cleanupTitle(),
             tr("Put back the folders the last folder cleanup took away?"), false)) {
        return;
    }
    m_busy = true;
    m_stop = false;
    cleanup::UndoReport undone;
    std::string error;
    bool read = false;
    {
        TfrmCleanupProgress progress(m_window);
        progress.lblAction->setText(tr("Putting the folders back"));
        progress.lblBytes->hide();
        runOnHelper(
            progress,
            [&] {
                read = cleanup::undoJournal(m_lastJournal, undone, error,
                                            [this] { return m_stop.load(); });
            },
            m_stop, [] {});
    }
    m_busy = false;
    if (!read) {
        message(tr("The journal could not be read: %1").arg(QString::fromStdString(error)), true);
        return;
    }
    QStringList details;
    for (const cleanup::UndoItem& item : undone.items) {
        if (item.status == cleanup::UndoItem::NotPutBack) {
            details << tr("%1: %2").arg(display(item.path), QString::fromStdString(item.detail));
        }
    }
    message(tr("%1 put back, %2 were back already. Search again to list them.")
                .arg(count(undone.count(cleanup::UndoItem::PutBack)),
                     count(undone.count(cleanup::UndoItem::AlreadyBack))),
            !details.isEmpty(), details.join('\n'));
}

}  // namespace app
