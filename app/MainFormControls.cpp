// The main window's controls: the search fields and buttons, the rule pages, the list and status bar, and their places.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <limits>

#include <QVBoxLayout>

#include "app/MainForm.h"
#include "app/FolderView.h"
#include "app/MainFormCommon.h"

namespace app {

void TfrmMain::createSearchControls()
{
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
}

void TfrmMain::createRulePages()
{
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
    chkIncludeHiddenFolders = new QCheckBox(tr("Incl&ude hidden folders"));
    chkIncludeHiddenFolders->setToolTip(
        tr("Check to also search folders whose names begin with a dot (hidden files in the "
           "folders searched are always included)"));
    chkCheckFilesize = new QCheckBox(tr("Require sam&e size"));
    chkCheckFilesize->setToolTip(tr("Uncheck if file contents do not matter"));
    chkUseCache = new QCheckBox(tr("Use the &cache"));
    chkUseCache->setToolTip(tr("Uncheck to read every file again; duplicates are always "
                               "confirmed byte for byte"));
    // The designed states, before the settings are read.
    for (QCheckBox* box : {chkCheckFileTimestamp, chkSkipEmptyFiles, chkFloppyIsMaster,
                           chkSkipSysbckup, chkSkipDesktopFolders, chkSkipTrashFolders,
                           chkCheckFilesize, chkUseCache}) {
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
                           chkSkipTrashFolders, chkIncludeHiddenFolders, chkCheckFilesize,
                           chkUseCache}) {
        advanced->addWidget(box);
    }
    advanced->addStretch(1);
}

void TfrmMain::createListAndStatusBar()
{
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
}

void TfrmMain::placeControls()
{
    // The rule pages must hold their captions in whatever font the desktop
    // uses, so they may be wider than designed.
    int pageWidth = 155;
    for (QCheckBox* box :
         {chkCheckFileTimestamp, chkCheckFilename, chkSkipEmptyFiles, chkFloppyIsMaster,
          chkSkipSysbckup, chkSkipDesktopFolders, chkSkipTrashFolders, chkIncludeHiddenFolders,
          chkCheckFilesize, chkUseCache}) {
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

}  // namespace app
