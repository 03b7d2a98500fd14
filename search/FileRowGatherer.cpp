// The facts of the result list's file rows gathered on helper threads, handed back in order.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/FileRowGatherer.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

#include "platform/HelperThread.h"

namespace search {

namespace {

// Rows are taken and handed over a few at a time: one lock for each, and
// the adding thread sees the first rows of a large group soon.
constexpr std::size_t kHandOver = 64;
// Two helpers keep a second core busy while the adding thread works, and
// each one's waits for the disk overlap with the other's work; more wait
// for the disk together.
constexpr unsigned kLeastHelpers = 2;
constexpr unsigned kMostHelpers = 4;

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
    m_workReady.notify_all();
    for (std::thread& helper : m_helpers) {
        helper.join();
    }
}

void FileRowGatherer::start()
{
    const unsigned helpers =
        std::clamp(std::thread::hardware_concurrency(), kLeastHelpers, kMostHelpers);
    m_helpers.reserve(helpers);  // a thread is never made without its place
    try {
        while (m_helpers.size() < helpers) {
            m_helpers.push_back(platform::startHelperThread([this] { work(); }));
        }
    } catch (const std::system_error&) {
        // Fewer threads to be had: those that started gather every row, and
        // with none add() gathers each row itself.
    }
}

void FileRowGatherer::add(PendingRow row)
{
    if (m_helpers.empty()) {
        start();
    }
    if (m_helpers.empty()) {
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
        makeRoomForParts();
        // Woken for every row, a helper would take them one at a time, two
        // switches of thread each; the next look at the rows wakes one for
        // fewer.
        wake = m_waiting.size() == kHandOver;
    }
    if (wake) {
        m_workReady.notify_one();
    }
}

void FileRowGatherer::makeRoomForReady()
{
    // Room for every row the helpers may still hand over, made here: out of
    // memory, the thread that adds rows hears of it, not a helper.
    // Grown by half at least: a room made one row larger for each row added
    // would move the ready rows each time.
    const std::size_t needed = m_ready.size() + m_inHand + m_waiting.size();
    if (needed > m_ready.capacity()) {
        m_ready.reserve(std::max(needed, m_ready.capacity() + m_ready.capacity() / 2));
    }
}

std::vector<PendingRow> FileRowGatherer::takeReady()
{
    std::vector<PendingRow> rows;
    takeReady(rows);
    return rows;
}

void FileRowGatherer::takeReady(std::vector<PendingRow>& rows)
{
    rows.clear();
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_ready.empty()) {
            // The room for the rows still to come is made before any row
            // changes hands: out of memory, nothing is lost.
            rows.reserve(m_inHand + m_waiting.size());
            rows.swap(m_ready);
        }
        wake = !m_waiting.empty();
    }
    if (wake) {
        m_workReady.notify_one();
    }
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

void FileRowGatherer::waitFewer(std::size_t rows, std::chrono::milliseconds most)
{
    m_workReady.notify_one();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wakeAt = rows;
    m_rowsReady.wait_for(lock, most, [this, rows] { return m_waiting.size() + m_inHand <= rows; });
    m_wakeAt = kAnyHandOver;
}

void FileRowGatherer::clear()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting.clear();
    m_parts.clear();
    m_partsHead = 0;
    m_ready.clear();
    m_inHand = 0;
    ++m_generation;
}

std::size_t FileRowGatherer::rowsWithin(std::chrono::milliseconds time) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rowTime.count() <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(std::chrono::nanoseconds(time) / m_rowTime) * m_helpers.size();
}

void FileRowGatherer::makeRoomForParts()
{
    // A part for every kHandOver rows waiting, and room in the line for
    // them all: the helpers only move rows and pointers.
    if (m_partsHead > 0) {
        m_parts.erase(m_parts.begin(), m_parts.begin() + static_cast<std::ptrdiff_t>(m_partsHead));
        m_partsHead = 0;
    }
    while (m_spares.size() * kHandOver < m_waiting.size()) {
        auto part = std::make_shared<Part>();
        part->rows.reserve(kHandOver);
        m_spares.push_back(std::move(part));
    }
    m_parts.reserve(m_parts.size() + m_spares.size());
}

FileRowGatherer::PartPtr FileRowGatherer::takePart()
{
    if (m_waiting.empty() || m_spares.empty()) {
        return nullptr;
    }
    PartPtr part = std::move(m_spares.back());
    m_spares.pop_back();
    const std::size_t count = std::min(kHandOver, m_waiting.size());
    std::move(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(count),
              std::back_inserter(part->rows));
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(count));
    m_parts.push_back(part);
    m_inHand += count;
    return part;
}

bool FileRowGatherer::handOver()
{
    bool handed = false;
    while (m_partsHead < m_parts.size() && m_parts[m_partsHead]->gathered) {
        std::vector<PendingRow>& rows = m_parts[m_partsHead]->rows;
        m_inHand -= rows.size();
        // The room was made when the rows were added.
        std::move(rows.begin(), rows.end(), std::back_inserter(m_ready));
        m_parts[m_partsHead].reset();
        ++m_partsHead;
        handed = true;
    }
    return handed && (m_wakeAt == kAnyHandOver || m_waiting.size() + m_inHand <= m_wakeAt);
}

void FileRowGatherer::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_workReady.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_stopping) {
            return;
        }
        const PartPtr part = takePart();
        if (!part) {
            continue;  // never so: the adding thread makes a part for every few rows
        }
        const std::uint64_t generation = m_generation;
        const bool more = !m_waiting.empty();
        lock.unlock();
        if (more) {
            m_workReady.notify_one();  // another helper takes the next rows meanwhile
        }
        const auto started = std::chrono::steady_clock::now();
        for (PendingRow& row : part->rows) {
            gatherOne(row, m_locale);
        }
        const auto rowTime = (std::chrono::steady_clock::now() - started) / part->rows.size();
        lock.lock();
        if (m_generation != generation) {
            continue;  // cleared meanwhile: the part goes with the rest
        }
        m_rowTime = m_rowTime.count() == 0 ? rowTime : (m_rowTime * 7 + rowTime) / 8;
        part->gathered = true;
        if (handOver()) {
            m_rowsReady.notify_one();
        }
    }
}

}  // namespace search
