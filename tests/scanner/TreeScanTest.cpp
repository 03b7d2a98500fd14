// Tests of the tree walk: order, masks, links, folders that cannot be read, listings read ahead.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/TreeScan.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "search/FileCatalogue.h"
#include "support/TempFolder.h"

using scanner::TTreeScanner;

namespace {

// Records every event as "kind path" with the folder prefix cut off.
class TreeScanTest : public ::testing::Test {
protected:
    TempFolder dir;
    TTreeScanner scanner;
    std::vector<std::string> events;
    int idleTurns = 0;

    void SetUp() override
    {
        auto record = [this](const char* kind) {
            return [this, kind](TTreeScanner& s) {
                std::string path = s.FileFound();
                if (path.rfind(dir.path(), 0) == 0) {
                    path = path.substr(dir.path().size());
                }
                std::string line = std::string(kind) + " " + path;
                if (std::string(kind) == "file") {
                    line += " " + std::to_string(s.FileSize());
                }
                events.push_back(line);
            };
        };
        scanner.OnDirectoryFound = record("enter");
        scanner.OnFileFound = record("file");
        scanner.OnDirectoryDone = record("leave");
        scanner.OnSearchDone = [this](TTreeScanner& s) {
            EXPECT_FALSE(s.SearchInProgress());
            events.push_back("done");
        };
        scanner.onIdle = [this] { ++idleTurns; };
    }

    void scan(const std::string& masks = "*.*")
    {
        scanner.setFileMaskCommaText(masks);
        scanner.InitialDirectory = dir.path();
        scanner.Search();
    }
};

}  // namespace

TEST_F(TreeScanTest, WalksDepthFirstWithFilesBeforeSubfolders)
{
    dir.write("b.txt", "bb");
    dir.write("A.txt", "a");
    dir.write("a.txt", "aaa");  // beside A.txt: both are files of their own
    dir.write("sub/z.txt", "");
    dir.write("Sub2/deeper/x.txt", "x");
    scan();
    EXPECT_EQ(events,
              (std::vector<std::string>{
                  "enter ", "file A.txt 1", "file a.txt 3", "file b.txt 2", "enter sub/",
                  "file sub/z.txt 0", "leave sub/z.txt", "enter Sub2/", "enter Sub2/deeper/",
                  "file Sub2/deeper/x.txt 1", "leave Sub2/deeper/x.txt", "leave Sub2/deeper/x.txt",
                  "leave Sub2/deeper/x.txt", "done"}));
    EXPECT_EQ(idleTurns, 4);  // one turn per folder
}

TEST_F(TreeScanTest, MasksAreSortedDeduplicatedAndAFileIsReportedOnce)
{
    scanner.setFileMaskCommaText("*.txt,*.TXT");
    EXPECT_EQ(scanner.FileMaskCommaText(), "*.txt");
    scanner.setFileMaskCommaText("\"my file*.txt\",*.doc");
    EXPECT_EQ(scanner.FileMaskCommaText(), "*.doc,\"my file*.txt\"");
    EXPECT_EQ(scanner.FileMask(), "*.doc");

    dir.write("my file one.txt", "");
    dir.write("my file two.doc", "");
    dir.write("other.txt", "");
    scan("*.txt,my*,*.doc");
    EXPECT_EQ(events, (std::vector<std::string>{"enter ", "file my file one.txt 0",
                                                "file my file two.doc 0", "file other.txt 0",
                                                "leave other.txt", "done"}));
}

TEST_F(TreeScanTest, AnEmptyMaskListReportsFoldersOnlyAndAnEmptyMaskMatchesNothing)
{
    dir.write("f.txt", "");
    dir.mkdir("sub");
    scanner.setFileMask("");
    EXPECT_EQ(scanner.FileMaskCommaText(), "\"\"");
    scanner.InitialDirectory = dir.path();
    scanner.Search();
    EXPECT_EQ(events, (std::vector<std::string>{"enter ", "enter sub/", "leave sub/", "leave sub/",
                                                "done"}));

    events.clear();
    scan("");
    EXPECT_EQ(scanner.FileMaskCommaText(), "");
    EXPECT_EQ(events.size(), 5u);
}

TEST_F(TreeScanTest, HiddenFilesAndFoldersFollowTheirFlags)
{
    dir.write(".secret", "s");
    dir.write(".cache/inner.txt", "i");
    dir.write("visible.txt", "v");
    scan();
    EXPECT_EQ(events, (std::vector<std::string>{"enter ", "file visible.txt 1", "leave visible.txt",
                                                "done"}));

    events.clear();
    scanner.FindHiddenFiles = true;
    scanner.FindHiddenFolders = true;
    scan();
    EXPECT_EQ(events, (std::vector<std::string>{"enter ", "file .secret 1", "file visible.txt 1",
                                                "enter .cache/", "file .cache/inner.txt 1",
                                                "leave .cache/inner.txt", "leave .cache/inner.txt",
                                                "done"}));
}

TEST_F(TreeScanTest, LinksFifosAndLoopsAreNeverFollowedOrReported)
{
    dir.write("real/file.txt", "data");
    dir.symlink(dir / "real", "real/loop");
    dir.symlink(dir / "real/file.txt", "alias.txt");
    dir.fifo("pipe.txt");
    scan();
    EXPECT_EQ(events,
              (std::vector<std::string>{"enter ", "enter real/", "file real/file.txt 4",
                                        "leave real/file.txt", "leave real/file.txt", "done"}));
}

TEST_F(TreeScanTest, WithoutRecursionOnlyTheStartFolderIsReported)
{
    dir.write("top.txt", "");
    dir.write("sub/inner.txt", "");
    scanner.Recursive = false;
    scan();
    EXPECT_EQ(events,
              (std::vector<std::string>{"enter ", "file top.txt 0", "leave top.txt", "done"}));
}

TEST_F(TreeScanTest, StopFromAFileHandlerFinishesTheFolderAndUnwinds)
{
    dir.write("a/1.txt", "");
    dir.write("a/2.txt", "");
    dir.write("a/b/deep.txt", "");
    dir.write("c/3.txt", "");
    auto record = scanner.OnFileFound;
    scanner.OnFileFound = [&](TTreeScanner& s) {
        record(s);
        s.KeepScanning = false;
    };
    scan();
    EXPECT_EQ(events,
              (std::vector<std::string>{"enter ", "enter a/", "file a/1.txt 0", "file a/2.txt 0",
                                        "leave a/2.txt", "leave a/2.txt", "done"}));
    // Skipped folders still give the event loop its turn.
    EXPECT_EQ(idleTurns, 4);
}

TEST_F(TreeScanTest, AStopBeforeTheSearchHasNoEffect)
{
    dir.write("x.txt", "");
    scanner.KeepScanning = false;
    scan();
    EXPECT_EQ(events.size(), 4u);
    EXPECT_TRUE(scanner.KeepScanning);
}

TEST_F(TreeScanTest, AMissingStartFolderStillGivesOnePairOfEventsAndSaysWhy)
{
    scanner.OnFolderError = [this](TTreeScanner& s) {
        events.push_back("error " + s.FileFound().substr(dir.path().size()) + " " +
                         std::to_string(s.FolderError()));
    };
    scanner.InitialDirectory = dir / "missing";
    scanner.setFileMask("*.*");
    scanner.Search();
    EXPECT_EQ(scanner.InitialDirectory, dir / "missing/");
    EXPECT_EQ(events, (std::vector<std::string>{"enter missing/",
                                                "error missing/ " + std::to_string(ENOENT),
                                                "leave missing/", "done"}));

    events.clear();
    dir.write("plain.txt", "");
    scanner.InitialDirectory = dir / "plain.txt";
    scanner.Search();
    EXPECT_EQ(events[1], "error plain.txt/ " + std::to_string(ENOTDIR));
}

TEST_F(TreeScanTest, AStartFolderNamedThroughALinkIsFollowedButLinksBelowAreNot)
{
    dir.write("real/file.txt", "data");
    dir.write("real/inner/deep.txt", "deeper");
    dir.write("elsewhere/never.txt", "n");
    dir.symlink(dir / "real", "named");
    dir.symlink(dir / "elsewhere", "real/inner/away");
    scanner.setFileMaskCommaText("*.*");
    scanner.InitialDirectory = dir / "named";
    scanner.Search();
    EXPECT_EQ(events, (std::vector<std::string>{"enter named/", "file named/file.txt 4",
                                                "enter named/inner/", "file named/inner/deep.txt 6",
                                                "leave named/inner/deep.txt",
                                                "leave named/inner/deep.txt", "done"}));
}

TEST_F(TreeScanTest, TheFolderEventSeesTheFolderAsListed)
{
    dir.write("a.txt", "1");
    dir.write(".hidden", "2");
    dir.write("sub/b.txt", "3");
    dir.fifo("pipe");
    dir.symlink(dir / "a.txt", "alias");
    std::vector<std::vector<std::string>> seen;
    scanner.OnDirectoryFound = [&](TTreeScanner& s) {
        std::vector<std::string> names;
        for (const platform::FileEntry& entry : s.FolderEntries()) {
            names.push_back(entry.name);
        }
        std::sort(names.begin(), names.end());
        seen.push_back(names);
    };
    scan("*.txt");
    EXPECT_EQ(seen,
              (std::vector<std::vector<std::string>>{{".hidden", "a.txt", "sub"}, {"b.txt"}}));
}

TEST_F(TreeScanTest, AnEmptyStartFolderMeansTheCurrentFolder)
{
    dir.write("here.txt", "");
    const std::string saved = platform::currentFolder();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    scanner.setFileMask("*.*");
    scanner.InitialDirectory = "";
    scanner.Search();
    ASSERT_EQ(::chdir(saved.c_str()), 0);
    char resolved[4096];
    ASSERT_NE(::realpath(dir.path().c_str(), resolved), nullptr);
    EXPECT_EQ(scanner.InitialDirectory, std::string(resolved) + "/");
    EXPECT_EQ(events.size(), 4u);
}

TEST_F(TreeScanTest, AnUnreadableFolderStillGetsItsPairOfEvents)
{
    dir.write("open/a.txt", "");
    dir.write("closed/b.txt", "");
    dir.chmod("closed", 0);
    scanner.OnFolderError = [this](TTreeScanner& s) {
        events.push_back("error " + std::to_string(s.FolderError()));
    };
    const int result = runWithoutPrivileges([&] {
        scan();
        const std::vector<std::string> expected = {
            "enter ",           "enter closed/",    "error " + std::to_string(EACCES),
            "leave closed/",    "enter open/",      "file open/a.txt 0",
            "leave open/a.txt", "leave open/a.txt", "done",
        };
        return events == expected ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(TreeScanTest, MaskWritesDuringAWalkAreIgnored)
{
    dir.write("a.txt", "");
    scanner.OnFileFound = [](TTreeScanner& s) {
        s.setFileMask("*.zzz");
        s.setFileMaskCommaText("*.yyy");
    };
    scan("*.txt");
    EXPECT_EQ(scanner.FileMaskCommaText(), "*.txt");
}

TEST_F(TreeScanTest, AHandlerExceptionLeavesTheScannerIdle)
{
    dir.write("a.txt", "");
    scanner.OnFileFound = [](TTreeScanner&) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(scan(), std::runtime_error);
    EXPECT_FALSE(scanner.SearchInProgress());
    scanner.setFileMask("*.new");  // writes work again
    EXPECT_EQ(scanner.FileMask(), "*.new");
}

TEST_F(TreeScanTest, OddNamesArrivePathIntactAndDeepTreesAreWalked)
{
    const std::string odd[] = {"with blank.txt", "comma,name.txt", "quote\"d.txt", " lead.txt",
                               "bad\xFF\xFEutf8.txt"};
    for (const std::string& name : odd) {
        dir.write(name, "x");
    }
    std::string deep;
    for (int i = 0; i < 60; ++i) {
        deep += "level" + std::to_string(i) + "/";
    }
    dir.write(deep + "bottom.txt", "b");
    std::vector<std::string> files;
    scanner.OnFileFound = [&](TTreeScanner& s) { files.push_back(s.FileFound()); };
    scan();
    ASSERT_EQ(files.size(), 6u);
    for (const std::string& name : odd) {
        EXPECT_NE(std::find(files.begin(), files.end(), dir / name), files.end()) << name;
    }
    EXPECT_EQ(files.back(), dir / (deep + "bottom.txt"));
}

TEST_F(TreeScanTest, AFolderSwappedForALinkNeverLeadsOutOfTheTree)
{
    // Another process swaps "sub" (a real folder) and "swap" (a link to a
    // folder outside the tree) over and over while the tree is walked.
    TempFolder outside;
    for (int i = 0; i < 100; ++i) {
        dir.write("sub/d" + std::to_string(i) + "/inside.txt", "in");
        outside.write("d" + std::to_string(i) + "/outside.txt", "out");
    }
    dir.symlink(outside.path().substr(0, outside.path().size() - 1), "swap");
    const std::string sub = dir / "sub";
    const std::string swap = dir / "swap";
    ASSERT_EQ(::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE), 0)
        << "this file system cannot exchange names";
    std::atomic<bool> stop{false};
    std::thread racer([&] {
        while (!stop) {
            ::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
        }
    });
    int inside = 0;
    std::vector<std::string> escaped;
    scanner.OnFileFound = [&](TTreeScanner& s) {
        if (platform::nameOf(s.FileFound()) == "inside.txt") {
            ++inside;
        } else {
            escaped.push_back(s.FileFound());
        }
    };
    scanner.OnDirectoryFound = nullptr;
    scanner.OnDirectoryDone = nullptr;
    // The racer gets its chances between the listing of a folder and the
    // walk of each of its subfolders, even on a busy machine.
    scanner.onIdle = [] { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
    for (int run = 0; run < 40 && escaped.empty(); ++run) {
        scan();
    }
    stop = true;
    racer.join();
    EXPECT_TRUE(escaped.empty()) << escaped.size() << " files from outside, such as "
                                 << escaped.front();
    EXPECT_GT(inside, 0);  // the race left the walk something to find
}

TEST_F(TreeScanTest, AFolderSwappedForALinkAfterItWasEnteredIsStillWalkedWhereItIs)
{
    // While the files of "sub" are reported, "sub" moves away and a link to
    // a folder outside takes its name. Its subfolder is still reached, where
    // the real folder now is; nothing of the outside folder is listed.
    TempFolder outside;
    outside.write("deeper/outside.txt", "out");
    dir.write("sub/first.txt", "1");
    dir.write("sub/deeper/inside.txt", "in");
    std::vector<std::string> files;
    scanner.OnFileFound = [&](TTreeScanner& s) {
        files.push_back(s.FileFound().substr(dir.path().size()));
        if (files.size() == 1) {
            ASSERT_EQ(::rename((dir / "sub").c_str(), (dir / "moved").c_str()), 0);
            dir.symlink(outside.path().substr(0, outside.path().size() - 1), "sub");
        }
    };
    scan();
    EXPECT_EQ(files, (std::vector<std::string>{"sub/first.txt", "sub/deeper/inside.txt"}));
}

TEST_F(TreeScanTest, DeepTreesHoldFewDescriptorsAndEveryFolderIsReached)
{
    // 300 folders deep, with a side folder at every level, so that the walk
    // comes back up through folders whose descriptors it let go.
    std::string path;
    for (int i = 0; i < 300; ++i) {
        path += "d/";
        dir.write(path + "side/s.txt", "s");
    }
    dir.write(path + "bottom.txt", "b");
    const int before = openDescriptorCount();
    int most = 0;
    int sides = 0;
    int bottoms = 0;
    scanner.OnFileFound = [&](TTreeScanner& s) {
        most = std::max(most, openDescriptorCount() - before);
        const std::string_view name = platform::nameOf(s.FileFound());
        sides += name == "s.txt";
        bottoms += name == "bottom.txt";
    };
    scan();
    EXPECT_EQ(sides, 300);
    EXPECT_EQ(bottoms, 1);
    EXPECT_LT(most, 50);
    EXPECT_EQ(openDescriptorCount(), before);
}

namespace {

// Every event of a walk, with what the handlers can see, and the catalogue
// it gives.
std::vector<std::string> walkRecorded(const std::string& root, std::size_t threads,
                                      int stopAtFile = -1, std::size_t slowToGrow = 4)
{
    TTreeScanner scanner;
    search::FileCatalogue catalogue;
    catalogue.bind(scanner);
    catalogue.startScan();
    scanner.ListingThreads = threads;
    scanner.SlowListingsToGrow = slowToGrow;
    scanner.FindHiddenFiles = true;
    std::vector<std::string> log;
    auto relative = [&](const std::string& path) { return path.substr(root.size()); };
    const auto enter = scanner.OnDirectoryFound;
    scanner.OnDirectoryFound = [&](TTreeScanner& s) {
        enter(s);
        std::vector<std::string> entries;
        for (const platform::FileEntry& entry : s.FolderEntries()) {
            entries.push_back(entry.name + ":" + std::to_string(entry.size) + ":" +
                              std::to_string(entry.attributes));
        }
        std::sort(entries.begin(), entries.end());  // a recreated folder may list in another order
        log.push_back("enter " + relative(s.FileFound()));
        log.insert(log.end(), entries.begin(), entries.end());
        if (s.FileFound() == root + "vanish/") {
            // Listed, not yet reported: its files leave now.
            for (const platform::FileEntry& entry : s.FolderEntries()) {
                ::unlink((s.FileFound() + entry.name).c_str());
            }
        }
    };
    const auto file = scanner.OnFileFound;
    int files = 0;
    scanner.OnFileFound = [&](TTreeScanner& s) {
        file(s);
        log.push_back("file " + relative(s.FileFound()) + " " + std::to_string(s.FileSize()));
        if (++files == stopAtFile) {
            s.KeepScanning = false;
        }
    };
    const auto leave = scanner.OnDirectoryDone;
    scanner.OnDirectoryDone = [&](TTreeScanner& s) {
        leave(s);
        log.push_back("leave");
    };
    scanner.OnFolderError = [&](TTreeScanner& s) {
        log.push_back("error " + relative(s.FileFound()) + " " + std::to_string(s.FolderError()));
    };
    scanner.onIdle = [&] { log.push_back("idle"); };
    scanner.setFileMaskCommaText("*.*");
    scanner.InitialDirectory = root;
    scanner.Search();
    for (std::size_t i = 0; i < catalogue.Catalogue.size(); ++i) {
        const auto& entry = catalogue.Catalogue[i];
        log.push_back("catalogue " + catalogue.Catalogue.keyText(entry) + " @" +
                      relative(catalogue.pathOf(entry)));
    }
    return log;
}

}  // namespace

TEST(TreeScanReadAheadTest, ListingsReadAheadGiveTheOneThreadWalkEventForEvent)
{
    TempFolder dir;
    for (int i = 0; i < 150; ++i) {  // more folders than are read ahead at once
        const std::string folder = "wide/f" + std::to_string(i % 7) + "/" + std::to_string(i);
        dir.write(folder + "/same.txt", "same");
        dir.write(folder + "/own" + std::to_string(i) + ".txt", std::string(i + 1, 'x'));
    }
    std::string deep;
    for (int i = 0; i < 40; ++i) {  // below the held levels, and back up
        deep += "d/";
        dir.write(deep + "side" + std::to_string(i) + "/s.txt", "s");
    }
    dir.write(deep + "bottom.txt", "same");
    dir.symlink(dir / "wide", "wide/f3/loop");
    dir.symlink(dir / "wide/f0/0/same.txt", "alias.txt");
    dir.hardlink("wide/f1/1/same.txt", "hard.txt");
    dir.fifo("wide/pipe");
    dir.write("closed/inner/never.txt", "n");
    dir.write("closed2/x.txt", "n");
    dir.chmod("closed", 0);
    dir.chmod("closed2", 0311);  // entered, not listed
    dir.write(".hidden/h.txt", "same");
    dir.mkdir("vanish");
    dir.chmod("vanish", 0777);
    auto vanishing = [&] {
        for (int i = 0; i < 5; ++i) {
            dir.write("vanish/v" + std::to_string(i) + ".txt", "same");
        }
    };
    const int result = runWithoutPrivileges([&] {
        int failures = 0;
        for (const int stopAt : {-1, 90}) {
            vanishing();
            const std::vector<std::string> one = walkRecorded(dir.path(), 1, stopAt);
            // Listings from the cache keep one reader; growth 0 starts
            // another after every listing, so readers join mid-walk.
            for (const auto& [threads, growth] :
                 {std::pair<std::size_t, std::size_t>{2, 0}, {scanner::kListingThreads, 4},
                  {8, 4}, {8, 0}}) {
                vanishing();
                failures += walkRecorded(dir.path(), threads, stopAt, growth) != one;
            }
            failures += one.size() < (stopAt < 0 ? 700u : 100u);  // the tree was walked
        }
        return failures;
    });
    dir.chmod("closed", 0755);
    dir.chmod("closed2", 0755);
    EXPECT_EQ(result, 0);
}
