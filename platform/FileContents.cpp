#include "platform/FileContents.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A regular file opened for reading, without following a link, that still
// has the size the catalogue recorded.
class OpenFile {
public:
    OpenFile(const std::string& path, std::int64_t size)
    {
        m_fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
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
    void sequential(std::int64_t size) const
    {
        ::posix_fadvise(m_fd, 0, size, POSIX_FADV_SEQUENTIAL);
    }

    // Exactly `length` bytes at `offset`, or false.
    bool readAt(std::int64_t offset, std::size_t length, unsigned char* out) const
    {
        while (length > 0) {
            const ssize_t got = ::pread(m_fd, out, length, offset);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            out += got;
            offset += got;
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int m_fd = -1;
};

}  // namespace

bool readHead(const std::string& path, std::int64_t recordedSize, std::string& head)
{
    // One open and one read: reading a byte more than a small file should
    // hold tells whether its size changed, and pread fails on a folder or a
    // FIFO (opened without waiting). A larger file's size is checked before
    // its contents are compared.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    const bool small = recordedSize <= kHeadBytes;
    const std::size_t want =
        small ? static_cast<std::size_t>(recordedSize) + 1 : static_cast<std::size_t>(kHeadBytes);
    head.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(fd, head.data() + got, want - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
        if (small && got > static_cast<std::size_t>(recordedSize)) {
            break;
        }
    }
    ::close(fd);
    if (small ? got != static_cast<std::size_t>(recordedSize) : got != want) {
        return false;
    }
    head.resize(got);
    return true;
}

std::uint32_t headSum(const std::string& head)
{
    const std::size_t words = std::min<std::size_t>(head.size() / 4, 1024);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < words; ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(head.data()) + 4 * i;
        sum += static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    return sum & 0x7FFFFFFFu;
}

std::uint32_t quickSum(const std::string& path, std::int64_t recordedSize)
{
    std::string head;
    return readHead(path, recordedSize, head) ? headSum(head) : 0;
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
        a.sequential(size);
        b.sequential(size);
    }
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(size - from, kCompareChunk));
    std::unique_ptr<unsigned char[]> bufferA(new unsigned char[chunk]);
    std::unique_ptr<unsigned char[]> bufferB(new unsigned char[chunk]);
    for (std::int64_t offset = from; offset < size;) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::int64_t>(chunk, size - offset));
        if (!a.readAt(offset, length, bufferA.get()) || !b.readAt(offset, length, bufferB.get()) ||
            std::memcmp(bufferA.get(), bufferB.get(), length) != 0) {
            return false;
        }
        offset += static_cast<std::int64_t>(length);
    }
    return true;
}

}  // namespace platform
