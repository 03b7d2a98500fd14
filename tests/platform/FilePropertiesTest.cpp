// Tests of a file's facts and their texts for the properties dialog.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileProperties.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/FolderListing.h"
#include "support/TempFolder.h"

using namespace platform;

TEST(FilePropertiesTest, SizeTextShowsTheUnitAndTheExactCount)
{
    const text::Locale english;
    EXPECT_EQ(SizeText(0, english), "0 bytes (0 bytes)");
    EXPECT_EQ(SizeText(1023, english), "1,023 bytes (1,023 bytes)");
    EXPECT_EQ(SizeText(1024, english), "1.00 KB (1,024 bytes)");
    EXPECT_EQ(SizeText(1048575, english), "1,024.00 KB (1,048,575 bytes)");
    EXPECT_EQ(SizeText(1048576, english), "1.00 MB (1,048,576 bytes)");
    EXPECT_EQ(SizeText(1073741824, english), "1.00 GB (1,073,741,824 bytes)");
    EXPECT_EQ(SizeText(5ull << 40, english), "5,120.00 GB (5,497,558,138,880 bytes)");

    text::Locale german;
    german.thousandSeparator = ".";
    german.decimalSeparator = ",";
    EXPECT_EQ(SizeText(1536, german), "1,50 KB (1.536 bytes)");
}

TEST(FilePropertiesTest, CompressedSizeStopsAtMegabytes)
{
    const text::Locale english;
    EXPECT_EQ(CompressedSizeText(1023, english), "1023 bytes (1,023 bytes)");
    EXPECT_EQ(CompressedSizeText(2048, english), "2.00 KB (2,048 bytes)");
    EXPECT_EQ(CompressedSizeText(3ull << 30, english), "3,072.00 MB (3,221,225,472 bytes)");
}

TEST(FilePropertiesTest, FileTimesAreShownInUtcWithMonthNames)
{
    text::Locale locale;
    EXPECT_EQ(FileTimeText(0, locale), "(unknown)");
    EXPECT_EQ(FileDateText(0, locale), "(unknown)");
    // 2001-02-03 04:05:06.7 UTC
    const std::uint64_t t = fileTimeTicks(981173106, 700000000);
    EXPECT_EQ(FileTimeText(t, locale), "2001-Feb-03 04:05:06");
    EXPECT_EQ(FileDateText(t, locale), "2001-Feb-03");
    // A low half with its top bit set counts as unsigned.
    const std::uint64_t high = (static_cast<std::uint64_t>(0x01C00000) << 32) | 0x80000000u;
    EXPECT_EQ(FileTimeText(high, locale), "2000-Aug-06 23:46:11");  // signed: 23:39:01
    locale.shortMonths[1] = "Fév";
    locale.timeSeparator = ".";
    EXPECT_EQ(FileTimeText(t, locale), "2001-Fév-03 04.05.06");
    EXPECT_EQ(FileTimeText(1, locale), "1601-Jan-01 00.00.00");
}

TEST(FilePropertiesTest, TypeTextIsTheExtensionInUpperCase)
{
    EXPECT_EQ(TypeText("/x/archive.xyz"), "XYZ file");
    EXPECT_EQ(TypeText("/x/notes"), " file");
    EXPECT_EQ(TypeText("/x.d/notes"), " file");
}

TEST(FilePropertiesTest, FactsComeFromOneEntryQuery)
{
    TempFolder dir;
    dir.write(".hidden.txt", std::string(5000, 'h'));
    dir.chmod(".hidden.txt", 0444);
    dir.touch(".hidden.txt", 1000000000);
    FileProperties facts;
    ASSERT_TRUE(gatherFileProperties(dir / ".hidden.txt", facts));
    EXPECT_EQ(facts.longName, ".hidden.txt");
    EXPECT_EQ(facts.shortName, "");
    EXPECT_EQ(facts.size, 5000u);
    EXPECT_EQ(facts.attributes & (kAttrHidden | kAttrReadOnly), kAttrHidden | kAttrReadOnly);
    EXPECT_EQ(facts.lastWriteTime, fileTimeTicks(1000000000, 0));
    EXPECT_TRUE(facts.hasCompressedSize);
    EXPECT_GE(facts.compressedSize, 4096u);
    EXPECT_TRUE(facts.versionBlock.empty());

    ASSERT_TRUE(gatherFileProperties(VERSION_FIXTURE_DIR "/app64.exe", facts));
    EXPECT_FALSE(facts.versionBlock.empty());
    EXPECT_EQ(facts.attributes & kAttrHidden, 0u);

    EXPECT_FALSE(gatherFileProperties(dir / "missing", facts));
    EXPECT_FALSE(gatherFileProperties(dir.mkdir("folder"), facts));
    dir.symlink(dir / ".hidden.txt", "link");
    EXPECT_FALSE(gatherFileProperties(dir / "link", facts));
}
