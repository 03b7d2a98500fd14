#include "review/FilProps.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include "platform/FolderListing.h"
#include "platform/Text.h"
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
    openFile = [](const std::string& path) {
        return QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
    };
}

void TfrmFileProperties1::showEvent(QShowEvent* event)
{
    TfrmFileProperties::showEvent(event);
    btnView->setEnabled(true);
}

void TfrmFileProperties1::btnViewClick()
{
    // The associated program runs on its own; the dialog does not wait.
    btnView->setEnabled(openFile && openFile(FileName));
}

void TfrmFileProperties1::btnDeleteClick()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const LastCopy lastCopy = lastCopyCheck ? lastCopyCheck(FileName) : LastCopy::No;
    QApplication::restoreOverrideCursor();
    const bool gone = confirmAndDelete(this, FileName, false, lastCopy);
    done(gone ? 6 : 2);
}

}  // namespace review
