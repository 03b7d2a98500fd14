// Where a run may write its report and its journal: clear of every file it acts on.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "cleanup/Plan.h"

namespace cleanup {

// Whether a file written at `path` (relative to the current folder or
// absolute; a link at it is followed, as
// writing it would) stays clear of a run of `plan` over `folders` (absolute,
// ending with '/': the searched folders and a move's folder). Refused, with
// the reason: the path is, or leads to, a file the plan keeps or marks (by
// device and inode, so a hard link or another path to it counts too); or
// the file is, or would be made, in or below one of `folders` (each folder
// above it compared by device and inode, so a bind mount or a link to a
// searched folder counts too).
bool checkOutputPlace(const std::string& path, const Plan& plan,
                      const std::vector<std::string>& folders, std::string& reason);

}  // namespace cleanup
