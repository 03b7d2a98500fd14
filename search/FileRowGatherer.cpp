// The facts of the result list's file rows gathered on a helper thread, handed back in order.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/FileRowGatherer.h"

#include <new>
#include <system_error>
#include <utility>

namespace search {

namespace {

// Rows are handed over a few at a time: one lock for each, and the adding
// thread sees the first rows of a large group soon.
constexpr std::size_t kHandOver = 64;

void gatherOne(PendingRow& row, const text::Locale& locale)
{
    if (!row.isFile) {
        return;
    }
    try {
        row.found = gatherFileRow(row.text, nullptr, locale, row.facts);
    } catch (const std::bad_alloc&) {
        row.found = false;  // no room for its texts: no row, as for a file that went
    }
}

}  // namespace

FileRowGatherer::FileRowGatherer(const text::Locale& locale) : m_locale(locale) {}

FileRowGatherer::~FileRowGatherer()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_workReady.notify_one();
    if (m_helper.joinable()) {
        m_helper.join();
    }
}

void FileRowGatherer::start()
{
    try {
        m_helper = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        // No thread to be had: add() gathers each row itself.
    }
}

void FileRowGatherer::add(PendingRow row)
{
    if (!m_helper.joinable()) {
        start();
    }
    if (!m_helper.joinable()) {
        gatherOne(row, m_locale);
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ready.push_back(std::move(row));
        return;
    }
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back(std::move(row));
        makeRoomForReady();
        // Woken for every row, the helper would take them one at a time,
        // two switches of thread each; the next look at the rows wakes it
        // for fewer.
        wake = m_waiting.size() == kHandOver;
    }
    if (wake) {
        m_workReady.notify_one();
    }
}

void FileRowGatherer::makeRoomForReady()
{
    // Room for every row the helper may still hand over, made here: out of
    // memory, the thread that adds rows hears of it, not the helper.
    m_ready.reserve(m_ready.size() + m_inHand + m_waiting.size());
}

std::vector<PendingRow> FileRowGatherer::takeReady()
{
    std::vector<PendingRow> rows;
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<PendingRow> room;
        room.reserve(m_inHand + m_waiting.size());
        rows.swap(m_ready);
        m_ready.swap(room);
        wake = !m_waiting.empty();
    }
    if (wake) {
        m_workReady.notify_one();
    }
    return rows;
}

std::size_t FileRowGatherer::pending() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting.size() + m_inHand + m_ready.size();
}

void FileRowGatherer::waitReady(std::chrono::milliseconds most)
{
    m_workReady.notify_one();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_rowsReady.wait_for(lock, most,
                         [this] { return !m_ready.empty() || m_waiting.size() + m_inHand == 0; });
}

void FileRowGatherer::clear()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting.clear();
    m_ready.clear();
    m_inHand = 0;
    ++m_generation;
}

void FileRowGatherer::work()
{
    std::vector<PendingRow> batch;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_workReady.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_stopping) {
            return;
        }
        batch.swap(m_waiting);
        m_inHand = batch.size();
        const std::uint64_t generation = m_generation;
        lock.unlock();
        gatherBatch(batch, generation);
        batch.clear();
        lock.lock();
    }
}

void FileRowGatherer::gatherBatch(std::vector<PendingRow>& batch, std::uint64_t generation)
{
    std::size_t handed = 0;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        gatherOne(batch[i], m_locale);
        if (i + 1 - handed < kHandOver && i + 1 < batch.size()) {
            continue;
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_generation != generation || m_stopping) {
                return;  // cleared meanwhile: the rest of the batch goes too
            }
            m_inHand -= i + 1 - handed;
            for (; handed <= i; ++handed) {
                m_ready.push_back(std::move(batch[handed]));
            }
        }
        m_rowsReady.notify_one();
    }
}

}  // namespace search
