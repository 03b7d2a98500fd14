// The sorted list of candidate files, each file listed once however many paths reach it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/CatalogueList.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/HelperThread.h"
#include "text/Text.h"

namespace search {

static_assert(sizeof(CatalogueList::Entry) == 40, "a million entries are 40 MB");

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

// A slice of entries sorted in one go: a few milliseconds.
constexpr std::size_t kSlice = 16384;
// Entries a pass over the list goes through between two calls of the turn,
// which returns at once until the window is due for one.
constexpr std::size_t kTurnEvery = 4096;

// Calls `turn` every kTurnEvery counts; nothing without a turn.
class TurnCounter {
public:
    explicit TurnCounter(const std::function<void()>& turn) : m_turn(turn) {}
    void count()
    {
        if (m_turn && ++m_count == kTurnEvery) {
            m_count = 0;
            m_turn();
        }
    }

private:
    const std::function<void()>& m_turn;
    std::size_t m_count = 0;
};

// Splits [first, last) into the entries before `pivot`, those equal to it
// and those after it, in one pass with turns; returns where the equal ones
// begin and end.
template <typename T, typename Less>
std::pair<T*, T*> partitionThree(T* first, T* last, const T& pivot, Less less,
                                 const std::function<void()>& turn)
{
    TurnCounter counter(turn);
    T* smaller = first;
    T* larger = last;
    for (T* at = first; at < larger; counter.count()) {
        if (less(*at, pivot)) {
            if (smaller != at) {
                std::swap(*smaller, *at);
            }
            ++smaller;
            ++at;
        } else if (less(pivot, *at)) {
            std::swap(*at, *--larger);
        } else {
            ++at;
        }
    }
    return {smaller, larger};
}

// The median of the first, middle and last entries, as a pivot.
template <typename T, typename Less>
T medianOfThree(const T* first, const T* last, Less less)
{
    const T* a = first;
    const T* b = first + (last - first) / 2;
    const T* c = last - 1;
    if (less(*b, *a)) {
        std::swap(a, b);
    }
    if (less(*c, *b)) {
        b = less(*c, *a) ? a : c;
    }
    return *b;
}

// std::sort in one go, or, with a turn, split by a pivot into three parts
// (smaller, equal, larger) until each is a slice, sorted in one go, with
// turns between slices and within each split. Nothing beside the entries is
// allocated (a merge would take half their size again), and the order is
// total, so both give the same result.
template <typename T, typename Less>
void sortSliced(T* first, T* last, Less less, const std::function<void()>& turn, int depth)
{
    while (static_cast<std::size_t>(last - first) > kSlice && depth-- > 0) {
        const T pivot = medianOfThree(first, last, less);
        const auto [equal, larger] = partitionThree(first, last, pivot, less, turn);
        turn();
        // The smaller part first, the larger by the loop: the depth of
        // calls stays logarithmic.
        if (equal - first < last - larger) {
            sortSliced(first, equal, less, turn, depth);
            first = larger;
        } else {
            sortSliced(larger, last, less, turn, depth);
            last = equal;
        }
    }
    // A slice, or pivots gone bad on a contrived order: sorted in one go.
    std::sort(first, last, less);
    turn();
}

template <typename Values, typename Less>
void sortEntries(Values& entries, Less less, const std::function<void()>& turn)
{
    if (!turn) {
        std::sort(entries.data(), entries.data() + entries.size(), less);
        return;
    }
    sortSliced(entries.data(), entries.data() + entries.size(), less, turn, 64);
}

// Entries from which a sort of the whole list is shared with a helper thread.
constexpr std::size_t kShareFrom = 65536;

// sortEntries, the list split in two by a pivot and the larger entries
// sorted on a helper thread meanwhile: when the comparison begins, the walk
// has ended and a core waits. Nothing is allocated but the thread; without
// one, everything is sorted here.
template <typename T, typename Less>
void sortShared(T* first, T* last, Less less, const std::function<void()>& turn)
{
    const std::function<void()> noTurn = [] {};
    const std::function<void()>& step = turn ? turn : noTurn;
    if (static_cast<std::size_t>(last - first) < kShareFrom) {
        sortSliced(first, last, less, step, 64);
        return;
    }
    const T pivot = medianOfThree(first, last, less);
    const auto [equal, larger] = partitionThree(first, last, pivot, less, step);
    step();
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::thread helper;
    try {
        helper = platform::startHelperThread([&, larger = larger] {
            std::sort(larger, last, less);
            const std::lock_guard<std::mutex> hold(lock);
            done = true;
            ended.notify_one();
        });
    } catch (const std::system_error&) {
        sortSliced(larger, last, less, step, 64);
        done = true;
    }
    struct Joins {
        std::thread& thread;
        ~Joins()
        {
            if (thread.joinable()) {
                thread.join();
            }
        }
    } joins{helper};
    sortSliced(first, equal, less, step, 64);
    // The window keeps its turns while the helper ends its part.
    std::unique_lock<std::mutex> hold(lock);
    while (!ended.wait_for(hold, std::chrono::milliseconds(4), [&done] { return done; })) {
        hold.unlock();
        step();
        hold.lock();
    }
}

// An entry's place among those of its size, small enough to sort quickly:
// the first eight folded bytes of the name's key text decide most
// comparisons without reaching the names.
struct SortKey {
    std::uint64_t head;   // folded bytes, big-endian, zero after the key's end
    std::uint32_t index;  // within the run of one size
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

// The whole pages between two addresses of a buffer that stays allocated
// are handed back to the system; they read as zeros when touched again.
void giveBackPages(const void* from, const void* to)
{
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(from) + page - 1) / page * page;
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(to) / page * page;
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    }
}

// Puts entries[keys[i].index] at place i, following each cycle of the
// permutation once, without a second copy of the entries.
void permute(CatalogueList::Entry* entries, std::vector<SortKey>& keys,
             const std::function<void()>& turn)
{
    constexpr std::uint32_t kDone = UINT32_MAX;
    TurnCounter counter(turn);
    for (std::size_t start = 0; start < keys.size(); ++start, counter.count()) {
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
            counter.count();
        }
        entries[at] = first;
        keys[at].index = kDone;
    }
}

// Sorts `count` entries of one size by their names' keys.
void sortRun(CatalogueList::Entry* run, std::size_t count, std::string_view names, bool nameMode,
             std::vector<SortKey>& keys, const std::function<void()>& turn)
{
    using Entry = CatalogueList::Entry;
    auto nameAt = [names](const Entry& e) { return names.substr(e.nameOffset(), e.nameLength()); };
    keys.resize(count);
    TurnCounter counter(turn);
    for (std::size_t i = 0; i < count; ++i) {
        keys[i] = {keyHead(nameAt(run[i]), nameMode), static_cast<std::uint32_t>(i)};
        counter.count();
    }
    // Names were appended in order of addition, so a larger offset is a later
    // addition, which goes before the earlier ones with an equal key.
    sortEntries(
        keys,
        [&](const SortKey& a, const SortKey& b) {
            if (a.head != b.head) {
                return a.head < b.head;
            }
            const Entry& ea = run[a.index];
            const Entry& eb = run[b.index];
            const int c = nameMode ? compareNameKeys(nameAt(ea), nameAt(eb))
                                   : text::compareFold(nameAt(ea), nameAt(eb));
            if (c != 0) {
                return c < 0;
            }
            return ea.nameOffset() > eb.nameOffset();
        },
        turn);
    permute(run, keys, turn);
}

// std::unique of entries that are the same file, with turns.
CatalogueList::Entry* dropRepeatedFiles(CatalogueList::Entry* first, CatalogueList::Entry* last,
                                        const std::function<void()>& turn)
{
    if (first == last) {
        return last;
    }
    TurnCounter counter(turn);
    CatalogueList::Entry* kept = first;
    for (CatalogueList::Entry* at = first + 1; at != last; ++at, counter.count()) {
        if (at->deviceIndex() != kept->deviceIndex() || at->inode != kept->inode) {
            *++kept = *at;
        }
    }
    return kept + 1;
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
    constexpr std::size_t kMostNames = std::size_t{1} << 34;
    constexpr std::size_t kLongestName = 0xFFF;  // NAME_MAX is 255 bytes
    constexpr std::size_t kMostDevices = std::size_t{1} << 18;
    name = name.substr(0, kLongestName);
    // A search meets a handful of devices; the last one is the likely one.
    std::size_t index = m_devices.size();
    for (std::size_t i = m_devices.size(); i-- > 0;) {
        if (m_devices[i] == device) {
            index = i;
            break;
        }
    }
    if (m_names.size() + name.size() + 1 > kMostNames ||
        (index == m_devices.size() && index == kMostDevices)) {
        throw std::bad_alloc();  // the catalogue is as full as it can be
    }
    if (index == m_devices.size()) {
        m_devices.push_back(device);
    }
    const std::uint64_t offset = m_names.size();
    if (m_folderRuns.empty() || m_folderRuns.back().folder != folder) {
        m_folderRuns.push_back({offset, folder});
    }
    Entry entry;
    entry.size = size;
    entry.inode = inode;
    entry.changeNs = changeNs;
    entry.writeSeconds = writeSeconds;
    entry.name = offset | (static_cast<std::uint64_t>(name.size()) << 34) |
                 (static_cast<std::uint64_t>(index) << 46);
    m_names.append(name.data(), name.size());
    if (name.empty()) {
        // Each entry's name begins at its own place, which orders the
        // additions and tells the folders apart.
        m_names.push_back('\0');
    }
    m_entries.push_back(entry);
    m_givenBackFrom = std::max(m_givenBackFrom, m_entries.size());
    m_sorted = false;
}

std::int32_t CatalogueList::folderOf(const Entry& entry) const
{
    const auto after =
        std::upper_bound(m_folderRuns.begin(), m_folderRuns.end(), entry.nameOffset(),
                         [](std::uint64_t offset, const FolderRun& run) {
                             return offset < run.firstName;
                         });
    return after == m_folderRuns.begin() ? -1 : std::prev(after)->folder;
}

void CatalogueList::clear()
{
    m_entries.release();
    m_givenBackFrom = 0;
    m_names.release();
    m_devices.clear();
    m_folderRuns.clear();
    m_folderRuns.shrink_to_fit();
    m_sorted = true;
}

std::string_view CatalogueList::nameOf(const Entry& entry) const
{
    return std::string_view(m_names.data(), m_names.size())
        .substr(entry.nameOffset(), entry.nameLength());
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
    sortShared(
        m_entries.data(), m_entries.data() + m_entries.size(),
        [](const Entry& a, const Entry& b) {
            if (a.deviceIndex() != b.deviceIndex()) {
                return a.deviceIndex() < b.deviceIndex();
            }
            if (a.inode != b.inode) {
                return a.inode < b.inode;
            }
            return a.nameOffset() < b.nameOffset();
        },
        turn);
    m_entries.shrink(static_cast<std::size_t>(
        dropRepeatedFiles(m_entries.data(), m_entries.data() + m_entries.size(), turn) -
        m_entries.data()));

    // By size, then each run of one size by name: the keys of one run at a
    // time, not of the whole list, are all the sort adds to the catalogue.
    if (!m_nameMode) {
        sortShared(
            m_entries.data(), m_entries.data() + m_entries.size(),
            [](const Entry& a, const Entry& b) { return a.size < b.size; }, turn);
    }
    std::vector<SortKey> keys;
    TurnCounter counter(turn);
    const std::size_t n = m_entries.size();
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = m_nameMode ? n : begin + 1;
        while (end < n && m_entries[end].size == m_entries[begin].size) {
            ++end;
            counter.count();
        }
        if (end - begin >= 2) {
            sortRun(m_entries.data() + begin, end - begin,
                    std::string_view(m_names.data(), m_names.size()), m_nameMode, keys, turn);
        }
        begin = end;
    }
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
    // The comparison takes the list from its end while its results grow:
    // the pages of the entries taken go back to the system as it goes, so
    // the two do not add up. The vector keeps its room, which the kernel
    // fills with zeros should it be touched again.
    constexpr std::size_t kGiveBackEvery = 8192;
    if (m_entries.size() + kGiveBackEvery <= m_givenBackFrom) {
        m_givenBackFrom = m_entries.size();
        giveBackPages(m_entries.data() + m_entries.size(),
                      m_entries.data() + m_entries.capacity());
    }
}

std::size_t CatalogueList::memoryUse() const
{
    return m_entries.capacity() * sizeof(Entry) + m_names.capacity() +
           m_folderRuns.capacity() * sizeof(FolderRun);
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
