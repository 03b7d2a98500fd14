// gemmora-cli --folders and --contained-in in its three formats.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "support/CliRunner.h"
#include "support/TempFolder.h"

namespace {

void writeFour(TempFolder& dir, const std::string& folder)
{
    for (const char* name : {"a", "b", "c", "d"}) {
        dir.write(folder + name + ".txt", std::string("contents of ") + name);
    }
}

}  // namespace

TEST(CliFoldersTest, FoldersAreWrittenInEachFormat)
{
    TempFolder dir;
    const std::string root = dir.mkdir("t") + "/";
    writeFour(dir, "t/orig/");
    writeFour(dir, "t/copy/");
    writeFour(dir, "t/near/");
    dir.write("t/near/e.txt", "only here");
    dir.mkdir("elsewhere");

    const CliOutcome paths = runCli({"--folders", "--any-time", "--format", "paths", "-q", root});
    ASSERT_EQ(paths.status, 0) << paths.err;
    // Identical folders are not listed again as contained in each other.
    EXPECT_EQ(paths.out, root + "copy/\n" + root + "orig/\n");

    const CliOutcome list = runCli({"--folders", "--any-time", "-q", root});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("Identical folders, same names and layout: 1 group\n\n  " + root +
                            "copy/ (4 files, 52 bytes)\n  " + root + "orig/ (4 files, 52 bytes)\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("Folders whose files have copies elsewhere but for a few: 1 folder\n\n  " +
                            root + "near/ (5 files, 61 bytes)\n    4 files have copies:\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("    without a copy:\n      " + root + "near/e.txt\n"),
              std::string::npos);

    const CliOutcome json = runCli(
        {"--folders", "--contained-in", root + "orig", "--any-time", "--format", "json", "-q", root});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("\"contained_in\": \"" + root + "orig/\""), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"contained\": [\n    {\n      \"path\": \"" + root + "copy/\""),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"folder\": \"" + root + "orig/\",\n          \"files\": 4"),
              std::string::npos);

    const CliOutcome outside =
        runCli({"--folders", "--contained-in", dir / "elsewhere", "-q", root});
    EXPECT_EQ(outside.status, 2);
    EXPECT_NE(outside.err.find("is not a folder of this search"), std::string::npos);
    EXPECT_EQ(runCli({"--contained-in", root, root}).status, 2);
}

TEST(CliFoldersTest, AFolderCleanupIsShownMovedAndUndoneFromATerminal)
{
    TempFolder dir;
    const std::string root = dir.mkdir("t") + "/";
    writeFour(dir, "t/orig/");
    writeFour(dir, "t/copy/");
    dir.symlink("a.txt", "t/copy/link");
    const std::string moved = dir.mkdir("moved") + "/";
    const std::string journal = dir / "run.journal";

    const CliOutcome refused =
        runCli({"--folders", "--keep", "in:" + root + "orig", "--action", "hardlink", root});
    EXPECT_EQ(refused.status, 2);
    const CliOutcome shown =
        runCli({"--folders", "--keep", "in:" + root + "orig", "--action", "move:" + moved, root});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("  " + root + "copy/  4 files, 52 bytes; identical to " + root +
                             "orig/, which stays\n    also goes: 1 link: link\n"),
              std::string::npos)
        << shown.out;
    EXPECT_NE(shown.err.find("Dry run, nothing was changed: 1 folder, 4 files to move, 52 bytes."),
              std::string::npos)
        << shown.err;

    const CliOutcome done =
        runCli({"--folders", "--keep", "in:" + root + "orig", "--action", "move:" + moved, "--yes",
                "--journal", journal, "--format", "paths", "-q", root});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.out, root + "copy/\n");
    EXPECT_EQ(readFileBytes(moved + "copy/a.txt"), "contents of a");
    EXPECT_EQ(readFileBytes(root + "orig/a.txt"), "contents of a");

    const CliOutcome undone = runCli({"--undo", journal});
    ASSERT_EQ(undone.status, 0) << undone.err;
    EXPECT_NE(undone.err.find("1 folder put back, 0 not put back"), std::string::npos)
        << undone.err;
    EXPECT_EQ(readFileBytes(root + "copy/d.txt"), "contents of d");
}
