// Tests of the version information: numbers, texts, flags and translations.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "versioninfo/VersionInfo.h"

#include <gtest/gtest.h>

#include "versioninfo/VersionBlockWriter.h"
#include "support/MiniPe.h"
#include "support/TempFolder.h"

using namespace versioninfo;

namespace {

class VersionInfoTest : public ::testing::Test {
protected:
    TempFolder dir;

    VersionBlockContents contents()
    {
        VersionBlockContents s;
        s.fixed.signature = 0xFEEF04BD;
        s.fixed.fileVersionMS = 0x00010002;
        s.fixed.fileVersionLS = 0x00000005;
        s.fixed.productVersionMS = 0x00030000;
        s.fixed.productVersionLS = 0x00070008;
        return s;
    }

    std::string write(const VersionBlockContents& s)
    {
        return dir.write("made" + std::to_string(++m_count) + ".exe",
                         MiniPe::build(buildVersionBlock(s)));
    }

    static std::string read(TVersionInfoResource& info, const std::string& path)
    {
        info.setFilename(path);
        return info.FileVersion.AsText();
    }

private:
    int m_count = 0;
};

}  // namespace

TEST_F(VersionInfoTest, AsTextPrefersTheStringAndFallsBackToTheNumbers)
{
    TVersionInfoResource info;
    VersionBlockContents s = contents();
    s.tables.push_back({"040904E4", {{"FileVersion", "1.2"}}});
    s.addTranslation(0x0409, 0x04E4);
    EXPECT_EQ(read(info, write(s)), "1.2");
    EXPECT_EQ(info.ProductVersion.AsText(), "3.0.7.8");

    s.tables[0].values[0].second = "";
    EXPECT_EQ(read(info, write(s)), "1.2.0.5");
    EXPECT_EQ(info.FileVersion.GetPart(0), 1u);
    EXPECT_EQ(info.FileVersion.GetPart(3), 5u);
    EXPECT_EQ(info.FileVersion.GetPart(4), 0u);
    EXPECT_EQ(info.FileVersion.GetPart(-1), 0u);
}

TEST_F(VersionInfoTest, AFileWithoutABlockGivesEmptyTexts)
{
    TVersionInfoResource info;
    EXPECT_EQ(read(info, dir.write("plain.txt", "hello")), "");
    EXPECT_FALSE(info.FileVersion.Valid);
    EXPECT_EQ(info.FileVersion.GetPart(0), 0u);
    for (int i = 0; i < kPreDefCount; ++i) {
        EXPECT_EQ(info.GetPredefinedValue(i), "");
    }
    EXPECT_EQ(info.GetBuildFlagsText(), "");
    EXPECT_TRUE(info.Translations.empty());
}

TEST_F(VersionInfoTest, TranslationsSubstituteEnglishAndWindowsLatinForZero)
{
    TVersionInfoResource info;
    VersionBlockContents s = contents();
    s.addTranslation(0, 0);
    s.addTranslation(0x0407, 0x04B0);
    s.translation.push_back(0x11);  // a partial entry is no translation
    s.tables.push_back({"040904E4", {{"CompanyName", "Zero Zero"}}});
    read(info, write(s));
    EXPECT_EQ(info.Translations, (std::vector<std::string>{"040904E4", "040704B0"}));
    EXPECT_EQ(info.CompanyName(), "Zero Zero");
}

TEST_F(VersionInfoTest, WithoutATranslationTheDefaultCodeIsUsed)
{
    TVersionInfoResource info;
    VersionBlockContents s = contents();
    s.translation = {0x07, 0x04};  // shorter than one entry
    s.tables.push_back({"040904E4", {{"ProductName", "Default Code"}}});
    read(info, write(s));
    EXPECT_TRUE(info.Translations.empty());
    EXPECT_EQ(info.ProductName(), "Default Code");
}

TEST_F(VersionInfoTest, TheTranslationIndexChoosesTheTableAndIsResetWhenOutOfRange)
{
    TVersionInfoResource info;
    VersionBlockContents s = contents();
    s.addTranslation(0x0407, 0x04B0);
    s.addTranslation(0x0409, 0x04B0);
    s.tables.push_back({"040704B0", {{"FileDescription", "Deutsch"}}});
    s.tables.push_back({"040904B0", {{"FileDescription", "English"}}});
    const std::string path = write(s);
    read(info, path);
    EXPECT_EQ(info.FileDescription(), "Deutsch");
    info.TranslationIndex = 1;
    EXPECT_EQ(info.FileDescription(), "English");
    info.TranslationIndex = 5;
    EXPECT_EQ(info.FileDescription(), "");  // index past the list: the default code
    info.ReadVersionInfo();
    EXPECT_EQ(info.TranslationIndex, 0);
    EXPECT_EQ(info.FileDescription(), "Deutsch");
}

TEST_F(VersionInfoTest, BuildFlagsAreNamedInTheirFixedOrder)
{
    TVersionInfoResource info;
    VersionBlockContents s = contents();
    s.fixed.fileFlags = 0x0A;
    s.fixed.fileFlagsMask = 0;  // the word is not masked
    read(info, write(s));
    EXPECT_EQ(info.GetBuildFlagsText(), "Pre-Release, Private");
    s.fixed.fileFlags = 0x3F;
    read(info, write(s));
    EXPECT_EQ(info.GetBuildFlagsText(),
              "Debug, Info Inferred, Patched, Pre-Release, Private, Special");
    s.fixed.fileFlags = 0;
    read(info, write(s));
    EXPECT_EQ(info.GetBuildFlagsText(), "");
}

TEST_F(VersionInfoTest, RealFilesAndIndicesOutOfRange)
{
    TVersionInfoResource info;
    EXPECT_EQ(read(info, VERSION_FIXTURE_DIR "/app64.exe"), "1.2");
    EXPECT_EQ(info.ProductVersion.AsText(), "3.4 beta");
    EXPECT_EQ(info.GetBuildFlagsText(), "Pre-Release, Private");
    EXPECT_EQ(info.LegalTrademarks(), "Fernwick is a mark");
    EXPECT_EQ(info.Comments(), "");
    EXPECT_EQ(info.GetPredefinedValue(11), "");
    EXPECT_EQ(info.GetPredefinedValue(-1), "");
    EXPECT_EQ(info.GetPredefinedValue(pdOriginalFilename), "app64.exe");
    EXPECT_EQ(info.Version(), "TVersionInfoResource v2.35");

    // Strings under the second translation only: the first one is used.
    EXPECT_EQ(read(info, VERSION_FIXTURE_DIR "/lib32.dll"), "7.0.1.2");  // from the numbers
    EXPECT_EQ(info.Translations, (std::vector<std::string>{"040704B0", "040904E4"}));
    info.TranslationIndex = 1;
    EXPECT_EQ(info.CompanyName(), "Second Table Ltd");
}

TEST_F(VersionInfoTest, TheProgramReadsItsOwnVersionFromItsFile)
{
    TVersionInfoResource info;
    info.Loaded();  // no Filename: the running program's own file
    EXPECT_EQ(info.FileVersion.AsText(), PROJECT_VERSION_TEXT);
    EXPECT_EQ(info.ProductName(), "Gemmora");
    EXPECT_EQ(info.CompanyName(), "Quarrendale");
    EXPECT_FALSE(info.ResolveFileName().empty());
}
