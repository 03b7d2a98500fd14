// The result list's properties dialog, with View and Delete.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/FilProps.h"

#include <QMessageBox>

#include "platform/FolderListing.h"
#include "text/Text.h"
#include "review/LastCopyGuard.h"
#include "views/FocusStyle.h"

namespace review {

TfrmFileProperties1::TfrmFileProperties1(QWidget* parent) : TfrmFileProperties(parent)
{
    btnView = new QPushButton(tr("&View"));
    btnDelete = new QPushButton(tr("&Delete"));
    btnView->setFixedWidth(btnOK->sizeHint().width());
    btnDelete->setFixedWidth(btnOK->sizeHint().width());
    btnView->setAutoDefault(false);
    btnDelete->setAutoDefault(false);
    views::showKeyboardFocus(btnView);
    views::showKeyboardFocus(btnDelete);
    buttonRow->insertWidget(0, btnView);
    buttonRow->insertWidget(1, btnDelete);
    connect(btnView, &QPushButton::clicked, this, &TfrmFileProperties1::btnViewClick);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmFileProperties1::btnDeleteClick);
    opener = new FileOpener(this);
    connect(opener, &FileOpener::failed, this, &TfrmFileProperties1::viewFailed);
}

void TfrmFileProperties1::showEvent(QShowEvent* event)
{
    TfrmFileProperties::showEvent(event);
    btnView->setEnabled(true);
}

void TfrmFileProperties1::btnViewClick()
{
    // The associated program runs on its own; the dialog does not wait.
    QString reason;
    if (!opener->open(FileName, reason)) {
        viewFailed(QByteArray::fromStdString(FileName), reason);
    }
}

void TfrmFileProperties1::viewFailed(const QByteArray& path, const QString& reason)
{
    const bool showing = isVisible() && FileName == path.toStdString();
    if (showing) {
        btnView->setEnabled(false);
    }
    QMessageBox::warning(
        isVisible() ? static_cast<QWidget*>(this) : parentWidget(), tr("Gemmora - view file"),
        tr("Nothing could open this file:") + "\n" +
            QString::fromStdString(text::displayName(path.toStdString())) + "\n\n" + reason);
}

void TfrmFileProperties1::btnDeleteClick()
{
    const bool gone = lastCopyQuery ? deleteWithLastCopyGuard(this, lastCopyQuery(FileName), false)
                                    : confirmAndDelete(this, FileName, false, LastCopy::No);
    done(gone ? 6 : 2);
}

}  // namespace review
