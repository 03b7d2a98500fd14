// The main window's menu bar, beside its designed buttons.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenuBar>

namespace views {
class TFileListView;
}

namespace app {

class GroupSortMenu;
class ListFiles;

// File, Edit, View and Help. The menus only reach what the window and its
// parts already do; each choice is a public action, so tests reach it, and
// its key works anywhere in the window.
class MainMenu : public QMenuBar {
    Q_OBJECT
public:
    MainMenu(GroupSortMenu& sortMenu, ListFiles& lists, views::TFileListView& list,
             QWidget* window);

    // The program's version, for the About box.
    QString version;

    QMenu* mnuFile;
    QAction* actSaveAs;
    QAction* actOpen;
    QMenu* mnuRecent;
    QAction* actExportCsv;
    QAction* actExportJson;
    QAction* actExit;
    QMenu* mnuEdit;
    QAction* actFind;
    QAction* actSelectAll;
    QMenu* mnuView;
    QMenu* mnuHelp;
    QAction* actContents;
    QAction* actAbout;

private:
    void showAbout();
    void showHelp();
};

}  // namespace app
