// Fuzz target: comma text parsed and written back.
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for comma text: any bytes parse without fault, and what is
// written back from the items reads as the same items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "text/CommaText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> items = text::parseCommaText(text);
    for (const std::string& item : items) {
        if (item.find('\0') != std::string::npos) {
            std::abort();  // text after a zero byte is ignored
        }
    }
    // An empty item is written as nothing between commas, so an empty last
    // item does not come back (unless it is the only one): that is the format.
    std::vector<std::string> kept = items;
    if (kept.size() > 1 && kept.back().empty()) {
        kept.pop_back();
    }
    if (!items.empty() && text::parseCommaText(text::formatCommaText(items)) != kept) {
        std::abort();
    }
    for (const std::string& item : items) {
        if (text::parseCommaText(text::quoteItem(item)) != std::vector<std::string>{item}) {
            std::abort();
        }
    }
    return 0;
}
