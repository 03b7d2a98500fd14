// An ordered list of tagged lines, sorted case-insensitively or kept as added, and list files.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// An ordered list of lines, each with a signed 32-bit tag. A sorted list keeps
// the case-insensitive order of compareOrder(): an addition goes before the
// entries equal to it, or is dropped when the list ignores repeats.
//
// Additions to a sorted list are collected and merged in one step before the
// next read, so a million additions cost one sort rather than a million
// insertions; the order that results is the one insertion would give.
class StringList {
public:
    enum class Order { Unsorted, Sorted };
    enum class Repeats {
        Accept,
        IgnoreFolded,  // drops an addition equal to an entry ignoring case
        IgnoreExact,   // drops only an addition with the very same bytes
    };

    explicit StringList(Order order = Order::Unsorted, Repeats repeats = Repeats::Accept);

    void add(std::string text, std::int32_t tag = 0);
    void clear();

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    const std::string& operator[](std::size_t index) const;
    std::int32_t tag(std::size_t index) const;
    const std::vector<std::string>& strings() const;

    void removeAt(std::size_t index);

    // Binary search ignoring case (sorted lists); a linear scan otherwise.
    bool containsFolded(std::string_view text) const;
    // Index of the first entry equal ignoring case, or -1.
    std::ptrdiff_t indexOfFolded(std::string_view text) const;

    // One line per entry, each ended by CR LF. False when the file cannot be
    // written.
    bool saveToFile(const std::string& path) const;
    // Replaces the contents with the lines of the file (CR, LF or CR LF; text
    // after a zero byte ignored). False, and the list unchanged, when the
    // file cannot be read.
    bool loadFromFile(const std::string& path);
    void setText(std::string_view text);

private:
    struct Pending {
        std::string text;
        std::int32_t tag;
        std::uint64_t sequence;
    };

    void settle() const;
    bool isRepeat(std::string_view a, std::string_view b) const;

    Order m_order;
    Repeats m_repeats;
    mutable std::vector<std::string> m_strings;
    mutable std::vector<std::int32_t> m_tags;
    mutable std::vector<Pending> m_pending;
    std::uint64_t m_sequence = 0;
};

// Splits text into lines at CR, LF or CR LF; text after a zero byte is ignored
// and a last line without a line end counts.
std::vector<std::string> splitLines(std::string_view text);

// Writes the lines, each followed by CR LF, through a temporary file renamed
// into place, so a failed write never leaves half a file where a good one stood.
bool writeLinesFile(const std::string& path, const std::vector<std::string>& lines);
// Lines as a list file holds them, each ended with CR LF.
std::string linesText(const std::vector<std::string>& lines);

}  // namespace text
