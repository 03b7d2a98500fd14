// Build step that makes the manual pages and the bash completion from the programs' option lists.
// SPDX-License-Identifier: GPL-3.0-or-later
// Build step: makes a program's manual page or its bash completion from the
// program's own option list (cli/CliHelp.cpp, app/AppHelp.cpp) and a
// template that holds the hand-written parts.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/AppHelp.h"
#include "cli/CliHelp.h"
#include "help/CommandHelp.h"

namespace {

bool readText(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return static_cast<bool>(in);
}

int usage(const char* self)
{
    std::fprintf(stderr,
                 "usage: %s man PROGRAM TEMPLATE OUTPUT VERSION DATE\n"
                 "       %s completion PROGRAM TEMPLATE OUTPUT\n",
                 self, self);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        return usage(argv[0]);
    }
    const std::string kind = argv[1];
    const std::string program = argv[2];
    const help::CommandHelp* commandHelp = program == "gemmora-cli" ? &cli::cliHelp()
                                           : program == "gemmora"   ? &app::appHelp()
                                                                    : nullptr;
    if (commandHelp == nullptr || (kind == "man" && argc != 7) ||
        (kind == "completion" && argc != 5) || (kind != "man" && kind != "completion")) {
        return usage(argv[0]);
    }
    std::string pageTemplate;
    if (!readText(argv[3], pageTemplate)) {
        std::perror(argv[3]);
        return 1;
    }
    std::string error;
    const std::string text =
        kind == "man" ? help::manualPage(*commandHelp, pageTemplate, argv[5], argv[6], error)
                      : help::completionScript(*commandHelp, pageTemplate, error);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", argv[3], error.c_str());
        return 1;
    }
    std::ofstream out(argv[4], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::perror(argv[4]);
        return 1;
    }
    return 0;
}
