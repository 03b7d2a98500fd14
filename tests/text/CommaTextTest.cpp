// Tests of comma text: separators, quoting and joining.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/CommaText.h"

#include <gtest/gtest.h>

using text::formatCommaText;
using text::parseCommaText;
using Items = std::vector<std::string>;

TEST(CommaTextTest, BlanksAndCommasBothSeparateItems)
{
    EXPECT_EQ(parseCommaText("*.txt *.doc"), (Items{"*.txt", "*.doc"}));
    EXPECT_EQ(parseCommaText("  *.txt ,  *.doc  "), (Items{"*.txt", "*.doc"}));
    EXPECT_EQ(parseCommaText("a\tb\nc"), (Items{"a", "b", "c"}));
}

TEST(CommaTextTest, OnlyOneCommaIsConsumedSoTwoInARowGiveAnEmptyItem)
{
    EXPECT_EQ(parseCommaText("a,,b"), (Items{"a", "", "b"}));
    EXPECT_EQ(parseCommaText("a , , b"), (Items{"a", "", "b"}));
    EXPECT_EQ(parseCommaText(",b"), (Items{"", "b"}));
    // A comma at the very end opens no item.
    EXPECT_EQ(parseCommaText("a,"), (Items{"a"}));
}

TEST(CommaTextTest, QuotedItemsKeepBlanksCommasAndDoubledQuotes)
{
    EXPECT_EQ(parseCommaText("\"my file*.txt\",*.doc"), (Items{"my file*.txt", "*.doc"}));
    EXPECT_EQ(parseCommaText("\"say \"\"hi\"\", now\""), (Items{"say \"hi\", now"}));
    EXPECT_EQ(parseCommaText("\"\""), (Items{""}));
    // Text right after a closing quote starts the next item.
    EXPECT_EQ(parseCommaText("\"ab\"cd"), (Items{"ab", "cd"}));
}

TEST(CommaTextTest, UnterminatedQuoteTakesTheRestOfTheText)
{
    EXPECT_EQ(parseCommaText("a,\"b, c"), (Items{"a", "b, c"}));
    EXPECT_EQ(parseCommaText("\""), (Items{""}));
}

TEST(CommaTextTest, TextAfterAZeroByteIsIgnored)
{
    EXPECT_EQ(parseCommaText(std::string("a,b\0,c", 6)), (Items{"a", "b"}));
    EXPECT_TRUE(parseCommaText(std::string("\0a", 2)).empty());
    EXPECT_TRUE(parseCommaText("   ").empty());
}

TEST(CommaTextTest, KeepingAFewItemsCountsThemAll)
{
    Items items = {"left over"};
    EXPECT_EQ(parseCommaText("a,\"b,c\",,d e", items, 2), 5u);
    EXPECT_EQ(items, (Items{"a", "b,c"}));
    EXPECT_EQ(parseCommaText(std::string(1000, ','), items, 3), 1000u);
    EXPECT_EQ(items, (Items{"", "", ""}));
    EXPECT_EQ(parseCommaText("x", items, 0), 1u);
    EXPECT_TRUE(items.empty());
}

TEST(CommaTextTest, FormattingQuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(formatCommaText({"*.doc", "my file*.txt"}), "*.doc,\"my file*.txt\"");
    EXPECT_EQ(formatCommaText({"a\"b"}), "\"a\"\"b\"");
    EXPECT_EQ(formatCommaText({"a,b", "c"}), "\"a,b\",c");
    EXPECT_EQ(formatCommaText({std::string("tab\there")}), "\"tab\there\"");
    EXPECT_EQ(formatCommaText({"a", "", "b"}), "a,,b");
    EXPECT_EQ(formatCommaText({}), "");
}

TEST(CommaTextTest, ASingleEmptyItemIsWrittenAsAPairOfQuotes)
{
    EXPECT_EQ(formatCommaText({""}), "\"\"");
    EXPECT_EQ(formatCommaText({"", ""}), ",");
}

TEST(CommaTextTest, FormattedTextParsesBackToTheSameItems)
{
    const std::vector<Items> cases = {
        {"plain"},
        {"with blank", "with,comma", "with\"quote", "\xC3\xA9t\xC3\xA9"},
        {""},
        {"a", "", "b"},
        {"\"", "\"\"", " lead", "trail "},
    };
    for (const Items& items : cases) {
        EXPECT_EQ(parseCommaText(formatCommaText(items)), items) << formatCommaText(items);
    }
}
