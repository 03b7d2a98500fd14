// Tests of moving files to the trash and deleting for good.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Trash.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cleanup/CleanupFixture.h"
#include "platform/FolderListing.h"
#include "support/TempFolder.h"

using namespace platform;

namespace {

class TrashTest : public ::testing::Test {
protected:
    TempFolder dir;
    TempFolder data;
    std::string savedDataHome;

    void SetUp() override
    {
        if (const char* value = std::getenv("XDG_DATA_HOME")) {
            savedDataHome = value;
        }
        ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (savedDataHome.empty()) {
            ::unsetenv("XDG_DATA_HOME");
        } else {
            ::setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
        }
    }
};

}  // namespace

TEST_F(TrashTest, AFileGoesToTheHomeTrashWithItsInformation)
{
    const std::string path = dir.write("report 1.txt", "contents");
    std::string error;
    ASSERT_TRUE(moveToTrash(path, error)) << error;
    EXPECT_FALSE(dir.exists("report 1.txt"));
    EXPECT_EQ(homeTrashFolder(), data / "Trash");
    EXPECT_EQ(data.read("Trash/files/report 1.txt"), "contents");
    const std::string info = data.read("Trash/info/report 1.txt.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u);
    EXPECT_NE(info.find("report%201.txt\n"), std::string::npos);
    EXPECT_NE(info.find("\nDeletionDate=20"), std::string::npos);
}

TEST_F(TrashTest, ASecondFileOfTheSameNameGetsANameOfItsOwn)
{
    std::string error;
    ASSERT_TRUE(moveToTrash(dir.write("a/same.txt", "first"), error));
    ASSERT_TRUE(moveToTrash(dir.write("b/same.txt", "second"), error));
    EXPECT_EQ(data.read("Trash/files/same.txt"), "first");
    EXPECT_EQ(data.read("Trash/files/same.2.txt"), "second");
    EXPECT_TRUE(data.exists("Trash/info/same.2.txt.trashinfo"));
}

TEST_F(TrashTest, ANameThatIsNotUtf8IsTrashedByItsBytes)
{
    const std::string path = dir.write("caf\xE9.txt", "latin-1 name");
    dir.write("caf\xC3\xA9.txt", "utf-8 name");
    std::string error;
    ASSERT_TRUE(moveToTrash(path, error)) << error;
    EXPECT_FALSE(dir.exists("caf\xE9.txt"));
    EXPECT_TRUE(dir.exists("caf\xC3\xA9.txt"));
    EXPECT_EQ(data.read("Trash/files/caf\xE9.txt"), "latin-1 name");
    EXPECT_NE(data.read("Trash/info/caf\xE9.txt.trashinfo").find("caf%E9.txt"), std::string::npos);
}

TEST_F(TrashTest, FoldersLinksAndMissingFilesAreRefused)
{
    dir.mkdir("folder");
    dir.write("target.txt", "keep me");
    dir.symlink(dir / "target.txt", "link.txt");
    std::string error;
    EXPECT_FALSE(moveToTrash(dir / "folder", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(moveToTrash(dir / "link.txt", error));
    EXPECT_FALSE(deletePermanently(dir / "link.txt", error));
    EXPECT_FALSE(deletePermanently(dir / "folder", error));
    EXPECT_FALSE(moveToTrash(dir / "missing.txt", error));
    EXPECT_TRUE(dir.exists("folder"));
    EXPECT_TRUE(dir.exists("link.txt"));
    EXPECT_EQ(dir.read("target.txt"), "keep me");
}

TEST_F(TrashTest, PermanentDeletionRemovesOnlyThatFile)
{
    dir.write("gone.bin", "x");
    dir.write("stays.bin", "x");
    std::string error;
    ASSERT_TRUE(deletePermanently(dir / "gone.bin", error));
    EXPECT_FALSE(dir.exists("gone.bin"));
    EXPECT_TRUE(dir.exists("stays.bin"));
    EXPECT_FALSE(data.exists("Trash/files/gone.bin"));
}

TEST_F(TrashTest, AFailureLeavesTheFileAndSaysWhy)
{
    dir.write("locked/file.txt", "safe");
    dir.chmod("locked", 0555);
    const int result = runWithoutPrivileges([&] {
        std::string error;
        const bool trashed = moveToTrash(dir / "locked/file.txt", error);
        const bool deleted = deletePermanently(dir / "locked/file.txt", error);
        return !trashed && !deleted && !error.empty() && fileExists(dir / "locked/file.txt") ? 0
                                                                                             : 1;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(TrashTest, AFileOfAnOpenFolderGoesToTheTrashAndSaysWhere)
{
    const std::string path = dir.write("sub/a file.txt", "by place");
    const int folder = ::open((dir / "sub").c_str(), O_PATH | O_DIRECTORY);
    struct stat st = {};
    ::stat(path.c_str(), &st);
    const FileIdentity expected{st.st_dev, st.st_ino};
    std::vector<std::string> told;
    TrashEntry entry;
    std::string error;
    ASSERT_TRUE(moveToTrashAt(
        folder, "a file.txt", path, &expected,
        [&](const TrashEntry& claimed) {
            told.push_back(claimed.file);
            return true;
        },
        entry, error))
        << error;
    EXPECT_EQ(entry.file, data / "Trash/files/a file.txt");
    EXPECT_EQ(entry.info, data / "Trash/info/a file.txt.trashinfo");
    EXPECT_EQ(told, std::vector<std::string>{entry.file});
    std::string original;
    ASSERT_TRUE(readTrashInfoPath(entry.info, original));
    EXPECT_EQ(original, path);

    // Called off before the move: the file stays and no information is left.
    const std::string second = dir.write("sub/b.txt", "stays");
    EXPECT_FALSE(moveToTrashAt(
        folder, "b.txt", second, nullptr, [](const TrashEntry&) { return false; }, entry, error));
    EXPECT_TRUE(dir.exists("sub/b.txt"));
    EXPECT_FALSE(data.exists("Trash/info/b.txt.trashinfo"));

    // Another file than the one expected goes back where it was.
    const FileIdentity other{st.st_dev, st.st_ino + 1000000};
    EXPECT_FALSE(moveToTrashAt(folder, "b.txt", second, &other, {}, entry, error));
    EXPECT_NE(error.find("replaced"), std::string::npos);
    EXPECT_EQ(dir.read("sub/b.txt"), "stays");
    EXPECT_FALSE(data.exists("Trash/files/b.txt"));
    EXPECT_FALSE(data.exists("Trash/info/b.txt.trashinfo"));
    ::close(folder);
}

TEST_F(TrashTest, AMountsTrashNamesFilesBelowItsTop)
{
    dir.write(".Trash-0/info/x.trashinfo", "[Trash Info]\nPath=docs/caf%E9%20x.txt\n");
    std::string original;
    ASSERT_TRUE(readTrashInfoPath(dir / ".Trash-0/info/x.trashinfo", original));
    EXPECT_EQ(original, dir / "docs/caf\xE9 x.txt");
    dir.write(".Trash/1000/info/y.trashinfo", "[Trash Info]\nPath=y\nDeletionDate=x\n");
    ASSERT_TRUE(readTrashInfoPath(dir / ".Trash/1000/info/y.trashinfo", original));
    EXPECT_EQ(original, dir / "y");
    dir.write("bad.trashinfo", "[Trash Info]\nDeletionDate=x\n");
    EXPECT_FALSE(readTrashInfoPath(dir / "bad.trashinfo", original));
}

TEST_F(TrashTest, AMountsTrashIsUsedOnlyWhenItIsTheUsersOwnClosedAndNoLink)
{
    const std::string top = dir.mkdir("mnt");
    const std::string elsewhere = dir.mkdir("elsewhere");
    const std::string own = top + "/.Trash-" + std::to_string(::getuid());
    const int result = inMountNamespace([&] { return mountTmpfs(top, "1m"); }, [&] {
        const std::string file = top + "/photo.jpg";
        dir.write("mnt/photo.jpg", "picture");
        std::string error;
        // Another user's folder, open to everyone, never receives the file.
        if (::mkdir(own.c_str(), 0777) != 0 || ::chown(own.c_str(), 4321, 4321) != 0 ||
            ::chmod(own.c_str(), 0777) != 0) {
            return 10;
        }
        if (moveToTrash(file, error) || !dir.exists("mnt/photo.jpg") ||
            error.find("belongs to another user") == std::string::npos) {
            return 1;
        }
        // A link is not followed.
        ::rmdir(own.c_str());
        if (::symlink(elsewhere.c_str(), own.c_str()) != 0 || moveToTrash(file, error) ||
            error.find("is a link") == std::string::npos || !namesIn(elsewhere).empty()) {
            return 2;
        }
        // A shared .Trash without the sticky bit is passed over for the
        // user's own, which is made closed.
        ::unlink(own.c_str());
        if (::mkdir((top + "/.Trash").c_str(), 0777) != 0 || ::chmod((top + "/.Trash").c_str(), 0777) != 0 ||
            !moveToTrash(file, error)) {
            return 3;
        }
        if ((statOf(own).st_mode & 0777) != 0700 || dir.exists("mnt/.Trash/0") ||
            dir.exists("mnt/.Trash/" + std::to_string(::getuid()))) {
            return 4;
        }
        // At the top of the mount the path in its entry is its name alone.
        std::string original;
        const std::string info = own + "/info/photo.jpg.trashinfo";
        const std::string text =
            dir.read("mnt/.Trash-" + std::to_string(::getuid()) + "/info/photo.jpg.trashinfo");
        if (text.find("\nPath=photo.jpg\n") == std::string::npos ||
            !readTrashInfoPath(info, original) || original != file) {
            return 5;
        }
        return 0;
    });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs is refused here (needs root and unshare)";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(TrashTest, AFolderMountedTwiceUsesTheTrashOfTheMountTheFileIsOn)
{
    const std::string real = dir.mkdir("real");
    const std::string again = dir.mkdir("again");
    const int result = inMountNamespace(
        [&] { return ::mount(real.c_str(), again.c_str(), nullptr, MS_BIND, nullptr) == 0; },
        [&] {
            dir.write("again/x.txt", "seen twice");
            std::string error;
            if (!moveToTrash(again + "/x.txt", error)) {
                return 1;
            }
            const std::string trash = again + "/.Trash-" + std::to_string(::getuid());
            std::string original;
            return dir.exists("again/x.txt") || !readTrashInfoPath(trash + "/info/x.txt.trashinfo",
                                                                   original) ||
                           original != again + "/x.txt"
                       ? 2
                       : 0;
        });
    if (result == 77) {
        GTEST_SKIP() << "bind mounting is refused here (needs root and unshare)";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(TrashTest, ANameTooLongForTheTrashIsShortenedThereAndKeptWholeInItsEntry)
{
    const std::string name = std::string(120, 'n') + std::string(63, '\xC3') + "\xA9" +
                             std::string(62, 'm') + ".txt";  // 250 bytes
    ASSERT_EQ(name.size(), 250u);
    std::string error;
    const std::string first = dir.write("a/" + name, "first");
    const std::string second = dir.write("b/" + name, "second");
    ASSERT_TRUE(moveToTrash(first, error)) << error;
    ASSERT_TRUE(moveToTrash(second, error)) << error;
    const std::vector<std::string> names = namesIn(data / "Trash/files");
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& trashName : names) {
        EXPECT_LE(trashName.size() + 10, 255u);
        EXPECT_EQ(trashName.substr(trashName.size() - 4), ".txt");
        std::string original;
        ASSERT_TRUE(readTrashInfoPath(data / ("Trash/info/" + trashName + ".trashinfo"), original));
        EXPECT_EQ(original, data.read("Trash/files/" + trashName) == "first" ? first : second);
    }
}

