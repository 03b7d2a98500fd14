// Test helper: records a tree as lstat sees it, to check that a run left it as it was.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostile/TreeCheck.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::uint64_t digestOf(int fd)
{
    std::uint64_t hash = 1469598103934665603ull;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (ssize_t i = 0; i < got; ++i) {
            hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
        }
    }
    return hash;
}

void walk(int folder, const std::string& relative, Snapshot& out)
{
    DIR* listing = ::fdopendir(::dup(folder));
    if (listing == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(listing);
    for (const std::string& name : names) {
        struct stat st = {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        EntryFacts facts;
        facts.mode = st.st_mode;
        facts.size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
        facts.mtimeNs =
            S_ISDIR(st.st_mode)
                ? 0
                : static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        facts.inode = st.st_ino;
        const std::string path = relative + name;
        if (S_ISREG(st.st_mode)) {
            const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                facts.digest = digestOf(fd);
                ::close(fd);
            }
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlinkat(folder, name.c_str(), target, sizeof target);
            facts.linkTarget.assign(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        out[path] = facts;
        if (S_ISDIR(st.st_mode)) {
            const int child =
                ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) {
                walk(child, path + "/", out);
                ::close(child);
            }
        }
    }
}

bool readWhole(const std::string& path, std::string& contents)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    contents.clear();
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return got == 0;
}

std::string printable(const std::string& path)
{
    std::string out;
    for (const unsigned char c : path) {
        if (c < 0x20 || c >= 0x7F || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

Snapshot snapshotTree(const std::string& root)
{
    Snapshot out;
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        walk(fd, "", out);
        ::close(fd);
    }
    return out;
}

std::string describeChanges(const Snapshot& before, const Snapshot& after)
{
    std::string out;
    for (const auto& [path, facts] : before) {
        const auto found = after.find(path);
        if (found == after.end()) {
            out += "gone: " + printable(path) + "\n";
        } else if (!(found->second == facts)) {
            out += "changed: " + printable(path) + "\n";
        }
    }
    for (const auto& [path, facts] : after) {
        if (before.find(path) == before.end()) {
            out += "new: " + printable(path) + "\n";
        }
    }
    return out;
}

std::string checkGroups(const Groups& groups, const std::vector<std::string>& roots)
{
    std::set<std::pair<dev_t, ino_t>> seen;
    for (const std::vector<std::string>& group : groups) {
        if (group.size() < 2) {
            return "a group of " + std::to_string(group.size()) + " path(s)";
        }
        std::string first;
        for (std::size_t i = 0; i < group.size(); ++i) {
            const std::string& path = group[i];
            const bool inside = std::any_of(roots.begin(), roots.end(), [&](const std::string& r) {
                return path.compare(0, r.size(), r) == 0;
            });
            if (!inside) {
                return "outside the searched folders: " + printable(path);
            }
            struct stat st = {};
            if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                return "not a regular file: " + printable(path);
            }
            if (!seen.insert({st.st_dev, st.st_ino}).second) {
                return "the same file twice: " + printable(path);
            }
            std::string contents;
            if (!readWhole(path, contents)) {
                return "unreadable: " + printable(path);
            }
            if (i == 0) {
                first = std::move(contents);
            } else if (contents != first) {
                return "contents differ: " + printable(group[0]) + " and " + printable(path);
            }
        }
    }
    return "";
}

Groups parseNullGroups(const std::string& text)
{
    Groups groups;
    std::vector<std::string> current;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\0', at);
        if (end == std::string::npos) {
            current.push_back(text.substr(at) + "<unterminated>");
            break;
        }
        if (end == at) {
            groups.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    if (!current.empty()) {
        groups.push_back(std::move(current));
    }
    return groups;
}

std::vector<std::vector<std::string>> relativeGroups(const Groups& groups, const std::string& base)
{
    std::vector<std::vector<std::string>> out;
    for (const std::vector<std::string>& group : groups) {
        std::vector<std::string> relative;
        for (const std::string& path : group) {
            relative.push_back(path.compare(0, base.size(), base) == 0 ? path.substr(base.size())
                                                                       : path);
        }
        std::sort(relative.begin(), relative.end());
        out.push_back(std::move(relative));
    }
    std::sort(out.begin(), out.end());
    return out;
}

void raiseOpenFileLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}
