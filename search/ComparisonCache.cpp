// What a comparison takes from the cache of earlier searches and leaves in it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/ComparisonCache.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/HelperThread.h"

namespace search {

namespace {

constexpr std::int64_t kDayNs = 86'400'000'000'000;
// No entry takes fewer bytes in the cache file (its key, class, day, check
// and data, of at least 20 bytes, and SQLite's own cell header).
constexpr std::size_t kLeastEntryBytes = 32;
// Learned entries written together by the writer.

// Asks for the room of `entries` to be given in large pages as it is
// filled: the load fills megabytes at once, and a fault for each small page
// costs more than the decoding of the rows that fill it. Where large pages
// are not to be had nothing changes.
void askLargePages(const std::vector<cache::Entry>& entries)
{
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto from = reinterpret_cast<std::uintptr_t>(entries.data());
    const std::uintptr_t begin = (from + page - 1) / page * page;
    const std::uintptr_t end = (from + entries.capacity() * sizeof(cache::Entry)) / page * page;
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
}

bool sameKey(const cache::Entry& e, const CatalogueList::Entry& file)
{
    return e.size == file.size && e.writeSeconds == file.writeSeconds &&
           e.changeNs == file.changeNs;
}

}  // namespace

ComparisonCache::ComparisonCache(const CatalogueList& catalogue, std::string folder,
                                 cache::FileSystems fileSystems)
    : m_catalogue(catalogue), m_folder(std::move(folder)), m_fileSystems(std::move(fileSystems))
{
}

const std::string& ComparisonCache::identityOf(dev_t device)
{
    const auto found = m_identities.find(device);
    if (found != m_identities.end()) {
        return found->second;
    }
    std::string identity = m_fileSystems.of(device).identity;
    // Two mounted file systems with one UUID (a copied disk) cannot be told
    // apart: neither is cached.
    for (auto& [other, known] : m_identities) {
        if (!identity.empty() && known == identity) {
            known.clear();
            identity.clear();
        }
    }
    return m_identities.emplace(device, std::move(identity)).first->second;
}

void ComparisonCache::open(const std::vector<dev_t>& devices)
{
    m_opened = true;
    m_open = m_store.open(m_folder, m_notes);
    if (m_open && m_loaded.capacity() == 0) {
        // Room for as many entries as the file can hold, made once: pages
        // of room never filled are never touched, and the entries are not
        // moved as they come.
        struct stat st {};
        if (::stat(cache::ContentStore::fileIn(m_folder).c_str(), &st) == 0) {
            try {
                m_loaded.reserve(static_cast<std::size_t>(st.st_size) / kLeastEntryBytes);
                askLargePages(m_loaded);
            } catch (const std::exception&) {
                // Not that much room to be had: the entries move as they come.
            }
        }
    }
    loadDevices(devices);
}

void ComparisonCache::load(std::int64_t nowNs, const std::vector<dev_t>& devices,
                           std::size_t files)
{
    m_racyFrom = nowNs - kRacyNs;
    m_today = nowNs / kDayNs;
    if (!m_opened) {
        // Pages of room never filled are never touched.
        m_loaded.reserve(files);
        askLargePages(m_loaded);
        open({});
    }
    if (!loadDevices(devices)) {
        return;
    }
    m_trusted = m_loaded.size();
    try {
        m_writer = platform::startHelperThread([this] { writeAlong(); });
    } catch (const std::system_error&) {
        // No thread to be had: everything is written at the end.
    }
}

void ComparisonCache::forgetLoaded()
{
    m_loaded.clear();
    m_devices.clear();
    m_deviceEnds.clear();
}

bool ComparisonCache::loadDevices(const std::vector<dev_t>& devices)
{
    std::vector<dev_t> sorted = devices;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    // Every identity first: two file systems of one identity leave both
    // alone, also one whose entries were loaded before the other was met.
    for (dev_t device : sorted) {
        identityOf(device);
    }
    const bool lostOne = std::any_of(m_devices.begin(), m_devices.end(),
                                     [this](dev_t device) { return identityOf(device).empty(); });
    if (lostOne) {
        sorted.insert(sorted.end(), m_devices.begin(), m_devices.end());
        forgetLoaded();
    }
    if (!m_open || m_loadFailed) {
        return false;
    }
    for (dev_t device : sorted) {
        const std::string& identity = identityOf(device);
        if (identity.empty() ||
            std::find(m_devices.begin(), m_devices.end(), device) != m_devices.end()) {
            continue;
        }
        if (!m_store.load(identity, m_loaded, m_notes) || m_store.cancelled()) {
            forgetLoaded();
            m_loadFailed = true;
            m_open = m_store.isOpen();
            return false;
        }
        order(m_deviceEnds.empty() ? 0 : m_deviceEnds.back(), m_loaded.size());
        m_deviceEnds.push_back(m_loaded.size());
        m_devices.push_back(device);
    }
    return true;
}

namespace {

// The order of one device's entries: by size, then inode, as the
// comparison asks for them (by size, from the largest down).
bool keyBefore(std::int64_t size, std::uint64_t inode, std::int64_t otherSize,
               std::uint64_t otherInode)
{
    return size != otherSize ? size < otherSize : inode < otherInode;
}

}  // namespace

void ComparisonCache::order(std::size_t begin, std::size_t end)
{
    std::sort(m_loaded.begin() + static_cast<std::ptrdiff_t>(begin),
              m_loaded.begin() + static_cast<std::ptrdiff_t>(end),
              [](const cache::Entry& a, const cache::Entry& b) {
                  return keyBefore(a.size, a.inode, b.size, b.inode);
              });
}

const cache::Entry* ComparisonCache::trusted(const CatalogueList::Entry& file,
                                             std::size_t& hint) const
{
    const dev_t device = m_catalogue.deviceOf(file);
    const auto known = std::find(m_devices.begin(), m_devices.end(), device);
    if (known == m_devices.end()) {
        return nullptr;
    }
    const auto d = static_cast<std::size_t>(known - m_devices.begin());
    const std::size_t first = d == 0 ? 0 : m_deviceEnds[d - 1];
    const std::size_t last = m_deviceEnds[d];
    const auto before = [this, &file](std::size_t at) {
        return keyBefore(m_loaded[at].size, m_loaded[at].inode, file.size, file.inode);
    };
    // Asked by size from the largest down, the entry sought lies near the
    // one found last: steps of growing length from there, then halving,
    // look at few entries, all close together.
    std::size_t low = first;
    std::size_t high = last;
    if (hint >= first && hint < last) {
        std::size_t step = 1;
        if (before(hint)) {
            low = hint + 1;
            while (low + step < last && before(low + step)) {
                low += step + 1;
                step *= 2;
            }
            high = std::min(last, low + step);
        } else {
            high = hint;
            while (high > first + step && !before(high - step - 1)) {
                high -= step + 1;
                step *= 2;
            }
            low = high > first + step ? high - step : first;
        }
    }
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (before(middle)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    hint = low;
    if (low == last) {
        return nullptr;
    }
    const cache::Entry& at = m_loaded[low];
    if (at.inode != file.inode || at.size != file.size) {
        return nullptr;
    }
    return sameKey(at, file) ? &at : nullptr;
}

std::vector<cache::Known> ComparisonCache::known(const std::vector<CatalogueList::Entry>& files) const
{
    std::vector<cache::Known> known(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (const cache::Entry* e = trusted(files[i], m_knownHint)) {
            known[i].trusted = true;
            known[i].classId = e->classId;
            known[i].headLength = e->headLength;
            known[i].head = e->head;
            known[i].headSum = e->headSum;
            known[i].chunks = e->chunks.get();
        }
    }
    return known;
}

void ComparisonCache::learn(const ContentClasses::Finished& done)
{
    if (!m_open) {
        return;
    }
    // The files of each block, and those of none (index 0).
    std::vector<std::vector<const ContentClasses::Finished::Outcome*>> blocks(done.blocks.size() + 1);
    for (const ContentClasses::Finished::Outcome& o : done.outcomes) {
        blocks[static_cast<std::size_t>(o.block + 1)].push_back(&o);
    }
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        if (!blocks[b].empty()) {
            learnBlock(blocks[b], b > 0);
        }
    }
}

void ComparisonCache::learnBlock(const std::vector<const ContentClasses::Finished::Outcome*>& files,
                                 bool confirmed)
{
    // A block's class: the lowest lasting id among its files, else a new one;
    // its other ids name the same contents from now on.
    std::int64_t classId = 0;
    // Each file's entry, looked up once.
    std::vector<const cache::Entry*> olds(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        olds[i] = trusted(files[i]->entry, m_learnHint);
    }
    if (confirmed) {
        for (const cache::Entry* old : olds) {
            if (old != nullptr && old->classId > 0 && (classId == 0 || old->classId < classId)) {
                classId = old->classId;
            }
        }
        if (classId == 0) {
            classId = m_nextClass--;
        }
    }
    std::set<std::int64_t> merged;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ContentClasses::Finished::Outcome& o = *files[i];
        const dev_t device = m_catalogue.deviceOf(o.entry);
        const std::string& identity = identityOf(device);
        if (identity.empty() || o.entry.changeNs >= m_racyFrom) {
            continue;  // left alone, or possibly changed within the clock's tick
        }
        const cache::Entry* old = olds[i];
        if (confirmed && old != nullptr && old->classId > 0 && old->classId != classId &&
            merged.insert(old->classId).second) {
            m_merges.push_back({old->classId, classId});
        }
        cache::Entry e;
        e.inode = o.entry.inode;
        e.size = o.entry.size;
        e.writeSeconds = o.entry.writeSeconds;
        e.changeNs = o.entry.changeNs;
        const cache::Known& head = o.learned;
        if (head.trusted) {
            e.headLength = head.headLength;
            e.head = head.head;
            e.headSum = head.headSum;
            // What an earlier read found of the unchanged file still holds.
            e.chunks = old != nullptr ? head.chunks.with(old->chunks.get()) : head.chunks;
        } else if (old != nullptr) {
            e.headLength = old->headLength;
            e.head = old->head;
            e.headSum = old->headSum;
            e.chunks = old->chunks;
        }
        e.classId = confirmed ? classId : (old != nullptr ? old->classId : 0);
        e.seenDay = m_today;
        if (e.headLength == 0 && e.classId == 0) {
            continue;  // nothing learned
        }
        if (old != nullptr && old->seenDay >= m_today - cache::ContentStore::kSeenSlack &&
            old->classId == e.classId && old->headLength == e.headLength && old->head == e.head &&
            old->headSum == e.headSum && old->chunks.get() == e.chunks.get()) {
            continue;  // the entry says it already, and was seen lately
        }
        const std::lock_guard<std::mutex> hold(m_writeLock);
        if (m_writeFailed) {
            return;
        }
        std::vector<cache::Entry>& writes = m_writes[identity];
        if (writes.empty()) {
            // The batch is not moved as it grows.
            writes.reserve(std::min<std::size_t>(writeBatch, 4096));
        }
        writes.push_back(std::move(e));
        if (++m_pending == writeBatch) {
            m_writeWake.notify_one();
        }
    }
}

void ComparisonCache::writeAlong()
{
    try {
        writeBatches();
    } catch (...) {
        // Out of memory: nothing of this search is kept.
        const std::lock_guard<std::mutex> hold(m_writeLock);
        m_writeFailed = true;
    }
}

void ComparisonCache::writeBatches()
{
    std::unique_lock<std::mutex> hold(m_writeLock);
    while (true) {
        m_writeWake.wait(hold, [this] { return m_pending >= writeBatch || m_writesEnd; });
        if (m_writesEnd) {
            return;  // the rest is save()'s
        }
        if (!m_store.saving()) {
            hold.unlock();
            // Another search saving: this one's entries wait for the end.
            const bool begun = m_store.beginSave(m_today, cache::ContentStore::kExpireDays, false,
                                                 m_writerNotes);
            hold.lock();
            if (!begun) {
                return;
            }
        }
        std::map<std::string, std::vector<cache::Entry>> batch;
        batch.swap(m_writes);
        m_pending = 0;
        hold.unlock();
        bool written = true;
        for (auto& [identity, entries] : batch) {
            cache::Writes w{identity, std::move(entries)};
            written = written && m_store.writeSome(w, m_writerNotes);
        }
        hold.lock();
        if (!written) {
            m_writeFailed = true;
            m_writes.clear();
            return;
        }
    }
}

void ComparisonCache::endWriter()
{
    {
        const std::lock_guard<std::mutex> hold(m_writeLock);
        m_writesEnd = true;
    }
    m_writeWake.notify_one();
    if (m_writer.joinable()) {
        m_writer.join();
    }
}

void ComparisonCache::cancel()
{
    m_store.cancel();
    {
        const std::lock_guard<std::mutex> hold(m_writeLock);
        m_writesEnd = true;
    }
    m_writeWake.notify_one();
}

ComparisonCache::~ComparisonCache()
{
    if (m_writer.joinable()) {
        cancel();
        m_writer.join();
    }
}

void ComparisonCache::save()
{
    endWriter();
    // Nothing is looked up any more: the loaded entries make room for the save.
    std::vector<cache::Entry>().swap(m_loaded);
    m_notes.insert(m_notes.end(), m_writerNotes.begin(), m_writerNotes.end());
    m_writerNotes.clear();
    std::vector<cache::Writes> writes;
    for (auto& [identity, entries] : m_writes) {
        writes.push_back({identity, std::move(entries)});
    }
    m_writes.clear();
    if (m_writeFailed) {
        if (m_store.saving()) {
            m_store.abandonSave(m_notes);
        }
    } else if (m_store.saving()) {
        bool written = true;
        for (cache::Writes& w : writes) {
            written = written && m_store.writeSome(w, m_notes);
        }
        if (written) {
            m_store.finishSave(m_merges, m_notes);
        }
    } else if (m_open && (!writes.empty() || !m_merges.empty())) {
        m_store.save(std::move(writes), m_merges, m_today, cache::ContentStore::kExpireDays,
                     m_notes);
    }
    m_merges.clear();
}

std::vector<std::string> ComparisonCache::takeNotes()
{
    std::vector<std::string> notes;
    notes.swap(m_notes);
    return notes;
}

}  // namespace search
