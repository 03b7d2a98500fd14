// Tests of the terminal's result list: files that go while the search still runs.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "cli/CliWindow.h"
#include "support/TempFolder.h"

namespace {

TEST(CliResultListTest, FilesGoneBeforeTheSearchEndsAreLeftOutWithTheGroupsTheyLeaveAlone)
{
    TempFolder dir;
    cli::CliResultList list;
    list.pathsOnly = true;
    // Rows as the comparison writes them: a separator, a header, the files.
    auto writeGroup = [&](const std::string& name, int files) {
        list.addRow("");
        list.addRow("Header");
        std::vector<std::string> paths;
        for (int i = 0; i < files; ++i) {
            paths.push_back(dir.write(name + "/" + std::to_string(i), name));
            list.addFile(paths.back());
        }
        return paths;
    };
    // The first 512 files are handed to the helper thread as they come; the
    // files removed below are among the last, checked as the search ends.
    const std::vector<std::string> many = writeGroup("many", 600);
    writeGroup("pair", 2);
    const std::vector<std::string> three = writeGroup("three", 3);
    dir.remove("pair/1");
    dir.remove("three/2");
    dir.remove("many/599");
    list.settle();
    ASSERT_EQ(list.groups.size(), 2u);
    EXPECT_EQ(list.groups[0], std::vector<std::string>(many.begin(), many.end() - 1));
    EXPECT_EQ(list.groups[1], (std::vector<std::string>{three[0], three[1]}));
    EXPECT_EQ(list.rowCount(), 601);
}

}  // namespace
