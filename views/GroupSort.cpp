// Orders the result list's groups by their values, keeping each group whole.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/GroupSort.h"

#include <algorithm>
#include <string>

#include "platform/FolderListing.h"
#include "text/Text.h"
#include "views/FileListModel.h"

namespace views {

namespace {

using Run = GroupSort::Run;
using GroupKey = GroupSort::Key;

std::vector<Run> runsOf(const FileListModel& rows)
{
    std::vector<Run> runs;
    for (int row = 0; row < rows.size();) {
        Run run{row, row + 1, rows.kind(row) == RowKind::Header};
        if (run.group) {
            while (run.end < rows.size() && rows.kind(run.end) == RowKind::File) {
                ++run.end;
            }
        }
        runs.push_back(run);
        row = run.end;
    }
    return runs;
}

GroupKey keyOf(const FileListModel& rows, const Run& run, int index, GroupOrder order)
{
    GroupKey key;
    key.run = index;
    key.found = rows.foundOrder(run.first);
    key.copies = run.end - run.first - 1;
    bool timed = false;
    for (int row = run.first + 1; row < run.end; ++row) {
        key.size = std::max(key.size, rows.sizeOf(row));
        const std::int64_t time = rows.modifiedOf(row, 0);
        if (rows.hasModified(row)) {
            key.newest = timed ? std::max(key.newest, time) : time;
            key.oldest = timed ? std::min(key.oldest, time) : time;
            timed = true;
        }
    }
    key.bytesBack = key.copies > 1 ? key.size * (key.copies - 1) : 0;
    if (key.copies > 0 && order == GroupOrder::FirstName) {
        key.name = platform::nameOf(rows.caption(run.first + 1));
    }
    return key;
}

// Whether `a` goes before `b`; ties go by the order found.
bool before(const GroupKey& a, const GroupKey& b, GroupOrder order)
{
    const auto by = [&](auto x, auto y) { return x != y ? x < y : a.found < b.found; };
    switch (order) {
    case GroupOrder::BytesBack:
        return by(b.bytesBack, a.bytesBack);
    case GroupOrder::FileSize:
        return by(b.size, a.size);
    case GroupOrder::Copies:
        return by(b.copies, a.copies);
    case GroupOrder::Newest:
        return by(b.newest, a.newest);
    case GroupOrder::Oldest:
        return by(a.oldest, b.oldest);
    case GroupOrder::FirstName: {
        const int names = text::compareFold(a.name, b.name);
        return names != 0 ? names < 0 : a.found < b.found;
    }
    case GroupOrder::Found:
        break;
    }
    return a.found < b.found;
}

}  // namespace

GroupSort::Snapshot GroupSort::snapshot(const FileListModel& rows, GroupOrder order)
{
    Snapshot snapshot;
    snapshot.runs = runsOf(rows);
    snapshot.rows = static_cast<std::size_t>(rows.size());
    for (std::size_t i = 0; i < snapshot.runs.size(); ++i) {
        if (snapshot.runs[i].group) {
            snapshot.keys.push_back(keyOf(rows, snapshot.runs[i], static_cast<int>(i), order));
        }
    }
    return snapshot;
}

std::vector<int> GroupSort::rowOrder(Snapshot snapshot, GroupOrder order)
{
    std::vector<GroupKey>& keys = snapshot.keys;
    std::sort(keys.begin(), keys.end(),
              [order](const GroupKey& a, const GroupKey& b) { return before(a, b, order); });
    std::vector<int> result;
    result.reserve(snapshot.rows);
    std::size_t next = 0;
    for (const Run& run : snapshot.runs) {
        const Run& placed =
            run.group ? snapshot.runs[static_cast<std::size_t>(keys[next++].run)] : run;
        for (int row = placed.first; row < placed.end; ++row) {
            result.push_back(row);
        }
    }
    return result;
}

}  // namespace views
