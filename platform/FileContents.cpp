// Reading files for comparison: head sums, chunk hashes, file stamps and exact reads.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileContents.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/NoFollowOpen.h"

namespace platform {

namespace {

std::uint32_t loadLittle32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t loadWord(const unsigned char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 31;
    h *= 0x7FB5D329728EA185ull;
    h ^= h >> 27;
    h *= 0x81DADEF4BC2DD44Dull;
    h ^= h >> 33;
    return h;
}

// A regular file opened for reading, not through a final link, that still
// has the size the catalogue recorded.
class OpenFile {
public:
    OpenFile(const std::string& path, std::int64_t size)
    {
        m_fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (m_fd < 0) {
            return;
        }
        struct stat st = {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != size) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OpenFile()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool ok() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

}  // namespace

std::uint32_t headSum(const unsigned char* bytes, std::size_t length)
{
    const std::size_t words = std::min<std::size_t>(length / 4, 1024);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < words; ++i) {
        sum += loadLittle32(bytes + 4 * i);
    }
    return sum & 0x7FFFFFFFu;
}

std::uint64_t chunkHash(const unsigned char* bytes, std::size_t length)
{
    // Sixteen bytes per 64 x 64 -> 128-bit multiplication, folded, in four
    // independent lanes: the digest only sorts chunks into buckets, so speed
    // matters more than strength.
    constexpr std::uint64_t kKeys[8] = {
        0xA0761D6478BD642Full, 0xE7037ED1A0B428DBull, 0x8EBC6AF09C88C6E3ull, 0x589965CC75374CC3ull,
        0x1D8E4E27C47D124Full, 0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull, 0x94D049BB133111EBull};
    auto fold = [](std::uint64_t a, std::uint64_t b) {
        const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
        return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
    };
    std::uint64_t lanes[4] = {length, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 64 <= length; i += 64) {
        for (int lane = 0; lane < 4; ++lane) {
            const unsigned char* p = bytes + i + 16 * lane;
            lanes[lane] +=
                fold(loadWord(p) ^ kKeys[2 * lane], loadWord(p + 8) ^ kKeys[2 * lane + 1]);
        }
    }
    std::uint64_t h =
        lanes[0] ^ mix(lanes[1] + kKeys[0]) ^ mix(lanes[2] + kKeys[1]) ^ mix(lanes[3] + kKeys[2]);
    for (; i + 8 <= length; i += 8) {
        h = fold(h ^ loadWord(bytes + i), kKeys[5]);
    }
    std::uint64_t tail = 0;
    for (std::size_t shift = 0; i < length; ++i, shift += 8) {
        tail |= static_cast<std::uint64_t>(bytes[i]) << shift;
    }
    return mix(h ^ fold(tail ^ kKeys[6], length ^ kKeys[7]));
}

FileStamp stampFrom(const struct stat& st)
{
    FileStamp stamp;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.changeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.writeSeconds = st.st_mtim.tv_sec;
    stamp.regular = S_ISREG(st.st_mode);
    return stamp;
}

bool stampOf(int fd, FileStamp& stamp)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    stamp = stampFrom(st);
    return true;
}

bool readExactly(int fd, std::int64_t offset, std::size_t length, unsigned char* out, bool* cached)
{
    if (cached != nullptr) {
        // What the cache holds comes at once; the rest is read as usual.
        *cached = false;
        iovec part = {out, length};
        ssize_t got;
        do {
            got = ::preadv2(fd, &part, 1, offset, RWF_NOWAIT);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            out += got;
            offset += got;
            length -= static_cast<std::size_t>(got);
            *cached = length == 0;
        }
    }
    while (length > 0) {
        const ssize_t got = ::pread(fd, out, length, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = 0;
            }
            return false;
        }
        out += got;
        offset += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

int RootHandles::find(std::size_t key) const
{
    for (const auto& [known, fd] : m_roots) {
        if (known == key) {
            return fd;
        }
    }
    return -1;
}

int RootHandles::open(std::size_t key, const std::string& path)
{
    if (const int known = find(key); known >= 0) {
        return known;
    }
    if (m_roots.size() >= kMost) {
        clear();
    }
    const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        m_roots.emplace_back(key, fd);
    }
    return fd;
}

void RootHandles::clear()
{
    for (const auto& root : m_roots) {
        ::close(root.second);
    }
    m_roots.clear();
    ++m_generation;
}

int openBelow(int root, const std::string& rest)
{
    return openNoFollowAt(root, rest, O_RDONLY | O_NONBLOCK | O_NOCTTY);
}

bool sameContents(const std::string& first, const std::string& other, std::int64_t size,
                  std::int64_t from)
{
    const OpenFile a(first, size);
    if (!a.ok()) {
        return false;
    }
    const OpenFile b(other, size);
    if (!b.ok()) {
        return false;
    }
    if (from >= size) {
        return true;
    }
    // Read-ahead advice pays for itself only on large files.
    if (size - from > static_cast<std::int64_t>(kCompareChunk)) {
        ::posix_fadvise(a.fd(), 0, size, POSIX_FADV_SEQUENTIAL);
        ::posix_fadvise(b.fd(), 0, size, POSIX_FADV_SEQUENTIAL);
    }
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(size - from, kCompareChunk));
    std::unique_ptr<unsigned char[]> bufferA(new unsigned char[chunk]);
    std::unique_ptr<unsigned char[]> bufferB(new unsigned char[chunk]);
    for (std::int64_t offset = from; offset < size;) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::int64_t>(chunk, size - offset));
        if (!readExactly(a.fd(), offset, length, bufferA.get()) ||
            !readExactly(b.fd(), offset, length, bufferB.get()) ||
            std::memcmp(bufferA.get(), bufferB.get(), length) != 0) {
            return false;
        }
        offset += static_cast<std::int64_t>(length);
    }
    return true;
}

std::size_t freeDescriptors()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 1024;
    }
    std::size_t open = 0;
    if (DIR* listing = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(listing)) {
            open += entry->d_name[0] != '.';
        }
        ::closedir(listing);
        open = open > 0 ? open - 1 : 0;  // the listing's own descriptor
    } else {
        open = 3;
    }
    const std::size_t limitCount = static_cast<std::size_t>(limit.rlim_cur);
    return limitCount > open ? limitCount - open : 0;
}

}  // namespace platform
