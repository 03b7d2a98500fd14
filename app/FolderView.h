// The result list's folder view: folders that are copies, beside the designed file rows.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QPoint>
#include <QString>

#include "cleanup/Plan.h"
#include "cleanup/Runner.h"
#include "folders/FolderFinder.h"
#include "scanner/TreeScan.h"

class QAction;
class QMenu;
class QTabBar;
class QTableView;
class QWidget;

namespace review {
class FileOpener;
}

namespace views {
class FolderListModel;
class TFileListView;
}  // namespace views

namespace app {

class CleanupActions;
class FolderCleanup;
class ListFilter;
struct GoneFolder;

// Switches the result list between its file rows (the designed list, shown
// after every search) and the folders of the same result: identical
// folders, and folders whose every file has a copy elsewhere. The finder
// follows the window's walk; the folders are found from the file groups the
// first time they are asked for after a search, on a helper thread. A
// double-click or Enter on a folder row shows that folder's groups in the
// file view. Folder rows take marks, and the list has a menu of its own.
class FolderView : public QObject {
    Q_OBJECT
public:
    // `fileCleanup` gives the searched folders and where journals go.
    FolderView(scanner::TTreeScanner& scanner, views::TFileListView& files, ListFilter& filter,
               QMenu& viewMenu, CleanupActions& fileCleanup, QWidget* window);
    ~FolderView() override;

    QTableView* lstFolders;
    views::FolderListModel* model;
    // The tabs under the list: "Files" and "Folders".
    QTabBar* tabView;
    QAction* actShowFiles;
    QAction* actShowFolders;
    FolderCleanup* folderCleanup;

    // The window's hooks: a search starts (the file view comes back and a new
    // finder follows the walk), a search ended (whether it compared
    // contents: only then are its groups copies), the rows came from a list
    // file (no walk stands behind them), the window's controls moved (the
    // tabs go under the list and end above `bottom`).
    void searchStarts();
    void searchEnded(bool contentsCompared);
    void forget();
    void place(int bottom);

    bool showingFolders() const { return m_folders; }
    void showFiles();
    // Finds the folders when the file rows changed since, then shows them.
    void showFolders();
    // Shows the groups with a file in the folder of `row`, or below it, in
    // the file view.
    void openFolder(int row);
    // Trashes or moves the marked folders, after asking; their file rows
    // leave the file view.
    void actOnMarked(cleanup::ActionKind kind);
    void markSelected(bool mark);
    void unmarkAll();
    // Marks, in every group of identical folders, each folder but the one
    // `rule` keeps (as the folder cleanup of gemmora-cli keeps it), and
    // each contained folder that neither holds nor lies in a marked folder
    // (the cleanup would leave it: its bytes would count twice). Groups the rule cannot decide (no
    // folder in the rule's folder, none whose name matches) keep their marks. False when cancelled
    // or when there is nothing to mark.
    bool markByRule(const cleanup::KeepRule& rule);
    // Asks for the folder or the masks a rule needs, then marks by it.
    void markByRuleAsking(cleanup::KeepRule::Kind kind);
    void openInFileManager(int row);
    void copyPaths(int row);
    QMenu* buildMenu(int row, QWidget* parent);
    // "Marked: 2 folders, 1,234 bytes", or "" when none is marked.
    QString marksText() const;
    // What the folder view says when it has no rows: why.
    QString emptyText() const;

signals:
    void viewChanged(bool folders);
    // A folder's mark was set or cleared, or the marked folders went.
    void marksChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The file groups as classes of paths, and how many file rows lie in
    // each folder the result names, the way the list stands now.
    std::vector<std::vector<std::string>> fileClasses() const;
    void findFolders();
    // Takes out what the file rows that went since the folders were found,
    // and the folders a cleanup took away, may have made untrue: a folder
    // gone, holding one that went or having lost a file row leaves its
    // group, and a group left with one folder goes; a contained folder that
    // is gone or changed goes, and so does one whose holders changed unless
    // the file rows show its copies still there (a holder that went gives
    // way to the folder identical to it that stayed).
    void dropTouched(const std::vector<GoneFolder>& gone = {});
    // Whether, by the file rows as they stand, the files of `c` still have
    // copies outside it: as many in all, and as many in each holder, as
    // its holders name.
    bool copiesStand(const folders::ContainedFolder& c) const;
    // Takes the file rows below the folders that went out of the file view,
    // and the groups left with one file, as a deletion by hand leaves them.
    void removeFileRows(const std::vector<GoneFolder>& gone);
    std::vector<std::int64_t> watchedCounts() const;
    std::vector<int> selectedFolderRows() const;
    void showMenu(const QPoint& at);
    void setShown(bool folders);
    // Header rows across the whole list; the columns as wide as they need.
    void fitRows();

    scanner::TTreeScanner& m_scanner;
    views::TFileListView& m_files;
    ListFilter& m_filter;
    CleanupActions& m_fileCleanup;
    QWidget* m_window;
    review::FileOpener* m_opener;
    scanner::TTreeScanner::Event m_savedFound;
    scanner::TTreeScanner::Event m_savedError;
    std::unique_ptr<folders::FolderFinder> m_finder;
    bool m_following = false;
    bool m_contentsCompared = false;
    bool m_found = false;  // the finder's result is in m_result
    bool m_folders = false;
    folders::FolderResult m_result;
    // The file list's generation when m_counts was taken.
    std::uint64_t m_generation = 0;
    std::vector<std::int64_t> m_counts;
};

}  // namespace app
