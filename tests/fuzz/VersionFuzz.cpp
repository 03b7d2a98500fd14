// Fuzz target: the version reader on any file and any version block.
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the version reader: any bytes as a file, and any bytes as
// a version block.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "versioninfo/VersionResource.h"

namespace {

void queryAll(const std::vector<std::uint8_t>& block)
{
    versioninfo::FixedFileInfo fixed;
    versioninfo::queryFixedFileInfo(block, fixed);
    std::vector<std::uint8_t> table;
    std::string code = "040904E4";
    if (versioninfo::queryTranslationTable(block, table)) {
        const std::string first = versioninfo::TranslationCode(table);
        if (!first.empty()) {
            code = first;
        }
    }
    std::string value;
    for (const char* key : {"FileVersion", "ProductVersion", "CompanyName", "Comments"}) {
        versioninfo::queryString(block, "\\StringFileInfo\\" + code + "\\" + key, value);
    }
    versioninfo::VersionValue any;
    versioninfo::queryVersionValue(block, "\\StringFileInfo", any);
    versioninfo::queryVersionValue(block, "\\\\VarFileInfo\\\\", any);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> block;
    if (versioninfo::extractVersionBlock(versioninfo::MemorySource(bytes), block)) {
        queryAll(block);
    }
    queryAll(std::vector<std::uint8_t>(data, data + size));
    return 0;
}
