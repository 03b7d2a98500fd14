// Builds the main window's menu bar and wires each choice to the part that does it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainMenu.h"

#include <QAction>
#include <QMessageBox>

#include "app/GroupSortMenu.h"
#include "app/HelpWindow.h"
#include "app/ListFiles.h"
#include "views/FileList.h"

namespace app {

MainMenu::MainMenu(GroupSortMenu& sortMenu, ListFiles& lists, views::TFileListView& list,
                   QWidget* window)
    : QMenuBar(window)
{
    const auto add = [window](QMenu* menu, const QString& text, const QKeySequence& keys) {
        QAction* action = menu->addAction(text);
        action->setShortcut(keys);
        // The key works wherever the focus is in the window.
        window->addAction(action);
        return action;
    };
    // The titles' Alt keys are letters the window's designed captions leave
    // free; every letter of "Edit" is taken, so it is reached from the File
    // menu with the arrow keys.
    mnuFile = addMenu(tr("Fi&le"));
    actSaveAs = add(mnuFile, tr("&Save list as..."), QKeySequence(Qt::CTRL | Qt::Key_S));
    actOpen = add(mnuFile, tr("&Open list..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuRecent = mnuFile->addMenu(tr("&Recent lists"));
    mnuFile->addSeparator();
    actExportCsv = add(mnuFile, tr("Export as &CSV..."), QKeySequence());
    actExportJson = add(mnuFile, tr("Export as &JSON..."), QKeySequence());
    mnuFile->addSeparator();
    actExit = add(mnuFile, tr("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(actSaveAs, &QAction::triggered, &lists, &ListFiles::chooseSaveAs);
    connect(actOpen, &QAction::triggered, &lists, &ListFiles::chooseOpen);
    connect(actExportCsv, &QAction::triggered, &lists,
            [&lists] { lists.chooseExport(ListFiles::Format::Csv); });
    connect(actExportJson, &QAction::triggered, &lists,
            [&lists] { lists.chooseExport(ListFiles::Format::Json); });
    connect(actExit, &QAction::triggered, window, &QWidget::close);
    connect(mnuFile, &QMenu::aboutToShow, &lists, [this, &lists] {
        const bool idle = !lists.idle || lists.idle();
        actOpen->setEnabled(idle);
        lists.fillRecent(mnuRecent);
        mnuRecent->setEnabled(idle && !mnuRecent->isEmpty());
    });

    mnuEdit = addMenu(tr("Edit"));
    actFind = add(mnuEdit, tr("&Filter the list"), QKeySequence(Qt::CTRL | Qt::Key_F));
    // No key of its own: Ctrl+A already selects every row in the list.
    actSelectAll = add(mnuEdit, tr("Select &all rows"), QKeySequence());
    connect(actSelectAll, &QAction::triggered, &list, [&list] {
        list.showPendingRows();
        list.selectAll();
        list.setFocus();
    });
    mnuView = addMenu(tr("&View"));
    mnuView->addMenu(sortMenu.menu());
    mnuHelp = addMenu(tr("&Help"));
    actContents = add(mnuHelp, tr("&Contents"), QKeySequence(Qt::Key_F1));
    connect(actContents, &QAction::triggered, this, &MainMenu::showHelp);
    mnuHelp->addSeparator();
    actAbout = add(mnuHelp, tr("&About Gemmora"), QKeySequence());
    connect(actAbout, &QAction::triggered, this, &MainMenu::showAbout);
}

void MainMenu::showHelp()
{
    // One help window, brought to the front when asked for again.
    auto* help = parentWidget()->findChild<HelpWindow*>();
    if (help == nullptr) {
        help = new HelpWindow(version, parentWidget());
    }
    help->show();
    help->raise();
    help->activateWindow();
}

void MainMenu::showAbout()
{
    QMessageBox::about(
        parentWidget(), tr("About Gemmora"),
        tr("<p><b>Gemmora</b> version %1</p>"
           "<p>Finds files with identical contents, confirms every duplicate byte for byte, "
           "and helps you clean them up.</p>"
           "<p>Gemmora is free software: you can redistribute it and/or modify it under the "
           "terms of the GNU General Public License as published by the Free Software "
           "Foundation, either version 3 of the License, or (at your option) any later version "
           "(GPL-3.0-or-later).</p>"
           "<p>It is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; "
           "without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR "
           "PURPOSE. See the GNU General Public License for more details.</p>")
            .arg(version.toHtmlEscaped()));
}

}  // namespace app
