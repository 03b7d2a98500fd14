// The cleanup plan: which file of each group is kept and which are marked, chosen by keep rules.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Plan.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/stat.h>

#include "text/CommaText.h"
#include "platform/FolderListing.h"
#include "platform/NoFollowOpen.h"
#include "text/Text.h"

namespace cleanup {

std::int64_t Plan::markedCount() const
{
    std::int64_t count = 0;
    for (const PlanGroup& group : groups) {
        for (const PlanFile& file : group.files) {
            count += file.role == Role::Mark ? 1 : 0;
        }
    }
    return count;
}

std::int64_t Plan::bytesToReclaim() const
{
    std::int64_t bytes = 0;
    for (const PlanGroup& group : groups) {
        for (const PlanFile& file : group.files) {
            if (file.role == Role::Mark && file.file.size > 0) {
                bytes += file.file.size;
            }
        }
    }
    return bytes;
}

namespace {

struct RuleName {
    const char* name;
    KeepRule::Kind kind;
    bool takesValues;
};

constexpr RuleName kRuleNames[] = {
    {"oldest", KeepRule::Oldest, false},         {"newest", KeepRule::Newest, false},
    {"shortest", KeepRule::Shortest, false},     {"longest", KeepRule::Longest, false},
    {"shallowest", KeepRule::Shallowest, false}, {"deepest", KeepRule::Deepest, false},
    {"first", KeepRule::First, false},           {"in", KeepRule::InFolder, true},
    {"not-in", KeepRule::NotInFolder, true},     {"name", KeepRule::NameMatches, true},
};

bool isBelow(const std::string& path, const std::string& folder)
{
    return !folder.empty() && path.size() > folder.size() &&
           path.compare(0, folder.size(), folder) == 0;
}

std::int64_t depthOf(const std::string& path)
{
    return std::count(path.begin(), path.end(), '/');
}

}  // namespace

bool parseKeepRule(const std::string& text, KeepRule& rule, std::string& error)
{
    const std::size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    for (const RuleName& known : kRuleNames) {
        if (name != known.name) {
            continue;
        }
        rule = KeepRule();
        rule.kind = known.kind;
        if (!known.takesValues) {
            if (colon != std::string::npos) {
                error = "the keep rule " + name + " takes no value";
                return false;
            }
            return true;
        }
        if (colon == std::string::npos) {
            error = "the keep rule " + name + " needs a value, as in " + name + ":" +
                    (known.kind == KeepRule::NameMatches ? "*.jpg" : "/home/ann/photos");
            return false;
        }
        for (std::string& value : text::parseCommaText(text.substr(colon + 1))) {
            if (value.empty()) {
                continue;
            }
            if (known.kind != KeepRule::NameMatches && value.back() != '/') {
                value += '/';
            }
            rule.values.push_back(std::move(value));
        }
        if (rule.values.empty()) {
            error = "the keep rule " + name + " needs a value";
            return false;
        }
        return true;
    }
    error = "unknown keep rule " + text +
            " (oldest, newest, shortest, longest, shallowest, deepest, first, in:DIR, "
            "not-in:DIR, name:MASK)";
    return false;
}

std::string describeRule(const KeepRule& rule)
{
    for (const RuleName& known : kRuleNames) {
        if (known.kind == rule.kind) {
            std::string text = known.name;
            if (known.takesValues) {
                text += ':' + text::formatCommaText(rule.values);
            }
            return text;
        }
    }
    return "";
}

namespace {

// The files of `candidates` that a rule leaves in the running.
std::vector<std::size_t> applyRule(const KeepRule& rule, const InputGroup& group,
                                   const std::vector<std::size_t>& candidates)
{
    // Rules that pick the extreme of a measure keep every file tied at it.
    auto extreme = [&](const std::function<std::int64_t(const FileFacts&)>& measure,
                       bool smallest) {
        std::vector<std::size_t> best;
        std::int64_t bestValue = 0;
        for (const std::size_t i : candidates) {
            const std::int64_t value = measure(group[i]);
            if (best.empty() || (smallest ? value < bestValue : value > bestValue)) {
                best = {i};
                bestValue = value;
            } else if (value == bestValue) {
                best.push_back(i);
            }
        }
        return best;
    };
    auto matching = [&](const std::function<bool(const FileFacts&)>& test) {
        std::vector<std::size_t> kept;
        for (const std::size_t i : candidates) {
            if (test(group[i])) {
                kept.push_back(i);
            }
        }
        return kept;
    };
    // A folder of a folder cleanup (named without its '/') is in itself.
    auto inAny = [&](const FileFacts& file) {
        return std::any_of(rule.values.begin(), rule.values.end(), [&](const std::string& folder) {
            return isBelow(file.path, folder) ||
                   (folder.size() == file.path.size() + 1 &&
                    folder.compare(0, file.path.size(), file.path) == 0);
        });
    };
    auto modified = [](const FileFacts& file) { return file.modifiedNs; };
    auto length = [](const FileFacts& file) { return static_cast<std::int64_t>(file.path.size()); };
    auto depth = [](const FileFacts& file) { return depthOf(file.path); };

    switch (rule.kind) {
    case KeepRule::Oldest:
        return extreme(modified, true);
    case KeepRule::Newest:
        return extreme(modified, false);
    case KeepRule::Shortest:
        return extreme(length, true);
    case KeepRule::Longest:
        return extreme(length, false);
    case KeepRule::Shallowest:
        return extreme(depth, true);
    case KeepRule::Deepest:
        return extreme(depth, false);
    case KeepRule::First:
        return {*std::min_element(candidates.begin(), candidates.end())};
    case KeepRule::InFolder:
        return matching(inAny);
    case KeepRule::NotInFolder:
        return matching([&](const FileFacts& file) { return !inAny(file); });
    case KeepRule::NameMatches:
        return matching([&](const FileFacts& file) {
            const std::string_view name = platform::nameOf(file.path);
            return std::any_of(
                rule.values.begin(), rule.values.end(),
                [&](const std::string& mask) { return platform::matchesMask(name, mask); });
        });
    }
    return candidates;
}

std::size_t firstByPath(const InputGroup& group, const std::vector<std::size_t>& candidates)
{
    return *std::min_element(candidates.begin(), candidates.end(),
                             [&](std::size_t a, std::size_t b) {
                                 return text::compareOrder(group[a].path, group[b].path) < 0;
                             });
}


// The files of a group in the running before any rule: those outside the
// trash, or every file when none is.
std::vector<std::size_t> outsideTrash(const InputGroup& group, const platform::TrashFolders& trash)
{
    std::vector<std::size_t> all;
    std::vector<std::size_t> outside;
    for (std::size_t i = 0; i < group.size(); ++i) {
        all.push_back(i);
        if (!trash.holds(group[i].path)) {
            outside.push_back(i);
        }
    }
    return outside.empty() ? all : outside;
}

}  // namespace

Plan makePlan(const std::vector<InputGroup>& groups, const std::vector<KeepRule>& rules)
{
    return makePlan(groups, rules, platform::TrashFolders::ofSystem());
}

Plan makePlan(const std::vector<InputGroup>& groups, const std::vector<KeepRule>& rules,
              const platform::TrashFolders& trash)
{
    Plan plan;
    for (const InputGroup& group : groups) {
        PlanGroup planned;
        for (const FileFacts& file : group) {
            planned.files.push_back({file, Role::Keep});
        }
        if (group.size() >= 2) {
            std::vector<std::size_t> candidates = outsideTrash(group, trash);
            const std::vector<std::size_t> all = candidates;
            for (const KeepRule& rule : rules) {
                std::vector<std::size_t> left = applyRule(rule, group, candidates);
                if (left.empty()) {
                    planned.note = "no file is left by the keep rule " + describeRule(rule) +
                                   ": the first by path order is kept";
                    candidates = all;
                    break;
                }
                candidates = std::move(left);
            }
            const std::size_t keep = firstByPath(group, candidates);
            for (std::size_t i = 0; i < group.size(); ++i) {
                planned.files[i].role = i == keep ? Role::Keep : Role::Mark;
            }
        }
        plan.groups.push_back(std::move(planned));
    }
    return plan;
}

namespace {

bool isPlainAbsolute(const std::string& path)
{
    if (path.size() < 2 || path[0] != '/' || path.back() == '/') {
        return false;
    }
    std::size_t begin = 1;
    while (begin <= path.size()) {
        const std::size_t end = std::min(path.find('/', begin), path.size());
        const std::string_view part(path.data() + begin, end - begin);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        begin = end + 1;
    }
    return path.find('\0') == std::string::npos;
}

}  // namespace

bool checkPlan(const Plan& plan, std::string& error)
{
    std::set<std::string> seen;
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        const PlanGroup& group = plan.groups[g];
        const std::string where = "group " + std::to_string(g + 1);
        bool keeps = false;
        bool marks = false;
        for (const PlanFile& file : group.files) {
            keeps = keeps || file.role == Role::Keep;
            marks = marks || file.role == Role::Mark;
            if (!isPlainAbsolute(file.file.path)) {
                error = where + ": " + text::displayName(file.file.path) +
                        " is not a plain absolute path";
                return false;
            }
            if (!seen.insert(file.file.path).second) {
                error = where + ": " + text::displayName(file.file.path) +
                        " occurs more than once in the plan";
                return false;
            }
        }
        if (marks && !keeps) {
            error = where + " marks every copy: at least one must be kept";
            return false;
        }
    }
    return true;
}

std::size_t trustedLength(const FileFacts& file)
{
    return isBelow(file.path, file.root) ? file.root.size() : 0;
}

bool readFacts(FileFacts& file, std::string& error)
{
    platform::PathPlace place;
    if (!platform::openPlaceNoFollow(file.path, trustedLength(file), place)) {
        error = errno == ELOOP || errno == ENOTDIR ? "a folder on its path is a link now"
                                                   : std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISLNK(st.st_mode) ? "it is a link now" : "it is not a plain file";
        return false;
    }
    file.size = st.st_size;
    file.modifiedNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

std::string plainPath(const std::string& path, const std::string& base, bool folder)
{
    const std::string whole = !path.empty() && path[0] == '/' ? path : base + "/" + path;
    std::vector<std::string_view> parts;
    std::size_t begin = 0;
    while (begin <= whole.size()) {
        const std::size_t end = std::min(whole.find('/', begin), whole.size());
        const std::string_view part(whole.data() + begin, end - begin);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        begin = end + 1;
    }
    std::string out;
    for (const std::string_view part : parts) {
        out += '/';
        out += part;
    }
    if (out.empty() || folder) {
        out += '/';
    }
    return out;
}

std::vector<std::string> folderForms(const std::string& folder, const std::string& base)
{
    std::vector<std::string> forms = {plainPath(folder, base, true)};
    char buffer[PATH_MAX];
    const std::string whole = !folder.empty() && folder[0] == '/' ? folder : base + "/" + folder;
    if (::realpath(whole.c_str(), buffer) != nullptr) {
        const std::string resolved = plainPath(buffer, "/", true);
        if (resolved != forms.front()) {
            forms.push_back(resolved);
        }
    }
    return forms;
}

}  // namespace cleanup
