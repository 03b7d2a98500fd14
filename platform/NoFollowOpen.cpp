// Opening paths without following any symbolic link on the way.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/NoFollowOpen.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <linux/openat2.h>

namespace platform {

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
}

namespace {

bool hasDotDot(std::string_view rest)
{
    std::size_t begin = 0;
    while (begin <= rest.size()) {
        const std::size_t end = std::min(rest.find('/', begin), rest.size());
        if (rest.substr(begin, end - begin) == "..") {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

// The kernel resolves the whole rest at once and refuses any link on the way.
// ENOSYS on kernels before 5.6 (and E2BIG/EPERM under some seccomp filters).
int openByKernel(int base, const std::string& rest, int flags, unsigned mode)
{
#ifdef SYS_openat2
    open_how how = {};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, base, rest.c_str(), &how, sizeof how));
#else
    (void)base, (void)rest, (void)flags, (void)mode;
    errno = ENOSYS;
    return -1;
#endif
}

// One component at a time, each folder opened relative to the one before
// without following a link.
int openByComponents(int base, std::string_view rest, int flags, unsigned mode)
{
    UniqueFd folder;
    int at = base;
    std::size_t begin = 0;
    while (true) {
        while (begin < rest.size() && rest[begin] == '/') {
            ++begin;
        }
        const std::size_t end = std::min(rest.find('/', begin), rest.size());
        std::size_t next = end;
        while (next < rest.size() && rest[next] == '/') {
            ++next;
        }
        const std::string name(begin < end ? rest.substr(begin, end - begin) : ".");
        if (next >= rest.size()) {
            return ::openat(at, name.c_str(), flags, mode);
        }
        UniqueFd inner(::openat(at, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.ok()) {
            return -1;
        }
        struct stat st = {};
        if (::fstat(inner.get(), &st) != 0) {
            return -1;
        }
        if (!S_ISDIR(st.st_mode)) {
            errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
            return -1;
        }
        folder = std::move(inner);
        at = folder.get();
        begin = next;
    }
}

}  // namespace

namespace {

int openBelow(const std::string& path, int flags, std::size_t trusted, unsigned mode, bool kernel)
{
    flags |= O_CLOEXEC | O_NOFOLLOW;
    if (path.empty() || trusted > path.size()) {
        errno = ENOENT;
        return -1;
    }
    UniqueFd base;
    std::string_view tail = path;
    if (trusted > 0) {
        const std::string top = path.substr(0, trusted);
        base.reset(::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        tail.remove_prefix(trusted);
    } else if (path[0] == '/') {
        base.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (path[0] == '/' || trusted > 0) {
        if (!base.ok()) {
            return -1;
        }
    }
    tail.remove_prefix(std::min(tail.find_first_not_of('/'), tail.size()));
    if (hasDotDot(tail)) {
        errno = EXDEV;
        return -1;
    }
    const std::string rest = tail.empty() ? std::string(1, '.') : std::string(tail);
    const int at = base.ok() ? base.get() : AT_FDCWD;
    if (kernel) {
        const int fd = openByKernel(at, rest, flags, mode);
        if (fd >= 0 || (errno != ENOSYS && errno != E2BIG && errno != EPERM)) {
            return fd;
        }
    }
    return openByComponents(at, rest, flags, mode);
}

}  // namespace

int openNoFollow(const std::string& path, int flags, std::size_t trusted, unsigned mode)
{
    return openBelow(path, flags, trusted, mode, true);
}

int openNoFollowAt(int folder, const std::string& rest, int flags)
{
    flags |= O_CLOEXEC | O_NOFOLLOW;
    std::string_view tail = rest;
    tail.remove_prefix(std::min(tail.find_first_not_of('/'), tail.size()));
    if (hasDotDot(tail)) {
        errno = EXDEV;
        return -1;
    }
    // The usual path is used as it is: no copy, so no allocation on a
    // reader thread.
    const bool asGiven = !tail.empty() && tail.size() == rest.size();
    const std::string copy = asGiven ? std::string() : tail.empty() ? "." : std::string(tail);
    const std::string& below = asGiven ? rest : copy;
    const int fd = openByKernel(folder, below, flags, 0);
    if (fd >= 0 || (errno != ENOSYS && errno != E2BIG && errno != EPERM && errno != ENAMETOOLONG)) {
        return fd;
    }
    return openByComponents(folder, below, flags, 0);
}

int openNoFollowByComponents(const std::string& path, int flags, std::size_t trusted, unsigned mode)
{
    return openBelow(path, flags, trusted, mode, false);
}

bool openPlaceNoFollow(const std::string& path, std::size_t trusted, PathPlace& place)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash + 1 == path.size()) {
        errno = EISDIR;
        return false;
    }
    if (slash == std::string::npos) {
        place.name = path;
        place.folder.reset(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        return place.folder.ok();
    }
    place.name = path.substr(slash + 1);
    if (place.name == "." || place.name == "..") {
        errno = EXDEV;
        return false;
    }
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    place.folder.reset(
        openNoFollow(folder, O_PATH | O_DIRECTORY, std::min(trusted, folder.size())));
    return place.folder.ok();
}

}  // namespace platform
