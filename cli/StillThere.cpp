// Whether the files a search lists are still there, checked on a helper thread as they come.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StillThere.h"

#include <system_error>

#include "platform/FolderListing.h"
#include "platform/HelperThread.h"

namespace cli {

namespace {

// Paths handed to the helper at a time: one lock for many status calls.
constexpr std::size_t kBatch = 256;

}  // namespace

StillThere::~StillThere()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_helper.joinable()) {
        m_helper.join();
    }
}

void StillThere::add(std::size_t group, const std::string& path)
{
    m_batch.push_back({group, path});
    if (m_batch.size() >= kBatch) {
        handOver();
    }
}

std::vector<ListedPath> StillThere::finish()
{
    handOver();
    std::unique_lock<std::mutex> lock(m_mutex);
    // What the helper has not reached yet is shared: the search waits for
    // half of it, not all.
    while (checkNext(lock)) {
    }
    m_idle.wait(lock, [this] { return m_inHand == 0; });
    std::size_t count = 0;
    for (const std::vector<ListedPath>& batch : m_handed) {
        count += batch.size();
    }
    std::vector<ListedPath> checked;
    checked.reserve(count);
    for (std::vector<ListedPath>& batch : m_handed) {
        for (ListedPath& listed : batch) {
            checked.push_back(std::move(listed));
        }
    }
    m_handed.clear();
    m_untaken = 0;
    return checked;
}

void StillThere::clear()
{
    m_batch.clear();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_handed.erase(m_handed.begin() + static_cast<std::ptrdiff_t>(m_untaken), m_handed.end());
    m_idle.wait(lock, [this] { return m_inHand == 0; });
    m_handed.clear();
    m_untaken = 0;
}

void StillThere::handOver()
{
    if (m_batch.empty()) {
        return;
    }
    const bool helped = startHelper();
    if (!helped) {
        keepThoseThere(m_batch);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Made here: out of memory, the search's thread hears of it, not
        // the helper, which allocates nothing.
        m_handed.push_back(std::move(m_batch));
        if (!helped) {
            m_untaken = m_handed.size();
        }
    }
    m_batch.clear();
    if (helped) {
        m_wake.notify_one();
    }
}

bool StillThere::startHelper()
{
    if (m_helper.joinable() || m_noHelper) {
        return !m_noHelper;
    }
    try {
        m_helper = platform::startHelperThread([this] { work(); });
    } catch (const std::system_error&) {
        m_noHelper = true;
    }
    return !m_noHelper;
}

void StillThere::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || m_untaken < m_handed.size(); });
        if (m_stopping) {
            return;
        }
        checkNext(lock);
    }
}

bool StillThere::checkNext(std::unique_lock<std::mutex>& lock)
{
    if (m_untaken == m_handed.size()) {
        return false;
    }
    // A reference into the deque stays good while the owner adds batches.
    std::vector<ListedPath>& batch = m_handed[m_untaken++];
    ++m_inHand;
    lock.unlock();
    keepThoseThere(batch);
    lock.lock();
    if (--m_inHand == 0) {
        m_idle.notify_all();
    }
    return true;
}

void StillThere::keepThoseThere(std::vector<ListedPath>& batch)
{
    // In place: the helper allocates nothing.
    std::erase_if(batch, [](const ListedPath& listed) { return !platform::fileExists(listed.path); });
}

}  // namespace cli
