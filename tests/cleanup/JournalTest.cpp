// Tests of the cleanup journal: every byte reads back, cut lines, finding the newest.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/WholeFile.h"
#include "cleanup/Journal.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

#include "text/StringList.h"
#include "support/TempFolder.h"

using namespace cleanup;

TEST(JournalTest, EveryByteOfAFieldReadsBack)
{
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    const std::string escaped = escapeField(all + "\\t\\");
    EXPECT_EQ(escaped.find_first_of("\t\n\r"), std::string::npos);
    std::string back;
    ASSERT_TRUE(unescapeField(escaped, back));
    EXPECT_EQ(back, all + "\\t\\");
    EXPECT_FALSE(unescapeField("\\", back));
    EXPECT_FALSE(unescapeField("\\q", back));
    EXPECT_FALSE(unescapeField("\\x4", back));
    EXPECT_FALSE(unescapeField("\\xZZ", back));
    // No path holds a zero byte; a journal that gives one is damaged.
    EXPECT_FALSE(unescapeField("/t/a\\x00/b", back));
}

TEST(JournalTest, ALineCutShortByACrashIsLeftOutAndOthersAreNotAJournal)
{
    TempFolder dir;
    Journal journal;
    std::string error;
    ASSERT_TRUE(journal.open(dir / "j", error)) << error;
    ASSERT_TRUE(journal.write({"intent", "1.1", "trash", "/a\tb\nc"}, error));
    journal.sync();
    struct stat st = {};
    ASSERT_EQ(::stat((dir / "j").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    dir.write("cut", dir.read("j") + "done\t1.1\ttra");
    std::vector<std::vector<std::string>> lines;
    ASSERT_TRUE(readJournal(dir / "cut", lines, error)) << error;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], (std::vector<std::string>{"intent", "1.1", "trash", "/a\tb\nc"}));

    dir.write("other", "just some text\n");
    EXPECT_FALSE(readJournal(dir / "other", lines, error));
    EXPECT_FALSE(readJournal(dir / "missing", lines, error));

    // A journal opened again goes on where it ended, with one header.
    Journal again;
    ASSERT_TRUE(again.open(dir / "j", error));
    ASSERT_TRUE(again.write({"end", "1"}, error));
    ASSERT_TRUE(readJournal(dir / "j", lines, error));
    EXPECT_EQ(lines.size(), 3u);
}

TEST(JournalTest, TheNewestDatedJournalIsFoundAndSummed)
{
    TempFolder dir;
    EXPECT_EQ(latestJournal(dir.path()), "");
    const std::string name = journalFileName();
    ASSERT_EQ(name.size(), std::string("cleanup-20240506-070809.journal").size());
    EXPECT_EQ(name.rfind("cleanup-", 0), 0u);
    dir.write("cleanup-20240506-070809.journal", "");
    dir.write("cleanup-20240506-070810.journal", "");
    // Neither a name of another form nor a folder is taken for a journal.
    dir.write("cleanup-20990506-070810.journal.bak", "");
    dir.write("cleanup-2099.journal", "");
    dir.write("cleanup-20990506-07081x.journal", "");
    dir.write("cleanup-20990506-070810-0.journal", "");
    dir.write("cleanup-20990506-070810-x.journal", "");
    dir.mkdir("cleanup-20990506-070811.journal");
    EXPECT_EQ(latestJournal(dir.path()), dir / "cleanup-20240506-070810.journal");
    // Runs of one second: the later has the greater number, and 10 follows 9.
    dir.write("cleanup-20240506-070810-9.journal", "");
    EXPECT_EQ(latestJournal(dir.path()), dir / "cleanup-20240506-070810-9.journal");
    dir.write("cleanup-20240506-070810-10.journal", "");
    EXPECT_EQ(latestJournal(dir.path()), dir / "cleanup-20240506-070810-10.journal");

    // A new run takes a name of its own, even in the same second as another.
    TempFolder runs;
    const std::string first = newJournalPath(runs.path());
    EXPECT_EQ(first.rfind(runs.path() + "cleanup-", 0), 0u);
    runs.write(first.substr(runs.path().size()), "");
    const std::string second = newJournalPath(runs.path());
    EXPECT_NE(second, first);
    runs.write(second.substr(runs.path().size()), "");
    EXPECT_EQ(latestJournal(runs.path()), second);

    Journal journal;
    std::string error;
    ASSERT_TRUE(journal.open(dir / "j", error)) << error;
    for (const std::vector<std::string>& line : std::vector<std::vector<std::string>>{
             {"run", "1", "2024-05-06T07:08:09", "trash", ""},
             {"done", "1.1", "trash", "/t/a"},
             {"done", "1.2", "trash", "/t/b"},
             {"untouched", "1.3", "/t/c", "it is gone"},
             {"run", "2", "2024-05-06T07:08:10", "delete", ""},
             {"done", "2.1", "delete", "/t/d"},
         }) {
        ASSERT_TRUE(journal.write(line, error)) << error;
    }
    JournalSummary summary;
    ASSERT_TRUE(summariseJournal(dir / "j", summary, error)) << error;
    EXPECT_EQ(summary.started, "2024-05-06T07:08:09");
    EXPECT_EQ(summary.action, "trash");
    EXPECT_EQ(summary.done, 3);
    EXPECT_EQ(summary.canPutBack, 2);
    EXPECT_FALSE(summariseJournal(dir / "missing", summary, error));
}

TEST(JournalTest, ANamedJournalIsANewFileOrAJournalAndNothingElse)
{
    TempFolder dir;
    std::string error;
    {
        Journal fresh;
        ASSERT_TRUE(fresh.openNamed(dir / "new.journal", error)) << error;
        ASSERT_TRUE(fresh.write({"end", "1"}, error));
    }
    EXPECT_EQ(dir.read("new.journal"), "gemmora-cleanup-journal\t1\nend\t1\n");
    EXPECT_EQ(statOf(dir / "new.journal").st_mode & 0777, 0600u);
    // A journal cut short by a crash is added to on a line of its own.
    dir.write("cut.journal", "gemmora-cleanup-journal\t1\ndone\t1.1\ttra");
    {
        Journal cut;
        ASSERT_TRUE(cut.openNamed(dir / "cut.journal", error)) << error;
        ASSERT_TRUE(cut.write({"end", "2"}, error));
    }
    std::vector<std::vector<std::string>> lines;
    ASSERT_TRUE(readJournal(dir / "cut.journal", lines, error)) << error;
    EXPECT_EQ(lines.back(), (std::vector<std::string>{"end", "2"}));
    dir.write("empty", "");
    EXPECT_TRUE(Journal().openNamed(dir / "empty", error)) << error;

    dir.write("notes.txt", "my notes\n");
    dir.fifo("fifo");
    dir.symlink(dir / "new.journal", "link.journal");
    dir.mkdir("folder");
    for (const std::string& path : {dir / "notes.txt", dir / "fifo", dir / "link.journal",
                                    dir / "folder", std::string("/dev/null")}) {
        Journal refused;
        error.clear();
        EXPECT_FALSE(refused.openNamed(path, error)) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
    EXPECT_EQ(dir.read("notes.txt"), "my notes\n");
    EXPECT_EQ(dir.read("new.journal"), "gemmora-cleanup-journal\t1\nend\t1\n");
}

TEST(JournalTest, RunsStartingInOneSecondEachMakeAJournalOfTheirOwn)
{
    TempFolder dir;
    const std::string folder = dir / "made/for/journals/";
    std::vector<std::string> paths;
    for (int run = 0; run < 3; ++run) {
        Journal journal;
        std::string error;
        ASSERT_TRUE(journal.create(folder, error)) << error;
        paths.push_back(journal.path());
    }
    EXPECT_EQ(statOf(dir / "made/for/journals").st_mode & 0777, 0700u);
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), 3u);
    for (const std::string& path : paths) {
        EXPECT_EQ(path.rfind(folder + "cleanup-", 0), 0u);
        std::vector<std::vector<std::string>> lines;
        std::string error;
        EXPECT_TRUE(readJournal(path, lines, error)) << path << ": " << error;
    }
    // A name taken while the run looked is never shared: made exclusively.
    const std::string reserved = newJournalPath(folder);
    EXPECT_NE(reserved, newJournalPath(folder));
    std::string text;
    ASSERT_TRUE(platform::readWholeFile(reserved, text));
    EXPECT_EQ(text, "gemmora-cleanup-journal\t1\n");
}
