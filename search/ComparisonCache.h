// What a comparison takes from the cache of earlier searches and leaves in it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/ContentStore.h"
#include "cache/FileSystems.h"
#include "cache/Reuse.h"
#include "search/CatalogueList.h"
#include "search/ContentClasses.h"

namespace search {

// The cache as one comparison uses it: loaded before the first
// group, told what each finished group showed, saved in one transaction
// at the end. Whatever goes wrong, the search goes on without it and the
// notes say so. Made, loaded and saved on a helper thread while the
// window's thread waits for it; told and asked on the window's thread.
class ComparisonCache {
public:
    // `folder`: where the cache file lives.
    ComparisonCache(const CatalogueList& catalogue, std::string folder,
                    cache::FileSystems fileSystems = cache::FileSystems());

    // Opens the cache file and loads the entries of the file systems of
    // `devices` (those of the start folders, while the walk goes on).
    // Reads nothing of the catalogue.
    void open(const std::vector<dev_t>& devices);
    // Loads the entries of the file systems of `devices` not loaded yet
    // (those of the catalogue, taken before a load that may run while the
    // catalogue is sorted), opening the file first unless open() did;
    // `nowNs` is the moment before the first read (nanoseconds since 1970);
    // `files`: how many the catalogue holds, room made for as many entries.
    // Reads nothing of the catalogue.
    void load(std::int64_t nowNs, const std::vector<dev_t>& devices, std::size_t files);
    // What the cache proves of each file of a group.
    std::vector<cache::Known> known(const std::vector<CatalogueList::Entry>& files) const;
    // What a finished group showed.
    void learn(const ContentClasses::Finished& done);
    // Writes what was learned.
    void save();

    // Ends a load or save under way on another thread (see ContentStore).
    void cancel();
    ~ComparisonCache();
    ComparisonCache(const ComparisonCache&) = delete;
    ComparisonCache& operator=(const ComparisonCache&) = delete;

    std::vector<std::string> takeNotes();
    // Entries found by the load.
    std::size_t loadedCount() const { return m_trusted; }
    // Entries learned before the writer begins the save, and between its
    // batches; set before load().
    std::size_t writeBatch = 4096;

    // A file whose change time is this close to its read may have changed
    // within the clock's tick and is not kept.
    static constexpr std::int64_t kRacyNs = 2'000'000'000;

private:
    // Loads the devices not loaded yet; false when the cache turned out
    // unusable (nothing of it is then used).
    bool loadDevices(const std::vector<dev_t>& devices);
    void forgetLoaded();
    // Puts m_loaded[begin, end), one device's entries, in the order of
    // their size and inode, in which trusted() finds them.
    void order(std::size_t begin, std::size_t end);

    // The identity of a device's file system, "" when it is left alone.
    const std::string& identityOf(dev_t device);
    // `hint`: where the last look of the same caller ended, moved to where
    // this one ends.
    const cache::Entry* trusted(const CatalogueList::Entry& entry, std::size_t& hint) const;
    // The files of one block (`confirmed`) or of none.
    void learnBlock(const std::vector<const ContentClasses::Finished::Outcome*>& files,
                    bool confirmed);

    const CatalogueList& m_catalogue;
    std::string m_folder;
    cache::FileSystems m_fileSystems;
    cache::ContentStore m_store;
    std::map<dev_t, std::string> m_identities;
    std::vector<cache::Entry> m_loaded;
    std::vector<dev_t> m_devices;
    // Where each device's entries end in m_loaded.
    std::vector<std::size_t> m_deviceEnds;
    // Where the last looks of known() and of learn() ended in m_loaded.
    mutable std::size_t m_knownHint = 0;
    std::size_t m_learnHint = 0;
    // Writes what was learned while the comparison goes on, from the first
    // writeBatch entries on, in the one transaction save() ends.
    void writeAlong();
    void writeBatches();
    void endWriter();

    // What to write, by file system identity; with the writer under way,
    // guarded by m_writeLock.
    std::map<std::string, std::vector<cache::Entry>> m_writes;
    std::thread m_writer;
    std::mutex m_writeLock;
    std::condition_variable m_writeWake;
    std::size_t m_pending = 0;
    bool m_writesEnd = false;
    bool m_writeFailed = false;
    std::vector<std::string> m_writerNotes;
    std::vector<cache::Merge> m_merges;
    std::vector<std::string> m_notes;
    std::int64_t m_racyFrom = 0;
    std::int64_t m_today = 0;
    std::int64_t m_nextClass = -1;
    std::size_t m_trusted = 0;
    bool m_open = false;
    bool m_opened = false;
    bool m_loadFailed = false;
};

}  // namespace search
