// Copies a file for a move to another file system, flushed and read back before it counts.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Copy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "cleanup/Rename.h"
#include "platform/FileContents.h"
#include "platform/NoFollowOpen.h"
#include "text/Text.h"

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
    // The owner first, as a change of owner drops file capabilities; then
    // the attributes (the ACL among them), then the mode, which agrees with
    // the ACL as it does on the source.
    mode_t mode = fromState.st_mode & 07777;
    if (::fchown(out.get(), fromState.st_uid, fromState.st_gid) != 0) {
        mode &= 0777;  // no set-id bits for another owner
    }
    std::string lost;
    if (!copyExtendedAttributes(from, out.get(), lost)) {
        return fail(lost);
    }
    ::fchmod(out.get(), mode);
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

namespace {

// The label the system gives each new file by its own rules.
constexpr const char* kSecurityLabel = "security.selinux";

// The names of a file's extended attributes; false with errno set when they
// cannot be listed. A file system without them has none.
bool attributeNames(int fd, std::set<std::string>& names)
{
    names.clear();
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            return errno == ENOTSUP;
        }
        std::string list(static_cast<std::size_t>(size), '\0');
        const ssize_t got = ::flistxattr(fd, list.data(), list.size());
        if (got < 0 && errno == ERANGE) {
            continue;  // one was added meanwhile
        }
        if (got < 0) {
            return false;
        }
        for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
            const std::string name(list.c_str() + at);
            at += name.size() + 1;
            if (!name.empty() && name != kSecurityLabel) {
                names.insert(name);
            }
        }
        return true;
    }
}

bool attributeValue(int fd, const std::string& name, std::string& value)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0) {
            return false;
        }
        value.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        value.resize(static_cast<std::size_t>(got));
        return true;
    }
}

}  // namespace

bool copyExtendedAttributes(int from, int to, std::string& reason)
{
    std::set<std::string> wanted;
    std::set<std::string> present;
    if (!attributeNames(from, wanted)) {
        reason = std::string("its extended attributes cannot be read: ") + std::strerror(errno);
        return false;
    }
    if (!attributeNames(to, present)) {
        present.clear();
    }
    for (const std::string& name : present) {
        if (wanted.count(name) == 0 && ::fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) {
            reason = "the extended attribute " + name + " the copy was given cannot be removed: " +
                     std::strerror(errno);
            return false;
        }
    }
    std::string value;
    for (const std::string& name : wanted) {
        if (!attributeValue(from, name, value)) {
            reason = "its extended attribute " + name + " cannot be read: " + std::strerror(errno);
            return false;
        }
        if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
            reason = "its extended attribute " + name +
                     (name.rfind("system.posix_acl", 0) == 0 ? " (its ACL)" : "") +
                     " cannot be kept on the other file system: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool makeFolderLike(int parent, const std::string& name, const std::string& model,
                    std::string& reason)
{
    if (::mkdirat(parent, name.c_str(), model.empty() ? 0777 : 0700) != 0) {
        if (errno == EEXIST) {
            return true;
        }
        reason = std::string(std::strerror(errno));
        return false;
    }
    if (model.empty()) {
        return true;
    }
    platform::UniqueFd made(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    platform::UniqueFd original(
        ::open(model.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st = {};
    if (!made.ok() || !original.ok() || ::fstat(original.get(), &st) != 0) {
        return true;  // it stays closed to everyone else
    }
    mode_t mode = st.st_mode & 07777;
    if (::fchown(made.get(), st.st_uid, st.st_gid) != 0) {
        mode &= 0777;  // no set-id bits for another owner
    }
    std::string ignored;
    copyExtendedAttributes(original.get(), made.get(), ignored);
    ::fchmod(made.get(), mode);
    return true;
}

FolderStop descendMakingFoldersLike(platform::UniqueFd& folder, const std::string& relative,
                                    std::string modelBase, std::string& stoppedAt,
                                    std::string& reason)
{
    std::size_t begin = 0;
    while (begin < relative.size()) {
        const std::size_t end = std::min(relative.find('/', begin), relative.size());
        const std::string part = relative.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty()) {
            continue;
        }
        if (!modelBase.empty()) {
            modelBase += part + "/";
        }
        stoppedAt = part;
        if (!makeFolderLike(folder.get(), part, modelBase, reason)) {
            return FolderStop::NotMade;
        }
        platform::UniqueFd inner(
            ::openat(folder.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.ok()) {
            return FolderStop::InTheWay;
        }
        folder = std::move(inner);
    }
    return FolderStop::None;
}

bool openOrMakeFoldersLike(const std::string& folder, const std::string& relative,
                           const std::string& modelBase, platform::UniqueFd& opened,
                           std::string& reason)
{
    opened.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.ok()) {
        reason = "the folder " + text::displayName(folder) +
                 " cannot be opened: " + std::strerror(errno);
        return false;
    }
    std::string part;
    std::string why;
    switch (descendMakingFoldersLike(opened, relative, modelBase, part, why)) {
    case FolderStop::None:
        return true;
    case FolderStop::NotMade:
        reason = "the folder " + text::displayName(part) + " cannot be made: " + why;
        return false;
    case FolderStop::InTheWay:
        reason = "something that is no folder is in the way at " + text::displayName(part);
        return false;
    }
    return false;
}

}  // namespace cleanup
