// Tests of the version reader on real and crafted executables.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "versioninfo/VersionResource.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "versioninfo/VersionBlockWriter.h"
#include "support/MiniPe.h"
#include "support/TempFolder.h"

using namespace versioninfo;

namespace {

const std::string kFixtures = VERSION_FIXTURE_DIR "/";

std::string fixtureBytes(const std::string& name)
{
    std::string bytes;
    EXPECT_TRUE(platform::readWholeFile(kFixtures + name, bytes)) << name;
    return bytes;
}

std::vector<std::uint8_t> blockOf(const std::string& path)
{
    std::vector<std::uint8_t> block;
    readVersionBlock(path, block);
    return block;
}

VersionBlockContents sampleContents()
{
    VersionBlockContents contents;
    contents.fixed.signature = 0xFEEF04BD;
    contents.fixed.fileVersionMS = 0x00010002;
    contents.fixed.fileVersionLS = 0x00000005;
    contents.tables.push_back({"040904E4", {{"FileVersion", "1.2"}, {"Comments", ""}}});
    contents.addTranslation(0x0409, 0x04E4);
    return contents;
}

// Counts the reads of a large source that holds nothing of interest.
class CountingSource : public ByteSource {
public:
    mutable int reads = 0;
    mutable std::uint64_t bytes = 0;
    std::uint64_t size() const override { return 100u << 20; }
    bool read(std::uint64_t offset, std::size_t length, void* out) const override
    {
        ++reads;
        bytes += length;
        if (offset + length > size()) {
            return false;
        }
        std::memset(out, 'x', length);
        return true;
    }
};

// A source that notes every read asking for more than it holds: a reader
// that allocates for a claimed length before checking it asks for such a read.
class StrictSource : public MemorySource {
public:
    using MemorySource::MemorySource;
    mutable bool overreach = false;
    bool read(std::uint64_t offset, std::size_t length, void* out) const override
    {
        if (offset > size() || length > size() - offset) {
            overreach = true;
            return false;
        }
        return MemorySource::read(offset, length, out);
    }
};

}  // namespace

TEST(VersionResourceTest, RealExecutablesOfBothWidthsGiveTheirBlock)
{
    for (const char* name : {"app64.exe", "app32.exe"}) {
        const std::vector<std::uint8_t> block = blockOf(kFixtures + name);
        ASSERT_FALSE(block.empty()) << name;
        EXPECT_EQ(versionBlockSize(kFixtures + name), block.size());
        FixedFileInfo fixed;
        ASSERT_TRUE(queryFixedFileInfo(block, fixed));
        EXPECT_EQ(fixed.signature, 0xFEEF04BDu);
        EXPECT_EQ(fixed.fileVersionMS, 0x00010002u);
        EXPECT_EQ(fixed.fileVersionLS, 0x00000005u);
        EXPECT_EQ(fixed.productVersionMS, 0x00030004u);
        EXPECT_EQ(fixed.fileFlags, 0x0Au);

        std::vector<std::uint8_t> table;
        ASSERT_TRUE(queryTranslationTable(block, table));
        EXPECT_EQ(table, (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04}));
        EXPECT_EQ(TranslationCode(table), "040904B0");

        EXPECT_EQ(ReadVersionString(kFixtures + name, "FileVersion"), "1.2");
        EXPECT_EQ(ReadVersionString(kFixtures + name, "ProductVersion"), "3.4 beta");
        EXPECT_EQ(ReadVersionString(kFixtures + name, "LegalCopyright"),
                  "Copyright \xC2\xA9 2024 Fernwick");
        EXPECT_EQ(ReadVersionString(kFixtures + name, "Missing"), "");
    }
}

TEST(VersionResourceTest, AnEmptyValueIsFoundButAMissingOneFails)
{
    const std::vector<std::uint8_t> block = blockOf(kFixtures + "app64.exe");
    std::string value = "before";
    EXPECT_TRUE(queryString(block, "\\StringFileInfo\\040904B0\\Comments", value));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(queryString(block, "\\StringFileInfo\\040904B0\\NoSuchKey", value));
    EXPECT_FALSE(queryString(block, "\\StringFileInfo\\040904E4\\Comments", value));
}

TEST(VersionResourceTest, KeysMatchIgnoringCase)
{
    const std::vector<std::uint8_t> block = blockOf(kFixtures + "app64.exe");
    std::string value;
    EXPECT_TRUE(queryString(block, "\\stringfileinfo\\040904b0\\PRODUCTNAME", value));
    EXPECT_EQ(value, "Fernwick Suite");
    std::vector<std::uint8_t> table;
    VersionValue raw;
    EXPECT_TRUE(queryVersionValue(block, "\\varfileinfo\\TRANSLATION", raw));
    EXPECT_EQ(raw.bytes.size(), 4u);
}

TEST(VersionResourceTest, OnlyTheFirstTranslationIsUsedForRowStrings)
{
    // Strings only under the second translation: the row shows nothing.
    EXPECT_EQ(ReadVersionString(kFixtures + "lib32.dll", "CompanyName"), "");
    const std::vector<std::uint8_t> block = blockOf(kFixtures + "lib32.dll");
    std::vector<std::uint8_t> table;
    ASSERT_TRUE(queryTranslationTable(block, table));
    EXPECT_EQ(table.size(), 8u);
    std::string value;
    EXPECT_TRUE(queryString(block, "\\StringFileInfo\\040904E4\\CompanyName", value));
    EXPECT_EQ(value, "Second Table Ltd");

    EXPECT_EQ(ReadVersionString(kFixtures + "twolang64.dll", "FileVersion"), "2.0 (de)");
}

TEST(VersionResourceTest, FilesWithoutAVersionResourceGiveNoBlock)
{
    TempFolder dir;
    dir.write("text.exe", "This is not a program at all.\n");
    dir.write("mz.dll", "MZ" + std::string(200, '\0'));
    dir.write("empty.exe", "");
    dir.fifo("pipe.exe");
    for (const std::string& path :
         {kFixtures + "noversion64.exe", dir / "text.exe", dir / "mz.dll", dir / "empty.exe",
          dir / "pipe.exe", dir / "missing.exe", std::string("/bin/sh")}) {
        EXPECT_TRUE(blockOf(path).empty()) << path;
        EXPECT_EQ(versionBlockSize(path), 0u);
        EXPECT_EQ(ReadVersionString(path, "FileVersion"), "");
    }
}

TEST(VersionResourceTest, ExecutablesAreKnownByContentNotByName)
{
    TempFolder dir;
    dir.write("renamed.bin", fixtureBytes("app64.exe"));
    EXPECT_EQ(ReadVersionString(dir / "renamed.bin", "FileVersion"), "1.2");
    dir.symlink(kFixtures + "app64.exe", "link.exe");
    EXPECT_TRUE(blockOf(dir / "link.exe").empty());  // links are not followed
}

TEST(VersionResourceTest, ALargeFileThatIsNoExecutableCostsOneSmallRead)
{
    CountingSource source;
    std::vector<std::uint8_t> block;
    EXPECT_FALSE(extractVersionBlock(source, block));
    EXPECT_EQ(source.reads, 1);
    EXPECT_LE(source.bytes, 64u);
}

TEST(VersionResourceTest, EveryTruncationOfARealFileGivesNothingOrTheWholeBlock)
{
    for (const char* name : {"app64.exe", "lib32.dll"}) {
        const std::string bytes = fixtureBytes(name);
        std::vector<std::uint8_t> whole;
        ASSERT_TRUE(extractVersionBlock(MemorySource(bytes), whole));
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            std::vector<std::uint8_t> block;
            if (extractVersionBlock(MemorySource(std::string_view(bytes).substr(0, length)),
                                    block)) {
                ASSERT_EQ(block, whole) << name << " cut at " << length;
            }
        }
    }
}

TEST(VersionResourceTest, HandMadeImagesAreReadAndCorruptOnesRejected)
{
    const std::vector<std::uint8_t> block = buildVersionBlock(sampleContents());
    const std::string image = MiniPe::build(block);
    std::vector<std::uint8_t> read;
    ASSERT_TRUE(extractVersionBlock(MemorySource(image), read));
    EXPECT_EQ(read, block);

    auto corrupted = [&](std::size_t at, std::uint32_t value) {
        std::string bad = image;
        std::memcpy(&bad[at], &value, 4);
        std::vector<std::uint8_t> out;
        return extractVersionBlock(MemorySource(bad), out);
    };
    EXPECT_FALSE(corrupted(0x3C, 0xFFFFFFF0u));                         // PE header past the end
    EXPECT_FALSE(corrupted(MiniPe::kPeOffset, 0));                      // no PE signature
    EXPECT_FALSE(corrupted(MiniPe::kSectionTable + 16, 0x20));          // tree outside the raw data
    EXPECT_FALSE(corrupted(MiniPe::kSectionTable + 20, 0xFFFFFF00u));   // raw data past the end
    EXPECT_FALSE(corrupted(MiniPe::kResourceStart + 12, 0xFFFFFFFFu));  // 131070 entries
    EXPECT_FALSE(corrupted(MiniPe::kResourceStart + 20, 0x80FFFFFFu));  // subfolder out of range
    EXPECT_FALSE(corrupted(MiniPe::kResourceStart + 0x48, 0xFFFFF000u));  // data RVA nowhere
    EXPECT_FALSE(
        corrupted(MiniPe::kResourceStart + 0x4C, 0x7FFFFFFFu));  // data larger than the file
    // A type level that points back at itself leads to no data entry.
    EXPECT_FALSE(corrupted(MiniPe::kResourceStart + 20, 0x80000000u));
}

TEST(VersionResourceTest, HostileNodeLengthsNeverReadOutsideTheBlock)
{
    std::vector<std::uint8_t> block = buildVersionBlock(sampleContents());
    VersionValue value;
    // A child whose length is 0 ends the walk instead of looping.
    std::vector<std::uint8_t> zero = block;
    zero[kFixedFileInfoSize + 40] = 0;
    zero[kFixedFileInfoSize + 41] = 0;
    queryVersionValue(zero, "\\StringFileInfo\\040904E4\\FileVersion", value);
    // A root claiming more bytes than there are is refused.
    std::vector<std::uint8_t> longRoot = block;
    longRoot[0] = 0xFF;
    longRoot[1] = 0xFF;
    EXPECT_FALSE(queryVersionValue(longRoot, "\\", value));
    // A text value claiming to run past its node stops at the node's end.
    std::vector<std::uint8_t> cut(block.begin(), block.begin() + 10);
    EXPECT_FALSE(queryVersionValue(cut, "\\StringFileInfo", value));
    EXPECT_FALSE(queryVersionValue({}, "\\", value));
}

TEST(VersionResourceTest, TranslationCodesFollowTheTableLength)
{
    EXPECT_EQ(TranslationCode({0x09, 0x04}), "04090000");
    EXPECT_EQ(TranslationCode({0x09, 0x04, 0xE4, 0x04}), "040904E4");
    EXPECT_EQ(TranslationCode({0x07, 0x04, 0xB0, 0x04, 0x09, 0x04, 0xE4, 0x04}), "040704B0");
    EXPECT_EQ(TranslationCode({0x09, 0x04, 0xE4}), "");
    EXPECT_EQ(TranslationCode({0x09}), "");
    EXPECT_EQ(TranslationCode({}), "");
    EXPECT_EQ(TranslationCode({0, 0, 0, 0}), "00000000");
}

TEST(VersionResourceTest, ATwoByteTableNamesTheLanguageAlone)
{
    TempFolder dir;
    VersionBlockContents contents = sampleContents();
    contents.tables[0].code = "04090000";
    contents.translation = {0x09, 0x04};
    dir.write("short.exe", MiniPe::build(buildVersionBlock(contents)));
    EXPECT_EQ(ReadVersionString(dir / "short.exe", "FileVersion"), "1.2");

    contents.translation = {0x09, 0x04, 0xE4};  // neither a language nor an entry
    dir.write("odd.exe", MiniPe::build(buildVersionBlock(contents)));
    EXPECT_EQ(ReadVersionString(dir / "odd.exe", "FileVersion"), "");

    contents.hasTranslation = false;
    dir.write("none.exe", MiniPe::build(buildVersionBlock(contents)));
    EXPECT_EQ(ReadVersionString(dir / "none.exe", "FileVersion"), "");
}

TEST(VersionResourceTest, TextIsConvertedFromUtf16)
{
    const std::uint8_t text[] = {'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 'z', 0};
    EXPECT_EQ(utf16ToUtf8(text, 6), "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDz");
}

TEST(VersionResourceTest, InputsTheFuzzerFoundAreReadWithoutOverreaching)
{
    const std::string folder = FUZZ_REGRESSION_DIR "/";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        std::string bytes;
        ASSERT_TRUE(platform::readWholeFile(folder + name, bytes));
        StrictSource source(bytes);
        std::vector<std::uint8_t> block;
        extractVersionBlock(source, block);
        EXPECT_FALSE(source.overreach) << name;
    }
}
