// Shows the folders that are copies in place of the file rows, and what a folder row does.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FolderView.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <string_view>
#include <thread>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include "app/CleanupActions.h"
#include "app/CleanupDialogs.h"
#include "app/CleanupTexts.h"
#include "app/FolderCleanup.h"
#include "app/ListFilter.h"
#include "cleanup/FolderPlan.h"
#include "platform/HelperThread.h"
#include "review/FileOpener.h"
#include "text/Text.h"
#include "views/FileList.h"
#include "views/FolderListModel.h"

namespace app {

namespace {

using views::FolderListModel;

QString display(const std::string& path)
{
    return QString::fromStdString(text::displayName(path));
}

// How many of the sorted paths lie below `folder` ("/a/b/").
std::int64_t filesBelow(const std::vector<std::string_view>& sorted, const std::string& folder)
{
    const auto first = std::lower_bound(sorted.begin(), sorted.end(), std::string_view(folder));
    auto end = first;
    while (end != sorted.end() && end->substr(0, folder.size()) == folder) {
        ++end;
    }
    return end - first;
}

bool isBelow(std::string_view path, std::string_view folder)
{
    return path.substr(0, folder.size()) == folder;
}

// One holder a folder, most files first.
void mergeHolders(std::vector<folders::Holder>& holders)
{
    std::vector<folders::Holder> merged;
    for (folders::Holder& h : holders) {
        const auto same =
            std::find_if(merged.begin(), merged.end(),
                         [&h](const folders::Holder& m) { return m.folder == h.folder; });
        if (same != merged.end()) {
            same->files += h.files;
        } else {
            merged.push_back(std::move(h));
        }
    }
    std::stable_sort(
        merged.begin(), merged.end(),
        [](const folders::Holder& a, const folders::Holder& b) { return a.files > b.files; });
    holders = std::move(merged);
}

// The folders of a result whose files are watched, in one fixed order: each
// identical folder, then each contained folder followed by its holders.
template <typename Visit>
void eachWatched(const folders::FolderResult& result, Visit&& visit)
{
    for (const auto* groups : {&result.sameLayout, &result.anyLayout}) {
        for (const folders::IdenticalGroup& group : *groups) {
            for (const folders::FolderFacts& f : group.folders) {
                visit(f.path);
            }
        }
    }
    for (const auto* list : {&result.contained, &result.nearlyContained}) {
        for (const folders::ContainedFolder& c : *list) {
            visit(c.folder.path);
            for (const folders::Holder& h : c.holders) {
                visit(h.folder);
            }
        }
    }
}

// A folder's name loses its middle when narrow, so its last part stays in
// sight; the list of where the copies are loses its end, so no two of its
// items run together.
class ElideDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode =
            index.column() == FolderListModel::Name ? Qt::ElideMiddle : Qt::ElideRight;
    }
};

}  // namespace

FolderView::FolderView(scanner::TTreeScanner& scanner, views::TFileListView& files,
                       ListFilter& filter, QMenu& viewMenu, CleanupActions& fileCleanup,
                       QWidget* window)
    : QObject(window), lstFolders(new QTableView(window)), model(new FolderListModel(this)),
      tabView(new QTabBar(window)), folderCleanup(new FolderCleanup(window)), m_scanner(scanner),
      m_files(files), m_filter(filter), m_fileCleanup(fileCleanup), m_window(window),
      m_opener(new review::FileOpener(this))
{
    lstFolders->setModel(model);
    lstFolders->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstFolders->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstFolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstFolders->setShowGrid(false);
    lstFolders->setWordWrap(false);
    lstFolders->setItemDelegate(new ElideDelegate(lstFolders));
    lstFolders->verticalHeader()->hide();
    lstFolders->verticalHeader()->setDefaultSectionSize(files.verticalHeader()->defaultSectionSize());
    lstFolders->horizontalHeader()->setHighlightSections(false);
    lstFolders->horizontalHeader()->setStretchLastSection(true);
    lstFolders->setContextMenuPolicy(Qt::CustomContextMenu);
    lstFolders->setAccessibleName(tr("Folders"));
    lstFolders->setAccessibleDescription(
        tr("Identical folders, and folders whose every file has a copy elsewhere. Enter or a "
           "double-click shows the folder's files; Space marks the selected folders."));
    lstFolders->hide();
    lstFolders->installEventFilter(this);
    auto* empty = new QLabel(lstFolders->viewport());
    empty->setObjectName(QStringLiteral("emptyText"));
    empty->setAlignment(Qt::AlignCenter);
    empty->setWordWrap(true);
    empty->setEnabled(false);
    lstFolders->viewport()->installEventFilter(this);
    connect(lstFolders, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { openFolder(index.row()); });
    connect(lstFolders, &QWidget::customContextMenuRequested, this, &FolderView::showMenu);
    connect(model, &FolderListModel::marksChanged, this, &FolderView::marksChanged);
    connect(model, &QAbstractItemModel::modelReset, this, [this, empty] {
        empty->setText(emptyText());
        empty->setVisible(model->rowCount() == 0);
        fitRows();
    });

    tabView->setShape(QTabBar::RoundedSouth);
    tabView->setDocumentMode(true);
    tabView->setDrawBase(false);
    tabView->setExpanding(false);
    tabView->setFocusPolicy(Qt::NoFocus);
    // Low enough for the row of the version line.
    tabView->setStyleSheet(QStringLiteral(
        "QTabBar::tab { padding: 0px 12px 1px 12px; margin-right: 2px;"
        " border: 1px solid palette(mid); border-top: none; background: palette(button); }"
        "QTabBar::tab:selected { background: palette(base); }"));
    tabView->addTab(tr("Files"));
    tabView->addTab(tr("Folders"));
    tabView->setTabToolTip(0, tr("The groups of identical files (Ctrl+1)"));
    tabView->setTabToolTip(1, tr("Identical folders, and folders whose every file has a copy "
                                 "elsewhere (Ctrl+2)"));
    tabView->setAccessibleName(tr("Show files or folders"));
    connect(tabView, &QTabBar::currentChanged, this, [this](int tab) {
        if (tab == 1) {
            showFolders();
        } else {
            showFiles();
        }
    });

    auto* group = new QActionGroup(this);
    viewMenu.addSeparator();
    actShowFiles = viewMenu.addAction(tr("Show f&iles"));
    actShowFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    actShowFolders = viewMenu.addAction(tr("Show f&olders"));
    actShowFolders->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    for (QAction* action : {actShowFiles, actShowFolders}) {
        action->setCheckable(true);
        group->addAction(action);
        window->addAction(action);  // the key works wherever the focus is
    }
    actShowFiles->setChecked(true);
    connect(actShowFiles, &QAction::triggered, this, &FolderView::showFiles);
    connect(actShowFolders, &QAction::triggered, this, &FolderView::showFolders);
    model->clear();
}

// The window's walk never runs past the window, and this goes with the
// window after its scanner: nothing is left to unchain.
FolderView::~FolderView() = default;

void FolderView::searchStarts()
{
    showFiles();
    if (m_following) {
        m_scanner.OnDirectoryFound = m_savedFound;
        m_scanner.OnFolderError = m_savedError;
    }
    m_savedFound = m_scanner.OnDirectoryFound;
    m_savedError = m_scanner.OnFolderError;
    m_finder = std::make_unique<folders::FolderFinder>();
    m_finder->follow(m_scanner);
    m_following = true;
    m_found = false;
    m_contentsCompared = false;
    m_result = {};
    model->clear();
    // Until the search ends its groups are not whole.
    tabView->setEnabled(false);
    actShowFolders->setEnabled(false);
}

void FolderView::searchEnded(bool contentsCompared)
{
    if (m_following) {
        m_scanner.OnDirectoryFound = m_savedFound;
        m_scanner.OnFolderError = m_savedError;
        m_following = false;
    }
    m_contentsCompared = contentsCompared;
    tabView->setEnabled(true);
    actShowFolders->setEnabled(true);
    model->clear();
}

void FolderView::forget()
{
    showFiles();
    m_finder.reset();
    m_found = false;
    m_contentsCompared = false;
    m_result = {};
    model->clear();
}

void FolderView::place(int bottom)
{
    lstFolders->setGeometry(m_files.geometry());
    // Under the list, in the row of the version line, above the status bar.
    const int top = m_files.geometry().bottom() + 1;
    tabView->setGeometry(m_files.x(), top, tabView->sizeHint().width(),
                         std::min(tabView->sizeHint().height(), bottom - top));
}

void FolderView::fitRows()
{
    lstFolders->clearSpans();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->kind(row) != FolderListModel::RowKind::Folder) {
            lstFolders->setSpan(row, 0, 1, FolderListModel::kColumnCount);
        }
    }
    // The counts fit; the folder and what else it holds take their share,
    // and where the copies are has the rest.
    const int room = std::max(200, lstFolders->viewport()->width());
    for (const int column : {FolderListModel::Name, FolderListModel::Files,
                             FolderListModel::Bytes, FolderListModel::Also}) {
        const int cap = column == FolderListModel::Name   ? room * 2 / 5
                        : column == FolderListModel::Also ? room * 3 / 10
                                                          : room;
        lstFolders->resizeColumnToContents(column);
        lstFolders->setColumnWidth(column, std::min(cap, lstFolders->columnWidth(column)));
    }
}

void FolderView::setShown(bool folders)
{
    const bool focused = m_files.hasFocus() || lstFolders->hasFocus();
    m_folders = folders;
    lstFolders->setVisible(folders);
    m_files.setVisible(!folders);
    tabView->blockSignals(true);
    tabView->setCurrentIndex(folders ? 1 : 0);
    tabView->blockSignals(false);
    (folders ? actShowFolders : actShowFiles)->setChecked(true);
    if (focused) {
        (folders ? static_cast<QWidget*>(lstFolders) : &m_files)->setFocus();
    }
    emit viewChanged(folders);
}

void FolderView::showFiles()
{
    if (m_folders) {
        setShown(false);
    }
}

void FolderView::showFolders()
{
    if (!tabView->isEnabled()) {
        setShown(m_folders);  // a search is running: the tab stays where it is
        return;
    }
    if (m_finder && m_contentsCompared && !m_found) {
        findFolders();
    } else if (m_found && m_files.rows().generation() != m_generation) {
        dropTouched();
    }
    if (!m_folders) {
        setShown(true);
        fitRows();  // measured now that the list has its width
    }
}

std::vector<std::vector<std::string>> FolderView::fileClasses() const
{
    std::vector<std::vector<std::string>> classes;
    const views::FileListModel& rows = m_files.rows();
    for (int row = 0; row < rows.size();) {
        if (rows.kind(row) != views::RowKind::Header) {
            ++row;
            continue;
        }
        std::vector<std::string> paths;
        const int first = row + 1;
        for (row = first; row < rows.size() && rows.kind(row) == views::RowKind::File; ++row) {
            paths.emplace_back(rows.caption(row));
        }
        // Empty files are no content: their class would say nothing.
        if (paths.size() >= 2 && rows.sizeOf(first) > 0) {
            classes.push_back(std::move(paths));
        }
    }
    return classes;
}

void FolderView::findFolders()
{
    std::vector<std::vector<std::string>> classes = fileClasses();
    std::unique_ptr<folders::FolderFinder> finder = std::move(m_finder);
    folders::FolderResult result;
    std::atomic<bool> done{false};
    bool outOfMemory = false;
    // The finder checks each class's first file: no file I/O on this thread.
    std::thread worker = platform::startHelperThread([&] {
        try {
            for (const std::vector<std::string>& paths : classes) {
                finder->addClass(paths);
            }
            result = finder->find();
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
        done = true;
    });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop wait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &wait, [&] {
        if (done) {
            wait.quit();
        }
    });
    poll.start(10);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    QApplication::restoreOverrideCursor();
    // Kept: a cleanup of folders plans from the finder and its result.
    m_finder = std::move(finder);
    m_found = true;
    m_result = outOfMemory ? folders::FolderResult() : std::move(result);
    m_generation = m_files.rows().generation();
    m_counts = watchedCounts();
    model->setResult(m_result);
    if (outOfMemory) {
        QMessageBox::warning(m_window, tr("Gemmora"),
                             tr("There was not memory enough to find the folders."));
    }
}

std::vector<std::int64_t> FolderView::watchedCounts() const
{
    const views::FileListModel& rows = m_files.rows();
    std::vector<std::string_view> paths;
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.kind(row) == views::RowKind::File) {
            paths.push_back(rows.caption(row));
        }
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::int64_t> counts;
    eachWatched(m_result, [&](const std::string& folder) {
        counts.push_back(filesBelow(paths, folder));
    });
    return counts;
}

void FolderView::dropTouched(const std::vector<GoneFolder>& gone)
{
    const std::vector<std::int64_t> now = watchedCounts();
    std::size_t at = 0;
    // Whether the next watched folder kept all its file rows.
    const auto sameRows = [&] {
        const bool same = now[at] == m_counts[at];
        ++at;
        return same;
    };
    // Whether no folder that went is, holds or lies above `folder`.
    const auto clearOf = [&gone](const std::string& folder) {
        return std::none_of(gone.begin(), gone.end(), [&folder](const GoneFolder& g) {
            return isBelow(folder, g.path) || isBelow(g.path, folder);
        });
    };
    folders::FolderResult kept;
    for (auto [from, to] : {std::pair{&m_result.sameLayout, &kept.sameLayout},
                            std::pair{&m_result.anyLayout, &kept.anyLayout}}) {
        for (folders::IdenticalGroup& group : *from) {
            folders::IdenticalGroup left;
            for (folders::FolderFacts& f : group.folders) {
                if (sameRows() && clearOf(f.path)) {
                    left.folders.push_back(std::move(f));
                }
            }
            if (left.folders.size() >= 2) {
                to->push_back(std::move(left));
            }
        }
    }
    for (auto [from, to] : {std::pair{&m_result.contained, &kept.contained},
                            std::pair{&m_result.nearlyContained, &kept.nearlyContained}}) {
        for (folders::ContainedFolder& c : *from) {
            const bool stays = sameRows() && clearOf(c.folder.path);
            bool check = false;
            for (folders::Holder& h : c.holders) {
                const bool same = sameRows();
                const auto went = std::find_if(gone.begin(), gone.end(), [&h](const GoneFolder& g) {
                    return g.path == h.folder && !g.keptFolder.empty();
                });
                if (went != gone.end()) {
                    h.folder = went->keptFolder;  // its equal holds the same copies
                }
                check = check || went != gone.end() || !same || !clearOf(h.folder);
            }
            mergeHolders(c.holders);
            if (stays && (!check || copiesStand(c))) {
                to->push_back(std::move(c));
            }
        }
    }
    m_result = std::move(kept);
    m_generation = m_files.rows().generation();
    m_counts = watchedCounts();
    model->setResult(m_result);
}

bool FolderView::copiesStand(const folders::ContainedFolder& c) const
{
    const views::FileListModel& rows = m_files.rows();
    std::int64_t covered = 0;
    std::vector<std::int64_t> inHolder(c.holders.size(), 0);
    std::vector<char> held(c.holders.size(), 0);
    for (int row = 0; row < rows.size();) {
        if (rows.kind(row) != views::RowKind::Header) {
            ++row;
            continue;
        }
        std::int64_t inside = 0;
        bool outside = false;
        std::fill(held.begin(), held.end(), 0);
        for (++row; row < rows.size() && rows.kind(row) == views::RowKind::File; ++row) {
            const std::string_view path = rows.caption(row);
            if (isBelow(path, c.folder.path)) {
                ++inside;
                continue;
            }
            outside = true;
            for (std::size_t i = 0; i < c.holders.size(); ++i) {
                held[i] = held[i] != 0 || isBelow(path, c.holders[i].folder) ? 1 : 0;
            }
        }
        if (inside > 0 && outside) {
            covered += inside;
            for (std::size_t i = 0; i < c.holders.size(); ++i) {
                inHolder[i] += held[i] != 0 ? inside : 0;
            }
        }
    }
    std::int64_t copied = 0;
    for (std::size_t i = 0; i < c.holders.size(); ++i) {
        if (inHolder[i] < c.holders[i].files) {
            return false;
        }
        copied += c.holders[i].files;
    }
    return covered >= copied;
}

void FolderView::actOnMarked(cleanup::ActionKind kind)
{
    std::vector<std::string> marked;
    for (const int row : model->markedRows()) {
        marked.push_back(model->path(row));
    }
    if (marked.empty() || !m_found || !m_finder || m_fileCleanup.busy()) {
        return;
    }
    folderCleanup->roots = m_fileCleanup.roots;
    folderCleanup->journalFolder = m_fileCleanup.journalFolder;
    const std::vector<GoneFolder> gone = folderCleanup->act(*m_finder, m_result, marked, kind);
    if (!gone.empty()) {
        removeFileRows(gone);
        dropTouched(gone);
    }
}

void FolderView::removeFileRows(const std::vector<GoneFolder>& gone)
{
    const auto below = [&gone](std::string_view path) {
        return std::any_of(gone.begin(), gone.end(),
                           [path](const GoneFolder& folder) { return isBelow(path, folder.path); });
    };
    const views::FileListModel& rows = m_files.rows();
    std::vector<int> out;
    for (int row = 0; row < rows.size();) {
        if (rows.kind(row) != views::RowKind::Header) {
            ++row;
            continue;
        }
        const int header = row;
        std::vector<int> left;
        for (row = header + 1; row < rows.size() && rows.kind(row) == views::RowKind::File;
             ++row) {
            (below(rows.caption(row)) ? out : left).push_back(row);
        }
        if (left.size() <= 1) {
            // The group goes whole: its header, what is left, and the
            // separator after it (or, for the last group, the one before).
            out.push_back(header);
            out.insert(out.end(), left.begin(), left.end());
            if (row < rows.size() && rows.kind(row) == views::RowKind::Separator) {
                out.push_back(row);
            } else if (header > 0 && rows.kind(header - 1) == views::RowKind::Separator) {
                out.push_back(header - 1);
            }
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    m_files.deleteRows(out);
}

void FolderView::openFolder(int row)
{
    if (row < 0 || row >= model->rowCount() ||
        model->kind(row) != FolderListModel::RowKind::Folder) {
        return;
    }
    const std::string folder = model->path(row);
    m_filter.showFolder(folder, true);
    setShown(false);
    m_files.setFocus();
    // The first of the folder's own files is the current row.
    for (int file = 0; file < m_files.rowCount(); ++file) {
        if (m_files.kindOf(file) == views::RowKind::File && m_files.isRowShown(file) &&
            m_files.captionOf(file).rfind(folder, 0) == 0) {
            m_files.setCurrentIndex(m_files.model()->index(file, 0));
            m_files.scrollTo(m_files.model()->index(file, 0));
            break;
        }
    }
}

std::vector<int> FolderView::selectedFolderRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : lstFolders->selectionModel()->selectedRows()) {
        if (model->kind(index.row()) == FolderListModel::RowKind::Folder) {
            rows.push_back(index.row());
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void FolderView::markSelected(bool mark)
{
    for (const int row : selectedFolderRows()) {
        model->setMarked(row, mark);
    }
}

void FolderView::unmarkAll()
{
    for (const int row : model->markedRows()) {
        model->setMarked(row, false);
    }
}

void FolderView::markByRuleAsking(cleanup::KeepRule::Kind kind)
{
    const int row = lstFolders->currentIndex().row();
    const std::string start = row >= 0 && row < model->rowCount() && !model->path(row).empty()
                                  ? model->path(row)
                              : m_fileCleanup.roots.empty() ? std::string("/")
                                                            : m_fileCleanup.roots.front();
    cleanup::KeepRule rule;
    if (m_fileCleanup.askRule(kind, start, true, rule)) {
        markByRule(rule);
    }
}

bool FolderView::markByRule(const cleanup::KeepRule& rule)
{
    if (!m_found || model->rowCount() == 0 || folderCleanup->busy() || m_fileCleanup.busy()) {
        return false;
    }
    // The groups in the order of their rows.
    std::vector<const folders::IdenticalGroup*> groups;
    for (const auto* list : {&m_result.sameLayout, &m_result.anyLayout}) {
        for (const folders::IdenticalGroup& group : *list) {
            groups.push_back(&group);
        }
    }
    std::vector<cleanup::KeptFolder> keep(groups.size());
    std::atomic<bool> stop{false};
    {
        // The rules read each folder's time: on the helper thread.
        TfrmCleanupProgress dialog(m_window);
        dialog.setWindowTitle(tr("Gemmora - mark folders"));
        dialog.lblAction->setText(
            tr("Reading the folders' dates to keep %1 of each group").arg(texts::ruleWords(rule)));
        dialog.lblBytes->hide();
        std::atomic<std::int64_t> done{0};
        const std::vector<cleanup::KeepRule> rules = {rule};
        const std::vector<std::string> roots = m_fileCleanup.roots;
        runOnHelper(
            dialog,
            [&] {
                for (std::size_t i = 0; i < groups.size() && !stop; ++i, ++done) {
                    keep[i] = cleanup::keptFolderOf(*groups[i], rules, roots);
                }
            },
            stop,
            [&] { dialog.setPosition(done.load(), static_cast<std::int64_t>(groups.size())); });
    }
    if (stop) {
        return false;
    }
    std::int64_t undecided = 0;
    std::size_t group = 0;
    std::vector<int> contained;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->kind(row) != FolderListModel::RowKind::Header) {
            continue;
        }
        const views::FolderKind why = model->folderKind(row);
        if (why == views::FolderKind::Contained) {
            contained = model->groupRows(row);
        } else if (why != views::FolderKind::Nearly && group < keep.size()) {
            const cleanup::KeptFolder& kept = keep[group++];
            undecided += kept.decided ? 0 : 1;
            for (const int folder : kept.decided ? model->groupRows(row) : std::vector<int>()) {
                model->setMarked(folder, model->path(folder) != kept.path);
            }
        }
    }
    // A contained folder that holds or lies in a marked one stays unmarked,
    // as the folder cleanup leaves it: its marked bytes would count twice.
    for (const int row : contained) {
        const std::string& path = model->path(row);
        const std::vector<int> marked = model->markedRows();
        model->setMarked(row, std::none_of(marked.begin(), marked.end(), [&](int other) {
                             return other != row && (isBelow(path, model->path(other)) ||
                                                     isBelow(model->path(other), path));
                         }));
    }
    if (undecided > 0) {
        const QString why =
            rule.kind == cleanup::KeepRule::InFolder
                ? tr("no folder is or lies in %1").arg(display(rule.values.front()))
            : rule.kind == cleanup::KeepRule::NotInFolder
                ? tr("every folder is or lies in %1").arg(display(rule.values.front()))
                : tr("no folder's name matches");
        QMessageBox::information(
            m_window, texts::cleanupTitle(),
            tr("In %1 of identical folders %2, so their marks are as they were.")
                .arg(texts::groups(undecided), why));
    }
    return true;
}

void FolderView::openInFileManager(int row)
{
    if (row < 0 || row >= model->rowCount() || model->path(row).empty()) {
        return;
    }
    QString reason;
    if (!m_opener->open(model->path(row), reason)) {
        QMessageBox::warning(m_window, tr("Gemmora"),
                             tr("The folder could not be opened:\n%1\n\n%2")
                                 .arg(display(model->path(row)), reason));
    }
}

void FolderView::copyPaths(int row)
{
    std::vector<int> rows = selectedFolderRows();
    if (rows.empty() && row >= 0 && row < model->rowCount() && !model->path(row).empty()) {
        rows.push_back(row);
    }
    if (rows.empty()) {
        return;
    }
    QString text;
    QList<QUrl> urls;
    for (const int folder : rows) {
        text += (text.isEmpty() ? "" : "\n") + display(model->path(folder));
        urls.append(QUrl::fromLocalFile(QString::fromLocal8Bit(model->path(folder))));
    }
    auto* data = new QMimeData;
    data->setText(text);
    data->setUrls(urls);
    QApplication::clipboard()->setMimeData(data);
}

QMenu* FolderView::buildMenu(int row, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool folderRow = row >= 0 && row < model->rowCount() &&
                           model->kind(row) == FolderListModel::RowKind::Folder;
    const bool selected = !selectedFolderRows().empty();
    const auto add = [menu](const QString& text, bool enabled, auto&& act) {
        QAction* action = menu->addAction(text);
        action->setEnabled(enabled);
        QObject::connect(action, &QAction::triggered, menu, act);
        return action;
    };
    QAction* open = add(tr("Show its &files"), folderRow, [this, row] { openFolder(row); });
    open->setShortcut(QKeySequence(Qt::Key_Return));
    menu->setDefaultAction(open);
    menu->addSeparator();
    QMenu* rules = menu->addMenu(tr("Mark all but one in each &group"));
    rules->setEnabled(m_found && model->rowCount() > 0 && !folderCleanup->busy() &&
                      !m_fileCleanup.busy());
    for (const auto& [text, kind] : texts::keepRuleChoices()) {
        QAction* action = rules->addAction(text);
        connect(action, &QAction::triggered, menu, [this, kind = kind] { markByRuleAsking(kind); });
    }
    add(tr("&Mark"), selected, [this] { markSelected(true); })
        ->setShortcut(QKeySequence(Qt::Key_Space));
    add(tr("U&nmark"), selected, [this] { markSelected(false); });
    add(tr("Unmark &all"), model->markedCount() > 0, [this] { unmarkAll(); });
    menu->addSeparator();
    const bool canAct = model->markedCount() > 0 && m_found && m_finder &&
                        !folderCleanup->busy() && !m_fileCleanup.busy();
    add(tr("&Trash marked folders"), canAct,
        [this] { actOnMarked(cleanup::ActionKind::Trash); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    add(tr("Mo&ve marked folders to a folder..."), canAct,
        [this] { actOnMarked(cleanup::ActionKind::Move); });
    add(tr("Undo last folder clean&up"), folderCleanup->canUndo(),
        [this] { folderCleanup->undoLast(); });
    menu->addSeparator();
    add(tr("Open in file mana&ger"), folderRow, [this, row] { openInFileManager(row); });
    add(tr("&Copy path"), folderRow || selected, [this, row] { copyPaths(row); });
    menu->addSeparator();
    menu->addAction(actShowFiles);
    return menu;
}

void FolderView::showMenu(const QPoint& at)
{
    const QModelIndex index = lstFolders->indexAt(at);
    const int row = index.isValid() ? index.row() : -1;
    if (row >= 0 && !lstFolders->selectionModel()->isRowSelected(row, QModelIndex())) {
        lstFolders->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QMenu* menu = buildMenu(row, lstFolders);
    menu->popup(lstFolders->viewport()->mapToGlobal(at));
}

QString FolderView::marksText() const
{
    if (model->markedCount() == 0) {
        return QString();
    }
    const QLocale locale;
    return (model->markedCount() == 1 ? tr("Marked: %1 folder, %2 bytes")
                                      : tr("Marked: %1 folders, %2 bytes"))
        .arg(locale.toString(static_cast<qlonglong>(model->markedCount())),
             locale.toString(static_cast<qlonglong>(model->markedBytes())));
}

QString FolderView::emptyText() const
{
    if (m_found) {
        return tr("No identical folders, and no folder whose every file has a copy elsewhere.");
    }
    if (m_finder && !m_contentsCompared) {
        return tr("Folders are found only by a search that compares contents "
                  "(\"Require same size\" on the Advanced page).");
    }
    return tr("Folders are found by a search: press Find Now, then show the folders.");
}

bool FolderView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstFolders->viewport() && event->type() == QEvent::Resize) {
        if (auto* empty = lstFolders->viewport()->findChild<QLabel*>(QStringLiteral("emptyText"))) {
            empty->setGeometry(lstFolders->viewport()->rect().adjusted(12, 12, -12, -12));
        }
    }
    if (watched == lstFolders && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int row = lstFolders->currentIndex().row();
        const bool folderRow =
            row >= 0 && model->kind(row) == FolderListModel::RowKind::Folder;
        // Elsewhere Enter goes on to the window, where it may press Find Now.
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && folderRow) {
            openFolder(row);
            return true;
        }
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::ControlModifier) {
            actOnMarked(cleanup::ActionKind::Trash);
            return true;
        }
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            const std::vector<int> rows = selectedFolderRows();
            const bool all = std::all_of(rows.begin(), rows.end(),
                                         [this](int row) { return model->isMarked(row); });
            markSelected(!all);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace app
