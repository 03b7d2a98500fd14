// Test helper: a home of its own for the program under test.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "app/MainForm.h"
#include "support/TempFolder.h"

// Settings, lists and the trash of the program under test go below `home`,
// never into the real home folder.
inline void useTestHome(const TempFolder& home)
{
    qputenv("HOME", QByteArray::fromStdString(home.path()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home / "config"));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home / "data"));
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(home / "cache"));
}

// A main window whose list files live in `lists`, with its drives listed
// (the start timer's work, reload questions included) and its root folder
// set to `root`, comparing contents whatever the file times. Its cleanup
// journals go beside the lists, so no test undoes another run's cleanup.
template <typename Form = app::TfrmMain>
std::unique_ptr<Form> makeTestForm(const TempFolder& lists, const std::string& root)
{
    auto form = std::make_unique<Form>();
    form->ResultListFile = lists / "Kelvarin.lis";
    form->SkipListFile = lists / "SkipDupl.lis";
    form->NewListFile = lists / "NewDupl.lis";
    form->cleanupActions->journalFolder = lists.path();
    form->Timer1Timer();
    form->edtRootDir->setText(QString::fromStdString(root));
    form->chkCheckFileTimestamp->setChecked(false);
    return form;
}
