// Numbers formatted with the user's separators, given as a plain value.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace text {

// Separators and month names as the user's locale gives them. The core takes
// them as a plain value so that it, the CLI and the tests never depend on the
// machine's locale; the desktop program fills it from the system.
struct Locale {
    std::string thousandSeparator = ",";
    std::string decimalSeparator = ".";
    std::string dateSeparator = "/";
    std::string timeSeparator = ":";
    std::array<std::string, 12> shortMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
};

// A whole number with thousands separators ("%.0n").
std::string formatCount(std::int64_t value, const Locale& locale);
// A number with separators and a fixed count of decimals, rounded ("%.2n").
std::string formatDecimal(double value, int decimals, const Locale& locale);

// Two digits, zero-padded.
std::string twoDigits(int value);

}  // namespace text
