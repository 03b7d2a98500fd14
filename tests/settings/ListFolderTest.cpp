// Tests of where the list files live and of a known-duplicates list read as a stream.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/SavedLists.h"
#include "support/TempFolder.h"
#include "text/StringList.h"

namespace {

class ListFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* data = std::getenv("XDG_DATA_HOME");
        m_saved = data != nullptr ? data : "";
        m_hadData = data != nullptr;
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    }
    void TearDown() override
    {
        if (m_hadData) {
            ::setenv("XDG_DATA_HOME", m_saved.c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }

    TempFolder dir;

private:
    std::string m_saved;
    bool m_hadData = false;
};

TEST_F(ListFolderTest, APortableCopyKeepsItsListsBesideItself)
{
    dir.write("portable/gemmora", "");
    EXPECT_EQ(settings::listFileFolder(dir / "portable/gemmora"), dir / "portable/");
}

TEST_F(ListFolderTest, AnInstalledProgramKeepsItsListsInTheDataFolder)
{
    // Root may write to /usr/bin; the lists must still not go there.
    for (const char* program : {"/usr/bin/gemmora", "/usr/local/bin/gemmora"}) {
        EXPECT_EQ(settings::listFileFolder(program), dir / "data/Quarrendale/Kelvarin/");
    }
    struct stat st = {};
    ASSERT_EQ(::stat((dir / "data/Quarrendale/Kelvarin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(KnownListTest, AStreamIsReadToItsFirstZeroByteAndOnlyWhenStreamsAreAllowed)
{
    text::StringList list;
    EXPECT_TRUE(settings::loadKnownDuplicates("/dev/zero", list, true));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(settings::loadKnownDuplicates("/dev/zero", list, false));
    EXPECT_EQ(errno, EINVAL);

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const char bytes[] = "/a/one\n/a/two\n\0/a/three\n";
    const std::string text(bytes, sizeof bytes - 1);
    ASSERT_EQ(::write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(ends[1]);
    EXPECT_TRUE(settings::loadKnownDuplicates("/dev/fd/" + std::to_string(ends[0]), list, true));
    ::close(ends[0]);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_FALSE(list.containsFolded("/a/three"));
}

}  // namespace
