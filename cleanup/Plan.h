// The cleanup plan: which file of each group is kept and which are marked, chosen by keep rules.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Trash.h"

namespace cleanup {

// One file of a group of duplicates as the plan sees it.
struct FileFacts {
    std::string path;
    // The searched folder the file was found in, ending with '/' ("" when not
    // known, as for a saved list). Links in it are followed as the user named
    // it; below it nothing is. Without one, nothing but "/" is trusted.
    std::string root;
    std::int64_t size = -1;  // -1: not known
    std::int64_t modifiedNs = 0;
};

// A group of identical files in the order the result list shows them.
using InputGroup = std::vector<FileFacts>;

enum class Role { Keep, Mark };

struct PlanFile {
    FileFacts file;
    Role role = Role::Keep;
};

struct PlanGroup {
    std::vector<PlanFile> files;  // in the order of the input group
    // Why this group's choice is not what the rules asked for, if it is not.
    std::string note;
};

struct Plan {
    std::vector<PlanGroup> groups;

    std::int64_t markedCount() const;
    // The sizes of the marked files whose size is known.
    std::int64_t bytesToReclaim() const;
};

// A keep rule. Rules are applied in order, each choosing among the files the
// rules before it left tied.
struct KeepRule {
    enum Kind {
        Oldest,      // earliest modification time
        Newest,      // latest modification time
        Shortest,    // fewest bytes in the path
        Longest,     // most bytes in the path
        Shallowest,  // fewest folders above the file
        Deepest,     // most folders above the file
        First,       // first in the result list's order
        InFolder,    // below one of `values` (folders ending with '/')
        NotInFolder,
        NameMatches,  // the name matches one of `values` (masks with * and ?)
    };
    Kind kind = First;
    std::vector<std::string> values;
};

// Reads a rule as gemmora-cli takes it: oldest, newest, shortest, longest,
// shallowest, deepest, first, in:DIRS, not-in:DIRS, name:MASKS, where DIRS
// and MASKS are comma text. Folders are taken as given; the caller makes
// them absolute. False with the reason in `error`.
bool parseKeepRule(const std::string& text, KeepRule& rule, std::string& error);
std::string describeRule(const KeepRule& rule);

// Chooses the file to keep in each group, marking every other file. The
// rules narrow the files still in the running; whatever ties remain after the
// last rule go to the first file by path order (case-insensitive, then by
// bytes), so the choice never depends on anything else. When a folder or name
// rule leaves no file in the running, the group keeps the first file by path
// order and its note says so. A group of fewer than two files marks nothing.
// A file in a trash folder is never kept while a copy outside the trash
// exists: the rules choose among the others (trash folders as `trash` tells
// them; without it, those of this user and machine).
Plan makePlan(const std::vector<InputGroup>& groups, const std::vector<KeepRule>& rules);
Plan makePlan(const std::vector<InputGroup>& groups, const std::vector<KeepRule>& rules,
              const platform::TrashFolders& trash);

// What makes a plan safe to act on, from whatever source it came: every
// group that marks a file keeps at least one, every path is absolute and
// plain (no empty, "." or ".." part, no '/' at the end), and no path occurs
// twice in the whole plan, so that a file kept in one group is never marked
// in another. False with the first fault in `error`.
bool checkPlan(const Plan& plan, std::string& error);

// The lstat facts of a file reached without following a link below its
// root. False with the reason when it is not a regular file there.
bool readFacts(FileFacts& file, std::string& error);

// The count of leading bytes of `path` that are trusted: its root, when the
// path lies below it, else none.
std::size_t trustedLength(const FileFacts& file);

// Makes `path` absolute against `base` and plain: no empty, "." or ".."
// parts. Folders keep one '/' at the end when `folder` is set.
std::string plainPath(const std::string& path, const std::string& base, bool folder);

// A folder of a keep rule as the user gave it, made absolute against `base`
// and plain, and where links in it lead when that differs, so that a rule
// matches paths whichever way they were found. Each ends with '/'.
std::vector<std::string> folderForms(const std::string& folder, const std::string& base);

}  // namespace cleanup
