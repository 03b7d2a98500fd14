// Reader threads that read files in the order of their place on the disk.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace search {

// One piece of reading for a reader thread.
class ReadWork {
public:
    virtual ~ReadWork() = default;
    // Runs on reader `reader`. True when it was the last piece of a batch
    // that the window's thread waits for.
    virtual bool read(unsigned reader) = 0;
    // Reads `count` pieces taken together, this one first; all work of one
    // pool is of one kind, so a kind may open or close their files
    // together. Stops before a piece, leaving the rest unread, once
    // `cancelled` is set. Returns how many were the last of their batch.
    // By default each piece is read in turn.
    virtual std::size_t readSlice(ReadWork* const* pieces, std::size_t count, unsigned reader,
                                  const std::atomic<bool>& cancelled);
    // Where its data lies on the disk: readers take work in rising order of
    // place and sweep round again, as a disk's arm would.
    std::uint64_t place = 0;
};

// Reader threads for the comparison. The window's thread hands out work and
// goes on turning its event loop while the readers do it, so it never waits
// on a disk and a stop is heard at once. Readers touch only their work;
// they never call the window.
class ReaderPool {
public:
    // The longest the window's thread waits for readers before it turns its
    // event loop again.
    static constexpr std::chrono::milliseconds kTurnEvery{10};

    // Up to `readers` threads at idle I/O priority, of which `active` start
    // now and the rest when setActive() asks for them. With none (0, or when
    // no thread can be started) waitForBatch() does the work itself.
    ReaderPool(unsigned readers, unsigned active);
    // Drops the work not begun and waits for the rest.
    ~ReaderPool();
    ReaderPool(const ReaderPool&) = delete;
    ReaderPool& operator=(const ReaderPool&) = delete;

    // The most threads there may be; work sees reader numbers below
    // max(1, this).
    unsigned readers() const { return m_most; }

    // How many readers take work, starting threads as needed. Reads from the
    // page cache keep a core busy each, so as many readers as cores do them
    // best; a disk that has to be waited on wants all of them.
    void setActive(unsigned readers);

    // The pieces stay the caller's; each must live until it was read or
    // cancel() returned.
    void submit(const std::vector<ReadWork*>& work);
    // Waits until a batch ended since the last call while little work is
    // left queued, or all work ended, or `timeout` passed; true when a batch
    // ended. Throws what a piece of work threw.
    bool waitForBatch(std::chrono::milliseconds timeout);
    // Drops the work not begun; returns once the begun pieces ended.
    void cancel();
    // Pieces queued or being read.
    std::size_t outstanding();

private:
    void readerLoop(unsigned reader);
    bool shouldWakeCaller() const;
    std::size_t queued() const { return m_ahead.size() + m_behind.size(); }
    void clearQueue();
    void wakeReaders(std::size_t pieces);
    // The next piece in sweep order, taken off the queue; the lock is held.
    ReadWork* next();

    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    // One per reader: a reader left idle by setActive() is never woken.
    std::deque<std::condition_variable> m_wake;
    std::condition_variable m_ended;
    // The sweep: work at or after the arm's place, and work it has passed,
    // both heaps with the nearest place on top. Taking work allocates and
    // frees nothing, so a reader needs no heap of its own.
    using Queued = std::pair<std::uint64_t, ReadWork*>;
    std::vector<Queued> m_ahead;
    std::vector<Queued> m_behind;
    std::uint64_t m_sweep = 0;
    std::size_t m_running = 0;
    std::size_t m_batches = 0;  // ended since the last waitForBatch
    std::size_t m_lowWater = 0;
    bool m_quit = false;
    unsigned m_most = 0;
    unsigned m_active = 0;
    std::atomic<bool> m_cancelled{false};
    std::exception_ptr m_error;
};

}  // namespace search
