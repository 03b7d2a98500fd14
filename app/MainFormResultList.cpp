// The main window's result list: marks and cleanups, the sort, the filter, the menus, the panels beside the totals, and its keys and clicks.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

#include "app/MainForm.h"
#include "app/FolderView.h"
#include "app/MainFormCommon.h"

namespace app {

void TfrmMain::addCleanupAndMarks()
{
    cleanupActions = new CleanupActions(*FileListView1, handlers, this);
    cleanupActions->searching = [this] { return run.running(); };
    pnlMarks = StatusBar1->addPanel();
    pnlMarks->setAccessibleName(tr("Marked files"));
    connect(FileListView1, &views::TFileListView::marksChanged, this, [this] {
        pnlMarks->setText(cleanupActions->marksText());
        pnlMarks->setProperty("brief", cleanupActions->marksBrief());
        StatusBar1->layoutPanels();
    });
    connect(FileListView1, &views::TFileListView::menuRequested, cleanupActions,
            &CleanupActions::showMenu);
}

void TfrmMain::addListMenusAndFilter()
{
    groupSortMenu = new GroupSortMenu(*FileListView1, this);
    listFiles = new ListFiles(*FileListView1, this);
    listFiles->idle = [this] { return !run.running() && !cleanupActions->busy(); };
    listFiles->reload = [this](const std::string& path) {
        // An opened list stands alone: its totals and nothing else.
        run.comparison.DuplicateCount = 0;
        run.comparison.DuplicateBytes = 0;
        cleanupActions->roots.clear();
        folderView->forget();
        ReloadResultList(path);
    };
    mnuMain = new MainMenu(*groupSortMenu, *listFiles, *FileListView1, this);
    connect(mnuMain->mnuView, &QMenu::aboutToShow, this,
            [this] { groupSortMenu->setEnabled(!run.running()); });
    listFilter = new ListFilter(*FileListView1, this);
    connect(mnuMain->actFind, &QAction::triggered, this, [this] {
        listFilter->edtFilter->setFocus(Qt::ShortcutFocusReason);
        listFilter->edtFilter->selectAll();
    });
    cleanupActions->addToMenu = [this](QMenu& menu, int row) {
        groupSortMenu->setEnabled(!run.running());
        menu.addSeparator();
        menu.addMenu(groupSortMenu->menu());
        listFilter->addToMenu(menu, row);
    };
}

void TfrmMain::addStatusPanels()
{
    folderView = new FolderView(TreeScanner1, *FileListView1, *listFilter, *mnuMain->mnuView,
                                *cleanupActions, this);
    QLabel* pnlFolderMarks = StatusBar1->addPanel();
    pnlFolderMarks->setAccessibleName(tr("Marked folders"));
    connect(folderView, &FolderView::marksChanged, this, [this, pnlFolderMarks] {
        pnlFolderMarks->setText(folderView->marksText());
        StatusBar1->layoutPanels();
    });
    pnlShown = StatusBar1->addPanel();
    pnlShown->setAccessibleName(tr("Groups shown"));
    const auto showShown = [this] {
        pnlShown->setText(listFilter->shownText());
        StatusBar1->layoutPanels();
    };
    connect(listFilter, &ListFilter::shownChanged, this, showShown);
    connect(FileListView1, &views::TFileListView::marksChanged, this, showShown);
    pnlOrder = StatusBar1->addPanel();
    pnlOrder->setAccessibleName(tr("Order of the groups"));
    connect(FileListView1, &views::TFileListView::groupOrderChanged, this, [this] {
        pnlOrder->setText(GroupSortMenu::statusText(FileListView1->groupOrder()));
        StatusBar1->layoutPanels();
    });
    connect(FileListView1, &views::TFileListView::rowsDeleted, this, [this] {
        // Once for the rows a deletion or a cleanup took, after the last.
        if (!m_totalsPending) {
            m_totalsPending = true;
            QTimer::singleShot(0, this, &TfrmMain::showTotalsLeft);
        }
    });
    connect(cleanupActions, &CleanupActions::finished, this, [this] {
        if (m_closeRequested) {
            close();  // the close asked for during the cleanup
        }
    });
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FileListView1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && m_searchDefault) {
            btnSearch->click();
            return true;
        }
        if (cleanupActions->keyPress(key->key(), key->modifiers())) {
            return true;
        }
        handlers.FileListView1KeyDown(key->key(), key->modifiers(), QApplication::mouseButtons());
        return enter;
    }
    if (watched == FileListView1 && event->type() == QEvent::KeyRelease) {
        // Moving to a row with the keys chooses it as a click does, so that
        // Enter then shows that file rather than starting a new search.
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_Space:
            handlers.FileListView1Click();
            break;
        default:
            break;
        }
    }
    if (watched == FileListView1->viewport() && event->type() == QEvent::MouseButtonRelease) {
        QTimer::singleShot(0, this, [this] { handlers.FileListView1Click(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmMain::showGroupCount()
{
    const QString count = QString::fromStdString(
        text::formatCount(FileListView1->groupCount(), views::TFileListView::processLocale()));
    StatusBar1->setGroupsText(tr("Groups: %1").arg(count), count);
}

void TfrmMain::showTotalsLeft()
{
    m_totalsPending = false;
    if (run.running()) {
        return;  // the run keeps its own totals
    }
    // Counted as a reloaded list counts: each file after the first of its
    // group, with its size where the contents were compared.
    std::int64_t count = 0;
    std::int64_t bytes = 0;
    const views::FileListModel& rows = FileListView1->rows();
    bool first = true;
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.kind(row) != views::RowKind::File) {
            first = true;
            continue;
        }
        if (!first) {
            ++count;
            bytes += handlers.contentsConfirmed ? rows.sizeOf(row) : 0;
        }
        first = false;
    }
    run.comparison.DuplicateCount = count;
    run.comparison.DuplicateBytes = bytes;
    run.comparison.ShowTotals();
}

}  // namespace app
