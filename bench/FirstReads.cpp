// Benchmark: the candidate files' first reads by plain system calls against batches in one ring.
// SPDX-License-Identifier: GPL-3.0-or-later
// Walks a tree as the search does (one fstatat an entry), keeps the files
// that share their size with another inode, in the comparison's order (size,
// then inode), and times what the comparison's first step costs each of
// them: an open below the root folder that follows no link, a read of the
// first min(size, 4096) bytes, a status call on the descriptor, a close.
//
//   first_reads MODE ROOT [BATCH] [ROUNDS]
//
// MODE: plain     the four calls one by one
//       ring      opens, reads and closes of BATCH files each in one
//                 submission, the status call a plain fstat
//       ringstat  the same with the status call in the ring too (statx)
//       opens     opens and closes in the ring, the read and status call plain
//       linked    open, read and close linked through direct descriptors,
//                 BATCH files a submission, no status call at all (a floor)
// Prints the CPU time (user, system) of the reading part alone.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <liburing.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include <linux/openat2.h>

namespace {

struct Candidate {
    std::int64_t size;
    ino_t inode;
    std::string rest;  // below the root
};

void walk(int rootFd, const std::string& rest, dev_t device, std::vector<Candidate>& files)
{
    const int fd = ::openat(rootFd, rest.empty() ? "." : rest.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> folders;
    const std::string prefix = rest.empty() ? std::string() : rest + "/";
    while (const dirent* item = ::readdir(dir)) {
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        struct stat st = {};
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode) && st.st_dev == device) {
            folders.push_back(prefix + name);
        } else if (S_ISREG(st.st_mode) && st.st_size > 0) {
            files.push_back({st.st_size, st.st_ino, prefix + name});
        }
    }
    ::closedir(dir);
    for (const std::string& sub : folders) {
        walk(rootFd, sub, device, files);
    }
}

std::vector<Candidate> candidates(int rootFd, dev_t device)
{
    std::vector<Candidate> files;
    walk(rootFd, "", device, files);
    std::sort(files.begin(), files.end(), [](const Candidate& a, const Candidate& b) {
        return a.size != b.size ? a.size < b.size : a.inode < b.inode;
    });
    std::vector<Candidate> kept;
    for (std::size_t i = 0; i < files.size();) {
        std::size_t j = i;
        while (j < files.size() && files[j].size == files[i].size) {
            ++j;
        }
        if (files[i].inode != files[j - 1].inode) {
            for (std::size_t k = i; k < j; ++k) {
                if (k == i || files[k].inode != files[k - 1].inode) {
                    kept.push_back(std::move(files[k]));
                }
            }
        }
        i = j;
    }
    return kept;
}

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;

open_how howToOpen()
{
    open_how how = {};
    how.flags = kOpenFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
    return how;
}

std::size_t headLength(const Candidate& c)
{
    return static_cast<std::size_t>(std::min<std::int64_t>(c.size, 4096));
}

struct Tally {
    std::size_t read = 0;
    std::size_t failed = 0;
    unsigned fold = 0;
};

void plain(int rootFd, const std::vector<Candidate>& files, Tally& tally)
{
    const open_how how = howToOpen();
    static unsigned char buffer[4096];
    for (const Candidate& c : files) {
        const int fd =
            static_cast<int>(::syscall(SYS_openat2, rootFd, c.rest.c_str(), &how, sizeof how));
        if (fd < 0) {
            ++tally.failed;
            continue;
        }
        const ssize_t got = ::pread(fd, buffer, headLength(c), 0);
        struct stat st = {};
        if (got == static_cast<ssize_t>(headLength(c)) && ::fstat(fd, &st) == 0 &&
            st.st_ino == c.inode) {
            ++tally.read;
            tally.fold ^= buffer[0];
        } else {
            ++tally.failed;
        }
        ::close(fd);
    }
}

// Waits for `count` completions and hands each to `take` with its user data.
template <typename Take> void reap(io_uring& ring, unsigned count, Take take)
{
    io_uring_submit_and_wait(&ring, count);
    for (unsigned done = 0; done < count;) {
        io_uring_cqe* cqe = nullptr;
        if (io_uring_wait_cqe(&ring, &cqe) != 0) {
            std::perror("io_uring_wait_cqe");
            std::exit(1);
        }
        take(cqe->user_data, cqe->res);
        io_uring_cqe_seen(&ring, cqe);
        ++done;
    }
}

void ring(int rootFd, const std::vector<Candidate>& files, unsigned batch, bool ringStat,
          bool plainRead, Tally& tally)
{
    io_uring uring;
    if (const int error = io_uring_queue_init(batch * 2, &uring, 0); error < 0) {
        std::fprintf(stderr, "io_uring_queue_init: %s\n", std::strerror(-error));
        std::exit(1);
    }
    open_how how = howToOpen();
    std::vector<unsigned char> buffers(static_cast<std::size_t>(batch) * 4096);
    std::vector<int> fds(batch);
    std::vector<int> got(batch);
    std::vector<struct statx> stats(batch);
    for (std::size_t first = 0; first < files.size(); first += batch) {
        const unsigned n =
            static_cast<unsigned>(std::min<std::size_t>(batch, files.size() - first));
        for (unsigned i = 0; i < n; ++i) {
            io_uring_sqe* sqe = io_uring_get_sqe(&uring);
            io_uring_prep_openat2(sqe, rootFd, files[first + i].rest.c_str(), &how);
            sqe->user_data = i;
        }
        reap(uring, n, [&](std::uint64_t i, int res) { fds[i] = res; });
        unsigned asked = 0;
        for (unsigned i = 0; i < n; ++i) {
            got[i] = -1;
            if (fds[i] < 0) {
                continue;
            }
            if (plainRead) {
                got[i] = static_cast<int>(
                    ::pread(fds[i], buffers.data() + i * 4096, headLength(files[first + i]), 0));
                continue;
            }
            io_uring_sqe* sqe = io_uring_get_sqe(&uring);
            io_uring_prep_read(sqe, fds[i], buffers.data() + i * 4096,
                               static_cast<unsigned>(headLength(files[first + i])), 0);
            sqe->user_data = i;
            ++asked;
            if (ringStat) {
                sqe->flags |= IOSQE_IO_LINK;
                sqe = io_uring_get_sqe(&uring);
                io_uring_prep_statx(sqe, fds[i], "", AT_EMPTY_PATH, STATX_BASIC_STATS, &stats[i]);
                sqe->user_data = batch + i;
                ++asked;
            }
        }
        if (asked > 0)
            reap(uring, asked, [&](std::uint64_t i, int res) {
                if (i < batch) {
                    got[i] = res;
                }
            });
        unsigned closes = 0;
        for (unsigned i = 0; i < n; ++i) {
            const Candidate& c = files[first + i];
            if (fds[i] < 0) {
                ++tally.failed;
                continue;
            }
            bool same;
            if (ringStat) {
                same = stats[i].stx_ino == c.inode;
            } else {
                struct stat st = {};
                same = ::fstat(fds[i], &st) == 0 && st.st_ino == c.inode;
            }
            if (got[i] == static_cast<int>(headLength(c)) && same) {
                ++tally.read;
                tally.fold ^= buffers[i * 4096];
            } else {
                ++tally.failed;
            }
            io_uring_sqe* sqe = io_uring_get_sqe(&uring);
            io_uring_prep_close(sqe, fds[i]);
            sqe->user_data = i;
            ++closes;
        }
        reap(uring, closes, [](std::uint64_t, int) {});
    }
    io_uring_queue_exit(&uring);
}

void linked(int rootFd, const std::vector<Candidate>& files, unsigned batch, Tally& tally)
{
    io_uring uring;
    if (const int error = io_uring_queue_init(batch * 4, &uring, 0); error < 0) {
        std::fprintf(stderr, "io_uring_queue_init: %s\n", std::strerror(-error));
        std::exit(1);
    }
    if (const int error = io_uring_register_files_sparse(&uring, batch); error < 0) {
        std::fprintf(stderr, "io_uring_register_files_sparse: %s\n", std::strerror(-error));
        std::exit(1);
    }
    open_how how = howToOpen();
    how.flags &= ~static_cast<std::uint64_t>(O_CLOEXEC);  // refused for a direct descriptor
    std::vector<unsigned char> buffers(static_cast<std::size_t>(batch) * 4096);
    std::vector<int> got(batch);
    for (std::size_t first = 0; first < files.size(); first += batch) {
        const unsigned n =
            static_cast<unsigned>(std::min<std::size_t>(batch, files.size() - first));
        for (unsigned i = 0; i < n; ++i) {
            io_uring_sqe* sqe = io_uring_get_sqe(&uring);
            io_uring_prep_openat2_direct(sqe, rootFd, files[first + i].rest.c_str(), &how, i);
            sqe->flags |= IOSQE_IO_LINK;
            sqe->user_data = 3 * i;
            sqe = io_uring_get_sqe(&uring);
            io_uring_prep_read(sqe, static_cast<int>(i), buffers.data() + i * 4096,
                               static_cast<unsigned>(headLength(files[first + i])), 0);
            sqe->flags |= IOSQE_FIXED_FILE | IOSQE_IO_LINK;
            sqe->user_data = 3 * i + 1;
            sqe = io_uring_get_sqe(&uring);
            io_uring_prep_close_direct(sqe, i);
            sqe->user_data = 3 * i + 2;
        }
        reap(uring, 3 * n, [&](std::uint64_t data, int res) {
            if (data % 3 == 1) {
                got[data / 3] = res;
            }
        });
        for (unsigned i = 0; i < n; ++i) {
            if (got[i] == static_cast<int>(headLength(files[first + i]))) {
                ++tally.read;
                tally.fold ^= buffers[i * 4096];
            } else {
                ++tally.failed;
            }
        }
    }
    io_uring_queue_exit(&uring);
}

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s plain|ring|ringstat|linked ROOT [BATCH] [ROUNDS]\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const unsigned batch = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 64;
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 1;
    const int rootFd = ::open(argv[2], O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat root = {};
    if (rootFd < 0 || ::fstat(rootFd, &root) != 0 || batch == 0) {
        std::perror(argv[2]);
        return 1;
    }
    const std::vector<Candidate> files = candidates(rootFd, root.st_dev);
    for (int round = 0; round < rounds; ++round) {
        rusage before = {};
        rusage after = {};
        ::getrusage(RUSAGE_SELF, &before);
        Tally tally;
        if (mode == "plain") {
            plain(rootFd, files, tally);
        } else if (mode == "ring" || mode == "ringstat" || mode == "opens") {
            ring(rootFd, files, batch, mode == "ringstat", mode == "opens", tally);
        } else if (mode == "linked") {
            linked(rootFd, files, batch, tally);
        } else {
            std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
            return 2;
        }
        ::getrusage(RUSAGE_SELF, &after);
        const double user = seconds(after.ru_utime) - seconds(before.ru_utime);
        const double system = seconds(after.ru_stime) - seconds(before.ru_stime);
        std::printf("%s batch %u: %zu read, %zu failed, user %.3f s, system %.3f s, %.2f us a "
                    "file (%u)\n",
                    mode.c_str(), batch, tally.read, tally.failed, user, system,
                    (user + system) * 1e6 /
                        static_cast<double>(std::max<std::size_t>(1, files.size())),
                    tally.fold);
    }
    return 0;
}
