// What the cache proves about one group of files of a size, and what must still be read.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cache/Reuse.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <utility>

namespace cache {

void ChunkDigests::add(const ChunkDigest& chunk)
{
    if (count == kMost) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (at[i].offset == chunk.offset) {
            return;
        }
    }
    at[count++] = chunk;
}

bool ChunkDigests::differsFrom(const ChunkDigests& other) const
{
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = 0; j < other.count; ++j) {
            if (at[i].offset == other.at[j].offset && at[i].length == other.at[j].length &&
                at[i].digest != other.at[j].digest) {
                return true;
            }
        }
    }
    return false;
}

ChunkDigests ChunkDigests::with(const ChunkDigests& older) const
{
    ChunkDigests both = *this;
    for (std::size_t i = 0; i < older.count; ++i) {
        both.add(older.at[i]);
    }
    return both;
}

void putVarint(std::string& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

std::string ChunkDigests::encode() const
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        putVarint(out, static_cast<std::uint64_t>(at[i].offset));
        putVarint(out, at[i].length);
        for (int b = 0; b < 4; ++b) {
            out.push_back(static_cast<char>(at[i].digest >> (8 * b)));
        }
    }
    return out;
}

bool ChunkDigests::decode(const void* bytes, std::size_t length, ChunkDigests& out)
{
    out = ChunkDigests();
    const auto* at = static_cast<const unsigned char*>(bytes);
    const unsigned char* end = at + length;
    while (at < end) {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        if (out.count == kMost || !getVarint(at, end, offset) || !getVarint(at, end, size) ||
            end - at < 4 || offset > static_cast<std::uint64_t>(INT64_MAX) || size > UINT32_MAX) {
            return false;
        }
        ChunkDigest chunk;
        chunk.offset = static_cast<std::int64_t>(offset);
        chunk.length = static_cast<std::uint32_t>(size);
        for (int b = 0; b < 4; ++b) {
            chunk.digest |= static_cast<std::uint32_t>(*at++) << (8 * b);
        }
        out.at[out.count++] = chunk;
    }
    return true;
}

namespace {

// Files of equal heads compared pairwise by their chunk digests, up to
// this many; more are read.
constexpr std::size_t kPairwise = 256;

std::int64_t partOf(const std::vector<std::int64_t>& parts, std::size_t i)
{
    return parts.empty() ? 0 : parts[i];
}

// The files standing for themselves, by part and then by index; each other
// file stands with the first file of its class in its part. Sorted index
// lists rather than maps: a cached search plans every group.
std::vector<std::size_t> unitsByPart(const std::vector<Known>& files,
                                     const std::vector<std::int64_t>& parts,
                                     std::vector<std::size_t>& standsWith)
{
    std::vector<std::size_t> classed;
    for (std::size_t i = 0; i < files.size(); ++i) {
        standsWith[i] = i;
        if (files[i].trusted && files[i].classId != 0) {
            classed.push_back(i);
        }
    }
    const auto partAndClass = [&](std::size_t i) {
        return std::pair{partOf(parts, i), files[i].classId};
    };
    std::sort(classed.begin(), classed.end(), [&](std::size_t a, std::size_t b) {
        return std::pair{partAndClass(a), a} < std::pair{partAndClass(b), b};
    });
    for (std::size_t k = 1; k < classed.size(); ++k) {
        if (partAndClass(classed[k]) == partAndClass(classed[k - 1])) {
            standsWith[classed[k]] = standsWith[classed[k - 1]];
        }
    }
    std::vector<std::size_t> units;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (standsWith[i] == i) {
            units.push_back(i);
        }
    }
    if (!parts.empty()) {
        std::stable_sort(units.begin(), units.end(), [&](std::size_t a, std::size_t b) {
            return partOf(parts, a) < partOf(parts, b);
        });
    }
    return units;
}

// Whether every file of a part has a trusted head digest of one length.
bool headsKnown(const std::vector<Known>& files, const std::vector<std::size_t>& units)
{
    const std::uint32_t length = files[units.front()].headLength;
    return length != 0 && std::all_of(units.begin(), units.end(), [&](std::size_t i) {
               return files[i].trusted && files[i].headLength == length;
           });
}

// Files of one head: different digests at the same place prove different
// bytes; equal ones prove nothing, so a file is read unless its chunks show
// it different from every other.
void markToRead(const std::vector<Known>& files, const std::vector<std::size_t>& same,
                std::vector<bool>& read)
{
    for (std::size_t i : same) {
        bool alone = same.size() < 2;
        if (!alone && same.size() <= kPairwise) {
            alone = std::all_of(same.begin(), same.end(), [&](std::size_t j) {
                return j == i || files[i].chunks.differsFrom(files[j].chunks);
            });
        }
        read[i] = !alone;
    }
}

}  // namespace

GroupPlan planGroup(const std::vector<Known>& files, const std::vector<std::int64_t>& parts)
{
    GroupPlan plan;
    plan.standsWith.resize(files.size());
    plan.read.assign(files.size(), false);
    const std::vector<std::size_t> units = unitsByPart(files, parts, plan.standsWith);
    std::vector<std::size_t> part;
    std::vector<std::size_t> same;
    for (std::size_t begin = 0; begin < units.size();) {
        std::size_t end = begin + 1;
        while (end < units.size() && partOf(parts, units[end]) == partOf(parts, units[begin])) {
            ++end;
        }
        part.assign(units.begin() + static_cast<std::ptrdiff_t>(begin),
                    units.begin() + static_cast<std::ptrdiff_t>(end));
        begin = end;
        if (part.size() < 2) {
            continue;  // nothing to compare it with
        }
        if (!headsKnown(files, part)) {
            for (std::size_t i : part) {
                plan.read[i] = true;
            }
            continue;
        }
        // By head, each head's files in order of index.
        std::sort(part.begin(), part.end(), [&files](std::size_t a, std::size_t b) {
            return std::pair{files[a].head, a} < std::pair{files[b].head, b};
        });
        for (std::size_t from = 0; from < part.size();) {
            std::size_t to = from + 1;
            while (to < part.size() && files[part[to]].head == files[part[from]].head) {
                ++to;
            }
            same.assign(part.begin() + static_cast<std::ptrdiff_t>(from),
                        part.begin() + static_cast<std::ptrdiff_t>(to));
            markToRead(files, same, plan.read);
            from = to;
        }
    }
    return plan;
}

}  // namespace cache
