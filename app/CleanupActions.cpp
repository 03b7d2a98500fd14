#include "app/CleanupActions.h"

#include <algorithm>
#include <mutex>
#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include "app/CleanupDialogs.h"
#include "app/ResultListHandlers.h"
#include "cleanup/Journal.h"
#include "platform/CommaText.h"
#include "platform/FolderListing.h"
#include "platform/Locale.h"
#include "platform/Text.h"
#include "views/FileList.h"

namespace app {

namespace {

const char kReviewHint[] = "Double-click a file to review";
// How many reasons a message lists before it counts the rest.
constexpr std::size_t kReasonsShown = 5;

QString display(std::string_view bytes)
{
    return QString::fromStdString(platform::displayName(bytes));
}

QString count(std::int64_t value)
{
    return QString::fromStdString(
        platform::formatCount(value, views::TFileListView::processLocale()));
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
                 platform::formatDecimal(rounded, 1, views::TFileListView::processLocale())),
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
        QObject::tr("%1 (%2) in %3").arg(files(marked), app::size(total), groups(groupCount));
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
            .arg(display(platform::formatCommaText(rule.values)));
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

// Gives the event loop a turn now and then while the main thread works
// through a long list, so that a million rows do not freeze the window.
// User input waits meanwhile: no other command runs inside this one.
class Turns {
public:
    Turns() { m_since.start(); }
    void operator()()
    {
        if (m_since.elapsed() >= kTurnMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            m_since.restart();
        }
    }

private:
    static constexpr int kTurnMs = 20;
    QElapsedTimer m_since;
};

// Lets a long vector go an item at a time between turns of the loop: the
// paths of a million rows take longer to free than a turn may wait.
template <typename T> void releaseSlowly(std::vector<T>& items, Turns& turn)
{
    while (!items.empty()) {
        items.pop_back();
        turn();
    }
}

// A local time as the journal writes it, as a person reads it.
QString whenText(const std::string& journalTime)
{
    std::string text = journalTime;
    std::replace(text.begin(), text.end(), 'T', ' ');
    return QString::fromStdString(text);
}

}  // namespace

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

std::string CleanupActions::rootOf(const std::string& path) const
{
    std::string best;
    for (const std::string& root : roots) {
        if (root.size() > best.size() && path.size() > root.size() &&
            path.compare(0, root.size(), root) == 0) {
            best = root;
        }
    }
    return best;
}

cleanup::FileFacts CleanupActions::factsOf(int row) const
{
    cleanup::FileFacts facts;
    facts.path = m_list.captionOf(row);
    facts.root = rootOf(facts.path);
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
    const std::pair<QString, cleanup::KeepRule::Kind> kinds[] = {
        {tr("Keep the &oldest"), cleanup::KeepRule::Oldest},
        {tr("Keep the &newest"), cleanup::KeepRule::Newest},
        {tr("Keep the &shortest path"), cleanup::KeepRule::Shortest},
        {tr("Keep the &longest path"), cleanup::KeepRule::Longest},
        {tr("Keep the one in the fe&west folders"), cleanup::KeepRule::Shallowest},
        {tr("Keep the one in the most fol&ders"), cleanup::KeepRule::Deepest},
        {tr("Keep the &first listed"), cleanup::KeepRule::First},
        {tr("Keep the one &in a folder..."), cleanup::KeepRule::InFolder},
        {tr("Keep the one no&t in a folder..."), cleanup::KeepRule::NotInFolder},
        {tr("Keep the one whose name &matches..."), cleanup::KeepRule::NameMatches},
    };
    for (const auto& [text, kind] : kinds) {
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

void CleanupActions::markByRuleAsking(cleanup::KeepRule::Kind kind)
{
    cleanup::KeepRule rule;
    rule.kind = kind;
    if (kind == cleanup::KeepRule::InFolder || kind == cleanup::KeepRule::NotInFolder) {
        const int row = m_list.firstSelected();
        const std::string start = row >= 0 && m_list.kindOf(row) == views::RowKind::File
                                      ? std::string(platform::folderOf(m_list.captionOf(row)))
                                      : (roots.empty() ? std::string("/") : roots.front());
        std::string folder;
        if (!chooseFolder(kind == cleanup::KeepRule::InFolder
                              ? tr("Gemmora - keep the file in this folder")
                              : tr("Gemmora - keep the file outside this folder"),
                          start, folder)) {
            return;
        }
        rule.values = cleanup::folderForms(folder, "/");
    } else if (kind == cleanup::KeepRule::NameMatches) {
        QInputDialog dialog(m_window);
        dialog.setWindowTitle(tr("Gemmora - keep the file whose name matches"));
        dialog.setLabelText(tr("&Masks of the name to keep, such as *.jpg or \"IMG_*.*\" "
                               "(several separated by commas):"));
        dialog.setInputMode(QInputDialog::TextInput);
        if (dialog.exec() != QDialog::Accepted) {
            return;
        }
        for (std::string& mask : platform::parseCommaText(dialog.textValue().toStdString())) {
            if (!mask.empty()) {
                rule.values.push_back(std::move(mask));
            }
        }
        if (rule.values.empty()) {
            return;
        }
    }
    markByRule(rule);
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

bool CleanupActions::mark(const cleanup::KeepRule& rule)
{
    const std::uint64_t generation = m_list.rows().generation();
    std::vector<ListedGroup> listed = listedGroups(false);
    struct Work {
        std::vector<cleanup::InputGroup> groups;
        std::vector<std::vector<int>> rows;  // the rows of the files still in `groups`
        std::vector<std::pair<int, std::string>> leftOut;
        cleanup::Plan plan;
        std::atomic<std::int64_t> read{0};
        std::int64_t total = 0;
    } work;
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
            for (std::size_t g = 0; g < work.groups.size() && !m_stop; ++g) {
                cleanup::InputGroup present;
                std::vector<int> rows;
                for (std::size_t i = 0; i < work.groups[g].size(); ++i) {
                    cleanup::FileFacts& file = work.groups[g][i];
                    const std::int64_t listed = file.size;
                    std::string error;
                    if (!cleanup::readFacts(file, error)) {
                        work.leftOut.emplace_back(work.rows[g][i], error);
                    } else if (listed >= 0 && file.size != listed) {
                        work.leftOut.emplace_back(work.rows[g][i],
                                                  "its size changed since the search");
                    } else {
                        present.push_back(std::move(file));
                        rows.push_back(work.rows[g][i]);
                    }
                    ++work.read;
                }
                work.groups[g] = std::move(present);
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
    if (m_stop) {
        return false;
    }
    if (m_list.rows().generation() != generation) {
        message(tr("The list changed while the files were read, so nothing was marked."), true);
        return false;
    }

    std::int64_t undecided = 0;
    m_list.beginMarking();
    for (const auto& [row, reason] : work.leftOut) {
        m_list.setMarked(row, false);
    }
    Turns turnApplying;
    for (std::size_t g = 0; g < work.plan.groups.size(); ++g) {
        turnApplying();
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
    Turns turnAfter;
    releaseSlowly(listed, turnAfter);
    releaseSlowly(work.rows, turnAfter);
    releaseSlowly(work.plan.groups, turnAfter);
    return true;
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
    if (action.kind == cleanup::ActionKind::Move) {
        struct stat st = {};
        if (::stat(action.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            message(
                tr("There is no folder to move the files into at\n%1").arg(display(action.folder)),
                true);
            return;
        }
    }
    std::vector<ListedGroup> listed = listedGroups(true);
    cleanup::Plan plan;
    std::vector<std::size_t> whole;  // groups whose every file is marked
    Turns turn;
    for (const ListedGroup& group : listed) {
        turn();
        cleanup::PlanGroup planned;
        bool keeps = false;
        for (const int row : group.rows) {
            const bool marked = m_list.isMarked(row);
            keeps = keeps || !marked;
            planned.files.push_back(
                {factsOf(row), marked ? cleanup::Role::Mark : cleanup::Role::Keep});
        }
        if (!keeps) {
            whole.push_back(plan.groups.size());
        }
        plan.groups.push_back(std::move(planned));
    }
    if (!whole.empty()) {
        // The engine never takes the last copy: such a group either keeps one
        // file after all, or is left alone.
        const bool keepOne = ask(
            m_window, cleanupTitle(),
            whole.size() == 1
                ? tr("Every file of 1 group is marked, so acting on it would keep no copy of its "
                     "contents.\n\nYes: keep the first file of the group by path order, and act "
                     "on the others.\nNo: leave the group as it is.")
                : tr("Every file of %1 groups is marked, so acting on them would keep no copy of "
                     "their contents.\n\nYes: keep the first file of each of these groups by "
                     "path order, and act on the others.\nNo: leave these groups as they are.")
                      .arg(count(static_cast<std::int64_t>(whole.size()))),
            true);
        std::vector<bool> leave(plan.groups.size(), false);
        for (const std::size_t g : whole) {
            std::vector<cleanup::PlanFile>& files = plan.groups[g].files;
            if (keepOne) {
                const auto first = std::min_element(
                    files.begin(), files.end(),
                    [](const cleanup::PlanFile& a, const cleanup::PlanFile& b) {
                        return platform::compareOrder(a.file.path, b.file.path) < 0;
                    });
                first->role = cleanup::Role::Keep;
            } else {
                leave[g] = true;
            }
        }
        std::size_t kept = 0;
        for (std::size_t g = 0; g < plan.groups.size(); ++g) {
            if (leave[g]) {
                continue;
            }
            if (kept != g) {
                plan.groups[kept] = std::move(plan.groups[g]);
                listed[kept] = std::move(listed[g]);
            }
            ++kept;
        }
        plan.groups.resize(kept);
        listed.resize(kept);
    }
    const std::int64_t marked = plan.markedCount();
    if (marked == 0) {
        return;
    }
    // Checked on the helper thread: a set of every path of a long list takes
    // longer than a turn of the loop may.
    std::string error;
    bool sound = false;
    {
        TfrmCleanupProgress checking(m_window);
        checking.lblAction->setText(tr("Checking the marked files"));
        checking.lblBytes->hide();
        runOnHelper(
            checking, [&] { sound = cleanup::checkPlan(plan, error); }, m_stop, [] {});
    }
    if (!sound) {
        message(tr("The marked files cannot be acted on, so nothing was changed:\n\n%1")
                    .arg(QString::fromStdString(error)),
                true);
        return;
    }
    QString text = question(action, marked, plan.bytesToReclaim(),
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
    if (!ask(m_window, cleanupTitle(), text, careful)) {
        return;
    }

    cleanup::Journal journal;
    const std::string journalPath = cleanup::newJournalPath(journalFolder);
    if (!platform::makeFolders(journalFolder, 0700) || !journal.open(journalPath, error)) {
        message(
            tr("The journal of the cleanup cannot be written, so nothing was changed:\n%1\n\n%2")
                .arg(display(journalPath), QString::fromStdString(error)),
            true);
        return;
    }

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
    const std::uint64_t generation = m_list.rows().generation();
    m_stop = false;
    TfrmCleanupProgress dialog(m_window);
    dialog.lblAction->setText(doing(action));
    cleanup::Report report;
    runOnHelper(
        dialog,
        [&] {
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
    m_lastReport = std::move(report);
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
    const std::int64_t done = report.count(cleanup::Outcome::Done);
    const std::int64_t untouched = report.count(cleanup::Outcome::Untouched);
    const std::int64_t notReached = report.count(cleanup::Outcome::NotReached);
    QString summary = tr("%1 of %2 were %3, giving back %4.")
                          .arg(count(done), files(plan.markedCount()), doneWords(action),
                               size(report.bytesReclaimed()));
    if (untouched > 0) {
        summary +=
            "\n" + (untouched == 1 ? tr("1 file was left untouched, for the reason below; it stays "
                                        "marked.")
                                   : tr("%1 files were left untouched, each for the reason below; "
                                        "they stay marked.")
                                         .arg(count(untouched)));
    }
    if (report.stopped && notReached > 0) {
        summary +=
            "\n" + (notReached == 1 ? tr("The run was stopped: 1 file was not reached and stays "
                                         "marked.")
                                    : tr("The run was stopped: %1 files were not reached and stay "
                                         "marked.")
                                          .arg(count(notReached)));
    }
    if (!report.journalError.empty()) {
        summary += "\n" + tr("The run ended there, since its journal could not be written: %1")
                              .arg(QString::fromStdString(report.journalError));
    }
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
        details += (details.isEmpty() ? "" : "\n") + tr("Done, with a remark:") + "\n" + remarks;
    }
    QString journalText = tr("Journal: %1").arg(display(journal));
    if (action.kind == cleanup::ActionKind::Trash || action.kind == cleanup::ActionKind::Move) {
        journalText += "\n" + tr("\"Undo last cleanup\" in the list's menu (Ctrl+Z) puts these "
                                 "files back.");
    }
    TfrmCleanupReport dialog(m_window);
    dialog.setReport(cleanupTitle(), summary, tr("&Left untouched:"), details, journalText);
    dialog.exec();
}

std::string CleanupActions::journalToUndo() const
{
    if (!m_lastJournal.empty() && platform::fileExists(m_lastJournal)) {
        return m_lastJournal;
    }
    return journalFolder.empty() ? std::string() : cleanup::latestJournal(journalFolder);
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
    cleanup::JournalSummary summary;
    std::string error;
    if (journal.empty()) {
        message(tr("There is no cleanup to undo."));
        return;
    }
    // A journal of a large run is read on the helper thread too.
    bool summed = false;
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
        return;
    }
    const std::int64_t back = report.count(cleanup::UndoItem::PutBack);
    const std::int64_t already = report.count(cleanup::UndoItem::AlreadyBack);
    const std::int64_t missed = report.count(cleanup::UndoItem::NotPutBack);
    const std::int64_t cannot = report.count(cleanup::UndoItem::CannotUndo);
    QString text = tr("%1 put back.").arg(filesWere(back));
    if (back > 0) {
        text += " " + tr("They are not in the list: search again to see them there.");
    }
    if (already > 0) {
        text += "\n" + (already == 1
                            ? tr("1 file was in its place already.")
                            : tr("%1 files were in their places already.").arg(count(already)));
    }
    if (missed > 0) {
        text += "\n" + (missed == 1 ? tr("1 file could not be put back, for the reason below.")
                                    : tr("%1 files could not be put back, each for the reason "
                                         "below.")
                                          .arg(count(missed)));
    }
    if (cannot > 0) {
        text += "\n" + tr("%1 cannot be put back: deleted for good, or replaced by a link.")
                           .arg(files(cannot));
    }
    if (report.stopped) {
        text += "\n" + tr("The undo was stopped before its end; \"Undo last cleanup\" again goes "
                          "on where it stopped.");
    }
    QString details;
    for (const cleanup::UndoItem& item : report.items) {
        if (item.status == cleanup::UndoItem::NotPutBack ||
            item.status == cleanup::UndoItem::CannotUndo) {
            details += display(item.path) + "\n    " + QString::fromStdString(item.detail) + "\n";
        }
    }
    TfrmCleanupReport reportDialog(m_window);
    reportDialog.setReport(title, text, tr("&Not put back:"), details,
                           tr("Journal: %1").arg(display(journal)));
    reportDialog.exec();
}

}  // namespace app
