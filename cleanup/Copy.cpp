// Copies a file for a move to another file system, flushed and read back before it counts.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Copy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "cleanup/Rename.h"
#include "platform/FileContents.h"
#include "platform/NoFollowOpen.h"

namespace cleanup {

namespace {

constexpr std::int64_t kChunk = 128 * 1024;

bool writeFully(int fd, const char* buffer, std::int64_t length, std::int64_t offset)
{
    std::int64_t done = 0;
    while (done < length) {
        const ssize_t put =
            ::pwrite(fd, buffer + done, static_cast<std::size_t>(length - done), offset + done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            if (put == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += put;
    }
    return true;
}

}  // namespace

bool copyInto(int from, const struct stat& fromState, int folder, const std::string& spare,
              const std::string& name, const CopyProgress& progress, struct stat& copied,
              std::string& reason, bool& stopped)
{
    stopped = false;
    platform::UniqueFd out(
        ::openat(folder, spare.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.ok()) {
        reason = std::string("no copy can be made there: ") + std::strerror(errno);
        return false;
    }
    // Whatever fails from here on, the spare file goes again.
    auto fail = [&](const std::string& why) {
        out.reset();
        ::unlinkat(folder, spare.c_str(), 0);
        reason = why;
        return false;
    };
    const std::int64_t size = fromState.st_size;
    std::vector<char> buffer(static_cast<std::size_t>(2 * kChunk));
    char* mine = buffer.data();
    char* theirs = buffer.data() + kChunk;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::int64_t offset = 0; offset < size; offset += kChunk) {
            const std::int64_t length = std::min(kChunk, size - offset);
            if (!platform::readExactly(from, offset, static_cast<std::size_t>(length),
                                       reinterpret_cast<unsigned char*>(mine))) {
                return fail("it could not be read to the end: " +
                            std::string(errno != 0 ? std::strerror(errno) : "it is shorter now"));
            }
            if (pass == 0 && !writeFully(out.get(), mine, length, offset)) {
                return fail(std::string("the copy could not be written: ") + std::strerror(errno));
            }
            if (pass == 1 &&
                (!platform::readExactly(out.get(), offset, static_cast<std::size_t>(length),
                                        reinterpret_cast<unsigned char*>(theirs)) ||
                 std::memcmp(mine, theirs, static_cast<std::size_t>(length)) != 0)) {
                return fail("the copy does not read back the same");
            }
            if (progress && !progress(pass * size + offset + length, 2 * size)) {
                stopped = true;
                return fail("the run was stopped while it was copied");
            }
        }
        if (pass == 0 && ::fsync(out.get()) != 0) {
            return fail(std::string("the copy could not be written: ") + std::strerror(errno));
        }
    }
    ::fchmod(out.get(), fromState.st_mode & 07777);
    if (::fchown(out.get(), fromState.st_uid, fromState.st_gid) != 0) {
        ::fchmod(out.get(), fromState.st_mode & 0777);  // no set-id bits for another owner
    }
    const timespec times[2] = {fromState.st_atim, fromState.st_mtim};
    ::futimens(out.get(), times);
    if (::fstat(out.get(), &copied) != 0 || copied.st_size != size) {
        return fail("the copy could not be checked");
    }
    if (::close(out.release()) != 0) {
        ::unlinkat(folder, spare.c_str(), 0);
        reason = std::string("the copy could not be written: ") + std::strerror(errno);
        return false;
    }
    if (renameNoReplace(folder, spare, folder, name) != 0) {
        const int error = errno;
        ::unlinkat(folder, spare.c_str(), 0);
        reason = error == EEXIST
                     ? "a file is in its place already"
                     : std::string("the copy could not be named: ") + std::strerror(error);
        return false;
    }
    return true;
}

}  // namespace cleanup
