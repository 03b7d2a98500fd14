// Tests of reading a file line by line.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/LineReader.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "text/StringList.h"
#include "support/TempFolder.h"

using text::LineReader;

namespace {

std::vector<std::string> readAll(const std::string& path)
{
    LineReader reader;
    std::vector<std::string> lines;
    if (!reader.open(path)) {
        return {"(cannot open)"};
    }
    std::string line;
    while (reader.next(line)) {
        lines.push_back(line);
    }
    EXPECT_FALSE(reader.failed());
    return lines;
}

}  // namespace

class LineReaderTest : public ::testing::Test {
protected:
    TempFolder dir;
};

TEST_F(LineReaderTest, LinesEndAsSplitLinesEndsThem)
{
    const std::vector<std::string> texts = {
        "a\r\nb\nc\rd", "a\n\nb\r\n\r\n", "", "\r\n", "one", "a\0b\nc", "x\r", "\n\n", "a\rb",
    };
    for (const std::string& text : texts) {
        const std::string path = dir.write("list", text);
        EXPECT_EQ(readAll(path), text::splitLines(text)) << text;
    }
    const std::string zero("first\nsec\0ond\nthird", 19);
    EXPECT_EQ(readAll(dir.write("zero", zero)), (std::vector<std::string>{"first", "sec"}));
}

TEST_F(LineReaderTest, LinesAndLineEndsThatCrossABlockAreWhole)
{
    // The reader takes the file 64 KiB at a time: a CR LF split between two
    // blocks is one line end, and a long line is one line.
    std::string text(65535, 'a');
    text += "\r\nb\n";
    text += std::string(200000, 'c');
    text += "\nd";
    const std::vector<std::string> lines = readAll(dir.write("list", text));
    EXPECT_EQ(lines, text::splitLines(text));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2].size(), 200000u);
}

TEST_F(LineReaderTest, OnlyRegularFilesAreRead)
{
    LineReader reader;
    EXPECT_FALSE(reader.open(dir / "missing"));
    EXPECT_EQ(errno, ENOENT);
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LineReader fromFifo;
    EXPECT_FALSE(fromFifo.open(fifo));  // never waits for a writer
    LineReader fromFolder;
    EXPECT_FALSE(fromFolder.open(dir.path()));
}

TEST_F(LineReaderTest, ProgressCountsTheBytesTaken)
{
    LineReader reader;
    ASSERT_TRUE(reader.open(dir.write("list", "ab\r\ncd\n")));
    EXPECT_EQ(reader.size(), 7u);
    std::string line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(reader.consumed(), 4u);
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(reader.consumed(), 7u);
    EXPECT_FALSE(reader.next(line));
}
