#include "app/ResultListHandlers.h"

#include "platform/FolderListing.h"
#include "platform/Text.h"
#include "review/FilProps.h"
#include "review/LastCopyGuard.h"
#include "views/FileList.h"

namespace app {

namespace {

const char kHeader[] = "Duplicate files .....";
const char kReviewHint[] = "Double-click a file to review";

}  // namespace

ResultListHandlers::ResultListHandlers(views::TFileListView& list,
                                       review::TfrmFileProperties1& dialog)
    : m_list(list), m_dialog(dialog)
{
}

std::string ResultListHandlers::GetSelectedFilePath() const
{
    const QTreeWidgetItem* row = m_list.firstSelected();
    if (row == nullptr) {
        return "";
    }
    // The path keeps its bytes: a Linux name may begin or end with blanks.
    const std::string caption = views::TFileListView::captionOf(row);
    const std::string trimmed = platform::trim(caption);
    if (trimmed.empty() || platform::contains(trimmed, kHeader)) {
        return "";
    }
    return caption;
}

void ResultListHandlers::FileListView1Click()
{
    const std::string path = GetSelectedFilePath();
    if (!path.empty()) {
        m_list.setHint(QString::fromStdString(platform::displayName(path)));
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
    QTreeWidgetItem* selected = m_list.firstSelected();
    QTreeWidgetItem* above = m_list.rowAbove(selected);
    if (platform::fileExists(path)) {
        m_dialog.FileName = path;
        m_dialog.lastCopyQuery = [this, selected](const std::string&) {
            return lastCopyQueryOf(selected);
        };
        const int result = m_dialog.exec();
        m_dialog.lastCopyQuery = nullptr;
        if (result == 6) {
            m_list.deleteRow(selected);
        }
    } else {
        m_list.deleteRow(selected);
    }
    PruneGroup(above);
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
    QTreeWidgetItem* selected = m_list.firstSelected();
    QTreeWidgetItem* above = m_list.rowAbove(selected);
    // Permanent only for Shift alone: no Ctrl, no Alt, no mouse button.
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    const bool permanent = held == Qt::ShiftModifier && buttons == Qt::NoButton;
    if (review::deleteWithLastCopyGuard(&m_list, lastCopyQueryOf(selected), permanent)) {
        m_list.deleteRow(selected);
    }
    PruneGroup(above);
}

void ResultListHandlers::FileListView1ColumnClick(int)
{
    // The rows, and with them the groups, stay in the order they were added.
}

bool ResultListHandlers::ShellDeleteFile(const std::string& path, bool permanent)
{
    return review::confirmAndDelete(&m_list, path, permanent, review::LastCopy::No);
}

void ResultListHandlers::PruneGroup(QTreeWidgetItem* start)
{
    if (start != nullptr && m_list.indexOfRow(start) >= 0) {
        QTreeWidgetItem* header = start;
        while (header != nullptr &&
               !platform::contains(views::TFileListView::captionOf(header), kHeader)) {
            header = m_list.rowAbove(header);
        }
        if (header != nullptr) {
            int count = 0;
            QTreeWidgetItem* last = nullptr;
            QTreeWidgetItem* next = m_list.rowBelow(header);
            while (next != nullptr && !views::TFileListView::captionOf(next).empty()) {
                ++count;
                last = next;
                next = m_list.rowBelow(next);
            }
            if (count == 1) {
                if (next != nullptr) {
                    m_list.deleteRow(next);
                }
                m_list.deleteRow(last);
                m_list.deleteRow(header);
            }
        }
    }
    m_list.setHint(QString::fromLatin1(kReviewHint));
}

platform::LastCopyQuery ResultListHandlers::lastCopyQueryOf(QTreeWidgetItem* row) const
{
    platform::LastCopyQuery query;
    query.path = views::TFileListView::captionOf(row);
    query.byName = !contentsConfirmed;
    QTreeWidgetItem* header = row;
    while (header != nullptr &&
           !platform::contains(views::TFileListView::captionOf(header), kHeader)) {
        header = m_list.rowAbove(header);
    }
    for (QTreeWidgetItem* next = header != nullptr ? m_list.rowBelow(header) : nullptr;
         next != nullptr && !views::TFileListView::captionOf(next).empty();
         next = m_list.rowBelow(next)) {
        if (next != row) {
            query.others.push_back(views::TFileListView::captionOf(next));
        }
    }
    return query;
}

}  // namespace app
