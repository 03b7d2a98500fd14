// An ordered list of tagged lines, sorted case-insensitively or kept as added, and list files.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/StringList.h"

#include <algorithm>

#include "platform/WholeFile.h"
#include "text/Text.h"

namespace text {

StringList::StringList(Order order, Repeats repeats) : m_order(order), m_repeats(repeats) {}

void StringList::add(std::string text, std::int32_t tag)
{
    if (m_order == Order::Unsorted) {
        if (m_repeats != Repeats::Accept) {
            for (const std::string& entry : m_strings) {
                if (isRepeat(entry, text)) {
                    return;
                }
            }
        }
        m_strings.push_back(std::move(text));
        m_tags.push_back(tag);
        return;
    }
    m_pending.push_back(Pending{std::move(text), tag, m_sequence++});
}

void StringList::clear()
{
    m_strings.clear();
    m_tags.clear();
    m_pending.clear();
}

std::size_t StringList::size() const
{
    settle();
    return m_strings.size();
}

const std::string& StringList::operator[](std::size_t index) const
{
    settle();
    return m_strings[index];
}

std::int32_t StringList::tag(std::size_t index) const
{
    settle();
    return m_tags[index];
}

const std::vector<std::string>& StringList::strings() const
{
    settle();
    return m_strings;
}

void StringList::removeAt(std::size_t index)
{
    settle();
    m_strings.erase(m_strings.begin() + static_cast<std::ptrdiff_t>(index));
    m_tags.erase(m_tags.begin() + static_cast<std::ptrdiff_t>(index));
}

bool StringList::isRepeat(std::string_view a, std::string_view b) const
{
    switch (m_repeats) {
    case Repeats::Accept:
        return false;
    case Repeats::IgnoreFolded:
        return equalFold(a, b);
    case Repeats::IgnoreExact:
        return a == b;
    }
    return false;
}

void StringList::settle() const
{
    if (m_pending.empty()) {
        return;
    }
    // Later additions go before earlier equal ones when repeats are accepted;
    // when they are ignored the earliest one is the one that stays.
    const bool laterFirst = m_repeats == Repeats::Accept;
    std::sort(m_pending.begin(), m_pending.end(), [laterFirst](const Pending& a, const Pending& b) {
        const int c = compareOrder(a.text, b.text);
        if (c != 0) {
            return c < 0;
        }
        return laterFirst ? a.sequence > b.sequence : a.sequence < b.sequence;
    });

    if (m_repeats != Repeats::Accept) {
        // Within each run of repeats keep the earliest addition, then drop any
        // that repeats an entry already in the list.
        std::vector<Pending> kept;
        kept.reserve(m_pending.size());
        std::size_t i = 0;
        while (i < m_pending.size()) {
            std::size_t j = i + 1;
            std::size_t best = i;
            while (j < m_pending.size() && isRepeat(m_pending[i].text, m_pending[j].text)) {
                if (m_pending[j].sequence < m_pending[best].sequence) {
                    best = j;
                }
                ++j;
            }
            bool present = false;
            if (!m_strings.empty()) {
                const std::string& text = m_pending[best].text;
                auto at = std::lower_bound(m_strings.begin(), m_strings.end(), text,
                                           [](const std::string& entry, const std::string& value) {
                                               return compareFold(entry, value) < 0;
                                           });
                for (; at != m_strings.end() && compareFold(*at, text) == 0; ++at) {
                    if (isRepeat(*at, text)) {
                        present = true;
                        break;
                    }
                }
            }
            if (!present) {
                kept.push_back(std::move(m_pending[best]));
            }
            i = j;
        }
        // One entry is kept of each run, so the kept ones are still in order.
        m_pending = std::move(kept);
    }

    std::vector<std::string> strings;
    std::vector<std::int32_t> tags;
    strings.reserve(m_strings.size() + m_pending.size());
    tags.reserve(m_strings.size() + m_pending.size());
    std::size_t a = 0;
    std::size_t b = 0;
    while (a < m_strings.size() || b < m_pending.size()) {
        // A pending entry goes before existing entries equal to it.
        const bool takePending =
            b < m_pending.size() &&
            (a == m_strings.size() || compareOrder(m_pending[b].text, m_strings[a]) <= 0);
        if (takePending) {
            strings.push_back(std::move(m_pending[b].text));
            tags.push_back(m_pending[b].tag);
            ++b;
        } else {
            strings.push_back(std::move(m_strings[a]));
            tags.push_back(m_tags[a]);
            ++a;
        }
    }
    m_strings = std::move(strings);
    m_tags = std::move(tags);
    m_pending.clear();
}

std::ptrdiff_t StringList::indexOfFolded(std::string_view text) const
{
    settle();
    if (m_order == Order::Unsorted) {
        for (std::size_t i = 0; i < m_strings.size(); ++i) {
            if (equalFold(m_strings[i], text)) {
                return static_cast<std::ptrdiff_t>(i);
            }
        }
        return -1;
    }
    auto at = std::lower_bound(m_strings.begin(), m_strings.end(), text,
                               [](const std::string& entry, std::string_view value) {
                                   return compareFold(entry, value) < 0;
                               });
    if (at != m_strings.end() && equalFold(*at, text)) {
        return at - m_strings.begin();
    }
    return -1;
}

bool StringList::containsFolded(std::string_view text) const
{
    return indexOfFolded(text) >= 0;
}

bool StringList::saveToFile(const std::string& path) const
{
    return writeLinesFile(path, strings());
}

void StringList::setText(std::string_view text)
{
    clear();
    for (std::string& line : splitLines(text)) {
        add(std::move(line));
    }
}

bool StringList::loadFromFile(const std::string& path)
{
    std::string contents;
    if (!platform::readWholeFile(path, contents)) {
        return false;
    }
    setText(contents);
    return true;
}

std::vector<std::string> splitLines(std::string_view text)
{
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

std::string linesText(const std::vector<std::string>& lines)
{
    std::string text;
    std::size_t total = 0;
    for (const std::string& line : lines) {
        total += line.size() + 2;
    }
    text.reserve(total);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

bool writeLinesFile(const std::string& path, const std::vector<std::string>& lines)
{
    return platform::writeFileAtomically(path, linesText(lines));
}

}  // namespace text
