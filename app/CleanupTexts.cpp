// The words of the window's cleanup: its questions, its reports and its notes.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CleanupTexts.h"

#include <algorithm>

#include <QMessageBox>
#include <QObject>

#include "text/CommaText.h"
#include "text/Locale.h"
#include "text/Text.h"
#include "views/FileList.h"

namespace app::texts {

namespace {

// How many reasons a message lists before it counts the rest.
constexpr std::size_t kReasonsShown = 5;

}  // namespace

QString display(std::string_view bytes)
{
    return QString::fromStdString(text::displayName(bytes));
}

QString count(std::int64_t value)
{
    return QString::fromStdString(
        text::formatCount(value, views::TFileListView::processLocale()));
}

QString files(std::int64_t value)
{
    return value == 1 ? QObject::tr("1 file") : QObject::tr("%1 files").arg(count(value));
}

QString bytes(std::int64_t value)
{
    return value == 1 ? QObject::tr("1 byte") : QObject::tr("%1 bytes").arg(count(value));
}

// The bytes, and past a megabyte the size as a person says it.
QString size(std::int64_t value)
{
    const char* const units[] = {"kB", "MB", "GB", "TB", "PB"};
    if (value < 1000000) {
        return bytes(value);
    }
    double rounded = static_cast<double>(value) / 1000.0;
    std::size_t unit = 0;
    while (rounded >= 1000.0 && unit + 1 < std::size(units)) {
        rounded /= 1000.0;
        ++unit;
    }
    // A space that does not break keeps the number and its unit on one line.
    return QObject::tr("%1, %2\u00a0%3")
        .arg(bytes(value),
             QString::fromStdString(
                 text::formatDecimal(rounded, 1, views::TFileListView::processLocale())),
             QString::fromLatin1(units[unit]));
}

// "1 file was" or "12 files were", to begin a sentence.
QString filesWere(std::int64_t value)
{
    return value == 1 ? QObject::tr("1 file was") : QObject::tr("%1 files were").arg(count(value));
}

QString groups(std::int64_t value)
{
    return value == 1 ? QObject::tr("1 group") : QObject::tr("%1 groups").arg(count(value));
}

QString cleanupTitle()
{
    return QObject::tr("Gemmora - clean up");
}

// A question with Yes and No; `safe` makes No the default and shows a warning.
bool ask(QWidget* parent, const QString& title, const QString& text, bool safe)
{
    QMessageBox box(safe ? QMessageBox::Warning : QMessageBox::Question, title, text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(safe ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

// What an action does, in the words of the question before it and the
// report after it.
QString doing(const cleanup::Action& action)
{
    switch (action.kind) {
    case cleanup::ActionKind::Trash:
        return QObject::tr("Moving the marked files to the trash");
    case cleanup::ActionKind::Delete:
        return QObject::tr("Deleting the marked files for good");
    case cleanup::ActionKind::HardLink:
        return QObject::tr("Replacing the marked files by hard links");
    case cleanup::ActionKind::Reflink:
        return QObject::tr("Letting the marked files share their kept file's storage");
    case cleanup::ActionKind::Move:
        return QObject::tr("Moving the marked files into %1").arg(display(action.folder));
    }
    return QString();
}

QString question(const cleanup::Action& action, std::int64_t marked, std::int64_t total,
                 std::int64_t groupCount)
{
    const QString what =
        QObject::tr("%1 (%2) in %3").arg(files(marked), texts::size(total), groups(groupCount));
    const QString checked =
        QObject::tr("Right before it is touched, each is compared byte for byte with the file "
                    "kept in its group; one that differs is left as it is.");
    switch (action.kind) {
    case cleanup::ActionKind::Trash:
        return QObject::tr("Move the %1 that are marked to the trash?").arg(what) + "\n\n" +
               checked + "\n\n" +
               QObject::tr("\"Undo last cleanup\" in the list's menu puts them back.");
    case cleanup::ActionKind::Delete:
        return QObject::tr("Delete the %1 that are marked permanently? This cannot be undone.")
                   .arg(what) +
               "\n\n" + checked;
    case cleanup::ActionKind::HardLink:
        return QObject::tr("Replace the %1 that are marked by hard links to the file kept in "
                           "their group?")
                   .arg(what) +
               "\n\n" + checked + "\n\n" +
               QObject::tr("Each name then shows the kept file itself, with its owner and "
                           "permissions: a change to one is a change to all. This cannot be "
                           "undone.");
    case cleanup::ActionKind::Reflink:
        return QObject::tr("Let the %1 that are marked share the storage of the file kept in "
                           "their group (reflink)?")
                   .arg(what) +
               "\n\n" + checked + "\n\n" +
               QObject::tr("Each stays a file of its own; only file systems such as Btrfs and "
                           "XFS can share storage, elsewhere the files are left as they are. "
                           "This cannot be undone.");
    case cleanup::ActionKind::Move:
        return QObject::tr("Move the %1 that are marked into\n%2\nkeeping their folders below "
                           "the searched folder?")
                   .arg(what, display(action.folder)) +
               "\n\n" + checked + "\n\n" +
               QObject::tr("\"Undo last cleanup\" in the list's menu puts them back.");
    }
    return QString();
}

QString doneWords(const cleanup::Action& action)
{
    switch (action.kind) {
    case cleanup::ActionKind::Trash:
        return QObject::tr("moved to the trash");
    case cleanup::ActionKind::Delete:
        return QObject::tr("deleted for good");
    case cleanup::ActionKind::HardLink:
        return QObject::tr("replaced by hard links");
    case cleanup::ActionKind::Reflink:
        return QObject::tr("made to share their kept file's storage");
    case cleanup::ActionKind::Move:
        return QObject::tr("moved into %1").arg(display(action.folder));
    }
    return QString();
}

std::vector<std::pair<QString, cleanup::KeepRule::Kind>> keepRuleChoices()
{
    return {
        {QObject::tr("Keep the &oldest"), cleanup::KeepRule::Oldest},
        {QObject::tr("Keep the &newest"), cleanup::KeepRule::Newest},
        {QObject::tr("Keep the &shortest path"), cleanup::KeepRule::Shortest},
        {QObject::tr("Keep the &longest path"), cleanup::KeepRule::Longest},
        {QObject::tr("Keep the one in the fe&west folders"), cleanup::KeepRule::Shallowest},
        {QObject::tr("Keep the one in the most fol&ders"), cleanup::KeepRule::Deepest},
        {QObject::tr("Keep the &first listed"), cleanup::KeepRule::First},
        {QObject::tr("Keep the one &in a folder..."), cleanup::KeepRule::InFolder},
        {QObject::tr("Keep the one no&t in a folder..."), cleanup::KeepRule::NotInFolder},
        {QObject::tr("Keep the one whose name &matches..."), cleanup::KeepRule::NameMatches},
    };
}

QString ruleWords(const cleanup::KeepRule& rule)
{
    switch (rule.kind) {
    case cleanup::KeepRule::Oldest:
        return QObject::tr("the oldest");
    case cleanup::KeepRule::Newest:
        return QObject::tr("the newest");
    case cleanup::KeepRule::Shortest:
        return QObject::tr("the one with the shortest path");
    case cleanup::KeepRule::Longest:
        return QObject::tr("the one with the longest path");
    case cleanup::KeepRule::Shallowest:
        return QObject::tr("the one in the fewest folders");
    case cleanup::KeepRule::Deepest:
        return QObject::tr("the one in the most folders");
    case cleanup::KeepRule::First:
        return QObject::tr("the first listed");
    case cleanup::KeepRule::InFolder:
        return QObject::tr("the one in %1").arg(display(rule.values.front()));
    case cleanup::KeepRule::NotInFolder:
        return QObject::tr("the one outside %1").arg(display(rule.values.front()));
    case cleanup::KeepRule::NameMatches:
        return QObject::tr("the one whose name matches %1")
            .arg(display(text::formatCommaText(rule.values)));
    }
    return QString();
}

// A few lines of "path: reason", the rest counted.
QString reasonLines(const std::vector<std::pair<std::string, std::string>>& reasons)
{
    QString text;
    for (std::size_t i = 0; i < reasons.size() && i < kReasonsShown; ++i) {
        text += "\n" + display(reasons[i].first) + ": " + QString::fromStdString(reasons[i].second);
    }
    if (reasons.size() > kReasonsShown) {
        text += "\n" + QObject::tr("(and %1 more)")
                           .arg(count(static_cast<std::int64_t>(reasons.size() - kReasonsShown)));
    }
    return text;
}

// A local time as the journal writes it, as a person reads it.
QString whenText(const std::string& journalTime)
{
    std::string text = journalTime;
    std::replace(text.begin(), text.end(), 'T', ' ');
    return QString::fromStdString(text);
}

QString wholeGroupsQuestion(std::int64_t whole)
{
    return whole == 1
               ? QObject::tr("Every file of 1 group is marked, so acting on it would keep no copy "
                             "of its contents.\n\nYes: keep the first file of the group by path "
                             "order, and act on the others.\nNo: leave the group as it is.")
               : QObject::tr("Every file of %1 groups is marked, so acting on them would keep no "
                             "copy of their contents.\n\nYes: keep the first file of each of "
                             "these groups by path order, and act on the others.\nNo: leave these "
                             "groups as they are.")
                     .arg(count(whole));
}

QString runSummary(const cleanup::Plan& plan, const cleanup::Report& report,
                   const cleanup::Action& action)
{
    const std::int64_t done = report.count(cleanup::Outcome::Done);
    const std::int64_t untouched = report.count(cleanup::Outcome::Untouched);
    const std::int64_t notReached = report.count(cleanup::Outcome::NotReached);
    QString summary = QObject::tr("%1 of %2 were %3, giving back %4.")
                          .arg(count(done), files(plan.markedCount()), doneWords(action),
                               size(report.bytesReclaimed()));
    if (untouched > 0) {
        summary += "\n" + (untouched == 1
                               ? QObject::tr("1 file was left untouched, for the reason below; it "
                                             "stays marked.")
                               : QObject::tr("%1 files were left untouched, each for the reason "
                                             "below; they stay marked.")
                                     .arg(count(untouched)));
    }
    if (report.stopped && notReached > 0) {
        summary += "\n" + (notReached == 1
                               ? QObject::tr("The run was stopped: 1 file was not reached and "
                                             "stays marked.")
                               : QObject::tr("The run was stopped: %1 files were not reached and "
                                             "stay marked.")
                                     .arg(count(notReached)));
    }
    if (!report.journalError.empty()) {
        summary += "\n" + QObject::tr("The run ended there, since its journal could not be "
                                      "written: %1")
                              .arg(QString::fromStdString(report.journalError));
    }
    return summary;
}

QString runDetails(const cleanup::Plan& plan, const cleanup::Report& report)
{
    QString details;
    QString remarks;
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        for (std::size_t i = 0; i < plan.groups[g].files.size(); ++i) {
            const cleanup::FileResult& result = report.results[g][i];
            const QString path = display(plan.groups[g].files[i].file.path);
            if (result.outcome == cleanup::Outcome::Untouched) {
                details += path + "\n    " + QString::fromStdString(result.reason) + "\n";
            } else if (result.outcome == cleanup::Outcome::Done && !result.reason.empty()) {
                remarks += path + "\n    " + QString::fromStdString(result.reason) + "\n";
            }
        }
    }
    if (!remarks.isEmpty()) {
        details +=
            (details.isEmpty() ? "" : "\n") + QObject::tr("Done, with a remark:") + "\n" + remarks;
    }
    return details;
}

QString runJournal(const cleanup::Action& action, const std::string& journal)
{
    QString text = QObject::tr("Journal: %1").arg(display(journal));
    if (action.kind == cleanup::ActionKind::Trash || action.kind == cleanup::ActionKind::Move) {
        text += "\n" + QObject::tr("\"Undo last cleanup\" in the list's menu (Ctrl+Z) puts these "
                                   "files back.");
    }
    return text;
}

QString undoSummary(const cleanup::UndoReport& report)
{
    const std::int64_t back = report.count(cleanup::UndoItem::PutBack);
    const std::int64_t already = report.count(cleanup::UndoItem::AlreadyBack);
    const std::int64_t missed = report.count(cleanup::UndoItem::NotPutBack);
    const std::int64_t cannot = report.count(cleanup::UndoItem::CannotUndo);
    QString text = QObject::tr("%1 put back.").arg(filesWere(back));
    if (back > 0) {
        text += " " + QObject::tr("They are not in the list: search again to see them there.");
    }
    if (already > 0) {
        text += "\n" +
                (already == 1
                     ? QObject::tr("1 file was in its place already.")
                     : QObject::tr("%1 files were in their places already.").arg(count(already)));
    }
    if (missed > 0) {
        text +=
            "\n" + (missed == 1 ? QObject::tr("1 file could not be put back, for the reason below.")
                                : QObject::tr("%1 files could not be put back, each for the reason "
                                              "below.")
                                      .arg(count(missed)));
    }
    if (cannot > 0) {
        text += "\n" + QObject::tr("%1 cannot be put back: deleted for good, or replaced by a "
                                   "link.")
                           .arg(files(cannot));
    }
    if (report.stopped) {
        text += "\n" + QObject::tr("The undo was stopped before its end; \"Undo last cleanup\" "
                                   "again goes on where it stopped.");
    }
    return text;
}

QString undoDetails(const cleanup::UndoReport& report)
{
    QString details;
    for (const cleanup::UndoItem& item : report.items) {
        if (item.status == cleanup::UndoItem::NotPutBack ||
            item.status == cleanup::UndoItem::CannotUndo) {
            details += display(item.path) + "\n    " + QString::fromStdString(item.detail) + "\n";
        }
    }
    return details;
}

}  // namespace app::texts
