// Reads a text file one line at a time, holding one block of it in memory.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/LineReader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/WholeFile.h"
#include "text/StringList.h"

namespace text {

namespace {

constexpr std::size_t kBlockBytes = 1 << 16;

}  // namespace

LineReader::~LineReader()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool LineReader::open(const std::string& path)
{
    std::uint64_t size = 0;
    const int fd = platform::openWholeFile(path, size);
    if (fd < 0) {
        return false;
    }
    m_fd = fd;
    m_size = size;
    return true;
}

bool LineReader::fill()
{
    m_block.resize(kBlockBytes);
    m_at = 0;
    for (;;) {
        const ssize_t got = ::read(m_fd, m_block.data(), kBlockBytes);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            m_failed = true;
        }
        m_block.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        if (got <= 0) {
            m_ended = true;
        }
        return got > 0;
    }
}

bool LineReader::next(std::string& line)
{
    line.clear();
    bool any = false;
    while (m_fd >= 0 && !m_ended) {
        if (m_at == m_block.size() && !fill()) {
            break;
        }
        if (m_skipLineFeed) {
            m_skipLineFeed = false;
            if (m_block[m_at] == '\n') {
                ++m_at;
                ++m_consumed;
                continue;
            }
        }
        const std::size_t start = m_at;
        while (m_at < m_block.size() && m_block[m_at] != '\r' && m_block[m_at] != '\n' &&
               m_block[m_at] != '\0') {
            ++m_at;
        }
        if (line.size() + (m_at - start) > line.capacity() && line.size() >= kBlockBytes) {
            // A line longer than a block (a hostile file is one line of
            // millions of commas) is taken in one allocation of at most the
            // rest of the file, not doubled step by step to twice its size.
            line.reserve(line.size() + (m_at - start) +
                         static_cast<std::size_t>(m_size > m_consumed ? m_size - m_consumed : 0));
        }
        line.append(m_block, start, m_at - start);
        m_consumed += m_at - start;
        any = any || m_at > start;
        if (m_at == m_block.size()) {
            continue;  // the line goes on in the next block
        }
        const char end = m_block[m_at];
        if (end == '\0') {
            m_ended = true;
            break;
        }
        ++m_at;
        ++m_consumed;
        if (end == '\r') {
            if (m_at < m_block.size()) {
                if (m_block[m_at] == '\n') {
                    ++m_at;
                    ++m_consumed;
                }
            } else {
                m_skipLineFeed = true;
            }
        }
        return true;
    }
    return any;
}

}  // namespace text
