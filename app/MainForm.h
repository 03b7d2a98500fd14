// The main window: what to search for, the drives, the rules, the result list and the status bar.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "app/CleanupActions.h"
#include "app/FileListResults.h"
#include "app/FolderChooser.h"
#include "app/GroupSortMenu.h"
#include "app/ListFiles.h"
#include "app/ListFilter.h"
#include "app/MainMenu.h"
#include "app/QSettingsStore.h"
#include "app/ResultListHandlers.h"
#include "app/StatusBar.h"
#include "app/VersInfo.h"
#include "review/FilProps.h"
#include "search/SearchRun.h"
#include "search/SearchWindow.h"
#include "settings/SearchOptions.h"
#include "views/DiskList.h"
#include "views/FileList.h"

namespace app {

class FolderView;

// The main window: what to search for, the rules, the result list and the
// status bar. It runs searches through the search run, which reaches it
// only through the window operations below.
class TfrmMain : public QWidget, public search::SearchWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    QGroupBox* GroupBox1;
    views::TDiskListView* DiskListView1;
    QLabel* Label2;
    QLineEdit* edtFileMask;
    QLabel* Label7;
    QLineEdit* edtRootDir;
    QLabel* Label1;
    QLineEdit* edtSkipFolder;
    QPushButton* btnSearch;
    QPushButton* btnExit;
    QTabWidget* PageControl1;
    QWidget* TabSheetBasic;
    QWidget* TabSheetAdvanced;
    QCheckBox* chkCheckFileTimestamp;
    QCheckBox* chkCheckFilename;
    QCheckBox* chkSkipEmptyFiles;
    QCheckBox* chkFloppyIsMaster;
    QCheckBox* chkSkipSysbckup;
    QCheckBox* chkSkipDesktopFolders;
    QCheckBox* chkSkipTrashFolders;
    QCheckBox* chkUseCache;
    QCheckBox* chkIncludeHiddenFolders;
    QCheckBox* chkCheckFilesize;
    QLabel* lblFileListCaption;
    views::TFileListView* FileListView1;
    QLabel* lblVersion;
    TStatusBar* StatusBar1;
    // "Left out: N" at the end of the status bar while the last search left
    // files out; a click lists them.
    QToolButton* btnLeftOut;
    QProgressBar* ProgressBar;
    QTimer* Timer1;
    TVersionInfoResource* VersionInfoResource1;
    std::unique_ptr<review::TfrmFileProperties1> frmFileProperties1;

    search::SearchRun run;
    scanner::TTreeScanner& TreeScanner1;
    ResultListHandlers handlers;
    // Marks and the cleanups that act on them, beside the designed handlers.
    CleanupActions* cleanupActions;
    // The status bar's panel of the marked files' count and bytes.
    QLabel* pnlMarks;
    // The order the groups are shown in, and the panel that names it.
    GroupSortMenu* groupSortMenu;
    QLabel* pnlOrder;
    // Saving, opening and exporting lists on demand, from the File menu.
    ListFiles* listFiles;
    MainMenu* mnuMain;
    // The folder button inside the "In:" field.
    FolderChooser* folderChooser;
    // The filter field above the list, and the panel that counts what it shows.
    ListFilter* listFilter;
    QLabel* pnlShown;
    // The folders of the result, in place of the file rows on demand.
    FolderView* folderView = nullptr;

    int MinTrackWidth = 0;
    int MinTrackHeight = 0;
    std::string ResultListFile;
    std::string SkipListFile;
    std::string NewListFile;

    // Whether "Find Now" takes Enter from anywhere in the window.
    bool searchIsDefault() const { return m_searchDefault; }

    void btnSearchClick();
    void btnExitClick();
    void btnLeftOutClick();
    void chkCheckFilesizeClick();
    void DiskListView1Change();
    void edtRootDirExit();
    void Timer1Timer();
    void FormResize();
    void OfferSavedLists();
    void SaveResultLists();
    void ReloadResultList();
    // Adds the rows of the list file at `path`, as the designed reload does.
    void ReloadResultList(const std::string& path);
    settings::SearchOptions currentOptions() const;

    // The search run's window operations.
    std::string fieldText(search::Field field) override;
    void setFieldText(search::Field field, const std::string& text) override;
    bool checked(search::Check check) override;
    std::vector<search::SearchDrive> selectedDrives() override;
    void setCaption(search::Caption caption, const std::string& text) override;
    void setStatusText(int panel, const std::string& text) override;
    void repaintStatusBar() override;
    search::ResultList& resultList() override;
    void showMessage(const std::string& text) override;
    void setWaitCursor(bool wait) override;
    void showProgress(bool visible) override;
    void setProgressMax(std::int64_t maximum) override;
    void setProgressPosition(std::int64_t position) override;
    void processEvents() override;
    void reportLeftOut(const search::LeftOutFile& file) override;
    const std::vector<search::LeftOutFile>& leftOut() const { return m_leftOut; }

    // Longest time between two event-loop turns during the last search.
    std::chrono::milliseconds longestTurnGap() const { return m_longestGap; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The steps of making the window, in order (MainFormControls.cpp,
    // MainForm.cpp, MainFormResultList.cpp, MainFormSearch.cpp).
    void createSearchControls();
    void createRulePages();
    void createListAndStatusBar();
    void connectDesignedHandlers();
    void addCleanupAndMarks();
    void addListMenusAndFilter();
    void addStatusPanels();
    void createResultList();

    void FormCreate();
    bool FormCloseQuery();
    void LoadSettings();
    bool SaveSettings();
    void setSearchDefault(bool on);
    // The window's size and place and the list's column widths, kept with
    // the settings.
    void restoreWindowPlace();
    void restoreColumnWidths();
    bool saveWindowPlace();
    void placeControls();
    // Ends a search that ran out of memory with what it found so far.
    void searchOutOfMemory();

    void showLeftOutCount();
    void showGroupCount();
    // Shows the totals and the count of groups the run gave since the last
    // turn: during a search they change with every group, and are shown at
    // the turns and when the search ends.
    void showTotalsGiven();
    // After rows went: the status bar's totals say what is left.
    void showTotalsLeft();

    std::unique_ptr<FileListResults> m_results;
    // Read at start, written at close: it remembers a damaged file.
    std::unique_ptr<QSettingsStore> m_settingsStore;
    std::vector<search::LeftOutFile> m_leftOut;
    std::vector<int> m_rememberedColumns;
    std::chrono::steady_clock::time_point m_leftOutShown;
    bool m_searchDefault = true;
    bool m_closeRequested = false;
    bool m_settingsSaved = false;
    bool m_totalsPending = false;
    std::int64_t m_progressScale = 1;
    std::chrono::steady_clock::time_point m_lastTurn;
    std::chrono::steady_clock::time_point m_lastRowsShown;
    std::chrono::milliseconds m_longestGap{0};
    // Panels 1 and 2's texts given during the search and not yet shown.
    std::optional<std::string> m_totalsGiven[3];
    bool m_groupCountGiven = false;
};

}  // namespace app
