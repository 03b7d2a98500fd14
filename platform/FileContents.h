#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The bytes the quick sum is made of: the first min(size, 4096). False when
// the file cannot be read or its size is no longer `recordedSize`.
constexpr std::int64_t kHeadBytes = 4096;
bool readHead(const std::string& path, std::int64_t recordedSize, std::string& head);

// The sum, modulo 2^32, of the first min(size / 4, 1024) little-endian 32-bit
// words, with bit 31 cleared.
std::uint32_t headSum(const std::string& head);

// The same from the file; 0 when it cannot be read or its size changed.
std::uint32_t quickSum(const std::string& path, std::int64_t recordedSize);

// Whether two files both still have `size` bytes and those bytes are equal,
// from byte `from` on. Reads in chunks and stops at the first difference;
// never maps a file and never reads past an end, so a file that shrinks
// meanwhile is simply unequal.
bool sameContents(const std::string& first, const std::string& other, std::int64_t size,
                  std::int64_t from = 0);

// The chunk each file is read in by sameContents.
constexpr std::size_t kCompareChunk = 256 * 1024;

}  // namespace platform
