// The sorted list of candidate files, each file listed once however many paths reach it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "search/GrowingBuffer.h"

namespace search {

// The sorted list of candidate files. Each entry keeps its size, its name
// and its device; names live in one shared buffer, and an entry's folder
// follows from where its name lies there (the files of one folder are added
// one after another). A file (device and inode) is listed once: of several
// paths to it, the first added stays, so a hard link is never a copy of
// itself. An entry takes 40 bytes: a million files are a sizeable share of
// a search's memory.
//
// The order is that of the key text: in size mode the size, then the name
// ignoring case; in name mode the name followed by '/' ignoring case. Of two
// keys equal ignoring case the later addition comes first, so a group read
// from the end lists its files in the order the walk found them. Sizes are compared as numbers (the
// padded key text agrees with that below 1,000,000,000 bytes). Additions are sorted once, before
// the first read.
class CatalogueList {
public:
    struct Entry {
        std::int64_t size = 0;
        std::uint64_t inode = 0;
        // Where the name lies in the name buffer (offset in the low 34
        // bits, length in the next 12) and the index of the file's device
        // among those seen (the high 18 bits: more than a system can mount).
        std::uint64_t name = 0;
        // What the walk saw: the change time (st_ctim in nanoseconds), the
        // stamp the file's reads are checked against, and the write time
        // in seconds (st_mtim), for the same-time rule.
        std::int64_t changeNs = 0;
        std::int64_t writeSeconds = 0;

        std::uint64_t nameOffset() const { return name & ((1ull << 34) - 1); }
        std::uint32_t nameLength() const { return static_cast<std::uint32_t>(name >> 34) & 0xFFF; }
        std::uint32_t deviceIndex() const { return static_cast<std::uint32_t>(name >> 46); }
    };

    void setNameMode(bool nameMode);
    bool nameMode() const { return m_nameMode; }

    void add(std::int64_t size, std::string_view name, std::int32_t folder, dev_t device = 0,
             ino_t inode = 0, std::int64_t changeNs = 0, std::int64_t writeSeconds = 0);
    void clear();

    // Sorts first, since a file reached twice is then counted once.
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // Entries added so far, for progress during a walk; no sorting.
    std::size_t added() const { return m_entries.size(); }
    const Entry& operator[](std::size_t index) const;
    std::string_view nameOf(const Entry& entry) const;
    dev_t deviceOf(const Entry& entry) const { return m_devices[entry.deviceIndex()]; }
    // Every device an entry was added from.
    const std::vector<dev_t>& devices() const { return m_devices; }
    // The folder given when the entry was added.
    std::int32_t folderOf(const Entry& entry) const;
    // The designed key text of an entry ("%9d name" or "name/name").
    std::string keyText(const Entry& entry) const;

    // Removes the last entry; the comparison consumes the list from its end.
    void removeLast();

    // Sorts now. With a turn, the sort goes in slices of a few milliseconds
    // with a turn after each, so a window stays responsive over a million
    // entries; the order is the same either way.
    void sortNow(const std::function<void()>& turn);

    // Bytes held, for the memory benchmark.
    std::size_t memoryUse() const;

private:
    void settle(const std::function<void()>& turn = nullptr) const;

    // Names of one folder lie together: where each run of them begins.
    struct FolderRun {
        std::uint64_t firstName = 0;
        std::int32_t folder = 0;
    };

    // Both grow by moving their pages: a million files are added without a
    // stall while tens of megabytes are copied.
    mutable GrowingBuffer<Entry> m_entries;
    std::size_t m_givenBackFrom = 0;  // the pages past this entry went back
    GrowingBuffer<char> m_names;
    std::vector<FolderRun> m_folderRuns;
    std::vector<dev_t> m_devices;
    mutable bool m_sorted = true;
    bool m_nameMode = false;
};

// "%9d ": right-aligned in nine characters, wider when the number needs it.
std::string sizeKeyPrefix(std::int64_t size);

}  // namespace search
