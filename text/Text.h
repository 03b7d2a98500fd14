// Byte-string helpers: ASCII case, trimming, comparison, whole numbers, display text, times.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace text {

// Case conversion and comparison here are ASCII-only on purpose: names are
// bytes, and bytes of 0x80 and above compare by their value.
inline char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string upperCase(std::string_view text);
std::string lowerCase(std::string_view text);

// Removes characters with codes 0 to 32 at both ends.
std::string trim(std::string_view text);
std::string_view trimView(std::string_view text);

// Case-insensitive comparison: a-z fold to A-Z, other bytes by value, and a
// text that is the beginning of another comes first. Negative, 0 or positive.
int compareFold(std::string_view a, std::string_view b);

inline bool equalFold(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && compareFold(a, b) == 0;
}

// The order of every sorted list: case-insensitive first, then by bytes, so
// that names equal but for case have a fixed order and stay distinct.
int compareOrder(std::string_view a, std::string_view b);

bool startsWith(std::string_view text, std::string_view prefix);
bool contains(std::string_view text, std::string_view part);

// Reads a whole signed decimal number the way a user's setting is read:
// optional blanks and sign, digits, nothing after. False when it is not one
// or does not fit.
bool parseInt32(std::string_view text, std::int32_t& value);
bool parseInt64(std::string_view text, std::int64_t& value);

std::string toDecimal(std::int64_t value);

// The moment `seconds` after 1970 as strftime's `format` writes it, in local
// time or in UTC; "" when it cannot be written (at most 63 bytes).
std::string formatLocalTime(std::int64_t seconds, const char* format);
std::string formatUtcTime(std::int64_t seconds, const char* format);

// Valid UTF-8 kept as it is; every byte of an invalid sequence becomes U+FFFD.
std::string displayUtf8(std::string_view bytes);
// A name or path as a line of the window shows it: displayUtf8, with each
// control character (a line break, a tab, an escape) in caret notation, as
// cat -v shows it ("^J", "^I", "^[", "^?"), so a name with a line break is
// not cut at the break. (The control pictures of Unicode are missing from
// the usual fonts.)
std::string displayName(std::string_view bytes);

}  // namespace text
