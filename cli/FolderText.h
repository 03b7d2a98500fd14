// The texts gemmora-cli writes for a folder search, in the list, paths or json format.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "folders/FolderFinder.h"

namespace cli {

// `containedIn`: the folder asked about with --contained-in, or "". `null`
// ends each path of the paths format with a zero byte and each block with
// one more; without it a path holding a line break is left out of the
// paths format, and `leftOut` receives how many were.
std::string folderText(const folders::FolderResult& result, const std::string& containedIn,
                       const std::string& format, bool null, std::size_t& leftOut);

}  // namespace cli
