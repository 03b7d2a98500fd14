// Tests of the last-copy check.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/LastCopyCheck.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/FileContents.h"
#include "support/TempFolder.h"

using namespace platform;

namespace {

class LastCopyCheckTest : public ::testing::Test {
protected:
    TempFolder dir;

    LastCopyAnswer check(const std::string& file, const std::vector<std::string>& others,
                         bool byName = false)
    {
        LastCopyQuery query{dir / file, {}, byName};
        for (const std::string& other : others) {
            query.others.push_back(dir / other);
        }
        LastCopyProgress progress;
        return checkLastCopy(query, progress);
    }

    // A file of `size` bytes that holds nothing but a hole and `tail` at its
    // end: large without taking room on the disk.
    std::string sparse(const std::string& name, std::int64_t size, const std::string& tail = "")
    {
        const std::string path = dir.write(name, "");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        if (!tail.empty()) {
            EXPECT_EQ(::pwrite(fd, tail.data(), tail.size(),
                               size - static_cast<std::int64_t>(tail.size())),
                      static_cast<ssize_t>(tail.size()));
        }
        ::close(fd);
        return path;
    }
};

}  // namespace

TEST_F(LastCopyCheckTest, ADistinctFileWithTheSameBytesIsACopy)
{
    dir.write("a/photo.jpg", "same bytes");
    dir.write("b/photo.jpg", "same bytes");
    const LastCopyAnswer answer = check("a/photo.jpg", {"a/photo.jpg", "b/photo.jpg"});
    EXPECT_EQ(answer.lastCopy, LastCopy::No);
    EXPECT_EQ(answer.copy, dir / "b/photo.jpg");
    EXPECT_TRUE(answer.fileRead);
    EXPECT_FALSE(answer.copyStamp.sameFile(answer.fileStamp));
    // Its own row is no copy of it, but no alias worth naming either.
    EXPECT_EQ(answer.aliases, std::vector<std::string>{dir / "a/photo.jpg"});
}

TEST_F(LastCopyCheckTest, ALaterMemberCountsWhenAnEarlierOneChanged)
{
    dir.write("one", "group contents");
    dir.write("two", "group contentz");  // rewritten since the search
    dir.write("three", "group contents");
    dir.write("four", "shorter");
    const LastCopyAnswer answer = check("one", {"two", "four", "three"});
    EXPECT_EQ(answer.lastCopy, LastCopy::No);
    EXPECT_EQ(answer.copy, dir / "three");
}

TEST_F(LastCopyCheckTest, OtherBytesOrNoOtherFileMakeTheLastCopy)
{
    dir.write("x/notes.txt", "mine");
    dir.write("y/notes.txt", "theirs, and longer");
    dir.write("z/notes.txt", "your");  // the same size, other bytes
    // Grouped by size and contents: whatever the reason, no copy is left.
    EXPECT_EQ(check("x/notes.txt", {"y/notes.txt", "z/notes.txt"}).lastCopy, LastCopy::Contents);
    EXPECT_EQ(check("x/notes.txt", {"gone/notes.txt"}).lastCopy, LastCopy::Contents);
    // Grouped by name: files that merely share the name hold other bytes.
    EXPECT_EQ(check("x/notes.txt", {"y/notes.txt", "z/notes.txt"}, true).lastCopy,
              LastCopy::Contents);
    EXPECT_EQ(check("x/notes.txt", {"gone/notes.txt"}, true).lastCopy, LastCopy::Name);
    dir.write("w/notes.txt", "mine");
    EXPECT_EQ(check("x/notes.txt", {"y/notes.txt", "w/notes.txt"}, true).lastCopy, LastCopy::No);
    // Empty files hold the same (no) bytes.
    dir.write("e1", "");
    dir.write("e2", "");
    EXPECT_EQ(check("e1", {"e2"}).lastCopy, LastCopy::No);
}

TEST_F(LastCopyCheckTest, AHardLinkIsTheSameFileAndNoCopy)
{
    dir.write("d1/a", "only one file");
    dir.hardlink("d1/a", "d2/a");
    for (const bool byName : {false, true}) {
        const LastCopyAnswer answer = check("d1/a", {"d2/a"}, byName);
        EXPECT_EQ(answer.lastCopy, byName ? LastCopy::Name : LastCopy::Contents);
        EXPECT_EQ(answer.aliases, std::vector<std::string>{dir / "d2/a"});
    }
    // A real copy beside the link still counts, and the link is read no more.
    dir.write("d3/a", "only one file");
    const LastCopyAnswer answer = check("d1/a", {"d2/a", "d3/a"});
    EXPECT_EQ(answer.lastCopy, LastCopy::No);
    EXPECT_EQ(answer.copy, dir / "d3/a");
}

TEST_F(LastCopyCheckTest, AFolderReplacedByALinkToItsTwinLeavesOneFile)
{
    dir.write("d1/a", "twin contents");
    dir.symlink(dir / "d1", "d2");  // d2/a is d1/a
    const LastCopyAnswer answer = check("d1/a", {"d2/a"});
    EXPECT_EQ(answer.lastCopy, LastCopy::Contents);
    EXPECT_EQ(answer.aliases, std::vector<std::string>{dir / "d2/a"});
    EXPECT_EQ(check("d2/a", {"d1/a"}).lastCopy, LastCopy::Contents);
}

TEST_F(LastCopyCheckTest, ALinkOrAFifoInAMembersPlaceIsNoCopy)
{
    dir.write("real", "contents");
    dir.write("elsewhere", "contents");
    dir.symlink(dir / "elsewhere", "link");
    dir.fifo("fifo");
    const LastCopyAnswer answer = check("real", {"link", "fifo"});
    EXPECT_EQ(answer.lastCopy, LastCopy::Contents);
    EXPECT_TRUE(answer.unreadable.empty());
}

TEST_F(LastCopyCheckTest, TheFirstDifferingByteEndsTheRead)
{
    const std::int64_t size = std::int64_t(1) << 30;
    sparse("big1", size, "end");
    const std::string other = sparse("big2", size, "end");
    // One differing byte at the very start.
    const int fd = ::open(other.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_EQ(::pwrite(fd, "x", 1, 0), 1);
    ::close(fd);
    LastCopyQuery query{dir / "big1", {other}, false};
    LastCopyProgress progress;
    const LastCopyAnswer answer = checkLastCopy(query, progress);
    EXPECT_EQ(answer.lastCopy, LastCopy::Contents);
    EXPECT_EQ(progress.bytesTotal, size);
    EXPECT_LE(progress.bytesCompared, static_cast<std::int64_t>(kCompareChunk));
}

TEST_F(LastCopyCheckTest, AStopEndsTheCheckWithoutAnAnswer)
{
    sparse("big1", std::int64_t(1) << 30);
    sparse("big2", std::int64_t(1) << 30);
    LastCopyQuery query{dir / "big1", {dir / "big2"}, false};
    LastCopyProgress progress;
    progress.stop = true;
    const LastCopyAnswer answer = checkLastCopy(query, progress);
    EXPECT_TRUE(answer.cancelled);
    EXPECT_EQ(progress.bytesCompared, 0);
}

TEST_F(LastCopyCheckTest, AnUnreadableMemberIsNamedAndNoCopy)
{
    dir.write("mine", "contents");
    dir.write("locked/theirs", "contents");
    dir.chmod("locked/theirs", 0);
    const int result = runWithoutPrivileges([&] {
        const LastCopyAnswer answer = check("mine", {"locked/theirs"});
        return answer.lastCopy == LastCopy::Contents &&
                       answer.unreadable == std::vector<std::string>{dir / "locked/theirs"}
                   ? 0
                   : 1;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(LastCopyCheckTest, TheAnswerIsCheckedAgainRightBeforeTheDeletion)
{
    dir.write("d1/a", "twin contents");
    dir.write("d2/a", "twin contents");
    LastCopyQuery query{dir / "d1/a", {dir / "d2/a"}, false};
    LastCopyProgress progress;
    const LastCopyAnswer answer = checkLastCopy(query, progress);
    ASSERT_EQ(answer.lastCopy, LastCopy::No);
    EXPECT_TRUE(answerStillHolds(query, answer));

    // The copy's folder swapped for a link to the file's own folder.
    dir.remove("d2/a");
    dir.remove("d2");
    dir.symlink(dir / "d1", "d2");
    EXPECT_FALSE(answerStillHolds(query, answer));

    // The copy rewritten in place, keeping its size. Change times move in
    // clock ticks of a few milliseconds: let one pass, as any question does.
    dir.remove("d2");
    dir.write("d2/a", "twin contents");
    const LastCopyAnswer again = checkLastCopy(query, progress);
    ASSERT_EQ(again.lastCopy, LastCopy::No);
    ::usleep(30000);
    dir.write("d2/a", "twin Contents");
    EXPECT_FALSE(answerStillHolds(query, again));

    // Another file put at the path being deleted.
    const LastCopyAnswer third = checkLastCopy(query, progress);
    dir.remove("d1/a");
    dir.write("d1/a", "other contents");
    EXPECT_FALSE(answerStillHolds(query, third));

    // The last copy stays the last copy as long as the file stays itself.
    dir.remove("d2/a");
    const LastCopyAnswer last = checkLastCopy(query, progress);
    ASSERT_EQ(last.lastCopy, LastCopy::Contents);
    EXPECT_TRUE(answerStillHolds(query, last));
}
