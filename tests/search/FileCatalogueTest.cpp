// Tests of the catalogue: keys, order and the files it leaves out.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/FileCatalogue.h"

#include <algorithm>
#include <gtest/gtest.h>

#include "text/CommaText.h"
#include "scanner/TreeScan.h"
#include "support/TempFolder.h"

using namespace search;

namespace {

class StatusLog : public FolderStatus {
public:
    std::vector<std::string> texts;
    void showCurrentFolder(const std::string& text) override { texts.push_back(text); }
};

class FileCatalogueTest : public ::testing::Test {
protected:
    TempFolder dir;
    scanner::TTreeScanner scanner;
    FileCatalogue catalogue;
    StatusLog status;

    void SetUp() override
    {
        catalogue.bind(scanner);
        catalogue.status = &status;
        scanner.FindHiddenFiles = true;
        catalogue.startScan();
    }

    void walk(const std::string& folder)
    {
        scanner.setFileMaskCommaText("*.*");
        scanner.InitialDirectory = folder;
        scanner.Search();
    }

    // The catalogue as key text and path relative to the temporary folder.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < catalogue.Catalogue.size(); ++i) {
            const auto& entry = catalogue.Catalogue[i];
            std::string path = catalogue.pathOf(entry).substr(dir.path().size());
            out.push_back(catalogue.Catalogue.keyText(entry) + " @" + path);
        }
        return out;
    }
};

}  // namespace

TEST_F(FileCatalogueTest, SizeKeysSortBySizeThenNameAndRepeatsStay)
{
    dir.write("one/Beta.txt", "12345");
    dir.write("one/alpha.txt", "12345");
    dir.write("two/alpha.txt", "12345");
    dir.write("two/big.bin", std::string(1234, 'x'));
    walk(dir.path());
    // Of two equal keys the later addition comes first.
    EXPECT_EQ(entries(), (std::vector<std::string>{
                             "        5 alpha.txt @two/alpha.txt",
                             "        5 alpha.txt @one/alpha.txt",
                             "        5 Beta.txt @one/Beta.txt",
                             "     1234 big.bin @two/big.bin",
                         }));
    EXPECT_EQ(sizeKeyPrefix(1234567890), "1234567890 ");
    EXPECT_EQ(sizeKeyPrefix(5000000000), "5000000000 ");
    EXPECT_EQ(sizeKeyPrefix(0), "        0 ");
}

TEST_F(FileCatalogueTest, NameKeysUseASlashAndGroupNamesIgnoringCase)
{
    catalogue.CheckFileSize = false;
    catalogue.startScan();
    dir.write("a/Notes", "1");
    dir.write("b/notes", "22");
    dir.write("b/notes b", "333");
    dir.write("c/note", "4444");
    walk(dir.path());
    EXPECT_EQ(entries(), (std::vector<std::string>{
                             "note/note @c/note",
                             "notes b/notes b @b/notes b",
                             "notes/notes @b/notes",  // found later, so first
                             "Notes/Notes @a/Notes",
                         }));
}

TEST_F(FileCatalogueTest, OnlyTheMemoryDumpsThemselvesAreDropped)
{
    // Names that are merely pieces of "mm256.dat mm2048.dat" are ordinary
    // files (a search of numbered files once missed "2", "4" and "20").
    for (const char* name :
         {"MM2048.DAT", "mm256.dat", "dat", "mm2", "2", "20", " ", "mm256.dat.bak", "data"}) {
        dir.write(name, "x");
    }
    walk(dir.path());
    EXPECT_EQ(entries(), (std::vector<std::string>{
                             "        1   @ ",
                             "        1 2 @2",
                             "        1 20 @20",
                             "        1 dat @dat",
                             "        1 data @data",
                             "        1 mm2 @mm2",
                             "        1 mm256.dat.bak @mm256.dat.bak",
                         }));
}

TEST_F(FileCatalogueTest, SysbckupAndSkipFoldersCoverTheWholeSubtree)
{
    dir.write("WINDOWS/SYSBCKUP/a.txt", "a");
    dir.write("WINDOWS/SYSBCKUP/below/b.txt", "b");
    dir.write("WINDOWS/SYSBCKUP2/c.txt", "c");
    dir.write("SP3/d.txt", "d");
    dir.write("Windows/Sp3/inner/e.txt", "e");
    dir.write("SP30/f.txt", "f");
    catalogue.SkipFolders.add("/sp3/");
    walk(dir.path());
    std::vector<std::string> paths;
    for (const std::string& e : entries()) {
        paths.push_back(e.substr(e.find('@') + 1));
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"WINDOWS/SYSBCKUP2/c.txt", "SP30/f.txt"}));
    EXPECT_NE(std::find(status.texts.begin(), status.texts.end(), "Skipping " + dir / "SP3/"),
              status.texts.end());

    catalogue.SkipSysbckupFolder = false;
    catalogue.startScan();
    walk(dir.path());
    EXPECT_EQ(entries().size(), 4u);
}

TEST_F(FileCatalogueTest, ADesktopIniSkipsItsOwnFolderOnly)
{
    dir.write("shell/desktop.ini", "[.ShellClassInfo]");
    dir.write("shell/photo.jpg", "p");
    dir.write("shell/child/photo.jpg", "p");
    dir.write("shell/child2/desktop.ini", "x");
    dir.write("shell/child2/other.jpg", "o");
    walk(dir.path());
    EXPECT_EQ(entries(), (std::vector<std::string>{"        1 photo.jpg @shell/child/photo.jpg"}));
    EXPECT_EQ(status.texts[1], "Skipping " + dir / "shell/");
    EXPECT_EQ(status.texts[2], dir / "shell/child/");

    catalogue.SkipDesktopFolders = false;
    catalogue.startScan();
    walk(dir.path());
    EXPECT_EQ(entries().size(), 5u);
}

TEST_F(FileCatalogueTest, KnownDuplicatesMatchTheirPathByteForByte)
{
    // Paths are bytes: listing A.txt leaves a.txt, another file, in the search.
    dir.write("keep.txt", "k");
    dir.write("A.txt", "n");
    dir.write("a.txt", "n");
    dir.write("caf\xC3\xA9", "c");
    catalogue.SkipFiles.add(dir / "A.txt");
    catalogue.SkipFiles.add(dir / "CAF\xC3\xA9");
    walk(dir.path());
    EXPECT_EQ(entries(), (std::vector<std::string>{"        1 a.txt @a.txt",
                                                   "        1 caf\xC3\xA9 @caf\xC3\xA9",
                                                   "        1 keep.txt @keep.txt"}));

    catalogue.SkipFiles.add(dir / "a.txt");
    catalogue.SkipFiles.add(dir / "caf\xC3\xA9");
    catalogue.startScan();
    walk(dir.path());
    EXPECT_EQ(entries(), (std::vector<std::string>{"        1 keep.txt @keep.txt"}));
}

TEST_F(FileCatalogueTest, ADesktopIniIsRecognisedWhateverTheCaseOfItsName)
{
    dir.write("upper/DESKTOP.INI", "[.ShellClassInfo]");
    dir.write("upper/photo.jpg", "p");
    dir.write("mixed/Desktop.ini", "[.ShellClassInfo]");
    dir.write("mixed/photo.jpg", "p");
    dir.write("near/desktop.ini.bak", "x");
    dir.write("near/desktop.ini/inside.jpg", "f");  // a folder of that name is no marker
    dir.write("near/photo.jpg", "p");
    walk(dir.path());
    std::vector<std::string> paths;
    for (const std::string& e : entries()) {
        paths.push_back(e.substr(e.find('@') + 1));
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"near/desktop.ini.bak",
                                               "near/desktop.ini/inside.jpg", "near/photo.jpg"}));
    EXPECT_NE(std::find(status.texts.begin(), status.texts.end(), "Skipping " + dir / "upper/"),
              status.texts.end());
    EXPECT_NE(std::find(status.texts.begin(), status.texts.end(), "Skipping " + dir / "mixed/"),
              status.texts.end());
}

TEST_F(FileCatalogueTest, EmptyFilesFollowTheirOption)
{
    dir.write("empty1", "");
    dir.write("empty2", "");
    dir.write("full", "x");
    walk(dir.path());
    EXPECT_EQ(entries().size(), 1u);

    catalogue.SkipEmptyFiles = false;
    catalogue.startScan();
    walk(dir.path());
    EXPECT_EQ(entries(),
              (std::vector<std::string>{"        0 empty1 @empty1", "        0 empty2 @empty2",
                                        "        1 full @full"}));
}

TEST_F(FileCatalogueTest, AHardLinkOrASecondPathToTheSameFileIsTakenOnce)
{
    dir.write("a/original.txt", "same data");
    dir.hardlink("a/original.txt", "b/link.txt");
    dir.write("c/copy.txt", "same data");
    walk(dir / "a/");
    walk(dir.path());  // overlapping roots: the same files seen again
    EXPECT_EQ(entries(), (std::vector<std::string>{"        9 copy.txt @c/copy.txt",
                                                   "        9 original.txt @a/original.txt"}));
}

TEST_F(FileCatalogueTest, EntriesComeFromTheListingNotASecondQuery)
{
    dir.write("first.txt", "1");
    dir.write("second.txt", "22");
    auto handler = scanner.OnFileFound;
    scanner.OnFileFound = [&](scanner::TTreeScanner& s) {
        if (s.FileFound() == dir / "first.txt") {
            dir.write("second.txt", "grown since the folder was read");
        }
        handler(s);
    };
    walk(dir.path());
    // The size is the one listed; the comparison checks it again before any
    // file is confirmed.
    EXPECT_EQ(entries(), (std::vector<std::string>{"        1 first.txt @first.txt",
                                                   "        2 second.txt @second.txt"}));
}

TEST_F(FileCatalogueTest, MasterAndFilteredPassesKeepOnlyMatchesOfTheMaster)
{
    dir.write("master/a.doc", "12345");
    dir.write("master/b.doc", "123");
    dir.write("other/same-size.txt", "abcde");
    dir.write("other/b.doc", "1234567");
    dir.write("other/lonely.txt", "1234567890");

    catalogue.scanMode = ScanMode::Master;
    walk(dir / "master/");
    catalogue.scanMode = ScanMode::Filtered;
    walk(dir / "other/");
    std::vector<std::string> paths;
    for (const std::string& e : entries()) {
        paths.push_back(e.substr(e.find('@') + 1));
    }
    EXPECT_EQ(paths,
              (std::vector<std::string>{"master/b.doc", "master/a.doc", "other/same-size.txt"}));
    EXPECT_EQ(catalogue.MasterKeys.size(), 2u);

    // By name, a file matches the master whatever its size.
    catalogue.CheckFileSize = false;
    catalogue.scanMode = ScanMode::Master;
    catalogue.startScan();
    walk(dir / "master/");
    catalogue.scanMode = ScanMode::Filtered;
    walk(dir / "other/");
    paths.clear();
    for (const std::string& e : entries()) {
        paths.push_back(e.substr(e.find('@') + 1));
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"master/a.doc", "other/b.doc", "master/b.doc"}));
}

TEST_F(FileCatalogueTest, FoldersAreRecordedEvenWhenSkipped)
{
    dir.write("x/desktop.ini", "");
    dir.write("x/y/z.txt", "z");
    walk(dir.path());
    ASSERT_EQ(catalogue.Folders.size(), 3u);
    EXPECT_EQ(catalogue.Folders[1], dir / "x/");
    EXPECT_EQ(catalogue.Catalogue.folderOf(catalogue.Catalogue[0]), 2);
    catalogue.release();
    EXPECT_TRUE(catalogue.Folders.empty());
    EXPECT_TRUE(catalogue.Catalogue.empty());
}

TEST(CatalogueListTest, AFileReachedTwiceIsCountedOnceBeforeAnyRead)
{
    CatalogueList list;
    list.add(5, "first.jpg", 1, 10, 100);
    list.add(5, "copy.jpg", 2, 10, 200);
    list.add(5, "link.jpg", 3, 10, 100);   // the first file again
    list.add(5, "other.jpg", 4, 11, 100);  // same inode, other device
    EXPECT_EQ(list.added(), 4u);
    ASSERT_EQ(list.size(), 3u);
    // Read from the end, as the comparison does.
    std::vector<std::string> names;
    while (!list.empty()) {
        names.emplace_back(list.nameOf(list[list.size() - 1]));
        list.removeLast();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"other.jpg", "first.jpg", "copy.jpg"}));
}

TEST(CatalogueListTest, EachEntryKeepsItsFolderAndDeviceThroughTheSort)
{
    CatalogueList list;
    list.add(5, "b", 7, 10, 1);
    list.add(3, "a", 7, 11, 2);
    list.add(5, "", 9, 12, 3);  // an empty name still has a place of its own
    list.add(4, "c", 7, 10, 4);  // back in folder 7 after another
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < list.size(); ++i) {
        seen.push_back(std::string(list.nameOf(list[i])) + ":" +
                       std::to_string(list.folderOf(list[i])) + ":" +
                       std::to_string(list.deviceOf(list[i])));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a:7:11", "c:7:10", ":9:12", "b:7:10"}));
}

TEST(CatalogueListTest, ASortInSlicesWithTurnsGivesTheOrderOfOneInOneGo)
{
    for (const bool nameMode : {false, true}) {
        CatalogueList sliced;
        CatalogueList whole;
        sliced.setNameMode(nameMode);
        whole.setNameMode(nameMode);
        std::uint64_t random = 88172645463325252ull;
        for (std::uint32_t i = 0; i < 200000; ++i) {  // three slices and more
            random ^= random << 13;
            random ^= random >> 7;
            random ^= random << 17;
            // Many equal sizes and names: the order of additions decides among them.
            const std::string name = (random % 3 == 0 ? "N" : "n") + std::to_string(random % 997);
            const auto size = static_cast<std::int64_t>(random % 61);
            sliced.add(size, name, static_cast<std::int32_t>(i / 10), 1, i + 1);
            whole.add(size, name, static_cast<std::int32_t>(i / 10), 1, i + 1);
        }
        int turns = 0;
        sliced.sortNow([&turns] { ++turns; });
        ASSERT_EQ(sliced.size(), whole.size());
        EXPECT_GT(turns, 3);
        std::size_t differ = 0;
        std::size_t descending = 0;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            differ += sliced[i].name != whole[i].name ? 1 : 0;
            descending += !nameMode && i > 0 && whole[i].size < whole[i - 1].size ? 1 : 0;
        }
        EXPECT_EQ(differ, 0u);
        // Both sorts share their work with a helper thread: the order must
        // hold across the two parts too.
        EXPECT_EQ(descending, 0u);
    }
}
