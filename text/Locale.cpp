// Numbers formatted with the user's separators, given as a plain value.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/Locale.h"

#include <cmath>
#include <cstdio>

namespace text {

namespace {

std::string groupDigits(const std::string& digits, const Locale& locale)
{
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0 && (n - i) % 3 == 0) {
            out += locale.thousandSeparator;
        }
        out.push_back(digits[i]);
    }
    return out;
}

}  // namespace

std::string formatCount(std::int64_t value, const Locale& locale)
{
    const bool negative = value < 0;
    // The magnitude as unsigned, so the most negative value has one too.
    const std::uint64_t magnitude =
        negative ? static_cast<std::uint64_t>(-(value + 1)) + 1 : static_cast<std::uint64_t>(value);
    std::string text = groupDigits(std::to_string(magnitude), locale);
    return negative ? "-" + text : text;
}

std::string formatDecimal(double value, int decimals, const Locale& locale)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, std::fabs(value));
    std::string text(buffer);
    const std::size_t dot = text.find('.');
    std::string whole = dot == std::string::npos ? text : text.substr(0, dot);
    std::string result = groupDigits(whole, locale);
    if (dot != std::string::npos) {
        result += locale.decimalSeparator + text.substr(dot + 1);
    }
    return value < 0 && result.find_first_not_of("0.,") != std::string::npos ? "-" + result
                                                                             : result;
}

std::string twoDigits(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

}  // namespace text
