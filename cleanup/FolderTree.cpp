// Lists and removes a folder's tree through descriptors, so no link on the way is ever followed.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/FolderTree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/NoFollowOpen.h"

namespace cleanup {

namespace {

constexpr int kDeepest = 1000;

// The names in the open folder `fd`, read from a descriptor of its own.
bool namesIn(int fd, std::vector<std::string>& names)
{
    const int own = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) {
        return false;
    }
    DIR* dir = ::fdopendir(own);
    if (dir == nullptr) {
        ::close(own);
        return false;
    }
    errno = 0;
    while (const dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return error == 0;
}

bool listInto(int fd, dev_t device, const std::string& prefix, int depth,
              std::vector<TreeEntry>& entries, std::string& reason)
{
    std::vector<std::string> names;
    if (depth > kDeepest || !namesIn(fd, names)) {
        reason = "the folder " + prefix + " cannot be read: " +
                 (depth > kDeepest ? "too deep" : std::strerror(errno));
        return false;
    }
    for (const std::string& name : names) {
        TreeEntry entry;
        entry.relative = prefix + name;
        if (::fstatat(fd, name.c_str(), &entry.st, AT_SYMLINK_NOFOLLOW) != 0) {
            reason = entry.relative + " cannot be queried: " + std::strerror(errno);
            return false;
        }
        if (S_ISREG(entry.st.st_mode)) {
            entry.type = entry.st.st_size > 0 ? TreeEntry::File : TreeEntry::EmptyFile;
        } else if (S_ISDIR(entry.st.st_mode)) {
            entry.type = TreeEntry::Folder;
            entry.relative += '/';
            if (entry.st.st_dev != device) {
                reason = entry.relative + " is another file system mounted there";
                return false;
            }
            platform::UniqueFd sub(::openat(fd, name.c_str(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.ok()) {
                reason = "the folder " + entry.relative + " cannot be read: " + std::strerror(errno);
                return false;
            }
            const std::string below = entry.relative;
            entries.push_back(std::move(entry));
            if (!listInto(sub.get(), device, below, depth + 1, entries, reason)) {
                return false;
            }
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

}  // namespace

bool listTree(int fd, std::vector<TreeEntry>& entries, std::string& reason)
{
    entries.clear();
    struct stat self = {};
    if (::fstat(fd, &self) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    if (!listInto(fd, self.st_dev, "", 0, entries, reason)) {
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.relative < b.relative; });
    return true;
}

namespace {

bool removeBelow(int parent, const std::string& name, const std::string& prefix,
                 const MayRemove& mayRemove, std::string& reason)
{
    platform::UniqueFd fd(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::vector<std::string> names;
    if (!fd.ok() || !namesIn(fd.get(), names)) {
        reason = name + " cannot be read: " + std::strerror(errno);
        return false;
    }
    for (const std::string& entry : names) {
        struct stat st = {};
        if (::fstatat(fd.get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;  // gone already
        }
        if (S_ISDIR(st.st_mode)) {
            if (!removeBelow(fd.get(), entry, prefix + entry + "/", mayRemove, reason)) {
                return false;
            }
        } else if (!mayRemove(prefix + entry, st)) {
            reason = prefix + entry + " is not what was checked (another program put it there)";
            return false;
        } else if (::unlinkat(fd.get(), entry.c_str(), 0) != 0 && errno != ENOENT) {
            reason = entry + " cannot be removed: " + std::strerror(errno);
            return false;
        }
    }
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
        reason = name + " cannot be removed: " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool removeTree(int parent, const std::string& name, const MayRemove& mayRemove,
                std::string& reason)
{
    return removeBelow(parent, name, "", mayRemove, reason);
}

std::string entryKind(const TreeEntry& entry)
{
    switch (entry.type) {
    case TreeEntry::File:
        return "file";
    case TreeEntry::EmptyFile:
        return "empty file";
    case TreeEntry::Folder:
        return "empty folder";
    case TreeEntry::Other:
        break;
    }
    if (S_ISLNK(entry.st.st_mode)) {
        return "link";
    }
    if (S_ISFIFO(entry.st.st_mode)) {
        return "FIFO";
    }
    if (S_ISSOCK(entry.st.st_mode)) {
        return "socket";
    }
    return "device";
}

}  // namespace cleanup
