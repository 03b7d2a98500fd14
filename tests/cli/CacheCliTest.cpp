// Tests of gemmora-cli's cache: searches at once, a full disk, and its options.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <thread>

#include "support/CliRunner.h"
#include "support/TempFolder.h"

namespace {

class CacheCliTest : public ::testing::Test {
protected:
    TempFolder dir;

    void SetUp() override
    {
        // Copies, near copies and files of their own, many of one size.
        for (int i = 0; i < 1500; ++i) {
            const std::string bytes = std::to_string(i % 500) + std::string(3000, 'x');
            dir.write("tree/" + std::to_string(i / 100) + "/f" + std::to_string(i), bytes);
        }
        // Kept only once their change time is two seconds behind.
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    }

    std::vector<std::string> args(std::vector<std::string> more = {}) const
    {
        std::vector<std::string> all = {"--any-time", "--format", "paths", "-q", dir / "tree"};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }

    CliRun withCacheIn(const std::string& folder, bool fullDisk = false) const
    {
        return afterSetUp([folder, fullDisk] {
            if (fullDisk && (::unshare(CLONE_NEWNS) != 0 ||
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                             ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=48k") != 0)) {
                return false;
            }
            return ::setenv("XDG_CACHE_HOME", folder.c_str(), 1) == 0;
        });
    }
};

TEST_F(CacheCliTest, SearchesAtOnceShareTheCacheAndAgreeWithoutIt)
{
    const CliOutcome without = runCli(args({"--no-cache"}), withCacheIn(dir / "xdg"));
    ASSERT_EQ(without.status, 0) << without.err;
    ASSERT_NE(without.out, "");
    for (int round = 0; round < 2; ++round) {
        CliOutcome second;
        CliRun first = withCacheIn(dir / "xdg");
        first.whileRunning = [&](pid_t) { second = runCli(args(), withCacheIn(dir / "xdg")); };
        const CliOutcome one = runCli(args(), first);
        EXPECT_EQ(one.status, 0);
        EXPECT_EQ(second.status, 0);
        EXPECT_EQ(one.out, without.out);
        EXPECT_EQ(second.out, without.out);
        EXPECT_EQ(one.err.find("made anew"), std::string::npos) << one.err;
        EXPECT_EQ(second.err.find("made anew"), std::string::npos) << second.err;
    }
    // Cleared: the next search starts from nothing and still agrees.
    const CliOutcome cleared = runCli({"--clear-cache"}, withCacheIn(dir / "xdg"));
    EXPECT_EQ(cleared.status, 0);
    EXPECT_FALSE(dir.exists("xdg/gemmora/contents.db"));
    EXPECT_EQ(runCli(args(), withCacheIn(dir / "xdg")).out, without.out);
    EXPECT_TRUE(dir.exists("xdg/gemmora/contents.db"));
}

TEST_F(CacheCliTest, FullDiskLeavesTheSearchCompleteAndSaysTheCacheWasNotSaved)
{
    dir.mkdir("small");
    const CliOutcome without = runCli(args({"--no-cache"}), withCacheIn(dir / "xdg"));
    const CliOutcome full = runCli(args(), withCacheIn(dir / "small", true));
    if (full.status == 77) {
        GTEST_SKIP() << "a small tmpfs in a private mount namespace was refused";
    }
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(full.out, without.out);
    EXPECT_NE(full.err.find("not saved"), std::string::npos) << full.err;
}

}  // namespace
