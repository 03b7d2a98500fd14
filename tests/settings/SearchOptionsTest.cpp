// Tests of the search settings: defaults, order and stored values.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SearchOptions.h"

#include <gtest/gtest.h>

using namespace settings;

namespace {

// Records the order in which values reach the controls.
class RecordingTarget : public SettingsTarget {
public:
    std::vector<std::string> order;
    SearchOptions options;

    void setText(const std::string& name, const std::string&) override { order.push_back(name); }
    void setFlag(const std::string& name, bool) override { order.push_back(name); }
};

}  // namespace

TEST(SearchOptionsTest, AnEmptyStoreGivesTheDefaults)
{
    MemoryStore store;
    const SearchOptions options = LoadSettings(store);
    EXPECT_EQ(options.FoldersToIgnore, "");
    EXPECT_EQ(options.FileMask, "*.*");
    EXPECT_EQ(options.RootFolder, "/");
    EXPECT_TRUE(options.FloppyIsMaster);
    EXPECT_TRUE(options.SkipSysbckupFolder);
    EXPECT_TRUE(options.CheckFileStamp);
    EXPECT_FALSE(options.CheckFileName);
    EXPECT_TRUE(options.CheckFileSize);
    EXPECT_TRUE(options.SkipEmptyFiles);
    EXPECT_TRUE(options.SkipDesktopFolders);
    EXPECT_FALSE(options.IncludeHiddenFolders);
}

TEST(SearchOptionsTest, ValuesAreReadAndWrittenInTheStoredOrder)
{
    MemoryStore store;
    RecordingTarget target;
    LoadSettings(store, target);
    const std::vector<std::string> expected = {
        "FoldersToIgnore",    "FileMask",          "RootFolder",    "FloppyIsMaster",
        "SkipSysbckupFolder", "CheckFileStamp",    "CheckFileName", "CheckFileSize",
        "SkipEmptyFiles",     "SkipDesktopFolders", "SkipTrashFolders", "UseCache",
        "IncludeHiddenFolders"};
    EXPECT_EQ(target.order, expected);

    SearchOptions options;
    options.FileMask = "*.jpg,*.png";
    options.CheckFileName = true;
    options.SkipEmptyFiles = false;
    EXPECT_EQ(SaveSettings(store, options), "");
    EXPECT_EQ(store.valueCount(), 13u);
    EXPECT_EQ(store.value("FileMask"), "*.jpg,*.png");
    EXPECT_EQ(store.value("CheckFileName"), "1");
    EXPECT_EQ(store.value("SkipEmptyFiles"), "0");
    EXPECT_EQ(store.value("RootFolder"), "/");

    const SearchOptions back = LoadSettings(store);
    EXPECT_EQ(back.FileMask, "*.jpg,*.png");
    EXPECT_TRUE(back.CheckFileName);
    EXPECT_FALSE(back.SkipEmptyFiles);
}

TEST(SearchOptionsTest, FlagsReadAsWholeNumbersWithTheDefaultForAnythingElse)
{
    MemoryStore store;
    store.write("CheckFileName", "2");        // any non-zero number is true
    store.write("SkipEmptyFiles", "0");       // zero is false
    store.write("CheckFileStamp", "-1");      // negative is true too
    store.write("FloppyIsMaster", "yes");     // letters: default (true)
    store.write("SkipSysbckupFolder", "");    // empty: default (true)
    store.write("SkipDesktopFolders", "1x");  // trailing letters: default
    const SearchOptions options = LoadSettings(store);
    EXPECT_TRUE(options.CheckFileName);
    EXPECT_FALSE(options.SkipEmptyFiles);
    EXPECT_TRUE(options.CheckFileStamp);
    EXPECT_TRUE(options.FloppyIsMaster);
    EXPECT_TRUE(options.SkipSysbckupFolder);
    EXPECT_TRUE(options.SkipDesktopFolders);
}

TEST(SearchOptionsTest, AStoredEmptyTextStaysEmpty)
{
    MemoryStore store;
    store.write("FileMask", "");
    store.write("RootFolder", "");
    const SearchOptions options = LoadSettings(store);
    EXPECT_EQ(options.FileMask, "");
    EXPECT_EQ(options.RootFolder, "");
}

TEST(SearchOptionsTest, AStoredSizeOfZeroForcesSameNameAndAnyTime)
{
    MemoryStore store;
    store.write("CheckFileSize", "0");
    store.write("CheckFileName", "0");
    store.write("CheckFileStamp", "1");
    const SearchOptions options = LoadSettings(store);
    EXPECT_FALSE(options.CheckFileSize);
    EXPECT_TRUE(options.CheckFileName);
    EXPECT_FALSE(options.CheckFileStamp);
}

TEST(SearchOptionsTest, AValueOfTheWrongTypeGivesItsDefaultAndIsNamed)
{
    MemoryStore store;
    store.setWrongType("FileMask");
    store.setWrongType("CheckFileSize");
    store.write("RootFolder", "/home/");
    RecordingTarget target;
    EXPECT_EQ(LoadSettings(store, target), "FileMask, CheckFileSize");
    const SearchOptions options = LoadSettings(store);
    EXPECT_EQ(options.FileMask, "*.*");
    EXPECT_TRUE(options.CheckFileSize);
    EXPECT_EQ(options.RootFolder, "/home/");
}

TEST(SearchOptionsTest, AFailedWriteStopsAndNamesTheValue)
{
    MemoryStore store;
    store.failWritesOf("CheckFileStamp");
    EXPECT_EQ(SaveSettings(store, SearchOptions()), "Failed to set data for 'CheckFileStamp'");
    // Values written before it stay written.
    EXPECT_TRUE(store.value("SkipSysbckupFolder").has_value());
    EXPECT_FALSE(store.value("CheckFileName").has_value());
}
