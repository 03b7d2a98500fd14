// Builds the main window's menu bar.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainMenu.h"

#include "app/GroupSortMenu.h"

namespace app {

MainMenu::MainMenu(GroupSortMenu& sortMenu, QWidget* parent) : QMenuBar(parent)
{
    mnuView = addMenu(tr("&View"));
    mnuView->addMenu(sortMenu.menu());
}

}  // namespace app
