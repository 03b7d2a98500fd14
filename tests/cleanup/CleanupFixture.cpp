// Test fixture: a searched folder of duplicates with a trash of its own.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/CleanupFixture.h"

#include <cstdlib>
#include <map>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cleanup/Journal.h"

void CleanupFixture::SetUp()
{
    if (const char* value = std::getenv("XDG_DATA_HOME")) {
        m_savedDataHome = value;
        m_hadDataHome = true;
    }
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
}

void CleanupFixture::TearDown()
{
    if (m_hadDataHome) {
        ::setenv("XDG_DATA_HOME", m_savedDataHome.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

cleanup::InputGroup CleanupFixture::group(std::initializer_list<std::string> relative)
{
    cleanup::InputGroup files;
    for (const std::string& name : relative) {
        cleanup::FileFacts file;
        file.path = tree / name;
        file.root = tree.path();
        std::string error;
        EXPECT_TRUE(cleanup::readFacts(file, error)) << name << ": " << error;
        files.push_back(file);
    }
    return files;
}

cleanup::Plan CleanupFixture::keepFirst(const std::vector<cleanup::InputGroup>& groups)
{
    cleanup::KeepRule first;
    first.kind = cleanup::KeepRule::First;
    return cleanup::makePlan(groups, {first});
}

cleanup::Report CleanupFixture::act(const cleanup::Plan& plan, cleanup::ActionKind kind,
                                    const std::function<void(cleanup::Runner&)>& prepare)
{
    cleanup::Journal journal;
    std::string error;
    EXPECT_TRUE(journal.open(journalPath(), error)) << error;
    cleanup::Action action;
    action.kind = kind;
    action.linkAnyOwner = linkAnyOwner;
    if (kind == cleanup::ActionKind::Move) {
        action.folder = outside.mkdir("moved") + "/";
    }
    cleanup::Runner runner(plan, action, &journal);
    if (prepare) {
        prepare(runner);
    }
    return runner.run();
}

std::string CleanupFixture::whatWasLost(const Snapshot& before, const cleanup::Plan& plan)
{
    const Snapshot after = snapshotTree(tree.path());
    std::multiset<std::uint64_t> present;
    for (const auto& [path, facts] : after) {
        if (S_ISREG(facts.mode)) {
            present.insert(facts.digest);
        }
    }
    std::string lost;
    for (const auto& [path, facts] : before) {
        if (S_ISREG(facts.mode) && present.count(facts.digest) == 0) {
            lost += "the contents of " + path + " exist nowhere in the tree any more\n";
        }
    }
    for (const cleanup::PlanGroup& group : plan.groups) {
        for (const cleanup::PlanFile& file : group.files) {
            if (file.role != cleanup::Role::Keep || file.file.path.rfind(tree.path(), 0) != 0) {
                continue;
            }
            const std::string relative = file.file.path.substr(tree.path().size());
            const auto was = before.find(relative);
            const auto is = after.find(relative);
            if (was == before.end()) {
                continue;
            }
            if (is == after.end()) {
                lost += "the kept file " + relative + " is gone\n";
            } else if (!(was->second == is->second)) {
                lost += "the kept file " + relative + " changed\n";
            }
        }
    }
    return lost;
}

void CleanupFixture::expectNothingLost(const Snapshot& before, const cleanup::Plan& plan)
{
    EXPECT_EQ(whatWasLost(before, plan), "");
}

std::vector<std::string> CleanupFixture::outcomes(const cleanup::Plan& plan,
                                                  const cleanup::Report& report)
{
    std::vector<std::string> out;
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        for (std::size_t i = 0; i < plan.groups[g].files.size(); ++i) {
            const cleanup::FileResult& result = report.results[g][i];
            const char* word = result.outcome == cleanup::Outcome::Kept        ? "kept"
                               : result.outcome == cleanup::Outcome::Done      ? "done"
                               : result.outcome == cleanup::Outcome::Untouched ? "untouched"
                                                                               : "stopped";
            std::string path = plan.groups[g].files[i].file.path;
            if (path.rfind(tree.path(), 0) == 0) {
                path = path.substr(tree.path().size());
            }
            out.push_back(std::string(word) + ":" + path);
        }
    }
    return out;
}

std::string CleanupFixture::reasonFor(const cleanup::Plan& plan, const cleanup::Report& report,
                                      const std::string& relative)
{
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        for (std::size_t i = 0; i < plan.groups[g].files.size(); ++i) {
            if (plan.groups[g].files[i].file.path == tree / relative) {
                return report.results[g][i].reason;
            }
        }
    }
    return "(not in the plan)";
}

int inMountNamespace(const std::function<bool()>& mount, const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !mount()) {
            ::_exit(77);
        }
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

bool mountTmpfs(const std::string& folder, const std::string& size)
{
    const std::string options = "size=" + size;
    return ::mount("gemmora-test", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}
