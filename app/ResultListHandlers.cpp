// What clicks, keys and Delete do in the result list, and the tidying of groups left with one file.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ResultListHandlers.h"

#include <QPersistentModelIndex>

#include "platform/FolderListing.h"
#include "text/Text.h"
#include "review/FilProps.h"
#include "review/LastCopyGuard.h"
#include "views/FileList.h"

namespace app {

namespace {

const char kReviewHint[] = "Double-click a file to review";

}  // namespace

ResultListHandlers::ResultListHandlers(views::TFileListView& list,
                                       review::TfrmFileProperties1& dialog)
    : m_list(list), m_dialog(dialog)
{
    m_list.OnGroupClosed = [this](int header) {
        if (m_pruneWhenClosed) {
            m_pruneWhenClosed = false;
            PruneGroup(header);
        }
    };
}

ResultListHandlers::~ResultListHandlers()
{
    m_list.OnGroupClosed = nullptr;
}

std::string ResultListHandlers::GetSelectedFilePath() const
{
    const int row = m_list.firstSelected();
    // A row is a file row by its kind: a file's name may read like a header.
    if (row < 0 || m_list.kindOf(row) != views::RowKind::File) {
        return "";
    }
    // The path keeps its bytes: a Linux name may begin or end with blanks.
    std::string caption = m_list.captionOf(row);
    if (text::trimView(caption).empty()) {
        return "";
    }
    return caption;
}

void ResultListHandlers::FileListView1Click()
{
    const std::string path = GetSelectedFilePath();
    if (!path.empty()) {
        m_list.setHint(QString::fromStdString(text::displayName(path)));
    } else {
        m_list.setHint(QString::fromLatin1(kReviewHint));
    }
    if (setSearchDefault) {
        setSearchDefault(path.empty());
    }
}

void ResultListHandlers::FileListView1DblClick()
{
    const std::string path = GetSelectedFilePath();
    if (path.empty()) {
        return;
    }
    // Rows are remembered by persistent indexes, which follow them while the
    // dialog is open.
    const int first = m_list.firstSelected();
    const QPersistentModelIndex selected = m_list.model()->index(first, 0);
    const QPersistentModelIndex above = m_list.model()->index(first - 1, 0);
    if (platform::fileExists(path)) {
        m_dialog.FileName = path;
        m_dialog.lastCopyQuery = [this, selected](const std::string&) {
            return lastCopyQueryOf(selected.isValid() ? selected.row() : -1);
        };
        const int result = m_dialog.exec();
        m_dialog.lastCopyQuery = nullptr;
        if (result == 6 && selected.isValid()) {
            m_list.deleteRow(selected.row());
        }
    } else {
        m_list.deleteRow(selected.row());
    }
    PruneGroup(above.isValid() ? above.row() : -1);
}

void ResultListHandlers::FileListView1KeyDown(int key, Qt::KeyboardModifiers modifiers,
                                              Qt::MouseButtons buttons)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        FileListView1DblClick();
        return;
    }
    if (key != Qt::Key_Delete) {
        return;
    }
    const std::string path = GetSelectedFilePath();
    if (path.empty()) {
        return;
    }
    const int first = m_list.firstSelected();
    const QPersistentModelIndex selected = m_list.model()->index(first, 0);
    const QPersistentModelIndex above = m_list.model()->index(first - 1, 0);
    // Permanent only for Shift alone: no Ctrl, no Alt, no mouse button.
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    const bool permanent = held == Qt::ShiftModifier && buttons == Qt::NoButton;
    if (review::deleteWithLastCopyGuard(&m_list, lastCopyQueryOf(first), permanent) &&
        selected.isValid()) {
        m_list.deleteRow(selected.row());
    }
    PruneGroup(above.isValid() ? above.row() : -1);
}

void ResultListHandlers::FileListView1ColumnClick(int)
{
    // The rows, and with them the groups, stay in the order they were added.
}

bool ResultListHandlers::ShellDeleteFile(const std::string& path, bool permanent)
{
    return review::confirmAndDelete(&m_list, path, permanent, review::LastCopy::No);
}

void ResultListHandlers::PruneGroup(int start)
{
    const views::TFileListView::Group group = m_list.groupAround(start);
    if (group.header >= 0 && group.header == m_list.openGroup()) {
        // More files of this group may follow: removing its header now would
        // leave them under the group before.
        m_pruneWhenClosed = true;
    } else if (group.header >= 0 && group.end - group.first == 1) {
        // The separator after the group, its one file, its header.
        if (group.end < m_list.rowCount() &&
            m_list.kindOf(group.end) == views::RowKind::Separator) {
            m_list.deleteRow(group.end);
        }
        m_list.deleteRow(group.first);
        m_list.deleteRow(group.header);
    }
    m_list.setHint(QString::fromLatin1(kReviewHint));
}

platform::LastCopyQuery ResultListHandlers::lastCopyQueryOf(int row) const
{
    platform::LastCopyQuery query;
    query.path = m_list.captionOf(row);
    query.byName = !contentsConfirmed;
    const views::TFileListView::Group group = m_list.groupAround(row);
    for (int next = group.first; group.header >= 0 && next < group.end; ++next) {
        if (next != row) {
            query.others.push_back(m_list.captionOf(next));
        }
    }
    return query;
}

}  // namespace app
