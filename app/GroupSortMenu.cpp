// The "Sort groups by" choices: checked, shared by every menu that shows them.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/GroupSortMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QMenu>

#include "views/FileList.h"

namespace app {

namespace {

struct Choice {
    views::GroupOrder order;
    const char* text;
};

const Choice kChoices[] = {
    {views::GroupOrder::BytesBack,
     QT_TRANSLATE_NOOP("app::GroupSortMenu", "&Bytes they would give back")},
    {views::GroupOrder::FileSize, QT_TRANSLATE_NOOP("app::GroupSortMenu", "File &size")},
    {views::GroupOrder::Copies, QT_TRANSLATE_NOOP("app::GroupSortMenu", "Number of &copies")},
    {views::GroupOrder::Newest, QT_TRANSLATE_NOOP("app::GroupSortMenu", "&Newest time")},
    {views::GroupOrder::Oldest, QT_TRANSLATE_NOOP("app::GroupSortMenu", "&Oldest time")},
    {views::GroupOrder::FirstName, QT_TRANSLATE_NOOP("app::GroupSortMenu", "First na&me")},
    {views::GroupOrder::Found, QT_TRANSLATE_NOOP("app::GroupSortMenu", "Order &found")},
};

}  // namespace

GroupSortMenu::GroupSortMenu(views::TFileListView& list, QWidget* parent)
    : QObject(parent), m_list(list), m_menu(new QMenu(tr("Sort &groups by"), parent)),
      m_choices(new QActionGroup(this))
{
    m_choices->setExclusive(true);
    for (const Choice& choice : kChoices) {
        if (choice.order == views::GroupOrder::Found) {
            m_menu->addSeparator();
        }
        QAction* action = m_menu->addAction(tr(choice.text));
        action->setCheckable(true);
        action->setData(static_cast<int>(choice.order));
        m_choices->addAction(action);
        connect(action, &QAction::triggered, this, [this, order = choice.order] {
            // A million rows take a moment: the cursor says so.
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            m_list.sortGroups(order);
            QApplication::restoreOverrideCursor();
        });
    }
    connect(&m_list, &views::TFileListView::groupOrderChanged, this, &GroupSortMenu::showOrder);
    showOrder();
}

QString GroupSortMenu::statusText(views::GroupOrder order)
{
    switch (order) {
    case views::GroupOrder::BytesBack:
        return tr("Groups by bytes given back");
    case views::GroupOrder::FileSize:
        return tr("Groups by file size");
    case views::GroupOrder::Copies:
        return tr("Groups by copies");
    case views::GroupOrder::Newest:
        return tr("Groups by newest time");
    case views::GroupOrder::Oldest:
        return tr("Groups by oldest time");
    case views::GroupOrder::FirstName:
        return tr("Groups by first name");
    case views::GroupOrder::Found:
        break;
    }
    return QString();
}

void GroupSortMenu::setEnabled(bool enabled)
{
    m_menu->setEnabled(enabled);
}

void GroupSortMenu::showOrder()
{
    for (QAction* action : m_choices->actions()) {
        action->setChecked(action->data().toInt() == static_cast<int>(m_list.groupOrder()));
    }
}

}  // namespace app
