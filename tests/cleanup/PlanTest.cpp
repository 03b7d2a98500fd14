// Tests of the cleanup plan: keep rules, ties and groups that would keep nothing.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Plan.h"

#include <gtest/gtest.h>

#include "cleanup/CleanupFixture.h"
#include "cleanup/PlanText.h"
#include "text/StringList.h"

using namespace cleanup;

namespace {

class PlanTest : public CleanupFixture {
protected:
    std::vector<KeepRule> rules(std::initializer_list<std::string> texts)
    {
        std::vector<KeepRule> out;
        for (const std::string& text : texts) {
            KeepRule rule;
            std::string error;
            EXPECT_TRUE(parseKeepRule(text, rule, error)) << text << ": " << error;
            for (std::string& value : rule.values) {
                if (rule.kind != KeepRule::NameMatches && value[0] != '/') {
                    value = tree / value;
                }
            }
            out.push_back(rule);
        }
        return out;
    }

    // The kept file of the only group, relative to the tree.
    std::string kept(const InputGroup& files, const std::vector<KeepRule>& keepRules)
    {
        const Plan plan = makePlan({files}, keepRules);
        std::string name;
        for (const PlanFile& file : plan.groups[0].files) {
            if (file.role == Role::Keep) {
                EXPECT_TRUE(name.empty()) << "more than one file kept";
                name = file.file.path.substr(tree.path().size());
            }
        }
        return name;
    }
};

}  // namespace

TEST_F(PlanTest, EachRulePicksItsFileAndTiesGoToPathOrder)
{
    tree.write("b/deep/er/new.txt", "x");
    tree.write("a/old.txt", "x");
    tree.write("A/mid.txt", "x");
    tree.write("c/a-much-longer-name.txt", "x");
    tree.touch("b/deep/er/new.txt", 1700000000);
    tree.touch("a/old.txt", 1500000000);
    tree.touch("A/mid.txt", 1600000000);
    tree.touch("c/a-much-longer-name.txt", 1600000000);
    const InputGroup files =
        group({"b/deep/er/new.txt", "c/a-much-longer-name.txt", "A/mid.txt", "a/old.txt"});

    EXPECT_EQ(kept(files, rules({"oldest"})), "a/old.txt");
    EXPECT_EQ(kept(files, rules({"newest"})), "b/deep/er/new.txt");
    EXPECT_EQ(kept(files, rules({"shortest"})), "A/mid.txt");  // tied with a/old.txt: path order
    EXPECT_EQ(kept(files, rules({"longest"})), "c/a-much-longer-name.txt");
    EXPECT_EQ(kept(files, rules({"shallowest"})), "A/mid.txt");
    EXPECT_EQ(kept(files, rules({"deepest"})), "b/deep/er/new.txt");
    EXPECT_EQ(kept(files, rules({"first"})), "b/deep/er/new.txt");
    EXPECT_EQ(kept(files, rules({"in:c,b/deep"})), "b/deep/er/new.txt");
    EXPECT_EQ(kept(files, rules({"not-in:b,A"})), "a/old.txt");
    EXPECT_EQ(kept(files, rules({"name:*LONGER*"})), "c/a-much-longer-name.txt");
    EXPECT_EQ(kept(files, rules({"name:mid.*,new.*"})), "A/mid.txt");
    // No rule at all: the first by path order, case ignored first.
    EXPECT_EQ(kept(files, {}), "A/mid.txt");
    // Each rule breaks the ties of the one before: two share the middle time.
    EXPECT_EQ(kept(files, rules({"not-in:a", "oldest", "longest"})), "c/a-much-longer-name.txt");
    EXPECT_EQ(kept(files, rules({"not-in:a", "oldest", "shortest"})), "A/mid.txt");
    EXPECT_EQ(kept(files, rules({"newest", "oldest"})), "b/deep/er/new.txt");
}

TEST_F(PlanTest, AGroupOfTwoAndAGroupOfManyEachKeepExactlyOne)
{
    InputGroup pair;
    InputGroup many;
    for (int i = 0; i < 2; ++i) {
        pair.push_back({tree / ("pair" + std::to_string(i)), tree.path(), 10, i});
    }
    for (int i = 0; i < 40; ++i) {
        many.push_back({tree / ("many" + std::to_string(100 - i)), tree.path(), 7, 1000 - i});
    }
    const Plan plan = makePlan({pair, many}, rules({"newest"}));
    EXPECT_EQ(plan.markedCount(), 1 + 39);
    EXPECT_EQ(plan.bytesToReclaim(), 10 + 39 * 7);
    EXPECT_EQ(plan.groups[0].files[1].role, Role::Keep);
    EXPECT_EQ(plan.groups[1].files[0].role, Role::Keep);
    std::string error;
    EXPECT_TRUE(checkPlan(plan, error)) << error;
}

TEST_F(PlanTest, RulesThatWouldKeepNothingKeepTheFirstByPathOrderAndSaySo)
{
    const InputGroup files = {{tree / "z.txt", tree.path(), 1, 5},
                              {tree / "y.txt", tree.path(), 1, 1}};
    const Plan plan = makePlan({files}, rules({"oldest", "in:nowhere"}));
    EXPECT_EQ(plan.groups[0].files[0].role, Role::Mark);
    EXPECT_EQ(plan.groups[0].files[1].role, Role::Keep);
    EXPECT_NE(plan.groups[0].note.find("in:"), std::string::npos);
    EXPECT_NE(plan.groups[0].note.find("first by path order"), std::string::npos);
    EXPECT_EQ(plan.markedCount(), 1);

    // A group that keeps what the rules ask for has no note.
    EXPECT_TRUE(makePlan({files}, rules({"in:" + tree.path()})).groups[0].note.empty());
}

TEST_F(PlanTest, RulesAreReadAsTheCommandLineGivesThem)
{
    KeepRule rule;
    std::string error;
    ASSERT_TRUE(parseKeepRule("in:\"/my, folder\",/other", rule, error));
    EXPECT_EQ(rule.values, (std::vector<std::string>{"/my, folder/", "/other/"}));
    EXPECT_EQ(describeRule(rule), "in:\"/my, folder/\",/other/");
    EXPECT_FALSE(parseKeepRule("oldest:1", rule, error));
    EXPECT_FALSE(parseKeepRule("in:", rule, error));
    EXPECT_FALSE(parseKeepRule("name", rule, error));
    EXPECT_FALSE(parseKeepRule("biggest", rule, error));
    EXPECT_NE(error.find("oldest"), std::string::npos);
}

TEST_F(PlanTest, APlanThatCouldLoseACopyIsRefused)
{
    Plan plan;
    plan.groups.push_back({{{{"/t/a", "", 1}, Role::Mark}, {{"/t/b", "", 1}, Role::Mark}}, ""});
    std::string error;
    EXPECT_FALSE(checkPlan(plan, error));
    EXPECT_NE(error.find("marks every copy"), std::string::npos);

    // A path kept in one group and marked in another.
    plan.groups[0].files[0].role = Role::Keep;
    plan.groups.push_back({{{{"/t/c", "", 1}, Role::Keep}, {{"/t/a", "", 1}, Role::Mark}}, ""});
    EXPECT_FALSE(checkPlan(plan, error));
    EXPECT_NE(error.find("more than once"), std::string::npos);

    // The same file spelled another way.
    plan.groups[1].files[1].file.path = "/t/./b";
    EXPECT_FALSE(checkPlan(plan, error));
    for (const char* path : {"/t//b", "/t/b/", "t/b", "/t/../t/b"}) {
        plan.groups[1].files[1].file.path = path;
        EXPECT_FALSE(checkPlan(plan, error)) << path;
    }
    plan.groups[1].files[1].file.path = "/t/d";
    EXPECT_TRUE(checkPlan(plan, error)) << error;
}

TEST_F(PlanTest, APlanSavedAsTextReadsBackTheSame)
{
    Plan plan;
    plan.groups.push_back({{{{"/t/plain.txt", "", 12}, Role::Keep},
                            {{"/t/with, comma \"and\" quotes .txt", "", 12}, Role::Mark},
                            {{"/t/caf\xE9 latin-1", "", 12}, Role::Mark}},
                           "a note"});
    plan.groups.push_back({{{{"/u/x", "", 0}, Role::Mark}, {{"/u/ y ", "", 0}, Role::Keep}}, ""});
    std::size_t leftOut = 0;
    const std::vector<std::string> lines = formatPlanLines(plan, leftOut);
    EXPECT_EQ(leftOut, 0u);
    EXPECT_EQ(lines[0], "# a note");
    EXPECT_EQ(lines[1], "keep,\"/t/plain.txt\",12");

    ListContents contents;
    std::string error;
    ASSERT_TRUE(parseListText(text::linesText(lines), contents, error)) << error;
    ASSERT_TRUE(contents.isPlan);
    ASSERT_EQ(contents.plan.groups.size(), 2u);
    for (std::size_t g = 0; g < 2; ++g) {
        ASSERT_EQ(contents.plan.groups[g].files.size(), plan.groups[g].files.size());
        for (std::size_t i = 0; i < plan.groups[g].files.size(); ++i) {
            EXPECT_EQ(contents.plan.groups[g].files[i].file.path,
                      plan.groups[g].files[i].file.path);
            EXPECT_EQ(contents.plan.groups[g].files[i].file.size,
                      plan.groups[g].files[i].file.size);
            EXPECT_EQ(contents.plan.groups[g].files[i].role, plan.groups[g].files[i].role);
        }
    }
}

TEST_F(PlanTest, APlanEditedToMarkEveryCopyIsRefusedWhenReadBack)
{
    const std::string text = "# edited by hand\n"
                             "mark,\"/t/a.jpg\",5\n"
                             "mark,\"/t/b.jpg\",5\n"
                             "\n"
                             "keep,\"/t/c\",1\n"
                             "mark,\"/t/d\",1\n";
    ListContents contents;
    std::string error;
    ASSERT_TRUE(parseListText(text, contents, error)) << error;
    EXPECT_FALSE(checkPlan(contents.plan, error));
    EXPECT_NE(error.find("group 1 marks every copy"), std::string::npos);
}

TEST_F(PlanTest, APathWithALineBreakIsLeftOutAndItsGroupWhenItIsKept)
{
    Plan plan;
    plan.groups.push_back(
        {{{{"/t/kept", "", 1}, Role::Keep}, {{"/t/two\nlines", "", 1}, Role::Mark}}, ""});
    plan.groups.push_back(
        {{{{"/t/kept\rtoo", "", 1}, Role::Keep}, {{"/t/marked", "", 1}, Role::Mark}}, ""});
    std::size_t leftOut = 0;
    const std::vector<std::string> lines = formatPlanLines(plan, leftOut);
    EXPECT_EQ(leftOut, 3u);
    EXPECT_EQ(lines, (std::vector<std::string>{"keep,\"/t/kept\",1"}));
}

TEST_F(PlanTest, AResultListFileReadsAsGroupsWithTheirSizes)
{
    const std::string text = "\"Duplicate files .....\"\r\n"
                             "\"/t/a b.txt\",1234,\"TXT file\",\"2024/01/02 03:04\",\"    \",,\r\n"
                             "\"/t/c.txt\",1234,\"TXT file\",\"2024/01/02 03:04\",\"    \",,\r\n"
                             "\"\"\r\n"
                             "\"Duplicate files .....\"\r\n"
                             "\"/t/d\",xx,,,,,\r\n"
                             "\"/t/e\",7,,,,,\r\n";
    ListContents contents;
    std::string error;
    ASSERT_TRUE(parseListText(text, contents, error)) << error;
    EXPECT_FALSE(contents.isPlan);
    ASSERT_EQ(contents.groups.size(), 2u);
    EXPECT_EQ(contents.groups[0][0].path, "/t/a b.txt");
    EXPECT_EQ(contents.groups[0][1].size, 1234);
    EXPECT_EQ(contents.groups[1][0].size, -1);  // not a number: not known
    EXPECT_EQ(contents.groups[1][1].size, 7);

    EXPECT_FALSE(parseListText(text + "\"not a path\",1\r\n", contents, error));
    EXPECT_NE(error.find("line 8"), std::string::npos);
    EXPECT_FALSE(parseListText("keep,\"/t/a\"\nremove,\"/t/b\"\n", contents, error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(parseListText("keep,\"/t/a\",12\nmark,\"/t/b\",-12\n", contents, error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
}

TEST_F(PlanTest, PathsAreMadeAbsoluteAndPlain)
{
    EXPECT_EQ(plainPath("photos/../docs/./x", "/home/ann", false), "/home/ann/docs/x");
    EXPECT_EQ(plainPath("/a//b/", "/ignored", true), "/a/b/");
    EXPECT_EQ(plainPath("../../..", "/a", true), "/");
    EXPECT_EQ(plainPath("x", "/", false), "/x");
}

TEST_F(PlanTest, AFolderOfARuleAlsoMatchesWhereItsLinksLead)
{
    tree.mkdir("real/photos");
    tree.symlink(tree / "real", "link");
    EXPECT_EQ(folderForms("link/photos", tree.path()),
              (std::vector<std::string>{tree / "link/photos/", tree / "real/photos/"}));
    EXPECT_EQ(folderForms(tree / "real/photos/", "/elsewhere"),
              (std::vector<std::string>{tree / "real/photos/"}));
    // A folder that is not there is taken as given.
    EXPECT_EQ(folderForms("/not/there", "/"), (std::vector<std::string>{"/not/there/"}));
}

TEST_F(PlanTest, FactsAreReadWithoutFollowingALinkBelowTheRoot)
{
    tree.write("real/file.txt", "12345");
    tree.touch("real/file.txt", 1600000000);
    tree.symlink(tree / "real", "link");
    FileFacts file{tree / "real/file.txt", tree.path()};
    std::string error;
    ASSERT_TRUE(readFacts(file, error)) << error;
    EXPECT_EQ(file.size, 5);
    EXPECT_EQ(file.modifiedNs, 1600000000LL * 1000000000);
    FileFacts linked{tree / "link/file.txt", tree.path()};
    EXPECT_FALSE(readFacts(linked, error));
    // The searched folder itself is taken as the user named it.
    FileFacts named{tree / "link/file.txt", tree / "link/"};
    EXPECT_TRUE(readFacts(named, error)) << error;
}

TEST_F(PlanTest, AFileInATrashFolderIsNeverKeptWhileACopyOutsideExists)
{
    const platform::TrashFolders trash({"/home/ann/.local/share/Trash"}, {"/", "/media/stick"});
    EXPECT_TRUE(trash.holds("/media/stick/.Trash-1000/files/a"));
    EXPECT_TRUE(trash.holds("/.Trash/1000/files/a"));
    EXPECT_TRUE(trash.holds("/home/bob/.local/share/Trash/files/a"));
    EXPECT_FALSE(trash.holds("/media/stick/data/.Trash-1000/files/a"));  // not a mount's top
    EXPECT_FALSE(trash.holds("/media/stick/.Trash/files/a"));
    EXPECT_FALSE(trash.holds("/home/ann/.local/share/Trashy/a"));

    auto file = [](const std::string& path, std::int64_t modified) {
        FileFacts facts;
        facts.path = path;
        facts.size = 5;
        facts.modifiedNs = modified;
        return facts;
    };
    const InputGroup thesis = {file("/home/ann/Documents/thesis.txt", 200),
                               file("/home/ann/.local/share/Trash/files/thesis.txt", 100),
                               file("/media/stick/.Trash-1000/files/thesis.txt", 50)};
    for (const char* rule : {"oldest", "newest", "first", "shortest", "in:/media/stick"}) {
        const Plan plan = makePlan({thesis}, rules({rule}), trash);
        EXPECT_EQ(plan.groups[0].files[0].role, Role::Keep) << rule;
        EXPECT_EQ(plan.markedCount(), 2) << rule;
    }
    // With every copy in the trash, the rules choose among them as ever.
    const Plan plan = makePlan({{thesis[1], thesis[2]}}, rules({"oldest"}), trash);
    EXPECT_EQ(plan.groups[0].files[1].role, Role::Keep);
}

