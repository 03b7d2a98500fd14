#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The sum, modulo 2^32, of the first min(size / 4, 1024) little-endian 32-bit
// words of a file, with bit 31 cleared. 0 when the file cannot be read or its
// size is no longer `recordedSize`.
std::uint32_t quickSum(const std::string& path, std::int64_t recordedSize);

// Whether two files both still have `size` bytes and those bytes are equal.
// Reads in chunks and stops at the first difference; never maps a file and
// never reads past an end, so a file that shrinks meanwhile is simply unequal.
bool sameContents(const std::string& first, const std::string& other, std::int64_t size);

// The chunk each file is read in by sameContents.
constexpr std::size_t kCompareChunk = 256 * 1024;

}  // namespace platform
