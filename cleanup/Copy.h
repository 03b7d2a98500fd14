// Copies a file for a move to another file system, flushed and read back before it counts.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>

namespace cleanup {

// Called after each chunk with the bytes handled so far (the copy, then its
// check, each counts the file's size); false stops the copy.
using CopyProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// Copies the open regular file `from` (as `fromState` describes it) into the
// open folder `folder` as `name`, for a move to another file system: written
// under the spare name `spare` beside it, flushed to the disk, read back and
// compared byte for byte with the source, given the source's permissions,
// owner (where allowed) and times, and only then renamed to `name`, never
// over another file. `copied` receives the new file's state. False with the
// reason, and nothing left in `folder`, when any step fails or `progress`
// stops it (then `stopped` is set).
bool copyInto(int from, const struct stat& fromState, int folder, const std::string& spare,
              const std::string& name, const CopyProgress& progress, struct stat& copied,
              std::string& reason, bool& stopped);

}  // namespace cleanup
