// The main window's menu bar, beside its designed buttons.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenuBar>

namespace app {

class GroupSortMenu;

// File, Edit, View and Help. The menus only reach what the window already
// does; each choice is a public action so the window and tests can wire it.
class MainMenu : public QMenuBar {
    Q_OBJECT
public:
    MainMenu(GroupSortMenu& sortMenu, QWidget* parent);

    QMenu* mnuView;
};

}  // namespace app
