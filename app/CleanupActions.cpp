// The window's cleanup: the list's menu, its keys, and marks by keep rules.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CleanupActions.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include "app/CleanupDialogs.h"
#include "app/CleanupTexts.h"
#include "app/ResultListHandlers.h"
#include "cleanup/Prepare.h"
#include "text/CommaText.h"
#include "platform/FolderListing.h"
#include "text/Text.h"
#include "views/FileList.h"

namespace app {

using namespace texts;

CleanupActions::CleanupActions(views::TFileListView& list, ResultListHandlers& handlers,
                               QWidget* window)
    : QObject(window), m_list(list), m_handlers(handlers), m_window(window)
{
    connect(&m_opener, &review::FileOpener::failed, this,
            [this](const QByteArray& path, const QString& reason) {
                message(tr("The folder could not be opened:\n%1\n\n%2")
                            .arg(display(path.toStdString()), reason),
                        true);
            });
}

CleanupActions::~CleanupActions() = default;

void CleanupActions::message(const QString& text, bool warning)
{
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, cleanupTitle(), text,
                    QMessageBox::Ok, m_window);
    box.exec();
}

QString CleanupActions::marksText() const
{
    const std::int64_t marked = m_list.markedCount();
    if (marked == 0) {
        return QString();
    }
    // Past a megabyte the size as a person says it, too: the count of bytes
    // alone is hard to read at a glance.
    return tr("Marked: %1, %2").arg(files(marked), size(m_list.markedBytes()));
}

QString CleanupActions::marksBrief() const
{
    const std::int64_t marked = m_list.markedCount();
    return marked == 0 ? QString() : tr("Marked: %1").arg(count(marked));
}

cleanup::FileFacts CleanupActions::factsOf(int row) const
{
    cleanup::FileFacts facts;
    facts.path = m_list.captionOf(row);
    facts.root = cleanup::searchedFolderOf(facts.path, roots);
    facts.size = m_list.rows().sizeOf(row);
    return facts;
}

std::vector<CleanupActions::ListedGroup> CleanupActions::listedGroups(bool onlyMarked) const
{
    std::vector<ListedGroup> out;
    const int total = m_list.rowCount();
    Turns turn;
    for (int row = 0; row < total; ++row) {
        if ((row & 1023) == 0) {
            turn();
        }
        // Groups a filter hides take no part.
        if (m_list.kindOf(row) != views::RowKind::Header || !m_list.isRowShown(row)) {
            continue;
        }
        ListedGroup group;
        group.header = row;
        bool marked = false;
        int next = row + 1;
        for (; next < total && m_list.kindOf(next) == views::RowKind::File; ++next) {
            group.rows.push_back(next);
            marked = marked || m_list.isMarked(next);
        }
        group.end = next;
        row = next - 1;
        if (!group.rows.empty() && (marked || !onlyMarked)) {
            out.push_back(std::move(group));
        }
    }
    return out;
}

QMenu* CleanupActions::buildMenu(int row, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setAccessibleName(tr("Result list menu"));
    const bool idle = !(searching && searching()) && !m_busy;
    const bool haveGroups = m_list.rowCount() > 0;
    const bool fileRow =
        row >= 0 && row < m_list.rowCount() && m_list.kindOf(row) == views::RowKind::File;
    const bool selectedFiles = !m_list.selectedFileRows().empty();
    const bool marked = m_list.markedCount() > 0;
    const auto add = [menu](QMenu* to, const QString& text, bool enabled,
                            const std::function<void()>& run) {
        QAction* action = to->addAction(text);
        action->setEnabled(enabled);
        QObject::connect(action, &QAction::triggered, menu, run);
        return action;
    };

    QMenu* rules = menu->addMenu(tr("&Mark all but one in each group"));
    rules->setEnabled(idle && haveGroups);
    for (const auto& [text, kind] : keepRuleChoices()) {
        add(rules, text, true, [this, kind = kind] { markByRuleAsking(kind); });
    }
    add(menu, tr("Mar&k selected\tSpace"), selectedFiles, [this] { markSelected(true); });
    add(menu, tr("U&nmark selected"), selectedFiles, [this] { markSelected(false); });
    add(menu, tr("Unmark &all"), marked, [this] { unmarkAll(); });
    add(menu, tr("&Invert marks within the group"), haveGroups && (selectedFiles || fileRow),
        [this] { invertMarksInGroups(); });
    menu->addSeparator();
    const bool act = idle && marked;
    add(menu, tr("&Trash marked\tCtrl+Del"), act,
        [this] { actOnMarked(cleanup::ActionKind::Trash); });
    add(menu, tr("&Delete marked permanently"), act,
        [this] { actOnMarked(cleanup::ActionKind::Delete); });
    add(menu, tr("Replace marked by &hard links"), act,
        [this] { actOnMarked(cleanup::ActionKind::HardLink); });
    add(menu, tr("Replace marked by &reflinks"), act,
        [this] { actOnMarked(cleanup::ActionKind::Reflink); });
    add(menu, tr("Mo&ve marked to a folder..."), act,
        [this] { actOnMarked(cleanup::ActionKind::Move); });
    menu->addSeparator();
    add(menu, tr("&Undo last cleanup\tCtrl+Z"), idle && !journalToUndo().empty(),
        [this] { undoLastCleanup(); });
    menu->addSeparator();
    add(menu, tr("Open containing &folder"), fileRow, [this, row] { openContainingFolder(row); });
    add(menu, tr("&Copy path"), fileRow || selectedFiles, [this, row] { copyPaths(row); });
    add(menu, tr("R&eview..."), fileRow && !m_busy, [this, row] { review(row); });
    if (addToMenu) {
        addToMenu(*menu, row);
    }
    return menu;
}

void CleanupActions::showMenu(const QPoint& at, int row)
{
    // The menu acts on the row it was opened over, chosen as a click chooses it.
    if (row >= 0 && row < m_list.rowCount() && !m_list.isRowSelected(row)) {
        m_list.selectionModel()->setCurrentIndex(m_list.model()->index(row, 0),
                                                 QItemSelectionModel::NoUpdate);
        m_list.clearSelection();
        m_list.setRowSelected(row, true);
        m_handlers.FileListView1Click();
    }
    QMenu* menu = buildMenu(row, &m_list);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(at);
}

bool CleanupActions::keyPress(int key, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    if (key == Qt::Key_Delete && held == Qt::ControlModifier && m_list.markedCount() > 0) {
        if (!(searching && searching()) && !m_busy) {
            actOnMarked(cleanup::ActionKind::Trash);
        }
        return true;
    }
    if (key == Qt::Key_Z && held == Qt::ControlModifier) {
        if (!(searching && searching()) && !m_busy) {
            undoLastCleanup();
        }
        return true;
    }
    return false;
}

bool CleanupActions::chooseFolder(const QString& title, const std::string& start,
                                  std::string& folder)
{
    QFileDialog dialog(m_window, title, QFile::decodeName(QByteArray::fromStdString(start)));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    folder = cleanup::plainPath(QFile::encodeName(dialog.selectedFiles().front()).toStdString(),
                                "/", true);
    return true;
}

bool CleanupActions::askRule(cleanup::KeepRule::Kind kind, const std::string& start, bool folders,
                             cleanup::KeepRule& rule)
{
    rule = {};
    rule.kind = kind;
    if (kind == cleanup::KeepRule::InFolder || kind == cleanup::KeepRule::NotInFolder) {
        const QString title =
            kind == cleanup::KeepRule::InFolder
                ? (folders ? tr("Gemmora - keep the folder that is or lies in this folder")
                           : tr("Gemmora - keep the file in this folder"))
                : (folders ? tr("Gemmora - keep the folder outside this folder")
                           : tr("Gemmora - keep the file outside this folder"));
        std::string folder;
        if (!chooseFolder(title, start, folder)) {
            return false;
        }
        rule.values = cleanup::folderForms(folder, "/");
    } else if (kind == cleanup::KeepRule::NameMatches) {
        QInputDialog dialog(m_window);
        dialog.setWindowTitle(folders ? tr("Gemmora - keep the folder whose name matches")
                                      : tr("Gemmora - keep the file whose name matches"));
        dialog.setLabelText(folders ? tr("&Masks of the folder's name to keep, such as \"2019*\" "
                                         "(several separated by commas):")
                                    : tr("&Masks of the name to keep, such as *.jpg or "
                                         "\"IMG_*.*\" (several separated by commas):"));
        dialog.setInputMode(QInputDialog::TextInput);
        if (dialog.exec() != QDialog::Accepted) {
            return false;
        }
        for (std::string& mask : text::parseCommaText(dialog.textValue().toStdString())) {
            if (!mask.empty()) {
                rule.values.push_back(std::move(mask));
            }
        }
        if (rule.values.empty()) {
            return false;
        }
    }
    return true;
}

void CleanupActions::markByRuleAsking(cleanup::KeepRule::Kind kind)
{
    const int row = m_list.firstSelected();
    const std::string start = row >= 0 && m_list.kindOf(row) == views::RowKind::File
                                  ? std::string(platform::folderOf(m_list.captionOf(row)))
                                  : (roots.empty() ? std::string("/") : roots.front());
    cleanup::KeepRule rule;
    if (askRule(kind, start, false, rule)) {
        markByRule(rule);
    }
}

bool CleanupActions::markByRule(const cleanup::KeepRule& rule)
{
    if ((searching && searching()) || m_busy) {
        return false;
    }
    m_busy = true;
    const bool marked = mark(rule);
    m_busy = false;
    emit finished();
    return marked;
}

// What marking by a rule reads and plans, shared with the helper thread.
struct CleanupActions::MarkWork {
    std::vector<cleanup::InputGroup> groups;
    std::vector<std::vector<int>> rows;  // the rows of the files still in `groups`
    std::vector<std::pair<int, std::string>> leftOut;
    cleanup::Plan plan;
    std::atomic<std::int64_t> read{0};
    std::int64_t total = 0;
};

bool CleanupActions::mark(const cleanup::KeepRule& rule)
{
    const std::uint64_t generation = m_list.rows().generation();
    std::vector<ListedGroup> listed = listedGroups(false);
    MarkWork work;
    Turns turn;
    for (const ListedGroup& group : listed) {
        cleanup::InputGroup files;
        for (const int row : group.rows) {
            files.push_back(factsOf(row));
        }
        work.total += static_cast<std::int64_t>(files.size());
        work.groups.push_back(std::move(files));
        work.rows.push_back(group.rows);
        turn();
    }
    if (!readForMarking(rule, work)) {
        return false;
    }
    if (m_list.rows().generation() != generation) {
        message(tr("The list changed while the files were read, so nothing was marked."), true);
        return false;
    }
    tellMarkNotes(rule, applyMarks(work), work);
    Turns turnAfter;
    releaseSlowly(listed, turnAfter);
    releaseSlowly(work.rows, turnAfter);
    releaseSlowly(work.plan.groups, turnAfter);
    return true;
}

bool CleanupActions::readForMarking(const cleanup::KeepRule& rule, MarkWork& work)
{
    m_stop = false;
    TfrmCleanupProgress dialog(m_window);
    dialog.setWindowTitle(tr("Gemmora - mark files"));
    dialog.lblAction->setText(
        tr("Reading the files' dates and sizes to keep %1 of each group").arg(ruleWords(rule)));
    dialog.lblBytes->hide();
    const std::vector<cleanup::KeepRule> rules = {rule};
    runOnHelper(
        dialog,
        [&] {
            // Each file's facts as they are now: a file that went or changed
            // since the search takes no part.
            const std::vector<cleanup::LeftOut> leftOut = cleanup::rereadFacts(
                work.groups, [this] { return m_stop.load(); }, &work.read);
            std::size_t next = 0;
            for (std::size_t g = 0; g < work.rows.size(); ++g) {
                std::vector<int> rows;
                for (std::size_t i = 0; i < work.rows[g].size(); ++i) {
                    if (next < leftOut.size() && leftOut[next].group == g &&
                        leftOut[next].index == i) {
                        work.leftOut.emplace_back(work.rows[g][i], leftOut[next].reason);
                        ++next;
                    } else {
                        rows.push_back(work.rows[g][i]);
                    }
                }
                work.rows[g] = std::move(rows);
            }
            if (!m_stop) {
                work.plan = cleanup::makePlan(work.groups, rules);
            }
            // The window needs the roles alone; the paths go here, not
            // between two turns of its loop.
            std::vector<cleanup::InputGroup>().swap(work.groups);
            for (cleanup::PlanGroup& group : work.plan.groups) {
                for (cleanup::PlanFile& file : group.files) {
                    std::string().swap(file.file.path);
                    std::string().swap(file.file.root);
                }
            }
        },
        m_stop,
        [&] {
            dialog.lblCount->setText(
                tr("%1 of %2 read").arg(count(work.read.load()), files(work.total)));
            dialog.setPosition(work.read.load(), work.total);
        },
        &m_longestGap);
    return !m_stop;
}

std::int64_t CleanupActions::applyMarks(const MarkWork& work)
{
    std::int64_t undecided = 0;
    m_list.beginMarking();
    for (const auto& [row, reason] : work.leftOut) {
        m_list.setMarked(row, false);
    }
    Turns turn;
    for (std::size_t g = 0; g < work.plan.groups.size(); ++g) {
        turn();
        const cleanup::PlanGroup& group = work.plan.groups[g];
        if (!group.note.empty()) {
            ++undecided;  // the rule chose no file here: the user's marks stand
            continue;
        }
        for (std::size_t i = 0; i < group.files.size(); ++i) {
            m_list.setMarked(work.rows[g][i], group.files[i].role == cleanup::Role::Mark);
        }
    }
    m_list.endMarking();
    return undecided;
}

void CleanupActions::tellMarkNotes(const cleanup::KeepRule& rule, std::int64_t undecided,
                                   const MarkWork& work)
{
    QString notes;
    if (undecided > 0) {
        const QString why = rule.kind == cleanup::KeepRule::InFolder
                                ? tr("no file lies in %1").arg(display(rule.values.front()))
                            : rule.kind == cleanup::KeepRule::NotInFolder
                                ? tr("every file lies in %1").arg(display(rule.values.front()))
                                : tr("no file's name matches");
        notes += tr("In %1 %2, so their marks are as they were.").arg(groups(undecided), why);
    }
    if (!work.leftOut.empty()) {
        std::vector<std::pair<std::string, std::string>> reasons;
        for (const auto& [row, reason] : work.leftOut) {
            reasons.emplace_back(m_list.captionOf(row), reason);
        }
        if (!notes.isEmpty()) {
            notes += "\n\n";
        }
        notes += tr("%1 could not be read as they were listed and are not marked:")
                     .arg(files(static_cast<std::int64_t>(reasons.size()))) +
                 reasonLines(reasons);
    }
    if (!notes.isEmpty()) {
        message(notes);
    }
}

void CleanupActions::markSelected(bool mark)
{
    m_list.beginMarking();
    for (const int row : m_list.selectedFileRows()) {
        m_list.setMarked(row, mark);
    }
    m_list.endMarking();
}

void CleanupActions::unmarkAll()
{
    m_list.beginMarking();
    for (int row = 0; row < m_list.rowCount(); ++row) {
        m_list.setMarked(row, false);
    }
    m_list.endMarking();
}

void CleanupActions::invertMarksInGroups()
{
    std::vector<int> headers;
    for (const QModelIndex& index : m_list.selectionModel()->selectedRows()) {
        const int header = m_list.groupAround(index.row()).header;
        if (header >= 0) {
            headers.push_back(header);
        }
    }
    if (headers.empty() && m_list.currentIndex().isValid()) {
        headers.push_back(m_list.groupAround(m_list.currentIndex().row()).header);
    }
    std::sort(headers.begin(), headers.end());
    headers.erase(std::unique(headers.begin(), headers.end()), headers.end());
    m_list.beginMarking();
    for (const int header : headers) {
        const views::TFileListView::Group group = m_list.groupAround(header);
        for (int row = group.first; header >= 0 && row < group.end; ++row) {
            m_list.setMarked(row, !m_list.isMarked(row));
        }
    }
    m_list.endMarking();
}

void CleanupActions::openContainingFolder(int row)
{
    if (row < 0 || row >= m_list.rowCount() || m_list.kindOf(row) != views::RowKind::File) {
        return;
    }
    const std::string folder(platform::folderOf(m_list.captionOf(row)));
    QString reason;
    if (!m_opener.open(folder, reason)) {
        message(tr("The folder could not be opened:\n%1\n\n%2").arg(display(folder), reason), true);
    }
}

void CleanupActions::copyPaths(int row)
{
    std::vector<int> rows = m_list.selectedFileRows();
    if (rows.empty() && row >= 0 && m_list.kindOf(row) == views::RowKind::File) {
        rows.push_back(row);
    }
    if (rows.empty()) {
        return;
    }
    // The text as shown; the link list carries the exact bytes for programs
    // that take files, so a name that is not UTF-8 survives.
    QString text;
    QList<QUrl> urls;
    for (const int file : rows) {
        const std::string path = m_list.captionOf(file);
        text += (text.isEmpty() ? "" : "\n") + display(path);
        urls.append(
            QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/")));
    }
    auto* data = new QMimeData;
    data->setText(text);
    data->setUrls(urls);
    QApplication::clipboard()->setMimeData(data);
}

void CleanupActions::review(int row)
{
    if (row < 0 || row >= m_list.rowCount() || m_list.kindOf(row) != views::RowKind::File) {
        return;
    }
    if (m_list.firstSelected() != row) {
        m_list.clearSelection();
        m_list.setRowSelected(row, true);
    }
    m_handlers.FileListView1DblClick();
}

}  // namespace app
