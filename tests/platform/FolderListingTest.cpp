// Tests of folder listing: masks, attributes and entries never listed.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderListing.h"

#include <algorithm>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempFolder.h"

using namespace platform;

namespace {

const FileEntry* find(const std::vector<FileEntry>& entries, const std::string& name)
{
    for (const FileEntry& e : entries) {
        if (e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace

TEST(FolderListingTest, MasksFollowTheWindowsRules)
{
    EXPECT_TRUE(matchesMask("readme", "*.*"));
    EXPECT_TRUE(matchesMask("a.b.c", "*.*"));
    EXPECT_TRUE(matchesMask("Report.TXT", "*.txt"));
    EXPECT_FALSE(matchesMask("report.txt.bak", "*.txt"));
    EXPECT_TRUE(matchesMask("notes", "notes.*"));
    EXPECT_TRUE(matchesMask("notes.md", "NOTES.*"));
    EXPECT_FALSE(matchesMask("notesx", "notes.*"));
    EXPECT_TRUE(matchesMask("a1.txt", "a?.txt"));
    EXPECT_FALSE(matchesMask("a.txt", "a?.txt"));
    EXPECT_TRUE(matchesMask("\xC3\xA9.txt", "?.txt"));  // one character, two bytes
    EXPECT_TRUE(matchesMask("my file.txt", "my file*"));
    EXPECT_TRUE(matchesMask("aXbXc", "a*b*c"));
    EXPECT_FALSE(matchesMask("aXbXd", "a*b*c"));
    EXPECT_FALSE(matchesMask("anything", ""));
}

TEST(FolderListingTest, AttributesMapOntoLinuxEntries)
{
    TempFolder dir;
    dir.write("plain.txt", "12345");
    dir.write(".hidden", "");
    dir.write("locked.txt", "x");
    dir.chmod("locked.txt", 0444);
    dir.mkdir("sub");
    dir.mkdir(".hiddendir");

    std::vector<FileEntry> entries;
    ASSERT_TRUE(readFolder(dir.path(), entries));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(find(entries, "plain.txt")->attributes, 0u);
    EXPECT_EQ(find(entries, "plain.txt")->size, 5);
    EXPECT_EQ(find(entries, ".hidden")->attributes, kAttrHidden);
    EXPECT_EQ(find(entries, "locked.txt")->attributes, kAttrReadOnly);
    EXPECT_EQ(find(entries, "sub")->attributes, kAttrDirectory);
    EXPECT_EQ(find(entries, ".hiddendir")->attributes, kAttrDirectory | kAttrHidden);
}

TEST(FolderListingTest, LinksFifosAndDotEntriesNeverAppear)
{
    TempFolder dir;
    dir.write("real.txt", "data");
    dir.mkdir("folder");
    dir.symlink(dir / "real.txt", "link-to-file");
    dir.symlink(dir / "folder", "link-to-folder");
    dir.symlink(dir / "nowhere", "dangling");
    dir.fifo("pipe");

    std::vector<FileEntry> entries;
    ASSERT_TRUE(readFolder(dir.path(), entries));
    std::vector<std::string> names;
    for (const FileEntry& e : entries) {
        names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder", "real.txt"}));

    // A link given as the folder itself is not followed either.
    entries.clear();
    EXPECT_FALSE(readFolder(dir / "link-to-folder/", entries));
    EXPECT_TRUE(entries.empty());
}

TEST(FolderListingTest, AMountPointIsASystemFolder)
{
    struct stat root = {};
    struct stat proc = {};
    if (::stat("/", &root) != 0 || ::stat("/proc", &proc) != 0 || root.st_dev == proc.st_dev) {
        GTEST_SKIP() << "/proc is not a separate file system here";
    }
    std::vector<FileEntry> entries;
    ASSERT_TRUE(readFolder("/", entries));
    const FileEntry* entry = find(entries, "proc");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->attributes & (kAttrSystem | kAttrDirectory), kAttrSystem | kAttrDirectory);
    // A request without the system bit filters it out.
    EXPECT_FALSE(passesRequest(entry->attributes, kAttrDirectory | kAttrHidden));
    EXPECT_TRUE(passesRequest(entry->attributes, kAttrAll));
}

TEST(FolderListingTest, ListingFiltersByPatternAndRequest)
{
    TempFolder dir;
    dir.write("a.txt", "");
    dir.write(".b.txt", "");
    dir.write("c.doc", "");
    EXPECT_EQ(listFolder(dir.path(), "*.txt", kAttrAll).size(), 2u);
    EXPECT_EQ(listFolder(dir.path(), "*.txt", 0).size(), 1u);
    EXPECT_EQ(listFolder(dir.path(), "*.*", kAttrHidden).size(), 3u);
    EXPECT_TRUE(listFolder(dir / "missing/", "*.*", kAttrAll).empty());
}

TEST(FolderListingTest, EntryQueryAcceptsOnlyRegularFiles)
{
    TempFolder dir;
    dir.write("file.bin", std::string(70000, 'z'));
    dir.mkdir("folder");
    dir.symlink(dir / "file.bin", "link");
    dir.fifo("pipe");

    FileEntry entry;
    ASSERT_TRUE(queryFileEntry(dir / "file.bin", entry));
    EXPECT_EQ(entry.name, "file.bin");
    EXPECT_EQ(entry.size, 70000);
    EXPECT_FALSE(queryFileEntry(dir / "folder", entry));
    EXPECT_FALSE(queryFileEntry(dir / "link", entry));
    EXPECT_FALSE(queryFileEntry(dir / "pipe", entry));
    EXPECT_FALSE(queryFileEntry(dir / "gone", entry));

    EXPECT_TRUE(fileExists(dir / "file.bin"));
    EXPECT_FALSE(fileExists(dir / "folder"));
    EXPECT_TRUE(fileExistsIn(dir.path(), "file.bin"));
    EXPECT_FALSE(fileExistsIn(dir.path(), "FILE.BIN"));
}

TEST(FolderListingTest, TimesConvertToDosAndFileTimes)
{
    // 1601 to 1970 is 11644473600 seconds.
    EXPECT_EQ(fileTimeTicks(0, 0), 116444736000000000ull);
    EXPECT_EQ(fileTimeTicks(1, 250), 116444736010000002ull);
    EXPECT_EQ(fileTimeTicks(-11644473601, 0), 0u);

    ::setenv("TZ", "UTC", 1);
    ::tzset();
    // 2001-02-03 04:05:07 UTC: seconds go in steps of two.
    const std::uint32_t packed = packedDosTime(981173107);
    EXPECT_EQ(packed >> 16, static_cast<std::uint32_t>(((2001 - 1980) << 9) | (2 << 5) | 3));
    EXPECT_EQ(packed & 0xFFFF, static_cast<std::uint32_t>((4 << 11) | (5 << 5) | 3));
    EXPECT_EQ(packedDosTime(0), 0u);  // 1970 is before the MS-DOS epoch
}

TEST(FolderListingTest, PathPartsSplitAtTheLastSlash)
{
    EXPECT_EQ(nameOf("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(folderOf("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(nameOf("/a/b/"), "");
    EXPECT_EQ(folderOf("plain"), "");
    EXPECT_EQ(programFilePath().empty(), false);
}
