// Reader threads that read files in the order of their place on the disk.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/ReaderPool.h"

#include <algorithm>
#include <array>
#include <system_error>

#include "platform/HelperThread.h"
#include "platform/IoPriority.h"

namespace search {

namespace {

// Enough neighbours at once for their opens and closes to be batched.
constexpr std::size_t kSlice = 32;

}  // namespace

std::size_t ReadWork::readSlice(ReadWork* const* pieces, std::size_t count, unsigned reader,
                                const std::atomic<bool>& cancelled)
{
    std::size_t ended = 0;
    for (std::size_t i = 0; i < count && !cancelled; ++i) {
        ended += pieces[i]->read(reader) ? 1 : 0;
    }
    return ended;
}

ReaderPool::ReaderPool(unsigned readers, unsigned active) : m_most(readers)
{
    m_wake.resize(readers);
    setActive(active);
}

ReaderPool::~ReaderPool()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        clearQueue();
        m_quit = true;
    }
    for (std::condition_variable& wake : m_wake) {
        wake.notify_all();
    }
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

namespace {

// Nearest place on top.
bool fartherPlace(const std::pair<std::uint64_t, ReadWork*>& a,
                  const std::pair<std::uint64_t, ReadWork*>& b)
{
    return a.first > b.first;
}

}  // namespace

ReadWork* ReaderPool::next()
{
    if (m_ahead.empty()) {
        m_ahead.swap(m_behind);  // round again from the start of the disk
    }
    if (m_ahead.empty()) {
        return nullptr;
    }
    std::pop_heap(m_ahead.begin(), m_ahead.end(), fartherPlace);
    const Queued taken = m_ahead.back();
    m_ahead.pop_back();
    m_sweep = taken.first;
    return taken.second;
}

void ReaderPool::clearQueue()
{
    m_ahead.clear();
    m_behind.clear();
}

bool ReaderPool::shouldWakeCaller() const
{
    // While plenty of work is queued the caller may sleep on: what ended
    // waits for it, and waking it for every batch would cost more than the
    // batch. It is needed when the queue runs low, to hand out more.
    return m_error || (m_running == 0 && queued() == 0) ||
           (m_batches > 0 && queued() <= m_lowWater);
}

void ReaderPool::readerLoop(unsigned reader)
{
    // Reading thousands of files must not slow down what the user is doing.
    const platform::IdleIoPriority idle;
    // Nothing here allocates: a thread that never calls malloc gets no heap
    // of its own.
    std::array<ReadWork*, kSlice> slice{};
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake[reader].wait(
            lock, [this, reader] { return m_quit || (queued() > 0 && reader < m_active); });
        if (m_quit) {
            return;
        }
        // A few neighbours at once: fewer trips through the lock, and they
        // lie next to each other on the disk. Fewer when little is queued,
        // so that every reader gets some.
        const std::size_t take =
            std::clamp<std::size_t>(queued() / (2 * std::max(1u, m_active)), 1, kSlice);
        std::size_t count = 0;
        while (count < take) {
            ReadWork* work = next();
            if (work == nullptr) {
                break;
            }
            slice[count++] = work;
        }
        ++m_running;
        lock.unlock();
        std::size_t ended = 0;
        std::exception_ptr error;
        try {
            // A stop leaves the rest of the slice unread.
            ended = count > 0 ? slice[0]->readSlice(slice.data(), count, reader, m_cancelled) : 0;
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        --m_running;
        if (error) {
            if (!m_error) {
                m_error = error;
            }
            clearQueue();
        }
        m_batches += ended;
        if (shouldWakeCaller()) {
            m_ended.notify_all();
        }
    }
}

void ReaderPool::setActive(unsigned readers)
{
    readers = std::min(readers, m_most);
    m_threads.reserve(readers);  // a thread is never made without its place
    while (m_threads.size() < readers) {
        const auto index = static_cast<unsigned>(m_threads.size());
        try {
            m_threads.push_back(platform::startHelperThread([this, index] { readerLoop(index); }));
        } catch (const std::system_error&) {
            m_most = index;  // out of threads: fewer readers, or the caller alone
            break;
        }
    }
    std::size_t waiting = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_active = std::max(1u, std::min(readers, static_cast<unsigned>(m_threads.size())));
        waiting = queued();
    }
    wakeReaders(waiting);
}

void ReaderPool::wakeReaders(std::size_t pieces)
{
    // As many active readers as there are pieces; waking more would cost
    // more than the reads.
    const std::size_t count = std::min<std::size_t>({pieces, m_active, m_threads.size()});
    for (std::size_t i = 0; i < count; ++i) {
        m_wake[i].notify_one();
    }
}

void ReaderPool::submit(const std::vector<ReadWork*>& work)
{
    if (work.empty()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (ReadWork* piece : work) {
            std::vector<Queued>& side = piece->place >= m_sweep ? m_ahead : m_behind;
            side.emplace_back(piece->place, piece);
            std::push_heap(side.begin(), side.end(), fartherPlace);
        }
        // The caller hears of ended batches once half of what is queued now
        // is read: time enough to hand out more before readers run dry.
        m_lowWater = std::max<std::size_t>(4 * m_threads.size(), queued() / 2);
    }
    wakeReaders(work.size());
}

bool ReaderPool::waitForBatch(std::chrono::milliseconds timeout)
{
    if (m_threads.empty()) {
        // No reader: the calling thread reads, a moment at a time.
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            ReadWork* work = nullptr;
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                work = next();
            }
            if (work == nullptr) {
                break;
            }
            if (work->read(0)) {
                return true;
            }
        }
        return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ended.wait_for(lock, timeout, [this] { return shouldWakeCaller(); });
    if (m_error) {
        std::exception_ptr error = m_error;
        m_error = nullptr;
        m_batches = 0;
        std::rethrow_exception(error);
    }
    const bool ended = m_batches > 0;
    m_batches = 0;
    return ended;
}

void ReaderPool::cancel()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    clearQueue();
    m_cancelled = true;
    m_ended.wait(lock, [this] { return m_running == 0; });
    m_cancelled = false;
    m_batches = 0;
    m_error = nullptr;
}

std::size_t ReaderPool::outstanding()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return queued() + m_running;
}

}  // namespace search
