// Opening and closing many files with one entry into the kernel, where the kernel allows it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

struct io_uring;

namespace platform {

// Opens files below open folders as openBelow() does (no link followed
// anywhere, a FIFO opened without waiting) and closes descriptors, a batch
// at a time through a submission ring when the kernel offers one, so that a
// batch costs one system call instead of one a file. The ring opens only
// what the kernel can find without waiting for a disk; whatever it does not
// open is left to the caller's openBelow(), which gives the errors and
// their errno as always, one file at a time so that a stop is heard between
// two of them. One per thread: nothing here is shared.
class BatchOpen {
public:
    // The most files a batch holds.
    static constexpr std::size_t kMost = 32;

    BatchOpen();
    ~BatchOpen();
    BatchOpen(const BatchOpen&) = delete;
    BatchOpen& operator=(const BatchOpen&) = delete;

    // Whether batches go through a ring here.
    bool ringed() const { return m_ring != nullptr; }

    // Opens rests[i] below folders[i] for i < count (count <= kMost) into
    // fds[i] where the ring can; -1 where the caller must open the file
    // itself. Without a ring every one is -1.
    void openCached(const int* folders, const std::string* rests, std::size_t count, int* fds);
    // Closes fds[i] for i < count (count <= kMost), skipping negative ones.
    void close(const int* fds, std::size_t count);

    // Whether this process uses rings at all: decided once, on first use,
    // from whether the kernel sets one up and offers what is needed, unless
    // GEMMORA_NO_RING is set in the environment (for tests of the plain
    // calls, and for systems where rings misbehave).
    static bool ringsAllowed();
    // Whether the file system of the open file `fd` opens and closes files
    // without waiting on anything but the kernel's caches and local disks,
    // so that a batch of its files is over as soon as a plain call would be.
    static bool suitsFileSystemOf(int fd);

private:
    void giveUp();

    io_uring* m_ring = nullptr;
    int m_queued[kMost] = {};  // a batch's descriptors, in the order queued
};

}  // namespace platform
