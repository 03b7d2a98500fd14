// Tests of a search run: drives, root folders and their notices.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/SearchRun.h"

#include <cerrno>
#include <cstdlib>
#include <sys/mount.h>
#include <gtest/gtest.h>

#include "cleanup/CleanupFixture.h"
#include "support/TempFolder.h"
#include "support/TestWindow.h"

using search::Field;
using search::SearchRun;

namespace {

class SearchRunTest : public ::testing::Test {
protected:
    TempFolder dir;
    TestWindow window;
    SearchRun run{window};

    void SetUp() override { window.drives = {{'C', "", false}}; }
};

}  // namespace

TEST_F(SearchRunTest, AnEmptyRootFieldSearchesTheWholeDrive)
{
    window.fields[Field::RootDir] = "   ";
    window.drives = {{'C', dir.path().substr(0, dir.path().size() - 1), false}};
    dir.write("one", "same");
    dir.write("two", "same");
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::RootDir], "/");
    EXPECT_EQ(window.list.rows.size(), 3u);
}

TEST_F(SearchRunTest, NestedRootFoldersAreRemovedWithANotice)
{
    window.drives.clear();
    window.fields[Field::RootDir] = "/Docs, /Docs/old, Music";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::RootDir], "/Docs/,/Music/");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0],
              "Folder: /DOCS/OLD/  is already included in \nfolder: /DOCS/  and will "
              "therefore be removed.");

    window.messages.clear();
    window.fields[Field::RootDir] = "/docs/,/,/doc";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::RootDir], "/");
    EXPECT_EQ(window.messages.size(), 2u);
}

TEST_F(SearchRunTest, RootFoldersKeepTheirCaseAndBlanksNeedQuotes)
{
    window.drives.clear();
    window.fields[Field::RootDir] = "Program Files";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::RootDir], "/Files/,/Program/");
    window.fields[Field::RootDir] = "\"Program Files\", /docs, /Docs";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::RootDir], "/Docs/,/docs/,\"/Program Files/\"");
    EXPECT_TRUE(window.messages.empty());  // /Docs/ and /docs/ are two folders
    window.fields[Field::RootDir] = "a,,\" \"";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::RootDir], "/a/");
}

TEST_F(SearchRunTest, SkipFoldersAreLowerCasedSortedAndShortOnesDropped)
{
    window.drives.clear();
    window.fields[Field::SkipFolder] = "SP3, \"Program Files\", /, x";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::SkipFolder], "\"/program files/\",/sp3/,/x/");
    EXPECT_TRUE(run.catalogue.SkipFolders.containsFolded("/sp3/"));
    EXPECT_EQ(run.catalogue.SkipFolders.size(), 3u);
}

TEST_F(SearchRunTest, MasksAreSortedAndDefaultToEverything)
{
    window.drives.clear();
    window.fields[Field::FileMask] = "";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::FileMask], "*.*");
    window.fields[Field::FileMask] = "*.txt,*.TXT";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::FileMask], "*.txt");
    window.fields[Field::FileMask] = "*.txt *.doc";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::FileMask], "*.doc,*.txt");
}

TEST_F(SearchRunTest, TheCaptionNamesMaskDrivesAndRoots)
{
    window.drives = {{'C', "", false}, {'D', "/mnt/d", false}};
    run.UpdateCaption();
    EXPECT_EQ(window.captions[search::Caption::Window], "Gemmora named *.* on C: D: in /");
    window.drives.clear();
    run.UpdateCaption();
    EXPECT_EQ(window.captions[search::Caption::Window], "Gemmora named *.* on in /");
}

TEST_F(SearchRunTest, TheMasterDriveFiltersTheDrivesAfterIt)
{
    dir.write("stick/photo.jpg", "12345");
    dir.write("disk/copy.jpg", "12345");
    dir.write("disk/unrelated.jpg", "1234567");
    dir.write("disk/unrelated2.jpg", "1234567");
    dir.write("other/again.jpg", "12345");
    const std::string base = dir.path().substr(0, dir.path().size() - 1);
    window.fields[Field::RootDir] = "/disk/,/other/";
    window.drives = {{'A', base + "/stick", true}, {'C', base, false}, {'D', base, false}};
    run.btnSearchClick();
    EXPECT_EQ(
        window.statusLog,
        (std::vector<std::string>{"Scanning master folders ....", "Scanning filtered folders ....",
                                  "Scanning filtered folders ....", "", "Duplicates found...."}));
    // The pair of same-size files that the master drive does not have is left out.
    EXPECT_EQ(window.rowTexts(dir.path()),
              (std::vector<std::string>{"Duplicate files .....", "disk/copy.jpg", "other/again.jpg",
                                        "stick/photo.jpg"}));

    window.checks[search::Check::FloppyIsMaster] = false;
    window.statusLog.clear();
    run.btnSearchClick();
    EXPECT_EQ(window.statusLog[0], "Scanning folders ....");
    // D: walks the same folders as C:, and each file is taken once.
    EXPECT_EQ(window.list.rows.size(), 8u);
}

TEST_F(SearchRunTest, WithoutDrivesNothingIsWalked)
{
    dir.write("one", "1");
    dir.write("two", "1");
    window.drives.clear();
    window.fields[Field::RootDir] = dir.path();
    run.btnSearchClick();
    EXPECT_TRUE(window.list.rows.empty());
    EXPECT_EQ(window.turns, 0);
}

TEST_F(SearchRunTest, AClickDuringTheScanStopsInsteadOfStartingAgain)
{
    dir.write("x/a", "1");
    dir.write("y/b", "1");
    window.fields[Field::RootDir] = dir.path();
    int clicks = 0;
    window.onTurn = [&] {
        if (clicks++ == 0) {
            run.btnSearchClick();
            EXPECT_FALSE(run.KeepSearching);
            EXPECT_FALSE(run.TreeScanner1.KeepScanning);
        }
    };
    run.btnSearchClick();
    EXPECT_EQ(window.status[3], "Comparison interrupted");
}

TEST_F(SearchRunTest, TheNoticeDuringTheScanCanStopTheRun)
{
    dir.write("a/f", "1");
    dir.write("a/g", "1");
    window.fields[Field::RootDir] = dir.path() + "," + dir.path() + "a";
    window.drives.push_back({'D', "", false});
    // A click while the notice is up (between walks) is a stop, not a second run.
    window.showMessageHook = [&] { run.btnSearchClick(); };
    run.btnSearchClick();
    EXPECT_EQ(window.status[3], "Comparison interrupted");
    EXPECT_EQ(std::count(window.statusLog.begin(), window.statusLog.end(), "Scanning folders ...."),
              1);
}

TEST_F(SearchRunTest, RootFoldersThatCannotBeSearchedAreNamedAndTheRestSearched)
{
    dir.write("here/a.txt", "same");
    dir.write("here/b.txt", "same");
    dir.write("plain.txt", "not a folder");
    const std::string base = dir.path().substr(0, dir.path().size() - 1);
    window.drives = {{'C', base, false}};
    window.fields[Field::RootDir] = "/missing, /here, /plain.txt";
    run.btnSearchClick();
    EXPECT_EQ(window.rowTexts(dir.path()),
              (std::vector<std::string>{"Duplicate files .....", "here/a.txt", "here/b.txt"}));
    EXPECT_EQ(window.messages,
              (std::vector<std::string>{
                  "Folder: " + dir / "missing/" + "  was not found and is not searched.",
                  "Folder: " + dir / "plain.txt/" + "  is not a folder and is not searched."}));
    EXPECT_EQ(window.status[3],
              "Scan complete - not searched: " + dir / "missing/" + ", " + dir / "plain.txt/");
    ASSERT_EQ(run.missedFolders().size(), 2u);
    EXPECT_EQ(run.missedFolders()[0].error, ENOENT);

    // Only missing folders: the end text says "not found".
    window.messages.clear();
    window.fields[Field::RootDir] = "/gone";
    run.btnSearchClick();
    EXPECT_EQ(window.status[3], "Scan complete - not found: " + dir / "gone/");
    EXPECT_EQ(window.messages.size(), 1u);

    // A drive that is not mounted any more is a missing folder as well.
    window.messages.clear();
    window.drives = {{'D', base + "/no-such-drive", true}};
    run.btnSearchClick();
    EXPECT_EQ(window.messages, (std::vector<std::string>{"Folder: " + dir / "no-such-drive/" +
                                                         "  was not found and is not searched."}));

    // A run where every folder was there ends as before.
    window.messages.clear();
    window.drives = {{'C', base, false}};
    window.fields[Field::RootDir] = "/here";
    run.btnSearchClick();
    EXPECT_EQ(window.status[3], "Scan complete");
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(run.missedFolders().empty());
}

TEST_F(SearchRunTest, AnUnreadableRootFolderIsNamedWithTheReason)
{
    dir.write("locked/a.txt", "same");
    dir.chmod("locked", 0);
    const std::string base = dir.path().substr(0, dir.path().size() - 1);
    window.drives = {{'C', base, false}};
    window.fields[Field::RootDir] = "/locked";
    const int result = runWithoutPrivileges([&] {
        run.btnSearchClick();
        return window.messages ==
                       std::vector<std::string>{
                           "Folder: " + dir / "locked/" +
                           "  cannot be read (Permission denied) and is not searched."}
                   ? 0
                   : 1;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(SearchRunTest, ARootFolderNamedThroughALinkIsFollowed)
{
    dir.write("real/a.txt", "same");
    dir.write("real/b.txt", "same");
    dir.write("outside/c.txt", "same");
    dir.symlink(dir / "real", "named");
    dir.symlink(dir / "outside", "real/away");  // met during the walk: never followed
    const std::string base = dir.path().substr(0, dir.path().size() - 1);
    window.drives = {{'C', base, false}};
    window.fields[Field::RootDir] = "/named";
    run.btnSearchClick();
    EXPECT_EQ(window.rowTexts(dir.path()),
              (std::vector<std::string>{"Duplicate files .....", "named/a.txt", "named/b.txt"}));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(SearchRunTest, AQuotedRootFolderKeepsItsBlanks)
{
    dir.write("old /a.txt", "same");
    dir.write("old /b.txt", "same");
    dir.write(" lead/c.txt", "other");
    dir.write(" lead/d.txt", "other");
    dir.mkdir("old");
    const std::string base = dir.path().substr(0, dir.path().size() - 1);
    window.drives = {{'C', base, false}};
    window.fields[Field::RootDir] = "\"old \", \" lead\", \"  \"";
    run.btnSearchClick();
    EXPECT_EQ(window.fields[Field::RootDir], "\"/ lead/\",\"/old /\"");
    EXPECT_EQ(window.rowTexts(dir.path()),
              (std::vector<std::string>{"Duplicate files .....", " lead/c.txt", " lead/d.txt", "",
                                        "Duplicate files .....", "old /a.txt", "old /b.txt"}));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(SearchRunTest, TrashFoldersAreLeftOutUnlessIncluded)
{
    dir.write("Documents/thesis.txt", "chapter one");
    dir.write("data/Trash/files/thesis.txt", "chapter one");
    const std::string dataHome = dir / "data";
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedValue = saved != nullptr ? saved : "";
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    window.checks[search::Check::CheckFileTimestamp] = false;
    window.drives = {{'C', dir.path().substr(0, dir.path().size() - 1), false}};
    window.fields[Field::RootDir] = "/";
    window.checks[search::Check::SkipTrashFolders] = true;
    run.btnSearchClick();
    EXPECT_TRUE(window.list.rows.empty());
    window.checks[search::Check::SkipTrashFolders] = false;
    run.btnSearchClick();
    EXPECT_EQ(window.rowTexts(dir.path()),
              (std::vector<std::string>{"Duplicate files .....", "data/Trash/files/thesis.txt",
                                        "Documents/thesis.txt"}));
    if (saved != nullptr) {
        ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

TEST_F(SearchRunTest, AnOverlaysMergedFolderAndItsLayersAreNotCopiesOfEachOther)
{
    const std::string lower = dir.mkdir("lower");
    const std::string upper = dir.mkdir("upper");
    const std::string work = dir.mkdir("work");
    const std::string merged = dir.mkdir("merged");
    dir.write("lower/base.txt", "from the lower folder");
    dir.write("other/base copy.txt", "from the lower folder");
    const int result = inMountNamespace(
        [&] {
            const std::string options = "lowerdir=" + lower + ",upperdir=" + upper + ",workdir=" + work;
            return ::mount("gemmora-test", merged.c_str(), "overlay", 0, options.c_str()) == 0;
        },
        [&] {
            dir.write("merged/new.txt", "written through the overlay");  // lands in upper
            window.checks[search::Check::CheckFileTimestamp] = false;
            window.drives = {{'C', dir.path().substr(0, dir.path().size() - 1), false}};
            window.fields[Field::RootDir] = "/merged,/upper,/lower,/other";
            run.btnSearchClick();
            // One group: the real copy and one path to the lower file; the
            // upper file is no copy of its merged path.
            const std::vector<std::string> rows = window.rowTexts(dir.path());
            if (rows.size() != 3 || rows[0] != "Duplicate files ....." ||
                (rows[1] != "other/base copy.txt" && rows[2] != "other/base copy.txt")) {
                return 1;
            }
            return 0;
        });
    if (result == 77) {
        GTEST_SKIP() << "mounting an overlay is refused here (needs root and unshare)";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(SearchRunTest, AnOverlaysFileIsOneFileWithItsLowerFileWhenOnlyItsDataIsThere)
{
    // A file copied up for its metadata only keeps its data in the lower
    // file, and a folder or file renamed through the overlay keeps its data
    // under the lower one's old name: each merged path is that lower file,
    // found with it or without it. The layers on one file system, then the
    // lower one on a file system of its own. A file system mounted inside
    // the merged folder is no overlay.
    for (const bool ownLower : {false, true}) {
        SCOPED_TRACE(ownLower ? "a lower folder of its own" : "one file system");
        const std::string top = ownLower ? "own/" : "one/";
        const std::string lower = dir.mkdir(top + "lower");
        const std::string upper = dir.mkdir(top + "upper");
        const std::string work = dir.mkdir(top + "work");
        const std::string merged = dir.mkdir(top + "merged");
        const int result = inMountNamespace(
            [&] {
                if (ownLower && !mountTmpfs(lower, "1m")) {
                    return false;
                }
                dir.write(top + "lower/meta.txt", "its data only in the lower folder");
                dir.write(top + "lower/old/moved.txt", "found under the old name");
                dir.write(top + "lower/renamed.txt", "renamed through the overlay");
                dir.write(top + "lower/old/away.txt", "moved out of its folder");
                dir.write(top + "copy/renamed.txt", "renamed through the overlay");
                dir.write(top + "copy/away.txt", "moved out of its folder");
                const std::string options = "lowerdir=" + lower + ",upperdir=" + upper +
                                            ",workdir=" + work + ",metacopy=on,redirect_dir=on";
                return ::mount("gemmora-test", merged.c_str(), "overlay", 0, options.c_str()) ==
                           0 &&
                       ::mkdir((merged + "/inner").c_str(), 0755) == 0 &&
                       mountTmpfs(merged + "/inner", "1m");
            },
            [&] {
                dir.write(top + "merged/inner/a", "two copies on a tmpfs");
                dir.write(top + "merged/inner/b", "two copies on a tmpfs");
                if (::chmod((merged + "/meta.txt").c_str(), 0600) != 0 ||
                    ::rename((merged + "/renamed.txt").c_str(), (merged + "/now.txt").c_str()) !=
                        0 ||
                    ::rename((merged + "/old/away.txt").c_str(), (merged + "/away.txt").c_str()) !=
                        0 ||
                    ::rename((merged + "/old").c_str(), (merged + "/new").c_str()) != 0) {
                    return 2;
                }
                window.checks[search::Check::CheckFileTimestamp] = false;
                window.drives = {{'C', dir.path().substr(0, dir.path().size() - 1), false}};
                window.fields[Field::RootDir] = "/" + top + "merged,/" + top + "lower";
                run.btnSearchClick();
                if (!window.list.rows.empty()) {
                    return 1;
                }
                window.fields[Field::RootDir] = "/" + top + "merged,/" + top + "copy";
                run.btnSearchClick();
                if (window.rowTexts(dir.path()) !=
                    std::vector<std::string>{"Duplicate files .....", top + "copy/renamed.txt",
                                             top + "merged/now.txt", "", "Duplicate files .....",
                                             top + "copy/away.txt", top + "merged/away.txt"}) {
                    return 4;
                }
                window.fields[Field::RootDir] = "/" + top + "merged/inner";
                run.btnSearchClick();
                return window.rowTexts(dir.path()) ==
                               std::vector<std::string>{"Duplicate files .....",
                                                        top + "merged/inner/a",
                                                        top + "merged/inner/b"}
                           ? 0
                           : 3;
            });
        if (result == 77) {
            GTEST_SKIP() << "mounting an overlay with metadata-only copy-up is refused here";
        }
        EXPECT_EQ(result, 0);
    }
}

