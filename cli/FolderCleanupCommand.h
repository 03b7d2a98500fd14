// gemmora-cli's cleanup of whole folders that are copies: the plan from a folder search, and the run.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "cli/CleanupCommand.h"
#include "folders/FolderFinder.h"

namespace cli {

// Whether the cleanup options fit a folder search; "" when they do (or
// when no cleanup is asked for).
std::string folderCleanupProblem(const CleanupOptions& options, const std::string& format,
                                 bool null);

// Finds the folders (every group of `groups` a class of the finder), plans
// their cleanup by the keep rules (identical folders: all but the kept one;
// contained folders, in `containedIn` when given), shows the plan, and acts
// on it with --yes. The exit status as runCleanup's.
int runFolderCleanup(const CleanupOptions& options, const std::vector<std::string>& roots,
                     const std::vector<std::vector<std::string>>& groups,
                     folders::FolderFinder& finder, const std::string& containedIn,
                     const CleanupOutput& output);

}  // namespace cli
