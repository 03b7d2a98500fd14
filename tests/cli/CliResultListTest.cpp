// Tests of the terminal's result list: files that go while the search still runs.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

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

TEST(CliResultListTest, FilesOfFoldersChangedOrMovedSinceTheWalkAreCheckedOnTheirOwn)
{
    TempFolder dir;
    const std::vector<std::string> a = {dir.write("a/0", "a"), dir.write("a/1", "a"),
                                        dir.write("a/2", "a")};
    const std::vector<std::string> b = {dir.write("b/0", "b"), dir.write("b/1", "b")};
    const std::vector<std::string> c = {dir.write("c/0", "c"), dir.write("c/1", "c")};
    // The folders as a walk that began long after their last change found them.
    search::FileCatalogue catalogue;
    for (const char* folder : {"a/", "b/", "c/"}) {
        const struct stat st = statOf(dir / folder);
        catalogue.Folders.push_back(dir / folder);
        catalogue.FolderStamps.push_back(
            {st.st_dev, st.st_ino,
             static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec});
    }
    catalogue.scanStartNs = catalogue.FolderStamps[0].changeNanoseconds + 10'000'000'000;
    cli::CliResultList list;
    list.pathsOnly = true;
    list.catalogue = &catalogue;
    for (const std::vector<std::string>* group : {&a, &b, &c}) {
        list.addRow("");
        list.addRow("Header");
        for (const std::string& path : *group) {
            list.addFile(path);
        }
    }
    // Past the clock's tick of the files' writing, so that the changes move
    // the folders' change times.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    dir.remove("a/1");
    ASSERT_EQ(std::rename((dir / "b").c_str(), (dir / "moved").c_str()), 0);
    list.endUpdate();
    list.settle();
    ASSERT_EQ(list.groups.size(), 2u);
    EXPECT_EQ(list.groups[0], (std::vector<std::string>{a[0], a[2]}));
    EXPECT_EQ(list.groups[1], c);
}

}  // namespace
