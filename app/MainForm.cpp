// The main window: what to search for, the drives, the rules, the result list and the status bar.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainForm.h"

#include "app/FolderView.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <sys/stat.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "app/ListRows.h"
#include "text/CommaText.h"
#include "platform/FolderListing.h"
#include "text/LineReader.h"
#include "text/StringList.h"
#include "text/Text.h"
#include "settings/SavedLists.h"
#include "views/FocusStyle.h"

namespace app {

namespace {

constexpr int kDesignWidth = 609;
constexpr int kDesignHeight = 469;
constexpr int kPanelWidths[3] = {150, 110, 75};
constexpr auto kTurnInterval = std::chrono::milliseconds(20);
// Showing a batch of rows repaints the list: a few batches a second keep it
// lively without the painting slowing the search.
constexpr auto kShowRowsInterval = std::chrono::milliseconds(200);

QString display(const std::string& bytes)
{
    return QString::fromStdString(text::displayUtf8(bytes));
}

// The result list as the search run sees it.
class FileListResults : public search::ResultList {
public:
    explicit FileListResults(views::TFileListView& list) : m_list(list) {}
    int rowCount() const override { return m_list.rowCount(); }
    void clear() override { m_list.clearRows(); }
    // The comparison's rows without sub-items: a separator has no caption.
    void addRow(const std::string& caption) override
    {
        if (caption.empty()) {
            m_list.addSeparatorRow();
        } else {
            m_list.addHeaderRow(caption);
        }
    }
    bool addFile(const std::string& path) override
    {
        std::int64_t size = 0;
        return m_list.AddFile(path, size);
    }
    void beginUpdate() override { m_list.beginUpdate(); }
    void endUpdate() override { m_list.endUpdate(); }
    void setRedraw(bool on) override { m_list.setRedraw(on); }
    void fitColumns() override { m_list.fitColumns(); }
    void fixColumns() override { m_list.fixColumns(); }
    void refresh() override { m_list.viewport()->update(); }
    void setHint(const std::string& hint) override { m_list.setHint(display(hint)); }

private:
    views::TFileListView& m_list;
};

// Puts each loaded value into its control as it comes.
class ControlTarget : public settings::SettingsTarget {
public:
    explicit ControlTarget(TfrmMain& form) : m_form(form) {}
    void setText(const std::string& name, const std::string& value) override
    {
        const QString text = QString::fromStdString(value);
        if (name == "FoldersToIgnore") {
            m_form.edtSkipFolder->setText(text);
        } else if (name == "FileMask") {
            m_form.edtFileMask->setText(text);
        } else if (name == "RootFolder") {
            m_form.edtRootDir->setText(text);
        }
    }
    void setFlag(const std::string& name, bool value) override
    {
        if (name == "FloppyIsMaster") {
            m_form.chkFloppyIsMaster->setChecked(value);
        } else if (name == "SkipSysbckupFolder") {
            m_form.chkSkipSysbckup->setChecked(value);
        } else if (name == "CheckFileStamp") {
            m_form.chkCheckFileTimestamp->setChecked(value);
        } else if (name == "CheckFileName") {
            m_form.chkCheckFilename->setChecked(value);
        } else if (name == "CheckFileSize") {
            m_form.chkCheckFilesize->setChecked(value);
        } else if (name == "SkipEmptyFiles") {
            m_form.chkSkipEmptyFiles->setChecked(value);
        } else if (name == "SkipDesktopFolders") {
            m_form.chkSkipDesktopFolders->setChecked(value);
        } else if (name == "SkipTrashFolders") {
            m_form.chkSkipTrashFolders->setChecked(value);
        }
    }

private:
    TfrmMain& m_form;
};

// A status bar panel that, given less room than its text needs, shows its
// brief form (the "brief" property) where that fits, and else ends the text
// with "..."; the whole text stays its text and its tooltip.
class ElidingPanel : public QLabel {
public:
    explicit ElidingPanel(QWidget* parent) : QLabel(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        drawFrame(&painter);
        const QRect room = contentsRect().adjusted(indent(), 0, 0, 0);
        QString shown = text();
        const QString brief = property("brief").toString();
        if (fontMetrics().horizontalAdvance(shown) > room.width() && !brief.isEmpty()) {
            shown = brief;
        }
        shown = fontMetrics().elidedText(shown, Qt::ElideRight, room.width());
        painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
};

}  // namespace

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent)
{
    for (QLabel*& label : m_panels) {
        label = new QLabel(this);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setIndent(2);
    }
    m_panels[1]->setText(tr("Bytes:"));
    m_panels[2]->setText(tr("Files:"));
}

int TStatusBar::panelWidth(int index) const
{
    if (index == 0) {
        return kPanelWidths[0];
    }
    if (index < 3) {
        return std::max(kPanelWidths[index], m_panels[index]->sizeHint().width() + 6);
    }
    return std::max(50, width() - panelWidth(0) - panelWidth(1) - panelWidth(2) - addedWidth());
}

int TStatusBar::panel3Least() const
{
    // "Scan complete" and the like stay readable; a long folder name may be
    // cut, as it is without added panels.
    return std::min(m_panels[3]->sizeHint().width() + 6, 130);
}

QLabel* TStatusBar::addPanel()
{
    auto* label = new ElidingPanel(this);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setIndent(2);
    label->hide();
    m_added.push_back(label);
    return label;
}

int TStatusBar::addedWidth() const
{
    int total = 0;
    for (const QLabel* label : m_added) {
        total += label->text().isEmpty() ? 0 : label->sizeHint().width() + 6;
    }
    return total;
}

void TStatusBar::setPanelText(int index, const QString& text)
{
    const int before = panelWidth(index);
    m_panels[index]->setText(text);
    if (index > 0 && index < 3 && panelWidth(index) != before) {
        resizeEvent(nullptr);
    }
}

void TStatusBar::setTrailing(QWidget* widget)
{
    m_trailing = widget;
    resizeEvent(nullptr);
}

void TStatusBar::resizeEvent(QResizeEvent*)
{
    const int trailing =
        m_trailing != nullptr && !m_trailing->isHidden() ? m_trailing->sizeHint().width() + 2 : 0;
    // Where the added panels do not fit beside panel 3's words, they give
    // way to their brief forms, and past those to "..." (the tooltip holds
    // the whole text).
    const int designed = panelWidth(0) + panelWidth(1) + panelWidth(2);
    int spare = width() - designed - panel3Least() - trailing;
    const bool crowded = addedWidth() > spare;
    std::vector<int> widths;
    int added = 0;
    for (QLabel* label : m_added) {
        int width = label->text().isEmpty() ? 0 : label->sizeHint().width() + 6;
        if (crowded && width > 0) {
            const QString brief = label->property("brief").toString();
            const int least = brief.isEmpty() ? 40
                                              : label->fontMetrics().horizontalAdvance(brief) +
                                                    label->indent() + 2 * label->frameWidth() + 6;
            width = std::max(std::min(width, spare), least);
            spare -= width;
        }
        widths.push_back(width);
        added += width;
    }
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        const int panel = i < 3 ? panelWidth(i) : width() - designed - trailing - added;
        m_panels[i]->setGeometry(left, 0, std::max(10, panel - 2), height());
        left += std::max(10, panel);
    }
    if (trailing > 0) {
        m_trailing->setGeometry(width() - trailing, 0, trailing, height());
    }
    for (std::size_t i = 0; i < m_added.size(); ++i) {
        QLabel* label = m_added[i];
        const bool shown = widths[i] > 0;
        if (shown) {
            label->setGeometry(left, 0, widths[i] - 2, height());
            label->setToolTip(widths[i] < label->sizeHint().width() + 6 ? label->text()
                                                                        : QString());
            left += widths[i];
        }
        label->setVisible(shown);
    }
}

TfrmMain::TfrmMain(QWidget* parent)
    : QWidget(parent), run(*this), TreeScanner1(run.TreeScanner1),
      handlers(*(FileListView1 = new views::TFileListView(this)),
               *(frmFileProperties1 = std::make_unique<review::TfrmFileProperties1>(this)))
{
    setWindowTitle(tr("Gemmora"));
    resize(kDesignWidth, kDesignHeight);

    GroupBox1 = new QGroupBox(tr(" What to search for "), this);
    DiskListView1 = new views::TDiskListView(GroupBox1);
    Label2 = new QLabel(tr("&Find: "), GroupBox1);
    edtFileMask = new QLineEdit("*.*", GroupBox1);
    Label7 = new QLabel(tr("&In: "), GroupBox1);
    edtRootDir = new QLineEdit("/", GroupBox1);
    Label1 = new QLabel(tr("S&kip: "), GroupBox1);
    edtSkipFolder = new QLineEdit(GroupBox1);
    btnSearch = new QPushButton(tr("Find &Now"), GroupBox1);
    btnExit = new QPushButton(tr("E&xit"), GroupBox1);
    edtSkipFolder->setToolTip(
        tr("Enter a comma separated list of folders to skip, e.g. SP3, \"Program Files\" "
           "(note: folders with spaces need quotes)"));
    edtFileMask->setToolTip(
        tr("Enter a mask of files to find, e.g. *.* (comma separated list allowed, enclose "
           "spaces in quotes)"));
    edtRootDir->setToolTip(
        tr("Enter comma separated list of folders to search on each drive, e.g. /Docs, "
           "\"/My Files\" (note: folders with spaces need quotes)"));
    for (QLabel* label : {Label2, Label7, Label1}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    // Alt and the underlined letter of a label moves to its field, and the
    // label names the field to a screen reader.
    Label2->setBuddy(edtFileMask);
    Label7->setBuddy(edtRootDir);
    Label1->setBuddy(edtSkipFolder);
    // A stored list of folders may be longer than a line edit holds by
    // default (32,767 characters); cut here, it would be written back cut.
    for (QLineEdit* field : {edtFileMask, edtRootDir, edtSkipFolder}) {
        field->setMaxLength(std::numeric_limits<int>::max());
    }

    PageControl1 = new QTabWidget(this);
    TabSheetBasic = new QWidget;
    TabSheetAdvanced = new QWidget;
    PageControl1->addTab(TabSheetBasic, tr(" &Require "));
    PageControl1->addTab(TabSheetAdvanced, tr(" &Advanced "));
    chkCheckFileTimestamp = new QCheckBox(tr("Same &date && time"));
    chkCheckFileTimestamp->setToolTip(tr("Uncheck for slower but more accurate searches"));
    chkCheckFilename = new QCheckBox(tr("Same na&me"));
    chkCheckFilename->setToolTip(tr("Check to only match files of the same name"));
    chkSkipEmptyFiles = new QCheckBox(tr("Skip &zero-length files"));
    chkFloppyIsMaster = new QCheckBox(tr("&Treat floppy as master"));
    chkFloppyIsMaster->setToolTip(tr("Uncheck to treat floppy as a normal disk drive"));
    chkSkipSysbckup = new QCheckBox(tr("Skip S&YSBCKUP folder"));
    chkSkipSysbckup->setToolTip(tr("Uncheck to include Windows 95 protected folder"));
    chkSkipDesktopFolders = new QCheckBox(tr("Skip Desktop.ini f&olders"));
    chkSkipDesktopFolders->setToolTip(tr("Uncheck to scan more folders"));
    chkSkipTrashFolders = new QCheckBox(tr("Skip tras&h folders"));
    chkSkipTrashFolders->setToolTip(
        tr("Uncheck to include files in the trash; a file in the trash is never the one kept"));
    chkCheckFilesize = new QCheckBox(tr("Require sam&e size"));
    chkCheckFilesize->setToolTip(tr("Uncheck if file contents do not matter"));
    // The designed states, before the settings are read.
    for (QCheckBox* box : {chkCheckFileTimestamp, chkSkipEmptyFiles, chkFloppyIsMaster,
                           chkSkipSysbckup, chkSkipDesktopFolders, chkSkipTrashFolders,
                           chkCheckFilesize}) {
        box->setChecked(true);
    }
    auto* basic = new QVBoxLayout(TabSheetBasic);
    basic->setContentsMargins(6, 6, 4, 4);
    for (QCheckBox* box : {chkCheckFileTimestamp, chkCheckFilename, chkSkipEmptyFiles}) {
        basic->addWidget(box);
    }
    basic->addStretch(1);
    auto* advanced = new QVBoxLayout(TabSheetAdvanced);
    advanced->setContentsMargins(6, 6, 4, 4);
    for (QCheckBox* box : {chkFloppyIsMaster, chkSkipSysbckup, chkSkipDesktopFolders,
                           chkSkipTrashFolders, chkCheckFilesize}) {
        advanced->addWidget(box);
    }
    advanced->addStretch(1);

    lblFileListCaption = new QLabel(tr(" Results will appear here ...."), this);
    FileListView1->setParent(this);
    lblVersion = new QLabel(this);
    QPalette navy = lblVersion->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    lblVersion->setPalette(navy);
    StatusBar1 = new TStatusBar(this);
    btnLeftOut = new QToolButton(StatusBar1);
    btnLeftOut->setAutoRaise(true);
    btnLeftOut->setToolTip(tr("Files that could not be read, or that changed while they were "
                              "compared: they are in no group. Click to list them."));
    btnLeftOut->hide();
    StatusBar1->setTrailing(btnLeftOut);
    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    VersionInfoResource1 = new TVersionInfoResource(this);

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
    connect(cleanupActions, &CleanupActions::finished, this, [this] {
        if (m_closeRequested) {
            close();  // the close asked for during the cleanup
        }
    });

    m_results = std::make_unique<FileListResults>(*FileListView1);
    run.locale = views::TFileListView::processLocale();
    FormCreate();
    setSearchDefault(true);
    Timer1->start();
}

TfrmMain::~TfrmMain()
{
    // The lists of this run outlive it in the list files.
    SaveResultLists();
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
}

void TfrmMain::LoadSettings()
{
    m_settingsStore = std::make_unique<QSettingsStore>();
    ControlTarget target(*this);
    const std::string wrongTypes = settings::LoadSettings(*m_settingsStore, target);
    if (!wrongTypes.empty()) {
        // The defaults stand; the user learns why once the window is up.
        QTimer::singleShot(0, this, [this, wrongTypes] {
            QMessageBox::warning(
                this, tr("Gemmora"),
                tr("Invalid data type for '%1'").arg(QString::fromStdString(wrongTypes)));
        });
    }
}

settings::SearchOptions TfrmMain::currentOptions() const
{
    settings::SearchOptions options;
    options.FoldersToIgnore = edtSkipFolder->text().toStdString();
    options.FileMask = edtFileMask->text().toStdString();
    options.RootFolder = edtRootDir->text().toStdString();
    options.FloppyIsMaster = chkFloppyIsMaster->isChecked();
    options.SkipSysbckupFolder = chkSkipSysbckup->isChecked();
    options.CheckFileStamp = chkCheckFileTimestamp->isChecked();
    options.CheckFileName = chkCheckFilename->isChecked();
    options.CheckFileSize = chkCheckFilesize->isChecked();
    options.SkipEmptyFiles = chkSkipEmptyFiles->isChecked();
    options.SkipDesktopFolders = chkSkipDesktopFolders->isChecked();
    options.SkipTrashFolders = chkSkipTrashFolders->isChecked();
    return options;
}

bool TfrmMain::SaveSettings()
{
    if (!m_settingsStore) {
        m_settingsStore = std::make_unique<QSettingsStore>();
    }
    const std::string error = settings::SaveSettings(*m_settingsStore, currentOptions());
    if (!error.empty()) {
        QMessageBox::critical(this, tr("Gemmora"), QString::fromStdString(error));
        return false;
    }
    return true;
}

void TfrmMain::placeControls()
{
    // The rule pages must hold their captions in whatever font the desktop
    // uses, so they may be wider than designed.
    int pageWidth = 155;
    for (QCheckBox* box :
         {chkCheckFileTimestamp, chkCheckFilename, chkSkipEmptyFiles, chkFloppyIsMaster,
          chkSkipSysbckup, chkSkipDesktopFolders, chkSkipTrashFolders, chkCheckFilesize}) {
        pageWidth = std::max(pageWidth, box->sizeHint().width() + 20);
    }
    PageControl1->resize(pageWidth, std::max(137, PageControl1->sizeHint().height()));
    const int fieldHeight = std::max(21, edtFileMask->sizeHint().height());
    const int buttonHeight = std::max(25, btnSearch->sizeHint().height());
    for (QLineEdit* field : {edtFileMask, edtRootDir, edtSkipFolder}) {
        field->resize(145, fieldHeight);
    }
    const int labelWidth = std::max(
        {Label2->sizeHint().width(), Label7->sizeHint().width(), Label1->sizeHint().width()});
    for (QLabel* label : {Label2, Label7, Label1}) {
        label->resize(labelWidth, fieldHeight);
    }
    for (QPushButton* button : {btnSearch, btnExit}) {
        button->resize(std::max(75, button->sizeHint().width()), buttonHeight);
    }
    const int groupHeight = std::max(146, 26 + 3 * (fieldHeight + 6) + buttonHeight + 8);
    mnuMain->setGeometry(0, 0, width(), mnuMain->sizeHint().height());
    GroupBox1->setGeometry(4, mnuMain->height() + 7, 0, groupHeight);
    const int top = 24;
    edtFileMask->move(0, top);
    edtRootDir->move(0, top + fieldHeight + 6);
    edtSkipFolder->move(0, top + 2 * (fieldHeight + 6));
    btnSearch->move(0, groupHeight - buttonHeight - 8);
    btnExit->move(0, groupHeight - buttonHeight - 8);
    DiskListView1->setGeometry(8, top, 0, groupHeight - top - 8);
    lblFileListCaption->setGeometry(8, GroupBox1->y() + groupHeight + 7, 400,
                                    lblFileListCaption->sizeHint().height());
    StatusBar1->resize(width(), std::max(20, StatusBar1->panel(0)->sizeHint().height() + 4));
    // Wide enough that the group box keeps room for the drive list.
    const int needed = pageWidth + 24 + 8 + 140 + labelWidth + 8 + 75 + 16 + 75 + 8;
    if (width() < std::max(kDesignWidth, needed)) {
        resize(std::max(kDesignWidth, needed), height());
        MinTrackWidth = width() - 10;
        setMinimumSize(MinTrackWidth, MinTrackHeight);
    }
    FormResize();
}

void TfrmMain::FormResize()
{
    const int clientWidth = width();
    const int clientHeight = height();
    mnuMain->resize(clientWidth, mnuMain->height());
    PageControl1->move(clientWidth - 4 - PageControl1->width(), mnuMain->height() + 16);
    GroupBox1->resize(PageControl1->x() - 20, GroupBox1->height());
    btnExit->move(GroupBox1->width() - 8 - btnExit->width(), btnExit->y());
    btnSearch->move(btnExit->x() - 16 - btnSearch->width(), btnSearch->y());
    edtRootDir->move(GroupBox1->width() - 8 - edtRootDir->width(), edtRootDir->y());
    edtFileMask->move(edtRootDir->x(), edtFileMask->y());
    edtSkipFolder->move(edtRootDir->x(), edtSkipFolder->y());
    Label7->move(edtRootDir->x() - Label7->width(), edtRootDir->y());
    Label2->move(edtFileMask->x() - Label2->width(), edtFileMask->y());
    Label1->move(edtSkipFolder->x() - Label1->width(), edtSkipFolder->y());
    DiskListView1->resize(btnSearch->x() - 24, DiskListView1->height());
    StatusBar1->setGeometry(0, clientHeight - StatusBar1->height(), clientWidth,
                            StatusBar1->height());
    lblVersion->move(clientWidth - lblVersion->width() - 4,
                     clientHeight - StatusBar1->height() - lblVersion->height());
    const int filterWidth = std::min(240, clientWidth / 3);
    // Below the pages when they reach down to the caption's row, so that
    // the filter never hides one of their check boxes.
    const int filterTop =
        std::max(lblFileListCaption->y() - 4, PageControl1->geometry().bottom() + 3);
    listFilter->edtFilter->setGeometry(clientWidth - 6 - filterWidth, filterTop, filterWidth,
                                       listFilter->edtFilter->sizeHint().height());
    const int listTop = std::max(lblFileListCaption->y() + lblFileListCaption->height(),
                                 listFilter->edtFilter->geometry().bottom() + 1) +
                        2;
    FileListView1->setGeometry(6, listTop, clientWidth - 12,
                               clientHeight - listTop - lblVersion->height() -
                                   StatusBar1->height() - 2);
    if (folderView != nullptr) {
        folderView->place(StatusBar1->y());
    }
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
    try {
        run.btnSearchClick();
    } catch (const std::bad_alloc&) {
        searchOutOfMemory();
    }
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

void TfrmMain::Timer1Timer()
{
    Timer1->stop();
    OfferSavedLists();
}

void TfrmMain::OfferSavedLists()
{
    Timer1->stop();
    const text::Locale& locale = views::TFileListView::processLocale();
    auto ask = [this](const QString& caption, const std::string& text) {
        return QMessageBox::question(this, caption, QString::fromStdString(text),
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::Yes) == QMessageBox::Yes;
    };
    platform::FileEntry entry;
    if (platform::queryFileEntry(SkipListFile, entry) &&
        ask(tr("Gemmora - known duplicates to skip list found"),
            settings::knownDuplicatesQuestion(
                settings::previousRunText(entry.writeSeconds, locale)))) {
        if (!settings::loadKnownDuplicates(SkipListFile, run.catalogue.SkipFiles, false)) {
            const int error = errno;
            QMessageBox::critical(
                this, tr("Gemmora"),
                tr("The list of known duplicates cannot be read:\n%1\n\n%2")
                    .arg(display(SkipListFile), QString::fromLocal8Bit(std::strerror(error))));
        }
    }
    if (platform::queryFileEntry(ResultListFile, entry) &&
        ask(tr("Gemmora - previous list found"),
            settings::previousListQuestion(
                settings::previousRunText(entry.writeSeconds, locale)))) {
        ReloadResultList();
    }
    DiskListView1->RefreshDrives();
}

void TfrmMain::searchOutOfMemory()
{
    // The run has gone back to idle on its way out; what it held goes now,
    // so the window can go on with the rows found so far.
    run.catalogue.release();
    while (FileListView1->updating()) {
        FileListView1->endUpdate();
    }
    setStatusText(3, "Out of memory");
    QMessageBox::critical(this, tr("Gemmora"),
                          tr("There is not enough memory to go on with the search, so it was "
                             "stopped.\n\nThe duplicates found so far are listed."));
}

namespace {

// What a line of a list file is: a blank caption is a separator, a line of
// several fields a file, any other a header.
views::RowKind reloadedKind(const settings::ResultRow& row, std::size_t fields)
{
    if (text::trimView(row.caption).empty()) {
        return views::RowKind::Separator;
    }
    return fields > 1 ? views::RowKind::File : views::RowKind::Header;
}

}  // namespace

void TfrmMain::ReloadResultList()
{
    ReloadResultList(ResultListFile);
}

void TfrmMain::ReloadResultList(const std::string& path)
{
    repaintStatusBar();
    text::LineReader reader;
    if (!reader.open(path)) {
        const int error = errno;
        QMessageBox::critical(
            this, tr("Gemmora"),
            tr("The list of duplicates cannot be read:\n%1\n\n%2")
                .arg(display(path), QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    showProgress(true);
    ProgressBar->setRange(0, 1000);
    setWaitCursor(true);
    FileListView1->beginUpdate();
    FileListView1->setAllColumnWidths(0);
    const int rowsBefore = FileListView1->rowCount();
    settings::ReloadCounter counter;
    bool outOfMemory = false;
    try {
        // One line and one row at a time: the memory taken is that of the
        // rows kept, however the file is made.
        std::string line;
        settings::ResultRow row;
        QElapsedTimer sinceProgress;
        sinceProgress.start();
        for (std::uint64_t lines = 1; reader.next(line); ++lines) {
            const std::size_t fields =
                settings::parseResultLine(line, row, views::FileListModel::kColumnCount - 1);
            FileListView1->addRow(reloadedKind(row, fields), row.caption, row.subItems);
            counter.add(row, fields > 1);
            if ((lines & 1023) == 0 && sinceProgress.elapsed() >= 50) {
                ProgressBar->setValue(static_cast<int>(reader.consumed() * 1000 /
                                                       std::max<std::uint64_t>(1, reader.size())));
                ProgressBar->repaint();
                sinceProgress.restart();
            }
        }
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    const int readError = errno;
    if (outOfMemory) {
        // A list cut short would show groups that are not whole; what was
        // read goes, and with it the memory it took.
        if (rowsBefore == 0) {
            FileListView1->clearRows();
        } else {
            while (FileListView1->rowCount() > rowsBefore) {
                FileListView1->deleteRow(FileListView1->rowCount() - 1);
            }
        }
    }
    FileListView1->endUpdate();
    FileListView1->fitColumns();
    setWaitCursor(false);
    showProgress(false);
    if (outOfMemory) {
        QMessageBox::critical(
            this, tr("Gemmora"),
            tr("There is not enough memory to reload the list of duplicates:\n%1\n\n"
               "Search again to find them.")
                .arg(display(path)));
        return;
    }
    if (reader.failed()) {
        QMessageBox::warning(
            this, tr("Gemmora"),
            tr("The list of duplicates could not be read to its end:\n%1\n\n%2")
                .arg(display(path), QString::fromLocal8Bit(std::strerror(readError))));
    }
    run.comparison.DuplicateCount += counter.count;
    run.comparison.DuplicateBytes += counter.bytes;
    handlers.contentsConfirmed = true;
    setStatusText(0, "Duplicates read from file .....");
    run.comparison.ShowTotals();
}

void TfrmMain::SaveResultLists()
{
    if (!settings::SaveResultLists(ListRows(*FileListView1), ResultListFile, NewListFile)) {
        // The window is gone by now; the earlier lists are still whole.
        const int error = errno;
        std::fprintf(stderr, "gemmora: the list of duplicates could not be saved as %s: %s\n",
                     text::displayUtf8(ResultListFile).c_str(), std::strerror(error));
    }
}

std::string TfrmMain::fieldText(search::Field field)
{
    switch (field) {
    case search::Field::FileMask:
        return edtFileMask->text().toStdString();
    case search::Field::RootDir:
        return edtRootDir->text().toStdString();
    case search::Field::SkipFolder:
        return edtSkipFolder->text().toStdString();
    }
    return "";
}

void TfrmMain::setFieldText(search::Field field, const std::string& text)
{
    const QString value = QString::fromStdString(text);
    switch (field) {
    case search::Field::FileMask:
        edtFileMask->setText(value);
        break;
    case search::Field::RootDir:
        edtRootDir->setText(value);
        break;
    case search::Field::SkipFolder:
        edtSkipFolder->setText(value);
        break;
    }
}

bool TfrmMain::checked(search::Check check)
{
    switch (check) {
    case search::Check::SkipSysbckup:
        return chkSkipSysbckup->isChecked();
    case search::Check::SkipDesktopFolders:
        return chkSkipDesktopFolders->isChecked();
    case search::Check::SkipTrashFolders:
        return chkSkipTrashFolders->isChecked();
    case search::Check::SkipEmptyFiles:
        return chkSkipEmptyFiles->isChecked();
    case search::Check::CheckFilesize:
        return chkCheckFilesize->isChecked();
    case search::Check::FloppyIsMaster:
        return chkFloppyIsMaster->isChecked();
    case search::Check::CheckFileTimestamp:
        return chkCheckFileTimestamp->isChecked();
    case search::Check::CheckFilename:
        return chkCheckFilename->isChecked();
    }
    return false;
}

std::vector<search::SearchDrive> TfrmMain::selectedDrives()
{
    std::vector<search::SearchDrive> drives = DiskListView1->selectedSearchDrives();
    if (run.running()) {
        // The run asks once its root folders are in their final form: the
        // folders it starts from are where a cleanup may follow links.
        std::vector<std::string>& roots = cleanupActions->roots;
        const auto add = [&roots](const std::string& root) {
            if (std::find(roots.begin(), roots.end(), root) == roots.end()) {
                roots.push_back(root);
            }
        };
        for (const search::SearchDrive& drive : drives) {
            if (drive.wholeDrive) {
                add(drive.prefix + "/");
                continue;
            }
            for (const std::string& root :
                 text::parseCommaText(edtRootDir->text().toStdString())) {
                add(drive.prefix + root);
            }
        }
    }
    return drives;
}

void TfrmMain::setCaption(search::Caption caption, const std::string& text)
{
    const QString value = display(text);
    switch (caption) {
    case search::Caption::Window:
        setWindowTitle(value);
        break;
    case search::Caption::SearchButton:
        // The run gives the button's words; Alt+N and Alt+S reach it.
        btnSearch->setText(value == "Stop"       ? tr("&Stop")
                           : value == "Find Now" ? tr("Find &Now")
                                                 : value);
        break;
    case search::Caption::FileListCaption:
        lblFileListCaption->setText(value);
        lblFileListCaption->resize(std::max(400, lblFileListCaption->sizeHint().width()),
                                   lblFileListCaption->height());
        break;
    }
}

void TfrmMain::setStatusText(int panel, const std::string& text)
{
    if (panel >= 0 && panel < 4) {
        StatusBar1->setPanelText(panel, display(text));
    }
}

void TfrmMain::repaintStatusBar()
{
    StatusBar1->update();
}

search::ResultList& TfrmMain::resultList()
{
    return *m_results;
}

void TfrmMain::showMessage(const std::string& text)
{
    QMessageBox::information(this,
                             QApplication::applicationDisplayName().isEmpty()
                                 ? tr("Gemmora")
                                 : QApplication::applicationDisplayName(),
                             display(text));
}

void TfrmMain::setWaitCursor(bool wait)
{
    if (wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TfrmMain::showProgress(bool visible)
{
    ProgressBar->setGeometry(0, 2, StatusBar1->panelWidth(0), StatusBar1->height() - 2);
    ProgressBar->setVisible(visible);
}

void TfrmMain::setProgressMax(std::int64_t maximum)
{
    m_progressScale = 1;
    while (maximum / m_progressScale > 1000000) {
        m_progressScale *= 10;
    }
    ProgressBar->setRange(0, static_cast<int>(maximum / m_progressScale));
}

void TfrmMain::setProgressPosition(std::int64_t position)
{
    ProgressBar->setValue(static_cast<int>(position / m_progressScale));
}

void TfrmMain::reportLeftOut(const search::LeftOutFile& file)
{
    m_leftOut.push_back(file);
    // A search of a whole disk as an ordinary user can leave out thousands:
    // the count is shown at once, then a few times a second and at the end.
    const auto now = std::chrono::steady_clock::now();
    if (m_leftOut.size() == 1 || now - m_leftOutShown >= std::chrono::milliseconds(250)) {
        m_leftOutShown = now;
        showLeftOutCount();
    }
}

void TfrmMain::showLeftOutCount()
{
    btnLeftOut->setText(tr("Left out: %1").arg(m_leftOut.size()));
    btnLeftOut->setVisible(!m_leftOut.empty());
    StatusBar1->setTrailing(btnLeftOut);
}

void TfrmMain::btnLeftOutClick()
{
    // The first lines in the message itself; all of them behind its details.
    constexpr std::size_t kShown = 20;
    QStringList lines;
    for (const search::LeftOutFile& file : m_leftOut) {
        const QString why = file.why == search::LeftOutFile::Why::Changed
                                ? tr("changed during the search")
                                : QString::fromLocal8Bit(std::strerror(file.error));
        lines << QString::fromStdString(text::displayName(file.path)) + QStringLiteral(": ") +
                     why;
    }
    QString text =
        (m_leftOut.size() == 1 ? tr("One file could not be compared and is in no group:\n\n")
                               : tr("%1 files could not be compared and are in no group:\n\n")
                                     .arg(m_leftOut.size())) +
        QStringList(lines.mid(0, static_cast<int>(kShown))).join('\n');
    QMessageBox box(QMessageBox::Information, tr("Gemmora - files left out"), QString(),
                    QMessageBox::Ok, this);
    if (m_leftOut.size() > kShown) {
        text += tr("\n... and %1 more (see the details)").arg(m_leftOut.size() - kShown);
        box.setDetailedText(lines.join('\n'));
    }
    box.setText(text);
    box.exec();
}

void TfrmMain::processEvents()
{
    // A million catalogue entries must not cost a million turns; one every
    // 20 ms keeps the window responsive and a stop at once to the eye.
    const auto now = std::chrono::steady_clock::now();
    const auto gap = now - m_lastTurn;
    if (gap < kTurnInterval) {
        return;
    }
    m_longestGap =
        std::max(m_longestGap, std::chrono::duration_cast<std::chrono::milliseconds>(gap));
    if (FileListView1->updatesEnabled() && now - m_lastRowsShown >= kShowRowsInterval) {
        FileListView1->showPendingRows();
        m_lastRowsShown = now;
    }
    QCoreApplication::processEvents();
    m_lastTurn = std::chrono::steady_clock::now();
}

}  // namespace app
