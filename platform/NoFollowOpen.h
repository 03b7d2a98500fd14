// Opening paths without following any symbolic link on the way.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A file descriptor that closes itself.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Opens `path` with `flags` (O_CLOEXEC and O_NOFOLLOW are added) without
// following a symbolic link in any component after its first `trusted`
// bytes (a whole folder path, ending at a component). Those bytes name a folder the user chose,
// which is resolved as named (it may itself be a link, as /home is on some systems); 0 trusts
// nothing but "/" (or the current folder for a relative path). A link met
// below gives ELOOP or ENOTDIR, a ".." component EXDEV, so nothing outside
// the trusted folder can be reached, whatever another process renames
// meanwhile. With O_PATH a final link is opened as itself: check it with
// fstat. -1 with errno set on failure; `mode` is for O_CREAT.
int openNoFollow(const std::string& path, int flags, std::size_t trusted = 0, unsigned mode = 0);

// The same below a folder already open (as O_PATH or otherwise): `rest` is
// relative to it, and no link in it is followed. A path longer than the
// kernel takes at once is walked one component at a time.
int openNoFollowAt(int folder, const std::string& rest, int flags);

// The same walk done by user space, one component at a time: what
// openNoFollow falls back to where the kernel lacks openat2. Exposed so that
// both ways are tested.
int openNoFollowByComponents(const std::string& path, int flags, std::size_t trusted = 0,
                             unsigned mode = 0);

// The folder holding `path`, opened the same way (O_DIRECTORY | O_PATH), and
// the last component's name: the pair that unlinkat, renameat, linkat and
// fstatat act on without a path being resolved again. False with errno set.
struct PathPlace {
    UniqueFd folder;
    std::string name;
};
bool openPlaceNoFollow(const std::string& path, std::size_t trusted, PathPlace& place);

}  // namespace platform
