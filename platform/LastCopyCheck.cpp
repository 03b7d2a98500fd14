// Whether deleting a file would take the last copy of its contents.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/LastCopyCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileContents.h"
#include "platform/NoFollowOpen.h"

namespace platform {

namespace {

// Candidates held open at a time, so a large group cannot use up the
// process's descriptors; the file is read once per batch.
constexpr std::size_t kBatch = 64;

// The stamp of the regular file at `path`, without following a link as its
// last part. False when there is none.
bool stampAt(const std::string& path, FileStamp& stamp)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    stamp = stampFrom(st);
    return true;
}

enum class Opened { File, Missing, Unreadable };

// Opens a regular file for reading without following a link as its last
// part, and without waiting should a FIFO have taken its place.
Opened openFile(const std::string& path, UniqueFd& fd, FileStamp& stamp)
{
    fd.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.ok()) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR || error == ELOOP) {
            return Opened::Missing;  // gone, or a link now: no file of the group there
        }
        return stampAt(path, stamp) ? Opened::Unreadable : Opened::Missing;
    }
    struct stat st = {};
    if (::fstat(fd.get(), &st) != 0) {
        return Opened::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        fd.reset();
        return Opened::Missing;
    }
    stamp = stampFrom(st);
    return Opened::File;
}

bool unchanged(const UniqueFd& fd, const FileStamp& stamp)
{
    struct stat st = {};
    return ::fstat(fd.get(), &st) == 0 && stampFrom(st) == stamp;
}

// Exactly `length` bytes at `offset`, or false.
bool readAt(int fd, std::int64_t offset, std::size_t length, unsigned char* out)
{
    while (length > 0) {
        const ssize_t got = ::pread(fd, out, length, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        out += got;
        offset += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

struct Candidate {
    std::string path;
    UniqueFd fd;
    FileStamp stamp;
    bool live = true;
};

// Compares the file with up to kBatch candidates of its size. The index of
// the first candidate equal to the end and unchanged meanwhile, or -1;
// `stopped` when the stop was heard first.
int compareBatch(const UniqueFd& file, const FileStamp& fileStamp,
                 std::vector<Candidate>& candidates, LastCopyProgress& progress,
                 std::vector<std::string>& unreadable, bool& stopped)
{
    const std::int64_t size = fileStamp.size;
    if (size > static_cast<std::int64_t>(kCompareChunk)) {
        ::posix_fadvise(file.get(), 0, size, POSIX_FADV_SEQUENTIAL);
        for (Candidate& candidate : candidates) {
            ::posix_fadvise(candidate.fd.get(), 0, size, POSIX_FADV_SEQUENTIAL);
        }
    }
    const std::size_t chunk =
        static_cast<std::size_t>(std::clamp<std::int64_t>(size, 1, kCompareChunk));
    std::unique_ptr<unsigned char[]> mine(new unsigned char[chunk]);
    std::unique_ptr<unsigned char[]> theirs(new unsigned char[chunk]);
    std::size_t live = candidates.size();
    progress.bytesTotal = size;
    for (std::int64_t offset = 0; offset < size && live > 0;) {
        if (progress.stop) {
            stopped = true;
            return -1;
        }
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::int64_t>(chunk, size - offset));
        if (!readAt(file.get(), offset, length, mine.get())) {
            return -1;  // the file shrank or failed: nothing is confirmed
        }
        for (Candidate& candidate : candidates) {
            if (!candidate.live) {
                continue;
            }
            if (progress.stop) {
                stopped = true;
                return -1;
            }
            const bool read = readAt(candidate.fd.get(), offset, length, theirs.get());
            if (!read || std::memcmp(mine.get(), theirs.get(), length) != 0) {
                candidate.live = false;
                --live;
                if (!read) {
                    unreadable.push_back(candidate.path);
                }
            }
        }
        offset += static_cast<std::int64_t>(length);
        progress.bytesCompared = offset;
    }
    // Bytes read at different moments prove nothing about a file that was
    // written meanwhile.
    if (!unchanged(file, fileStamp)) {
        return -1;
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].live && unchanged(candidates[i].fd, candidates[i].stamp)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

LastCopyAnswer checkLastCopy(const LastCopyQuery& query, LastCopyProgress& progress)
{
    LastCopyAnswer answer;
    UniqueFd file;
    const Opened opened = openFile(query.path, file, answer.fileStamp);
    answer.fileRead = opened == Opened::File;
    if (opened == Opened::Unreadable) {
        stampAt(query.path, answer.fileStamp);
    }
    const bool known = opened != Opened::Missing;

    bool othersExist = false;
    std::vector<std::string> sameSize;
    std::vector<FileStamp> seen;  // distinct files met, so hard links are read once
    for (const std::string& other : query.others) {
        if (progress.stop) {
            answer.cancelled = true;
            return answer;
        }
        FileStamp stamp;
        UniqueFd probe;
        const Opened state = other == query.path ? Opened::Missing : openFile(other, probe, stamp);
        if (other == query.path ||
            (known && state != Opened::Missing && stamp.sameFile(answer.fileStamp))) {
            answer.aliases.push_back(other);
            continue;
        }
        if (state == Opened::Missing) {
            continue;
        }
        othersExist = true;
        if (state == Opened::Unreadable) {
            answer.unreadable.push_back(other);
            continue;
        }
        const bool repeat = std::any_of(seen.begin(), seen.end(), [&](const FileStamp& earlier) {
            return earlier.sameFile(stamp);
        });
        seen.push_back(stamp);
        if (!repeat && answer.fileRead && stamp.size == answer.fileStamp.size) {
            sameSize.push_back(other);
        }
    }

    answer.lastCopy = !othersExist && query.byName ? LastCopy::Name : LastCopy::Contents;
    for (std::size_t begin = 0; begin < sameSize.size(); begin += kBatch) {
        std::vector<Candidate> candidates;
        for (std::size_t i = begin; i < std::min(sameSize.size(), begin + kBatch); ++i) {
            Candidate candidate;
            candidate.path = sameSize[i];
            // Opened again: the file at the path may have changed since.
            const Opened state = openFile(candidate.path, candidate.fd, candidate.stamp);
            if (state == Opened::Unreadable) {
                answer.unreadable.push_back(candidate.path);
            }
            if (state == Opened::File && !candidate.stamp.sameFile(answer.fileStamp) &&
                candidate.stamp.size == answer.fileStamp.size) {
                candidates.push_back(std::move(candidate));
            }
        }
        bool stopped = false;
        const int equal =
            compareBatch(file, answer.fileStamp, candidates, progress, answer.unreadable, stopped);
        if (stopped) {
            answer.cancelled = true;
            return answer;
        }
        if (equal >= 0) {
            const Candidate& copy = candidates[static_cast<std::size_t>(equal)];
            answer.lastCopy = LastCopy::No;
            answer.copy = copy.path;
            answer.copyStamp = copy.stamp;
            return answer;
        }
    }
    return answer;
}

bool answerStillHolds(const LastCopyQuery& query, const LastCopyAnswer& answer)
{
    FileStamp now;
    if (!stampAt(query.path, now)) {
        return false;
    }
    // A file found at the path when it was checked must be the same one.
    const bool found = answer.fileStamp.inode != 0;
    if (found && !(now == answer.fileStamp)) {
        return false;
    }
    if (answer.lastCopy != LastCopy::No) {
        return true;
    }
    FileStamp copy;
    return stampAt(answer.copy, copy) && copy == answer.copyStamp && !copy.sameFile(now);
}

}  // namespace platform
