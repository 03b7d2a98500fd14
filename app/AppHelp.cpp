// The desktop program's command-line options, as --help and its manual page show them.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppHelp.h"

namespace app {

// The desktop program's own options, answered before the window system is
// reached (app/main.cpp). The manual page gemmora(1) is made from this list
// as well, so an option added here is in --help and in the page at once.
const help::CommandHelp& appHelp()
{
    static const help::CommandHelp kHelp{
        .program = "gemmora",
        .arguments = "[OPTIONS]",
        .summary = {"Opens Gemmora's window, in which you choose the drives, file masks, folders "
                    "to search and folders to skip, and the rules that make two files "
                    "duplicates. Every group of files with identical contents is shown in the "
                    "result list, from which you review, open or delete a file.",
                    "The options of the Qt toolkit, such as -platform NAME, -style NAME and "
                    "-reverse, are taken as well."},
        .options =
            {
                {.names = {"-h", "--help"}, .text = "print this help and end"},
                {.names = {"--version"}, .text = "print the program's version and end"},
            },
        .exitStatuses = {{0, "the window was closed"}},
    };
    return kHelp;
}

}  // namespace app
