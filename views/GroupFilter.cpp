// Decides which groups of the result list a filter keeps in sight.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/GroupFilter.h"

#include <algorithm>

#include "platform/FolderListing.h"
#include "views/FileListModel.h"

namespace views {

namespace {

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool containsFolded(std::string_view text, std::string_view part)
{
    const auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                                   [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
    return found != text.end() || part.empty();
}

}  // namespace

bool GroupFilter::matchesText(std::string_view path) const
{
    return containsFolded(path, text);
}

bool GroupFilter::inFolder(std::string_view path) const
{
    if (below && !folder.empty()) {
        const std::size_t length = folder == "/" ? 0 : folder.size();
        return path.size() > length + 1 && path.compare(0, length, folder) == 0 &&
               path[length] == '/';
    }
    std::string_view in = platform::folderOf(path);
    while (in.size() > 1 && in.back() == '/') {
        in.remove_suffix(1);
    }
    return folder.empty() || in == folder;
}

std::vector<bool> GroupFilter::shownRows(const FileListModel& rows) const
{
    const int total = rows.size();
    std::vector<bool> shown(static_cast<std::size_t>(total), empty());
    if (empty()) {
        return shown;
    }
    int lastShownEnd = -1;  // the row after the last group shown so far
    for (int row = 0; row < total;) {
        if (rows.kind(row) != RowKind::Header) {
            ++row;
            continue;
        }
        int end = row + 1;
        bool hasText = false;
        bool hasFolder = false;
        for (; end < total && rows.kind(end) == RowKind::File; ++end) {
            hasText = hasText || matchesText(rows.caption(end));
            hasFolder = hasFolder || inFolder(rows.caption(end));
        }
        const bool keep = hasText && hasFolder;
        if (keep) {
            // The separator right before this group, when a shown group came earlier.
            if (lastShownEnd >= 0 && row > 0 && rows.kind(row - 1) == RowKind::Separator) {
                shown[static_cast<std::size_t>(row - 1)] = true;
            }
            std::fill(shown.begin() + row, shown.begin() + end, true);
            lastShownEnd = end;
        }
        row = end;
    }
    return shown;
}

}  // namespace views
