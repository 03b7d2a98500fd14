// Applies the filter field's text and the chosen folder to the result list.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ListFilter.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QTimer>

#include "platform/FolderListing.h"
#include "text/Text.h"
#include "views/FileList.h"

namespace app {

ListFilter::ListFilter(views::TFileListView& list, QWidget* window)
    : QObject(window), edtFilter(new QLineEdit(window)), m_list(list), m_typing(new QTimer(this))
{
    edtFilter->setPlaceholderText(tr("Filter by path (Ctrl+F)"));
    edtFilter->setAccessibleName(tr("Filter"));
    edtFilter->setToolTip(tr("Shows only the groups with a file whose path contains this text. "
                             "Marking by a rule and the cleanup act only on the groups shown."));
    edtFilter->setClearButtonEnabled(true);
    m_typing->setSingleShot(true);
    m_typing->setInterval(250);
    connect(edtFilter, &QLineEdit::textEdited, m_typing, qOverload<>(&QTimer::start));
    // The clear button empties the field without an edit of the user's.
    connect(edtFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty()) {
            apply();
        }
    });
    edtFilter->installEventFilter(this);
    connect(m_typing, &QTimer::timeout, this, &ListFilter::apply);
    connect(&m_list, &views::TFileListView::filterChanged, this, [this] {
        // A new search clears the filter: the field follows.
        if (m_list.filter().empty() && !edtFilter->text().isEmpty()) {
            edtFilter->clear();
        }
        emit shownChanged();
    });
}

bool ListFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edtFilter && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            apply();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ListFilter::apply()
{
    m_typing->stop();
    views::GroupFilter filter = m_list.filter();
    filter.text = edtFilter->text().toStdString();
    if (filter.text != m_list.filter().text) {
        m_list.setFilter(filter);
    }
}

void ListFilter::showFolder(const std::string& folder, bool below)
{
    views::GroupFilter filter = m_list.filter();
    filter.text = edtFilter->text().toStdString();
    filter.folder = folder;
    filter.below = below && !folder.empty();
    while (filter.folder.size() > 1 && filter.folder.back() == '/') {
        filter.folder.pop_back();
    }
    m_list.setFilter(filter);
}

void ListFilter::clear()
{
    m_typing->stop();
    edtFilter->blockSignals(true);
    edtFilter->clear();
    edtFilter->blockSignals(false);
    m_list.setFilter(views::GroupFilter());
}

QString ListFilter::shownText() const
{
    const views::GroupFilter& filter = m_list.filter();
    if (filter.empty()) {
        return QString();
    }
    const views::ShownCounts counts = m_list.shownCounts();
    const QLocale locale;
    QString text = tr("Shown: %1 of %2 groups, %3 of %4 files")
                       .arg(locale.toString(counts.groups), locale.toString(counts.allGroups),
                            locale.toString(counts.files), locale.toString(counts.allFiles));
    if (!filter.folder.empty()) {
        text += (filter.below ? tr(", in %1 and below") : tr(", in %1"))
                    .arg(QString::fromStdString(text::displayName(filter.folder)));
    }
    return text;
}

void ListFilter::addToMenu(QMenu& menu, int row)
{
    const bool fileRow = row >= 0 && row < m_list.rowCount() &&
                         m_list.kindOf(row) == views::RowKind::File && edtFilter->isEnabled();
    QAction* folder = menu.addAction(tr("Only groups with a file in this f&older"));
    folder->setEnabled(fileRow);
    if (fileRow) {
        const std::string in(platform::folderOf(m_list.captionOf(row)));
        connect(folder, &QAction::triggered, this, [this, in] { showFolder(in); });
    }
    QAction* all = menu.addAction(tr("&Show all groups"));
    all->setEnabled(!m_list.filter().empty());
    connect(all, &QAction::triggered, this, &ListFilter::clear);
}

void ListFilter::setEnabled(bool enabled)
{
    edtFilter->setEnabled(enabled);
}

}  // namespace app
