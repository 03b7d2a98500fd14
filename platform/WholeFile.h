// Whole files at once: written through a temporary file renamed into place, or read in one go.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Writes the text through a temporary file in the same folder, renamed into
// place once it is complete.
bool writeFileAtomically(const std::string& path, const std::string& text);
// Writes several files so that either all take their new text or none
// does (short of a failed rename, which the same folder rules out):
// each is written in full through a temporary file before any is renamed.
bool writeFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files);
// Reads a regular file whole; fails (errno set) for anything else and for a
// file larger than kMaxWholeFileBytes.
constexpr std::uint64_t kMaxWholeFileBytes = std::uint64_t(1) << 30;
bool readWholeFile(const std::string& path, std::string& contents);
// Opens what readWholeFile reads: a descriptor, or -1 with errno set (EINVAL
// for anything but a regular file, EFBIG for one too large). `size` gets
// its size.
int openWholeFile(const std::string& path, std::uint64_t& size);
// Reads what the descriptor gives up to its end, appended to `contents`.
// With `stopAtZero`, reading ends at the first zero byte, which is left
// out. Fails (errno set) on a read error, and with EFBIG once more than
// `limit` bytes are held.
bool readToEnd(int fd, std::string& contents, bool stopAtZero, std::uint64_t limit);

}  // namespace platform
