// A file the user named for output, replaced whole only once its text is complete.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OutputFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <random>
#include <sys/random.h>
#include <unistd.h>

namespace platform {

namespace {

void randomLetters(char* out, std::size_t count)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[64] = {};
    count = std::min(count, sizeof bytes);
    if (::getrandom(bytes, count, 0) != static_cast<ssize_t>(count)) {
        std::random_device device;
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = static_cast<unsigned char>(device());
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = kLetters[bytes[i] % (sizeof kLetters - 1)];
    }
}

// The folder part of a path ("." for a bare name, "/" for a name at the
// root) and the name after the last '/'.
void splitPath(const std::string& path, std::string& folder, std::string& name)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? std::string("/") : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// Where an open file really is, links resolved; "" when unknown.
std::string pathOfOpenFile(int fd)
{
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size() || buffer[0] != '/') {
        return "";
    }
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

}  // namespace

int createTemporaryIn(int folder, std::string_view base, std::string& name)
{
    // Room for the random part within the longest name a folder allows.
    std::string stem = ".";
    stem.append(base.substr(0, std::min<std::size_t>(base.size(), 200)));
    stem += ".tmp-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        char letters[12];
        randomLetters(letters, sizeof letters);
        name = stem + std::string(letters, sizeof letters);
        const int fd = ::openat(folder, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

OutputFile::~OutputFile()
{
    removeTemporary();
}

void OutputFile::removeTemporary() noexcept
{
    if (m_armed != 0) {
        ::unlinkat(m_folder.get(), m_temporary, 0);
        m_armed = 0;
    }
}

namespace {

// Holds back every signal that can be held while the temporary file comes
// and goes, so that a handler never meets a file that exists but is not yet
// known (or the other way round).
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &m_saved);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t m_saved;
};

}  // namespace

bool OutputFile::startTemporary(const std::string& folder, const std::string& name)
{
    UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.ok()) {
        return false;
    }
    const SignalsHeld held;
    std::string temporary;
    UniqueFd fd(createTemporaryIn(dir.get(), name, temporary));
    if (!fd.ok()) {
        return false;
    }
    m_folder = std::move(dir);
    m_name = name;
    std::memcpy(m_temporary, temporary.c_str(), temporary.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    m_armed = 1;
    m_fd = std::move(fd);
    return true;
}

bool OutputFile::open(const std::string& path)
{
    // Neither created nor emptied yet: first see what the name stands for.
    // O_NONBLOCK keeps a FIFO that nobody reads yet from holding us here.
    int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENXIO) {
        // A FIFO without a reader: wait for one, as a shell's redirection does.
        fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    if (fd < 0) {
        return errno == ENOENT && openNew(path);
    }
    m_fd.reset(fd);
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        m_regular = true;
        if (openReplacement(st)) {
            return true;
        }
        return ::ftruncate(m_fd.get(), 0) == 0;
    }
    // A FIFO, a terminal, /dev/null: written in place, waiting as it needs.
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool OutputFile::openNew(const std::string& path)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // A link to a file not made yet: made where the link points.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) {
            return false;
        }
        m_fd.reset(fd);
        m_regular = true;
        return ::fstat(fd, &st) == 0 && (!S_ISREG(st.st_mode) || ::ftruncate(fd, 0) == 0);
    }
    std::string folder;
    std::string name;
    splitPath(path, folder, name);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return false;
    }
    m_regular = true;
    return startTemporary(folder, name);
}

bool OutputFile::openReplacement(const struct stat& old)
{
    // Other names of the file would keep the old text.
    if (old.st_nlink != 1) {
        return false;
    }
    const std::string real = pathOfOpenFile(m_fd.get());
    if (real.empty()) {
        return false;
    }
    std::string folder;
    std::string name;
    splitPath(real, folder, name);
    UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat there = {};
    struct stat folderStat = {};
    if (!dir.ok() || ::fstatat(dir.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
        there.st_dev != old.st_dev || there.st_ino != old.st_ino ||
        ::fstat(dir.get(), &folderStat) != 0) {
        return false;
    }
    // In a shared folder with the sticky bit only the owner of the file or
    // of the folder may rename over it.
    const uid_t me = ::geteuid();
    if ((folderStat.st_mode & S_ISVTX) != 0 && me != 0 && me != old.st_uid &&
        me != folderStat.st_uid) {
        return false;
    }
    UniqueFd original = std::move(m_fd);
    if (!startTemporary(folder, name)) {
        m_fd = std::move(original);
        return false;
    }
    struct stat made = {};
    bool kept = ::fstat(m_fd.get(), &made) == 0;
    if (kept && (made.st_uid != old.st_uid || made.st_gid != old.st_gid)) {
        kept = ::fchown(m_fd.get(), old.st_uid, old.st_gid) == 0;
    }
    // After the owner: a change of owner clears the set-user-ID bits.
    kept = kept && ::fchmod(m_fd.get(), old.st_mode & 07777) == 0;
    if (!kept) {
        removeTemporary();
        m_fd = std::move(original);
        return false;
    }
    return true;
}

bool OutputFile::write(std::string_view text)
{
    if (!m_fd.ok()) {
        errno = EBADF;
        return false;
    }
    if (m_writeError == 0 && !writeAll(m_fd.get(), text.data(), text.size())) {
        m_writeError = errno;
    }
    errno = m_writeError;
    return m_writeError == 0;
}

bool OutputFile::commit()
{
    if (m_writeError != 0) {
        m_fd.reset();
        removeTemporary();
        errno = m_writeError;
        return false;
    }
    bool ok = m_fd.ok();
    if (!ok) {
        errno = EBADF;
    }
    // A FIFO or a device has nothing to flush (and refuses fsync).
    if (ok && m_regular) {
        ok = ::fsync(m_fd.get()) == 0;
    }
    // The last write error of a network file system may only come now.
    if (m_fd.ok() && ::close(m_fd.release()) != 0) {
        ok = false;
    }
    if (ok && m_armed != 0) {
        const SignalsHeld held;
        ok = ::renameat(m_folder.get(), m_temporary, m_folder.get(), m_name.c_str()) == 0;
        if (ok) {
            m_armed = 0;
        }
    }
    if (!ok) {
        const int error = errno;
        removeTemporary();
        errno = error;
    }
    return ok;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace platform
