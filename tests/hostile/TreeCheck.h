// Test helper: records a tree as lstat sees it, to check that a run left it as it was.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// What a hostile-tree test checks after a search, whatever front end ran it.

// One entry of a tree as lstat sees it, with a digest of a regular file's
// contents and a link's target.
struct EntryFacts {
    mode_t mode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    ino_t inode = 0;
    std::uint64_t digest = 0;
    std::string linkTarget;

    bool operator==(const EntryFacts&) const = default;
};

// Every entry under `root` by its path relative to it. Walks by folder
// descriptors, so depth and path length do not matter; follows nothing.
using Snapshot = std::map<std::string, EntryFacts>;
Snapshot snapshotTree(const std::string& root);

// The differences between two snapshots, one a line; "" when equal.
std::string describeChanges(const Snapshot& before, const Snapshot& after);

using Groups = std::vector<std::vector<std::string>>;
using G = Groups;  // short, for expected groups in tests

// What makes a reported set of groups sound: each group holds at least two
// paths, each path lies under one of `roots` and is a regular file (not a
// link), no two paths anywhere share a device and inode, and the files of a
// group have identical contents. "" when sound, else what is wrong.
std::string checkGroups(const Groups& groups, const std::vector<std::string>& roots);

// The groups of `gemmora-cli --format paths --null` output.
Groups parseNullGroups(const std::string& text);

// The groups as sorted lists of paths relative to `base`, the groups sorted,
// for comparing with what a test expects.
std::vector<std::vector<std::string>> relativeGroups(const Groups& groups, const std::string& base);

// Raises the open-file limit to its hard limit, for walks 1,000 folders deep.
void raiseOpenFileLimit();
