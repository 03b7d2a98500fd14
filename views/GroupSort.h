// The orders the result list's groups can be shown in, and the row order each gives.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
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
    // A run of rows that moves as one: a group, or a row between groups.
    struct Run {
        int first = 0;
        int end = 0;
        bool group = false;
    };
    // What a group is compared by.
    struct Key {
        int run = 0;  // index into the runs
        std::uint32_t found = 0;
        std::int64_t size = 0;
        std::int64_t bytesBack = 0;
        std::int64_t newest = 0;
        std::int64_t oldest = 0;
        int copies = 0;
        std::string name;  // for the order by first name only
    };
    // The values an order is worked out from, copied out of the rows: the
    // order can then be worked out on another thread while the rows stay
    // with the window's.
    struct Snapshot {
        std::vector<Run> runs;
        std::vector<Key> keys;
        std::size_t rows = 0;
    };

    static Snapshot snapshot(const FileListModel& rows, GroupOrder order);
    // The old row of each new row, for FileListModel::reorderRows. Touches
    // nothing but the snapshot.
    static std::vector<int> rowOrder(Snapshot snapshot, GroupOrder order);
    static std::vector<int> rowOrder(const FileListModel& rows, GroupOrder order)
    {
        return rowOrder(snapshot(rows, order), order);
    }
};

}  // namespace views
