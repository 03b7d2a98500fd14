// Tests of a whole search over temporary trees: groups, rules and files left out.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

#include "search/Comparison.h"
#include "search/FileCatalogue.h"
#include "support/TempFolder.h"
#include "support/TestWindow.h"

using search::SearchRun;

namespace {

const std::string H = "Duplicate files .....";

// The whole road of a search over a temporary tree, through the run and a
// test window.
class CompareTest : public ::testing::Test {
protected:
    TempFolder dir;
    TestWindow window;
    SearchRun run{window};

    void SetUp() override
    {
        window.drives = {{'C', "", false}};
        window.fields[search::Field::RootDir] = dir.path();
    }

    std::vector<std::string> search()
    {
        run.btnSearchClick();
        return window.rowTexts(dir.path());
    }

    // Files of one size that share their first 4096 bytes and differ later.
    std::string variant(char tail) { return std::string(5000, 'a') + std::string(100, tail); }
};

// Bytes that look like a file's contents, the same for the same seed.
std::string noise(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    std::uint64_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state);
    }
    return bytes;
}

// Every chunk in one bucket: only the bytes can tell files apart.
std::uint64_t oneBucket(const unsigned char*, std::size_t)
{
    return 42;
}

// Limits so small that a class of a few files cannot keep a chunk of each in
// memory and is compared by digests first, then by bytes against one file.
search::ReadLimits streamingLimits()
{
    search::ReadLimits limits;
    limits.memoryBytes = 8192;
    limits.windowFiles = 8;
    limits.heldFiles = 2;
    limits.readers = 3;
    return limits;
}

// The opens of files in one folder, seen through inotify while a search runs.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& folder)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_watch(::inotify_add_watch(m_fd, folder.c_str(), IN_OPEN))
    {
    }
    ~OpenWatch() { ::close(m_fd); }
    bool ok() const { return m_fd >= 0 && m_watch >= 0; }

    // Opens of files (not of the folder) since the last call.
    int fileOpens()
    {
        int opens = 0;
        alignas(inotify_event) char buffer[64 * 1024];
        ssize_t length;
        while ((length = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                opens +=
                    (event->mask & IN_OPEN) != 0 && (event->mask & IN_ISDIR) == 0 && event->len > 0;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return opens;
    }

private:
    int m_fd;
    int m_watch;
};

}  // namespace

TEST_F(CompareTest, ThreeEqualFilesMakeOneBlockInPathOrder)
{
    dir.write("b/Copy.txt", "same contents");
    dir.write("a/copy.txt", "same contents");
    dir.write("c/other.txt", "different one");
    dir.write("a/COPY2.txt", "same contents");
    EXPECT_EQ(search(), (std::vector<std::string>{H, "a/copy.txt", "a/COPY2.txt", "b/Copy.txt"}));
    EXPECT_EQ(run.comparison.DuplicateCount, 2);
    EXPECT_EQ(run.comparison.DuplicateBytes, 26);
    EXPECT_EQ(window.status[1], "Bytes: 26");
    EXPECT_EQ(window.status[2], "Files: 2");
    EXPECT_EQ(window.status[3], "Scan complete");
    EXPECT_EQ(window.status[0], "Duplicates found....");
    EXPECT_EQ(window.captions[search::Caption::SearchButton], "Find Now");
    EXPECT_EQ(window.captions[search::Caption::FileListCaption],
              "What duplicates were found - double-click a file to review ...");
    EXPECT_EQ(window.list.hint, "Double-click a file to review");
    EXPECT_EQ(window.list.updateDepth, 0);
    EXPECT_FALSE(window.progressVisible);
    EXPECT_FALSE(run.comparing());
    ASSERT_EQ(window.list.rows[1].subItems.size(), 6u);
    EXPECT_EQ(window.list.rows[1].subItems[0], "13");
}

TEST_F(CompareTest, FilesBelowMoreStartFoldersThanAreHeldOpenAreEachReadAsThemselves)
{
    // One name and size below forty start folders: a reader's files read
    // together lie below more start folders than it keeps open, and a file
    // opened below a folder closed meanwhile, or below another that took its
    // number, would not be the file listed.
    std::string roots;
    std::vector<std::string> expected[2];
    for (int i = 0; i < 40; ++i) {
        const std::string root = "r" + std::to_string(10 + i) + "/";
        dir.write(root + "f", std::string(4096, i % 2 == 0 ? 'e' : 'o'));
        roots += (i > 0 ? "," : "") + (dir / root);
        expected[i % 2].push_back(root + "f");
    }
    window.fields[search::Field::RootDir] = roots;
    std::vector<std::string> rows = {H};
    rows.insert(rows.end(), expected[0].begin(), expected[0].end());
    rows.insert(rows.end(), {"", H});
    rows.insert(rows.end(), expected[1].begin(), expected[1].end());
    EXPECT_EQ(search(), rows);
}

TEST_F(CompareTest, EqualFirstBlocksThatDifferLaterAreNotDuplicates)
{
    dir.write("one.bin", variant('x'));
    dir.write("two.bin", variant('y'));
    EXPECT_TRUE(search().empty());
    EXPECT_EQ(run.comparison.DuplicateCount, 0);
    EXPECT_EQ(window.status[0], "");
}

TEST_F(CompareTest, TheTimeRuleKeepsFilesWithDifferentStampsApart)
{
    dir.write("one.txt", "twin");
    dir.write("two.txt", "twin");
    dir.touch("one.txt", 1600000000);
    dir.touch("two.txt", 1600000100);
    window.checks[search::Check::CheckFileTimestamp] = true;
    EXPECT_TRUE(search().empty());
    window.checks[search::Check::CheckFileTimestamp] = false;
    EXPECT_EQ(search(), (std::vector<std::string>{H, "one.txt", "two.txt"}));

    dir.touch("two.txt", 1600000000);
    window.checks[search::Check::CheckFileTimestamp] = true;
    EXPECT_EQ(search(), (std::vector<std::string>{H, "one.txt", "two.txt"}));
}

TEST_F(CompareTest, EqualMembersAfterADifferentOneStillFormOneBlock)
{
    // f1, f2 and f4 equal, f3 different: one block, not two around f1.
    dir.write("f1", variant('x'));
    dir.write("f2", variant('x'));
    dir.write("f3", variant('y'));
    dir.write("f4", variant('x'));
    EXPECT_EQ(search(), (std::vector<std::string>{H, "f1", "f2", "f4"}));
    EXPECT_EQ(run.comparison.DuplicateCount, 2);
}

TEST_F(CompareTest, EqualFilesAreFoundWhenTheFirstOfTheRunDiffers)
{
    dir.write("f1", variant('z'));
    dir.write("f2", variant('x'));
    dir.write("f3", variant('x'));
    EXPECT_EQ(search(), (std::vector<std::string>{H, "f2", "f3"}));
    EXPECT_EQ(run.comparison.DuplicateCount, 1);

    // Two classes in one run give two blocks, in the order of their firsts.
    dir.write("f4", variant('z'));
    EXPECT_EQ(search(), (std::vector<std::string>{H, "f1", "f4", "", H, "f2", "f3"}));
    EXPECT_EQ(run.comparison.DuplicateCount, 2);
    EXPECT_EQ(run.comparison.DuplicateBytes, 2 * 5100);
}

TEST_F(CompareTest, GroupsComeFromTheLargestSizeDown)
{
    dir.write("small1", "ab");
    dir.write("small2", "ab");
    dir.write("large1", "abcdef");
    dir.write("large2", "abcdef");
    EXPECT_EQ(search(),
              (std::vector<std::string>{H, "large1", "large2", "", H, "small1", "small2"}));
}

TEST_F(CompareTest, EmptyFilesAreConfirmedWithoutReadingAndAddNoBytes)
{
    dir.write("a/empty", "");
    dir.write("b/empty", "");
    dir.write("b/other", "");
    window.checks[search::Check::SkipEmptyFiles] = false;
    EXPECT_EQ(search(), (std::vector<std::string>{H, "a/empty", "b/empty", "b/other"}));
    EXPECT_EQ(run.comparison.DuplicateCount, 2);
    EXPECT_EQ(run.comparison.DuplicateBytes, 0);

    window.checks[search::Check::CheckFilename] = true;
    EXPECT_EQ(search(), (std::vector<std::string>{H, "a/empty", "b/empty"}));
}

TEST_F(CompareTest, TheNameRuleAlsoComparesContents)
{
    dir.write("a/report.doc", "version one");
    dir.write("b/REPORT.doc", "version one");
    dir.write("c/report.doc", "version two");
    dir.write("d/notes.doc", "version one");
    window.checks[search::Check::CheckFilename] = true;
    EXPECT_EQ(search(), (std::vector<std::string>{H, "a/report.doc", "b/REPORT.doc"}));
}

TEST_F(CompareTest, NameModeGroupsByNameInTheOrderFound)
{
    dir.write("a/readme", "1");
    dir.write("b/README", "22");
    dir.write("c/readme", "333");
    dir.write("a/setup.ini", "x");
    dir.write("z/setup.ini", "yy");
    dir.write("a/alone.txt", "q");
    window.checks[search::Check::CheckFilesize] = false;
    window.checks[search::Check::CheckFilename] = true;
    // Names in descending order; members of a group in the order scanned.
    EXPECT_EQ(search(), (std::vector<std::string>{H, "a/setup.ini", "z/setup.ini", "", H,
                                                  "a/readme", "b/README", "c/readme"}));
    EXPECT_EQ(run.comparison.DuplicateCount, 3);
    EXPECT_EQ(run.comparison.DuplicateBytes, 0);
}

TEST_F(CompareTest, AnEmptyCatalogueEndsCleanly)
{
    EXPECT_TRUE(search().empty());
    EXPECT_EQ(window.status[3], "Scan complete");
    EXPECT_EQ(window.progressMax, 1);
    EXPECT_EQ(window.status[2], "Files:");
}

TEST_F(CompareTest, AStopDuringTheScanComparesNothing)
{
    for (int i = 0; i < 5; ++i) {
        dir.write("d" + std::to_string(i) + "/same", "equal");
    }
    window.drives.push_back({'D', "", false});
    window.onTurn = [&] {
        if (run.scanning() && window.turns == 3) {
            run.btnSearchClick();  // the Stop button
        }
    };
    EXPECT_TRUE(search().empty());
    EXPECT_EQ(window.status[3], "Comparison interrupted");
    EXPECT_EQ(window.captions[search::Caption::SearchButton], "Find Now");
    // The second drive was not scanned.
    EXPECT_EQ(std::count(window.statusLog.begin(), window.statusLog.end(), "Scanning folders ...."),
              1);
}

TEST_F(CompareTest, AStopDuringTheComparisonKeepsTheRowsWritten)
{
    for (int size = 1; size <= 6; ++size) {
        dir.write("a" + std::to_string(size), std::string(static_cast<std::size_t>(size), 'k'));
        dir.write("b" + std::to_string(size), std::string(static_cast<std::size_t>(size), 'k'));
    }
    // Stop once the first block (the largest files) is written.
    bool stopped = false;
    window.onTurn = [&] {
        if (run.comparing() && !stopped && window.list.rows.size() == 3) {
            stopped = true;
            run.btnSearchClick();
        }
    };
    const std::vector<std::string> rows = search();
    EXPECT_EQ(rows, (std::vector<std::string>{H, "a6", "b6"}));
    EXPECT_EQ(window.status[3], "Comparison interrupted");
    EXPECT_EQ(window.captions[search::Caption::SearchButton], "Find Now");
    EXPECT_FALSE(run.comparing());
    EXPECT_TRUE(run.catalogue.Catalogue.empty());
}

TEST_F(CompareTest, FilesThatChangeBetweenScanAndComparisonAreNotConfirmed)
{
    dir.write("keep1", "stable contents");
    dir.write("keep2", "stable contents");
    dir.write("shrinks1", std::string(6000, 's'));
    dir.write("shrinks2", std::string(6000, 's'));
    dir.write("grows1", std::string(300, 'g'));
    dir.write("grows2", std::string(300, 'g'));
    dir.write("gone1", "vanishing");
    dir.write("gone2", "vanishing");
    bool changed = false;
    window.onTurn = [&] {
        if (run.comparing() && !changed) {
            changed = true;
            dir.write("shrinks2", std::string(10, 's'));
            dir.write("grows2", std::string(600, 'g'));
            dir.remove("gone2");
        }
    };
    EXPECT_EQ(search(), (std::vector<std::string>{H, "keep1", "keep2"}));
}

TEST_F(CompareTest, AFileRewrittenAfterTheWalkWithItsSizeAndTimeKeptIsLeftOut)
{
    // Made a copy of another between the walk and its first read, its size
    // kept and its write time put back: only its change time tells, against
    // the one the walk saw.
    for (const bool sameTime : {false, true}) {
        window.checks[search::Check::CheckFileTimestamp] = sameTime;
        window.leftOut.clear();
        dir.write("was", "original bytes");
        dir.write("now", "different data");
        dir.touch("was", 1600000000);
        dir.touch("now", 1600000000);
        bool rewritten = false;
        window.onTurn = [&] {
            if (run.comparing() && !rewritten) {
                rewritten = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                dir.write("now", "original bytes");
                dir.touch("now", 1600000000);
            }
        };
        EXPECT_TRUE(search().empty()) << "same time: " << sameTime;
        ASSERT_EQ(window.leftOut.size(), 1u);
        EXPECT_EQ(window.leftOut[0].path, dir / "now");
        EXPECT_EQ(window.leftOut[0].why, search::LeftOutFile::Why::Changed);
    }
}

TEST_F(CompareTest, HardLinksAreOneFileNotTwo)
{
    dir.write("original", "linked data");
    dir.hardlink("original", "sub/link");
    EXPECT_TRUE(search().empty());
    dir.write("real copy", "linked data");
    EXPECT_EQ(search(), (std::vector<std::string>{H, "original", "real copy"}));
}

TEST_F(CompareTest, AFileThatVanishesBeforeItsRowLeavesTheHeader)
{
    dir.write("x1", "abc");
    dir.write("x2", "abc");
    window.onTurn = [&] {
        // After both were compared, one disappears before the rows are written.
        if (run.comparing() && run.comparison.DuplicateCount == 1 && dir.exists("x2")) {
            dir.remove("x2");
        }
    };
    EXPECT_EQ(search(), (std::vector<std::string>{H, "x1"}));
}

TEST_F(CompareTest, SizesBeyondFourGigabytesKeepTheirOwnGroups)
{
    // Sparse files: a 32-bit size would make these two look the same size.
    const std::string a = dir.write("huge", "start");
    const std::string b = dir.write("small", "start");
    ASSERT_EQ(::truncate(a.c_str(), (1ll << 32) + 5), 0);
    ASSERT_EQ(::truncate(b.c_str(), 5), 0);
    EXPECT_TRUE(search().empty());
    EXPECT_EQ(run.comparison.DuplicateCount, 0);
}

TEST_F(CompareTest, AnExceptionEndsTheRunInIdle)
{
    dir.write("first", "x");
    window.onTurn = [] { throw std::runtime_error("the window failed"); };
    EXPECT_THROW(run.btnSearchClick(), std::runtime_error);
    EXPECT_FALSE(run.scanning());
    EXPECT_FALSE(run.comparing());
    EXPECT_FALSE(run.running());
    EXPECT_EQ(window.captions[search::Caption::SearchButton], "Find Now");
    window.onTurn = nullptr;
    dir.write("second", "x");
    EXPECT_EQ(search(), (std::vector<std::string>{H, "first", "second"}));  // and it runs again
}

// --- Reading each file once, whatever the files hold ---

TEST_F(CompareTest, ManyFilesOfOneSizeWithALongCommonHeadKeepOnlyTheirRealCopies)
{
    // Forty files of one size whose first 40 KiB are the same, as images of
    // one screen or fixed-size databases are: a pair and a triple are copies.
    const std::string head = noise(40 * 1024, 1);
    auto contents = [&](unsigned tail) { return head + noise(24 * 1024, 100 + tail); };
    for (unsigned i = 0; i < 40; ++i) {
        const unsigned tail = i == 17 ? 3 : (i == 30 || i == 31) ? 8 : i;
        char name[16];
        std::snprintf(name, sizeof name, "f%02u", i);
        dir.write(name, contents(tail));
    }
    const std::vector<std::string> expected = {H, "f03", "f17", "", H, "f08", "f30", "f31"};
    EXPECT_EQ(search(), expected);
    EXPECT_EQ(run.comparison.DuplicateCount, 3);
    EXPECT_EQ(run.comparison.DuplicateBytes, 3 * 64 * 1024);

    // The same when no chunk of every file fits in memory at once, and when
    // the digests tell nothing apart.
    run.comparison.limits = streamingLimits();
    EXPECT_EQ(search(), expected);
    run.comparison.limits->digest = oneBucket;
    EXPECT_EQ(search(), expected);
    search::ReadLimits wide;
    wide.digest = oneBucket;
    run.comparison.limits = wide;
    EXPECT_EQ(search(), expected);
}

TEST_F(CompareTest, OnlyTheBytesDecideWhenEveryDigestIsTheSame)
{
    // Files that differ in one byte at the start, in the middle, at the end
    // of a chunk and in the last byte, beside real copies.
    const std::string base = noise(300 * 1024, 7);
    auto changed = [&](std::size_t at) {
        std::string bytes = base;
        bytes[at] = static_cast<char>(bytes[at] ^ 1);
        return bytes;
    };
    dir.write("a/copy1", base);
    dir.write("b/copy2", base);
    dir.write("c/first", changed(0));
    dir.write("c/middle", changed(150 * 1024));
    dir.write("c/page", changed(4096));
    dir.write("c/last", changed(base.size() - 1));
    dir.write("d/last-again", changed(base.size() - 1));
    dir.write("small/one", "tiny");
    dir.write("small/two", "tiny");
    dir.write("small/three", "tinY");
    const std::vector<std::string> expected = {
        H, "a/copy1", "b/copy2", "", H, "c/last", "d/last-again", "", H, "small/one", "small/two"};
    for (int mode = 0; mode < 2; ++mode) {
        search::ReadLimits limits = mode == 0 ? search::ReadLimits() : streamingLimits();
        limits.digest = oneBucket;
        run.comparison.limits = limits;
        EXPECT_EQ(search(), expected) << (mode == 0 ? "in memory" : "streaming");
    }
}

TEST_F(CompareTest, BlocksOfOneSizeFollowTheirGroupingValueThenTheirPaths)
{
    // The quick sum of the first words orders the blocks, as it always did:
    // "z" files sum to less than "a" files.
    dir.write("a1", std::string("\x09\0\0\0", 4) + "same");
    dir.write("a2", std::string("\x09\0\0\0", 4) + "same");
    dir.write("z1", std::string("\x02\0\0\0", 4) + "same");
    dir.write("z2", std::string("\x02\0\0\0", 4) + "same");
    dir.write("m1", std::string("\x09\0\0\0", 4) + "sane");
    dir.write("m2", std::string("\x09\0\0\0", 4) + "sane");
    EXPECT_EQ(search(),
              (std::vector<std::string>{H, "z1", "z2", "", H, "a1", "a2", "", H, "m1", "m2"}));
}

// A window that counts the calls it gets from any thread but its own.
class ThreadCheckingWindow : public TestWindow {
public:
    const std::thread::id home = std::this_thread::get_id();
    std::atomic<int> strayCalls{0};

    void setStatusText(int panel, const std::string& text) override
    {
        check();
        TestWindow::setStatusText(panel, text);
    }
    void processEvents() override
    {
        check();
        TestWindow::processEvents();
    }
    void setProgressPosition(std::int64_t position) override
    {
        check();
        TestWindow::setProgressPosition(position);
    }
    search::ResultList& resultList() override
    {
        check();
        return TestWindow::resultList();
    }
    void reportLeftOut(const search::LeftOutFile& file) override
    {
        check();
        TestWindow::reportLeftOut(file);
    }

private:
    void check() { strayCalls += std::this_thread::get_id() != home ? 1 : 0; }
};

TEST(CompareThreads, NoReaderEverTouchesTheWindow)
{
    TempFolder dir;
    for (int i = 0; i < 400; ++i) {
        // Forty sets of ten copies, of twenty sizes.
        dir.write("t/" + std::to_string(i), noise(6000 + static_cast<std::size_t>(i % 20), i % 40));
    }
    dir.write("t/gone", noise(6000, 1));
    ThreadCheckingWindow window;
    window.drives = {{'C', "", false}};
    window.fields[search::Field::RootDir] = dir.path();
    SearchRun run{window};
    search::ReadLimits limits;
    limits.windowFiles = 40;
    limits.memoryBytes = 64 * 1024;
    run.comparison.limits = limits;
    window.onTurn = [&] {
        if (run.comparing()) {
            dir.remove("t/gone");
        }
    };
    run.btnSearchClick();
    EXPECT_EQ(window.strayCalls.load(), 0);
    EXPECT_EQ(window.list.rows.size(), 40u * 11 + 39);  // headers, files and separators
    ASSERT_EQ(window.leftOut.size(), 1u);
    EXPECT_EQ(window.leftOut[0].path, dir / "t/gone");
    EXPECT_EQ(window.leftOut[0].error, ENOENT);
}

// --- "Same date and time" ---

TEST_F(CompareTest, SameTimeComparesTimesToTwoSecondsWhateverTheYear)
{
    window.checks[search::Check::CheckFileTimestamp] = true;
    // Before 1980 and after 2107 the MS-DOS stamp has no value for a time;
    // such copies are not one group for that.
    dir.write("old/1970", "time capsule");
    dir.write("old/1975", "time capsule");
    dir.write("old/2150", "time capsule");
    dir.touch("old/1970", 0);
    dir.touch("old/1975", 157766400);
    dir.touch("old/2150", 5680281600);
    // Sixty-four years apart: the stamp's year field wraps at 2044.
    dir.write("wrap/2000", "wrapped year");
    dir.write("wrap/2064", "wrapped year");
    dir.touch("wrap/2000", 946684800);
    dir.touch("wrap/2064", 2966371200);
    EXPECT_TRUE(search().empty());

    // Within two seconds of each other (an even second and the next) they
    // are one time, beyond it two, as the stamp has it.
    dir.write("near/a", "close times");
    dir.write("near/b", "close times");
    dir.write("near/c", "close times");
    dir.touch("near/a", 1600000000);
    dir.touch("near/b", 1600000001);
    dir.touch("near/c", 1600000002);
    EXPECT_EQ(search(), (std::vector<std::string>{H, "near/a", "near/b"}));

    EXPECT_EQ(search::sameTimeKey(-1), -1);
    EXPECT_EQ(search::sameTimeKey(-2), -1);
    EXPECT_EQ(search::sameTimeKey(-3), -2);
    EXPECT_EQ(search::sameTimeKey(1), 0);
}

TEST_F(CompareTest, SameTimeKeepsTheRepeatedAutumnHourApart)
{
    // Central Europe: on 2023-10-29 the clocks go back from 03:00 to 02:00,
    // so 02:30 happens twice, an hour apart.
    const char* before = std::getenv("TZ");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    dir.write("first", "autumn copy");
    dir.write("second", "autumn copy");
    dir.touch("first", 1698539400);   // 00:30 UTC, 02:30 summer time
    dir.touch("second", 1698543000);  // 01:30 UTC, 02:30 winter time
    window.checks[search::Check::CheckFileTimestamp] = true;
    const std::vector<std::string> rows = search();
    if (before != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
    EXPECT_TRUE(rows.empty());
}

// --- Stop is heard while files are read ---

TEST_F(CompareTest, AStopWhileTheFirstBytesOfALargeRunAreReadEndsTheReading)
{
    // 2,000 files of one size, all different: the comparison reads the first
    // bytes of each. A stop at the first turn after the first file was opened
    // must leave most of them unread, and none of them open.
    for (int i = 0; i < 2000; ++i) {
        dir.write("run/" + std::to_string(i), noise(8192, static_cast<unsigned>(i)));
    }
    OpenWatch watch(dir / "run");
    ASSERT_TRUE(watch.ok());
    const int descriptors = openDescriptorCount();
    int opensBeforeStop = -1;
    int opensAfterStop = 0;
    window.onTurn = [&] {
        const int opens = watch.fileOpens();
        if (opensBeforeStop >= 0) {
            opensAfterStop += opens;
        } else if (run.comparing() && opens > 0) {
            opensBeforeStop = opens;
            run.btnSearchClick();  // the Stop button
        }
    };
    EXPECT_TRUE(search().empty());
    opensAfterStop += watch.fileOpens();
    ASSERT_GT(opensBeforeStop, 0);
    EXPECT_EQ(window.status[3], "Comparison interrupted");
    // The readers finish the files they began; no more are opened.
    EXPECT_LT(opensAfterStop, 200) << opensBeforeStop << " files were opened before the stop";
    // Files opened together and not yet read are closed all the same.
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST_F(CompareTest, AStopWhileAHugePairIsComparedIsHeardAtOnce)
{
    // Two equal files of 16 GiB, sparse, so they cost no disk: reading both
    // takes seconds, a stop must not.
    constexpr off_t kHuge = 16ll << 30;
    for (const char* name : {"huge1", "huge2"}) {
        const std::string path = dir.write(name, "");
        ASSERT_EQ(::truncate(path.c_str(), kHuge), 0);
    }
    OpenWatch watch(dir.path());
    ASSERT_TRUE(watch.ok());
    // A watcher of its own sees the first open at once, whatever the
    // comparison does meanwhile; the next turn is the Stop.
    std::atomic<bool> opened{false};
    std::atomic<bool> done{false};
    std::chrono::steady_clock::time_point openedAt;
    std::thread watcher([&] {
        while (!done && !opened) {
            if (watch.fileOpens() > 0) {
                openedAt = std::chrono::steady_clock::now();
                opened = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    window.onTurn = [&] {
        if (opened && run.comparing()) {
            run.btnSearchClick();
        }
    };
    search();
    const auto endedAt = std::chrono::steady_clock::now();
    done = true;
    watcher.join();
    ASSERT_TRUE(opened.load());
    EXPECT_EQ(window.status[3], "Comparison interrupted");
    // Generous for busy machines; reading the pair takes many times this.
    EXPECT_LT(endedAt - openedAt, std::chrono::seconds(1));
}
