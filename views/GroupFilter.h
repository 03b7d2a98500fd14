// Which groups of the result list a filter keeps in sight.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace views {

class FileListModel;

// What the list is narrowed to: groups with a file whose path holds `text`
// (ignoring the case of ASCII letters) and, when `folder` is given, a file
// right in that folder (the same file or another), or with `below` anywhere
// in its tree. The empty filter keeps everything.
struct GroupFilter {
    std::string text;
    std::string folder;  // without its trailing '/', except for "/"
    bool below = false;

    bool empty() const { return text.empty() && folder.empty(); }
    bool matchesText(std::string_view path) const;
    bool inFolder(std::string_view path) const;

    // Whether each row stays in sight. A group is its header and file rows;
    // a separator stays while a shown group comes before it and another
    // after it, so the shown groups read as the list does.
    std::vector<bool> shownRows(const FileListModel& rows) const;
};

// How many groups and files are in sight, and in all.
struct ShownCounts {
    int groups = 0;
    int files = 0;
    int allGroups = 0;
    int allFiles = 0;
};

}  // namespace views
