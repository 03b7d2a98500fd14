// The sorted list of candidate files, each file listed once however many paths reach it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/CatalogueList.h"

#include <algorithm>
#include <cstring>

#include "text/Text.h"

namespace search {

namespace {

// compareFold of a + '/' against b + '/', without building them.
int compareNameKeys(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(text::upperAscii(a[i]));
        const auto cb = static_cast<unsigned char>(text::upperAscii(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    const auto ca = a.size() > n ? static_cast<unsigned char>(text::upperAscii(a[n])) : '/';
    const auto cb = b.size() > n ? static_cast<unsigned char>(text::upperAscii(b[n])) : '/';
    if (ca != cb) {
        return ca < cb ? -1 : 1;
    }
    // A name that goes on with '/' cannot exist; keep the order total anyway.
    return a.size() < b.size() ? -1 : 1;
}

// std::sort in one go, or, with a turn, slices sorted one at a time and then
// merged pairwise; the order is total, so both give the same result.
template <typename T, typename Less>
void sortEntries(std::vector<T>& entries, Less less, const std::function<void()>& turn)
{
    if (!turn) {
        std::sort(entries.begin(), entries.end(), less);
        return;
    }
    constexpr std::size_t kSlice = 65536;  // about 15 ms of sorting
    const std::size_t n = entries.size();
    for (std::size_t start = 0; start < n; start += kSlice) {
        std::sort(entries.begin() + static_cast<std::ptrdiff_t>(start),
                  entries.begin() + static_cast<std::ptrdiff_t>(std::min(start + kSlice, n)), less);
        turn();
    }
    for (std::size_t width = kSlice; width < n; width *= 2) {
        for (std::size_t start = 0; start + width < n; start += 2 * width) {
            std::inplace_merge(entries.begin() + static_cast<std::ptrdiff_t>(start),
                               entries.begin() + static_cast<std::ptrdiff_t>(start + width),
                               entries.begin() +
                                   static_cast<std::ptrdiff_t>(std::min(start + 2 * width, n)),
                               less);
            turn();
        }
    }
}

// An entry's place in the key order, small enough to sort quickly: the
// size and the first eight folded bytes of the name's key text decide most
// comparisons without reaching the names.
struct SortKey {
    std::int64_t size;
    std::uint64_t head;  // folded bytes, big-endian, zero after the key's end
    std::uint32_t index;
};

// The first eight bytes of the name (followed by '/' in name mode), folded
// as compareFold folds them. No name holds a zero byte, so a key that ends
// within the eight bytes orders before every longer key sharing its start,
// as it does in the full comparison.
std::uint64_t keyHead(std::string_view name, bool nameMode)
{
    std::uint64_t head = 0;
    std::size_t i = 0;
    for (; i < 8 && i < name.size(); ++i) {
        head |= static_cast<std::uint64_t>(static_cast<unsigned char>(text::upperAscii(name[i])))
                << (56 - 8 * i);
    }
    if (nameMode && i < 8) {
        head |= static_cast<std::uint64_t>('/') << (56 - 8 * i);
    }
    return head;
}

// Puts entries[keys[i].index] at place i, following each cycle of the
// permutation once, without a second copy of the entries.
void permute(std::vector<CatalogueList::Entry>& entries, std::vector<SortKey>& keys)
{
    constexpr std::uint32_t kDone = UINT32_MAX;
    for (std::size_t start = 0; start < keys.size(); ++start) {
        if (keys[start].index == kDone) {
            continue;
        }
        CatalogueList::Entry first = entries[start];
        std::size_t at = start;
        while (keys[at].index != start) {
            const std::size_t from = keys[at].index;
            entries[at] = entries[from];
            keys[at].index = kDone;
            at = from;
        }
        entries[at] = first;
        keys[at].index = kDone;
    }
}

}  // namespace

void CatalogueList::setNameMode(bool nameMode)
{
    m_nameMode = nameMode;
    m_sorted = m_entries.empty();
}

void CatalogueList::add(std::int64_t size, std::string_view name, std::int32_t folder, dev_t device,
                        ino_t inode, std::int64_t changeNs, std::int64_t writeSeconds)
{
    Entry entry;
    entry.size = size;
    entry.inode = inode;
    entry.changeNs = changeNs;
    entry.writeSeconds = writeSeconds;
    entry.name = static_cast<std::uint64_t>(m_names.size()) |
                 (static_cast<std::uint64_t>(std::min<std::size_t>(name.size(), 0xFFFF)) << 48);
    entry.folder = folder;
    // A search meets a handful of devices; the last one is the likely one.
    std::size_t index = m_devices.size();
    for (std::size_t i = m_devices.size(); i-- > 0;) {
        if (m_devices[i] == device) {
            index = i;
            break;
        }
    }
    if (index == m_devices.size()) {
        m_devices.push_back(device);
    }
    entry.device = static_cast<std::uint32_t>(index);
    m_names.append(name.substr(0, 0xFFFF));
    m_entries.push_back(entry);
    m_sorted = false;
}

void CatalogueList::clear()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_names.clear();
    m_names.shrink_to_fit();
    m_devices.clear();
    m_sorted = true;
}

std::string_view CatalogueList::nameOf(const Entry& entry) const
{
    return std::string_view(m_names).substr(entry.nameOffset(), entry.nameLength());
}

void CatalogueList::sortNow(const std::function<void()>& turn)
{
    settle(turn);
}

void CatalogueList::settle(const std::function<void()>& turn) const
{
    if (m_sorted) {
        return;
    }
    // Each file once: sorted by file, then by order of addition, the later
    // paths of a file follow its first and are dropped.
    sortEntries(
        m_entries,
        [](const Entry& a, const Entry& b) {
            if (a.device != b.device) {
                return a.device < b.device;
            }
            if (a.inode != b.inode) {
                return a.inode < b.inode;
            }
            return a.nameOffset() < b.nameOffset();
        },
        turn);
    m_entries.erase(std::unique(m_entries.begin(), m_entries.end(),
                                [](const Entry& a, const Entry& b) {
                                    return a.device == b.device && a.inode == b.inode;
                                }),
                    m_entries.end());

    const std::string_view names(m_names);
    auto nameAt = [names](const Entry& e) { return names.substr(e.nameOffset(), e.nameLength()); };
    std::vector<SortKey> keys(m_entries.size());
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        keys[i] = {m_nameMode ? 0 : entry.size, keyHead(nameAt(entry), m_nameMode),
                   static_cast<std::uint32_t>(i)};
    }
    // Names were appended in order of addition, so a larger offset is a later
    // addition, which goes before the earlier ones with an equal key.
    const bool nameMode = m_nameMode;
    const std::vector<Entry>& entries = m_entries;
    sortEntries(
        keys,
        [&](const SortKey& a, const SortKey& b) {
            if (a.size != b.size) {
                return a.size < b.size;
            }
            if (a.head != b.head) {
                return a.head < b.head;
            }
            const Entry& ea = entries[a.index];
            const Entry& eb = entries[b.index];
            const int c = nameMode ? compareNameKeys(nameAt(ea), nameAt(eb))
                                   : text::compareFold(nameAt(ea), nameAt(eb));
            if (c != 0) {
                return c < 0;
            }
            return ea.nameOffset() > eb.nameOffset();
        },
        turn);
    permute(m_entries, keys);
    m_sorted = true;
}

std::size_t CatalogueList::size() const
{
    settle();
    return m_entries.size();
}

const CatalogueList::Entry& CatalogueList::operator[](std::size_t index) const
{
    settle();
    return m_entries[index];
}

std::string CatalogueList::keyText(const Entry& entry) const
{
    const std::string_view name = nameOf(entry);
    std::string key = m_nameMode ? std::string(name) + '/' : sizeKeyPrefix(entry.size);
    key += name;
    return key;
}

void CatalogueList::removeLast()
{
    settle();
    m_entries.pop_back();
}

std::size_t CatalogueList::memoryUse() const
{
    return m_entries.capacity() * sizeof(Entry) + m_names.capacity();
}

std::string sizeKeyPrefix(std::int64_t size)
{
    std::string digits = text::toDecimal(size);
    std::string key;
    if (digits.size() < 9) {
        key.assign(9 - digits.size(), ' ');
    }
    key += digits;
    key += ' ';
    return key;
}

}  // namespace search
