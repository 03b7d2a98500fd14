// Tests of result rows written as list file lines and read back.
// SPDX-License-Identifier: GPL-3.0-or-later
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

TEST(ResultLinesTest, AGroupLeftWithOneFileByALineBreakIsLeftOutWhole)
{
    const std::vector<std::string> facts = {"3", "BIN file", "2024/01/02 03:04", "", "", ""};
    const std::vector<ResultRow> rows = {
        {"Duplicate files .....", {}},
        {"/a/line\nbreak", facts},
        {"/b/copy", facts},
        {"", {}},
        {"Duplicate files .....", {}},
        {"/c/one", facts},
        {"/c/line\rbreak", facts},
        {"/c/two", facts},
        {"", {}},
        {"Duplicate files .....", {}},
        {"/d/x", facts},
        {"/d/y", facts},
    };
    std::vector<std::size_t> kept;
    const std::vector<std::string> lines = formatResultLines(rows, &kept);
    // The first group is gone with its header; no separator opens the list.
    EXPECT_EQ(kept, (std::vector<std::size_t>{4, 5, 7, 8, 9, 10, 11}));
    ASSERT_EQ(lines.size(), kept.size());
    EXPECT_EQ(lines[0], "\"Duplicate files .....\"");
    EXPECT_EQ(parseResultLine(lines[2]).caption, "/c/two");

    // Nothing left out: every row, in order.
    const std::vector<ResultRow> plain(rows.begin() + 9, rows.end());
    EXPECT_EQ(formatResultLines(plain).size(), 3u);
}

TEST(ResultLinesTest, ALineReadForTheListKeepsOnlyTheSubItemsItShows)
{
    ResultRow row{"left over", {"x", "y"}};
    const std::string line =
        "\"/a b\",1, \"TXT file\" ,2024/01/02,\"   A\",,,7,8,9" + std::string(100000, ',');
    EXPECT_EQ(parseResultLine(line, row, 6), 100009u);  // the last comma opens no field
    EXPECT_EQ(row.caption, "/a b");
    EXPECT_EQ(row.subItems, (std::vector<std::string>{"1", "TXT file", "2024/01/02", "A", "", ""}));
    EXPECT_EQ(parseResultLine("\"\"", row, 6), 1u);
    EXPECT_EQ(row.caption, "");
    EXPECT_TRUE(row.subItems.empty());
}

TEST(ResultLinesTest, ListsWrittenFromARowSourceAreTheListsOfItsRows)
{
    const std::vector<std::string> facts = {"3", "BIN file", "", "", "", ""};
    const std::vector<ResultRow> rows = {
        {"", {}}, {"Duplicate files .....", {}}, {"/a/one", facts},         {"/a/two", facts},
        {"", {}}, {"Duplicate files .....", {}}, {"/b/line\nbreak", facts}, {"/b/two", facts},
    };
    class Source : public ResultRowSource {
    public:
        explicit Source(const std::vector<ResultRow>& rows) : m_rows(rows) {}
        std::size_t rowCount() const override { return m_rows.size(); }
        void readRow(std::size_t index, ResultRow& row) const override { row = m_rows[index]; }

    private:
        const std::vector<ResultRow>& m_rows;
    } source(rows);
    std::vector<std::size_t> indexes;
    std::vector<std::string> lines;
    forEachResultLine(source,
                      [&](std::size_t index, const ResultRow& row, const std::string& line) {
                          EXPECT_EQ(row.caption, rows[index].caption);
                          indexes.push_back(index);
                          lines.push_back(line);
                      });
    std::vector<std::size_t> kept;
    EXPECT_EQ(lines, formatResultLines(rows, &kept));
    EXPECT_EQ(indexes, kept);
    EXPECT_EQ(indexes, (std::vector<std::size_t>{1, 2, 3}));
}
