// What the cache proves about one group of files of a size, and what must still be read.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cache {

// Unsigned numbers in 7-bit groups, low first, for the cache's packed
// columns. getVarint moves `at` past the number; false when it runs past
// `end` or beyond 64 bits.
// getVarint is inline: the cache's load reads five of them for every row.
void putVarint(std::string& out, std::uint64_t value);
inline bool getVarint(const unsigned char*& at, const unsigned char* end, std::uint64_t& value)
{
    value = 0;
    for (int shift = 0; at < end && shift < 64; shift += 7) {
        const unsigned char byte = *at++;
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// The digest of one chunk read after a file's head: bytes [offset,
// offset + length), digested by platform::chunkHash and cut to 32 bits.
// Two unchanged files whose digests differ at the same place differ; equal
// digests prove nothing.
struct ChunkDigest {
    std::int64_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t digest = 0;
};

// The first few chunks read after the head, by offset; held in place, as
// millions of entries may be loaded.
struct ChunkDigests {
    static constexpr std::size_t kMost = 4;
    std::array<ChunkDigest, kMost> at{};
    std::uint8_t count = 0;

    // Adds a chunk unless one at its offset is known or there is no room.
    void add(const ChunkDigest& chunk);
    bool operator==(const ChunkDigests& other) const
    {
        for (std::size_t i = 0; i < count && other.count == count; ++i) {
            if (at[i].offset != other.at[i].offset || at[i].length != other.at[i].length ||
                at[i].digest != other.at[i].digest) {
                return false;
            }
        }
        return other.count == count;
    }
    // Whether a chunk at the same place has another digest in `other`.
    bool differsFrom(const ChunkDigests& other) const;
    // The chunks of this and then of `older` not at a place of this.
    ChunkDigests with(const ChunkDigests& older) const;
    // A compact form for the cache file, and back; false when `bytes` are
    // not such a form.
    std::string encode() const;
    static bool decode(const void* bytes, std::size_t length, ChunkDigests& out);
};

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
    // Chunks read after the head.
    ChunkDigests chunks;
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
// another file shares their digest and its chunk digests do not show it
// different from that file; a file alone in its part is never read.
GroupPlan planGroup(const std::vector<Known>& files, const std::vector<std::int64_t>& parts);

}  // namespace cache
