// Whether the files a search lists are still there, checked on a helper thread as they come.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StillThere.h"

#include <system_error>

#include "platform/FolderListing.h"

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
    m_idle.wait(lock, [this] { return m_toCheck.empty() && !m_busy; });
    std::vector<ListedPath> checked;
    checked.swap(m_checked);
    return checked;
}

void StillThere::clear()
{
    m_batch.clear();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_toCheck.clear();
    m_idle.wait(lock, [this] { return !m_busy; });
    m_checked.clear();
}

void StillThere::handOver()
{
    if (m_batch.empty()) {
        return;
    }
    if (!startHelper()) {
        keepThoseThere(m_batch);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (ListedPath& listed : m_batch) {
            m_checked.push_back(std::move(listed));
        }
        m_batch.clear();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (ListedPath& listed : m_batch) {
            m_toCheck.push_back(std::move(listed));
        }
        // Room for every path the helper may hand back, made here: out of
        // memory, the search's thread hears of it, not the helper.
        m_checked.reserve(m_checked.size() + m_inHand + m_toCheck.size());
    }
    m_batch.clear();
    m_wake.notify_one();
}

bool StillThere::startHelper()
{
    if (m_helper.joinable() || m_noHelper) {
        return !m_noHelper;
    }
    try {
        m_helper = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        m_noHelper = true;
    }
    return !m_noHelper;
}

void StillThere::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_toCheck.empty(); });
        if (m_toCheck.empty()) {
            return;
        }
        std::vector<ListedPath> batch;
        batch.swap(m_toCheck);
        m_busy = true;
        m_inHand = batch.size();
        lock.unlock();
        keepThoseThere(batch);
        lock.lock();
        for (ListedPath& listed : batch) {
            m_checked.push_back(std::move(listed));  // in the room made for it
        }
        m_inHand = 0;
        m_busy = false;
        m_idle.notify_all();
    }
}

void StillThere::keepThoseThere(std::vector<ListedPath>& batch)
{
    // In place: the helper allocates nothing.
    std::erase_if(batch, [](const ListedPath& listed) { return !platform::fileExists(listed.path); });
}

}  // namespace cli
