#include "scanner/TreeScan.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <unistd.h>

#include "platform/FolderListing.h"
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

TEST_F(TreeScanTest, AMissingStartFolderStillGivesOnePairOfEvents)
{
    scanner.InitialDirectory = dir / "missing";
    scanner.setFileMask("*.*");
    scanner.Search();
    EXPECT_EQ(scanner.InitialDirectory, dir / "missing/");
    EXPECT_EQ(events, (std::vector<std::string>{"enter missing/", "leave missing/", "done"}));
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
    const int result = runWithoutPrivileges([&] {
        scan();
        const std::vector<std::string> expected = {"enter ",
                                                   "enter closed/",
                                                   "leave closed/",
                                                   "enter open/",
                                                   "file open/a.txt 0",
                                                   "leave open/a.txt",
                                                   "leave open/a.txt",
                                                   "done"};
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
