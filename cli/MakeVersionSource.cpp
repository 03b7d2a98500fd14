// Build step that writes the source placing the program's own version block in its file.
// SPDX-License-Identifier: GPL-3.0-or-later
// Build step: writes the C++ source that places the program's own version
// block in the ELF section the version reader looks for.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "versioninfo/VersionBlockWriter.h"

namespace {

bool parseVersion(const std::string& text, unsigned parts[4])
{
    return std::sscanf(text.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) ==
           4;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp VERSION YEAR\n", argv[0]);
        return 2;
    }
    unsigned parts[4] = {};
    if (!parseVersion(argv[2], parts)) {
        std::fprintf(stderr, "%s: version must have four parts: %s\n", argv[0], argv[2]);
        return 2;
    }
    const std::string version = argv[2];
    versioninfo::VersionBlockContents contents;
    contents.fixed.signature = 0xFEEF04BD;
    contents.fixed.structVersion = 0x00010000;
    contents.fixed.fileVersionMS = (parts[0] << 16) | parts[1];
    contents.fixed.fileVersionLS = (parts[2] << 16) | parts[3];
    contents.fixed.productVersionMS = contents.fixed.fileVersionMS;
    contents.fixed.productVersionLS = contents.fixed.fileVersionLS;
    contents.fixed.fileFlagsMask = 0x3F;
    contents.fixed.fileType = 1;  // an application
    contents.tables.push_back(
        {"040904B0",
         {{"CompanyName", "Quarrendale"},
          {"FileDescription", "Gemmora duplicate file finder"},
          {"FileVersion", version},
          {"InternalName", "gemmora"},
          {"LegalCopyright", std::string("Copyright (C) ") + argv[3] + " Quarrendale"},
          {"ProductName", "Gemmora"},
          {"ProductVersion", version}}});
    contents.addTranslation(0x0409, 1200);
    const std::vector<std::uint8_t> block = versioninfo::buildVersionBlock(contents);

    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out,
                 "// Made by the build from the project's version number.\n"
                 "extern \"C\" __attribute__((section(\".gemmora.version\"), used, aligned(4)))\n"
                 "const unsigned char gemmoraVersionBlock[%zu] = {",
                 block.size());
    for (std::size_t i = 0; i < block.size(); ++i) {
        std::fprintf(out, "%s%u", i % 16 == 0 ? "\n    " : " ", block[i]);
        if (i + 1 < block.size()) {
            std::fputc(',', out);
        }
    }
    std::fprintf(out, "\n};\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
