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
        std::vector<ListedPath> kept;
        keepThoseThere(m_batch, kept);
        m_batch.clear();
        std::lock_guard<std::mutex> lock(m_mutex);
        for (ListedPath& listed : kept) {
            m_checked.push_back(std::move(listed));
        }
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (ListedPath& listed : m_batch) {
            m_toCheck.push_back(std::move(listed));
        }
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
        lock.unlock();
        std::vector<ListedPath> kept;
        keepThoseThere(batch, kept);
        lock.lock();
        for (ListedPath& listed : kept) {
            m_checked.push_back(std::move(listed));
        }
        m_busy = false;
        m_idle.notify_all();
    }
}

void StillThere::keepThoseThere(std::vector<ListedPath>& batch, std::vector<ListedPath>& kept)
{
    kept.reserve(batch.size());
    for (ListedPath& listed : batch) {
        if (platform::fileExists(listed.path)) {
            kept.push_back(std::move(listed));
        }
    }
}

}  // namespace cli
