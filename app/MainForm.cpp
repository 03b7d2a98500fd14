// The main window: its making along its steps, its designed handlers, closing and keys.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>

#include "app/FolderView.h"
#include "app/MainFormCommon.h"
#include "cache/ContentStore.h"
#include "settings/SavedLists.h"
#include "views/FocusStyle.h"

namespace app {

TfrmMain::TfrmMain(QWidget* parent)
    : QWidget(parent), run(*this), TreeScanner1(run.TreeScanner1),
      handlers(*(FileListView1 = new views::TFileListView(this)),
               *(frmFileProperties1 = std::make_unique<review::TfrmFileProperties1>(this)))
{
    setWindowTitle(tr("Gemmora"));
    resize(kDesignWidth, kDesignHeight);
    createSearchControls();
    createRulePages();
    createListAndStatusBar();
    connectDesignedHandlers();
    addCleanupAndMarks();
    addListMenusAndFilter();
    addStatusPanels();
    createResultList();
    run.locale = views::TFileListView::processLocale();
    // The walk runs on this thread: it waits for listings turning the event
    // loop rather than listing large folders itself between two turns.
    TreeScanner1.ListWhileWaiting = false;
    FormCreate();
    setSearchDefault(true);
    Timer1->start();
}

TfrmMain::~TfrmMain()
{
    // The lists of this run outlive it in the list files.
    SaveResultLists();
}

void TfrmMain::connectDesignedHandlers()
{
    connect(btnSearch, &QPushButton::clicked, this, &TfrmMain::btnSearchClick);
    connect(btnExit, &QPushButton::clicked, this, &TfrmMain::btnExitClick);
    connect(btnLeftOut, &QToolButton::clicked, this, &TfrmMain::btnLeftOutClick);
    connect(chkCheckFilesize, &QCheckBox::toggled, this, &TfrmMain::chkCheckFilesizeClick);
    connect(DiskListView1, &views::TDiskListView::changed, this, &TfrmMain::DiskListView1Change);
    connect(edtFileMask, &QLineEdit::editingFinished, this, &TfrmMain::edtRootDirExit);
    connect(edtRootDir, &QLineEdit::editingFinished, this, &TfrmMain::edtRootDirExit);
    folderChooser = new FolderChooser(*edtRootDir);
    connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
    connect(FileListView1, &QAbstractItemView::doubleClicked, this,
            [this] { handlers.FileListView1DblClick(); });
    FileListView1->OnColumnClick = [this](int column) {
        handlers.FileListView1ColumnClick(column);
    };
    FileListView1->setAccessibleName(tr("Results"));
    FileListView1->setAccessibleDescription(
        tr("The groups of files with identical contents. Enter or a double-click shows the "
           "selected file's properties; Delete moves it to the trash, Shift+Delete deletes it "
           "for good. Space marks the selected files; the menu (the Menu key or Shift+F10) "
           "marks by a rule and acts on the marked files."));
    for (QPushButton* button : {btnSearch, btnExit}) {
        views::showKeyboardFocus(button);
    }
    FileListView1->installEventFilter(this);
    FileListView1->viewport()->installEventFilter(this);
    handlers.setSearchDefault = [this](bool on) { setSearchDefault(on); };
}

void TfrmMain::FormCreate()
{
    setFont(QApplication::font());
    MinTrackWidth = width() - 10;
    MinTrackHeight = height() - 50;
    setMinimumSize(MinTrackWidth, MinTrackHeight);
    LoadSettings();
    PageControl1->setCurrentWidget(TabSheetBasic);
    ProgressBar = new QProgressBar(StatusBar1);
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(0, 2, StatusBar1->panelWidth(0), 18);
    ProgressBar->hide();
    ProgressBar->setAccessibleName(tr("Progress"));
    const std::string folder = settings::listFileFolder();
    ResultListFile = folder + settings::kResultListName;
    cleanupActions->journalFolder = folder;
    SkipListFile = folder + settings::kSkipListName;
    NewListFile = folder + settings::kNewListName;
    VersionInfoResource1->Loaded();
    lblVersion->setText(tr("Gemmora version: V") +
                        QString::fromStdString(VersionInfoResource1->FileVersion.AsText()) +
                        tr(" - check a group before you delete from it"));
    lblVersion->setToolTip(
        tr("Gemmora by Quarrendale, file version %1")
            .arg(QString::fromStdString(VersionInfoResource1->FileVersion.AsText())));
    lblVersion->adjustSize();
    mnuMain->version = QString::fromStdString(VersionInfoResource1->FileVersion.AsText());
    run.comparison.Comparing = false;
    placeControls();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    restoreWindowPlace();
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TfrmMain::chkCheckFilesizeClick()
{
    if (chkCheckFilesize->isChecked()) {
        chkCheckFilename->setEnabled(true);
        chkCheckFileTimestamp->setEnabled(true);
    } else {
        chkCheckFilename->setChecked(true);
        chkCheckFileTimestamp->setChecked(false);
        chkCheckFilename->setEnabled(false);
        chkCheckFileTimestamp->setEnabled(false);
    }
}

void TfrmMain::DiskListView1Change()
{
    run.UpdateCaption();
}

void TfrmMain::edtRootDirExit()
{
    run.UpdateCaption();
}

void TfrmMain::btnExitClick()
{
    close();
}

void TfrmMain::btnSearchClick()
{
    const bool starts = !run.running();
    if (starts && cleanupActions->busy()) {
        return;
    }
    if (starts) {
        cleanupActions->roots.clear();
        m_longestGap = std::chrono::milliseconds(0);
        m_lastTurn = std::chrono::steady_clock::now();
        m_leftOut.clear();
        showLeftOutCount();
        folderView->searchStarts();
    }
    listFilter->setEnabled(!starts);
    if (starts) {
        TreeScanner1.FindHiddenFolders = chkIncludeHiddenFolders->isChecked();
        run.comparison.cacheFolder = cache::ContentStore::defaultFolder();
        run.comparison.useCache = chkUseCache->isChecked() && !run.comparison.cacheFolder.empty();
    }
    try {
        run.btnSearchClick();
    } catch (const std::bad_alloc&) {
        searchOutOfMemory();
    }
    showTotalsGiven();
    listFilter->setEnabled(!run.running());
    if (starts) {
        showLeftOutCount();
        handlers.contentsConfirmed = run.catalogue.CheckFileSize;
        folderView->searchEnded(run.catalogue.CheckFileSize);
        if (m_closeRequested) {
            close();  // the close asked for during the search
        }
    }
}

bool TfrmMain::FormCloseQuery()
{
    run.requestStop();
    if (!m_settingsSaved) {
        m_settingsSaved = true;
        SaveSettings();
    }
    return true;
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    FormCloseQuery();
    if (cleanupActions->busy()) {
        // The cleanup ends after the file at hand; the window closes then.
        cleanupActions->requestStop();
        m_closeRequested = true;
        event->ignore();
        return;
    }
    if (run.running()) {
        // The search sees the cleared flags at its next turn; the window
        // closes once it has unwound.
        m_closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
}

void TfrmMain::setSearchDefault(bool on)
{
    m_searchDefault = on;
    btnSearch->setDefault(on);
}

void TfrmMain::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_searchDefault) {
        btnSearch->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmMain::Timer1Timer()
{
    Timer1->stop();
    OfferSavedLists();
}

}  // namespace app
