// Test helper: a minimal executable image holding one version block.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A minimal Windows executable image holding one version resource, for blocks
// that no resource compiler would write. Offsets of the parts are fixed so a
// test can corrupt one on purpose.
struct MiniPe {
    static constexpr std::size_t kPeOffset = 64;
    static constexpr std::size_t kSectionTable = 64 + 24 + 224;
    static constexpr std::size_t kResourceStart = 0x200;
    static constexpr std::size_t kBlockStart = kResourceStart + 0x58;

    static std::string build(const std::vector<std::uint8_t>& block);
};
