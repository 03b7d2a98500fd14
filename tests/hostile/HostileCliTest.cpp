// Tests of gemmora-cli's search on hostile trees: links, special files, mounts and odd names.
// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile trees searched by gemmora-cli as a user runs it: links, special
// files, hard links, bind mounts, strange names, depth and width, and
// permissions. Each search must end, report only sound groups, and leave
// every file as it was.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "hostile/TreeCheck.h"
#include "settings/ResultLines.h"
#include "support/CliRunner.h"
#include "support/TempFolder.h"

namespace {

using Outcome = CliOutcome;

// The search's groups, with the run checked for ending cleanly.
Groups searchGroups(const std::vector<std::string>& folders, std::vector<std::string> options = {},
                    const std::function<bool()>& setUp = nullptr)
{
    std::vector<std::string> args = {"-q", "--format", "paths", "--null"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), folders.begin(), folders.end());
    const Outcome outcome = runCli(args, afterSetUp(setUp));
    EXPECT_FALSE(outcome.timedOut) << "the search hung";
    EXPECT_EQ(outcome.signal, 0) << outcome.err;
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return parseNullGroups(outcome.out);
}

// A tree, its snapshot before the search, and the check after it.
class HostileTree : public ::testing::Test {
protected:
    TempFolder tree;
    TempFolder outside;  // what links point into: never searched
    Snapshot before;
    Snapshot outsideBefore;

    void SetUp() override { raiseOpenFileLimit(); }

    void freeze()
    {
        before = snapshotTree(tree.path());
        outsideBefore = snapshotTree(outside.path());
    }

    void expectUntouched()
    {
        EXPECT_EQ(describeChanges(before, snapshotTree(tree.path())), "");
        EXPECT_EQ(describeChanges(outsideBefore, snapshotTree(outside.path())), "");
    }

    // Searches the tree and checks the groups for soundness.
    std::vector<std::vector<std::string>> search(std::vector<std::string> options = {},
                                                 const std::function<bool()>& setUp = nullptr)
    {
        const Groups groups = searchGroups({tree.path()}, std::move(options), setUp);
        EXPECT_EQ(checkGroups(groups, {tree.path()}), "");
        return relativeGroups(groups, tree.path());
    }
};

void makeSocket(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the socket file stays
}

TEST_F(HostileTree, LinksFifosAndSocketsAreNeverFollowedOrRead)
{
    tree.write("real/a.txt", "kept contents");
    tree.write("real/b.txt", "kept contents");
    outside.write("target/a.txt", "kept contents");
    outside.write("target/c.txt", "kept contents");
    tree.symlink(tree / "real/a.txt", "links/to-file.txt");
    tree.symlink(outside / "target", "links/to-outside");
    tree.symlink(tree / "real", "links/to-folder");
    tree.symlink(tree / "nothing-here", "links/dangling");
    tree.symlink("..", "links/loop");
    tree.symlink("self", "links/self");
    tree.mkdir("special");
    tree.fifo("special/pipe.txt");
    tree.write("special/pipe-copy.txt", "");
    makeSocket(tree / "special/socket");
    freeze();

    EXPECT_EQ(search({"--any-time"}), (G{{"real/a.txt", "real/b.txt"}}));
    // Zero-length files included: the FIFO is still not read (nor waited on).
    EXPECT_EQ(search({"--any-time", "--include-empty"}), (G{{"real/a.txt", "real/b.txt"}}));
    expectUntouched();
}

TEST_F(HostileTree, AHardLinkIsOneFileNotACopy)
{
    tree.write("photos/one.jpg", "picture one");
    tree.hardlink("photos/one.jpg", "snapshot/one.jpg");
    tree.write("backup/one.jpg", "picture one");
    tree.write("photos/two.jpg", "picture two");
    tree.hardlink("photos/two.jpg", "snapshot/two.jpg");
    tree.hardlink("photos/two.jpg", "snapshot/older/two.jpg");
    freeze();

    const G groups = search({"--any-time"});
    // One of the two links to "one" with its real copy; "two" has no copy.
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].size(), 2u);
    EXPECT_EQ(groups[0][0], "backup/one.jpg");
    expectUntouched();
}

TEST_F(HostileTree, OverlappingFoldersShowEachFileOnce)
{
    tree.write("docs/a.txt", "same text");
    tree.write("docs/deeper/b.txt", "same text");
    freeze();
    const Groups groups =
        searchGroups({tree.path(), tree / "docs", tree / "docs/deeper"}, {"--any-time"});
    EXPECT_EQ(checkGroups(groups, {tree.path()}), "");
    EXPECT_EQ(relativeGroups(groups, tree.path()), (G{{"docs/a.txt", "docs/deeper/b.txt"}}));
    expectUntouched();
}

TEST_F(HostileTree, AFolderSeenAgainThroughABindMountIsOneFolder)
{
    tree.write("data/a.bin", "bind mount contents");
    tree.write("data/b.bin", "bind mount contents");
    tree.mkdir("mirror");
    freeze();
    const std::string data = tree / "data";
    const std::string mirror = tree / "mirror";
    const auto bind = [&] {
        // A private namespace: the mount is gone when the search ends.
        return ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount(data.c_str(), mirror.c_str(), nullptr, MS_BIND, nullptr) == 0;
    };
    const Outcome probe = runCli({"--version"}, afterSetUp(bind));
    if (probe.status == 77) {
        GTEST_SKIP() << "bind mounts are refused here (needs root and unshare --mount)";
    }
    const G groups = search({"--any-time"}, bind);
    // Two files, each reached twice: one group of two, never a file with its mirror.
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].size(), 2u);
    EXPECT_NE(groups[0][0].substr(groups[0][0].find('/')),
              groups[0][1].substr(groups[0][1].find('/')));
    expectUntouched();
}

TEST_F(HostileTree, StrangeNamesArriveByteForByte)
{
    const std::vector<std::string> names = {
        " leading blank",
        "trailing blank ",
        "comma, in it",
        "\"quoted\"",
        "back\\slash",
        "line\nbreak",
        "tab\there",
        "bell\x07and\x1b",
        "latin1 \xE9t\xE9",
        "broken \xC3\x28",
        "\xFF\xFE",
        "a.txt",
        "A.TXT",
        "\"",
        ",",
        "  ",
        "2",
        "dat",
        "mm2",
        " ",
    };
    G expected;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string folder = i % 2 == 0 ? " odd, \"folder\" \xF0/" : "plain/";
        const std::string contents = "strange name " + std::to_string(i);
        tree.write(folder + names[i], contents);
        tree.write("copies\n" + std::string(i % 3 == 0 ? "\x01" : "") + "/" + names[i], contents);
        std::vector<std::string> group = {
            folder + names[i], "copies\n" + std::string(i % 3 == 0 ? "\x01" : "") + "/" + names[i]};
        std::sort(group.begin(), group.end());
        expected.push_back(group);
    }
    std::sort(expected.begin(), expected.end());
    freeze();

    EXPECT_EQ(search({"--any-time"}), expected);

    // The list format: no caption with a line break, so every group here
    // (each has a copy under "copies\n") is left out, and said so.
    const Outcome list = runCli({"-q", "--any-time", tree.path()});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "");
    EXPECT_NE(list.err.find("40 paths hold a line break and were left out"), std::string::npos)
        << list.err;
    expectUntouched();
}

TEST_F(HostileTree, StrangeNamesInTheListFormatReadBackExactly)
{
    const std::vector<std::string> names = {" both ",       "a,b",         "say \"hi\"", "c:\\dos",
                                            "\xC3\x28\xFF", "ctl\x01\x02", "line\nbreak"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        tree.write("one/" + names[i], "list " + std::to_string(i));
        tree.write("two/" + names[i], "list " + std::to_string(i));
    }
    freeze();
    const Outcome outcome = runCli({"-q", "--any-time", tree.path()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < outcome.out.size()) {
        const std::size_t end = outcome.out.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a line without its CR LF";
        lines.push_back(outcome.out.substr(at, end - at));
        at = end + 2;
    }
    Groups groups;
    for (const std::string& line : lines) {
        const settings::ResultRow row = settings::parseResultLine(line);
        if (row.caption == "Duplicate files .....") {
            groups.emplace_back();
        } else if (!row.subItems.empty()) {
            ASSERT_FALSE(groups.empty()) << "a file row before any header";
            groups.back().push_back(row.caption);
        }
    }
    EXPECT_EQ(checkGroups(groups, {tree.path()}), "");
    // Every name but the one with a line break, in both folders.
    EXPECT_EQ(groups.size(), names.size() - 1);
    expectUntouched();
}

// Removes a tree of any depth by descriptors (paths there may be too long
// for the usual calls).
void removeAt(int folder)
{
    DIR* listing = ::fdopendir(::dup(folder));
    std::vector<std::pair<std::string, bool>> entries;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            entries.push_back({name, entry->d_type == DT_DIR});
        }
    }
    ::closedir(listing);
    for (const auto& [name, isFolder] : entries) {
        if (isFolder) {
            const int child = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (child >= 0) {
                removeAt(child);
                ::close(child);
            }
        }
        ::unlinkat(folder, name.c_str(), isFolder ? AT_REMOVEDIR : 0);
    }
}

TEST_F(HostileTree, DeepWideAndOverlongTrees)
{
    // 1,000 folders deep, with a copy at the top and at the bottom.
    std::string deep = "deep/";
    for (int i = 0; i < 1000; ++i) {
        deep += "d/";
    }
    tree.write("deep/top.bin", "deep contents");
    tree.write(deep + "bottom.bin", "deep contents");
    // 100,000 files of one size in one folder, two of them equal.
    for (int i = 0; i < 100000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "wide/%06d", i);
        tree.write(name, std::string("wide file ") + (name + 5));
    }
    tree.write("wide/the-copy", "wide file 077777");
    // A folder whose path is longer than PATH_MAX, made by descriptors.
    int fd = ::open(tree.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(::mkdirat(fd, "long", 0755), 0);
    std::size_t length = tree.path().size() + 4;
    for (int level = 0; length <= PATH_MAX + 200; ++level) {
        const int next = ::openat(fd, level == 0 ? "long" : std::string(200, 'n').c_str(),
                                  O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::mkdirat(fd, std::string(200, 'n').c_str(), 0755), 0);
        length += 201;
    }
    for (const char* name : {"far1.bin", "far2.bin"}) {
        const int file = ::openat(fd, name, O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::write(file, "far contents", 12), 12);
        ::close(file);
    }
    ::close(fd);
    tree.write("long/near.bin", "far contents");
    tree.write("near.bin", "far contents");
    freeze();
    ASSERT_GT(before.size(), 101000u);

    const G groups = search({"--any-time"});
    EXPECT_EQ(groups, (G{{deep + "bottom.bin", "deep/top.bin"},
                         {"long/near.bin", "near.bin"},
                         {"wide/077777", "wide/the-copy"}}));
    expectUntouched();

    const int longFolder = ::open((tree / "long").c_str(), O_RDONLY | O_DIRECTORY);
    removeAt(longFolder);
    ::close(longFolder);
}

TEST_F(HostileTree, AFolderSwappedForALinkWhileSearchedNeverLeadsOutside)
{
    // Another process swaps "sub" (a real folder) and "swap" (a link to a
    // folder outside) over and over while gemmora-cli searches the tree.
    // Outside, each folder also holds a copy under a name the tree never has.
    for (int i = 0; i < 300; ++i) {
        const std::string folder = "d" + std::to_string(i) + "/";
        const std::string contents = "swapped folder pair " + std::to_string(i);
        tree.write("sub/" + folder + "x.txt", contents);
        outside.write(folder + "x.txt", contents);
        outside.write(folder + "only-outside.txt", contents);
    }
    tree.symlink(outside.path().substr(0, outside.path().size() - 1), "swap");
    outsideBefore = snapshotTree(outside.path());
    const std::string sub = tree / "sub";
    const std::string swap = tree / "swap";
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread racer([&] {
        while (!stop) {
            if (::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) == 0) {
                ++swaps;
            }
        }
    });
    std::vector<std::string> escaped;
    for (int run = 0; run < 20 && escaped.empty(); ++run) {
        const Outcome outcome =
            runCli({"-q", "--any-time", "--format", "paths", "--null", tree.path()});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        for (const std::vector<std::string>& group : parseNullGroups(outcome.out)) {
            for (const std::string& path : group) {
                if (path.find("only-outside") != std::string::npos) {
                    escaped.push_back(path);
                }
            }
        }
    }
    stop = true;
    racer.join();
    ASSERT_GT(swaps.load(), 0) << "this file system cannot exchange names";
    EXPECT_TRUE(escaped.empty()) << escaped.size() << " files from outside, such as "
                                 << escaped.front();
    EXPECT_EQ(describeChanges(outsideBefore, snapshotTree(outside.path())), "");
}

TEST_F(HostileTree, WhatCannotBeReadIsLeftOutAndTheRestFound)
{
    tree.write("open/a.txt", "readable pair");
    tree.write("open/b.txt", "readable pair");
    tree.write("open/c.txt", "locked file");
    tree.write("open/locked.txt", "locked file");
    tree.chmod("open/locked.txt", 0);
    tree.write("closed/x.txt", "readable pair");
    tree.chmod("closed", 0);
    tree.write("blind/y.txt", "readable pair");
    tree.chmod("blind", 0311);  // may be passed through, not listed
    freeze();
    const auto asNobody = [] {
        return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
    };
    EXPECT_EQ(search({"--any-time"}, asNobody), (G{{"open/a.txt", "open/b.txt"}}));
    expectUntouched();
}

TEST_F(HostileTree, AFileThatCannotBeReadIsNamedWithTheSystemsReason)
{
    tree.write("open/a.txt", "readable pair");
    tree.write("open/b.txt", "readable pair");
    tree.write("open/c.txt", "locked file");
    tree.write("open/locked.txt", "locked file");
    tree.chmod("open/locked.txt", 0);
    freeze();
    const auto asNobody = [] {
        return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
    };
    const Outcome outcome =
        runCli({"--any-time", "--format", "paths", tree.path()}, afterSetUp(asNobody));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, tree / "open/a.txt\n" + tree / "open/b.txt\n");
    EXPECT_NE(outcome.err.find("gemmora-cli: cannot read " + tree / "open/locked.txt" +
                               ": Permission denied; left out\n"),
              std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("Left out: 1"), std::string::npos) << outcome.err;
    expectUntouched();
}

TEST_F(HostileTree, RunningOutOfDescriptorsFailsTheSearchAndSaysSo)
{
    if (std::string(cliPath()).find("asan") != std::string::npos) {
        GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own at start-up; the "
                        "build without them runs this";
    }
    // 50 pairs, and a few descriptors too few for the walk, then for the
    // comparison. With what the test program inherited closed, the runner's
    // two output files come after the usual three, so a limit of 6 leaves
    // one free, as `ulimit -n 4` does in a shell. At no limit may the search
    // end with a part of the groups as if it were whole.
    for (int i = 0; i < 50; ++i) {
        const std::string contents = "pair number " + std::to_string(i) + std::string(100 + i, 'p');
        tree.write("a/" + std::to_string(i), contents);
        tree.write("b/" + std::to_string(i), contents);
    }
    freeze();
    int failures = 0;
    int whole = 0;
    for (rlim_t free = 1; free <= 12; ++free) {
        const auto fewDescriptors = [free] {
            for (int fd = 3; fd < 4096; ++fd) {
                ::close(fd);
            }
            const rlimit limit = {5 + free, 5 + free};
            return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
        };
        const Outcome outcome = runCli({"--any-time", "--format", "paths", "--null", tree.path()},
                                       afterSetUp(fewDescriptors));
        SCOPED_TRACE("descriptors free: " + std::to_string(free));
        EXPECT_FALSE(outcome.timedOut);
        EXPECT_EQ(outcome.signal, 0) << outcome.err;
        const auto groups = parseNullGroups(outcome.out);
        // What was written is sound, if anything was found before.
        EXPECT_EQ(checkGroups(groups, {tree.path()}), "");
        if (outcome.status == 0) {
            EXPECT_EQ(groups.size(), 50u) << outcome.err;
            ++whole;
        } else {
            EXPECT_EQ(outcome.status, 4) << outcome.err;
            EXPECT_NE(outcome.err.find("Too many open files"), std::string::npos) << outcome.err;
            ++failures;
        }
    }
    EXPECT_GT(failures, 0);
    EXPECT_GT(whole, 0);
    expectUntouched();
}

}  // namespace
