// What a comparison takes from the cache of earlier searches and leaves in it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/ComparisonCache.h"

#include <algorithm>
#include <set>

namespace search {

namespace {

constexpr std::int64_t kDayNs = 86'400'000'000'000;

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

void ComparisonCache::load(std::int64_t nowNs, const std::vector<dev_t>& devices,
                           std::size_t files)
{
    m_racyFrom = nowNs - kRacyNs;
    m_today = nowNs / kDayNs;
    m_open = m_store.open(m_folder, m_notes);
    std::vector<dev_t> sorted = devices;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (dev_t device : sorted) {
        identityOf(device);
    }
    if (!m_open) {
        return;
    }
    m_files = files;
    // Pages of room never filled are never touched.
    m_loaded.reserve(files);
    std::vector<std::uint32_t> deviceOfEntry;
    for (dev_t device : sorted) {
        const std::string& identity = identityOf(device);
        if (identity.empty()) {
            continue;
        }
        if (!m_store.load(identity, m_loaded, m_notes)) {
            m_loaded.clear();
            m_open = m_store.isOpen();
            return;
        }
        deviceOfEntry.resize(m_loaded.size(), static_cast<std::uint32_t>(m_devices.size()));
        m_devices.push_back(device);
    }
    index(deviceOfEntry);
    m_trusted = m_loaded.size();
}

namespace {

std::size_t slotOf(std::uint64_t inode, std::uint32_t device, std::size_t mask)
{
    std::uint64_t k = (inode ^ (static_cast<std::uint64_t>(device) << 56)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(k >> 20) & mask;
}

}  // namespace

void ComparisonCache::index(const std::vector<std::uint32_t>& deviceOfEntry)
{
    std::size_t slots = 16;
    while (slots < 2 * m_loaded.size()) {
        slots *= 2;
    }
    m_slots.assign(slots, Slot{});
    for (std::size_t i = 0; i < m_loaded.size(); ++i) {
        std::size_t at = slotOf(m_loaded[i].inode, deviceOfEntry[i], slots - 1);
        while (m_slots[at].entry != 0) {
            at = (at + 1) & (slots - 1);
        }
        m_slots[at] = {m_loaded[i].inode, deviceOfEntry[i], static_cast<std::uint32_t>(i + 1)};
    }
}

const cache::Entry* ComparisonCache::trusted(const CatalogueList::Entry& file) const
{
    if (m_slots.empty()) {
        return nullptr;
    }
    const dev_t device = m_catalogue.deviceOf(file);
    const auto known = std::find(m_devices.begin(), m_devices.end(), device);
    if (known == m_devices.end()) {
        return nullptr;
    }
    const auto d = static_cast<std::uint32_t>(known - m_devices.begin());
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = slotOf(file.inode, d, mask); m_slots[at].entry != 0;
         at = (at + 1) & mask) {
        if (m_slots[at].inode == file.inode && m_slots[at].device == d) {
            const cache::Entry& e = m_loaded[m_slots[at].entry - 1];
            return sameKey(e, file) ? &e : nullptr;
        }
    }
    return nullptr;
}

std::vector<cache::Known> ComparisonCache::known(const std::vector<CatalogueList::Entry>& files) const
{
    std::vector<cache::Known> known(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (const cache::Entry* e = trusted(files[i])) {
            known[i].trusted = true;
            known[i].classId = e->classId;
            known[i].headLength = e->headLength;
            known[i].head = e->head;
            known[i].headSum = e->headSum;
            known[i].chunks = e->chunks;
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
    if (confirmed) {
        for (const ContentClasses::Finished::Outcome* o : files) {
            const cache::Entry* old = trusted(o->entry);
            if (old != nullptr && old->classId > 0 && (classId == 0 || old->classId < classId)) {
                classId = old->classId;
            }
        }
        if (classId == 0) {
            classId = m_nextClass--;
        }
    }
    std::set<std::int64_t> merged;
    for (const ContentClasses::Finished::Outcome* file : files) {
        const ContentClasses::Finished::Outcome& o = *file;
        const dev_t device = m_catalogue.deviceOf(o.entry);
        const std::string& identity = identityOf(device);
        if (identity.empty() || o.entry.changeNs >= m_racyFrom) {
            continue;  // left alone, or possibly changed within the clock's tick
        }
        const cache::Entry* old = trusted(o.entry);
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
            e.chunks = old != nullptr ? head.chunks.with(old->chunks) : head.chunks;
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
            old->headSum == e.headSum && old->chunks == e.chunks) {
            continue;  // the entry says it already, and was seen lately
        }
        std::vector<cache::Entry>& writes = m_writes[identity];
        if (writes.empty()) {
            writes.reserve(m_files);
        }
        writes.push_back(e);
    }
}

void ComparisonCache::save()
{
    if (m_open && (!m_writes.empty() || !m_merges.empty())) {
        std::vector<cache::Writes> writes;
        for (auto& [identity, entries] : m_writes) {
            writes.push_back({identity, std::move(entries)});
        }
        m_store.save(std::move(writes), m_merges, m_today, cache::ContentStore::kExpireDays,
                     m_notes);
    }
    m_writes.clear();
    m_merges.clear();
}

std::vector<std::string> ComparisonCache::takeNotes()
{
    std::vector<std::string> notes;
    notes.swap(m_notes);
    return notes;
}

}  // namespace search
