#include "search/ReaderPool.h"

#include <algorithm>
#include <system_error>

#include "platform/IoPriority.h"

namespace search {

namespace {

constexpr std::size_t kSlice = 8;

}  // namespace

ReaderPool::ReaderPool(unsigned readers)
{
    for (unsigned i = 0; i < readers; ++i) {
        try {
            m_threads.emplace_back([this, i] { readerLoop(i); });
        } catch (const std::system_error&) {
            break;  // out of threads: fewer readers, or the caller alone
        }
    }
}

ReaderPool::~ReaderPool()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
        m_quit = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

ReadWork* ReaderPool::next()
{
    if (m_queue.empty()) {
        return nullptr;
    }
    auto it = m_queue.lower_bound(m_sweep);
    if (it == m_queue.end()) {
        it = m_queue.begin();  // round again from the start of the disk
    }
    m_sweep = it->first;
    ReadWork* work = it->second;
    m_queue.erase(it);
    return work;
}

bool ReaderPool::shouldWakeCaller() const
{
    // While plenty of work is queued the caller may sleep on: what ended
    // waits for it, and waking it for every batch would cost more than the
    // batch. It is needed when the queue runs low, to hand out more.
    return m_error || (m_running == 0 && m_queue.empty()) ||
           (m_batches > 0 && m_queue.size() <= m_lowWater);
}

void ReaderPool::readerLoop(unsigned reader)
{
    // Reading thousands of files must not slow down what the user is doing.
    const platform::IdleIoPriority idle;
    std::vector<ReadWork*> slice;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit) {
            return;
        }
        // A few neighbours at once: fewer trips through the lock, and they
        // lie next to each other on the disk. Fewer when little is queued,
        // so that every reader gets some.
        const std::size_t take = std::clamp<std::size_t>(
            m_queue.size() / (2 * std::max<std::size_t>(1, m_threads.size())), 1, kSlice);
        slice.clear();
        while (slice.size() < take) {
            ReadWork* work = next();
            if (work == nullptr) {
                break;
            }
            slice.push_back(work);
        }
        ++m_running;
        lock.unlock();
        std::size_t ended = 0;
        std::exception_ptr error;
        try {
            for (ReadWork* work : slice) {
                if (m_cancelled) {
                    break;  // a stop: the rest of the slice stays unread
                }
                ended += work->read(reader) ? 1 : 0;
            }
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        --m_running;
        if (error) {
            if (!m_error) {
                m_error = error;
            }
            m_queue.clear();
        }
        m_batches += ended;
        if (shouldWakeCaller()) {
            m_ended.notify_all();
        }
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
            m_queue.emplace(piece->place, piece);
        }
        // The caller hears of ended batches once half of what is queued now
        // is read: time enough to hand out more before readers run dry.
        m_lowWater = std::max<std::size_t>(4 * m_threads.size(), m_queue.size() / 2);
    }
    // As many readers as there are pieces; waking them all for one piece
    // would cost more than the read.
    if (work.size() >= m_threads.size()) {
        m_wake.notify_all();
    } else {
        for (std::size_t i = 0; i < work.size(); ++i) {
            m_wake.notify_one();
        }
    }
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
    m_queue.clear();
    m_cancelled = true;
    m_ended.wait(lock, [this] { return m_running == 0; });
    m_cancelled = false;
    m_batches = 0;
    m_error = nullptr;
}

std::size_t ReaderPool::outstanding()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size() + m_running;
}

}  // namespace search
