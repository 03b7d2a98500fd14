// Fuzz target for the version reader: any bytes as a file, and any bytes as
// a version block.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/VersionResource.h"

namespace {

void queryAll(const std::vector<std::uint8_t>& block)
{
    platform::FixedFileInfo fixed;
    platform::queryFixedFileInfo(block, fixed);
    std::vector<std::uint8_t> table;
    std::string code = "040904E4";
    if (platform::queryTranslationTable(block, table)) {
        const std::string first = platform::TranslationCode(table);
        if (!first.empty()) {
            code = first;
        }
    }
    std::string value;
    for (const char* key : {"FileVersion", "ProductVersion", "CompanyName", "Comments"}) {
        platform::queryString(block, "\\StringFileInfo\\" + code + "\\" + key, value);
    }
    platform::VersionValue any;
    platform::queryVersionValue(block, "\\StringFileInfo", any);
    platform::queryVersionValue(block, "\\\\VarFileInfo\\\\", any);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> block;
    if (platform::extractVersionBlock(platform::MemorySource(bytes), block)) {
        queryAll(block);
    }
    queryAll(std::vector<std::uint8_t>(data, data + size));
    return 0;
}
