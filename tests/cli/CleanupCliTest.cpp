// Tests of gemmora-cli's cleanup as a user runs it: dry runs, actions, reports and undo.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "hostile/TreeCheck.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "support/CliRunner.h"
#include "support/TempFolder.h"

namespace {

// Whether `text` is one JSON value (RFC 8259) and nothing else but blanks.
class JsonChecker {
public:
    explicit JsonChecker(const std::string& text) : m_text(text) {}

    bool valid() { return value() && (skipBlanks(), m_at == m_text.size()); }

private:
    void skipBlanks()
    {
        while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) != nullptr) {
            ++m_at;
        }
    }
    bool take(char c)
    {
        skipBlanks();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool literal(const char* word)
    {
        const std::size_t length = std::strlen(word);
        if (m_text.compare(m_at, length, word) == 0) {
            m_at += length;
            return true;
        }
        return false;
    }
    bool string()
    {
        if (!take('"')) {
            return false;
        }
        while (m_at < m_text.size()) {
            const auto c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (m_at >= m_text.size()) {
                    return false;
                }
                const char e = m_text[m_at++];
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i) {
                        if (m_at >= m_text.size() || !std::isxdigit(m_text[m_at++])) {
                            return false;
                        }
                    }
                } else if (std::strchr("\"\\/bfnrt", e) == nullptr) {
                    return false;
                }
            }
        }
        return false;
    }
    bool number()
    {
        const std::size_t start = m_at;
        if (m_at < m_text.size() && m_text[m_at] == '-') {
            ++m_at;
        }
        while (m_at < m_text.size() && std::isdigit(m_text[m_at])) {
            ++m_at;
        }
        return m_at > start && std::isdigit(m_text[m_at - 1]);
    }
    bool value()
    {
        skipBlanks();
        if (m_at >= m_text.size()) {
            return false;
        }
        const char c = m_text[m_at];
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++m_at;
            if (take(close)) {
                return true;
            }
            do {
                if (c == '{' && !(string() && take(':'))) {
                    return false;
                }
                if (!value()) {
                    return false;
                }
            } while (take(','));
            return take(close);
        }
        if (c == '"') {
            return string();
        }
        return literal("true") || literal("false") || literal("null") || number();
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

bool waitForHandler(pid_t pid)
{
    for (int i = 0; i < 4000; ++i) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

class CleanupCliTest : public ::testing::Test {
protected:
    TempFolder dir;
    TempFolder data;  // $XDG_DATA_HOME, for the trash
    TempFolder io;    // lists, plans and journals
    TempFolder outside;
    std::string savedDataHome;
    bool hadDataHome = false;

    void SetUp() override
    {
        if (const char* value = std::getenv("XDG_DATA_HOME")) {
            savedDataHome = value;
            hadDataHome = true;
        }
        ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
        dir.write("docs/report.txt", "quarterly numbers");
        dir.write("backup/report.txt", "quarterly numbers");
        dir.write("backup/old/Report copy.txt", "quarterly numbers");
        dir.write("pics/a.jpg", std::string(9000, 'p'));
        dir.write("pics/b.jpg", std::string(9000, 'p'));
        dir.write("other/unique.txt", "nothing like it");
        dir.touch("docs/report.txt", 1400000000);
        dir.touch("pics/b.jpg", 1500000000);
    }
    void TearDown() override
    {
        if (hadDataHome) {
            ::setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }

    Snapshot files(const std::string& root)
    {
        Snapshot regular;
        for (const auto& [path, facts] : snapshotTree(root)) {
            if (S_ISREG(facts.mode)) {
                regular.emplace(path, facts);
            }
        }
        return regular;
    }

    // Every content the tree held before is still in it at least once.
    void expectEveryContentStays(const Snapshot& before)
    {
        std::set<std::uint64_t> present;
        for (const auto& [path, facts] : files(dir.path())) {
            present.insert(facts.digest);
        }
        for (const auto& [path, facts] : before) {
            EXPECT_TRUE(present.count(facts.digest) > 0) << path << " has no copy left";
        }
    }

    std::vector<std::string> lines(const std::string& text)
    {
        std::vector<std::string> out;
        for (const std::string& line : text::splitLines(text)) {
            out.push_back(line);
        }
        return out;
    }

    std::vector<std::string> cleanupArgs(std::vector<std::string> more)
    {
        std::vector<std::string> args = {"-q", "--any-time"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
};

}  // namespace

TEST_F(CleanupCliTest, ADryRunIsTheDefaultPrintsThePlanAndChangesNothing)
{
    const Snapshot before = snapshotTree(dir.path());
    const CliOutcome r =
        runCli({"--any-time", "--keep", "oldest", "--action", "trash", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        lines(r.out),
        (std::vector<std::string>{
            "# Cleanup plan: move to the trash; keep rules: oldest, then the first by path "
            "order",
            "mark,\"" + dir / "pics/a.jpg" + "\",9000", "keep,\"" + dir / "pics/b.jpg" + "\",9000",
            "", "mark,\"" + dir / "backup/old/Report copy.txt" + "\",17",
            "mark,\"" + dir / "backup/report.txt" + "\",17",
            "keep,\"" + dir / "docs/report.txt" + "\",17"}));
    EXPECT_NE(r.err.find("Dry run, nothing was changed: 2 groups, 3 files marked to trash, "
                         "9,034 bytes."),
              std::string::npos);
    EXPECT_EQ(describeChanges(before, snapshotTree(dir.path())), "");
    EXPECT_FALSE(data.exists("Trash"));

    const CliOutcome explicitly =
        runCli(cleanupArgs({"--dry-run", "--action", "delete", dir.path()}));
    EXPECT_EQ(explicitly.status, 0);
    EXPECT_EQ(describeChanges(before, snapshotTree(dir.path())), "");
}

TEST_F(CleanupCliTest, ActingTrashesTheMarkedFilesAndUndoPutsThemBack)
{
    const Snapshot before = files(dir.path());
    const std::string journal = io / "run.journal";
    const CliOutcome r =
        runCli({"--any-time", "--keep", "in:" + dir / "backup", "--keep", "shallowest", "--action",
                "trash", "--yes", "--journal", journal, dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                "# no file is left by the keep rule in:" + dir / "backup/" +
                                    ": the first by path order is kept",
                                "kept,\"" + dir / "pics/a.jpg" + "\",9000",
                                "trashed,\"" + dir / "pics/b.jpg" + "\",9000,\"" +
                                    data / "Trash/files/b.jpg" + "\"",
                                "",
                                "trashed,\"" + dir / "backup/old/Report copy.txt" + "\",17,\"" +
                                    data / "Trash/files/Report copy.txt" + "\"",
                                "kept,\"" + dir / "backup/report.txt" + "\",17",
                                "trashed,\"" + dir / "docs/report.txt" + "\",17,\"" +
                                    data / "Trash/files/report.txt" + "\""}));
    EXPECT_NE(r.err.find("3 files trashed (9,034 bytes), 0 left untouched"), std::string::npos);
    EXPECT_NE(r.err.find("Undo with: gemmora-cli --undo " + journal), std::string::npos);
    EXPECT_FALSE(dir.exists("docs/report.txt"));
    expectEveryContentStays(before);

    const CliOutcome undo = runCli({"--undo", journal});
    ASSERT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(lines(undo.out),
              (std::vector<std::string>{"restored,\"" + dir / "pics/b.jpg" + "\"",
                                        "restored,\"" + dir / "backup/old/Report copy.txt" + "\"",
                                        "restored,\"" + dir / "docs/report.txt" + "\""}));
    EXPECT_EQ(describeChanges(before, files(dir.path())), "");
}

TEST_F(CleanupCliTest, EveryActionKeepsEveryContent)
{
    for (const std::string& action :
         std::vector<std::string>{"delete", "hardlink", "reflink", "move:" + outside.path()}) {
        TempFolder tree;
        tree.write("a/x.bin", std::string(20000, 'x'));
        tree.write("b/x.bin", std::string(20000, 'x'));
        tree.write("b/c/y.bin", std::string(20000, 'x'));
        const Snapshot before = files(tree.path());
        const CliOutcome r =
            runCli(cleanupArgs({"--keep", "shallowest", "--action", action, "--yes", "--journal",
                                io / (action.substr(0, 4) + ".journal"), tree.path()}));
        std::set<std::uint64_t> present;
        for (const auto& [path, facts] : files(tree.path())) {
            present.insert(facts.digest);
        }
        EXPECT_EQ(present.size(), 1u) << action;
        EXPECT_EQ(files(tree.path())["a/x.bin"], before.at("a/x.bin")) << action;
        if (action == "reflink" && r.status == 3) {
            // This file system shares no data: said so, and nothing changed.
            EXPECT_NE(r.out.find("cannot share data"), std::string::npos) << r.out;
            EXPECT_EQ(describeChanges(before, files(tree.path())), "");
            continue;
        }
        EXPECT_EQ(r.status, 0) << action << "\n" << r.out << r.err;
    }
    EXPECT_EQ(outside.read("b/c/y.bin"), std::string(20000, 'x'));
}

TEST_F(CleanupCliTest, ASavedListIsActedOnAndAFileChangedSinceIsLeftAlone)
{
    const std::string list = io / "found.lis";
    ASSERT_EQ(runCli({"-q", "--any-time", "-o", list, dir.path()}).status, 0);
    dir.write("backup/report.txt", "QUARTERLY NUMBERS");  // same size, other contents
    const CliOutcome r = runCli({"-q", "--from-list", list, "--keep", "first", "--action", "delete",
                                 "--yes", "--journal", io / "j"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.out.find("untouched,\"" + dir / "backup/report.txt" +
                         "\",17,\"its contents "
                         "differ from the kept "
                         "file"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(dir.read("backup/report.txt"), "QUARTERLY NUMBERS");
    EXPECT_FALSE(dir.exists("docs/report.txt"));
    EXPECT_FALSE(dir.exists("pics/b.jpg"));
    EXPECT_EQ(dir.read("pics/a.jpg"), std::string(9000, 'p'));
}

TEST_F(CleanupCliTest, APlanIsCarriedOutAsSavedAndRefusedWhenEditedToMarkEveryCopy)
{
    const std::string plan = io / "plan.txt";
    const CliOutcome dry =
        runCli(cleanupArgs({"--keep", "newest", "--action", "trash", "-o", plan, dir.path()}));
    ASSERT_EQ(dry.status, 0) << dry.err;
    std::string text = io.read("plan.txt");
    ASSERT_NE(text.find("keep,\"" + dir / "pics/a.jpg"), std::string::npos) << text;

    // Edited so that the pictures lose every copy: refused, nothing changed.
    const Snapshot before = snapshotTree(dir.path());
    std::string edited = text;
    edited.replace(edited.find("keep,\"" + dir / "pics/a.jpg"), 4, "mark");
    io.write("edited.txt", edited);
    const CliOutcome refused =
        runCli({"--from-list", io / "edited.txt", "--action", "trash", "--yes"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("refused"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("marks every copy"), std::string::npos);
    EXPECT_EQ(describeChanges(before, snapshotTree(dir.path())), "");

    // A plan carries its own choice: no keep rules with it.
    EXPECT_EQ(runCli({"--from-list", plan, "--keep", "oldest", "--action", "trash"}).status, 2);

    const CliOutcome acted =
        runCli({"-q", "--from-list", plan, "--action", "trash", "--yes", "--journal", io / "j"});
    EXPECT_EQ(acted.status, 0) << acted.err;
    EXPECT_TRUE(dir.exists("pics/a.jpg"));
    EXPECT_FALSE(dir.exists("pics/b.jpg"));
}

TEST_F(CleanupCliTest, AFolderSwappedForALinkAfterTheListWasSavedIsNeverFollowed)
{
    const std::string list = io / "found.lis";
    const std::string plan = io / "plan.txt";
    ASSERT_EQ(runCli({"-q", "--any-time", "-o", list, dir.path()}).status, 0);
    ASSERT_EQ(
        runCli({"-q", "--from-list", list, "--keep", "shortest", "--action", "delete", "-o", plan})
            .status,
        0);
    outside.write("old/Report copy.txt", "quarterly numbers");
    ::rename((dir / "backup/old").c_str(), (dir / "backup/old.moved").c_str());
    ::symlink((outside / "old").c_str(), (dir / "backup/old").c_str());
    const Snapshot outsideBefore = snapshotTree(outside.path());
    for (const bool namingTheFolder : {false, true}) {
        // The plan was made before: the link is met as the file is acted on.
        std::vector<std::string> args = {"-q",     "--from-list", plan,        "--action",
                                         "delete", "--yes",       "--journal", io / "j"};
        if (namingTheFolder) {
            args.push_back(dir.path());
        }
        const CliOutcome r = runCli(args);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.out.find("untouched,\"" + dir / "backup/old/Report copy.txt" +
                             "\",17,\"a folder on its path is a link"),
                  std::string::npos)
            << r.out;
    }
    // A list is checked as the plan is made: the file is left alone then.
    const CliOutcome fromList = runCli({"-q", "--from-list", list, "--keep", "shortest", "--action",
                                        "delete", "--yes", "--journal", io / "j"});
    EXPECT_EQ(fromList.status, 3);
    EXPECT_NE(fromList.err.find("left alone, " + dir / "backup/old/Report copy.txt" +
                                ": a folder on its path is a link"),
              std::string::npos)
        << fromList.err;
    EXPECT_EQ(describeChanges(outsideBefore, snapshotTree(outside.path())), "");
}

TEST_F(CleanupCliTest, NamedFoldersLimitWhatAListActsOn)
{
    const std::string list = io / "found.lis";
    ASSERT_EQ(runCli({"-q", "--any-time", "-o", list, dir.path()}).status, 0);
    const CliOutcome r = runCli({"--from-list", list, "--keep", "first", "--action", "delete",
                                 "--yes", "--journal", io / "j", dir / "pics"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("3 files of the list lie outside the folders named"), std::string::npos)
        << r.err;
    EXPECT_FALSE(dir.exists("pics/b.jpg"));
    EXPECT_TRUE(dir.exists("backup/report.txt"));
    EXPECT_TRUE(dir.exists("backup/old/Report copy.txt"));
}

TEST_F(CleanupCliTest, JsonIsValidAndKeepsNamesThatAreNotUtf8)
{
    TempFolder tree;
    tree.write("caf\xE9.txt", "odd names");
    tree.write("tab\tquote\"back\\slash.txt", "odd names");
    tree.write("two\nlines.txt", "odd names");
    const CliOutcome plan = runCli(
        cleanupArgs({"--format", "json", "--keep", "name:tab*", "--action", "trash", tree.path()}));
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_TRUE(JsonChecker(plan.out).valid()) << plan.out;
    EXPECT_NE(plan.out.find("\"kind\": \"plan\""), std::string::npos);
    EXPECT_NE(plan.out.find("caf\xEF\xBF\xBD.txt\""), std::string::npos);
    EXPECT_NE(plan.out.find("\"path_hex\": \"" /* the bytes of the Latin-1 path */),
              std::string::npos);
    EXPECT_NE(plan.out.find("tab\\tquote\\\"back\\\\slash.txt"), std::string::npos);
    EXPECT_NE(plan.out.find("two\\nlines.txt"), std::string::npos);
    EXPECT_NE(plan.out.find("\"bytes_to_reclaim\": 18"), std::string::npos);

    const CliOutcome report =
        runCli(cleanupArgs({"--format", "json", "--keep", "name:tab*", "--action", "trash", "--yes",
                            "--journal", io / "j", tree.path()}));
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_TRUE(JsonChecker(report.out).valid()) << report.out;
    EXPECT_NE(report.out.find("\"outcome\": \"trashed\""), std::string::npos);
    EXPECT_NE(report.out.find("\"done\": 2"), std::string::npos);
    EXPECT_FALSE(tree.exists("caf\xE9.txt"));
    EXPECT_FALSE(tree.exists("two\nlines.txt"));

    const CliOutcome undo = runCli({"--format", "json", "--undo", io / "j"});
    ASSERT_EQ(undo.status, 0) << undo.err;
    EXPECT_TRUE(JsonChecker(undo.out).valid()) << undo.out;
    EXPECT_NE(undo.out.find("\"restored\": 2"), std::string::npos);
    EXPECT_TRUE(tree.exists("caf\xE9.txt"));
    EXPECT_TRUE(tree.exists("two\nlines.txt"));

    EXPECT_FALSE(JsonChecker("{\"a\": [1,]}").valid());
    EXPECT_FALSE(JsonChecker("{\"a\": \"\x01\"}").valid());
}

TEST_F(CleanupCliTest, PathsFormatWritesTheMarkedFilesAndThoseDone)
{
    TempFolder tree;
    tree.write("keep.txt", "lines");
    tree.write("line\nbreak.txt", "lines");
    tree.write("plain.txt", "lines");
    const CliOutcome plan = runCli(cleanupArgs(
        {"--format", "paths", "--keep", "name:keep*", "--action", "trash", tree.path()}));
    EXPECT_EQ(plan.status, 0);
    EXPECT_EQ(plan.out, tree / "plain.txt" + "\n");
    EXPECT_NE(plan.err.find("1 paths hold a line break"), std::string::npos);
    const CliOutcome nul = runCli(cleanupArgs(
        {"--format", "paths", "--null", "--keep", "name:keep*", "--action", "trash", tree.path()}));
    EXPECT_EQ(nul.out, tree / "line\nbreak.txt" + std::string(1, '\0') + tree / "plain.txt" +
                           std::string(1, '\0'));
}

TEST_F(CleanupCliTest, CtrlCStopsTheRunBeforeTheNextFileAndExitsWithOne)
{
    // Large sparse files take no room but seconds to compare.
    TempFolder tree;
    std::map<std::string, ino_t> inodes;
    for (const char* name : {"a/kept", "a/marked", "b/kept", "b/marked"}) {
        const std::string path = tree.write(name, "");
        ASSERT_EQ(::truncate(path.c_str(), 1LL << 30), 0);
        struct stat st = {};
        ::lstat(path.c_str(), &st);
        inodes[name] = st.st_ino;
    }
    io.write("plan.txt", "keep,\"" + tree / "a/kept" + "\"\nmark,\"" + tree / "a/marked" +
                             "\"\n\nkeep,\"" + tree / "b/kept" + "\"\nmark,\"" + tree / "b/marked" +
                             "\"\n");
    bool handled = false;
    CliRun how = whileItRuns([&](pid_t pid) {
        handled = waitForHandler(pid);
        ::kill(pid, SIGINT);
    });
    const CliOutcome r = runCli(
        {"--from-list", io / "plan.txt", "--action", "delete", "--yes", "--journal", io / "j"},
        how);
    ASSERT_TRUE(handled);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("stopped,\"" + tree / "b/marked"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("(stopped)"), std::string::npos) << r.err;
    for (const auto& [name, inode] : inodes) {
        struct stat st = {};
        EXPECT_EQ(::lstat((tree / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_ino, inode) << name;
        EXPECT_EQ(st.st_size, 1LL << 30) << name;
    }
}

TEST_F(CleanupCliTest, UndoSaysWhatItCouldNotPutBackAndExitsWithThree)
{
    const std::string journal = io / "run.journal";
    ASSERT_EQ(runCli(cleanupArgs({"--keep", "oldest", "--action", "trash", "--yes", "--journal",
                                  journal, dir.path()}))
                  .status,
              0);
    dir.write("pics/a.jpg", "a new picture since");
    const CliOutcome undo = runCli({"--undo", journal});
    EXPECT_EQ(undo.status, 3);
    EXPECT_NE(undo.out.find("not-restored,\"" + dir / "pics/a.jpg" +
                            "\",\"another file has taken its place; it stays in the trash as " +
                            data / "Trash/files/a.jpg"),
              std::string::npos)
        << undo.out;
    EXPECT_NE(undo.err.find("2 files put back, 1 not put back"), std::string::npos) << undo.err;
    EXPECT_EQ(dir.read("pics/a.jpg"), "a new picture since");

    // Deleted for good: nothing to put back, and said so.
    const std::string deletion = io / "delete.journal";
    ASSERT_EQ(runCli(cleanupArgs({"--keep", "oldest", "--action", "delete", "--yes", "--journal",
                                  deletion, dir.path()}))
                  .status,
              0);
    const CliOutcome gone = runCli({"--undo", deletion});
    EXPECT_EQ(gone.status, 3);
    EXPECT_NE(gone.out.find("not-undoable,\"" + dir / "backup/report.txt" +
                            "\",\"it was deleted for good\""),
              std::string::npos)
        << gone.out;
}

TEST_F(CleanupCliTest, TheJournalGoesBesideTheListFilesUnlessNamed)
{
    const CliOutcome r =
        runCli({"--any-time", "--keep", "oldest", "--action", "trash", "--yes", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t at = r.err.find("Journal: ");
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string path = r.err.substr(at + 9, r.err.find('\n', at) - at - 9);
    EXPECT_NE(path.find("/cleanup-"), std::string::npos);
    EXPECT_EQ(path.substr(path.size() - 8), ".journal");
    std::string journal;
    EXPECT_TRUE(platform::readWholeFile(path, journal));
    EXPECT_NE(journal.find("\ttrash\t" + dir / "pics/a.jpg"), std::string::npos);
    ::unlink(path.c_str());
}

TEST_F(CleanupCliTest, BadUsageChangesNothingAndExitsWithTwo)
{
    const Snapshot before = snapshotTree(dir.path());
    const std::vector<std::vector<std::string>> bad = {
        {"--yes", dir.path()},
        {"--keep", "oldest", dir.path()},
        {"--action", "trash", "--dry-run", "--yes", dir.path()},
        {"--action", "shred", dir.path()},
        {"--action", "trash", "--keep", "biggest", dir.path()},
        {"--action", "move:" + dir / "no such folder", "--yes", dir.path()},
        {"--action", "trash", "--from-list", io / "missing.lis", "--yes"},
        {"--undo", io / "j", dir.path()},
        {"--undo", io / "missing.journal"},
        {"--format", "json", dir.path()},
        {"--action"},
    };
    for (const std::vector<std::string>& args : bad) {
        const CliOutcome r = runCli(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "") << "\n"
                               << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(describeChanges(before, snapshotTree(dir.path())), "");
    const CliOutcome help = runCli({"--help"});
    for (const char* option : {"--keep RULE", "--action ACTION", "--dry-run", "--yes",
                               "--from-list FILE", "--journal FILE", "--undo JOURNAL",
                               "list|paths|json", "3 some files were left untouched"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
}

TEST_F(CleanupCliTest, TwoRunsAtOnceWithCrossedKeepRulesNeverRemoveBothCopies)
{
    // Several pairs a round, big enough that the two runs' comparisons overlap.
    constexpr int kPairs = 4;
    for (int round = 0; round < 10; ++round) {
        TempFolder tree;
        for (int pair = 0; pair < kPairs; ++pair) {
            const std::string contents(4 << 20, static_cast<char>('A' + round * kPairs + pair));
            tree.write("a/" + std::to_string(pair), contents);
            tree.write("b/" + std::to_string(pair), contents);
        }
        const auto keeping = [&](const std::string& folder) {
            return cleanupArgs({"--keep", "in:" + tree / folder, "--action", "delete", "--yes",
                                "--journal", io / (folder + std::to_string(round)), tree.path()});
        };
        CliOutcome keepsA;
        std::thread other([&] { keepsA = runCli(keeping("a")); });
        const CliOutcome keepsB = runCli(keeping("b"));
        other.join();
        EXPECT_TRUE(keepsA.status == 0 || keepsA.status == 3) << keepsA.err;
        EXPECT_TRUE(keepsB.status == 0 || keepsB.status == 3) << keepsB.err;
        for (int pair = 0; pair < kPairs; ++pair) {
            const std::string name = std::to_string(pair);
            EXPECT_TRUE(tree.exists("a/" + name) || tree.exists("b/" + name))
                << "round " << round << ": both copies of " << name << " are gone";
            // A run that says it deleted left its kept file where it was.
            if (keepsA.out.find("deleted,\"" + tree / ("b/" + name)) != std::string::npos) {
                EXPECT_TRUE(tree.exists("a/" + name)) << "round " << round;
            }
            if (keepsB.out.find("deleted,\"" + tree / ("a/" + name)) != std::string::npos) {
                EXPECT_TRUE(tree.exists("b/" + name)) << "round " << round;
            }
        }
    }
}

TEST_F(CleanupCliTest, AHardLinkThatWouldChangeTheOwnerNeedsLinkAnyOwner)
{
    TempFolder tree;
    tree.write("mine/notes.txt", "same words");
    tree.write("theirs/notes.txt", "same words");
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file another owner needs root";
    }
    ASSERT_EQ(::chown((tree / "theirs/notes.txt").c_str(), 4321, 4321), 0);
    tree.chmod("theirs/notes.txt", 0600);
    const auto run = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {
            "--keep", "in:" + tree / "mine", "--action",         "hardlink",
            "--yes",  "--journal",           io / "link.journal"};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(tree.path());
        return runCli(cleanupArgs(args));
    };
    const CliOutcome refused = run({});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.out.find("untouched,\"" + tree / "theirs/notes.txt" +
                               "\",10,\"its owner, group and permissions differ"),
              std::string::npos)
        << refused.out;
    struct stat st = {};
    ASSERT_EQ(::lstat((tree / "theirs/notes.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_nlink, 1u);

    ::unlink((io / "link.journal").c_str());
    const CliOutcome allowed = run({"--link-any-owner"});
    EXPECT_EQ(allowed.status, 0) << allowed.out << allowed.err;
    ASSERT_EQ(::lstat((tree / "theirs/notes.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(runCli({"--link-any-owner", "--action", "delete", tree.path()}).status, 2);
}

TEST_F(CleanupCliTest, AnOutputOrJournalAmongTheFilesOfTheRunIsRefusedBeforeActing)
{
    outside.mkdir("moved");
    ASSERT_EQ(::link((dir / "docs/report.txt").c_str(), (outside / "report link.txt").c_str()), 0);
    const Snapshot before = snapshotTree(dir.path());
    const Snapshot outsideBefore = snapshotTree(outside.path());
    const std::vector<std::vector<std::string>> refused = {
        {"-o", dir / "docs/report.txt"},      // the kept file itself
        {"-o", outside / "report link.txt"},  // another name of it
        {"-o", dir / "pics/new report.txt"},  // made among the searched files
        {"--journal", dir / "other/run.journal"},
        // Made in a folder that the move makes.
        {"--action", "move:" + outside / "moved", "-o", outside / "moved/docs/report.txt"},
    };
    for (const std::vector<std::string>& more : refused) {
        std::vector<std::string> args = {"-q",       "--any-time", "--keep", "in:" + dir / "docs",
                                         "--action", "delete",     "--yes"};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(dir.path());
        const CliOutcome r = runCli(args);
        EXPECT_EQ(r.status, 2) << more[1] << "\n" << r.err;
        EXPECT_NE(r.err.find("is refused"), std::string::npos) << r.err;
    }
    EXPECT_EQ(describeChanges(before, snapshotTree(dir.path())), "");
    EXPECT_EQ(describeChanges(outsideBefore, snapshotTree(outside.path())), "");
}

TEST_F(CleanupCliTest, AJournalIsOnlyEverANewFileOrAJournal)
{
    io.write("notes.txt", "my notes\n");
    io.fifo("fifo");
    const Snapshot before = snapshotTree(dir.path());
    CliRun soon;
    soon.seconds = 20;  // a FIFO must never be waited on
    for (const std::string& journal : {io / "notes.txt", io / "fifo", std::string("/dev/null")}) {
        const CliOutcome r = runCli(
            {"-q", "--any-time", "--action", "trash", "--yes", "--journal", journal, dir.path()},
            soon);
        EXPECT_EQ(r.status, 2) << journal << "\n" << r.err;
        EXPECT_NE(r.err.find("--journal " + journal + " is refused"), std::string::npos) << r.err;
    }
    EXPECT_EQ(io.read("notes.txt"), "my notes\n");
    EXPECT_EQ(describeChanges(before, snapshotTree(dir.path())), "");
}

TEST_F(CleanupCliTest, EachRunHasAJournalOfItsOwnAndAQuietRunNamesIt)
{
    const auto journalOf = [](const CliOutcome& r) {
        const std::size_t at = r.err.find("Journal: ");
        return at == std::string::npos ? std::string()
                                       : r.err.substr(at + 9, r.err.find('\n', at) - at - 9);
    };
    // cleanup-yyyymmdd-hhmmss: the second the run began.
    const auto secondOf = [](const std::string& path) {
        return path.substr(path.rfind('/') + 1, 23);
    };
    std::string one;
    std::string two;
    std::string first;
    std::string second;
    // Two runs one after the other, until both began in one second.
    for (int attempt = 0; attempt < 5 && (first.empty() || secondOf(first) != secondOf(second));
         ++attempt) {
        one = io.mkdir("try" + std::to_string(attempt) + "/one");
        two = io.mkdir("try" + std::to_string(attempt) + "/two");
        io.write("try" + std::to_string(attempt) + "/one/x", "first run");
        io.write("try" + std::to_string(attempt) + "/one/y", "first run");
        io.write("try" + std::to_string(attempt) + "/two/x", "second run");
        io.write("try" + std::to_string(attempt) + "/two/y", "second run");
        const std::vector<std::string> act = {"-q",       "--any-time", "--keep", "first",
                                              "--action", "trash",      "--yes"};
        std::vector<std::string> args = act;
        args.push_back(one);
        const CliOutcome a = runCli(args);
        args = act;
        args.push_back(two);
        const CliOutcome b = runCli(args);
        ASSERT_EQ(a.status, 0) << a.err;
        ASSERT_EQ(b.status, 0) << b.err;
        first = journalOf(a);
        second = journalOf(b);
        ASSERT_FALSE(first.empty()) << a.err;
        ASSERT_FALSE(second.empty()) << b.err;
    }
    EXPECT_NE(first, second);
    const CliOutcome undone = runCli({"-q", "--undo", second});
    EXPECT_EQ(undone.status, 0) << undone.out << undone.err;
    EXPECT_EQ(namesIn(two).size(), 2u);
    EXPECT_EQ(namesIn(one).size(), 1u);  // the first run's file stays in the trash
    ::unlink(first.c_str());
    ::unlink(second.c_str());
}

TEST_F(CleanupCliTest, APlanWithARelativePathIsRefusedAlsoWithFolders)
{
    const std::string plan = io / "plan.txt";
    ASSERT_EQ(runCli(cleanupArgs({"--keep", "newest", "--action", "trash", "-o", plan, dir.path()}))
                  .status,
              0);
    std::string text = io.read("plan.txt");
    const std::string marked = "mark,\"" + dir / "pics/b.jpg";
    ASSERT_NE(text.find(marked), std::string::npos) << text;
    text.replace(text.find(marked), marked.size(), "mark,\"pics/b.jpg");
    io.write("relative.txt", text);
    const Snapshot before = snapshotTree(dir.path());
    const CliOutcome r = runCli({"--from-list", io / "relative.txt", "--action", "trash", "--yes",
                                 "--journal", io / "j", dir.path()});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("the plan is refused"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pics/b.jpg"), std::string::npos) << r.err;
    EXPECT_EQ(describeChanges(before, snapshotTree(dir.path())), "");
}

TEST_F(CleanupCliTest, AnUndoNeverWritesItsReportWhereItPutsFilesBack)
{
    const std::string journal = io / "run.journal";
    ASSERT_EQ(runCli({"-q", "--any-time", "--keep", "in:" + dir / "docs", "--action", "trash",
                      "--yes", "--journal", journal, dir.path()})
                  .status,
              0);
    ASSERT_FALSE(dir.exists("backup/report.txt"));
    const CliOutcome r = runCli({"-q", "--undo", journal, "-o", dir / "backup/report.txt"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("is refused"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.exists("backup/report.txt"));
    EXPECT_EQ(runCli({"-q", "--undo", journal}).status, 0);
    EXPECT_EQ(dir.read("backup/report.txt"), "quarterly numbers");
}
