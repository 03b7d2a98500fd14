// Plans the cleanup of whole folders: which folders go, and for each file the copy that stays.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/FolderPlan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <unistd.h>

#include "cleanup/FolderTree.h"
#include "cleanup/Prepare.h"
#include "platform/NoFollowOpen.h"

namespace cleanup {

std::int64_t PlanFolder::bytes() const
{
    std::int64_t total = 0;
    for (const FolderFile& file : files) {
        total += file.size;
    }
    return total;
}

std::int64_t FolderPlan::fileCount() const
{
    std::int64_t total = 0;
    for (const PlanFolder& folder : folders) {
        total += static_cast<std::int64_t>(folder.files.size());
    }
    return total;
}

std::int64_t FolderPlan::bytesToReclaim() const
{
    std::int64_t total = 0;
    for (const PlanFolder& folder : folders) {
        total += folder.bytes();
    }
    return total;
}

bool openPlannedFolder(const std::string& path, const std::string& root,
                       platform::PathPlace& place, platform::UniqueFd& fd, struct stat& st,
                       std::string& reason)
{
    const std::string named = path.size() > 1 ? path.substr(0, path.size() - 1) : path;
    const std::size_t trusted =
        !root.empty() && named.size() > root.size() && named.compare(0, root.size(), root) == 0
            ? root.size()
            : 0;
    if (!platform::openPlaceNoFollow(named, trusted, place)) {
        reason = errno == ENOENT                     ? "it is gone"
                 : errno == ELOOP || errno == ENOTDIR ? "a folder on its path is a link now"
                                                      : std::string(std::strerror(errno));
        return false;
    }
    fd = platform::UniqueFd(::openat(place.folder.get(), place.name.c_str(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
        reason = errno == ELOOP || errno == ENOTDIR ? "it is no folder now (a link?)"
                                                    : std::string(std::strerror(errno));
        return false;
    }
    return true;
}

namespace {

bool isBelow(const std::string& path, const std::string& folder)
{
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0;
}

bool belowAny(const std::string& path, const std::vector<PlanFolder>& folders)
{
    return std::any_of(folders.begin(), folders.end(),
                       [&](const PlanFolder& f) { return isBelow(path, f.path); });
}

// A folder the result offers to take away, and the folder of its group
// that stays ("" for a contained folder).
struct Candidate {
    std::string path;
    std::string kept;
};

bool chosen(const FolderChoice& choice, const std::string& path)
{
    return choice.only.empty() ||
           std::find(choice.only.begin(), choice.only.end(), path) != choice.only.end();
}

std::int64_t modifiedNs(const std::string& path)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

FileFacts folderFacts(const folders::FolderFacts& f, const std::vector<std::string>& roots)
{
    const std::string named = f.path.substr(0, f.path.size() - 1);
    return {named, searchedFolderOf(named, roots), f.bytes, modifiedNs(named)};
}

KeptFolder keepAmong(const InputGroup& input, const std::vector<KeepRule>& rules)
{
    if (input.size() == 1) {
        return {input.front().path + "/", true};
    }
    const Plan plan = makePlan({input}, rules);
    const PlanGroup& group = plan.groups.front();
    for (const PlanFile& file : group.files) {
        if (file.role == Role::Keep) {
            return {file.file.path + "/", group.note.empty()};
        }
    }
    return {input.front().path + "/", false};
}

// The folder of an identical group that stays, chosen by the keep rules as
// for files, among the folders not chosen to go when some are not.
std::string keptOf(const folders::IdenticalGroup& group, const std::vector<KeepRule>& rules,
                   const FolderChoice& choice, const std::vector<std::string>& roots)
{
    InputGroup input;
    for (const folders::FolderFacts& f : group.folders) {
        if (choice.only.empty() || !chosen(choice, f.path)) {
            input.push_back(folderFacts(f, roots));
        }
    }
    if (input.empty()) {
        for (const folders::FolderFacts& f : group.folders) {
            input.push_back(folderFacts(f, roots));
        }
    }
    return keepAmong(input, rules).path;
}

std::vector<Candidate> candidatesOf(const folders::FolderResult& result,
                                    const std::vector<KeepRule>& rules,
                                    const FolderChoice& choice,
                                    const std::vector<std::string>& roots)
{
    std::vector<Candidate> candidates;
    if (choice.identical) {
        for (const auto* list : {&result.sameLayout, &result.anyLayout}) {
            for (const folders::IdenticalGroup& group : *list) {
                const std::string kept = keptOf(group, rules, choice, roots);
                for (const folders::FolderFacts& f : group.folders) {
                    if (f.path != kept && chosen(choice, f.path)) {
                        candidates.push_back({f.path, kept});
                    }
                }
            }
        }
    }
    if (choice.contained) {
        for (const folders::ContainedFolder& c : result.contained) {
            if (chosen(choice, c.folder.path)) {
                candidates.push_back({c.folder.path, ""});
            }
        }
    }
    return candidates;
}

// The copy of a file that stays: a path of its class outside `folder` and
// every planned folder, in the kept folder when there is one there.
std::string copyFor(const std::vector<std::string>& paths, const std::string& folder,
                    const std::string& kept, const std::vector<PlanFolder>& planned)
{
    std::string found;
    for (const std::string& path : paths) {
        if (isBelow(path, folder) || belowAny(path, planned)) {
            continue;
        }
        if (!kept.empty() && isBelow(path, kept)) {
            return path;
        }
        if (found.empty()) {
            found = path;
        }
    }
    return found;
}

class Planner {
public:
    Planner(const folders::FolderFinder& finder, const std::vector<std::string>& roots,
            FolderPlan& plan)
        : m_finder(finder), m_roots(roots), m_plan(plan)
    {
    }

    void take(const Candidate& candidate)
    {
        std::string why;
        PlanFolder folder;
        if (!settle(candidate, folder, why)) {
            m_plan.notes.push_back(candidate.path + ": " + why);
            return;
        }
        for (const FolderFile& file : folder.files) {
            m_copies.insert(file.copy);
        }
        m_plan.folders.push_back(std::move(folder));
    }

private:
    bool settle(const Candidate& candidate, PlanFolder& folder, std::string& why)
    {
        const std::string& path = candidate.path;
        for (const PlanFolder& other : m_plan.folders) {
            if (isBelow(path, other.path) || isBelow(other.path, path)) {
                why = "it lies in or holds " + other.path + ", which goes already";
                return false;
            }
        }
        const auto used = m_copies.lower_bound(path);
        if (used != m_copies.end() && isBelow(*used, path)) {
            why = "it holds " + *used + ", the copy that stays of a file of another folder";
            return false;
        }
        folder.path = path;
        folder.root = searchedFolderOf(path.substr(0, path.size() - 1), m_roots);
        folder.keptFolder = candidate.kept;
        platform::PathPlace place;
        platform::UniqueFd fd;
        struct stat st = {};
        std::vector<TreeEntry> entries;
        if (!openPlannedFolder(path, folder.root, place, fd, st, why) ||
            !listTree(fd.get(), entries, why)) {
            return false;
        }
        return account(entries, folder, why);
    }

    // Each entry is a compared file with a copy outside, or goes with the
    // folder and is said so; anything else keeps the folder where it is.
    bool account(const std::vector<TreeEntry>& entries, PlanFolder& folder, std::string& why)
    {
        std::map<std::string, std::uint32_t> classes;
        for (const folders::FolderFinder::TreeFile& file : m_finder.filesIn(folder.path)) {
            classes.emplace(file.path.substr(folder.path.size()), file.cls);
        }
        std::size_t found = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const TreeEntry& entry = entries[i];
            if (entry.type == TreeEntry::File) {
                const auto at = classes.find(entry.relative);
                if (at == classes.end()) {
                    why = entry.relative + " was not compared (added since, or left out)";
                    return false;
                }
                ++found;
                const std::string copy =
                    copyFor(m_finder.pathsOf(at->second), folder.path, folder.keptFolder,
                            m_plan.folders);
                if (copy.empty()) {
                    why = entry.relative + " has no copy outside the folders that go";
                    return false;
                }
                folder.files.push_back({folder.path + entry.relative, entry.st.st_size, copy,
                                        searchedFolderOf(copy, m_roots)});
                continue;
            }
            const bool holdsMore = entry.type == TreeEntry::Folder && i + 1 < entries.size() &&
                                   isBelow(entries[i + 1].relative, entry.relative);
            if (!holdsMore) {
                folder.alsoRemoved.push_back(entry.relative);
                folder.alsoRemovedKinds.push_back(entryKind(entry));
            }
        }
        if (found != classes.size()) {
            why = "a compared file of it is gone";
            return false;
        }
        if (folder.files.empty()) {
            why = "it holds no compared file";
            return false;
        }
        return true;
    }

    const folders::FolderFinder& m_finder;
    const std::vector<std::string>& m_roots;
    FolderPlan& m_plan;
    std::set<std::string> m_copies;  // the copies that stay, of every planned folder
};

bool isPlainFolder(const std::string& path)
{
    return !path.empty() && path.front() == '/' && path.back() == '/' && path.size() > 1 &&
           plainPath(path, "/", true) == path;
}

}  // namespace

KeptFolder keptFolderOf(const folders::IdenticalGroup& group, const std::vector<KeepRule>& rules,
                        const std::vector<std::string>& roots)
{
    InputGroup input;
    for (const folders::FolderFacts& f : group.folders) {
        input.push_back(folderFacts(f, roots));
    }
    if (input.empty()) {
        return {"", false};
    }
    return keepAmong(input, rules);
}

FolderPlan makeFolderPlan(const folders::FolderFinder& finder,
                          const folders::FolderResult& result,
                          const std::vector<KeepRule>& rules, const FolderChoice& choice,
                          const std::vector<std::string>& roots)
{
    FolderPlan plan;
    Planner planner(finder, roots, plan);
    for (const Candidate& candidate : candidatesOf(result, rules, choice, roots)) {
        planner.take(candidate);
    }
    return plan;
}

bool checkFolderPlan(const FolderPlan& plan, std::string& error)
{
    for (std::size_t i = 0; i < plan.folders.size(); ++i) {
        const PlanFolder& folder = plan.folders[i];
        if (!isPlainFolder(folder.path)) {
            error = folder.path + " is no plain full path of a folder";
            return false;
        }
        for (std::size_t j = 0; j < plan.folders.size(); ++j) {
            if (j != i && isBelow(plan.folders[j].path, folder.path)) {
                error = plan.folders[j].path + " lies in " + folder.path + ", which goes too";
                return false;
            }
        }
        if (folder.files.empty()) {
            error = folder.path + " holds no file with a copy";
            return false;
        }
        for (const FolderFile& file : folder.files) {
            if (!isBelow(file.path, folder.path) || file.path.size() == folder.path.size() ||
                plainPath(file.path, "/", false) != file.path) {
                error = file.path + " is no plain path in " + folder.path;
                return false;
            }
            if (file.copy.empty() || plainPath(file.copy, "/", false) != file.copy ||
                belowAny(file.copy, plan.folders)) {
                error = "the copy of " + file.path + " is not outside every folder that goes";
                return false;
            }
        }
    }
    return true;
}

}  // namespace cleanup
