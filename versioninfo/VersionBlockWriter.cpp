// Writes a version block in the layout resource compilers give it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "versioninfo/VersionBlockWriter.h"

namespace versioninfo {

namespace {

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value)
{
    out[at] = static_cast<std::uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void append16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void append32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    append16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    append16(out, static_cast<std::uint16_t>(value >> 16));
}

void pad4(std::vector<std::uint8_t>& out)
{
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

std::vector<std::uint16_t> toUtf16(const std::string& text)
{
    std::vector<std::uint16_t> units;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t code = c;
        std::size_t length = 1;
        if (c >= 0xF0 && i + 3 < text.size() + 0) {
            code = ((c & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) |
                   ((text[i + 2] & 0x3Fu) << 6) | (text[i + 3] & 0x3Fu);
            length = 4;
        } else if (c >= 0xE0 && i + 2 < text.size()) {
            code = ((c & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
            length = 3;
        } else if (c >= 0xC0 && i + 1 < text.size()) {
            code = ((c & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
            length = 2;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(code));
        }
        i += length;
    }
    return units;
}

// Writes a node header and key; returns the node's start for closeNode().
std::size_t openNode(std::vector<std::uint8_t>& out, const std::string& key,
                     std::uint16_t valueLength, std::uint16_t type)
{
    pad4(out);
    const std::size_t start = out.size();
    append16(out, 0);
    append16(out, valueLength);
    append16(out, type);
    for (std::uint16_t unit : toUtf16(key)) {
        append16(out, unit);
    }
    append16(out, 0);
    pad4(out);
    return start;
}

void closeNode(std::vector<std::uint8_t>& out, std::size_t start)
{
    put16(out, start, static_cast<std::uint16_t>(out.size() - start));
}

}  // namespace

void VersionBlockContents::addTranslation(std::uint16_t language, std::uint16_t codePage)
{
    translation.push_back(static_cast<std::uint8_t>(language & 0xFF));
    translation.push_back(static_cast<std::uint8_t>(language >> 8));
    translation.push_back(static_cast<std::uint8_t>(codePage & 0xFF));
    translation.push_back(static_cast<std::uint8_t>(codePage >> 8));
}

std::vector<std::uint8_t> buildVersionBlock(const VersionBlockContents& contents)
{
    std::vector<std::uint8_t> out;
    const std::size_t root =
        openNode(out, "VS_VERSION_INFO", contents.hasFixedInfo ? kFixedFileInfoSize : 0, 0);
    if (contents.hasFixedInfo) {
        const FixedFileInfo& f = contents.fixed;
        for (std::uint32_t v :
             {f.signature, f.structVersion, f.fileVersionMS, f.fileVersionLS, f.productVersionMS,
              f.productVersionLS, f.fileFlagsMask, f.fileFlags, f.fileOS, f.fileType, f.fileSubtype,
              f.fileDateMS, f.fileDateLS}) {
            append32(out, v);
        }
    }
    if (!contents.tables.empty()) {
        const std::size_t stringInfo = openNode(out, "StringFileInfo", 0, 1);
        for (const VersionBlockContents::Table& table : contents.tables) {
            const std::size_t tableNode = openNode(out, table.code, 0, 1);
            for (const auto& [key, text] : table.values) {
                const std::vector<std::uint16_t> units = toUtf16(text);
                const std::size_t value =
                    openNode(out, key, static_cast<std::uint16_t>(units.size() + 1), 1);
                for (std::uint16_t unit : units) {
                    append16(out, unit);
                }
                append16(out, 0);
                closeNode(out, value);
            }
            closeNode(out, tableNode);
        }
        closeNode(out, stringInfo);
    }
    if (contents.hasTranslation) {
        const std::size_t varInfo = openNode(out, "VarFileInfo", 0, 1);
        const std::size_t var = openNode(
            out, "Translation", static_cast<std::uint16_t>(contents.translation.size()), 0);
        out.insert(out.end(), contents.translation.begin(), contents.translation.end());
        closeNode(out, var);
        closeNode(out, varInfo);
    }
    closeNode(out, root);
    pad4(out);
    return out;
}

}  // namespace versioninfo
