// The last steps before a cleanup runs: facts read again, whole groups settled, a journal.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Prepare.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "platform/FolderListing.h"
#include "text/Text.h"

namespace cleanup {

std::string searchedFolderOf(const std::string& path, const std::vector<std::string>& folders)
{
    std::string best;
    for (const std::string& folder : folders) {
        if (folder.size() > best.size() && path.size() > folder.size() &&
            path.compare(0, folder.size(), folder) == 0) {
            best = folder;
        }
    }
    return best;
}

std::vector<LeftOut> rereadFacts(std::vector<InputGroup>& groups,
                                 const std::function<bool()>& stopRequested,
                                 std::atomic<std::int64_t>* filesRead)
{
    std::vector<LeftOut> leftOut;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (stopRequested && stopRequested()) {
            break;
        }
        InputGroup present;
        for (std::size_t i = 0; i < groups[g].size(); ++i) {
            FileFacts& file = groups[g][i];
            const std::int64_t listed = file.size;
            std::string error;
            if (!readFacts(file, error)) {
                leftOut.push_back({g, i, file.path, error});
            } else if (listed >= 0 && file.size != listed) {
                leftOut.push_back({g, i, file.path, "its size changed since the search"});
            } else {
                present.push_back(std::move(file));
            }
            if (filesRead != nullptr) {
                ++*filesRead;
            }
        }
        groups[g] = std::move(present);
    }
    return leftOut;
}

bool targetFolderReady(const Action& action)
{
    if (action.kind != ActionKind::Move) {
        return true;
    }
    struct stat st = {};
    return ::stat(action.folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

bool marksEvery(const PlanGroup& group)
{
    return !group.files.empty() &&
           std::all_of(group.files.begin(), group.files.end(),
                       [](const PlanFile& file) { return file.role == Role::Mark; });
}

}  // namespace

std::size_t wholeGroupCount(const Plan& plan)
{
    return static_cast<std::size_t>(
        std::count_if(plan.groups.begin(), plan.groups.end(), marksEvery));
}

bool settlePlan(Plan& plan, WholeGroupRule rule, std::vector<std::size_t>& kept, std::string& error)
{
    kept.clear();
    std::size_t next = 0;
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        PlanGroup& group = plan.groups[g];
        if (marksEvery(group) && rule == WholeGroupRule::LeaveAlone) {
            continue;
        }
        if (marksEvery(group) && rule == WholeGroupRule::KeepFirstByPath) {
            const auto first = std::min_element(
                group.files.begin(), group.files.end(), [](const PlanFile& a, const PlanFile& b) {
                    return text::compareOrder(a.file.path, b.file.path) < 0;
                });
            first->role = Role::Keep;
        }
        if (next != g) {
            plan.groups[next] = std::move(group);
        }
        kept.push_back(g);
        ++next;
    }
    plan.groups.resize(next);
    // Under Refuse a wholly marked group is still there, and refused here.
    return checkPlan(plan, error);
}

bool openNewJournal(const std::string& folder, Journal& journal, std::string& path,
                    std::string& error)
{
    const bool made = journal.create(folder, error);
    path = journal.path();
    return made;
}

}  // namespace cleanup
