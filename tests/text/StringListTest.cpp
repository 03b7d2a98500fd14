// Tests of the string list: order, repeats, lookup and list files.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/StringList.h"

#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

#include "text/Text.h"
#include "support/TempFolder.h"

using text::StringList;

namespace {

// The designed list, one binary-search insertion at a time, to hold the
// batched list against.
struct InsertingList {
    StringList::Repeats repeats;
    std::vector<std::pair<std::string, int>> entries;

    void add(const std::string& text, int tag)
    {
        auto less = [](const std::pair<std::string, int>& e, const std::string& v) {
            return text::compareOrder(e.first, v) < 0;
        };
        auto at = std::lower_bound(entries.begin(), entries.end(), text, less);
        if (repeats == StringList::Repeats::IgnoreFolded) {
            for (const auto& e : entries) {
                if (text::equalFold(e.first, text)) {
                    return;
                }
            }
        }
        if (repeats == StringList::Repeats::IgnoreExact && at != entries.end() &&
            at->first == text) {
            return;
        }
        entries.insert(at, {text, tag});
    }
};

std::vector<std::string> contents(const StringList& list)
{
    return list.strings();
}

}  // namespace

TEST(StringListTest, SortedListOrdersIgnoringCaseThenByBytes)
{
    StringList list(StringList::Order::Sorted);
    for (const char* s : {"b", "a.txt", "A.txt", "_x", "Z", "\xC3\xA9"}) {
        list.add(s);
    }
    // Letters fold to upper case, so '_' (0x5F) sorts after 'Z' (0x5A);
    // bytes above 0x7F come last.
    EXPECT_EQ(contents(list),
              (std::vector<std::string>{"A.txt", "a.txt", "b", "Z", "_x", "\xC3\xA9"}));
}

TEST(StringListTest, AnAdditionGoesBeforeTheEntriesEqualToIt)
{
    StringList list(StringList::Order::Sorted);
    list.add("same", 1);
    list.add("other", 9);
    list.add("same", 2);
    EXPECT_EQ(list.strings().size(), 3u);  // settle once
    list.add("same", 3);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0], "other");
    EXPECT_EQ(list.tag(1), 3);
    EXPECT_EQ(list.tag(2), 2);
    EXPECT_EQ(list.tag(3), 1);
}

TEST(StringListTest, IgnoringRepeatsKeepsTheFirstAddition)
{
    StringList folded(StringList::Order::Sorted, StringList::Repeats::IgnoreFolded);
    folded.add("*.txt", 1);
    folded.add("*.TXT", 2);
    folded.add("*.txt", 3);
    ASSERT_EQ(folded.size(), 1u);
    EXPECT_EQ(folded[0], "*.txt");
    EXPECT_EQ(folded.tag(0), 1);

    // Names and paths: only exact repeats are dropped, a.txt and A.txt stay.
    StringList exact(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    exact.add("a.txt");
    exact.add("A.txt");
    exact.add("a.txt");
    EXPECT_EQ(contents(exact), (std::vector<std::string>{"A.txt", "a.txt"}));
}

TEST(StringListTest, BatchedAdditionsGiveTheOrderOfOneByOneInsertion)
{
    std::mt19937 random(7);
    const char* words[] = {"a", "A", "ab", "aB", "b", "B", "a b", "a_b", "", "\xFF", "abc"};
    for (auto repeats : {StringList::Repeats::Accept, StringList::Repeats::IgnoreFolded,
                         StringList::Repeats::IgnoreExact}) {
        StringList list(StringList::Order::Sorted, repeats);
        InsertingList model{repeats, {}};
        for (int i = 0; i < 2000; ++i) {
            const std::string word = words[random() % std::size(words)];
            list.add(word, i);
            model.add(word, i);
            if (random() % 97 == 0) {
                ASSERT_EQ(list.size(), model.entries.size());  // settles mid-way
            }
        }
        ASSERT_EQ(list.size(), model.entries.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i], model.entries[i].first);
            EXPECT_EQ(list.tag(i), model.entries[i].second) << "at " << i;
        }
    }
}

TEST(StringListTest, LookupIgnoresCaseInSortedAndUnsortedLists)
{
    StringList sorted(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    StringList unsorted;
    for (const char* s : {"/home/Ann/x.txt", "/home/bob/y.txt", "/srv/z"}) {
        sorted.add(s);
        unsorted.add(s);
    }
    for (const StringList* list : {&sorted, &unsorted}) {
        EXPECT_TRUE(list->containsFolded("/HOME/ann/X.TXT"));
        EXPECT_TRUE(list->containsFolded("/srv/z"));
        EXPECT_FALSE(list->containsFolded("/srv/z/"));
        EXPECT_FALSE(list->containsFolded("/srv"));
    }
    EXPECT_EQ(unsorted[0], "/home/Ann/x.txt");  // unsorted keeps its order
}

TEST(StringListTest, SavedLinesEndWithCrLfAndLoadAcceptsEveryLineEnd)
{
    TempFolder dir;
    StringList list;
    list.add("first");
    list.add("");
    list.add("third line");
    ASSERT_TRUE(list.saveToFile(dir / "list.txt"));
    EXPECT_EQ(dir.read("list.txt"), "first\r\n\r\nthird line\r\n");

    dir.write("mixed.txt", std::string("a\rb\nc\r\nd\r\n\ne\0ignored\r\nmore", 26));
    StringList loaded;
    ASSERT_TRUE(loaded.loadFromFile(dir / "mixed.txt"));
    EXPECT_EQ(contents(loaded), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));

    dir.write("last.txt", "x\r\ny");
    ASSERT_TRUE(loaded.loadFromFile(dir / "last.txt"));
    EXPECT_EQ(contents(loaded), (std::vector<std::string>{"x", "y"}));

    dir.write("empty.txt", "");
    ASSERT_TRUE(loaded.loadFromFile(dir / "empty.txt"));
    EXPECT_TRUE(loaded.empty());
}

TEST(StringListTest, LoadingAMissingFileOrAFifoFailsAndKeepsTheList)
{
    TempFolder dir;
    dir.fifo("pipe");
    StringList list;
    list.add("kept");
    EXPECT_FALSE(list.loadFromFile(dir / "missing"));
    EXPECT_FALSE(list.loadFromFile(dir / "pipe"));  // must not block
    EXPECT_EQ(contents(list), (std::vector<std::string>{"kept"}));
}

TEST(StringListTest, AFailedSaveLeavesTheEarlierFileWhole)
{
    TempFolder dir;
    dir.write("list.txt", "good\r\n");
    dir.chmod(".", 0555);  // the temporary file cannot be made
    const int result = runWithoutPrivileges([&] {
        StringList list;
        list.add("new");
        return list.saveToFile(dir / "list.txt") ? 1 : 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dir.read("list.txt"), "good\r\n");
}
