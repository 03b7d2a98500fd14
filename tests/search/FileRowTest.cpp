// Tests of a file row's texts: size, type, time and versions.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/FileRow.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

#include "platform/FolderListing.h"
#include "support/TempFolder.h"

using namespace search;

namespace {

class FileRowTest : public ::testing::Test {
protected:
    TempFolder dir;
    text::Locale locale;

    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }

    FileRowFacts facts(const std::string& path, const TypeNameProvider& types = nullptr)
    {
        FileRowFacts result;
        EXPECT_TRUE(gatherFileRow(path, types, locale, result)) << path;
        return result;
    }
};

}  // namespace

TEST_F(FileRowTest, SizeIsPlainDigitsAndAZeroLengthFileShowsZero)
{
    EXPECT_EQ(facts(dir.write("empty", "")).subItems[0], "0");
    const std::string big = dir.write("big", "x");
    ASSERT_EQ(::truncate(big.c_str(), 1234567890123), 0);
    const FileRowFacts f = facts(big);
    EXPECT_EQ(f.subItems[0], "1234567890123");
    EXPECT_EQ(f.size, 1234567890123);
}

TEST_F(FileRowTest, TypeComesFromTheProviderOrFromTheExtension)
{
    const std::string path = dir.write("photo.jpeg", "");
    EXPECT_EQ(facts(path).subItems[1], "JPEG file");
    EXPECT_EQ(facts(path, [](const std::string&) { return "  JPEG image\t"; }).subItems[1],
              "JPEG image");
    EXPECT_EQ(
        facts(path, [](const std::string&) { return std::string(200, 'n'); }).subItems[1].size(),
        79u);
    EXPECT_EQ(facts(dir.write("notes", "")).subItems[1], "file");
    EXPECT_EQ(facts(dir.write("archive.tar.xyz", "")).subItems[1], "XYZ file");
    EXPECT_EQ(facts(dir.write(".bashrc", "")).subItems[1], "BASHRC file");
}

TEST_F(FileRowTest, MidnightShowsTheDateAloneAndSecondsNeverShow)
{
    dir.write("midnight", "");
    dir.touch("midnight", 1700006400);  // 2023-11-15 00:00:00 UTC
    EXPECT_EQ(facts(dir / "midnight").subItems[2], "2023/11/15");
    dir.touch("midnight", 1700006401);  // two-second resolution: still midnight
    EXPECT_EQ(facts(dir / "midnight").subItems[2], "2023/11/15");
    dir.touch("midnight", 1700006402);
    EXPECT_EQ(facts(dir / "midnight").subItems[2], "2023/11/15 00:00");
    dir.touch("midnight", 1700050259);  // 12:10:59
    EXPECT_EQ(facts(dir / "midnight").subItems[2], "2023/11/15 12:10");

    locale.dateSeparator = ".";
    locale.timeSeparator = "h";
    EXPECT_EQ(facts(dir / "midnight").subItems[2], "2023.11.15 12h10");
}

TEST_F(FileRowTest, AttributeLettersStandInTheirFixedPlaces)
{
    EXPECT_EQ(facts(dir.write("plain", "")).subItems[3], "    ");
    dir.write("locked", "");
    dir.chmod("locked", 0444);
    EXPECT_EQ(facts(dir / "locked").subItems[3], "R   ");
    dir.write(".hidden", "");
    dir.chmod(".hidden", 0400);
    EXPECT_EQ(facts(dir / ".hidden").subItems[3], "RH  ");
    EXPECT_EQ(attributeText(0x3F), "RHSA");
}

TEST_F(FileRowTest, VersionColumnsComeFromTheFirstTranslation)
{
    const FileRowFacts exe = facts(VERSION_FIXTURE_DIR "/app64.exe");
    EXPECT_EQ(exe.subItems[4], "1.2");
    EXPECT_EQ(exe.subItems[5], "3.4 beta");
    const FileRowFacts dll = facts(VERSION_FIXTURE_DIR "/lib32.dll");
    EXPECT_EQ(dll.subItems[4], "");
    EXPECT_EQ(dll.subItems[5], "");
}

TEST_F(FileRowTest, APathThatIsNotARegularFileGivesNoRow)
{
    FileRowFacts result;
    result.size = 77;
    EXPECT_FALSE(gatherFileRow(dir / "gone", nullptr, locale, result));
    EXPECT_FALSE(gatherFileRow(dir.mkdir("folder"), nullptr, locale, result));
    dir.write("target", "t");
    dir.symlink(dir / "target", "link");
    EXPECT_FALSE(gatherFileRow(dir / "link", nullptr, locale, result));
    EXPECT_EQ(result.size, 77);
}
