#include <gtest/gtest.h>
#include <unistd.h>

#include "search/Comparison.h"
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
