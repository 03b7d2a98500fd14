// Opening and closing many files with one entry into the kernel, where the kernel allows it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/BatchOpen.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <liburing.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <linux/openat2.h>

namespace platform {

namespace {

// What openBelow() asks of the kernel, and one thing more: the ring answers
// only from what the kernel has cached, so it never waits on a disk and
// never hands a file to the kernel's own threads.
const open_how kHow = [] {
    open_how how = {};
    how.flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_CACHED;
    return how;
}();

// A ring that goes on past an entry it refuses, so that every entry is
// answered.
bool setUp(io_uring& ring)
{
    return io_uring_queue_init(BatchOpen::kMost, &ring, IORING_SETUP_SUBMIT_ALL) == 0;
}

bool offersWhatIsNeeded(io_uring& ring)
{
    io_uring_probe* probe = io_uring_get_probe_ring(&ring);
    if (probe == nullptr) {
        return false;
    }
    const bool offered = io_uring_opcode_supported(probe, IORING_OP_OPENAT2) &&
                         io_uring_opcode_supported(probe, IORING_OP_CLOSE);
    io_uring_free_probe(probe);
    return offered;
}

bool decideRings()
{
    if (std::getenv("GEMMORA_NO_RING") != nullptr) {
        return false;
    }
    // Refused by a seccomp filter, a kernel without rings, or the system's
    // setting (EPERM, ENOSYS): the plain calls it is, for the whole run.
    io_uring ring;
    if (!setUp(ring)) {
        return false;
    }
    const bool offered = offersWhatIsNeeded(ring);
    io_uring_queue_exit(&ring);
    return offered;
}

// Paths the plain call treats specially (a ".." anywhere, a leading slash,
// nothing at all) are left to it.
bool plainOnly(const std::string& rest)
{
    return rest.empty() || rest.front() == '/' || rest.find("..") != std::string::npos;
}

// Hands in what was queued and takes an answer, to `answer`, for each entry
// the kernel took. How many it took, the first ones queued (0 when the
// submission failed); `answered`: whether every answer of those came back.
template <typename Answer>
unsigned submitAndTake(io_uring& ring, unsigned count, Answer answer, bool& answered)
{
    answered = false;
    int submitted;
    do {
        submitted = io_uring_submit_and_wait(&ring, count);
    } while (submitted == -EINTR);
    if (submitted <= 0) {
        return 0;
    }
    const unsigned taken = std::min(static_cast<unsigned>(submitted), count);
    for (unsigned i = 0; i < taken; ++i) {
        io_uring_cqe* cqe = nullptr;
        int error;
        do {
            error = io_uring_wait_cqe(&ring, &cqe);
        } while (error == -EINTR);
        if (error != 0) {
            return taken;
        }
        answer(cqe->user_data, cqe->res);
        io_uring_cqe_seen(&ring, cqe);
    }
    answered = true;
    return taken;
}

// File systems whose open and close are the kernel's own work on local
// data. Another's (a network's, a user-space daemon's) may wait on each
// file inside one submission, where no stop is heard: those keep the plain
// calls.
bool localKind(long kind)
{
    switch (static_cast<unsigned long>(kind) & 0xFFFFFFFFul) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0xCA451A4E:  // bcachefs
    case 0x3153464A:  // jfs
    case 0x52654973:  // reiserfs
    case 0x4D44:      // vfat
    case 0x2011BAB0:  // exfat
    case 0x7366746E:  // ntfs3
    case 0x9660:      // iso9660
    case 0x73717368:  // squashfs
    case 0x15013346:  // udf
        return true;
    default:
        return false;
    }
}

}  // namespace

bool BatchOpen::suitsFileSystemOf(int fd)
{
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && localKind(fs.f_type);
}

bool BatchOpen::ringsAllowed()
{
    static const bool allowed = decideRings();
    return allowed;
}

BatchOpen::BatchOpen()
{
    if (!ringsAllowed()) {
        return;
    }
    m_ring = new io_uring;
    if (!setUp(*m_ring)) {
        delete m_ring;
        m_ring = nullptr;
    }
}

BatchOpen::~BatchOpen()
{
    if (m_ring != nullptr) {
        giveUp();
    }
}

void BatchOpen::openCached(const int* folders, const std::string* rests, std::size_t count,
                           int* fds)
{
    unsigned queued = 0;
    for (std::size_t i = 0; i < count; ++i) {
        fds[i] = -1;
        if (m_ring != nullptr && folders[i] >= 0 && !plainOnly(rests[i])) {
            io_uring_sqe* sqe = io_uring_get_sqe(m_ring);
            io_uring_prep_openat2(sqe, folders[i], rests[i].c_str(), const_cast<open_how*>(&kHow));
            io_uring_sqe_set_data64(sqe, i);
            ++queued;
        }
    }
    // Entries the kernel did not take open nothing: those files stay -1.
    bool answered = true;
    if (queued > 0 &&
        submitAndTake(*m_ring, queued, [fds](std::uint64_t i, int result) { fds[i] = result; },
                      answered) != queued) {
        answered = false;
    }
    if (!answered) {
        giveUp();
    }
    for (std::size_t i = 0; i < count; ++i) {
        fds[i] = std::max(fds[i], -1);
    }
}

void BatchOpen::close(const int* fds, std::size_t count)
{
    unsigned queued = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (fds[i] < 0) {
            continue;
        }
        if (m_ring == nullptr) {
            ::close(fds[i]);
            continue;
        }
        io_uring_sqe* sqe = io_uring_get_sqe(m_ring);
        io_uring_prep_close(sqe, fds[i]);
        io_uring_sqe_set_data64(sqe, i);
        m_queued[queued++] = fds[i];
    }
    if (queued == 0) {
        return;
    }
    bool answered = false;
    const unsigned taken = submitAndTake(*m_ring, queued, [](std::uint64_t, int) {}, answered);
    if (taken == queued && answered) {
        return;
    }
    // The kernel takes entries in the order queued: those after the ones
    // it took were never closed, and are closed here. Nothing it took is
    // closed again: a descriptor closed once may already be another
    // thread's.
    for (unsigned i = taken; i < queued; ++i) {
        ::close(m_queued[i]);
    }
    giveUp();
}

void BatchOpen::giveUp()
{
    // A ring that fails as a whole is not trusted again: the plain calls
    // from here on.
    io_uring_queue_exit(m_ring);
    delete m_ring;
    m_ring = nullptr;
}

}  // namespace platform
