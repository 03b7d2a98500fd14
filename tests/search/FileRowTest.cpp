// Tests of a file row's texts (size, type, time, versions) and of their gathering aside.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/FileRow.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

#include "platform/FolderListing.h"
#include "search/FileRowGatherer.h"
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

namespace {

PendingRow pendingRow(int kind, bool isFile, const std::string& text)
{
    PendingRow row;
    row.kind = kind;
    row.isFile = isFile;
    row.text = text;
    return row;
}

}  // namespace

TEST_F(FileRowTest, TheGathererHandsRowsBackInTheirOrderAndAGoneFileAsNotFound)
{
    FileRowGatherer gatherer(locale);
    std::vector<std::string> expected;
    for (int i = 0; i < 500; ++i) {
        const std::string name = "f" + std::to_string(i);
        // Every seventh file is gone before its facts are gathered.
        const std::string path = i % 7 == 0 ? dir / name : dir.write(name, std::string(i, 'x'));
        gatherer.add(pendingRow(0, true, path));
        expected.push_back(path);
        if (i % 100 == 0) {
            gatherer.add(pendingRow(1, false, "header " + std::to_string(i)));
            expected.push_back("header " + std::to_string(i));
        }
    }
    std::vector<PendingRow> rows;
    while (rows.size() < expected.size()) {
        gatherer.waitReady(std::chrono::milliseconds(100));
        for (PendingRow& row : gatherer.takeReady()) {
            rows.push_back(std::move(row));
        }
    }
    EXPECT_EQ(gatherer.pending(), 0u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].text, expected[i]);
        if (rows[i].isFile) {
            const std::size_t n = std::stoul(rows[i].text.substr(rows[i].text.rfind('f') + 1));
            EXPECT_EQ(rows[i].found, n % 7 != 0) << rows[i].text;
            EXPECT_EQ(rows[i].facts.size, rows[i].found ? static_cast<std::int64_t>(n) : 0);
        } else {
            EXPECT_EQ(rows[i].kind, 1);
        }
    }
}

TEST_F(FileRowTest, TheGathererClearedWhileGatheringHandsBackOnlyLaterRows)
{
    FileRowGatherer gatherer(locale);
    const std::string file = dir.write("a", "a");
    for (int i = 0; i < 5000; ++i) {
        gatherer.add(pendingRow(0, true, file));
    }
    gatherer.clear();
    EXPECT_EQ(gatherer.pending(), 0u);
    gatherer.add(pendingRow(2, false, "after"));
    std::vector<PendingRow> rows;
    for (int wait = 0; wait < 100 && rows.empty(); ++wait) {
        gatherer.waitReady(std::chrono::milliseconds(20));
        rows = gatherer.takeReady();
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text, "after");
    EXPECT_EQ(gatherer.pending(), 0u);
}
