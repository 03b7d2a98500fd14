// Tests of running a cleanup on real files: each action, changed files, failures and stops.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Runner.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "cleanup/CleanupFixture.h"
#include "cleanup/Journal.h"
#include "cleanup/Undo.h"
#include "platform/FolderListing.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"

using namespace cleanup;

namespace {

using RunnerTest = CleanupFixture;

std::string inode(const std::string& path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0
               ? std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)
               : "none";
}

// The names of a folder that a step would leave behind by accident.
std::vector<std::string> spareNames(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& [path, facts] : snapshotTree(folder)) {
        if (platform::nameOf(path).rfind(".gemmora-", 0) == 0) {
            names.push_back(path);
        }
    }
    return names;
}

// In a child of inMountNamespace: a tmpfs at `top` holding lower/, upper/,
// work/ and merged/ (lower/ on a tmpfs of its own when `lowerApart`), filled
// by `fill`, then the overlay of the three mounted on merged/ with `options`
// added.
bool mountOverlay(const std::string& top, bool lowerApart, const std::string& options,
                  const std::function<void()>& fill)
{
    if (!mountTmpfs(top, "4m")) {
        return false;
    }
    for (const char* folder : {"/lower", "/upper", "/work", "/merged"}) {
        ::mkdir((top + folder).c_str(), 0755);
    }
    if (lowerApart && !mountTmpfs(top + "/lower", "1m")) {
        return false;
    }
    fill();
    const std::string all =
        "lowerdir=" + top + "/lower,upperdir=" + top + "/upper,workdir=" + top + "/work" + options;
    return ::mount("overlay", (top + "/merged").c_str(), "overlay", 0, all.c_str()) == 0;
}

}  // namespace

TEST_F(RunnerTest, TrashMovesEveryMarkedCopyIntoTheTrashAndKeepsOne)
{
    tree.write("pair/a.txt", "pair contents");
    tree.write("pair/b.txt", "pair contents");
    for (const char* name : {"many/1.bin", "many/2.bin", "many/sub/3.bin", "many/4.bin"}) {
        tree.write(name, std::string(70000, 'm'));
    }
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan =
        keepFirst({group({"pair/a.txt", "pair/b.txt"}),
                   group({"many/1.bin", "many/2.bin", "many/sub/3.bin", "many/4.bin"})});
    const Report report = act(plan, ActionKind::Trash);

    EXPECT_EQ(
        outcomes(plan, report),
        (std::vector<std::string>{"kept:pair/a.txt", "done:pair/b.txt", "kept:many/1.bin",
                                  "done:many/2.bin", "done:many/sub/3.bin", "done:many/4.bin"}));
    EXPECT_FALSE(tree.exists("pair/b.txt"));
    EXPECT_EQ(data.read("Trash/files/b.txt"), "pair contents");
    EXPECT_EQ(data.read("Trash/files/3.bin"), std::string(70000, 'm'));
    EXPECT_TRUE(data.exists("Trash/info/4.bin.trashinfo"));
    EXPECT_EQ(report.bytesReclaimed(), 13 + 3 * 70000);
    EXPECT_EQ(report.results[0][1].target, data / "Trash/files/b.txt");
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, DeleteRemovesTheMarkedCopiesOnly)
{
    tree.write("a.txt", "same");
    tree.write("b.txt", "same");
    tree.write("c.txt", "same");
    tree.write("other.txt", "different");
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan = keepFirst({group({"b.txt", "a.txt", "c.txt"})});
    const Report report = act(plan, ActionKind::Delete);
    EXPECT_EQ(report.count(Outcome::Done), 2);
    EXPECT_TRUE(tree.exists("b.txt"));
    EXPECT_FALSE(tree.exists("a.txt"));
    EXPECT_FALSE(tree.exists("c.txt"));
    EXPECT_EQ(tree.read("other.txt"), "different");
    EXPECT_FALSE(data.exists("Trash"));
    EXPECT_TRUE(spareNames(tree.path()).empty());
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, HardLinkReplacesEachCopyByALinkToTheKeptFile)
{
    tree.write("keep/x.dat", "linked data");
    tree.write("copy/x.dat", "linked data");
    tree.write("copy/deeper/y.dat", "linked data");
    tree.chmod("copy/x.dat", 0600);
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan = keepFirst({group({"keep/x.dat", "copy/x.dat", "copy/deeper/y.dat"})});
    linkAnyOwner = true;  // copy/x.dat takes the kept file's permissions
    const Report report = act(plan, ActionKind::HardLink);
    EXPECT_EQ(report.count(Outcome::Done), 2);
    EXPECT_EQ(inode(tree / "copy/x.dat"), inode(tree / "keep/x.dat"));
    EXPECT_EQ(inode(tree / "copy/deeper/y.dat"), inode(tree / "keep/x.dat"));
    EXPECT_EQ(tree.read("copy/deeper/y.dat"), "linked data");
    EXPECT_TRUE(spareNames(tree.path()).empty());
    expectNothingLost(before, plan);

    // Linked already: done, with nothing more to do.
    const Report again =
        act(keepFirst({group({"keep/x.dat", "copy/x.dat"})}), ActionKind::HardLink);
    EXPECT_EQ(again.results[0][1].outcome, Outcome::Done);
    EXPECT_NE(again.results[0][1].reason.find("hard link of the kept file already"),
              std::string::npos);
    EXPECT_EQ(again.bytesReclaimed(), 0);
}

TEST_F(RunnerTest, MoveKeepsThePathBelowTheSearchedFolderAndNeverOverwrites)
{
    tree.write("a/photo.jpg", "picture");
    tree.write("b/c/photo.jpg", "picture");
    tree.write("b/d/photo.jpg", "picture");
    outside.write("moved/b/d/photo.jpg", "someone else's file");
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan = keepFirst({group({"a/photo.jpg", "b/c/photo.jpg", "b/d/photo.jpg"})});
    const Report report = act(plan, ActionKind::Move);
    EXPECT_EQ(outcomes(plan, report),
              (std::vector<std::string>{"kept:a/photo.jpg", "done:b/c/photo.jpg",
                                        "untouched:b/d/photo.jpg"}));
    EXPECT_EQ(outside.read("moved/b/c/photo.jpg"), "picture");
    EXPECT_EQ(report.results[0][1].target, outside / "moved/b/c/photo.jpg");
    EXPECT_EQ(outside.read("moved/b/d/photo.jpg"), "someone else's file");
    EXPECT_EQ(tree.read("b/d/photo.jpg"), "picture");
    EXPECT_NE(reasonFor(plan, report, "b/d/photo.jpg").find("in its place already"),
              std::string::npos);
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, AMoveToAnotherFileSystemCopiesChecksAndOnlyThenRemoves)
{
    const int result = inMountNamespace(
        [&] { return mountTmpfs(outside.path(), "150k"); },
        [&] {
            tree.write("a/kept.bin", std::string(100000, 'm'));
            tree.write("b/copy.bin", std::string(100000, 'm'));
            tree.write("c/copy.bin", std::string(100000, 'm'));
            tree.write("d/big.bin", std::string(250000, 'n'));
            tree.write("e/big.bin", std::string(250000, 'n'));
            tree.chmod("b/copy.bin", 0640);
            tree.touch("b/copy.bin", 1500000000);
            struct stat was = {};
            ::lstat((tree / "b/copy.bin").c_str(), &was);
            const Snapshot before = snapshotTree(tree.path());
            const Plan plan = keepFirst({group({"a/kept.bin", "b/copy.bin", "c/copy.bin"}),
                                         group({"d/big.bin", "e/big.bin"})});
            const Report report = act(plan, ActionKind::Move);
            // The second copy and the big file find no room left: left as they were.
            if (outcomes(plan, report) !=
                std::vector<std::string>{"kept:a/kept.bin", "done:b/copy.bin",
                                         "untouched:c/copy.bin", "kept:d/big.bin",
                                         "untouched:e/big.bin"}) {
                return 1;
            }
            struct stat moved = {};
            if (::lstat((outside / "moved/b/copy.bin").c_str(), &moved) != 0 ||
                (moved.st_mode & 0777) != 0640 || moved.st_mtim.tv_sec != 1500000000 ||
                outside.read("moved/b/copy.bin") != std::string(100000, 'm') ||
                tree.exists("b/copy.bin")) {
                return 2;
            }
            if (tree.read("e/big.bin") != std::string(250000, 'n') ||
                !spareNames(outside.path()).empty() || outside.exists("moved/e/big.bin")) {
                return 3;
            }
            if (!whatWasLost(before, plan).empty()) {
                return 4;
            }
            // Undo copies it back, with its time, and removes the moved copy.
            cleanup::UndoReport undone;
            std::string error;
            if (!cleanup::undoJournal(journalPath(), undone, error) ||
                undone.count(cleanup::UndoItem::PutBack) != 1) {
                return 5;
            }
            struct stat back = {};
            ::lstat((tree / "b/copy.bin").c_str(), &back);
            if (back.st_mtim.tv_sec != was.st_mtim.tv_sec || back.st_size != was.st_size ||
                outside.exists("moved/b/copy.bin")) {
                return 6;
            }
            cleanup::undoJournal(journalPath(), undone, error);
            return undone.count(cleanup::UndoItem::AlreadyBack) == 1 ? 0 : 7;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, ARunKilledWhileAFileIsAwayFromItsNameIsUndone)
{
    // Killed once the file has left its name, before the kept file is
    // checked: undo finds it beside its name and puts it back.
    const int result = inMountNamespace(
        [&] { return mountTmpfs(outside.path(), "1m"); },
        [&] {
            for (const ActionKind kind : {ActionKind::Delete, ActionKind::Move}) {
                tree.write("kept", "away for a moment");
                tree.write("marked", "away for a moment");
                const Plan plan = keepFirst({group({"kept", "marked"})});
                const pid_t child = ::fork();
                if (child == 0) {
                    act(plan, kind, [](Runner& runner) {
                        runner.whileAway = [](const PlanFile&) { ::_exit(0); };
                    });
                    ::_exit(1);
                }
                int status = 0;
                ::waitpid(child, &status, 0);
                if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || tree.exists("marked")) {
                    return 1;
                }
                cleanup::UndoReport undone;
                std::string error;
                if (!cleanup::undoJournal(journalPath(), undone, error) ||
                    undone.count(cleanup::UndoItem::PutBack) != 1 ||
                    tree.read("marked") != "away for a moment" ||
                    !spareNames(tree.path()).empty()) {
                    return 2;
                }
                ::unlink(journalPath().c_str());
            }
            return 0;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, AMoveToAnotherFileSystemKeepsAttributesAndFolderModesAndSoDoesUndo)
{
    const int result = inMountNamespace(
        [&] { return mountTmpfs(outside.path(), "1m"); },
        [&] {
            tree.write("kept.txt", "private words");
            const std::string copy = tree.write("private/inner/copy.txt", "private words");
            tree.chmod("private", 0710);
            tree.chmod("private/inner", 0700);
            if (::setxattr(copy.c_str(), "user.origin", "scanner", 7, 0) != 0) {
                return 77;
            }
            const Plan plan = keepFirst({group({"kept.txt", "private/inner/copy.txt"})});
            if (act(plan, ActionKind::Move).count(Outcome::Done) != 1) {
                return 1;
            }
            char value[16] = {};
            const std::string moved = outside / "moved/private/inner/copy.txt";
            if (::getxattr(moved.c_str(), "user.origin", value, sizeof value) != 7 ||
                std::string(value) != "scanner") {
                return 2;
            }
            if ((statOf(outside / "moved/private").st_mode & 07777) != 0710 ||
                (statOf(outside / "moved/private/inner").st_mode & 07777) != 0700) {
                return 3;
            }
            // Undo makes the folders that are gone again like the moved ones.
            tree.remove("private");
            cleanup::UndoReport undone;
            std::string error;
            if (!cleanup::undoJournal(journalPath(), undone, error) ||
                undone.count(cleanup::UndoItem::PutBack) != 1) {
                return 4;
            }
            std::fill(std::begin(value), std::end(value), '\0');
            if ((statOf(tree / "private").st_mode & 07777) != 0710 ||
                (statOf(tree / "private/inner").st_mode & 07777) != 0700 ||
                ::getxattr(copy.c_str(), "user.origin", value, sizeof value) != 7) {
                return 5;
            }
            return 0;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs or setting a user attribute is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, AMoveWhereAttributesCannotBeKeptLeavesTheFileAndSaysWhy)
{
    // ramfs keeps no extended attributes.
    const int result = inMountNamespace(
        [&] { return ::mount("gemmora-test", outside.path().c_str(), "ramfs", 0, nullptr) == 0; },
        [&] {
            tree.write("kept.txt", "labelled");
            const std::string copy = tree.write("copy.txt", "labelled");
            if (::setxattr(copy.c_str(), "user.origin", "scanner", 7, 0) != 0) {
                return 77;
            }
            const Snapshot before = snapshotTree(tree.path());
            const Plan plan = keepFirst({group({"kept.txt", "copy.txt"})});
            const Report report = act(plan, ActionKind::Move);
            if (outcomes(plan, report) !=
                std::vector<std::string>{"kept:kept.txt", "untouched:copy.txt"}) {
                return 1;
            }
            if (reasonFor(plan, report, "copy.txt").find("user.origin") == std::string::npos ||
                outside.exists("moved/copy.txt") || !spareNames(outside / "moved").empty()) {
                return 2;
            }
            return whatWasLost(before, plan).empty() && tree.read("copy.txt") == "labelled" ? 0 : 3;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting a ramfs or setting a user attribute is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, StopWhileAMoveCopiesToAnotherFileSystemLeavesNoHalfCopy)
{
    const int result =
        inMountNamespace([&] { return mountTmpfs(outside.path(), "16m"); },
                         [&] {
                             const std::string big(3 * 1024 * 1024, 'c');
                             tree.write("kept.bin", big);
                             tree.write("marked.bin", big);
                             const Plan plan = keepFirst({group({"kept.bin", "marked.bin"})});
                             bool stop = false;
                             const Report report = act(plan, ActionKind::Move, [&](Runner& runner) {
                                 runner.afterCheck = [&](const PlanFile&) { stop = true; };
                                 runner.stopRequested = [&] { return stop; };
                             });
                             if (report.results[0][1].outcome != Outcome::NotReached) {
                                 return 1;
                             }
                             return tree.read("marked.bin") == big &&
                                            spareNames(outside.path()).empty() &&
                                            !outside.exists("moved/marked.bin")
                                        ? 0
                                        : 2;
                         });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, ReflinkWhereTheFileSystemCannotLeavesTheFileAndSaysWhy)
{
    // tmpfs shares no data between files.
    const int result = inMountNamespace(
        [&] { return mountTmpfs(tree.path(), "4m"); },
        [&] {
            tree.write("a.bin", std::string(10000, 'r'));
            tree.write("b.bin", std::string(10000, 'r'));
            const Snapshot before = snapshotTree(tree.path());
            const Plan plan = keepFirst({group({"a.bin", "b.bin"})});
            const Report report = act(plan, ActionKind::Reflink);
            if (report.results[0][1].outcome != Outcome::Untouched) {
                return 1;
            }
            if (report.results[0][1].reason.find("cannot share data") == std::string::npos) {
                return 2;
            }
            return whatWasLost(before, plan).empty() && snapshotTree(tree.path()) == before ? 0 : 3;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, ReflinkSharesTheDataWhereTheFileSystemCan)
{
    if (::access("/usr/sbin/mkfs.xfs", X_OK) != 0 && ::access("/sbin/mkfs.xfs", X_OK) != 0) {
        GTEST_SKIP() << "mkfs.xfs (xfsprogs) is not installed";
    }
    const std::string image = work / "xfs.img";
    const std::string make =
        "truncate -s 320M '" + image + "' && mkfs.xfs -q -m reflink=1 '" + image + "' 2>/dev/null";
    if (std::system(make.c_str()) != 0) {
        GTEST_SKIP() << "an XFS image cannot be made here";
    }
    const int result = inMountNamespace(
        [&] {
            const std::string mount = "mount -o loop '" + image + "' '" + tree.path() + "'";
            return std::system(mount.c_str()) == 0;
        },
        [&] {
            std::string contents;
            for (int i = 0; i < 300000; ++i) {
                contents += static_cast<char>('a' + i % 23);
            }
            tree.write("keep.bin", contents);
            tree.write("copy.bin", contents);
            tree.chmod("copy.bin", 0640);
            ::sync();
            const Snapshot before = snapshotTree(tree.path());
            const Plan plan = keepFirst({group({"keep.bin", "copy.bin"})});
            const Report report = act(plan, ActionKind::Reflink);
            if (report.results[0][1].outcome != Outcome::Done) {
                std::fprintf(stderr, "%s\n", report.results[0][1].reason.c_str());
                return 1;
            }
            // The copy keeps its own inode and permissions; its extents are shared now.
            struct stat st = {};
            ::lstat((tree / "copy.bin").c_str(), &st);
            if ((st.st_mode & 0777) != 0640 ||
                inode(tree / "copy.bin") == inode(tree / "keep.bin")) {
                return 2;
            }
            alignas(fiemap) char buffer[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
            auto* map = reinterpret_cast<fiemap*>(buffer);
            map->fm_length = ~0ULL;
            map->fm_flags = FIEMAP_FLAG_SYNC;
            map->fm_extent_count = 1;
            const int fd = ::open((tree / "copy.bin").c_str(), O_RDONLY);
            const bool shared = ::ioctl(fd, FS_IOC_FIEMAP, map) == 0 &&
                                map->fm_mapped_extents > 0 &&
                                (map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED) != 0;
            ::close(fd);
            if (!shared) {
                return 3;
            }
            return tree.read("copy.bin") == contents && whatWasLost(before, plan).empty() ? 0 : 4;
        });
    if (result == 77) {
        GTEST_SKIP() << "loop mounts are refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, AMarkedFileThatChangedSincePlanningIsLeftAsItIs)
{
    const std::string same(5000, 's');
    const char* cases[] = {"changed", "grown", "truncated", "link", "removed", "fifo"};
    std::vector<InputGroup> groups;
    for (const char* name : cases) {
        tree.write(std::string(name) + "/kept", same);
        tree.write(std::string(name) + "/marked", same);
        groups.push_back(group({std::string(name) + "/kept", std::string(name) + "/marked"}));
    }
    tree.write("fine/kept", same);
    tree.write("fine/marked", same);
    groups.push_back(group({"fine/kept", "fine/marked"}));
    const Plan plan = keepFirst(groups);

    tree.write("changed/marked", std::string(4999, 's') + "t");
    tree.write("grown/marked", same + "more");
    tree.write("truncated/marked", same.substr(0, 100));
    tree.remove("link/marked");
    tree.symlink(tree / "link/kept", "link/marked");
    tree.remove("removed/marked");
    tree.remove("fifo/marked");
    tree.fifo("fifo/marked");
    const Snapshot before = snapshotTree(tree.path());

    for (const ActionKind kind :
         {ActionKind::Trash, ActionKind::Delete, ActionKind::HardLink, ActionKind::Move}) {
        const Report report = act(plan, kind);
        EXPECT_EQ(report.count(Outcome::Untouched), 6) << actionName(kind);
        EXPECT_NE(reasonFor(plan, report, "changed/marked").find("differ"), std::string::npos);
        EXPECT_NE(reasonFor(plan, report, "grown/marked").find("size changed"), std::string::npos);
        EXPECT_NE(reasonFor(plan, report, "truncated/marked").find("size changed"),
                  std::string::npos);
        EXPECT_NE(reasonFor(plan, report, "link/marked").find("link"), std::string::npos);
        EXPECT_NE(reasonFor(plan, report, "removed/marked").find("gone"), std::string::npos);
        EXPECT_NE(reasonFor(plan, report, "fifo/marked").find("no longer a plain file"),
                  std::string::npos);
        // Only the untouched files stay as they were; the one good pair was acted on.
        Snapshot after = snapshotTree(tree.path());
        Snapshot expected = before;
        expected.erase("fine/marked");
        after.erase("fine/marked");
        expected.erase("fine");
        after.erase("fine");
        EXPECT_EQ(describeChanges(expected, after), "") << actionName(kind);
        expectNothingLost(before, plan);
        tree.remove("fine/marked");  // it may be a hard link of the kept file now
        tree.write("fine/marked", same);
    }
}

TEST_F(RunnerTest, AKeptFileThatChangedOrWentProtectsItsGroup)
{
    const std::string same(3000, 'k');
    for (const char* name : {"changed", "removed", "link", "grown"}) {
        tree.write(std::string(name) + "/kept", same);
        tree.write(std::string(name) + "/marked", same);
    }
    const Plan plan = keepFirst(
        {group({"changed/kept", "changed/marked"}), group({"removed/kept", "removed/marked"}),
         group({"link/kept", "link/marked"}), group({"grown/kept", "grown/marked"})});
    tree.write("changed/kept", std::string(2999, 'k') + "!");
    tree.remove("removed/kept");
    tree.remove("link/kept");
    tree.symlink(tree / "link/marked", "link/kept");
    tree.write("grown/kept", same + "!");
    const Snapshot before = snapshotTree(tree.path());
    const Report report = act(plan, ActionKind::Delete);
    EXPECT_EQ(report.count(Outcome::Untouched), 4);
    EXPECT_NE(reasonFor(plan, report, "changed/marked").find("differ"), std::string::npos);
    EXPECT_NE(reasonFor(plan, report, "removed/marked").find("the kept file"), std::string::npos);
    EXPECT_NE(reasonFor(plan, report, "link/marked").find("link"), std::string::npos);
    EXPECT_NE(reasonFor(plan, report, "grown/marked").find("size"), std::string::npos);
    EXPECT_EQ(describeChanges(before, snapshotTree(tree.path())), "");
}

class RaceTest : public CleanupFixture, public ::testing::WithParamInterface<ActionKind> {};

TEST_P(RaceTest, AFileReplacedInTheInstantBeforeTheActionIsNotDestroyed)
{
    tree.write("kept.txt", "old contents");
    tree.write("marked.txt", "old contents");
    const Plan plan = keepFirst({group({"kept.txt", "marked.txt"})});
    const Snapshot before = snapshotTree(tree.path());
    const Report report = act(plan, GetParam(), [&](Runner& runner) {
        runner.afterCheck = [&](const PlanFile&) {
            // Someone saves a new version: written beside, renamed over.
            ::rename((tree / "marked.txt").c_str(), (tree / "marked.old").c_str());
            tree.write("marked.txt", "new contents");
        };
    });
    EXPECT_EQ(report.results[0][1].outcome, Outcome::Untouched);
    EXPECT_NE(report.results[0][1].reason.find("replaced"), std::string::npos)
        << report.results[0][1].reason;
    EXPECT_EQ(tree.read("marked.txt"), "new contents");
    EXPECT_EQ(tree.read("marked.old"), "old contents");
    EXPECT_FALSE(data.exists("Trash/files/marked.txt"));
    EXPECT_FALSE(outside.exists("moved/marked.txt"));
    EXPECT_TRUE(spareNames(tree.path()).empty());
    expectNothingLost(before, plan);
}

TEST_P(RaceTest, AFileOrItsKeptFileChangedInPlaceBeforeTheActionIsLeftAlone)
{
    tree.write("kept.txt", "same 1");
    tree.write("marked.txt", "same 1");
    tree.write("kept2.txt", "same 2");
    tree.write("marked2.txt", "same 2");
    const Plan plan =
        keepFirst({group({"kept.txt", "marked.txt"}), group({"kept2.txt", "marked2.txt"})});
    int call = 0;
    const Report report = act(plan, GetParam(), [&](Runner& runner) {
        runner.afterCheck = [&](const PlanFile&) {
            // Same size, other contents, a later time: an edit in place.
            const std::string name = ++call == 1 ? "marked.txt" : "kept2.txt";
            const int fd = ::open((tree / name).c_str(), O_WRONLY);
            EXPECT_EQ(::pwrite(fd, "X", 1, 0), 1);
            const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
            ::futimens(fd, later);
            ::close(fd);
        };
    });
    EXPECT_EQ(report.count(Outcome::Untouched), 2);
    EXPECT_NE(report.results[0][1].reason.find("changed"), std::string::npos);
    EXPECT_NE(report.results[1][1].reason.find("kept file"), std::string::npos);
    EXPECT_EQ(tree.read("marked.txt"), "Xame 1");
    EXPECT_EQ(tree.read("marked2.txt"), "same 2");
    EXPECT_EQ(tree.read("kept2.txt"), "Xame 2");
}

TEST_P(RaceTest, AKeptFileTakenAwayOrReplacedAtTheLastInstantKeepsTheMarkedOne)
{
    const std::string same = "the contents both had";
    for (const char* name : {"removed", "replaced", "gone while away"}) {
        tree.write(std::string(name) + "/kept", same);
        tree.write(std::string(name) + "/marked", same);
    }
    const Plan plan = keepFirst({group({"removed/kept", "removed/marked"}),
                                 group({"replaced/kept", "replaced/marked"}),
                                 group({"gone while away/kept", "gone while away/marked"})});
    int call = 0;
    const Report report = act(plan, GetParam(), [&](Runner& runner) {
        runner.afterCheck = [&](const PlanFile&) {
            ++call;
            if (call == 1) {
                tree.remove("removed/kept");
            } else if (call == 2) {
                // A new version saved over it: written beside, renamed over.
                tree.write("replaced/new", "a new version");
                ::rename((tree / "replaced/new").c_str(), (tree / "replaced/kept").c_str());
            }
        };
        // After the marked file left its name, before the kept one is checked.
        runner.whileAway = [&](const PlanFile& file) {
            if (file.file.path == tree / "gone while away/marked") {
                tree.remove("gone while away/kept");
            }
        };
    });
    EXPECT_EQ(report.count(Outcome::Untouched), 3);
    for (const char* name : {"removed", "replaced", "gone while away"}) {
        const std::string marked = std::string(name) + "/marked";
        EXPECT_EQ(tree.read(marked), same) << name << ": " << reasonFor(plan, report, marked);
    }
    EXPECT_NE(reasonFor(plan, report, "gone while away/marked").find("the kept file"),
              std::string::npos);
    EXPECT_TRUE(spareNames(tree.path()).empty());
    EXPECT_FALSE(data.exists("Trash/files/marked"));
    EXPECT_FALSE(outside.exists("moved/gone while away/marked"));
}

TEST_P(RaceTest, TwoRunsThatCrossEachOtherNeverRemoveBothCopies)
{
    // One run keeps a and acts on b, the other keeps b and acts on a, both
    // at once, each acting only once both have compared (or after a while).
    Action action;
    action.kind = GetParam();
    if (action.kind == ActionKind::Move) {
        action.folder = outside.mkdir("moved") + "/";
    }
    constexpr int kPairs = 4;
    for (int round = 0; round < 10; ++round) {
        std::vector<InputGroup> forA;
        std::vector<InputGroup> forB;
        std::vector<std::string> contents;
        for (int pair = 0; pair < kPairs; ++pair) {
            const std::string name = std::to_string(pair);
            contents.emplace_back(64 * 1024, static_cast<char>('A' + round * kPairs + pair));
            tree.write("a/" + name, contents.back());
            tree.write("b/" + name, contents.back());
            forA.push_back(group({"a/" + name, "b/" + name}));
            forB.push_back(group({"b/" + name, "a/" + name}));
        }
        const Plan keepA = keepFirst(forA);
        const Plan keepB = keepFirst(forB);
        const Snapshot before = snapshotTree(tree.path());
        std::atomic<int> compared{0};
        const auto bothCompared = [&compared](const PlanFile&) {
            const int mine = ++compared;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (compared < (mine + 1) / 2 * 2 && std::chrono::steady_clock::now() < until) {
                std::this_thread::yield();
            }
        };
        Report one;
        std::thread other([&] {
            Runner runner(keepA, action, nullptr);
            runner.afterCheck = bothCompared;
            one = runner.run();
        });
        Runner runner(keepB, action, nullptr);
        runner.afterCheck = bothCompared;
        const Report two = runner.run();
        other.join();
        // Every content is still in the tree, and a run that says it acted
        // left its kept file as it was (with hard links, each may have
        // linked the other's path: both names keep the contents).
        EXPECT_EQ(whatWasLost(before, Plan()), "") << "round " << round;
        for (int pair = 0; pair < kPairs; ++pair) {
            const std::string name = std::to_string(pair);
            const bool linked = action.kind == ActionKind::HardLink;
            if (linked || one.results[pair][1].outcome == Outcome::Done) {
                EXPECT_EQ(tree.read("a/" + name), contents[pair]) << "round " << round;
            }
            if (linked || two.results[pair][1].outcome == Outcome::Done) {
                EXPECT_EQ(tree.read("b/" + name), contents[pair]) << "round " << round;
            }
        }
        EXPECT_TRUE(spareNames(tree.path()).empty());
        tree.remove("a");
        tree.remove("b");
        outside.remove("moved/a");
        outside.remove("moved/b");
    }
}

TEST_F(RunnerTest, AnOverlayPathWhoseUpperFileIsKeptIsPutBack)
{
    // merged/x and upper/x are one file under two devices: once merged/x
    // has left its name, upper/x is gone too, and the check finds it.
    const std::string top = tree.mkdir("m");
    const int result = inMountNamespace(
        [&] {
            return mountOverlay(top, false, "",
                                [&] { tree.write("m/upper/x", "one file seen twice"); });
        },
        [&] {
            const Plan plan = keepFirst({group({"m/upper/x", "m/merged/x"})});
            for (const ActionKind kind :
                 {ActionKind::Delete, ActionKind::Trash, ActionKind::Move}) {
                const Report report = act(plan, kind);
                if (report.results[0][1].outcome != Outcome::Untouched) {
                    return 1;
                }
                if (tree.read("m/upper/x") != "one file seen twice" ||
                    tree.read("m/merged/x") != "one file seen twice") {
                    return 2;
                }
            }
            return 0;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting an overlay is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, ALowerFileThatAnOverlayShowsAsTheKeptFileIsNeverTouched)
{
    // Copied up for its metadata only, merged/x keeps its data in lower/x;
    // the rename of a folder leaves merged/new/y on lower/old/y; a file
    // renamed through the overlay, in its folder (z2) or into another (w2),
    // is an upper file of metadata only whose data stays in the lower file
    // under its old name. Taking away the lower file does not change what
    // the kept path answers. The layers on one file system, then apart.
    for (const bool lowerApart : {false, true}) {
        SCOPED_TRACE(lowerApart ? "a lower folder of its own" : "one file system");
        const std::string m = lowerApart ? "apart/" : "one/";
        const std::string top = tree.mkdir(m.substr(0, m.size() - 1));
        const std::vector<std::pair<std::string, std::string>> lowerFiles = {
            {"x", "data only in the lower file"},
            {"old/y", "under the old name"},
            {"z", "renamed in its folder"},
            {"old/w", "moved into another folder"}};
        const int result = inMountNamespace(
            [&] {
                const auto fill = [&] {
                    for (const auto& [path, contents] : lowerFiles) {
                        tree.write(m + "lower/" + path, contents);
                    }
                };
                const std::string merged = top + "/merged/";
                return mountOverlay(top, lowerApart, ",metacopy=on,redirect_dir=on", fill) &&
                       ::chmod((merged + "x").c_str(), 0600) == 0 &&
                       ::rename((merged + "z").c_str(), (merged + "z2").c_str()) == 0 &&
                       ::rename((merged + "old/w").c_str(), (merged + "w2").c_str()) == 0 &&
                       ::rename((merged + "old").c_str(), (merged + "new").c_str()) == 0;
            },
            [&] {
                const Plan plan = keepFirst({group({m + "merged/x", m + "lower/x"}),
                                             group({m + "merged/new/y", m + "lower/old/y"}),
                                             group({m + "merged/z2", m + "lower/z"}),
                                             group({m + "merged/w2", m + "lower/old/w"})});
                for (const ActionKind kind :
                     {ActionKind::Delete, ActionKind::Trash, ActionKind::Move}) {
                    const Report report = act(plan, kind);
                    for (const std::vector<FileResult>& results : report.results) {
                        if (results[1].outcome != Outcome::Untouched) {
                            return 1;
                        }
                    }
                    for (const auto& [path, contents] : lowerFiles) {
                        if (tree.read(m + "lower/" + path) != contents) {
                            return 2;
                        }
                    }
                }
                return 0;
            });
        if (result == 77) {
            GTEST_SKIP() << "mounting an overlay with metadata-only copy-up is refused here";
        }
        EXPECT_EQ(result, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryAction, RaceTest,
                         ::testing::Values(ActionKind::Trash, ActionKind::Delete,
                                           ActionKind::HardLink, ActionKind::Move),
                         [](const ::testing::TestParamInfo<ActionKind>& info) {
                             return actionName(info.param);
                         });

TEST_F(RunnerTest, AMarkedPathThatIsTheKeptFileItselfIsNeverTouched)
{
    tree.write("a/file.txt", "only copy");
    tree.mkdir("b");
    const int result = inMountNamespace(
        [&] {
            return ::mount((tree / "a").c_str(), (tree / "b").c_str(), nullptr, MS_BIND, nullptr) ==
                   0;
        },
        [&] {
            const Plan plan = keepFirst({group({"a/file.txt", "b/file.txt"})});
            for (const ActionKind kind :
                 {ActionKind::Delete, ActionKind::Trash, ActionKind::HardLink, ActionKind::Move}) {
                const Report report = act(plan, kind);
                if (report.results[0][1].outcome != Outcome::Untouched ||
                    report.results[0][1].reason.find("itself") == std::string::npos) {
                    return 1;
                }
            }
            return tree.read("a/file.txt") == "only copy" ? 0 : 2;
        });
    if (result == 77) {
        GTEST_SKIP() << "bind mounts are refused here";
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(tree.read("a/file.txt"), "only copy");
}

TEST_F(RunnerTest, AHardLinkOfTheKeptFileMayGoForItsContentsStay)
{
    tree.write("kept.txt", "one inode");
    tree.hardlink("kept.txt", "other name.txt");
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan = keepFirst({group({"kept.txt", "other name.txt"})});
    const Report report = act(plan, ActionKind::Delete);
    EXPECT_EQ(report.results[0][1].outcome, Outcome::Done);
    EXPECT_FALSE(tree.exists("other name.txt"));
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, AHardLinkThatWouldChangeOwnerOrPermissionsIsLeftUnlessAllowed)
{
    const std::string same = "private and shared";
    tree.write("kept", same);
    tree.write("private", same);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file another owner needs root";
    }
    ASSERT_EQ(::chown((tree / "private").c_str(), 4321, 4321), 0);
    tree.chmod("private", 0600);
    const Plan plan = keepFirst({group({"kept", "private"})});
    const Report refused = act(plan, ActionKind::HardLink);
    EXPECT_EQ(refused.results[0][1].outcome, Outcome::Untouched);
    EXPECT_NE(reasonFor(plan, refused, "private").find("owner, group and permissions differ"),
              std::string::npos)
        << reasonFor(plan, refused, "private");
    EXPECT_NE(inode(tree / "private"), inode(tree / "kept"));

    Action allowed;
    allowed.kind = ActionKind::HardLink;
    allowed.linkAnyOwner = true;
    const Report linked = Runner(plan, allowed, nullptr).run();
    EXPECT_EQ(linked.results[0][1].outcome, Outcome::Done);
    EXPECT_EQ(inode(tree / "private"), inode(tree / "kept"));
}

TEST_F(RunnerTest, BytesReclaimedCountOnlyWhatNoOtherHardLinkKeeps)
{
    for (const ActionKind kind : {ActionKind::Delete, ActionKind::Trash}) {
        // Linked outside the plan: frees nothing. Two marked names of one
        // file: freed once.
        tree.write("kept", "linked elsewhere");
        tree.write("marked", "linked elsewhere");
        ::link((tree / "marked").c_str(), (outside / "link").c_str());
        tree.write("kept2", "two names, 21 bytes..");
        tree.write("one name", "two names, 21 bytes..");
        tree.hardlink("one name", "other name");
        const Plan plan =
            keepFirst({group({"kept", "marked"}), group({"kept2", "one name", "other name"})});
        const Report report = act(plan, kind);
        EXPECT_EQ(report.count(Outcome::Done), 3) << actionName(kind);
        EXPECT_EQ(report.bytesReclaimed(), 21) << actionName(kind);
        EXPECT_NE(reasonFor(plan, report, "marked").find("hard link"), std::string::npos)
            << actionName(kind);
        ::unlink((outside / "link").c_str());
    }
}

TEST_F(RunnerTest, AFailureOnOneFileLeavesItAndTheRunGoesOn)
{
    for (const char* name : {"first", "locked", "last"}) {
        tree.write(std::string(name) + "/kept", name);
        tree.write(std::string(name) + "/marked", name);
    }
    // An immutable file cannot be renamed, linked over or removed, even by root.
    const int fd = ::open((tree / "locked/marked").c_str(), O_RDONLY);
    int flags = 0;
    const bool locked = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                        (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (!locked) {
        ::close(fd);
        GTEST_SKIP() << "files cannot be made immutable here";
    }
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan =
        keepFirst({group({"first/kept", "first/marked"}), group({"locked/kept", "locked/marked"}),
                   group({"last/kept", "last/marked"})});
    std::vector<Report> reports;
    for (const ActionKind kind :
         {ActionKind::Trash, ActionKind::Delete, ActionKind::HardLink, ActionKind::Move}) {
        reports.push_back(act(plan, kind));
        for (const char* name : {"first", "last"}) {
            tree.remove(std::string(name) + "/marked");
            tree.write(std::string(name) + "/marked", name);
        }
        outside.remove("moved");
    }
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    for (const Report& report : reports) {
        EXPECT_EQ(outcomes(plan, report),
                  (std::vector<std::string>{"kept:first/kept", "done:first/marked",
                                            "kept:locked/kept", "untouched:locked/marked",
                                            "kept:last/kept", "done:last/marked"}));
        EXPECT_NE(report.results[1][1].reason.find("not permitted"), std::string::npos)
            << report.results[1][1].reason;
    }
    EXPECT_EQ(tree.read("locked/marked"), "locked");
    EXPECT_TRUE(spareNames(tree.path()).empty());
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, NoPermissionOnAFolderLeavesItsFilesAndTheRunGoesOn)
{
    tree.write("open/kept", "o");
    tree.write("open/marked", "o");
    tree.write("closed/kept", "c");
    tree.write("closed/marked", "c");
    for (const std::string folder : {"", "open", "closed"}) {
        ::chmod((tree / folder).c_str(), 0777);
    }
    ::chmod(data.path().c_str(), 0777);
    ::chmod(work.path().c_str(), 0777);
    tree.chmod("closed", 0555);
    // Hard links to another user's file need write access to it.
    tree.chmod("open/kept", 0666);
    tree.chmod("closed/kept", 0666);
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan =
        keepFirst({group({"closed/kept", "closed/marked"}), group({"open/kept", "open/marked"})});
    const int result = runWithoutPrivileges([&] {
        int failures = 0;
        for (const ActionKind kind :
             {ActionKind::Trash, ActionKind::Delete, ActionKind::HardLink}) {
            cleanup::Journal journal;
            std::string error;
            journal.open(work / ("nobody-" + actionName(kind)), error);
            Action action;
            action.kind = kind;
            action.linkAnyOwner = true;  // open/marked is this user's, open/kept root's
            const Report report = Runner(plan, action, &journal).run();
            failures += report.results[0][1].outcome == Outcome::Untouched ? 0 : 1;
            failures += report.results[0][1].reason.find("ermission") != std::string::npos ? 0 : 1;
            failures += report.results[1][1].outcome == Outcome::Done ? 0 : 1;
            ::unlink((tree / "open/marked").c_str());
            const int fd = ::open((tree / "open/marked").c_str(), O_WRONLY | O_CREAT, 0644);
            failures += ::write(fd, "o", 1) == 1 ? 0 : 1;
            ::close(fd);
        }
        return failures;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(tree.read("closed/marked"), "c");
    EXPECT_TRUE(spareNames(tree.path()).empty());
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, AReadOnlyMountLeavesItsFilesAndTheRunGoesOn)
{
    tree.write("ro/kept", "read only");
    tree.write("ro/marked", "read only");
    tree.write("rw/kept", "writable");
    tree.write("rw/marked", "writable");
    const Snapshot before = snapshotTree(tree.path());
    const int result = inMountNamespace(
        [&] {
            const std::string folder = tree / "ro";
            return ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                   ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                           nullptr) == 0;
        },
        [&] {
            const Plan plan =
                keepFirst({group({"ro/kept", "ro/marked"}), group({"rw/kept", "rw/marked"})});
            int failures = 0;
            for (const ActionKind kind :
                 {ActionKind::Trash, ActionKind::Delete, ActionKind::HardLink, ActionKind::Move}) {
                const Report report = act(plan, kind);
                failures += report.results[0][1].outcome == Outcome::Untouched ? 0 : 1;
                failures += report.results[1][1].outcome == Outcome::Done ? 0 : 1;
                tree.remove("rw/marked");
                tree.write("rw/marked", "writable");
            }
            return failures + (whatWasLost(before, plan).empty() ? 0 : 100);
        });
    if (result == 77) {
        GTEST_SKIP() << "read-only bind mounts are refused here";
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(tree.read("ro/marked"), "read only");
}

TEST_F(RunnerTest, AFullDiskLeavesTheFilesAndNoHalfTrashEntry)
{
    const int result =
        inMountNamespace([&] { return mountTmpfs(tree.path(), "256k"); },
                         [&] {
                             tree.write("kept", "full disk");
                             tree.write("marked", "full disk");
                             const Snapshot before = snapshotTree(tree.path());
                             // Fill what is left, a block at a time.
                             const int fd =
                                 ::open((tree / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
                             const std::string block(4096, 'f');
                             while (::write(fd, block.data(), block.size()) > 0) {
                             }
                             ::close(fd);
                             const Plan plan = keepFirst({group({"kept", "marked"})});
                             // The tmpfs is not the home trash's file system:
                             // its own trash must be made on it, and cannot be.
                             const Report report = act(plan, ActionKind::Trash);
                             if (report.results[0][1].outcome != Outcome::Untouched) {
                                 return 1;
                             }
                             if (tree.read("marked") != "full disk") {
                                 return 2;
                             }
                             std::vector<platform::FileEntry> entries;
                             platform::readFolder(tree / ".Trash-0/info/", entries);
                             return entries.empty() ? 0 : 3;
                         });
    if (result == 77) {
        GTEST_SKIP() << "mounting a small tmpfs is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, AHardLinkAcrossFileSystemsIsRefusedAndNeverCopied)
{
    tree.write("marked.txt", "two disks");
    TempFolder other;
    other.write("kept.txt", "two disks");
    const int result = inMountNamespace(
        [&] { return mountTmpfs(other.path(), "1m"); },
        [&] {
            other.write("kept.txt", "two disks");
            cleanup::InputGroup both = group({"marked.txt"});
            FileFacts kept;
            kept.path = other / "kept.txt";
            kept.root = other.path();
            std::string error;
            cleanup::readFacts(kept, error);
            both.insert(both.begin(), kept);
            const Plan plan = keepFirst({both});
            const std::string before = inode(tree / "marked.txt");
            const Report report = act(plan, ActionKind::HardLink);
            if (report.results[0][1].outcome != Outcome::Untouched ||
                report.results[0][1].reason.find("another file system") == std::string::npos) {
                return 1;
            }
            struct stat st = {};
            ::lstat((tree / "marked.txt").c_str(), &st);
            return S_ISREG(st.st_mode) && inode(tree / "marked.txt") == before &&
                           spareNames(tree.path()).empty()
                       ? 0
                       : 2;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(RunnerTest, AFolderSwappedForALinkToAFolderOutsideIsNeverFollowed)
{
    tree.write("photos/kept.jpg", "holiday");
    tree.write("photos/old/copy.jpg", "holiday");
    const Plan plan = keepFirst({group({"photos/kept.jpg", "photos/old/copy.jpg"})});
    // Between the search and the action someone swaps the folder for a link
    // to a folder of their choice outside, with the same names in it.
    outside.write("victim/copy.jpg", "holiday");
    outside.write("victim/kept.jpg", "holiday");
    ::rename((tree / "photos/old").c_str(), (tree / "photos/old.real").c_str());
    tree.symlink(outside / "victim", "photos/old");
    const Snapshot outsideBefore = snapshotTree(outside.path());
    const Snapshot before = snapshotTree(tree.path());
    for (const ActionKind kind :
         {ActionKind::Trash, ActionKind::Delete, ActionKind::HardLink, ActionKind::Reflink}) {
        const Report report = act(plan, kind);
        EXPECT_EQ(report.results[0][1].outcome, Outcome::Untouched) << actionName(kind);
        EXPECT_NE(report.results[0][1].reason.find("link"), std::string::npos);
    }
    EXPECT_EQ(describeChanges(outsideBefore, snapshotTree(outside.path())), "");
    EXPECT_EQ(describeChanges(before, snapshotTree(tree.path())), "");
}

TEST_F(RunnerTest, StopEndsTheRunAfterTheFileAtHand)
{
    for (int g = 0; g < 4; ++g) {
        tree.write("g" + std::to_string(g) + "/kept", "group " + std::to_string(g));
        tree.write("g" + std::to_string(g) + "/marked", "group " + std::to_string(g));
    }
    const Plan plan = keepFirst({group({"g0/kept", "g0/marked"}), group({"g1/kept", "g1/marked"}),
                                 group({"g2/kept", "g2/marked"}), group({"g3/kept", "g3/marked"})});
    const Snapshot before = snapshotTree(tree.path());
    bool stop = false;
    const Report report = act(plan, ActionKind::Trash, [&](Runner& runner) {
        runner.stopRequested = [&] { return stop; };
        // Stop is pressed while the second file is being handled.
        runner.afterCheck = [&](const PlanFile& file) {
            stop = stop || file.file.path == tree / "g1/marked";
        };
    });
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(outcomes(plan, report),
              (std::vector<std::string>{"kept:g0/kept", "done:g0/marked", "kept:g1/kept",
                                        "done:g1/marked", "kept:g2/kept", "stopped:g2/marked",
                                        "kept:g3/kept", "stopped:g3/marked"}));
    EXPECT_TRUE(tree.exists("g2/marked"));
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, StopWhileABigFileIsComparedLeavesItUntouchedAtOnce)
{
    const std::string big(4 * 1024 * 1024, 'B');
    tree.write("kept.bin", big);
    tree.write("marked.bin", big);
    const Plan plan = keepFirst({group({"kept.bin", "marked.bin"})});
    std::int64_t checkedAtStop = 0;
    const Report report = act(plan, ActionKind::Delete, [&](Runner& runner) {
        runner.onProgress = [&](const Progress& progress) {
            if (checkedAtStop == 0 && progress.bytesChecked > 0) {
                checkedAtStop = progress.bytesChecked;
            }
        };
        runner.stopRequested = [&] { return checkedAtStop > 0; };
    });
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.results[0][1].outcome, Outcome::NotReached);
    EXPECT_LE(checkedAtStop, 128 * 1024);
    EXPECT_EQ(tree.read("marked.bin").size(), big.size());
}

TEST_F(RunnerTest, TheRunNeverReadsMoreThanAChunkBetweenTwoProgressCalls)
{
    const std::string big(3 * 1024 * 1024 + 17, 'P');
    tree.write("kept.bin", big);
    tree.write("marked.bin", big);
    const Plan plan = keepFirst({group({"kept.bin", "marked.bin"})});
    std::int64_t last = 0;
    std::int64_t largestStep = 0;
    int calls = 0;
    const Report report = act(plan, ActionKind::Trash, [&](Runner& runner) {
        runner.onProgress = [&](const Progress& progress) {
            ++calls;
            if (progress.bytesChecked > last) {
                largestStep = std::max(largestStep, progress.bytesChecked - last);
            }
            last = progress.bytesChecked;
        };
    });
    EXPECT_EQ(report.results[0][1].outcome, Outcome::Done);
    EXPECT_LE(largestStep, 128 * 1024);
    EXPECT_GE(calls, static_cast<int>(big.size() / (128 * 1024)));
}

TEST_F(RunnerTest, TheJournalRecordsEachFileAsTheRunGoes)
{
    tree.write("a/kept", "aaa");
    tree.write("a/marked", "aaa");
    tree.write("b/kept", "bbb");
    tree.write("b/marked", "bbb");
    tree.write("c/kept", "ccc");
    tree.write("c/marked", "ccc");
    const Plan plan = keepFirst({group({"a/kept", "a/marked"}), group({"b/kept", "b/marked"}),
                                 group({"c/kept", "c/marked"})});
    tree.write("c/marked", "ccd");
    std::string seenDuringTheRun;
    act(plan, ActionKind::Delete, [&](Runner& runner) {
        runner.afterCheck = [&](const PlanFile& file) {
            if (file.file.path == tree / "b/marked") {
                platform::readWholeFile(journalPath(), seenDuringTheRun);
            }
        };
    });
    EXPECT_NE(seenDuringTheRun.find("done\t"), std::string::npos);
    EXPECT_NE(seenDuringTheRun.find(tree / "a/marked"), std::string::npos);
    EXPECT_EQ(seenDuringTheRun.find(tree / "b/marked"), std::string::npos);

    std::vector<std::vector<std::string>> lines;
    std::string error;
    ASSERT_TRUE(readJournal(journalPath(), lines, error)) << error;
    std::vector<std::string> steps;
    for (const auto& line : lines) {
        steps.push_back(line[0] +
                        (line.size() > 3 && line[0] != "run" && line[0] != "end"
                             ? " " + line[line[0] == "untouched" ? 2 : 3].substr(tree.path().size())
                             : ""));
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"gemmora-cleanup-journal", "run", "intent a/marked",
                                               "done a/marked", "intent b/marked", "done b/marked",
                                               "untouched c/marked", "end"}));
}

TEST_F(RunnerTest, AJournalThatCannotBeWrittenChangesNothing)
{
    tree.write("kept", "x");
    tree.write("marked", "x");
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan = keepFirst({group({"kept", "marked"})});
    cleanup::Journal journal;
    std::string error;
    ASSERT_TRUE(journal.open("/dev/full", error)) << error;
    Action action;
    action.kind = ActionKind::Delete;
    const Report report = Runner(plan, action, &journal).run();
    EXPECT_TRUE(report.refused);
    EXPECT_NE(report.refusal.find("journal"), std::string::npos);
    EXPECT_EQ(describeChanges(before, snapshotTree(tree.path())), "");
}

TEST_F(RunnerTest, AJournalThatFillsUpPartWayEndsTheRunThere)
{
    for (int g = 0; g < 5; ++g) {
        tree.write("g" + std::to_string(g) + "/kept", "group " + std::to_string(g));
        tree.write("g" + std::to_string(g) + "/marked", "group " + std::to_string(g));
    }
    const Snapshot before = snapshotTree(tree.path());
    const Plan plan = keepFirst({group({"g0/kept", "g0/marked"}), group({"g1/kept", "g1/marked"}),
                                 group({"g2/kept", "g2/marked"}), group({"g3/kept", "g3/marked"}),
                                 group({"g4/kept", "g4/marked"})});
    const pid_t child = ::fork();
    if (child == 0) {
        cleanup::Journal journal;
        std::string error;
        journal.open(journalPath(), error);
        // Writes past this size now fail with EFBIG: room for about two files.
        std::signal(SIGXFSZ, SIG_IGN);
        struct stat st = {};
        ::stat(journalPath().c_str(), &st);
        const rlim_t room = static_cast<rlim_t>(st.st_size) + 700;
        rlimit limit = {room, room};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Action action;
        action.kind = ActionKind::Trash;
        const Report report = Runner(plan, action, &journal).run();
        const bool ended = !report.journalError.empty() && report.count(Outcome::Done) >= 1 &&
                           report.count(Outcome::NotReached) >= 1;
        ::_exit(ended ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expectNothingLost(before, plan);
}

TEST_F(RunnerTest, APlanThatLeavesAGroupWithoutACopyIsRefusedWhole)
{
    tree.write("a", "all marked");
    tree.write("b", "all marked");
    tree.write("c", "fine");
    tree.write("d", "fine");
    const Snapshot before = snapshotTree(tree.path());
    Plan plan = keepFirst({group({"c", "d"}), group({"a", "b"})});
    plan.groups[1].files[0].role = Role::Mark;
    for (const ActionKind kind : {ActionKind::Trash, ActionKind::Delete}) {
        const Report report = act(plan, kind);
        EXPECT_TRUE(report.refused);
        EXPECT_NE(report.refusal.find("marks every copy"), std::string::npos);
    }
    EXPECT_EQ(describeChanges(before, snapshotTree(tree.path())), "");
}
