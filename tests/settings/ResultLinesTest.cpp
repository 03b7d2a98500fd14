#include "settings/ResultLines.h"

#include <gtest/gtest.h>

using namespace settings;

TEST(ResultLinesTest, FileRowsQuoteTheCaptionAndWriteSubItemsAsCommaText)
{
    const ResultRow row{"/home/ann/My Photos/a.jpg",
                        {"1234", "JPEG image", "2024/01/02 03:04", "   A", "", "1.0"}};
    EXPECT_EQ(
        formatResultLine(row),
        "\"/home/ann/My Photos/a.jpg\",1234,\"JPEG image\",\"2024/01/02 03:04\",\"   A\",,1.0");
    EXPECT_EQ(formatResultLine({"Duplicate files .....", {}}), "\"Duplicate files .....\"");
    EXPECT_EQ(formatResultLine({"", {}}), "\"\"");
}

TEST(ResultLinesTest, LinesReadBackToTheSameRowsButTrimmedSubItems)
{
    const ResultRow row{" /odd,path \"quoted\" ", {"5", "TXT file", "2024/01/02", "R  A", "", ""}};
    const auto line = formatResultLine(row);
    ASSERT_TRUE(line.has_value());
    const ResultRow back = parseResultLine(*line);
    EXPECT_EQ(back.caption, row.caption);  // blanks and quotes of a path survive
    // The empty last sub-item is lost, the Attr text trimmed.
    EXPECT_EQ(back.subItems, (std::vector<std::string>{"5", "TXT file", "2024/01/02", "R  A", ""}));

    EXPECT_EQ(parseResultLine("\"\"").caption, "");
    EXPECT_TRUE(parseResultLine("\"Duplicate files .....\"").subItems.empty());
    EXPECT_EQ(parseResultLine("").caption, "");
}

TEST(ResultLinesTest, ACaptionWithALineBreakCannotBeALine)
{
    EXPECT_FALSE(formatResultLine({"/tmp/two\nlines", {"1"}}).has_value());
    EXPECT_FALSE(formatResultLine({"/tmp/cr\r", {"1"}}).has_value());
}

TEST(ResultLinesTest, NamesThatAreNotUtf8KeepTheirBytes)
{
    const ResultRow row{"/data/caf\xE9.txt", {"3"}};
    EXPECT_EQ(parseResultLine(*formatResultLine(row)).caption, row.caption);
}

TEST(ResultLinesTest, OnlyPathsGoToTheNewDuplicatesList)
{
    EXPECT_TRUE(isFilePath("/a"));
    EXPECT_FALSE(isFilePath("Duplicate files ....."));
    EXPECT_FALSE(isFilePath(""));
    EXPECT_FALSE(isFilePath("/"));
}
