// Whether the files a search lists are still there, checked on a helper thread as they come.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StillThere.h"

#include <linux/magic.h>
#include <new>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <unordered_map>

#include "platform/FolderListing.h"
#include "platform/HelperThread.h"

namespace cli {

namespace {

// Paths handed to the helper at a time: one lock for many status calls.
constexpr std::size_t kBatch = 256;

// Local file systems that move a folder's change time whenever an entry of
// it is added, removed or renamed, and report it as it is: on a network or
// user-space file system the time may come from a cache of the attributes,
// and FAT-like ones keep none.
bool trustsFolderTimes(const std::string& folder)
{
    struct statfs fs = {};
    if (::statfs(folder.c_str(), &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
        return true;
    default:
        return false;
    }
}

// Whether `folder` is still the folder `stamp` describes, unchanged;
// `trusted` remembers for each device whether its folders' times count.
bool folderUnchanged(const std::string& folder, const platform::FolderStamp& stamp,
                     std::unordered_map<dev_t, bool>& trusted)
{
    struct stat st = {};
    if (folder.empty() || ::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_dev != stamp.device || st.st_ino != stamp.inode ||
        static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec !=
            stamp.changeNanoseconds) {
        return false;
    }
    const auto [at, added] = trusted.try_emplace(st.st_dev, false);
    if (added) {
        at->second = trustsFolderTimes(folder);
    }
    return at->second;
}

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
    if (m_folderChecker.joinable()) {
        m_folderChecker.join();
    }
}

void StillThere::add(std::size_t group, const std::string& path,
                     const platform::FolderStamp& folder)
{
    if (folder.changeNanoseconds != 0) {
        if (m_folderChecker.joinable()) {
            m_folderChecker.join();  // a path after the last: checked again as the list settles
            m_stampedChecked = false;
        }
        m_stamped.push_back({group, path, m_added++, folder});
        return;
    }
    m_batch.push_back({group, path, m_added++, folder});
    if (m_batch.size() >= kBatch) {
        handOver();
    }
}

void StillThere::allAdded()
{
    if (m_folderChecker.joinable() || m_stamped.empty()) {
        return;
    }
    try {
        m_folderChecker = platform::startHelperThread([this] {
            try {
                m_stampedThere = stillInFolders(m_stamped);
                m_stampedChecked = true;
            } catch (const std::bad_alloc&) {
                // The owner's thread checks them again, and hears of it.
            }
        });
    } catch (const std::system_error&) {
        // Checked as the list settles.
    }
}

std::vector<ListedPath> StillThere::takeThoseInFolders()
{
    if (m_folderChecker.joinable()) {
        m_folderChecker.join();
    }
    if (!m_stampedChecked) {
        m_stampedThere = stillInFolders(m_stamped);
    }
    std::vector<ListedPath> there;
    for (std::size_t i = 0; i < m_stamped.size(); ++i) {
        if (m_stampedThere[i] != 0) {
            there.push_back(std::move(m_stamped[i]));
        }
    }
    m_stamped.clear();
    m_stampedThere.clear();
    m_stampedChecked = false;
    return there;
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
    lock.unlock();
    std::vector<ListedPath> inFolders = takeThoseInFolders();
    if (inFolders.empty()) {
        return checked;
    }
    // Both in the order added: merged.
    std::vector<ListedPath> there;
    there.reserve(checked.size() + inFolders.size());
    std::size_t j = 0;
    for (ListedPath& listed : checked) {
        while (j < inFolders.size() && inFolders[j].order < listed.order) {
            there.push_back(std::move(inFolders[j++]));
        }
        there.push_back(std::move(listed));
    }
    while (j < inFolders.size()) {
        there.push_back(std::move(inFolders[j++]));
    }
    return there;
}

void StillThere::clear()
{
    m_batch.clear();
    if (m_folderChecker.joinable()) {
        m_folderChecker.join();
    }
    m_stamped.clear();
    m_stampedThere.clear();
    m_stampedChecked = false;
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

std::vector<char> StillThere::stillInFolders(const std::vector<ListedPath>& listed)
{
    // Made after every path was added: each folder's answer holds for all
    // its paths. By the folder's path, not its identity: one folder seen
    // through two paths (a bind mount) is checked at each.
    std::vector<char> there(listed.size(), 0);
    std::unordered_map<std::string, bool> unchanged;
    std::unordered_map<dev_t, bool> trusted;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const ListedPath& path = listed[i];
        std::string folder = path.path.substr(0, path.path.rfind('/') + 1);
        const auto [at, added] = unchanged.try_emplace(std::move(folder), false);
        if (added) {
            at->second = folderUnchanged(at->first, path.folder, trusted);
        }
        there[i] = at->second || platform::fileExists(path.path);
    }
    return there;
}

}  // namespace cli
