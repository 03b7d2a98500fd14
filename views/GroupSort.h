// The orders the result list's groups can be shown in, and the row order each gives.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace views {

class FileListModel;

// How the groups of the result list follow each other. Found is the order
// the search wrote them in, the list's own.
enum class GroupOrder : std::uint8_t {
    Found,
    BytesBack,  // the bytes the group would give back, most first
    FileSize,   // the size of one file, largest first
    Copies,     // the number of files, most first
    Newest,     // the newest file's time, newest first
    Oldest,     // the oldest file's time, oldest first
    FirstName,  // the first file's name, without regard to case
};

// Puts the groups of a list in an order. A group is a header row and the
// file rows under it, and it moves whole, its files in their order; every
// other row (a separator between groups) keeps its place between groups.
// Groups that compare equal keep the order they were found in.
class GroupSort {
public:
    // The old row of each new row, for FileListModel::reorderRows.
    static std::vector<int> rowOrder(const FileListModel& rows, GroupOrder order);
};

}  // namespace views
