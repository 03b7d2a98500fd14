// Tests of gemmora-cli's search: its options, output formats and interruption.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "text/StringList.h"
#include "settings/ResultLines.h"
#include "support/CliRunner.h"
#include "support/TempFolder.h"

namespace {

using Outcome = CliOutcome;

// Waits until the process has its own SIGINT handler in place.
bool waitForHandler(pid_t pid)
{
    for (int i = 0; i < 2000; ++i) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("SigCgt:", 0) == 0) {
                const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
                if ((mask & (1ull << (SIGINT - 1))) != 0) {
                    return true;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

class CliTest : public ::testing::Test {
protected:
    TempFolder dir;

    void SetUp() override
    {
        dir.write("docs/report.txt", "quarterly numbers");
        dir.write("backup/report.txt", "quarterly numbers");
        dir.write("backup/Report copy.txt", "quarterly numbers");
        dir.write("other/unique.txt", "nothing like it");
        dir.write("pics/a.jpg", std::string(9000, 'p'));
        dir.write("pics/b.jpg", std::string(9000, 'p'));
        dir.touch("pics/b.jpg", 1500000000);
    }
};

}  // namespace

TEST_F(CliTest, ListOutputIsTheResultListFileAndReadsBack)
{
    const Outcome r = runCli({"--any-time", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> captions;
    for (const std::string& line : text::splitLines(r.out)) {
        captions.push_back(settings::parseResultLine(line).caption);
    }
    EXPECT_EQ(captions, (std::vector<std::string>{
                            "Duplicate files .....", dir / "pics/a.jpg", dir / "pics/b.jpg", "",
                            "Duplicate files .....", dir / "backup/Report copy.txt",
                            dir / "backup/report.txt", dir / "docs/report.txt"}));
    EXPECT_NE(r.out.find("\r\n"), std::string::npos);
    // Every line is what the desktop program writes for the row it reads.
    for (const std::string& line : text::splitLines(r.out)) {
        EXPECT_EQ(
            settings::formatResultLine(settings::parseResultLine(line)).value_or("?").substr(0, 20),
            line.substr(0, 20));
    }
    EXPECT_NE(r.err.find("Scan complete"), std::string::npos);
    EXPECT_NE(r.err.find("Files: 3"), std::string::npos);
    EXPECT_NE(r.err.find("Bytes: 9,034"), std::string::npos);
}

TEST_F(CliTest, TheDefaultRequiresTheSameTimeAndPathsFormatSeparatesGroups)
{
    const Outcome r = runCli({"--format", "paths", "-q", dir.path()});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, dir / "backup/Report copy.txt\n" + dir / "backup/report.txt\n" +
                         dir / "docs/report.txt\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, NameRulesAndMasksNarrowTheSearch)
{
    Outcome r = runCli({"--any-time", "--same-name", "--format", "paths", "-q", dir.path()});
    EXPECT_EQ(r.out, dir / "backup/report.txt\n" + dir / "docs/report.txt\n");

    r = runCli({"--any-time", "--mask", "*.jpg", "--format", "paths", "-q", dir.path()});
    EXPECT_EQ(r.out, dir / "pics/a.jpg\n" + dir / "pics/b.jpg\n");

    dir.write("x/unique.txt", "another size entirely");
    r = runCli({"--names-only", "--format", "paths", "-q", dir.path()});
    EXPECT_EQ(r.out, dir / "other/unique.txt\n" + dir / "x/unique.txt\n\n" +
                         dir / "backup/report.txt\n" + dir / "docs/report.txt\n");
}

TEST_F(CliTest, SkipKnownAndMasterNarrowTheCandidates)
{
    Outcome r = runCli({"--any-time", "--skip", "BACKUP", "--format", "paths", "-q", dir.path()});
    EXPECT_EQ(r.out, dir / "pics/a.jpg\n" + dir / "pics/b.jpg\n");

    dir.write("known.lis", dir / "pics/b.jpg\r\n");
    r = runCli(
        {"--any-time", "--known", dir / "known.lis", "--format", "paths", "-q", dir / "pics"});
    EXPECT_EQ(r.out, "");

    r = runCli({"--any-time", "--master", dir / "docs", "--format", "paths", "-q", dir / "backup",
                dir / "pics"});
    EXPECT_EQ(r.out, dir / "backup/Report copy.txt\n" + dir / "backup/report.txt\n" +
                         dir / "docs/report.txt\n");
}

TEST_F(CliTest, HiddenFoldersAndEmptyFilesAreOptIn)
{
    dir.write(".cache/copy.txt", "quarterly numbers");
    dir.write("e1", "");
    dir.write("e2", "");
    // A hidden folder named as a root is walked; below a root it is skipped.
    Outcome r = runCli({"--any-time", "--format", "paths", "-q", dir / "docs", dir / ".cache"});
    EXPECT_EQ(r.out, dir / ".cache/copy.txt\n" + dir / "docs/report.txt\n");
    r = runCli({"--any-time", "--format", "paths", "-q", dir.path()});
    EXPECT_EQ(r.out.find(".cache"), std::string::npos);
    r = runCli({"--any-time", "--hidden-folders", "--format", "paths", "-q", dir.path()});
    EXPECT_NE(r.out.find(dir / ".cache/copy.txt"), std::string::npos);
    r = runCli({"--any-time", "--include-empty", "--format", "paths", "-q", dir.path()});
    EXPECT_NE(r.out.find(dir / "e1\n" + dir / "e2\n"), std::string::npos);
}

TEST_F(CliTest, TrashFoldersAreLeftOutUnlessIncluded)
{
    dir.write("data/Trash/files/unique.txt", "nothing like it");
    const std::string dataHome = dir / "data";
    const CliRun how = afterSetUp([&] { return ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1) == 0; });
    Outcome r = runCli({"--any-time", "--format", "paths", "-q", dir.path()}, how);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Trash"), std::string::npos);
    r = runCli({"--any-time", "--include-trash", "--format", "paths", "-q", dir.path()}, how);
    EXPECT_NE(r.out.find(dir / "data/Trash/files/unique.txt\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(dir / "other/unique.txt\n"), std::string::npos);
}

TEST_F(CliTest, NestedFoldersAreDroppedWithANotice)
{
    const Outcome r = runCli({"--any-time", "-q", dir.path(), dir / "docs"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("is already included in"), std::string::npos);
}

TEST_F(CliTest, OutputGoesToAFileThroughARename)
{
    dir.write("result.lis", "old result\r\n");
    const Outcome r = runCli({"--any-time", "-q", "-o", dir / "result.lis", dir / "pics"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.read("result.lis").substr(0, 23), "\"Duplicate files .....\"");
    const Outcome bad = runCli({"-q", "-o", dir / "no/such/folder/x.lis", dir / "pics"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("cannot write"), std::string::npos);
}

TEST_F(CliTest, BadUsageExitsWithTwoAndSaysWhy)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--bogus", dir.path()},
                                               {"--format", "xml", dir.path()},
                                               {"--null", dir.path()},
                                               {"--mask"},
                                               {dir / "missing"},
                                               {"--known", dir / "missing.lis", dir.path()},
                                               {"--master", dir / "missing", dir.path()}}) {
        const Outcome r = runCli(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("gemmora-cli: "), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    const Outcome help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: gemmora-cli"), std::string::npos);
    const Outcome version = runCli({"--version"});
    EXPECT_EQ(version.out, std::string("gemmora-cli ") + PROJECT_VERSION_TEXT + "\n");
}

TEST_F(CliTest, CtrlCStopsLikeTheStopButton)
{
    // Enough folders that the walk is still going when the signal comes.
    for (int i = 0; i < 4000; ++i) {
        dir.write("many/" + std::to_string(i) + "/f.txt", "same");
    }
    const Outcome stopped = runCli({"-q", dir.path()}, whileItRuns([](pid_t pid) {
                                       ASSERT_TRUE(waitForHandler(pid));
                                       ::kill(pid, SIGINT);
                                   }));
    EXPECT_EQ(stopped.status, 1);
}

// Whether the process has `path` open.
bool hasOpen(pid_t pid, const std::string& path)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd/";
    for (int fd = 3; fd < 256; ++fd) {
        char target[4096];
        const ssize_t n = ::readlink((folder + std::to_string(fd)).c_str(), target, sizeof target);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path) {
            return true;
        }
    }
    return false;
}

TEST_F(CliTest, CtrlCWhileAHugePairIsComparedStopsAtOnce)
{
    // Two equal files of 16 GiB, sparse: reading them takes far longer than
    // the bound below, so the stop must come between chunks.
    for (const char* name : {"huge/1.img", "huge/2.img"}) {
        const std::string path = dir.write(name, "");
        ASSERT_EQ(::truncate(path.c_str(), 16ll << 30), 0);
    }
    std::chrono::steady_clock::time_point signalled;
    const Outcome stopped =
        runCli({"-q", "--any-time", dir / "huge"}, whileItRuns([&](pid_t pid) {
                   ASSERT_TRUE(waitForHandler(pid));
                   for (int i = 0; i < 20000 && !hasOpen(pid, dir / "huge/1.img") &&
                                   !hasOpen(pid, dir / "huge/2.img");
                        ++i) {
                       std::this_thread::sleep_for(std::chrono::microseconds(500));
                   }
                   signalled = std::chrono::steady_clock::now();
                   ::kill(pid, SIGINT);
               }));
    const auto ended = std::chrono::steady_clock::now();
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(stopped.out, "");
    // Generous for a busy machine; the pair takes many times as long.
    EXPECT_LT(ended - signalled, std::chrono::seconds(2));
}

TEST_F(CliTest, TheHelpNamesEveryExitStatus)
{
    const Outcome help = runCli({"--help"});
    EXPECT_NE(help.out.find("4 the search could not go on"), std::string::npos) << help.out;
}

TEST_F(CliTest, NothingInTheSearchedTreeChanges)
{
    const Outcome before = runCli({"--format", "paths", "--any-time", "-q", dir.path()});
    std::string listing;
    for (const char* f :
         {"docs/report.txt", "backup/report.txt", "backup/Report copy.txt", "pics/a.jpg"}) {
        listing += dir.read(f);
    }
    runCli({"--any-time", "-q", dir.path()});
    std::string after;
    for (const char* f :
         {"docs/report.txt", "backup/report.txt", "backup/Report copy.txt", "pics/a.jpg"}) {
        after += dir.read(f);
    }
    EXPECT_EQ(listing, after);
    EXPECT_EQ(before.out, runCli({"--format", "paths", "--any-time", "-q", dir.path()}).out);
}
