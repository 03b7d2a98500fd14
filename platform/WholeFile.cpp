// Whole files at once: the atomic writer of one or several files and the whole-file reader.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/WholeFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/NoFollowOpen.h"
#include "platform/OutputFile.h"

namespace platform {

bool writeFileAtomically(const std::string& path, const std::string& text)
{
    return writeFilesAtomically({{path, text}});
}

bool writeFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files)
{
    // Every file is written in full beside its place before any takes it,
    // so a full disk or a failed write leaves all the earlier files as
    // they were. Each temporary file is new (O_EXCL) under a name no one
    // can guess, so nobody can plant it beforehand in a shared folder.
    struct Temporary {
        UniqueFd folder;
        std::string name;
        std::string temporary;
    };
    std::vector<Temporary> made;
    bool ok = true;
    for (std::size_t i = 0; i < files.size() && ok; ++i) {
        const std::string& path = files[i].first;
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string(".")
                                   : slash == 0               ? std::string("/")
                                                              : path.substr(0, slash);
        Temporary next;
        next.name = slash == std::string::npos ? path : path.substr(slash + 1);
        next.folder.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!next.folder.ok()) {
            ok = false;
            break;
        }
        const int fd = createTemporaryIn(next.folder.get(), next.name, next.temporary);
        if (fd < 0) {
            ok = false;
            break;
        }
        made.push_back(std::move(next));
        const std::string& text = files[i].second;
        ok = writeAll(fd, text.data(), text.size());
        ok = (::fsync(fd) == 0) && ok;
        ok = (::close(fd) == 0) && ok;
    }
    for (std::size_t i = 0; i < made.size() && ok; ++i) {
        ok = ::renameat(made[i].folder.get(), made[i].temporary.c_str(), made[i].folder.get(),
                        made[i].name.c_str()) == 0;
        if (ok) {
            made[i].temporary.clear();
        }
    }
    if (!ok) {
        const int error = errno;  // the reason, for the caller to show
        for (const Temporary& temporary : made) {
            if (!temporary.temporary.empty()) {
                ::unlinkat(temporary.folder.get(), temporary.temporary.c_str(), 0);
            }
        }
        errno = error;
    }
    return ok;
}

int openWholeFile(const std::string& path, std::uint64_t& size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);  // never wait on a FIFO or a device
        errno = EINVAL;
        return -1;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxWholeFileBytes) {
        // No list or settings file is this large; reading it would only
        // exhaust the memory, at every start.
        ::close(fd);
        errno = EFBIG;
        return -1;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

bool readToEnd(int fd, std::string& contents, bool stopAtZero, std::uint64_t limit)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        const std::size_t size = static_cast<std::size_t>(got);
        const void* zero = stopAtZero ? std::memchr(buffer, '\0', size) : nullptr;
        contents.append(buffer, zero != nullptr ? static_cast<const char*>(zero) - buffer : size);
        if (zero != nullptr) {
            return true;
        }
        if (contents.size() > limit) {
            errno = EFBIG;
            return false;
        }
    }
}

bool readWholeFile(const std::string& path, std::string& contents)
{
    std::uint64_t size = 0;
    const int fd = openWholeFile(path, size);
    if (fd < 0) {
        return false;
    }
    // The size was checked as the file was opened; one that grows while it
    // is read is read to its end.
    std::string result;
    const bool ok = readToEnd(fd, result, false, UINT64_MAX);
    ::close(fd);
    if (ok) {
        contents = std::move(result);
    }
    return ok;
}

}  // namespace platform
