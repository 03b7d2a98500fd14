// Comma text: items split at commas or blanks, with quoting, and joined back.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace text {

// Items separated by commas or blanks; a quoted item may hold anything, with
// inner double quotes doubled. Text after a zero byte is ignored, and an
// unterminated quoted item takes the rest of the text.
std::vector<std::string> parseCommaText(std::string_view text);
// The same, into `items` (emptied first) but keeping at most `keep` of them;
// returns how many the text holds. A line of millions of commas then costs
// no more than the items kept.
std::size_t parseCommaText(std::string_view text, std::vector<std::string>& items,
                           std::size_t keep);

// Joined with single commas; an item holding a character of code 32 or less, a
// double quote or a comma is quoted. A single empty item gives "".
std::string formatCommaText(const std::vector<std::string>& items);

// One item in quotes with its inner quotes doubled.
std::string quoteItem(std::string_view item);

}  // namespace text
