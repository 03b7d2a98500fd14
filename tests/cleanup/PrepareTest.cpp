// Tests of the steps between the marks and the run that both front ends share.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Prepare.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cleanup/CleanupFixture.h"

using namespace cleanup;

namespace {

class PrepareTest : public CleanupFixture {
protected:
    // A group of the tree's files, the first `keeps` kept and the rest marked.
    PlanGroup planned(std::initializer_list<std::string> relative, std::size_t keeps)
    {
        PlanGroup out;
        for (const FileFacts& file : group(relative)) {
            out.files.push_back({file, out.files.size() < keeps ? Role::Keep : Role::Mark});
        }
        return out;
    }

    static std::vector<Role> roles(const PlanGroup& group)
    {
        std::vector<Role> out;
        for (const PlanFile& file : group.files) {
            out.push_back(file.role);
        }
        return out;
    }
};

}  // namespace

TEST_F(PrepareTest, AFileBelongsToTheDeepestSearchedFolderThatHoldsIt)
{
    const std::vector<std::string> folders = {"/data/", "/data/pics/", "/dat/"};
    EXPECT_EQ(searchedFolderOf("/data/pics/a.jpg", folders), "/data/pics/");
    EXPECT_EQ(searchedFolderOf("/data/picsx/a.jpg", folders), "/data/");
    EXPECT_EQ(searchedFolderOf("/other/a.jpg", folders), "");
    EXPECT_EQ(searchedFolderOf("/data/", folders), "");  // the folder itself is no file of it
}

TEST_F(PrepareTest, FilesThatWentOrChangedAreLeftOutWithTheirReason)
{
    for (const char* name : {"a", "gone", "grown", "linked", "unknown", "b", "c"}) {
        tree.write(name, "same");
    }
    std::vector<InputGroup> groups = {group({"a", "gone", "grown", "linked"}),
                                      group({"unknown", "b", "c"})};
    groups[1][0].size = -1;  // a list without sizes: not compared
    tree.remove("gone");
    tree.write("grown", "same, and more");
    tree.remove("linked");
    tree.symlink(tree / "a", "linked");
    std::atomic<std::int64_t> read{0};

    const std::vector<LeftOut> leftOut = rereadFacts(groups, {}, &read);

    ASSERT_EQ(leftOut.size(), 3u);
    EXPECT_EQ(leftOut[0].path, tree / "gone");
    EXPECT_EQ(leftOut[1].path, tree / "grown");
    EXPECT_EQ(leftOut[1].reason, "its size changed since the search");
    EXPECT_EQ(leftOut[2].path, tree / "linked");
    EXPECT_EQ(leftOut[2].reason, "it is a link now");
    EXPECT_EQ(leftOut[2].group, 0u);
    EXPECT_EQ(leftOut[2].index, 3u);
    ASSERT_EQ(groups[0].size(), 1u);
    ASSERT_EQ(groups[1].size(), 3u);
    EXPECT_EQ(groups[1][0].size, 4);  // read now
    EXPECT_EQ(groups[1][2].path, tree / "c");
    EXPECT_EQ(read.load(), 7);

    // Asked to stop, the groups are left as they were given.
    std::vector<InputGroup> again = {group({"a", "b"})};
    EXPECT_TRUE(rereadFacts(again, [] { return true; }).empty());
    EXPECT_EQ(again[0].size(), 2u);
}

TEST_F(PrepareTest, AMoveNeedsAFolderToGoInto)
{
    tree.write("file", "x");
    tree.mkdir("folder");
    tree.symlink(tree / "folder", "link");
    Action move;
    move.kind = ActionKind::Move;
    for (const auto& [name, ready] : {std::pair<std::string, bool>{"folder/", true},
                                      {"link/", true},  // named by the user: followed
                                      {"file/", false},
                                      {"missing/", false}}) {
        move.folder = tree / name;
        EXPECT_EQ(targetFolderReady(move), ready) << name;
    }
    Action trash;
    trash.folder = tree / "missing/";
    EXPECT_TRUE(targetFolderReady(trash));
}

TEST_F(PrepareTest, AWhollyMarkedGroupIsSettledByTheRuleAsked)
{
    for (const char* name : {"B", "a", "c", "d", "e"}) {
        tree.write(name, "x");
    }
    Plan plan;
    plan.groups = {planned({"B", "c", "a"}, 0), planned({"d", "e"}, 1)};
    ASSERT_EQ(wholeGroupCount(plan), 1u);
    std::vector<std::size_t> kept;
    std::string error;

    Plan refused = plan;
    EXPECT_FALSE(settlePlan(refused, WholeGroupRule::Refuse, kept, error));
    EXPECT_EQ(error, "group 1 marks every copy: at least one must be kept");

    Plan left = plan;
    ASSERT_TRUE(settlePlan(left, WholeGroupRule::LeaveAlone, kept, error)) << error;
    EXPECT_EQ(kept, std::vector<std::size_t>{1});
    ASSERT_EQ(left.groups.size(), 1u);
    EXPECT_EQ(left.groups[0].files[0].file.path, tree / "d");

    Plan keepFirst = plan;
    ASSERT_TRUE(settlePlan(keepFirst, WholeGroupRule::KeepFirstByPath, kept, error)) << error;
    EXPECT_EQ(kept, (std::vector<std::size_t>{0, 1}));
    // By path order, whatever the case: "a" before "B".
    EXPECT_EQ(roles(keepFirst.groups[0]), (std::vector<Role>{Role::Mark, Role::Mark, Role::Keep}));
    EXPECT_EQ(roles(keepFirst.groups[1]), (std::vector<Role>{Role::Keep, Role::Mark}));

    // The plan is checked whatever the rule.
    Plan twice = plan;
    twice.groups[1].files.push_back(twice.groups[1].files[0]);
    EXPECT_FALSE(settlePlan(twice, WholeGroupRule::LeaveAlone, kept, error));
    EXPECT_NE(error.find("occurs more than once"), std::string::npos) << error;
}

TEST_F(PrepareTest, EachRunGetsAJournalOfItsOwnInAFolderMadeForIt)
{
    const std::string folder = work / "new/journals/";
    Journal first;
    Journal second;
    std::string firstPath;
    std::string secondPath;
    std::string error;
    ASSERT_TRUE(openNewJournal(folder, first, firstPath, error)) << error;
    ASSERT_TRUE(openNewJournal(folder, second, secondPath, error)) << error;
    EXPECT_EQ(firstPath.rfind(folder + "cleanup-", 0), 0u) << firstPath;
    EXPECT_NE(firstPath, secondPath);
    struct stat st = {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    tree.write("file", "x");
    Journal blocked;
    EXPECT_FALSE(openNewJournal(tree / "file/journals/", blocked, firstPath, error));
    EXPECT_FALSE(error.empty());
}
