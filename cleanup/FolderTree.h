// A folder's whole tree listed and removed without following a link, for the cleanup of folders.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/NoFollowOpen.h"

namespace cleanup {

struct TreeEntry {
    enum Type { File, EmptyFile, Folder, Other };
    std::string relative;  // below the listed folder; a folder's ends with '/'
    Type type = Other;
    struct stat st = {};
};

// Every entry below the open folder `fd`, sorted by path, each queried
// without following a link. False with the reason when a folder of it cannot
// be read or is another file system mounted there.
bool listTree(int fd, std::vector<TreeEntry>& entries, std::string& reason);

// Whether an entry may be removed: its path below the folder removed (as
// listTree gives it) and its status now.
using MayRemove = std::function<bool(const std::string& relative, const struct stat& st)>;

// Removes the folder `name` of the open folder `parent` and everything below
// it, never following a link. Each entry that is not a folder is removed only
// when `mayRemove` allows it; a folder goes only once it is empty, so what
// another program adds meanwhile stays. False with the reason at the first
// entry that cannot or may not be removed (what was removed before stays
// removed).
bool removeTree(int parent, const std::string& name, const MayRemove& mayRemove,
                std::string& reason);

// "link", "empty file", "empty folder", "special file" and so on: what an
// entry that goes with a folder is, for saying so.
std::string entryKind(const TreeEntry& entry);

// Opens the folder `path` (ending with '/') without following a link below
// its searched folder `root`: `place` is its parent and its name there,
// `fd` the folder itself and `st` its status. False with the reason.
bool openPlannedFolder(const std::string& path, const std::string& root,
                       platform::PathPlace& place, platform::UniqueFd& fd, struct stat& st,
                       std::string& reason);

}  // namespace cleanup
