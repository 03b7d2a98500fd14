// Fuzz target: list file lines split, parsed and written back.
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for reading a list file: any bytes split into lines and parse
// into rows without fault; a line read keeping only some sub-items keeps the
// first of them; a row written back reads as the same row, and a whole list
// written back keeps its file rows' paths.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "text/StringList.h"
#include "settings/ResultLines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<settings::ResultRow> rows;
    for (const std::string& line : text::splitLines(text)) {
        if (line.find_first_of("\r\n") != std::string::npos ||
            line.find('\0') != std::string::npos) {
            std::abort();
        }
        std::size_t fields = 0;
        settings::ResultRow row = settings::parseResultLine(line, &fields);
        // Keeping fewer sub-items keeps the first ones and counts them all.
        settings::ResultRow few;
        const std::size_t keep = size % 8;
        if (settings::parseResultLine(line, few, keep) != fields || few.caption != row.caption ||
            few.subItems.size() != std::min(keep, row.subItems.size()) ||
            !std::equal(few.subItems.begin(), few.subItems.end(), row.subItems.begin())) {
            std::abort();
        }
        if (const auto again = settings::formatResultLine(row)) {
            const settings::ResultRow back = settings::parseResultLine(*again);
            // An empty last sub-item is written as nothing (comma text).
            std::vector<std::string> kept = row.subItems;
            if (kept.size() > 1 && kept.back().empty()) {
                kept.pop_back();
            }
            if (back.caption != row.caption || back.subItems != kept) {
                std::abort();
            }
        }
        rows.push_back(std::move(row));
    }
    std::vector<std::size_t> kept;
    const std::vector<std::string> lines = settings::formatResultLines(rows, &kept);
    if (lines.size() != kept.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (kept[i] >= rows.size() || (i > 0 && kept[i] <= kept[i - 1]) ||
            settings::parseResultLine(lines[i]).caption != rows[kept[i]].caption) {
            std::abort();
        }
    }
    return 0;
}
