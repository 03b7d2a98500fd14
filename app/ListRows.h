// The result list's rows as the list files read them.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/ResultLines.h"
#include "views/FileList.h"

namespace app {

// Hands the list files each row's caption and texts, one row at a time.
class ListRows : public settings::ResultRowSource {
public:
    explicit ListRows(const views::TFileListView& list) : m_list(list) {}
    std::size_t rowCount() const override { return static_cast<std::size_t>(m_list.rowCount()); }
    void readRow(std::size_t index, settings::ResultRow& row) const override
    {
        const views::FileListModel& rows = m_list.rows();
        const int i = static_cast<int>(index);
        row.caption.assign(rows.caption(i));
        row.subItems.resize(static_cast<std::size_t>(rows.subItemCount(i)));
        for (int n = 0; n < rows.subItemCount(i); ++n) {
            row.subItems[static_cast<std::size_t>(n)].assign(rows.subItem(i, n));
        }
    }

private:
    const views::TFileListView& m_list;
};

}  // namespace app
