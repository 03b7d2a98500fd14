// Tests of undoing a cleanup from its journal.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Undo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cleanup/CleanupFixture.h"
#include "cleanup/Journal.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"

using namespace cleanup;

namespace {

class UndoTest : public CleanupFixture {
protected:
    // The regular files of the tree: what undo must give back.
    Snapshot files()
    {
        Snapshot all = snapshotTree(tree.path());
        Snapshot regular;
        for (const auto& [path, facts] : all) {
            if (S_ISREG(facts.mode)) {
                regular.emplace(path, facts);
            }
        }
        return regular;
    }

    UndoReport undo()
    {
        UndoReport report;
        std::string error;
        EXPECT_TRUE(undoJournal(journalPath(), report, error)) << error;
        return report;
    }

    std::vector<std::string> statuses(const UndoReport& report)
    {
        std::vector<std::string> out;
        for (const UndoItem& item : report.items) {
            static const char* const kWords[] = {"back", "already", "not", "cannot"};
            out.push_back(std::string(kWords[item.status]) + ":" +
                          item.path.substr(tree.path().size()));
        }
        return out;
    }

    Plan threeGroups()
    {
        tree.write("a/kept", "first contents");
        tree.write("a/copy", "first contents");
        tree.write("b/kept", "second contents");
        tree.write("b/deeper/copy", "second contents");
        tree.write("b/deeper/copy 2", "second contents");
        return keepFirst(
            {group({"a/kept", "a/copy"}), group({"b/kept", "b/deeper/copy", "b/deeper/copy 2"})});
    }
};

}  // namespace

TEST_F(UndoTest, EverythingThatWentToTheTrashComesBack)
{
    const Plan plan = threeGroups();
    const Snapshot before = files();
    ASSERT_EQ(act(plan, ActionKind::Trash).count(Outcome::Done), 3);
    ASSERT_NE(files(), before);
    const UndoReport report = undo();
    EXPECT_EQ(statuses(report), (std::vector<std::string>{"back:a/copy", "back:b/deeper/copy",
                                                          "back:b/deeper/copy 2"}));
    EXPECT_EQ(describeChanges(before, files()), "");
    EXPECT_FALSE(data.exists("Trash/files/copy"));
    EXPECT_FALSE(data.exists("Trash/info/copy.trashinfo"));

    // Twice is harmless.
    EXPECT_EQ(statuses(undo()), (std::vector<std::string>{"already:a/copy", "already:b/deeper/copy",
                                                          "already:b/deeper/copy 2"}));
}

TEST_F(UndoTest, AStoppedRunIsUndoneAsFarAsItWent)
{
    const Plan plan = threeGroups();
    const Snapshot before = files();
    int files = 0;
    const Report report = act(plan, ActionKind::Trash, [&](Runner& runner) {
        runner.stopRequested = [&] { return files >= 2; };
        runner.afterCheck = [&](const PlanFile&) { ++files; };
    });
    ASSERT_TRUE(report.stopped);
    ASSERT_EQ(report.count(Outcome::Done), 2);
    EXPECT_EQ(statuses(undo()), (std::vector<std::string>{"back:a/copy", "back:b/deeper/copy"}));
    EXPECT_EQ(describeChanges(before, this->files()), "");
}

TEST_F(UndoTest, AFileWhosePlaceWasTakenStaysInTheTrashAndIsReported)
{
    const Plan plan = threeGroups();
    ASSERT_EQ(act(plan, ActionKind::Trash).count(Outcome::Done), 3);
    tree.write("b/deeper/copy", "a new file written since");
    const UndoReport report = undo();
    EXPECT_EQ(statuses(report), (std::vector<std::string>{"back:a/copy", "not:b/deeper/copy",
                                                          "back:b/deeper/copy 2"}));
    EXPECT_NE(report.items[1].detail.find("taken its place"), std::string::npos);
    EXPECT_NE(report.items[1].detail.find("in the trash"), std::string::npos);
    EXPECT_EQ(tree.read("b/deeper/copy"), "a new file written since");
    // The trashed file is still in the trash, with its information.
    EXPECT_EQ(data.read("Trash/files/copy.2"), "second contents");
    EXPECT_TRUE(data.exists("Trash/info/copy.2.trashinfo"));
}

TEST_F(UndoTest, AFolderThatWentMeanwhileIsMadeAgain)
{
    const Plan plan = threeGroups();
    const Snapshot before = files();
    ASSERT_EQ(act(plan, ActionKind::Trash).count(Outcome::Done), 3);
    tree.remove("b/deeper");
    EXPECT_EQ(undo().count(UndoItem::PutBack), 3);
    EXPECT_EQ(describeChanges(before, files()), "");
}

TEST_F(UndoTest, AnotherFileUnderTheTrashEntrysNameIsNeverTakenForIt)
{
    const Plan plan = threeGroups();
    ASSERT_EQ(act(plan, ActionKind::Trash).count(Outcome::Done), 3);
    // The trash was emptied of two, and another file went there under the
    // name of one of them.
    data.remove("Trash/files/copy");
    data.write("Trash/files/copy", "someone else's");
    data.remove("Trash/files/copy 2");
    const UndoReport report = undo();
    EXPECT_EQ(statuses(report), (std::vector<std::string>{"not:a/copy", "back:b/deeper/copy",
                                                          "not:b/deeper/copy 2"}));
    EXPECT_NE(report.items[0].detail.find("another file"), std::string::npos);
    EXPECT_NE(report.items[2].detail.find("no longer in the trash"), std::string::npos);
    EXPECT_FALSE(tree.exists("a/copy"));
    EXPECT_EQ(data.read("Trash/files/copy"), "someone else's");
}

TEST_F(UndoTest, MovedFilesGoBackAndDeletedOnesAreSaidToBeGone)
{
    const Plan plan = threeGroups();
    const Snapshot before = files();
    ASSERT_EQ(act(plan, ActionKind::Move).count(Outcome::Done), 3);
    EXPECT_EQ(outside.read("moved/b/deeper/copy 2"), "second contents");
    EXPECT_EQ(undo().count(UndoItem::PutBack), 3);
    EXPECT_EQ(describeChanges(before, files()), "");

    ::unlink(journalPath().c_str());
    ASSERT_EQ(act(plan, ActionKind::Delete).count(Outcome::Done), 3);
    const UndoReport report = undo();
    EXPECT_EQ(report.count(UndoItem::CannotUndo), 3);
    EXPECT_NE(report.items[0].detail.find("deleted for good"), std::string::npos);
}

TEST_F(UndoTest, AFileARunWasTrashingWhenItWasKilledIsFoundAndPutBack)
{
    const Plan plan = threeGroups();
    const Snapshot before = files();
    ASSERT_EQ(act(plan, ActionKind::Trash).count(Outcome::Done), 3);
    // As if the run had been killed between each move and its "done" line.
    std::string text;
    ASSERT_TRUE(platform::readWholeFile(journalPath(), text));
    std::string cut;
    for (const std::string& line : text::splitLines(text)) {
        if (!line.empty() && line.rfind("done\t", 0) != 0 && line.rfind("end\t", 0) != 0) {
            cut += line + "\n";
        }
    }
    ASSERT_TRUE(platform::writeFileAtomically(journalPath(), cut));
    EXPECT_EQ(undo().count(UndoItem::PutBack), 3);
    EXPECT_EQ(describeChanges(before, files()), "");
}

TEST_F(UndoTest, ADeletionCutShortAfterItsClaimIsPutBack)
{
    tree.write("kept", "claimed");
    tree.write("marked", "claimed");
    struct stat st = {};
    ASSERT_EQ(::lstat((tree / "marked").c_str(), &st), 0);
    // A deletion first renames the file to a spare name beside it; the run
    // was killed right after.
    Journal journal;
    std::string error;
    ASSERT_TRUE(journal.open(journalPath(), error));
    ASSERT_TRUE(journal.write({"run", "9.9", "2024-01-01T00:00:00", "delete", ""}, error));
    ASSERT_TRUE(journal.write(
        {"intent", "9.9.1", "delete", tree / "marked", tree.path(), std::to_string(st.st_dev),
         std::to_string(st.st_ino), ".gemmora-9.9.1", std::to_string(st.st_size),
         std::to_string(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec)},
        error));
    ASSERT_EQ(::rename((tree / "marked").c_str(), (tree / ".gemmora-9.9.1").c_str()), 0);
    const UndoReport report = undo();
    ASSERT_EQ(report.items.size(), 1u);
    EXPECT_EQ(report.items[0].status, UndoItem::PutBack);
    EXPECT_EQ(tree.read("marked"), "claimed");
    EXPECT_FALSE(tree.exists(".gemmora-9.9.1"));
}

TEST_F(UndoTest, AJournalThatIsNotOneIsRefused)
{
    work.write("run.journal", "gemmora-cleanup-journal\t1\nintent\t\\q\n");
    UndoReport report;
    std::string error;
    EXPECT_FALSE(undoJournal(journalPath(), report, error));
    EXPECT_NE(error.find("damaged"), std::string::npos);
}

TEST_F(UndoTest, ProgressCountsEveryFileAndAStopEndsBetweenFiles)
{
    const Plan plan = threeGroups();
    ASSERT_EQ(act(plan, ActionKind::Trash).count(Outcome::Done), 3);
    std::vector<std::pair<std::size_t, std::size_t>> steps;
    UndoReport report;
    std::string error;
    ASSERT_TRUE(undoJournal(
        journalPath(), report, error, [&] { return steps.size() >= 3; },
        [&](std::size_t done, std::size_t total) { steps.emplace_back(done, total); }));
    // Told before each file; the stop asked after the third report ends it there.
    EXPECT_EQ(steps, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 3}, {1, 3}, {2, 3}}));
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.count(UndoItem::PutBack), 2);

    steps.clear();
    ASSERT_TRUE(
        undoJournal(journalPath(), report, error, {},
                    [&](std::size_t done, std::size_t total) { steps.emplace_back(done, total); }));
    EXPECT_EQ(steps.back(), (std::pair<std::size_t, std::size_t>{3, 3}));
    EXPECT_EQ(report.count(UndoItem::PutBack), 1);
}
