// Splits files of one size into classes of identical contents, comparing every byte.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/ContentClasses.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <thread>
#include <unistd.h>

#include "platform/FileContents.h"
#include "text/Text.h"
#include "search/FileCatalogue.h"

namespace search {

namespace {

// Later chunks are at least a page and at most this: larger reads gain
// nothing once the kernel reads ahead.
constexpr std::size_t kMinChunk = 4096;
constexpr std::size_t kMaxChunk = 1u << 20;
// The chunk of a class too large to hold a chunk of every file in memory.
constexpr std::size_t kStreamChunk = 256u << 10;
// Classes of at most this many files are split by their bytes alone: a
// digest would cost more than comparing a few chunks, which mostly differ
// early or are copies.
constexpr std::size_t kDigestFrom = 16;
// Files above this size are read with advice not to crowd other programs'
// pages out of the cache.
constexpr std::int64_t kNoReuseSize = 64 * 1024;

// Out of descriptors or memory: the search cannot go on.
bool endsTheSearch(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// The path no longer leads to the regular file the walk saw: a link, a
// folder, a device or a socket took its place or the place of a folder.
bool meansChanged(int error)
{
    return error == ELOOP || error == ENOTDIR || error == EXDEV || error == ENXIO ||
           error == EISDIR;
}

// Where a file's data lies, near enough: inodes are laid out with their
// data, so their order is the disk's order on the usual file systems.
std::uint64_t placeOf(const CatalogueList::Entry& entry)
{
    return (static_cast<std::uint64_t>(entry.deviceIndex()) << 56) |
           (entry.inode & ((1ull << 56) - 1));
}

}  // namespace

struct ContentClasses::ReaderState {
    platform::RootHandles roots;
    std::string rest;
    // A slice's files opened together: their folders, paths and
    // descriptors, and the descriptors to close after it.
    platform::BatchOpen opener;
    std::array<int, platform::BatchOpen::kMost> folders{};
    std::array<std::string, platform::BatchOpen::kMost> rests;
    std::array<int, platform::BatchOpen::kMost> fds{};
    std::array<int, platform::BatchOpen::kMost> closing{};
    std::array<Step*, platform::BatchOpen::kMost> ended{};
    // Whether files of a device (by its index in the catalogue) are opened
    // together: learnt from the first file of it opened alone. A search
    // meets a handful of devices; past these, the rest are opened alone.
    std::array<std::pair<std::uint32_t, bool>, 16> devices{};
    std::size_t devicesKnown = 0;

    // 1: opened together; 0: alone; -1: not known yet.
    int together(std::uint32_t device) const
    {
        for (std::size_t i = 0; i < devicesKnown; ++i) {
            if (devices[i].first == device) {
                return devices[i].second ? 1 : 0;
            }
        }
        return -1;
    }
    void learn(std::uint32_t device, int fd)
    {
        if (devicesKnown < devices.size() && together(device) < 0) {
            devices[devicesKnown++] = {device, platform::BatchOpen::suitsFileSystemOf(fd)};
        }
    }
};

ReadLimits ReadLimits::forCatalogue(std::size_t entries)
{
    ReadLimits limits;
    limits.memoryBytes = std::clamp<std::size_t>(entries * 16, 64u << 10, 4u << 20);
    limits.windowFiles = std::clamp<std::size_t>(entries / 16, 256, 16384);
    // Leave descriptors for the rest of the program (the window's own, the
    // list files); with fewer the readers keep fewer files open.
    const std::size_t free = platform::freeDescriptors();
    const std::size_t spare = free > 24 ? free - 24 : 0;
    limits.readers = static_cast<unsigned>(std::clamp<std::size_t>(spare / 8, 1, 8));
    // Each reader's descriptors: its root folders, a file, its ring.
    std::size_t readersUse = limits.readers * 4;
    // A slice's files open at once, within what is left.
    limits.openTogether = spare > readersUse
                              ? std::clamp<std::size_t>((spare - readersUse) / (2 * limits.readers),
                                                        1, platform::BatchOpen::kMost)
                              : 1;
    readersUse += limits.readers * (limits.openTogether - 1);
    limits.heldFiles =
        spare > readersUse ? std::min<std::size_t>(256, (spare - readersUse) / 2) : 0;
    return limits;
}

ContentClasses::ContentClasses(const FileCatalogue& catalogue, bool byTime,
                               const ReadLimits& limits)
    : m_catalogue(catalogue), m_byTime(byTime), m_limits(limits)
{
    const unsigned states = std::max(1u, m_limits.readers);
    for (unsigned i = 0; i < states; ++i) {
        m_readers.push_back(std::make_unique<ReaderState>());
        // Readers never allocate for the usual path, so they need no heap of
        // their own.
        m_readers.back()->rest.reserve(1024);
        for (std::string& rest : m_readers.back()->rests) {
            rest.reserve(1024);
        }
    }
    // As many readers as cores while the files come from the page cache;
    // all of them once a read has to wait for the disk.
    m_activeReaders = std::min(m_limits.readers, std::max(1u, std::thread::hardware_concurrency()));
    m_pool = std::make_unique<ReaderPool>(m_limits.readers, m_activeReaders);
}

ContentClasses::~ContentClasses()
{
    m_pool.reset();  // no reader runs from here on
    for (Member& m : m_members) {
        closeMember(m);
    }
}

ContentClasses::Member& ContentClasses::member(std::size_t id)
{
    return m_members[id - m_memberBase];
}

const ContentClasses::Member& ContentClasses::member(std::size_t id) const
{
    return m_members[id - m_memberBase];
}

std::string ContentClasses::pathOf(const Member& m) const
{
    return m_catalogue.pathOf(m.entry);
}

std::int64_t ContentClasses::frontSize() const
{
    return m_groups.empty() ? -1 : m_groups.front().size;
}

void ContentClasses::addGroup(std::int64_t size, const std::vector<CatalogueList::Entry>& files,
                              const std::vector<cache::Known>* known)
{
    const std::size_t groupId = m_groupBase + m_groups.size();
    Group group;
    group.size = size;
    group.firstMember = m_memberBase + m_members.size();
    group.count = files.size();

    std::vector<std::size_t> ids(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        Member m;
        m.entry = files[i];
        if (m_byTime) {
            m.value = sameTimeKey(m.entry.writeSeconds);
        }
        if (known != nullptr && (*known)[i].trusted) {
            m.headLength = (*known)[i].headLength;
            m.head = (*known)[i].head;
            m.headSum = (*known)[i].headSum;
        }
        m_members.push_back(m);
        ids[i] = group.firstMember + i;
    }

    m_groups.push_back(std::move(group));
    Group& added = m_groups.back();
    if (size == 0) {
        // Empty files are all equal, whatever their times; nothing is read.
        if (ids.size() >= 2) {
            added.finished.push_back(std::move(ids));
        }
        return;
    }
    if (known != nullptr) {
        ids = toRead(ids, *known);
    }
    if (m_byTime) {
        splitByTime(groupId, std::move(ids));
    } else if (ids.size() >= 2) {
        added.open = 1;
        queueClass({groupId, 0, std::move(ids)});
    }
}

std::vector<std::size_t> ContentClasses::toRead(const std::vector<std::size_t>& ids,
                                                const std::vector<cache::Known>& known)
{
    std::vector<std::int64_t> parts;
    if (m_byTime) {
        for (std::size_t id : ids) {
            parts.push_back(member(id).value);
        }
    }
    const cache::GroupPlan plan = cache::planGroup(known, parts);
    std::vector<std::size_t> read;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (plan.standsWith[i] != i) {
            member(ids[i]).ridesWith = ids[plan.standsWith[i]];
            member(ids[plan.standsWith[i]]).carries = true;
        } else if (plan.read[i]) {
            read.push_back(ids[i]);
        }
    }
    return read;
}

bool ContentClasses::frontReady() const
{
    return !m_groups.empty() && m_groups.front().open == 0;
}

ContentClasses::Finished ContentClasses::takeFront()
{
    Group& group = m_groups.front();
    Finished done;
    done.size = group.size;
    done.files = group.count;
    // The files of a block in the order of their paths ignoring case, of
    // equal ones the later addition first; the blocks by grouping value, then
    // by their first paths. Only files found to be copies come this far, so
    // only their paths are made and compared.
    struct Block {
        std::int64_t value = 0;
        std::vector<std::pair<std::string, std::size_t>> files;
    };
    std::vector<Block> blocks;
    for (const std::vector<std::size_t>& ids : withRiders(group)) {
        Block block;
        block.value = member(ids.front()).value;
        for (std::size_t id : ids) {
            block.files.emplace_back(pathOf(member(id)), id);
        }
        std::sort(block.files.begin(), block.files.end(), [](const auto& a, const auto& b) {
            const int c = text::compareOrder(a.first, b.first);
            return c != 0 ? c < 0 : a.second > b.second;
        });
        blocks.push_back(std::move(block));
    }
    std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) {
        if (a.value != b.value) {
            return a.value < b.value;
        }
        const int c = text::compareOrder(a.files.front().first, b.files.front().first);
        return c != 0 ? c < 0 : a.files.front().second > b.files.front().second;
    });
    std::vector<std::vector<std::size_t>> blockIds;
    for (Block& block : blocks) {
        std::vector<std::string> paths;
        std::vector<std::size_t> ids;
        for (auto& file : block.files) {
            paths.push_back(std::move(file.first));
            ids.push_back(file.second);
        }
        done.blocks.push_back(std::move(paths));
        blockIds.push_back(std::move(ids));
    }
    if (m_record) {
        addOutcomes(group, blockIds, done);
    }
    // A group's files are the oldest in the window.
    for (std::size_t i = 0; i < group.count; ++i) {
        closeMember(m_members.front());
        m_members.pop_front();
        ++m_memberBase;
    }
    m_groups.pop_front();
    ++m_groupBase;
    return done;
}

std::vector<std::vector<std::size_t>> ContentClasses::withRiders(const Group& group)
{
    std::map<std::size_t, std::vector<std::size_t>> riders;
    for (std::size_t id = group.firstMember; id < group.firstMember + group.count; ++id) {
        if (member(id).ridesWith != kNone) {
            riders[member(id).ridesWith].push_back(id);
        }
    }
    std::vector<std::vector<std::size_t>> classes = group.finished;
    if (riders.empty()) {
        return classes;
    }
    std::set<std::size_t> placed;
    for (std::vector<std::size_t>& c : classes) {
        const std::size_t members = c.size();
        for (std::size_t k = 0; k < members; ++k) {
            placed.insert(c[k]);
            const auto found = riders.find(c[k]);
            if (found != riders.end()) {
                c.insert(c.end(), found->second.begin(), found->second.end());
            }
        }
    }
    // A file with no copy among those read is still a copy of its riders.
    // One that changed or could not be read leaves them to each other: an
    // earlier search confirmed them identical, and none of them changed.
    for (auto& [id, with] : riders) {
        Member& m = member(id);
        if (placed.count(id) != 0) {
            continue;
        }
        std::vector<std::size_t> ids;
        if (!m.failed()) {
            ids.push_back(id);
        }
        ids.insert(ids.end(), with.begin(), with.end());
        if (ids.size() < 2) {
            continue;
        }
        if (!m_byTime) {
            member(ids.front()).value = member(ids.front()).headSum;
        }
        classes.push_back(std::move(ids));
    }
    return classes;
}

void ContentClasses::addOutcomes(const Group& group,
                                 const std::vector<std::vector<std::size_t>>& blocks,
                                 Finished& done) const
{
    // Each file's block by its place in the group; -1: none.
    std::vector<int> blockOf(group.count, -1);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (std::size_t id : blocks[b]) {
            blockOf[id - group.firstMember] = static_cast<int>(b);
        }
    }
    done.outcomes.reserve(group.count);
    for (std::size_t id = group.firstMember; id < group.firstMember + group.count; ++id) {
        const Member& m = member(id);
        if (m.failed()) {
            continue;
        }
        Finished::Outcome outcome;
        outcome.entry = m.entry;
        outcome.learned.trusted = m.headLength != 0;
        outcome.learned.headLength = m.headLength;
        outcome.learned.head = m.head;
        outcome.learned.headSum = m.headSum;
        outcome.learned.chunks = m.chunks;
        outcome.block = blockOf[id - group.firstMember];
        done.outcomes.push_back(outcome);
    }
}

std::vector<LeftOutFile> ContentClasses::takeLeftOut()
{
    std::vector<LeftOutFile> files;
    files.swap(m_leftOut);
    return files;
}

std::size_t ContentClasses::stepLength(const Class& c) const
{
    const std::int64_t size = m_groups[c.group - m_groupBase].size;
    const auto remaining = static_cast<std::size_t>(size - c.offset);
    if (c.offset == 0) {
        // The head first: most files of one size differ there, and it gives
        // the grouping value.
        return std::min<std::size_t>(remaining, platform::kHeadBytes);
    }
    // A quarter of the room at most, so that several classes are read at
    // once and the disk is kept busy.
    std::size_t each = m_limits.memoryBytes / (4 * std::max<std::size_t>(1, c.ids.size()));
    each = std::clamp(each, kMinChunk, kMaxChunk) / kMinChunk * kMinChunk;
    return std::min(remaining, each);
}

std::size_t ContentClasses::streamChunk() const
{
    // Each reader holds one chunk of a digest or a comparison at a time;
    // together they stay within the room for chunks.
    const std::size_t each = m_limits.memoryBytes / (2 * std::max(1u, m_limits.readers));
    return std::clamp(each, kMinChunk, kStreamChunk) / kMinChunk * kMinChunk;
}

bool ContentClasses::fitsInMemory(const Class& c) const
{
    return c.ids.size() * stepLength(c) <= m_limits.memoryBytes;
}

void ContentClasses::closeMember(Member& m)
{
    if (m.fd >= 0) {
        ::close(m.fd);
        m.fd = -1;
        --m_held;
    }
}

bool ContentClasses::letGo(Member& m)
{
    if (m.fd < 0) {
        return true;
    }
    const bool listed = asListed(m, m.fd);
    closeMember(m);
    if (!listed) {
        m.error = 0;
        m.state = State::Changed;
    }
    return listed;
}

void ContentClasses::dropAlone(Member& m)
{
    if (!letGo(m)) {
        leaveOut(m);
    }
}

void ContentClasses::leaveOut(const Member& m)
{
    LeftOutFile file;
    file.path = pathOf(m);
    file.why = m.state == State::Changed ? LeftOutFile::Why::Changed : LeftOutFile::Why::Unreadable;
    file.error = m.error;
    m_leftOut.push_back(std::move(file));
}

bool ContentClasses::dropFailed(std::vector<std::size_t>& ids)
{
    auto failed = [this](std::size_t id) {
        Member& m = member(id);
        if (!m.failed()) {
            return false;
        }
        if (endsTheSearch(m.error)) {
            if (m_failure == 0) {
                m_failure = m.error;
                m_failurePath = pathOf(m);
            }
        } else {
            leaveOut(m);
        }
        closeMember(m);
        return true;
    };
    ids.erase(std::remove_if(ids.begin(), ids.end(), failed), ids.end());
    return m_failure == 0;
}

void ContentClasses::queueClass(Class c)
{
    // Classes wait in window order, so the first group is read first and
    // written as early as it can be.
    auto at = std::upper_bound(m_classes.begin(), m_classes.end(), c.group,
                               [](std::size_t group, const Class& k) { return group < k.group; });
    m_classes.insert(at, std::move(c));
}

void ContentClasses::settle(const Class& after, std::vector<std::size_t> ids)
{
    Group& group = groupOf(after.group);
    if (ids.size() < 2) {
        for (std::size_t id : ids) {
            dropAlone(member(id));  // no copy of it here
        }
        return;
    }
    if (after.offset >= group.size) {
        for (std::size_t id : ids) {
            closeMember(member(id));
        }
        group.finished.push_back(std::move(ids));
        return;
    }
    ++group.open;
    queueClass({after.group, after.offset, std::move(ids)});
}

// --- Reading, on the readers ---

int ContentClasses::placeMember(const Member& m, ReaderState& state, std::string& rest)
{
    const std::int32_t folderIndex = m_catalogue.Catalogue.folderOf(m.entry);
    const std::string& folder = m_catalogue.Folders[static_cast<std::size_t>(folderIndex)];
    const FileCatalogue::RootPlace root = m_catalogue.rootOf(folderIndex);
    const std::size_t trusted = std::min(root.length, folder.size());
    int rootFd = state.roots.find(root.index);
    if (rootFd < 0) {
        // The reader's own string, so that no heap is needed here.
        state.rest.assign(folder, 0, trusted);
        if (state.rest.empty()) {
            state.rest = "/";
        }
        rootFd = state.roots.open(root.index, state.rest);
    }
    rest.assign(folder, trusted, std::string::npos);
    rest.append(m_catalogue.Catalogue.nameOf(m.entry));
    return rootFd;
}

int ContentClasses::openMember(Member& m, ReaderState& state)
{
    const int root = placeMember(m, state, state.rest);
    return root < 0 ? -1 : platform::openBelow(root, state.rest);
}

bool ContentClasses::asListed(const Member& m, int fd) const
{
    platform::FileStamp now;
    return platform::stampOf(fd, now) && now.regular && now.size == m.entry.size &&
           now.device == m_catalogue.Catalogue.deviceOf(m.entry) && now.inode == m.entry.inode &&
           now.changeNs == m.entry.changeNs;
}

bool ContentClasses::Job::read(unsigned reader)
{
    // A piece read alone is a slice of one, never stopped halfway.
    static const std::atomic<bool> kNoStop{false};
    ReadWork* self = this;
    return owner->executeSlice(&self, 1, reader, kNoStop) == 1;
}

std::size_t ContentClasses::Job::readSlice(ReadWork* const* pieces, std::size_t count,
                                           unsigned reader, const std::atomic<bool>& cancelled)
{
    return owner->executeSlice(pieces, count, reader, cancelled);
}

void ContentClasses::noteHead(const Job& job, Member& m, const unsigned char* out)
{
    const auto head =
        std::min<std::size_t>(job.length, static_cast<std::size_t>(platform::kHeadBytes));
    const bool hashed = job.kind == Job::Kind::Hash;
    // The grouping value of a file read whole-class at a time is made once
    // per set of equal heads, from bytes kept for the window's thread; here
    // only when a digest stands in for the bytes.
    if (hashed && !m_byTime) {
        m.value = platform::headSum(out, head);
    }
    if (m_record && job.kind != Job::Kind::Verify && job.step->kind != Step::Kind::Firsts) {
        // What the cache keeps of the file: the head's digest, the chunk's
        // own when it covers the head exactly; its sum where no set of equal
        // heads is made (takeChunk makes it once per set).
        const bool digested =
            job.digest && job.length == head && m_limits.digest == platform::chunkHash;
        m.headLength = static_cast<std::uint32_t>(head);
        m.head = digested ? m.hash : platform::chunkHash(out, head);
        if (hashed) {
            m.headSum = static_cast<std::int32_t>(m_byTime ? platform::headSum(out, head) : m.value);
        }
    }
    if (m.carries && m.headSum < 0) {
        // Its riders' class takes its value even when it has no copy here.
        m.headSum = static_cast<std::int32_t>(platform::headSum(out, head));
    }
}

std::size_t ContentClasses::executeSlice(ReadWork* const* pieces, std::size_t count,
                                         unsigned reader, const std::atomic<bool>& cancelled)
{
    ReaderState& state = *m_readers[reader];
    const std::size_t together =
        std::clamp<std::size_t>(m_limits.openTogether, 1, platform::BatchOpen::kMost);
    std::size_t ended = 0;
    for (std::size_t first = 0; first < count && !cancelled; first += together) {
        const std::size_t n = std::min(together, count - first);
        auto job = [&](std::size_t i) -> Job& { return *static_cast<Job*>(pieces[first + i]); };
        // The files not yet open, opened together where the kernel has them
        // at hand; the others one by one below.
        const std::size_t rootsBefore = state.roots.generation();
        for (std::size_t i = 0; i < n; ++i) {
            const Member& m = *job(i).target;
            state.folders[i] = -1;
            if (!m.failed() && m.fd < 0 && state.together(m.entry.deviceIndex()) == 1) {
                state.folders[i] = placeMember(m, state, state.rests[i]);
            }
        }
        if (state.roots.generation() != rootsBefore) {
            // Root folders were closed to make room: a folder placed
            // earlier may be gone, so none of them is opened together.
            state.folders.fill(-1);
        }
        state.opener.openCached(state.folders.data(), state.rests.data(), n, state.fds.data());
        std::size_t closing = 0;
        std::size_t steps = 0;
        // Each step counts its jobs as done only once their files are
        // closed: the window's thread may free it at once.
        auto closeAndCount = [&] {
            state.opener.close(state.closing.data(), closing);
            for (std::size_t i = 0; i < steps; ++i) {
                ended += state.ended[i]->remaining.fetch_sub(1) == 1 ? 1 : 0;
            }
        };
        try {
            for (std::size_t i = 0; i < n; ++i) {
                Job& piece = job(i);
                Member& m = *piece.target;
                // In the list to close before anything may throw.
                int& fd = state.closing[closing++];
                fd = state.fds[i];
                state.fds[i] = -1;
                if (cancelled) {
                    // A stop: the rest stays unread, and what was opened
                    // for it is closed.
                    continue;
                }
                if (fd >= 0) {
                    // Opened together: not failed, and not held open.
                    takeOpened(m, fd, 0);
                    fd = readOpen(piece, reader, fd);
                } else if (m.fd >= 0) {
                    fd = m.fd;
                    m.fd = -1;
                    --m_held;
                    fd = readOpen(piece, reader, fd);
                } else if (!m.failed()) {
                    // No query before the read: the walk's entry is the
                    // stamp, and the one after the read tells whether what
                    // was read is that file. A FIFO or device in the file's
                    // place opens without waiting and cannot be read at an
                    // offset (pread refuses it); whatever else was read is
                    // thrown away by that check.
                    fd = openMember(m, state);
                    if (takeOpened(m, fd, errno)) {
                        state.learn(m.entry.deviceIndex(), fd);
                        fd = readOpen(piece, reader, fd);
                    }
                }
                state.ended[steps++] = piece.step;
            }
        } catch (...) {
            for (std::size_t i = 0; i < n; ++i) {
                if (state.fds[i] >= 0) {
                    state.closing[closing++] = state.fds[i];
                    state.fds[i] = -1;
                }
            }
            closeAndCount();
            throw;
        }
        closeAndCount();
    }
    return ended;
}

bool ContentClasses::takeOpened(Member& m, int fd, int error)
{
    if (fd < 0) {
        m.error = error;
        m.state = meansChanged(error) ? State::Changed : State::Unreadable;
        return false;
    }
    if (m.entry.size > kNoReuseSize) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_NOREUSE);
    }
    m.sequential = false;
    return true;
}

int ContentClasses::readOpen(Job& job, unsigned reader, int fd)
{
    Member& m = *job.target;
    auto fail = [&m](int error, State why) {
        m.error = error;
        m.state = why;
    };
    if (!job.last && !m.sequential && job.offset > 0) {
        // A file read on and on: let the kernel read well ahead.
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        m.sequential = true;
    }
    // Digests and comparisons read into the step's room for this reader.
    unsigned char* out =
        job.kind == Job::Kind::Keep ? job.bytes : job.step->scratch.get() + reader * job.length;
    bool cached = true;
    bool ok = platform::readExactly(fd, job.offset, job.length, out, &cached);
    ++m_reads;
    if (!cached) {
        ++m_diskReads;
    }
    if (!ok) {
        // A file that ended early, or that is no longer the walk's, changed;
        // only a read error of the walk's own file makes it unreadable.
        const int error = errno;
        if (error == 0 || !asListed(m, fd)) {
            fail(0, State::Changed);
        } else {
            fail(error, State::Unreadable);
        }
    } else {
        if (job.kind == Job::Kind::Verify) {
            m.equal = std::memcmp(out, job.bytes, job.length) == 0;
        } else if (job.digest) {
            m.hash = m_limits.digest(out, job.length);
        } else {
            m.hash = 0;
        }
        if (job.offset == 0) {
            noteHead(job, m, out);
        } else if (m_record && job.kind == Job::Kind::Hash &&
                   m.chunks.count < cache::ChunkDigests::kMost) {
            // What the cache keeps of a stream's chunks after the head,
            // digested the one way the next search digests them. Chunks
            // read whole-class at a time are digested by takeChunk.
            const bool same = m_limits.digest == platform::chunkHash;
            const std::uint64_t digest = same ? m.hash : platform::chunkHash(out, job.length);
            m.chunks.add({job.offset, job.length, static_cast<std::uint32_t>(digest)});
        }
        // Each descriptor before it is closed, here or when its file leaves
        // the comparison: bytes read at different moments agree with what
        // the walk listed only if nothing was written since, which the
        // change time tells, and only if they came from the walk's file.
        if (!job.keepOpen && !asListed(m, fd)) {
            fail(0, State::Changed);
            ok = false;
        }
    }
    if (ok && job.keepOpen) {
        m.fd = fd;
        ++m_held;
        return -1;
    }
    return fd;
}

// --- Handing out and taking in, on the window's thread ---

ContentClasses::Job ContentClasses::makeJob(Step& step, std::size_t id, Job::Kind kind,
                                            std::int64_t offset, std::size_t length,
                                            unsigned char* bytes, bool last)
{
    Job job;
    job.owner = this;
    job.step = &step;
    job.target = &member(id);
    job.kind = kind;
    job.offset = offset;
    job.length = static_cast<std::uint32_t>(length);
    job.bytes = bytes;
    job.last = last;
    job.digest = kind == Job::Kind::Hash;
    job.place = placeOf(member(id).entry);
    return job;
}

void ContentClasses::giveScratch(Step& step)
{
    const std::size_t bytes = std::max(1u, m_pool->readers()) * step.length;
    step.scratch.reset(new unsigned char[bytes]);
    step.bufferBytes += bytes;
}

void ContentClasses::start(std::unique_ptr<Step> step)
{
    m_bytesOut += step->bufferBytes;
    step->remaining = step->jobs.size();
    std::vector<ReadWork*> work;
    work.reserve(step->jobs.size());
    for (Job& job : step->jobs) {
        work.push_back(&job);
    }
    Step* started = step.get();
    m_steps.push_back(std::move(step));
    if (work.empty()) {
        started->remaining = 0;  // taken in at the next look
        return;
    }
    m_pool->submit(work);
}

void ContentClasses::issueChunk(Class c)
{
    const std::int64_t size = groupOf(c.group).size;
    const std::size_t length = stepLength(c);
    auto step = std::make_unique<Step>();
    step->kind = Step::Kind::Chunk;
    step->length = length;
    step->bufferBytes = length * c.ids.size();
    step->buffer.reset(new unsigned char[std::max<std::size_t>(step->bufferBytes, 1)]);
    const bool last = c.offset + static_cast<std::int64_t>(length) >= size;
    std::size_t held = m_held.load();
    step->jobs.reserve(c.ids.size());
    for (std::size_t i = 0; i < c.ids.size(); ++i) {
        Job job = makeJob(*step, c.ids[i], Job::Kind::Keep, c.offset, length,
                          step->buffer.get() + i * length, last);
        job.digest = c.ids.size() >= kDigestFrom;
        // Keep a file open for its next chunk while there is room.
        if (!last && (member(c.ids[i]).fd >= 0 || held < m_limits.heldFiles)) {
            job.keepOpen = true;
            held += member(c.ids[i]).fd >= 0 ? 0 : 1;
        }
        step->jobs.push_back(job);
    }
    step->cls = std::move(c);
    start(std::move(step));
}

void ContentClasses::issueFirsts(Stream stream)
{
    // The first file of each set, as many sets as there is room for.
    const std::size_t count =
        std::clamp<std::size_t>(m_limits.memoryBytes / stream.length, 1, stream.sets.size());
    auto step = std::make_unique<Step>();
    step->kind = Step::Kind::Firsts;
    step->length = stream.length;
    step->bufferBytes = count * stream.length;
    step->buffer.reset(new unsigned char[step->bufferBytes]);
    const std::int64_t size = groupOf(stream.parent.group).size;
    const bool last = stream.parent.offset + static_cast<std::int64_t>(stream.length) >= size;
    for (std::size_t s = 0; s < count; ++s) {
        step->jobs.push_back(makeJob(*step, stream.sets[s].front(), Job::Kind::Keep,
                                     stream.parent.offset, stream.length,
                                     step->buffer.get() + s * stream.length, last));
    }
    step->stream = std::move(stream);
    start(std::move(step));
}

void ContentClasses::issue()
{
    // Streams waiting for room go first: they belong to earlier groups.
    while (!m_streams.empty() &&
           (m_bytesOut == 0 || m_bytesOut + m_streams.front().length <= m_limits.memoryBytes)) {
        Stream stream = std::move(m_streams.front());
        m_streams.pop_front();
        issueFirsts(std::move(stream));
    }
    for (auto it = m_classes.begin(); it != m_classes.end();) {
        if (m_bytesOut >= m_limits.memoryBytes) {
            break;
        }
        if (!fitsInMemory(*it)) {
            // Too many files for a chunk of each: digests first, nothing kept.
            Class c = std::move(*it);
            it = m_classes.erase(it);
            const std::int64_t size = groupOf(c.group).size;
            auto step = std::make_unique<Step>();
            step->kind = Step::Kind::Digests;
            step->length =
                std::min<std::size_t>(static_cast<std::size_t>(size - c.offset), streamChunk());
            for (std::size_t id : c.ids) {
                letGo(member(id));  // a changed file is named with the digests
                step->jobs.push_back(
                    makeJob(*step, id, Job::Kind::Hash, c.offset, step->length, nullptr, false));
            }
            step->stream.parent = std::move(c);
            step->stream.length = step->length;
            giveScratch(*step);
            start(std::move(step));
            continue;
        }
        const std::size_t need = stepLength(*it) * it->ids.size();
        if (m_bytesOut > 0 && m_bytesOut + need > m_limits.memoryBytes) {
            break;  // in window order: the next one waits for room
        }
        Class c = std::move(*it);
        it = m_classes.erase(it);
        issueChunk(std::move(c));
    }
}

void ContentClasses::pickReaders()
{
    // Every few thousand reads: all readers while more than one read in fifty
    // waited for the disk, else as many as there are cores.
    constexpr std::size_t kEvery = 2048;
    const std::size_t reads = m_reads.load();
    if (reads - m_readsSeen < kEvery && !(m_readsSeen == 0 && m_diskReads > 0)) {
        return;
    }
    const std::size_t disk = m_diskReads.load();
    const bool cold = (disk - m_diskSeen) * 50 > reads - m_readsSeen;
    m_readsSeen = reads;
    m_diskSeen = disk;
    unsigned wanted =
        cold ? m_pool->readers()
             : std::min(m_pool->readers(), std::max(1u, std::thread::hardware_concurrency()));
    if (wanted != m_activeReaders) {
        m_activeReaders = wanted;
        m_pool->setActive(wanted);
    }
}

ContentClasses::Outcome ContentClasses::pump(const std::function<bool()>& turn)
{
    if (m_failure != 0) {
        return Outcome::Failed;
    }
    pickReaders();
    issue();
    if (!m_steps.empty()) {
        m_pool->waitForBatch(ReaderPool::kTurnEvery);
        auto ended =
            std::partition(m_steps.begin(), m_steps.end(),
                           [](const std::unique_ptr<Step>& s) { return s->remaining != 0; });
        std::vector<std::unique_ptr<Step>> done(std::make_move_iterator(ended),
                                                std::make_move_iterator(m_steps.end()));
        m_steps.erase(ended, m_steps.end());
        for (std::unique_ptr<Step>& step : done) {
            m_bytesOut -= step->bufferBytes;
            if (!take(*step)) {
                m_pool->cancel();
                return Outcome::Failed;
            }
        }
    }
    if (!turn()) {
        m_pool->cancel();
        return Outcome::Stopped;
    }
    return Outcome::Read;
}

bool ContentClasses::take(Step& step)
{
    switch (step.kind) {
    case Step::Kind::Chunk:
        return takeChunk(step);
    case Step::Kind::Digests:
        return takeDigests(step);
    case Step::Kind::Firsts:
        return takeFirsts(step);
    case Step::Kind::Verify:
        return takeVerify(step);
    }
    return true;
}

void ContentClasses::splitByTime(std::size_t groupId, std::vector<std::size_t> ids)
{
    std::sort(ids.begin(), ids.end(), [this](std::size_t a, std::size_t b) {
        const Member& ma = member(a);
        const Member& mb = member(b);
        return ma.value != mb.value ? ma.value < mb.value : a < b;
    });
    // Files of one time are compared; a file alone at its time is not read.
    Group& group = groupOf(groupId);
    for (std::size_t begin = 0; begin < ids.size();) {
        std::size_t end = begin + 1;
        while (end < ids.size() && member(ids[end]).value == member(ids[begin]).value) {
            ++end;
        }
        if (end - begin >= 2) {
            ++group.open;
            queueClass({groupId, 0,
                        std::vector<std::size_t>(ids.begin() + static_cast<std::ptrdiff_t>(begin),
                                                 ids.begin() + static_cast<std::ptrdiff_t>(end))});
        }
        begin = end;
    }
}

bool ContentClasses::takeChunk(Step& step)
{
    // The class splits by digest, then by bytes within a digest.
    Class& c = step.cls;
    --groupOf(c.group).open;
    struct Read {
        std::size_t id;
        const unsigned char* bytes;
    };
    std::vector<Read> reads;
    reads.reserve(c.ids.size());
    for (std::size_t k = 0; k < c.ids.size(); ++k) {
        reads.push_back({c.ids[k], step.buffer.get() + k * step.length});
    }
    if (!dropFailed(c.ids)) {
        return false;
    }
    reads.erase(std::remove_if(reads.begin(), reads.end(),
                               [this](const Read& r) { return member(r.id).failed(); }),
                reads.end());
    std::sort(reads.begin(), reads.end(), [this](const Read& a, const Read& b) {
        const Member& ma = member(a.id);
        const Member& mb = member(b.id);
        return ma.hash != mb.hash ? ma.hash < mb.hash : a.id < b.id;
    });
    // Files of equal bytes: the digests first, then the bytes within a
    // digest, against the first file of each set found so far.
    std::vector<std::vector<std::size_t>> sets;
    std::vector<const unsigned char*> firsts;
    for (std::size_t begin = 0; begin < reads.size();) {
        std::size_t end = begin + 1;
        while (end < reads.size() && member(reads[end].id).hash == member(reads[begin].id).hash) {
            ++end;
        }
        const std::size_t runFirst = sets.size();
        for (std::size_t r = begin; r < end; ++r) {
            std::size_t s = runFirst;
            while (s < sets.size() && std::memcmp(firsts[s], reads[r].bytes, step.length) != 0) {
                ++s;
            }
            if (s == sets.size()) {
                sets.emplace_back();
                firsts.push_back(reads[r].bytes);
            }
            sets[s].push_back(reads[r].id);
        }
        begin = end;
    }
    noteSets(step, sets, firsts);
    const Class after{c.group, c.offset + static_cast<std::int64_t>(step.length), {}};
    for (std::vector<std::size_t>& set : sets) {
        settle(after, std::move(set));  // a file alone has no copy in this class
    }
    return true;
}

void ContentClasses::noteSets(const Step& step, const std::vector<std::vector<std::size_t>>& sets,
                              const std::vector<const unsigned char*>& firsts)
{
    const Class& c = step.cls;
    if (c.offset == 0) {
        // Equal heads have equal sums: one sum for each set of two or more.
        const bool headValue = !m_byTime;
        const std::size_t headLength =
            std::min<std::size_t>(step.length, static_cast<std::size_t>(platform::kHeadBytes));
        for (std::size_t s = 0; s < sets.size(); ++s) {
            if (sets[s].size() < 2 || (!headValue && !m_record)) {
                continue;
            }
            const auto sum = platform::headSum(firsts[s], headLength);
            for (std::size_t id : sets[s]) {
                Member& m = member(id);
                m.value = headValue ? static_cast<std::int64_t>(sum) : m.value;
                m.headSum = m_record ? static_cast<std::int32_t>(sum) : m.headSum;
            }
        }
        return;
    }
    if (!m_record || sets.size() < 2) {
        return;
    }
    // The class split here: what the cache keeps of the chunk, one digest for
    // each set. Where nothing split, equal digests would prove nothing.
    const bool digested = step.jobs.front().digest && m_limits.digest == platform::chunkHash;
    for (std::size_t s = 0; s < sets.size(); ++s) {
        const std::uint64_t digest =
            digested ? member(sets[s].front()).hash : platform::chunkHash(firsts[s], step.length);
        for (std::size_t id : sets[s]) {
            Member& m = member(id);
            if (m.chunks.count < cache::ChunkDigests::kMost) {
                m.chunks.add({c.offset, static_cast<std::uint32_t>(step.length),
                              static_cast<std::uint32_t>(digest)});
            }
        }
    }
}

bool ContentClasses::takeDigests(Step& step)
{
    Stream& stream = step.stream;
    std::vector<std::size_t>& ids = stream.parent.ids;
    if (!dropFailed(ids)) {
        return false;
    }
    std::sort(ids.begin(), ids.end(), [this](std::size_t a, std::size_t b) {
        const Member& ma = member(a);
        const Member& mb = member(b);
        return ma.hash != mb.hash ? ma.hash < mb.hash : a < b;
    });
    for (std::size_t begin = 0; begin < ids.size();) {
        std::size_t end = begin + 1;
        while (end < ids.size() && member(ids[end]).hash == member(ids[begin]).hash) {
            ++end;
        }
        if (end - begin >= 2) {
            stream.sets.emplace_back(ids.begin() + static_cast<std::ptrdiff_t>(begin),
                                     ids.begin() + static_cast<std::ptrdiff_t>(end));
        } else {
            dropAlone(member(ids[begin]));
        }
        begin = end;
    }
    ids.clear();
    if (stream.sets.empty()) {
        --groupOf(stream.parent.group).open;
    } else {
        m_streams.push_back(std::move(stream));
    }
    return true;
}

bool ContentClasses::takeFirsts(Step& step)
{
    // The others of each set whose first file was read are compared with it.
    Stream& stream = step.stream;
    const std::size_t count = step.jobs.size();
    auto verify = std::make_unique<Step>();
    verify->kind = Step::Kind::Verify;
    verify->length = step.length;
    verify->bufferBytes = step.bufferBytes;
    verify->buffer = std::move(step.buffer);
    step.bufferBytes = 0;
    const std::int64_t size = groupOf(stream.parent.group).size;
    const bool last = stream.parent.offset + static_cast<std::int64_t>(stream.length) >= size;
    std::vector<std::vector<std::size_t>> rest;
    for (std::size_t s = 0; s < count; ++s) {
        std::vector<std::size_t>& set = stream.sets[s];
        std::vector<std::size_t> first{set.front()};
        if (!dropFailed(first)) {
            return false;
        }
        if (first.empty()) {
            // The file the others were to be compared with is gone: they are
            // compared among themselves later.
            set.erase(set.begin());
            if (set.size() >= 2) {
                rest.push_back(std::move(set));
            }
            set.clear();
            continue;
        }
        for (std::size_t k = 1; k < set.size(); ++k) {
            verify->jobs.push_back(makeJob(*verify, set[k], Job::Kind::Verify, stream.parent.offset,
                                           stream.length, verify->buffer.get() + s * stream.length,
                                           last));
        }
    }
    verify->stream.parent = stream.parent;
    verify->stream.length = stream.length;
    verify->stream.sets.assign(
        std::make_move_iterator(stream.sets.begin()),
        std::make_move_iterator(stream.sets.begin() + static_cast<std::ptrdiff_t>(count)));
    for (std::size_t s = count; s < stream.sets.size(); ++s) {
        rest.push_back(std::move(stream.sets[s]));
    }
    giveScratch(*verify);
    if (!rest.empty()) {
        // Sets not yet begun wait for room, as a stream of their own.
        Stream later;
        later.parent = stream.parent;
        later.length = stream.length;
        later.sets = std::move(rest);
        ++groupOf(stream.parent.group).open;
        m_streams.push_front(std::move(later));
    }
    start(std::move(verify));
    return true;
}

bool ContentClasses::takeVerify(Step& step)
{
    Stream& stream = step.stream;
    const Class after{
        stream.parent.group, stream.parent.offset + static_cast<std::int64_t>(stream.length), {}};
    std::vector<std::vector<std::size_t>> again;
    for (std::vector<std::size_t>& set : stream.sets) {
        if (set.empty()) {
            continue;
        }
        const std::size_t first = set.front();
        std::vector<std::size_t> others(set.begin() + 1, set.end());
        if (!dropFailed(others)) {
            return false;
        }
        std::vector<std::size_t> equal{first};
        std::vector<std::size_t> unequal;
        for (std::size_t id : others) {
            (member(id).equal ? equal : unequal).push_back(id);
        }
        settle(after, std::move(equal));
        if (unequal.size() >= 2) {
            again.push_back(std::move(unequal));  // equal digests, other bytes
        } else if (!unequal.empty()) {
            dropAlone(member(unequal.front()));
        }
    }
    if (again.empty()) {
        --groupOf(stream.parent.group).open;
    } else {
        stream.sets = std::move(again);
        m_streams.push_front(std::move(stream));
    }
    return true;
}

}  // namespace search
