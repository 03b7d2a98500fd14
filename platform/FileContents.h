// Reading files for comparison: head sums, chunk hashes, file stamps and exact reads.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace platform {

// The bytes the quick sum is made of: the first min(size, 4096).
constexpr std::int64_t kHeadBytes = 4096;

// The sum, modulo 2^32, of the first min(length / 4, 1024) little-endian
// 32-bit words, with bit 31 cleared.
std::uint32_t headSum(const unsigned char* bytes, std::size_t length);
inline std::uint32_t headSum(const std::string& head)
{
    return headSum(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

// A 64-bit digest of a chunk, to sort chunks into buckets before their bytes
// are compared. Two chunks with different digests differ; equal digests
// prove nothing.
std::uint64_t chunkHash(const unsigned char* bytes, std::size_t length);

// What tells one file from another and a changed file from the same one:
// taken before the first read and checked again after the last.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t changeNs = 0;  // st_ctim: any write or rename moves it
    std::int64_t writeSeconds = 0;
    bool regular = false;

    // The same file, whatever became of it: a hard link or another path to
    // it is no copy.
    bool sameFile(const FileStamp& other) const
    {
        return device == other.device && inode == other.inode;
    }
    bool operator==(const FileStamp& other) const = default;

    // Same file, same size, same change time.
    bool unchangedFrom(const FileStamp& before) const
    {
        return regular && device == before.device && inode == before.inode && size == before.size &&
               changeNs == before.changeNs;
    }
};

FileStamp stampFrom(const struct stat& st);
// fstat of an open file. False with errno set.
bool stampOf(int fd, FileStamp& stamp);

// Exactly `length` bytes at `offset` into `out`. False with errno set on a
// read error, and with errno 0 when the file ended first.
// With `cached`, also tells whether all of it came from the page cache, so
// that no disk was waited on.
bool readExactly(int fd, std::int64_t offset, std::size_t length, unsigned char* out,
                 bool* cached = nullptr);

// The root folders of a search, each opened once as the user named it (a
// link there is followed), for opening files below them without following
// any link. A handful at most; more than that and the oldest are closed.
class RootHandles {
public:
    RootHandles() { m_roots.reserve(kMost); }
    ~RootHandles() { clear(); }
    RootHandles(const RootHandles&) = delete;
    RootHandles& operator=(const RootHandles&) = delete;

    // The folder known by `key`, when it is open; -1 when not.
    int find(std::size_t key) const;
    // The folder `path`, known by `key`. -1 with errno.
    int open(std::size_t key, const std::string& path);
    void clear();
    // Moves on each time the folders are closed: descriptors found before
    // are no longer theirs.
    std::size_t generation() const { return m_generation; }

private:
    static constexpr std::size_t kMost = 8;
    std::size_t m_generation = 0;
    std::vector<std::pair<std::size_t, int>> m_roots;
};

// Opens `rest`, a path below the open folder `root`, for reading without
// following a link anywhere in it: a regular file, never waited on (a FIFO
// in a file's place opens without blocking and fails the regular-file check
// later). -1 with errno.
int openBelow(int root, const std::string& rest);

// Whether two files both still have `size` bytes and those bytes are equal,
// from byte `from` on. Reads in chunks and stops at the first difference;
// never maps a file and never reads past an end, so a file that shrinks
// meanwhile is simply unequal.
bool sameContents(const std::string& first, const std::string& other, std::int64_t size,
                  std::int64_t from = 0);

// The chunk each file is read in by sameContents.
constexpr std::size_t kCompareChunk = 256 * 1024;

// Descriptors this process may still open before it reaches its limit.
std::size_t freeDescriptors();

}  // namespace platform
