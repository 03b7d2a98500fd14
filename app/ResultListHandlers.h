// What clicks, keys and Delete do in the result list, and the tidying of groups left with one file.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include <Qt>

#include "platform/LastCopyCheck.h"

namespace views {
class TFileListView;
}
namespace review {
class TfrmFileProperties1;
}

namespace app {

// What the user does in the result list: click, double-click or Enter to
// review, Delete to delete, and the tidying of groups left with one file.
class ResultListHandlers {
public:
    ResultListHandlers(views::TFileListView& list, review::TfrmFileProperties1& dialog);
    ~ResultListHandlers();
    ResultListHandlers(const ResultListHandlers&) = delete;
    ResultListHandlers& operator=(const ResultListHandlers&) = delete;

    // Whether the listed groups were confirmed by their contents (size
    // rules) rather than by name alone; the last-copy guard says "last
    // remaining file" rather than "last copy" when a group by name has no
    // other file left.
    bool contentsConfirmed = true;
    // Makes "Find Now" the default button (true) or lets Enter reach the list.
    std::function<void(bool)> setSearchDefault;

    // The exact path bytes of the first selected row when it is a file
    // row, else "".
    std::string GetSelectedFilePath() const;
    void FileListView1Click();
    void FileListView1DblClick();
    void FileListView1KeyDown(int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);
    void FileListView1ColumnClick(int column);
    // `start` is a row index, or -1 for none. A group the comparison is
    // still writing is left whole and pruned once it is complete.
    void PruneGroup(int start);
    bool ShellDeleteFile(const std::string& path, bool permanent);

    // The file of `row` and the other files of its group, for the last-copy
    // guard to compare.
    platform::LastCopyQuery lastCopyQueryOf(int row) const;

private:
    views::TFileListView& m_list;
    review::TfrmFileProperties1& m_dialog;
    // A file of the group being written went; prune it once it is whole.
    bool m_pruneWhenClosed = false;
};

}  // namespace app
