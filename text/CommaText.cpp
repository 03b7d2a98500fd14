// Comma text: items split at commas or blanks, with quoting, and joined back.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/CommaText.h"

namespace text {

namespace {

bool isBlank(char c)
{
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

bool needsQuotes(std::string_view item)
{
    for (char c : item) {
        if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> parseCommaText(std::string_view text)
{
    std::vector<std::string> items;
    parseCommaText(text, items, static_cast<std::size_t>(-1));
    return items;
}

std::size_t parseCommaText(std::string_view text, std::vector<std::string>& items, std::size_t keep)
{
    items.clear();
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    std::size_t count = 0;
    std::size_t p = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (p < n && isBlank(text[p])) {
            ++p;
        }
    };
    skipBlanks();
    while (p < n) {
        const bool kept = count < keep;
        std::string item;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        if (kept) {
                            item.push_back('"');
                        }
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                if (kept) {
                    item.push_back(text[p]);
                }
                ++p;
            }
        } else {
            const std::size_t start = p;
            while (p<n&& static_cast<unsigned char>(text[p])> 32 && text[p] != ',') {
                ++p;
            }
            if (kept) {
                item.assign(text.substr(start, p - start));
            }
        }
        if (kept) {
            items.push_back(std::move(item));
        }
        ++count;
        skipBlanks();
        if (p < n && text[p] == ',') {
            ++p;
            skipBlanks();
        }
    }
    return count;
}

std::string quoteItem(std::string_view item)
{
    std::string out;
    out.reserve(item.size() + 2);
    out.push_back('"');
    for (char c : item) {
        out.push_back(c);
        if (c == '"') {
            out.push_back('"');
        }
    }
    out.push_back('"');
    return out;
}

std::string formatCommaText(const std::vector<std::string>& items)
{
    if (items.size() == 1 && items.front().empty()) {
        return "\"\"";
    }
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != 0) {
            out.push_back(',');
        }
        if (needsQuotes(items[i])) {
            out += quoteItem(items[i]);
        } else {
            out += items[i];
        }
    }
    return out;
}

}  // namespace text
