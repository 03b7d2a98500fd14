// Tests of undoing a cleanup from its journal.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Undo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

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

TEST_F(UndoTest, AFileAtTheTopOfAMountGoesToItsTrashAndComesBack)
{
    const int result = inMountNamespace([&] { return mountTmpfs(tree.path(), "1m"); }, [&] {
        tree.write("kept.jpg", "photo");
        tree.write("photo.jpg", "photo");
        const Plan plan = keepFirst({group({"kept.jpg", "photo.jpg"})});
        const Snapshot before = files();
        if (act(plan, ActionKind::Trash).count(Outcome::Done) != 1 || tree.exists("photo.jpg")) {
            return 1;
        }
        UndoReport report;
        std::string error;
        if (!undoJournal(journalPath(), report, error) ||
            statuses(report) != std::vector<std::string>{"back:photo.jpg"}) {
            return 2;
        }
        return describeChanges(before, files()).empty() ? 0 : 3;
    });
    if (result == 77) {
        GTEST_SKIP() << "mounting a tmpfs is refused here (needs root and unshare)";
    }
    EXPECT_EQ(result, 0);
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

namespace {

// A journal line of step `id` made by hand: `head` fields, the file's
// device and inode, `middle` fields, its size and modification time, `tail`.
std::vector<std::string> lineFor(const std::string& path, std::vector<std::string> head,
                                 const std::vector<std::string>& middle,
                                 const std::vector<std::string>& tail = {})
{
    const struct stat st = statOf(path);
    head.push_back(std::to_string(st.st_dev));
    head.push_back(std::to_string(st.st_ino));
    head.insert(head.end(), middle.begin(), middle.end());
    head.push_back(std::to_string(st.st_size));
    head.push_back(std::to_string(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec));
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

void writeLines(const std::string& path, const std::vector<std::vector<std::string>>& lines)
{
    Journal journal;
    std::string error;
    ASSERT_TRUE(journal.open(path, error)) << error;
    for (const std::vector<std::string>& line : lines) {
        ASSERT_TRUE(journal.write(line, error)) << error;
    }
}

}  // namespace

TEST_F(UndoTest, LinesNamingFilesOutsideATrashOrTheRunsMoveFolderAreRefused)
{
    outside.write("victim", "never trashed");
    outside.write("Trash/files/victim", "in a trash, but without its information");
    outside.write("moved/victim", "moved by no run of the journal");
    const Snapshot before = snapshotTree(outside.path());
    const std::string root = tree.path();
    // Each step as a run writes it: its intent, then what was done.
    const auto step = [&](const std::string& file, const std::string& id, const std::string& action,
                          const std::string& name, const std::string& where,
                          const std::string& extra) {
        return std::vector<std::vector<std::string>>{
            lineFor(file, {"intent", id, action, tree / name, root}, {where}),
            lineFor(file, {"done", id, action, tree / name, root}, {where, extra})};
    };
    std::vector<std::vector<std::string>> lines = {{"run", "7.7", "2024-01-01", "trash", ""}};
    for (const auto& more :
         {step(outside / "victim", "7.7.1", "trash", "a", outside / "victim",
               outside / "victim.trashinfo"),
          step(outside / "Trash/files/victim", "7.7.2", "trash", "b",
               outside / "Trash/files/victim", outside / "Trash/info/victim.trashinfo"),
          step(outside / "moved/victim", "7.7.3", "move", "c", outside / "moved/victim",
               outside / "moved/"),
          {{"run", "8.8", "2024-01-01", "move", outside / "moved/"}},
          step(outside / "victim", "8.8.1", "move", "d", outside / "moved/../victim",
               outside / "moved/")}) {
        lines.insert(lines.end(), more.begin(), more.end());
    }
    writeLines(journalPath(), lines);
    const UndoReport report = undo();
    EXPECT_EQ(statuses(report), (std::vector<std::string>{"not:a", "not:b", "not:c", "not:d"}));
    for (const UndoItem& item : report.items) {
        EXPECT_EQ(item.detail.rfind("refused: ", 0), 0u) << item.detail;
    }
    EXPECT_EQ(describeChanges(before, snapshotTree(outside.path())), "");
    EXPECT_EQ(namesIn(tree.path()), std::vector<std::string>{});
}

TEST_F(UndoTest, WhatAKilledRunLeftBesideTheFilesIsRemovedAndSaid)
{
    tree.write("k", "kept contents");
    tree.write("m", "kept contents");
    tree.write("swapped", "kept contents");
    tree.write("t", "trashed contents");
    tree.write("a", "moved contents");
    const std::string root = tree.path();
    const struct stat kept = statOf(tree / "k");
    const std::vector<std::string> linking = {tree / "k", std::to_string(kept.st_dev),
                                              std::to_string(kept.st_ino)};
    auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    writeLines(
        journalPath(),
        {{"run", "5.5", "2024-01-01T00:00:00", "hardlink", ""},
         lineFor(tree / "m", {"intent", "5.5.1", "hardlink", tree / "m", root}, {".gemmora-5.5.1"}),
         with({"linking", "5.5.1"}, linking),
         lineFor(tree / "swapped", {"intent", "5.5.2", "hardlink", tree / "swapped", root},
                 {".gemmora-5.5.2"}),
         with({"linking", "5.5.2"}, linking),
         {"run", "4.4", "2024-01-01T00:00:00", "trash", ""},
         lineFor(tree / "t", {"intent", "4.4.1", "trash", tree / "t", root}, {""}),
         {"trashing", "4.4.1", data / "Trash/files/t", data / "Trash/info/t.trashinfo"},
         {"run", "6.6", "2024-01-01T00:00:00", "move", outside / "moved/"},
         lineFor(tree / "a", {"intent", "6.6.1", "move", tree / "a", root},
                 {outside / "moved/a"})});
    // Killed between the link and the swap; after the swap; before the
    // trashed file moved; while the move copied to another file system.
    tree.hardlink("k", ".gemmora-5.5.1");
    const struct stat original = statOf(tree / "swapped");
    ASSERT_EQ(::rename((tree / "swapped").c_str(), (tree / ".gemmora-5.5.2").c_str()), 0);
    tree.hardlink("k", "swapped");
    data.write("Trash/info/t.trashinfo",
               "[Trash Info]\nPath=" + tree / "t" + "\nDeletionDate=2024-01-01T00:00:00\n");
    data.mkdir("Trash/files");
    outside.write("moved/.gemmora-6.6.1", "moved co");
    const UndoReport report = undo();
    EXPECT_EQ(statuses(report),
              (std::vector<std::string>{"already:m", "back:swapped", "already:t", "already:a"}));
    ASSERT_EQ(report.items.size(), 4u);
    EXPECT_NE(report.items[0].detail.find("hidden link"), std::string::npos);
    EXPECT_NE(report.items[2].detail.find("information file"), std::string::npos);
    EXPECT_NE(report.items[3].detail.find("partial copy"), std::string::npos);
    EXPECT_EQ(namesIn(tree.path()), (std::vector<std::string>{"a", "k", "m", "swapped", "t"}));
    EXPECT_EQ(statOf(tree / "swapped").st_ino, original.st_ino);
    EXPECT_EQ(statOf(tree / "k").st_nlink, 1u);
    EXPECT_FALSE(data.exists("Trash/info/t.trashinfo"));
    EXPECT_FALSE(outside.exists("moved/.gemmora-6.6.1"));
}

TEST_F(UndoTest, ALinkARunMadeBeforeItWasKilledIsKnownAsItsOwn)
{
    tree.write("kept", "linked contents");
    tree.write("marked", "linked contents");
    ASSERT_EQ(
        act(keepFirst({group({"kept", "marked"})}), ActionKind::HardLink).count(Outcome::Done), 1);
    // As if the run had been killed after the swap, before its "done" line.
    std::string text;
    ASSERT_TRUE(platform::readWholeFile(journalPath(), text));
    std::string cut;
    for (const std::string& line : text::splitLines(text)) {
        if (!line.empty() && line.rfind("done\t", 0) != 0 && line.rfind("end\t", 0) != 0) {
            cut += line + "\n";
        }
    }
    ASSERT_TRUE(platform::writeFileAtomically(journalPath(), cut));
    const UndoReport report = undo();
    EXPECT_EQ(statuses(report), std::vector<std::string>{"cannot:marked"});
    ASSERT_EQ(report.items.size(), 1u);
    EXPECT_NE(report.items[0].detail.find("hard link of " + tree / "kept"), std::string::npos)
        << report.items[0].detail;
}

TEST_F(UndoTest, TheNextRunRemovesWhatAKilledRunLeftButNotWhatARunningOneHas)
{
    tree.write("k", "kept contents");
    tree.write("m", "kept contents");
    tree.write("n", "kept contents");
    const std::string root = tree.path();
    const struct stat kept = statOf(tree / "k");
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    // One journal of a run whose process is gone, one of a run still going.
    for (const auto& [name, run, file] :
         {std::tuple<std::string, std::string, std::string>{"cleanup-20240101-000000.journal",
                                                            "1." + std::to_string(gone), "m"},
          {"cleanup-20240101-000001.journal", "2." + std::to_string(::getpid()), "n"}}) {
        const std::string id = run + ".1";
        writeLines(work / name, {{"run", run, "2024-01-01T00:00:00", "hardlink", ""},
                                 lineFor(tree / file, {"intent", id, "hardlink", tree / file, root},
                                         {".gemmora-" + id}),
                                 {"linking", id, tree / "k", std::to_string(kept.st_dev),
                                  std::to_string(kept.st_ino)}});
        tree.hardlink("k", ".gemmora-" + id);
    }
    EXPECT_TRUE(removeLeftoversOfKilledRuns(work.path(), {outside.path()}).empty());
    const std::vector<std::string> said = removeLeftoversOfKilledRuns(work.path(), {root});
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].rfind(tree / "m: its hidden link", 0), 0u) << said[0];
    EXPECT_EQ(namesIn(tree.path()),
              (std::vector<std::string>{".gemmora-2." + std::to_string(::getpid()) + ".1", "k", "m",
                                        "n"}));
}
