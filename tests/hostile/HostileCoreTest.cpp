// Tests of the search and the list files under faults that strike mid-run.
// SPDX-License-Identifier: GPL-3.0-or-later
// The search and the list files under faults that strike mid-run: files that
// change between the scan and the comparison, and a disk that fills while
// the list files are written.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "hostile/TreeCheck.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "search/SearchRun.h"
#include "settings/SavedLists.h"
#include "support/TempFolder.h"
#include "support/TestWindow.h"

namespace {

// A window that runs `beforeComparing` once the scan is done and the
// comparison is about to read the first file.
class ChangingWindow : public TestWindow {
public:
    std::function<void()> beforeComparing;
    void setCaption(search::Caption caption, const std::string& text) override
    {
        TestWindow::setCaption(caption, text);
        if (caption == search::Caption::FileListCaption && text == "Comparing files ..." &&
            beforeComparing) {
            beforeComparing();
        }
    }
};

// The file rows of a test window's list, as groups.
Groups groupsOf(const TestResultList& list)
{
    Groups groups;
    for (const settings::ResultRow& row : list.rows) {
        if (row.caption == "Duplicate files .....") {
            groups.emplace_back();
        } else if (!row.subItems.empty() && !groups.empty()) {
            groups.back().push_back(row.caption);
        }
    }
    return groups;
}

class FilesChangeMidRun : public ::testing::Test {
protected:
    TempFolder tree;
    TempFolder outside;

    void SetUp() override
    {
        tree.write("same/u1", std::string(100, 'U'));
        tree.write("same/u2", std::string(100, 'U'));
        tree.write("shrinks/s1", std::string(1000, 'S'));
        tree.write("shrinks/s2", std::string(1000, 'S'));
        tree.write("grows/g1", std::string(2000, 'G'));
        tree.write("grows/g2", std::string(2000, 'G'));
        tree.write("grows/g3", std::string(2000, 'G'));
        tree.write("vanishes/v1", std::string(3000, 'V'));
        tree.write("vanishes/v2", std::string(3000, 'V'));
        tree.write("vanishes/v3", std::string(3000, 'V'));
        tree.write("relinked/l1", std::string(4000, 'L'));
        tree.write("relinked/l2", std::string(4000, 'L'));
        outside.write("l2-elsewhere", std::string(4000, 'L'));
        tree.write("rewritten/r1", std::string(6000, 'R'));
        tree.write("rewritten/r2", std::string(6000, 'R'));
        tree.write("locked/p1", std::string(5000, 'P'));
        tree.write("locked/p2", std::string(5000, 'P'));
        tree.write("locked/p3", std::string(5000, 'P'));
        tree.write("piped/f1", std::string(7000, 'F'));
        tree.write("piped/f2", std::string(7000, 'F'));
    }

    void change()
    {
        ::truncate((tree / "shrinks/s2").c_str(), 500);
        const int grow = ::open((tree / "grows/g3").c_str(), O_WRONLY | O_APPEND);
        ASSERT_EQ(::write(grow, "more", 4), 4);
        ::close(grow);
        tree.remove("vanishes/v2");
        tree.remove("relinked/l2");
        tree.symlink(outside / "l2-elsewhere", "relinked/l2");
        // Same size, other contents, written in place.
        const int rewrite = ::open((tree / "rewritten/r2").c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(rewrite, "r", 1, 2999), 1);
        ::close(rewrite);
        // A change of status after the walk leaves a file out even where it
        // can still be read: the walk's change time is its stamp. Past the
        // clock's tick, so that the change time moves.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        tree.chmod("locked/p3", 0);
        // A FIFO in a file's place must not be waited on.
        tree.remove("piped/f2");
        tree.fifo("piped/f2");
    }

    Groups search(bool& changed)
    {
        ChangingWindow window;
        window.drives = {{'C', "", false}};
        window.fields[search::Field::RootDir] = tree.path();
        window.beforeComparing = [&] {
            change();
            changed = true;
        };
        search::SearchRun run(window);
        run.btnSearchClick();
        return groupsOf(window.list);
    }
};

TEST_F(FilesChangeMidRun, OnlyWhatStillMatchesIsReported)
{
    bool changed = false;
    const Groups groups = search(changed);
    ASSERT_TRUE(changed);
    EXPECT_EQ(checkGroups(groups, {tree.path()}), "");
    const G expected = {{"grows/g1", "grows/g2"},
                        {"locked/p1", "locked/p2"},
                        {"same/u1", "same/u2"},
                        {"vanishes/v1", "vanishes/v3"}};
    EXPECT_EQ(relativeGroups(groups, tree.path()), expected);
    EXPECT_EQ(snapshotTree(outside.path()).at("l2-elsewhere").size, 4000);
}

TEST_F(FilesChangeMidRun, AsAnOrdinaryUserALockedFileIsLeftOut)
{
    // The tree is the user's own, so the user can change it mid-run.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path())) {
        ::lchown(entry.path().c_str(), 65534, 65534);
    }
    ::lchown(tree.path().c_str(), 65534, 65534);
    ::lchown(outside.path().c_str(), 65534, 65534);
    const int result = runWithoutPrivileges([&] {
        bool changed = false;
        const Groups groups = search(changed);
        const G expected = {{"grows/g1", "grows/g2"},
                            {"locked/p1", "locked/p2"},
                            {"same/u1", "same/u2"},
                            {"vanishes/v1", "vanishes/v3"}};
        if (!changed) {
            return 1;
        }
        if (!checkGroups(groups, {tree.path()}).empty()) {
            return 2;
        }
        return relativeGroups(groups, tree.path()) == expected ? 0 : 3;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(FilesChangeMidRun, FilesLeftOutAreReportedWithWhy)
{
    bool changed = false;
    ChangingWindow window;
    window.drives = {{'C', "", false}};
    window.fields[search::Field::RootDir] = tree.path();
    window.beforeComparing = [&] {
        change();
        changed = true;
    };
    search::SearchRun run(window);
    run.btnSearchClick();
    ASSERT_TRUE(changed);
    std::map<std::string, std::string> reported;
    for (const search::LeftOutFile& file : window.leftOut) {
        reported[file.path.substr(tree.path().size())] =
            file.why == search::LeftOutFile::Why::Changed ? "changed" : std::strerror(file.error);
    }
    // The shrunk, grown, relinked and piped files are no longer the files
    // the walk saw; the vanished one cannot be read. (The rewritten one keeps
    // its size and is simply unequal now.)
    EXPECT_EQ(reported["shrinks/s2"], "changed");
    EXPECT_EQ(reported["grows/g3"], "changed");
    EXPECT_EQ(reported["relinked/l2"], "changed");
    EXPECT_EQ(reported["piped/f2"], "changed");
    EXPECT_EQ(reported["vanishes/v2"], std::strerror(ENOENT));
    EXPECT_EQ(run.comparison.LeftOutCount, static_cast<std::int64_t>(window.leftOut.size()));
}

// --- Links in a path met by the comparison ---

TEST(LinksMidRun, AFolderSwappedForALinkIsNotFollowedWhenFilesAreRead)
{
    TempFolder tree;
    TempFolder outside;
    tree.write("d/f.bin", std::string(3000, 'P'));
    tree.write("e/g.bin", std::string(3000, 'Q'));
    outside.write("d/f.bin", std::string(3000, 'Q'));  // what the link would show
    ChangingWindow window;
    window.drives = {{'C', "", false}};
    window.fields[search::Field::RootDir] = tree.path();
    window.beforeComparing = [&] {
        ASSERT_EQ(::rename((tree / "d").c_str(), (tree / "d-moved").c_str()), 0);
        tree.symlink(outside / "d", "d");
    };
    search::SearchRun run(window);
    run.btnSearchClick();
    // tree/d/f.bin is gone from the tree; nothing outside is read in its place.
    EXPECT_TRUE(groupsOf(window.list).empty());
    ASSERT_EQ(window.leftOut.size(), 1u);
    EXPECT_EQ(window.leftOut[0].path, tree / "d/f.bin");
    EXPECT_EQ(window.leftOut[0].why, search::LeftOutFile::Why::Changed);
}

TEST(LinksMidRun, ALinkInTheRootFolderTheUserNamedIsFollowed)
{
    // As /home may be a link to /usr/home: the user named the folder
    // through it, so the files below are read through it too.
    TempFolder tree;
    TempFolder place;
    tree.write("docs/x/one", std::string(5000, 'L'));
    tree.write("docs/y/two", std::string(5000, 'L'));
    place.symlink(tree.path(), "home");
    TestWindow window;
    window.drives = {{'C', "", false}};
    window.fields[search::Field::RootDir] = place / "home/docs/";
    search::SearchRun run(window);
    run.btnSearchClick();
    EXPECT_EQ(relativeGroups(groupsOf(window.list), place / "home/docs/"), (G{{"x/one", "y/two"}}));
    EXPECT_TRUE(window.leftOut.empty());
}

// --- A file rewritten while it is compared ---

TEST(TornReads, AFileRewrittenWhileItIsComparedIsNeverTakenForACopy)
{
    // `a` is X...Y. A writer keeps flipping both ends of `b` so that it goes
    // X...Z, W...Z, W...Y, W...Z, X...Z and round again: never X...Y, never a
    // copy of `a`. Chunks read at different moments can still agree with
    // `a` piece by piece; the change time must give that away.
    TempFolder tree;
    constexpr std::size_t kSize = 8 << 20;
    std::string a(kSize, 'm');
    a.front() = 'X';
    a.back() = 'Y';
    std::string b = a;
    b.back() = 'Z';
    tree.write("a", a);
    const std::string bPath = tree.write("b", b);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const int fd = ::open(bPath.c_str(), O_WRONLY);
        const std::pair<off_t, char> steps[] = {
            {0, 'W'}, {kSize - 1, 'Y'}, {kSize - 1, 'Z'}, {0, 'X'}};
        while (!stop) {
            for (const auto& [offset, byte] : steps) {
                if (::pwrite(fd, &byte, 1, offset) != 1) {
                    break;
                }
                // Each state lasts a moment, shorter than reading the pair.
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
        ::close(fd);
    });
    int wrongCopies = 0;
    int reportedChanged = 0;
    for (int run = 0; run < 300 && wrongCopies == 0; ++run) {
        TestWindow window;
        window.drives = {{'C', "", false}};
        window.fields[search::Field::RootDir] = tree.path();
        search::SearchRun search(window);
        search.btnSearchClick();
        wrongCopies += groupsOf(window.list).empty() ? 0 : 1;
        for (const search::LeftOutFile& file : window.leftOut) {
            reportedChanged += file.path == bPath && file.why == search::LeftOutFile::Why::Changed;
        }
    }
    stop = true;
    writer.join();
    EXPECT_EQ(wrongCopies, 0);
    EXPECT_GT(reportedChanged, 0);
}

// --- A full disk while the list files are written ---

std::vector<settings::ResultRow> rowsOf(const std::string& prefix, int groups)
{
    std::vector<settings::ResultRow> rows;
    for (int g = 0; g < groups; ++g) {
        if (g > 0) {
            rows.push_back({"", {}});
        }
        rows.push_back({"Duplicate files .....", {}});
        for (int f = 0; f < 2; ++f) {
            rows.push_back({prefix + std::to_string(g) + "/" + std::to_string(f) + ".bin",
                            {"1234", "BIN file", "2026/01/02 03:04", "    ", "", ""}});
        }
    }
    return rows;
}

// Saves a first pair of lists, then a much longer pair that cannot fit;
// returns 0 when the second save fails and leaves the first pair intact and
// nothing else behind, else a code saying what went wrong.
int saveTwiceOnAFullDisk(const std::string& folder, const std::function<void()>& fill)
{
    const std::string result = folder + settings::kResultListName;
    const std::string fresh = folder + settings::kNewListName;
    if (!settings::SaveResultLists(rowsOf("/first/", 20), result, fresh)) {
        return 10;
    }
    std::string resultBefore, freshBefore;
    platform::readWholeFile(result, resultBefore);
    platform::readWholeFile(fresh, freshBefore);
    fill();
    if (settings::SaveResultLists(rowsOf("/second/with/a/longer/path/", 20000), result, fresh)) {
        return 11;  // the disk was not full after all
    }
    std::string resultAfter, freshAfter;
    platform::readWholeFile(result, resultAfter);
    platform::readWholeFile(fresh, freshAfter);
    if (resultAfter != resultBefore || freshAfter != freshBefore) {
        return 12;
    }
    const std::vector<std::string> left = namesIn(folder);
    for (const std::string& name : left) {
        if (name.find(".tmp-") != std::string::npos) {
            return 13;
        }
    }
    return 0;
}

int inChild(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(FullDisk, ASmallFileSystemThatFillsKeepsTheEarlierLists)
{
    TempFolder mountPoint;
    const std::string folder = mountPoint.path();
    const int result = inChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("gemmora-full", folder.c_str(), "tmpfs", 0, "size=256k") != 0) {
            return 77;
        }
        return saveTwiceOnAFullDisk(folder, [&] {
            // Fill what is left, a block at a time.
            const int fd = ::open((folder + "filler").c_str(), O_WRONLY | O_CREAT, 0644);
            const std::string block(4096, 'f');
            while (::write(fd, block.data(), block.size()) > 0) {
            }
            ::close(fd);
        });
    });
    if (result == 77) {
        GTEST_SKIP() << "mounting a small tmpfs is refused here; the injected failure below "
                        "still runs";
    }
    EXPECT_EQ(result, 0);
}

TEST(FullDisk, AnInjectedWriteFailureKeepsTheEarlierLists)
{
    TempFolder folder;
    const int result = inChild([&] {
        return saveTwiceOnAFullDisk(folder.path(), [] {
            // Writes beyond 64 KiB now fail with EFBIG instead of a signal.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {64 * 1024, 64 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
