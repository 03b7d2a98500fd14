// The "Sort groups by" choices of the window's View menu and the list's menu.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include "views/GroupSort.h"

class QAction;
class QActionGroup;
class QMenu;
class QWidget;

namespace views {
class TFileListView;
}

namespace app {

// One set of checked choices, shown in any menu that adds menu(): the check
// mark follows the list's order, however it was chosen. The choices are off
// while `enabled` says no (a search is writing the list).
class GroupSortMenu : public QObject {
    Q_OBJECT
public:
    GroupSortMenu(views::TFileListView& list, QWidget* parent);

    // The submenu, owned by this object's parent widget.
    QMenu* menu() const { return m_menu; }
    // The status bar's words for an order; "" for the order found.
    static QString statusText(views::GroupOrder order);
    // Turns the choices on or off.
    void setEnabled(bool enabled);

private:
    void showOrder();

    views::TFileListView& m_list;
    QMenu* m_menu;
    QActionGroup* m_choices;
};

}  // namespace app
