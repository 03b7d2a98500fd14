// Byte-string helpers: ASCII case, trimming, comparison, whole numbers, display text, times.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/Text.h"

#include <charconv>
#include <cstring>
#include <ctime>
#include <limits>

namespace text {

std::string upperCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        c = upperAscii(c);
    }
    return result;
}

std::string lowerCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        c = lowerAscii(c);
    }
    return result;
}

std::string_view trimView(std::string_view text)
{
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string trim(std::string_view text)
{
    return std::string(trimView(text));
}

namespace {

struct FoldTable {
    unsigned char upper[256];
    constexpr FoldTable() : upper()
    {
        for (int c = 0; c < 256; ++c) {
            upper[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
};
constexpr FoldTable kFold;

}  // namespace

int compareFold(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
    const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
    std::size_t i = 0;
    // Equal bytes fold equally, so skip the common part a word at a time.
    while (i + 8 <= n) {
        std::uint64_t wa;
        std::uint64_t wb;
        std::memcpy(&wa, pa + i, 8);
        std::memcpy(&wb, pb + i, 8);
        if (wa != wb) {
            break;
        }
        i += 8;
    }
    for (; i < n; ++i) {
        if (pa[i] != pb[i]) {
            const unsigned char ca = kFold.upper[pa[i]];
            const unsigned char cb = kFold.upper[pb[i]];
            if (ca != cb) {
                return ca < cb ? -1 : 1;
            }
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

int compareOrder(std::string_view a, std::string_view b)
{
    const int folded = compareFold(a, b);
    if (folded != 0) {
        return folded;
    }
    const int raw = a.compare(b);
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

namespace {

template <typename Int> bool parseWhole(std::string_view text, Int& value)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    // Accumulate as a negative number so that the most negative value fits.
    Int result = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return false;
        }
        const int digit = c - '0';
        if (result < (std::numeric_limits<Int>::min() + digit) / 10) {
            return false;
        }
        result = static_cast<Int>(result * 10 - digit);
    }
    if (!negative) {
        if (result == std::numeric_limits<Int>::min()) {
            return false;
        }
        result = static_cast<Int>(-result);
    }
    value = result;
    return true;
}

}  // namespace

bool parseInt32(std::string_view text, std::int32_t& value)
{
    return parseWhole(text, value);
}

bool parseInt64(std::string_view text, std::int64_t& value)
{
    return parseWhole(text, value);
}

std::string toDecimal(std::int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string displayName(std::string_view bytes)
{
    const std::string text = displayUtf8(bytes);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            out += '^';
            out += static_cast<char>(code ^ 0x40);
        } else {
            out += c;
        }
    }
    return out;
}

std::string displayUtf8(std::string_view bytes)
{
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        }
        bool valid = length != 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) {
                valid = false;
            } else {
                code = (code << 6) | (cc & 0x3F);
            }
        }
        if (valid) {
            // Overlong forms, surrogates and values past U+10FFFF are invalid too.
            valid = !((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
                      (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF);
        }
        if (valid) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

namespace {

std::string formatTime(const std::tm* moment, const char* format)
{
    char text[64];
    if (moment == nullptr || std::strftime(text, sizeof text, format, moment) == 0) {
        return "";
    }
    return text;
}

}  // namespace

std::string formatLocalTime(std::int64_t seconds, const char* format)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local = {};
    return formatTime(::localtime_r(&t, &local), format);
}

std::string formatUtcTime(std::int64_t seconds, const char* format)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc = {};
    return formatTime(::gmtime_r(&t, &utc), format);
}

}  // namespace text
