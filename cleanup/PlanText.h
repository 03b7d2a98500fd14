// A cleanup plan as text, to save, edit and read back.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "cleanup/Plan.h"

namespace cleanup {

// The text of a plan, so that it can be saved, edited and read back: one
// line a file, "keep" or "mark", the quoted path and the size as comma text,
// such as
//     keep,"/home/ann/photos/beach.jpg",204800
//     mark,"/home/ann/old/beach.jpg",204800
// with an empty line between groups and a line beginning with '#' before a
// group that has a note. A path holding a line break cannot be one line: it
// is left out, and with it its group when it is a kept file (the group would
// read back with every copy marked). `leftOut` receives how many paths were.
std::vector<std::string> formatPlanLines(const Plan& plan, std::size_t& leftOut);

// What a list file given to act on turned out to hold.
struct ListContents {
    bool isPlan = false;
    Plan plan;                       // a plan: the roles as the file gives them
    std::vector<InputGroup> groups;  // a result list: the groups, sizes as listed
};

// Reads a plan (lines as above; lines beginning with '#' are ignored) or a
// result list file as gemmora-cli -o and the desktop program write it: a
// group begins at each "Duplicate files ....." line and holds the file rows
// after it, each with its Size field. Any other line makes the whole text
// unreadable, since acting on half-understood lists is how copies get lost.
// False with the line and the reason in `error`.
bool parseListText(const std::string& text, ListContents& contents, std::string& error);

}  // namespace cleanup
