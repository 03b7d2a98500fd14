// Adds a folder picked with the mouse to a folder field.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FolderChooser.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QStyle>

#include "text/CommaText.h"
#include "text/Text.h"

namespace app {

FolderChooser::FolderChooser(QLineEdit& field) : QObject(&field), m_field(field)
{
    actChoose = m_field.addAction(m_field.style()->standardIcon(QStyle::SP_DirOpenIcon),
                                  QLineEdit::TrailingPosition);
    actChoose->setText(tr("Choose a folder to add"));
    actChoose->setToolTip(tr("Choose a folder to add to the folders to search"));
    connect(actChoose, &QAction::triggered, this, &FolderChooser::choose);
}

void FolderChooser::addFolder(const std::string& folder)
{
    const std::string item = text::formatCommaText({folder});
    std::string text = text::trim(m_field.text().toStdString());
    while (!text.empty() && text.back() == ',') {
        text.pop_back();
    }
    m_field.setText(QString::fromStdString(text.empty() ? item : text + "," + item));
    // The window reads the field when it is left, as after typing.
    emit m_field.editingFinished();
}

void FolderChooser::choose()
{
    const QString folder = QFileDialog::getExistingDirectory(
        m_field.window(), tr("Choose a folder to search"), QDir::homePath());
    if (!folder.isEmpty()) {
        addFolder(QFile::encodeName(folder).toStdString());
    }
}

}  // namespace app
