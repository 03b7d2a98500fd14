// Reads a text file one line at a time, holding one block of it in memory.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace text {

// Reads a text file line by line, holding one line and one block of the file
// at a time: lines end at CR, LF or CR LF, text after a zero byte is ignored,
// and a last line without a line end counts (the rules of splitLines).
class LineReader {
public:
    LineReader() = default;
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Fails (errno set) for anything but a regular file, and for a file
    // larger than kMaxWholeFileBytes.
    bool open(const std::string& path);
    // The next line into `line`; false at the end and after a read error.
    bool next(std::string& line);
    // Whether reading stopped at an error (errno set) rather than the end.
    bool failed() const { return m_failed; }
    std::uint64_t size() const { return m_size; }
    // Bytes of the file taken so far, for progress.
    std::uint64_t consumed() const { return m_consumed; }

private:
    bool fill();

    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_consumed = 0;
    std::string m_block;
    std::size_t m_at = 0;
    bool m_ended = false;  // end of file, or a zero byte
    bool m_failed = false;
    bool m_skipLineFeed = false;  // the block ended just after a CR
};

}  // namespace text
