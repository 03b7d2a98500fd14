// Splits files of one size into classes of identical contents, comparing every byte.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/Reuse.h"
#include "platform/BatchOpen.h"
#include "platform/FileContents.h"
#include "search/CatalogueList.h"
#include "search/ReaderPool.h"
#include "search/SearchWindow.h"

namespace search {

class FileCatalogue;

// How much one comparison may hold at once.
struct ReadLimits {
    // Chunk bytes held in memory at once.
    std::size_t memoryBytes = 4u << 20;
    // Files of the groups read side by side; one group may exceed it.
    std::size_t windowFiles = 16384;
    // Files kept open from one chunk to the next.
    std::size_t heldFiles = 256;
    unsigned readers = 8;
    // Files a reader opens and closes together, each a descriptor while
    // the others are read.
    std::size_t openTogether = platform::BatchOpen::kMost;
    // Sorts chunks into buckets before their bytes are compared; tests put
    // every chunk into one bucket to show that the bytes decide.
    std::uint64_t (*digest)(const unsigned char* bytes, std::size_t length) = platform::chunkHash;

    // Limits for a catalogue of `entries` files, within the descriptors the
    // process has left: small searches stay small, large ones read wide.
    static ReadLimits forCatalogue(std::size_t entries);
};

// Splits groups of files of one size into classes of identical contents,
// reading every file once. All files of a class are read together, chunk by
// chunk at the same offset, by a few reader threads in the order of their
// place on the disk; after each chunk a class splits by the chunk's digest
// and then by its bytes, and a file left alone drops out. Whatever the files
// hold, the work is linear in their bytes, and nothing is called equal that
// was not compared byte for byte.
//
// The walk's entry of a file (device, inode, size, change time) is its
// stamp: every descriptor is checked against it after its first read, and
// the file after its last, so a file that changed after the walk, vanished,
// turned into a link or cannot be read leaves its class and is listed as
// left out. The window's thread calls everything here; readers only read.
class ContentClasses {
public:
    // `byTime`: files of a group are first split by sameTimeKey.
    ContentClasses(const FileCatalogue& catalogue, bool byTime, const ReadLimits& limits);
    ~ContentClasses();
    ContentClasses(const ContentClasses&) = delete;
    ContentClasses& operator=(const ContentClasses&) = delete;

    // A group of files of one size (two or more), in the order of the
    // catalogue's walk. Empty files form one class without being read.
    // `known`, one for each file: what an earlier search proved of them.
    // Files it shows identical to another are not read but join that
    // file's class; files it shows different from all others are not read.
    void addGroup(std::int64_t size, const std::vector<CatalogueList::Entry>& files,
                  const std::vector<cache::Known>* known = nullptr);
    std::size_t filesInWindow() const { return m_members.size(); }
    bool empty() const { return m_groups.empty(); }
    // The size of the first group not yet written.
    std::int64_t frontSize() const;

    enum class Outcome { Read, Stopped, Failed };
    // Reads on: hands the readers what the limits allow, waits a moment for
    // them, takes in what they finished, and gives the event loop a turn
    // through `turn`, which says whether to go on.
    Outcome pump(const std::function<bool()>& turn);

    // Whether the first group's classes are all known.
    bool frontReady() const;
    struct Finished {
        std::int64_t size = 0;
        std::size_t files = 0;  // all files of the group, for progress
        // Each class of two or more files, by grouping value and then path;
        // the paths of a class in case-insensitive order.
        std::vector<std::vector<std::string>> blocks;
        // With recordOutcomes: what was learned of each file that did not
        // fail, for the cache.
        struct Outcome {
            CatalogueList::Entry entry;
            cache::Known learned;  // trusted: the head read or known; classId unused
            int block = -1;        // index into blocks
        };
        std::vector<Outcome> outcomes;
    };
    Finished takeFront();
    void recordOutcomes(bool on) { m_record = on; }
    // Reads of file contents so far.
    std::size_t reads() const { return m_reads.load(); }

    // The files left out since the last call.
    std::vector<LeftOutFile> takeLeftOut();
    // After Outcome::Failed: the system's errno (out of descriptors or
    // memory) and the file being opened or read.
    int failure() const { return m_failure; }
    const std::string& failurePath() const { return m_failurePath; }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    enum class State : std::uint8_t { Listed, Unreadable, Changed };
    struct Member {
        CatalogueList::Entry entry;
        std::int64_t value = 0;  // the grouping value: head sum or sameTimeKey
        std::uint64_t hash = 0;  // digest of the last chunk read
        std::int32_t fd = -1;    // kept open from one step to the next
        std::int32_t error = 0;
        State state = State::Listed;
        bool equal = false;       // a verify job's answer
        bool sequential = false;  // read-ahead advice given
        // What is known of the file's head (the cache's or read here).
        std::uint32_t headLength = 0;
        std::uint64_t head = 0;
        std::int32_t headSum = -1;
        // Chunks read after the head, for the cache.
        cache::ChunkDigests chunks;
        // The file this one is known identical to; npos: itself.
        std::size_t ridesWith = kNone;
        // Files ride with this one.
        bool carries = false;

        bool failed() const { return state == State::Unreadable || state == State::Changed; }
    };

    struct Group {
        std::int64_t size = 0;
        std::size_t firstMember = 0;
        std::size_t count = 0;
        std::size_t open = 0;  // classes not yet settled
        std::vector<std::vector<std::size_t>> finished;
    };

    // Files of one group whose bytes are equal before `offset`.
    struct Class {
        std::size_t group = 0;
        std::int64_t offset = 0;
        std::vector<std::size_t> ids;
    };

    // A class too large to hold a chunk of each file: sets of files with
    // equal digests, each still to be compared byte for byte with its first.
    struct Stream {
        Class parent;  // at the chunk's offset
        std::size_t length = 0;
        std::vector<std::vector<std::size_t>> sets;
    };

    struct Step;
    struct Job : ReadWork {
        enum class Kind : std::uint8_t { Keep, Hash, Verify };
        ContentClasses* owner = nullptr;
        Step* step = nullptr;
        // The file by address: the window's thread adds and removes other
        // groups' files while readers work, which moves nothing in a deque.
        Member* target = nullptr;
        std::int64_t offset = 0;
        std::uint32_t length = 0;
        Kind kind = Kind::Keep;
        bool last = false;  // the file's last read: check its stamp afterwards
        bool keepOpen = false;
        bool digest = false;  // Keep: also the chunk's digest
        // Keep: where the bytes go; Verify: the bytes to compare with.
        unsigned char* bytes = nullptr;
        bool read(unsigned reader) override;
        std::size_t readSlice(ReadWork* const* pieces, std::size_t count, unsigned reader,
                              const std::atomic<bool>& cancelled) override;
    };

    // Reads handed out together and taken in together.
    struct Step {
        enum class Kind : std::uint8_t { Chunk, Digests, Firsts, Verify };
        Kind kind = Kind::Chunk;
        Class cls;      // Chunk
        Stream stream;  // Digests, Firsts, Verify
        std::size_t length = 0;
        std::unique_ptr<unsigned char[]> buffer;
        // Digests and comparisons: room for one chunk per reader.
        std::unique_ptr<unsigned char[]> scratch;
        std::size_t bufferBytes = 0;
        std::vector<Job> jobs;
        std::atomic<std::size_t> remaining{0};
    };

    struct ReaderState;

    Member& member(std::size_t id);
    const Member& member(std::size_t id) const;
    std::string pathOf(const Member& m) const;
    Group& groupOf(std::size_t id) { return m_groups[id - m_groupBase]; }
    std::size_t stepLength(const Class& c) const;
    bool fitsInMemory(const Class& c) const;
    std::size_t streamChunk() const;

    void issue();
    void pickReaders();
    Job makeJob(Step& step, std::size_t id, Job::Kind kind, std::int64_t offset, std::size_t length,
                unsigned char* bytes, bool last);
    void start(std::unique_ptr<Step> step);
    void giveScratch(Step& step);
    void issueChunk(Class c);
    void issueFirsts(Stream stream);
    bool take(Step& step);
    bool takeChunk(Step& step);
    // What a chunk step's sets of equal bytes tell of their files: the head
    // sums, and for the cache the chunk's digests where the class split.
    void noteSets(const Step& step, const std::vector<std::vector<std::size_t>>& sets,
                  const std::vector<const unsigned char*>& firsts);
    bool takeDigests(Step& step);
    bool takeFirsts(Step& step);
    bool takeVerify(Step& step);

    // Jobs taken together (or one alone): their files opened together,
    // read one by one, closed together. How many were the last of their
    // step.
    std::size_t executeSlice(ReadWork* const* pieces, std::size_t count, unsigned reader,
                             const std::atomic<bool>& cancelled);
    // Whether a file was opened for reading; marks it when not.
    bool takeOpened(Member& m, int fd, int error);
    // The job's read through `fd`, open on its file and no longer held by
    // it; the descriptor to close afterwards, or -1 when the file keeps it.
    int readOpen(Job& job, unsigned reader, int fd);
    // What a read at offset 0 tells of the file's head.
    void noteHead(const Job& job, Member& m, const unsigned char* out);
    // Whether the open file is still the one the walk listed, unchanged.
    bool asListed(const Member& m, int fd) const;
    // The reader's root folder of a file, its path below in `rest`.
    int placeMember(const Member& m, ReaderState& state, std::string& rest);
    int openMember(Member& m, ReaderState& state);

    // Takes failed files out of a list, naming them; false when a failure
    // ends the search.
    bool dropFailed(std::vector<std::size_t>& ids);
    void closeMember(Member& m);
    // Closes a file's held descriptor, checked first: what was read through
    // it counts only if it is the walk's file, unchanged. False, the file
    // marked changed, when it is not.
    bool letGo(Member& m);
    // A file with no copy left in its class: let go, and named when it
    // turns out to have changed.
    void dropAlone(Member& m);
    // Files of one class with equal bytes up to `after.offset`: read on,
    // finish or drop.
    void settle(const Class& after, std::vector<std::size_t> ids);
    void queueClass(Class c);
    // Same-time rule: the group's files by the walk's write time, each time
    // of two or more files a class of its own.
    void splitByTime(std::size_t group, std::vector<std::size_t> ids);
    void leaveOut(const Member& m);
    // Classes of the group with the files riding on their members added.
    std::vector<std::vector<std::size_t>> withRiders(const Group& group);
    // The files of a new group the cache cannot settle; the others ride
    // with a file or are known to have no copy.
    std::vector<std::size_t> toRead(const std::vector<std::size_t>& ids,
                                    const std::vector<cache::Known>& known);
    void addOutcomes(const Group& group, const std::vector<std::vector<std::size_t>>& blocks,
                     Finished& done) const;

    const FileCatalogue& m_catalogue;
    const bool m_byTime;
    bool m_record = false;
    ReadLimits m_limits;
    std::vector<std::unique_ptr<ReaderState>> m_readers;

    std::deque<Member> m_members;
    std::size_t m_memberBase = 0;  // id of m_members.front()
    std::deque<Group> m_groups;
    std::size_t m_groupBase = 0;
    std::deque<Class> m_classes;                 // waiting for their next chunk, by group
    std::deque<Stream> m_streams;                // waiting for room to read their firsts
    std::vector<std::unique_ptr<Step>> m_steps;  // handed out
    std::size_t m_bytesOut = 0;                  // chunk bytes of those steps
    std::atomic<std::size_t> m_held{0};          // files kept open
    std::atomic<std::size_t> m_reads{0};
    std::atomic<std::size_t> m_diskReads{0};  // reads the page cache could not serve
    std::size_t m_readsSeen = 0;
    std::size_t m_diskSeen = 0;
    unsigned m_activeReaders = 0;

    std::vector<LeftOutFile> m_leftOut;
    int m_failure = 0;
    std::string m_failurePath;
    // Last, so that it goes first: no reader runs once it is gone.
    std::unique_ptr<ReaderPool> m_pool;
};

}  // namespace search
