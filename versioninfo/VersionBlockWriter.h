// Writes a version block in the layout resource compilers give it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "versioninfo/VersionResource.h"

namespace versioninfo {

// Builds a version block in the layout Windows resource compilers write:
// the fixed record, a StringFileInfo with one table per code, and a
// VarFileInfo with the translation table given byte for byte.
struct VersionBlockContents {
    struct Table {
        std::string code;                                         // such as "040904B0"
        std::vector<std::pair<std::string, std::string>> values;  // UTF-8
    };

    bool hasFixedInfo = true;
    FixedFileInfo fixed;
    std::vector<Table> tables;
    bool hasTranslation = true;
    std::vector<std::uint8_t> translation;  // raw table bytes

    // Appends one 4-byte translation entry.
    void addTranslation(std::uint16_t language, std::uint16_t codePage);
};

std::vector<std::uint8_t> buildVersionBlock(const VersionBlockContents& contents);

}  // namespace versioninfo
