// What the cache proves about one group of files of a size, and what must still be read.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cache {

// What the cache holds of one file, as far as it can be trusted.
struct Known {
    // An entry whose key (file system, inode, size, times) matches the
    // file as the walk saw it; nothing else below counts without it.
    bool trusted = false;
    // The class of contents the file was confirmed identical to; 0: none.
    std::int64_t classId = 0;
    // The digest of the file's first headLength bytes; 0: not read.
    std::uint32_t headLength = 0;
    std::uint64_t head = 0;
    // The grouping value of those bytes (the head sum); -1: unknown.
    std::int32_t headSum = -1;
};

// How a group is read: a file that the cache shows identical to a file read
// (or settled) stands with it and is not read; a file the cache shows
// different from every other file of its part is not read at all.
struct GroupPlan {
    // For each file, the index of the file it stands with (itself when it
    // stands for itself).
    std::vector<std::size_t> standsWith;
    // For each file, whether it must be read.
    std::vector<bool> read;
};

// `parts`: files of different parts are never compared (the same-time
// rule); empty means one part. Files confirmed identical earlier ride with
// the first of them in their part. Of the files left, those of a part whose
// files all have trusted head digests of one length are read only where
// another file shares their digest; a file alone in its part is never read.
GroupPlan planGroup(const std::vector<Known>& files, const std::vector<std::int64_t>& parts);

}  // namespace cache
