// The texts of a result row for one file: size, type, time, attributes and versions.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "text/Locale.h"

namespace search {

// The six texts of a file row after its path: Size, Type, Modified, Attr,
// File Ver and Prod Ver, and the values the first, third and fourth are
// made from.
struct FileRowFacts {
    std::int64_t size = 0;
    std::int64_t modified = 0;     // seconds since 1970
    std::uint32_t attributes = 0;  // platform::kAttr* bits
    std::array<std::string, 6> subItems;
};

// The type name of a file by its name alone; "" when it has none.
using TypeNameProvider = std::function<std::string(const std::string& path)>;

// The Type text of a file: the name `typeName` gives, else the extension's.
std::string typeText(const std::string& path, const TypeNameProvider& typeName);

// Gathers the facts of one file row. False when the path is not a regular
// file any more.
bool gatherFileRow(const std::string& path, const TypeNameProvider& typeName,
                   const text::Locale& locale, FileRowFacts& facts);

// "yyyy/mm/dd hh:nn" in local time with two-second resolution, with the
// locale's separators; the date alone at exactly midnight.
std::string modifiedText(std::int64_t unixSeconds, const text::Locale& locale);

// Four letters, a blank for each one missing: R H S A.
std::string attributeText(std::uint32_t attributes);

}  // namespace search
