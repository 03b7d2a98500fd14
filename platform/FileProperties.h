// The facts of one file for the properties dialog, read in one query, and their texts.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text/Locale.h"

namespace platform {

// Everything the properties dialog shows of one file, from one entry query.
struct FileProperties {
    std::uint32_t attributes = 0;    // read-only, hidden, compressed bits
    std::uint64_t creationTime = 0;  // 100-ns ticks since 1601; 0 when unknown
    std::uint64_t lastAccessTime = 0;
    std::uint64_t lastWriteTime = 0;
    std::uint64_t size = 0;
    std::string longName;
    std::string shortName;  // there are no 8.3 names here: always empty
    std::vector<std::uint8_t> versionBlock;
    bool hasCompressedSize = false;
    std::uint64_t compressedSize = 0;  // bytes allocated on disk
};

// False when no regular file exists at the path.
bool gatherFileProperties(const std::string& path, FileProperties& properties);

// "1,023 bytes (1,023 bytes)", "1.00 KB (1,024 bytes)", ... up to GB.
std::string SizeText(std::uint64_t bytes, const text::Locale& locale);
// Bytes in plain digits, KB or MB, then the exact count.
std::string CompressedSizeText(std::uint64_t bytes, const text::Locale& locale);
// "yyyy-mmm-dd hh:nn:ss" of a file time, in UTC; "(unknown)" for 0.
std::string FileTimeText(std::uint64_t ticks, const text::Locale& locale);
// The date part alone, "yyyy-mmm-dd"; "(unknown)" for 0.
std::string FileDateText(std::uint64_t ticks, const text::Locale& locale);
// The extension in upper case and " file".
std::string TypeText(const std::string& path);

}  // namespace platform
