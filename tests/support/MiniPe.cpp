// Test helper: a minimal executable image holding one version block.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MiniPe.h"

namespace {

void put16(std::string& out, std::size_t at, std::uint32_t v)
{
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& out, std::size_t at, std::uint32_t v)
{
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}

}  // namespace

std::string MiniPe::build(const std::vector<std::uint8_t>& block)
{
    const std::uint32_t resourceRva = 0x1000;
    const std::size_t resourceSize = 0x58 + block.size();
    std::string image(kResourceStart + resourceSize, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3C, kPeOffset);
    image.replace(kPeOffset, 4, std::string("PE\0\0", 4));
    const std::size_t coff = kPeOffset + 4;
    put16(image, coff, 0x14C);     // i386
    put16(image, coff + 2, 1);     // one section
    put16(image, coff + 16, 224);  // optional header size
    put16(image, coff + 18, 0x0102);
    const std::size_t optional = kPeOffset + 24;
    put16(image, optional, 0x10B);    // PE32
    put32(image, optional + 92, 16);  // data directories
    put32(image, optional + 96 + 2 * 8, resourceRva);
    put32(image, optional + 96 + 2 * 8 + 4, static_cast<std::uint32_t>(resourceSize));
    image.replace(kSectionTable, 5, ".rsrc");
    put32(image, kSectionTable + 8, static_cast<std::uint32_t>(resourceSize));
    put32(image, kSectionTable + 12, resourceRva);
    put32(image, kSectionTable + 16, static_cast<std::uint32_t>(resourceSize));
    put32(image, kSectionTable + 20, kResourceStart);

    const std::size_t r = kResourceStart;
    // type 16 -> name 1 -> language 0x409 -> data entry -> block
    put16(image, r + 14, 1);
    put32(image, r + 16, 16);
    put32(image, r + 20, 0x80000000u | 0x18);
    put16(image, r + 0x18 + 14, 1);
    put32(image, r + 0x18 + 16, 1);
    put32(image, r + 0x18 + 20, 0x80000000u | 0x30);
    put16(image, r + 0x30 + 14, 1);
    put32(image, r + 0x30 + 16, 0x409);
    put32(image, r + 0x30 + 20, 0x48);
    put32(image, r + 0x48, resourceRva + 0x58);
    put32(image, r + 0x48 + 4, static_cast<std::uint32_t>(block.size()));
    for (std::size_t i = 0; i < block.size(); ++i) {
        image[kBlockStart + i] = static_cast<char>(block[i]);
    }
    return image;
}
