// Identical and contained folders found on generated trees with a known answer.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "folders/FolderFinder.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "search/SearchRun.h"
#include "support/TempFolder.h"
#include "support/TestWindow.h"

using folders::FolderResult;

namespace {

// The paths of a list of folders relative to `root`, in order.
template <typename List, typename Path>
std::vector<std::string> relative(const std::string& root, const List& list, Path path)
{
    std::vector<std::string> names;
    for (const auto& item : list) {
        names.push_back(path(item).substr(root.size()));
    }
    return names;
}

std::vector<std::vector<std::string>> groupsOf(const std::string& root,
                                               const std::vector<folders::IdenticalGroup>& groups)
{
    std::vector<std::vector<std::string>> names;
    for (const folders::IdenticalGroup& group : groups) {
        names.push_back(relative(root, group.folders, [](const auto& f) { return f.path; }));
    }
    return names;
}

std::vector<std::string> containedOf(const std::string& root,
                                     const std::vector<folders::ContainedFolder>& list)
{
    return relative(root, list, [](const auto& c) { return c.folder.path; });
}

// A whole search of `roots` (comma text) with the finder following the
// walk, its classes taken from the result rows as a front end takes them.
FolderResult searchFolders(const std::string& roots, const std::string& containedIn = {},
                           const std::string& mask = "*.*", int keyBits = 64)
{
    TestWindow window;
    window.drives = {{'C', "", false}};
    window.fields[search::Field::RootDir] = roots;
    window.fields[search::Field::FileMask] = mask;
    search::SearchRun run(window);
    folders::FolderFinder finder;
    finder.narrowKeys(keyBits);
    finder.follow(run.TreeScanner1);
    run.btnSearchClick();
    std::vector<std::string> paths;
    for (const settings::ResultRow& row : window.list.rows) {
        if (row.subItems.empty()) {
            finder.addClass(paths);
            paths.clear();
        } else {
            paths.push_back(row.caption);
        }
    }
    finder.addClass(paths);
    return finder.find(containedIn);
}

// Eight files of distinct contents under `folder`, two of them one level down.
void writeOriginal(TempFolder& dir, const std::string& folder)
{
    for (int i = 0; i < 6; ++i) {
        dir.write(folder + "f" + std::to_string(i) + ".txt", "contents " + std::to_string(i));
    }
    dir.write(folder + "sub/g.txt", "contents g");
    dir.write(folder + "sub/h.txt", "contents h");
}

// A result as text, for comparing two results whole.
std::string describe(const std::string& root, const FolderResult& found)
{
    std::string text;
    for (const auto* list : {&found.sameLayout, &found.anyLayout}) {
        for (const std::vector<std::string>& group : groupsOf(root, *list)) {
            for (const std::string& path : group) {
                text += path + " ";
            }
            text += "| ";
        }
        text += "\n";
    }
    for (const auto* list : {&found.contained, &found.nearlyContained}) {
        for (const std::string& path : containedOf(root, *list)) {
            text += path + " ";
        }
        text += "\n";
    }
    return text;
}

}  // namespace

TEST(FolderFinderTest, CopiesWholeRenamedAndReorganisedAreFoundAtTheirHighestFolder)
{
    TempFolder dir;
    writeOriginal(dir, "orig/");
    writeOriginal(dir, "backup/copy/");
    for (int i = 0; i < 6; ++i) {
        dir.write("renamed/r" + std::to_string(i) + ".txt", "contents " + std::to_string(i));
        dir.write("flat/f" + std::to_string(i) + ".txt", "contents " + std::to_string(i));
    }
    dir.write("renamed/deeper/x/g2.txt", "contents g");
    dir.write("renamed/deeper/h2.txt", "contents h");
    dir.write("flat/g.txt", "contents g");
    dir.write("flat/h.txt", "contents h");
    dir.write("unrelated/u.txt", "nothing like it");

    const FolderResult found = searchFolders(dir.path());
    EXPECT_EQ(groupsOf(dir.path(), found.sameLayout),
              (std::vector<std::vector<std::string>>{{"backup/copy/", "orig/"}}));
    // backup/ holds nothing but the copy: it stands for it here.
    EXPECT_EQ(groupsOf(dir.path(), found.anyLayout),
              (std::vector<std::vector<std::string>>{{"backup/", "flat/", "orig/", "renamed/"}}));
    ASSERT_EQ(found.sameLayout.size(), 1u);
    EXPECT_EQ(found.sameLayout[0].folders[0].files, 8);
    EXPECT_EQ(found.sameLayout[0].folders[0].bytes, 8 * 10);
    // Identical folders are not listed again as contained in each other.
    EXPECT_TRUE(found.contained.empty());
    EXPECT_TRUE(found.nearlyContained.empty());
    // Keys that all collide find the same: the folders' contents decide.
    EXPECT_EQ(describe(dir.path(), searchFolders(dir.path(), {}, "*.*", 0)),
              describe(dir.path(), found));

    // Is everything of renamed/ already in orig/? And of unrelated/?
    const FolderResult inOrig = searchFolders(dir.path(), dir / "orig/");
    EXPECT_EQ(containedOf(dir.path(), inOrig.contained),
              (std::vector<std::string>{"backup/", "flat/", "renamed/"}));
    // Its copies lie in orig/ and orig/sub/: named by orig/.
    ASSERT_EQ(inOrig.contained[2].holders.size(), 1u);
    EXPECT_EQ(inOrig.contained[2].holders[0].folder, dir / "orig/");
    EXPECT_EQ(inOrig.contained[2].holders[0].files, 8);
    EXPECT_TRUE(searchFolders(dir.path(), dir / "unrelated/").contained.empty());
}

TEST(FolderFinderTest, AFolderDifferingInOneFileIsNoCopyAndItsFileIsNamed)
{
    TempFolder dir;
    writeOriginal(dir, "orig/");
    writeOriginal(dir, "added/");
    dir.write("added/extra.txt", "new here");
    writeOriginal(dir, "missing/");
    dir.remove("missing/f3.txt");
    writeOriginal(dir, "changed/");
    dir.write("changed/sub/h.txt", "contents i");  // the last byte differs
    writeOriginal(dir, "hidden/");
    dir.write("hidden/.extra.txt", "hidden extra");
    writeOriginal(dir, "masked/");
    dir.write("masked/extra.dat", "not a text");
    writeOriginal(dir, "others/");
    dir.write("others/empty.txt", "");
    dir.symlink("../orig/f0.txt", "others/link.txt");
    dir.mkdir("others/nothing");

    const FolderResult found = searchFolders(dir.path(), {}, "*.txt");
    EXPECT_EQ(describe(dir.path(), searchFolders(dir.path(), {}, "*.txt", 0)),
              describe(dir.path(), found));
    // Neither an empty file, an empty folder nor a link makes a difference.
    // The subfolders of the near copies are copies themselves.
    EXPECT_EQ(groupsOf(dir.path(), found.sameLayout),
              (std::vector<std::vector<std::string>>{
                  {"added/sub/", "hidden/sub/", "masked/sub/", "missing/sub/", "orig/sub/",
                   "others/sub/"},
                  {"orig/", "others/"}}));
    ASSERT_EQ(found.sameLayout.size(), 2u);
    EXPECT_EQ(found.sameLayout[1].folders[1].emptyFiles, 1);
    EXPECT_EQ(found.sameLayout[1].folders[1].emptyFolders, 1);
    EXPECT_EQ(found.sameLayout[1].folders[1].others,
              (std::vector<std::string>{dir / "others/link.txt"}));
    EXPECT_TRUE(found.anyLayout.empty());
    EXPECT_EQ(containedOf(dir.path(), found.contained), (std::vector<std::string>{"missing/"}));
    EXPECT_EQ(containedOf(dir.path(), found.nearlyContained),
              (std::vector<std::string>{"added/", "changed/", "hidden/", "masked/"}));
    std::vector<std::vector<std::string>> named;
    for (const folders::ContainedFolder& near : found.nearlyContained) {
        named.push_back(
            relative(dir.path(), near.withoutCopy, [](const std::string& p) { return p; }));
    }
    EXPECT_EQ(named, (std::vector<std::vector<std::string>>{{"added/extra.txt"},
                                                            {"changed/sub/h.txt"},
                                                            {"hidden/.extra.txt"},
                                                            {"masked/extra.dat"}}));
}

TEST(FolderFinderTest, NestedCopiesAreListedOnceAtTheTop)
{
    TempFolder dir;
    writeOriginal(dir, "a/");
    writeOriginal(dir, "a/inner/");
    dir.write("a/own.txt", "only in a");
    writeOriginal(dir, "b/");
    writeOriginal(dir, "b/inner/");
    dir.write("b/own.txt", "only in a");
    dir.mkdir("b/.cache");  // a hidden folder is not searched

    // a/ and b/ differ by what b/.cache/ may hold, so only their insides
    // match; a/inner/ and a/sub/ are no copies of a/.
    const FolderResult found = searchFolders(dir.path());
    EXPECT_EQ(groupsOf(dir.path(), found.sameLayout),
              (std::vector<std::vector<std::string>>{
                  {"a/inner/", "b/inner/"},
                  {"a/inner/sub/", "a/sub/", "b/inner/sub/", "b/sub/"}}));
    // b/'s own copies are identical folders below it, not listed again as contained.
    EXPECT_EQ(containedOf(dir.path(), found.contained), (std::vector<std::string>{"a/"}));
    EXPECT_EQ(describe(dir.path(), searchFolders(dir.path(), {}, "*.*", 0)),
              describe(dir.path(), found));
    ASSERT_EQ(found.nearlyContained.size(), 1u);
    EXPECT_EQ(found.nearlyContained[0].withoutCopy,
              (std::vector<std::string>{dir / "b/.cache/"}));
}

TEST(FolderFinderTest, ASecondPathToTheSameFilesIsNoCopy)
{
    TempFolder dir;
    writeOriginal(dir, "orig/");
    dir.mkdir("links/sub");
    for (int i = 0; i < 6; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        dir.hardlink("orig/" + name, "links/" + name);
    }
    dir.hardlink("orig/sub/g.txt", "links/sub/g.txt");
    dir.hardlink("orig/sub/h.txt", "links/sub/h.txt");
    FolderResult found = searchFolders(dir.path());
    EXPECT_TRUE(found.sameLayout.empty());
    EXPECT_TRUE(found.anyLayout.empty());
    EXPECT_TRUE(found.contained.empty());
    EXPECT_TRUE(found.nearlyContained.empty());

    // The same folder mounted a second time, searched under both names.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            ::_exit(77);
        }
        const std::string second = dir.mkdir("second");
        if (::mount((dir / "orig").c_str(), second.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            ::_exit(77);
        }
        found = searchFolders(dir / "orig/," + second + "/");
        const bool none = found.sameLayout.empty() && found.anyLayout.empty() &&
                          found.contained.empty() && found.nearlyContained.empty();
        ::umount(second.c_str());
        ::_exit(none ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "a private mount namespace was refused: the bind mount is not tried";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a folder mounted twice was called a copy of itself";
}
