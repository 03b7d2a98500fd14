// The cache file: what earlier searches learned of files' contents, kept in SQLite.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cache/Reuse.h"

struct sqlite3;

namespace cache {

class Statement;

// An entry's chunk digests, held apart from it: few entries have any, and a
// search may hold millions of entries.
class HeldChunks {
public:
    HeldChunks() = default;
    HeldChunks(const HeldChunks& other) { *this = other.get(); }
    HeldChunks(HeldChunks&&) noexcept = default;
    HeldChunks& operator=(const HeldChunks& other) { return *this = other.get(); }
    HeldChunks& operator=(HeldChunks&&) noexcept = default;
    HeldChunks& operator=(const ChunkDigests& chunks)
    {
        if (chunks.count == 0) {
            m_chunks.reset();
        } else if (m_chunks) {
            *m_chunks = chunks;
        } else {
            m_chunks = std::make_unique<ChunkDigests>(chunks);
        }
        return *this;
    }
    const ChunkDigests& get() const { return m_chunks ? *m_chunks : kNone; }

private:
    static inline const ChunkDigests kNone{};
    std::unique_ptr<ChunkDigests> m_chunks;
};

// One file's entry. The key is the file system's identity and the inode;
// size, write time (seconds) and change time (nanoseconds) must match the
// file as walked for anything else to count.
struct Entry {
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t writeSeconds = 0;
    std::int64_t changeNs = 0;
    std::uint64_t head = 0;
    // Files of one class id were confirmed byte for byte identical while
    // each was as its entry says. Below 0: a class made by this search,
    // given a lasting id when saved.
    std::int64_t classId = 0;
    std::int64_t seenDay = 0;
    std::uint32_t headLength = 0;
    std::int32_t headSum = -1;
    HeldChunks chunks;
};

// The entries to write for one file system.
struct Writes {
    std::string identity;
    std::vector<Entry> entries;
};

// Class ids found to name the same contents: `from` becomes `to`.
struct Merge {
    std::int64_t from = 0;
    std::int64_t to = 0;
};

// The cache file in one folder. Every failure leaves the search as it would
// be without a cache and says so in `notes`.
class ContentStore {
public:
    ContentStore();
    ~ContentStore();
    ContentStore(const ContentStore&) = delete;
    ContentStore& operator=(const ContentStore&) = delete;

    // Opens or makes `folder`/contents.db (the folder 0700, the file 0600).
    // A file that is damaged, of another version, not the user's or not a
    // plain file is set aside and a new one made.
    bool open(const std::string& folder, std::vector<std::string>& notes);
    bool isOpen() const { return m_db != nullptr; }

    // Every entry of one file system, appended to `found` in inode order, in
    // one read. False when the file turned out damaged (it is then made
    // anew, and nothing of it is used) or is busy.
    bool load(const std::string& identity, std::vector<Entry>& found,
              std::vector<std::string>& notes);

    // Writes entries, merges classes and drops entries not seen for
    // `expireDays` (and the slack an entry's day may lag, see kSeenSlack),
    // in one transaction; `today` is the day number of this search. False,
    // with a note, when nothing was saved.
    bool save(std::vector<Writes> writes, const std::vector<Merge>& merges, std::int64_t today,
              int expireDays, std::vector<std::string>& notes);

    // A save in steps, on one thread, one transaction: begun (`wait`: for
    // another search's save to end, as save does; else false at once when
    // the cache is busy), written to as often as needed, then finished. A
    // step that fails ends the save, keeping nothing, with a note.
    bool beginSave(std::int64_t today, int expireDays, bool wait, std::vector<std::string>& notes);
    bool writeSome(Writes& writes, std::vector<std::string>& notes);
    bool finishSave(const std::vector<Merge>& merges, std::vector<std::string>& notes);
    // Ends a save begun, keeping nothing.
    void abandonSave(std::vector<std::string>& notes);
    bool saving() const { return m_saving; }

    // Ends a load or save under way on another thread as soon as SQLite
    // next looks (a load then finds nothing, a save keeps nothing); callable
    // from any thread, the store stays usable only for closing.
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }

    // Removes the cache file of `folder`; false with errno when it stays.
    static bool clear(const std::string& folder);

    static std::string fileIn(const std::string& folder) { return folder + "/contents.db"; }
    // $XDG_CACHE_HOME/gemmora, else ~/.cache/gemmora; "" when neither is known.
    static std::string defaultFolder();

    static constexpr int kVersion = 3;
    static constexpr int kExpireDays = 60;
    // An unchanged entry's day is written again only once it is this many
    // days old: a search a day does not rewrite the whole cache.
    static constexpr int kSeenSlack = 7;

private:
    bool openFile(std::vector<std::string>& notes);
    // SQLITE_OK once the tables are there; SQLITE_BUSY when another search
    // held the file longer than the busy wait.
    int makeSchema();
    // Sets the file aside and opens a new one.
    bool rebuild(const std::string& why, std::vector<std::string>& notes);
    void close();
    std::int64_t fileSystemId(const std::string& identity, bool add);
    bool exec(const char* sql);
    // The steps of a save, inside its transaction: false on a database error.
    bool writeEntries(Writes& writes);
    // Binds one entry's row from parameter `first` on; `data`: its packed
    // form, bound until the step.
    void bindRow(Statement& insert, int first, std::int64_t fs, Entry& entry, std::string& data);
    bool applyMerges(const std::vector<Merge>& merges);
    bool expireOld(std::int64_t today, int expireDays);
    bool stateValue(const char* name, std::int64_t& value);
    // Raises `next` above the class of every entry.
    bool aboveEveryClass(std::int64_t& next);

    sqlite3* m_db = nullptr;
    // The save's inserts of one row and of many, made once per save.
    std::unique_ptr<Statement> m_insert;
    std::unique_ptr<Statement> m_insertMany;
    std::int64_t m_classBase = 0;
    std::int64_t m_classesMade = 0;
    bool m_saving = false;
    std::atomic<bool> m_cancelled{false};
    std::string m_folder;
    std::string m_path;
};

// The check kept with an entry: a damaged value is never taken as true.
// `data`: the entry's data column (its size, times, head and chunk digests).
std::int64_t entryCheck(std::int64_t fileSystem, const Entry& entry, const std::string& data);

}  // namespace cache
