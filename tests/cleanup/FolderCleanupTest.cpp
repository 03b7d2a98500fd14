// Whole folders taken away as copies: planned from a search, checked at each step, put back, undone.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/FolderPlan.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "cleanup/CleanupFixture.h"
#include "cleanup/Journal.h"
#include "cleanup/Undo.h"
#include "search/SearchRun.h"
#include "support/TestWindow.h"

using namespace cleanup;

namespace {

KeepRule keepIn(const std::string& folder)
{
    KeepRule rule;
    rule.kind = KeepRule::InFolder;
    rule.values = folderForms(folder, "/");
    return rule;
}

class FolderCleanupTest : public CleanupFixture {
protected:
    folders::FolderFinder finder;
    folders::FolderResult result;

    // A search of the tree with the finder following it.
    void search()
    {
        TestWindow window;
        window.drives = {{'C', "", false}};
        window.fields[search::Field::RootDir] = tree.path();
        window.fields[search::Field::FileMask] = "*.*";
        search::SearchRun run(window);
        finder = folders::FolderFinder();
        finder.follow(run.TreeScanner1);
        run.btnSearchClick();
        std::vector<std::string> paths;
        for (const settings::ResultRow& row : window.list.rows) {
            if (row.subItems.empty()) {
                finder.addClass(paths);
                paths.clear();
            } else {
                paths.push_back(row.caption);
            }
        }
        finder.addClass(paths);
        result = finder.find();
    }

    FolderPlan plan(const std::vector<KeepRule>& rules, std::vector<std::string> only = {})
    {
        FolderChoice choice;
        for (std::string& folder : only) {
            folder = tree / folder;
        }
        choice.only = std::move(only);
        return makeFolderPlan(finder, result, rules, choice, {tree.path()});
    }

    FolderReport run(const FolderPlan& plan, ActionKind kind,
                     const std::function<void(FolderRunner&)>& prepare = {},
                     const std::string& journalAt = {})
    {
        Journal journal;
        std::string error;
        EXPECT_TRUE(journal.open(journalAt.empty() ? journalPath() : journalAt, error)) << error;
        Action action;
        action.kind = kind;
        if (kind == ActionKind::Move) {
            action.folder = outside / "moved/";
            ::mkdir(action.folder.c_str(), 0700);
        }
        FolderRunner runner(plan, action, &journal);
        if (prepare) {
            prepare(runner);
        }
        return runner.run();
    }

    // Eight contents in two levels, an empty file, a link and an empty folder.
    void writeFolder(const std::string& folder)
    {
        for (int i = 0; i < 6; ++i) {
            tree.write(folder + "f" + std::to_string(i) + ".txt", "contents " + std::to_string(i));
        }
        tree.write(folder + "sub/g.txt", "contents g");
        tree.write(folder + "sub/h.txt", "contents h");
        tree.write(folder + "empty.txt", "");
        tree.symlink("f0.txt", folder + "link");
        tree.mkdir(folder + "nothing");
    }

    // The regular files and links of the tree, which undo must give back.
    Snapshot files()
    {
        Snapshot kept;
        for (const auto& [path, facts] : snapshotTree(tree.path())) {
            if (!S_ISDIR(facts.mode)) {
                kept.emplace(path, facts);
            }
        }
        return kept;
    }

    // The tree and the journal as before any run.
    void clearTree()
    {
        for (const char* name : {"orig", "copy", "flat", "unique", "a", "b"}) {
            tree.remove(name);
        }
        ::unlink(journalPath().c_str());
    }

    // orig/ and copy/ written beside what the tree holds, searched, and
    // planned keeping orig/.
    FolderPlan planKeepingOrig()
    {
        writeFolder("orig/");
        writeFolder("copy/");
        search();
        return plan({keepIn(tree / "orig")});
    }

    bool isFolder(const std::string& relative)
    {
        struct stat st = {};
        return ::lstat((tree / relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    UndoReport undo(const std::string& journal = {})
    {
        UndoReport report;
        std::string error;
        EXPECT_TRUE(undoJournal(journal.empty() ? journalPath() : journal, report, error))
            << error;
        return report;
    }
};

const std::vector<ActionKind> kFolderActions = {ActionKind::Trash, ActionKind::Move,
                                                ActionKind::Delete};

}  // namespace

TEST_F(FolderCleanupTest, IdenticalAndContainedFoldersGoWholeWithWhatTheyHoldAndComeBack)
{
    for (const ActionKind kind : kFolderActions) {
        SCOPED_TRACE(actionName(kind));
        clearTree();
        for (int i = 0; i < 4; ++i) {
            tree.write("flat/r" + std::to_string(i) + ".txt", "contents " + std::to_string(i));
        }
        tree.write("unique/u.txt", "only here");
        const FolderPlan planned = planKeepingOrig();
        ASSERT_EQ(planned.folders.size(), 2u);
        const PlanFolder& copy = planned.folders[0];
        EXPECT_EQ(copy.path, tree / "copy/");
        EXPECT_EQ(copy.keptFolder, tree / "orig/");
        EXPECT_EQ(copy.alsoRemoved, (std::vector<std::string>{"empty.txt", "link", "nothing/"}));
        EXPECT_EQ(copy.alsoRemovedKinds,
                  (std::vector<std::string>{"empty file", "link", "empty folder"}));
        ASSERT_EQ(copy.files.size(), 8u);
        for (const FolderFile& file : copy.files) {
            EXPECT_EQ(file.copy.rfind(tree / "orig/", 0), 0u) << file.copy;
        }
        EXPECT_EQ(planned.folders[1].path, tree / "flat/");
        EXPECT_EQ(planned.bytesToReclaim(), 8 * 10 + 4 * 10);

        const Snapshot before = files();
        const FolderReport report = run(planned, kind);
        EXPECT_EQ(report.count(Outcome::Done), 2) << report.results[0].reason;
        EXPECT_FALSE(isFolder("copy") || isFolder("flat"));
        EXPECT_TRUE(isFolder("orig/nothing"));
        expectNothingLost(before, Plan());

        const UndoReport undone = undo();
        ASSERT_EQ(undone.items.size(), 2u);
        if (kind == ActionKind::Delete) {
            EXPECT_EQ(undone.count(UndoItem::CannotUndo), 2);
            continue;
        }
        EXPECT_EQ(undone.count(UndoItem::PutBack), 2) << undone.items[0].detail;
        EXPECT_EQ(describeChanges(before, files()), "");
        EXPECT_EQ(undo().count(UndoItem::AlreadyBack), 2);
    }
}

TEST_F(FolderCleanupTest, OnlyOneOfIdenticalFoldersAndNoFolderHoldingTheLastCopyIsPlanned)
{
    writeFolder("a/");
    writeFolder("b/");
    // x/ and z/ are in y/, and y/ is in x/ and z/ together: never all three.
    tree.write("x/p.txt", "contents p");
    tree.write("x/q.txt", "contents q");
    tree.write("y/p.txt", "contents p");
    tree.write("y/q.txt", "contents q");
    tree.write("y/r.txt", "contents r");
    tree.write("z/r.txt", "contents r");
    search();
    FolderPlan both = plan({}, {"a/", "b/"});
    ASSERT_EQ(both.folders.size(), 1u);
    EXPECT_EQ(both.folders[0].path, tree / "b/");

    const FolderPlan contained = plan({}, {"x/", "y/", "z/"});
    ASSERT_EQ(contained.folders.size(), 2u);
    EXPECT_EQ(contained.folders[0].path, tree / "x/");
    EXPECT_EQ(contained.folders[1].path, tree / "z/");
    EXPECT_EQ(contained.folders[1].files[0].copy, tree / "y/r.txt");
    ASSERT_EQ(contained.notes.size(), 1u);
    EXPECT_NE(contained.notes[0].find(tree / "y/"), std::string::npos) << contained.notes[0];
    std::string error;
    EXPECT_TRUE(checkFolderPlan(contained, error)) << error;

    // A plan edited so that a copy lies in a folder that goes is refused.
    both.folders.push_back(both.folders[0]);
    both.folders[1].path = tree / "a/";
    for (FolderFile& file : both.folders[1].files) {
        file.path.replace(0, (tree / "b/").size(), tree / "a/");
    }
    const Snapshot before = files();
    EXPECT_TRUE(run(both, ActionKind::Delete).refused);
    EXPECT_EQ(describeChanges(before, files()), "");
}

// What happens to the folder or its copy, and where.
enum class Fault { LastByteChanged, FileAdded, FileBecameLink, CopyGone, CopyReplaced, NoPermission };

class FolderFaultTest : public FolderCleanupTest,
                        public ::testing::WithParamInterface<std::tuple<Fault, ActionKind>> {};

TEST_P(FolderFaultTest, AFolderThatIsNoLongerWhatWasPlannedIsLeftAtItsName)
{
    const auto [fault, kind] = GetParam();
    writeFolder("orig/");
    writeFolder("copy/");
    search();
    const FolderPlan planned = plan({keepIn(tree / "orig")});
    ASSERT_EQ(planned.folders.size(), 1u);
    if (fault == Fault::LastByteChanged) {
        tree.write("copy/sub/h.txt", "contents i");
    }
    if (fault == Fault::NoPermission) {
        // Readable by everyone, writable by its owner only.
        ::chmod(tree.path().c_str(), ::geteuid() == 0 ? 0755 : 0555);
    }
    const Snapshot before = files();
    if (fault == Fault::NoPermission && ::geteuid() == 0) {
        // The run as another user, who may read the folder but not take it away.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const FolderReport report = run(planned, kind, [](FolderRunner&) {
                if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
                    ::_exit(77);
                }
            });
            ::_exit(report.count(Outcome::Untouched) == 1 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 77) << "no other user to run as";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(describeChanges(before, files()), "");
        return;
    }
    const FolderReport report = run(planned, kind, [&](FolderRunner& runner) {
        runner.afterCheck = [&](const PlanFolder&) {
            if (fault == Fault::FileAdded) {
                tree.write("copy/sub/new.txt", "arrived at the last instant");
            } else if (fault == Fault::FileBecameLink) {
                tree.remove("copy/f1.txt");
                tree.symlink("../orig/f1.txt", "copy/f1.txt");
            }
        };
        runner.whileAway = [&](const PlanFolder&) {
            if (fault == Fault::CopyGone) {
                tree.remove("orig/f2.txt");
            } else if (fault == Fault::CopyReplaced) {
                tree.remove("orig/f3.txt");
                tree.write("orig/f3.txt", "contents 3");
            }
        };
    });
    ::chmod(tree.path().c_str(), 0700);
    ASSERT_EQ(report.results.size(), 1u);
    EXPECT_EQ(report.results[0].outcome, Outcome::Untouched);
    EXPECT_FALSE(report.results[0].reason.empty());
    EXPECT_TRUE(isFolder("copy/sub"));
    EXPECT_TRUE(isFolder("copy/nothing"));
    expectNothingLost(before, Plan());
    // The folder is as it was but for what the test did to it; the trash
    // keeps no entry of it.
    const Snapshot after = files();
    for (const auto& [path, facts] : before) {
        if (path.rfind("copy/", 0) == 0 && path != "copy/f1.txt" && path != "copy/sub/h.txt") {
            EXPECT_EQ(after.count(path), 1u) << path;
        }
    }
    EXPECT_EQ(snapshotTree(data / "Trash/info/").size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, FolderFaultTest,
    ::testing::Combine(::testing::Values(Fault::LastByteChanged, Fault::FileAdded,
                                         Fault::FileBecameLink, Fault::CopyGone,
                                         Fault::CopyReplaced, Fault::NoPermission),
                       ::testing::ValuesIn(kFolderActions)));

TEST_F(FolderCleanupTest, WhatArrivesInAFolderWhileItIsDeletedStays)
{
    // Once checked, the folder is still open to a program inside it: a file
    // it writes, or a kept file it moves in over a checked one, must stay.
    for (const bool keptMovedIn : {false, true}) {
        SCOPED_TRACE(keptMovedIn ? "a kept file moved in" : "a new file");
        clearTree();
        const FolderPlan planned = planKeepingOrig();
        ASSERT_EQ(planned.folders.size(), 1u);
        const Snapshot before = files();
        const FolderReport report = run(planned, ActionKind::Delete, [&](FolderRunner& runner) {
            runner.beforeDelete = [&](const PlanFolder&) {
                for (const std::string& name : namesIn(tree.path())) {
                    if (name.rfind(".gemmora-", 0) != 0) {
                        continue;
                    }
                    if (keptMovedIn) {
                        ASSERT_EQ(::rename((tree / "orig/sub/h.txt").c_str(),
                                           (tree / (name + "/sub/h.txt")).c_str()),
                                  0);
                    } else {
                        tree.write(name + "/sub/new.txt", "written at the last instant");
                    }
                }
            };
        });
        ASSERT_EQ(report.results.size(), 1u);
        EXPECT_NE(report.results[0].reason.find("back under its name"), std::string::npos)
            << report.results[0].reason;
        EXPECT_EQ(tree.read(keptMovedIn ? "copy/sub/h.txt" : "copy/sub/new.txt"),
                  keptMovedIn ? "contents h" : "written at the last instant");
        expectNothingLost(before, Plan());
    }
}

TEST_F(FolderCleanupTest, TwoRunsThatCrossEachOtherNeverRemoveBothFolders)
{
    for (int round = 0; round < 8; ++round) {
        clearTree();
        writeFolder("a/");
        writeFolder("b/");
        search();
        const FolderPlan keepA = plan({keepIn(tree / "a")});
        const FolderPlan keepB = plan({keepIn(tree / "b")});
        ASSERT_EQ(keepA.folders.size(), 1u);
        ASSERT_EQ(keepB.folders.size(), 1u);
        const Snapshot before = files();
        const ActionKind kind = kFolderActions[static_cast<std::size_t>(round) % 3];
        FolderReport first;
        FolderReport second;
        if (round == 0) {
            // The second run entirely inside the first one's instant away.
            first = run(keepA, kind, [&](FolderRunner& runner) {
                runner.whileAway = [&](const PlanFolder&) {
                    second = run(keepB, kind, {}, work / "second.journal");
                };
            });
            EXPECT_EQ(second.results[0].outcome, Outcome::Untouched);
            EXPECT_EQ(first.results[0].outcome, Outcome::Done) << first.results[0].reason;
        } else {
            std::thread other([&] { second = run(keepB, kind, {}, work / "second.journal"); });
            first = run(keepA, kind);
            other.join();
        }
        EXPECT_LE(first.count(Outcome::Done) + second.count(Outcome::Done), 1);
        EXPECT_TRUE(isFolder("a/sub") || isFolder("b/sub"));
        expectNothingLost(before, Plan());
    }
}

TEST_F(FolderCleanupTest, ARunKilledWhileAFolderIsAwayIsPutBackByUndoOrTheNextRun)
{
    for (const ActionKind kind : kFolderActions) {
        SCOPED_TRACE(actionName(kind));
        clearTree();
        // The next run finds a journal named as a run's own names it.
        const std::string journal =
            kind == ActionKind::Delete ? newJournalPath(work.path()) : journalPath();
        const FolderPlan planned = planKeepingOrig();
        ASSERT_EQ(planned.folders.size(), 1u);
        const Snapshot before = files();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            run(
                planned, kind,
                [](FolderRunner& runner) { runner.whileAway = [](const PlanFolder&) { ::_exit(9); }; },
                journal);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(WEXITSTATUS(status), 9);
        EXPECT_FALSE(isFolder("copy"));
        if (kind == ActionKind::Delete) {
            const std::vector<std::string> said =
                removeLeftoversOfKilledRuns(work.path(), {tree.path()});
            EXPECT_EQ(said.size(), 1u);
        } else {
            const UndoReport undone = undo();
            ASSERT_EQ(undone.items.size(), 1u);
            EXPECT_EQ(undone.items[0].status, UndoItem::PutBack) << undone.items[0].detail;
        }
        EXPECT_EQ(describeChanges(before, files()), "");
    }
}
