// Folder listings of a walk read ahead by a few threads, handed out in the walk's own order.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/FolderReadAhead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

#include "platform/HelperThread.h"
#include "text/Text.h"

namespace scanner {

void sortOut(Listing& listing, const ListingRules& rules)
{
    const std::vector<platform::FileEntry>& entries = listing.entries;
    listing.files.clear();
    listing.subfolders.clear();
    if (rules.recursive) {
        const std::uint32_t request =
            platform::kAttrDirectory | (rules.findHiddenFolders ? platform::kAttrHidden : 0u);
        for (const platform::FileEntry& entry : entries) {
            if ((entry.attributes & platform::kAttrDirectory) != 0 &&
                platform::passesRequest(entry.attributes, request)) {
                listing.subfolders.push_back({entry.name, entry.device, entry.inode});
            }
        }
        std::sort(listing.subfolders.begin(), listing.subfolders.end(),
                  [](const Subfolder& a, const Subfolder& b) {
                      return text::compareOrder(a.name, b.name) < 0;
                  });
    }
    // Files of one folder share the folder's path, so their names alone
    // give the order of their paths.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const platform::FileEntry& entry = entries[i];
        if ((entry.attributes & (platform::kAttrDirectory | platform::kAttrVolumeLabel)) != 0) {
            continue;
        }
        if ((entry.attributes & platform::kAttrHidden) != 0 && !rules.findHiddenFiles) {
            continue;
        }
        // A file matching several masks is reported once.
        for (const std::string& mask : *rules.masks) {
            if (platform::matchesMask(entry.name, mask)) {
                listing.files.push_back(static_cast<std::uint32_t>(i));
                break;
            }
        }
    }
    std::sort(listing.files.begin(), listing.files.end(),
              [&entries](std::uint32_t a, std::uint32_t b) {
                  return text::compareOrder(entries[a].name, entries[b].name) < 0;
              });
}

// A folder of the tree from the moment its parent was read until it is
// taken. A held folder keeps its descriptor for as long as anything below
// it is still to be read; the others are opened again from the nearest
// held folder above when a subfolder of theirs is opened.
struct FolderReadAhead::Node {
    Place place;
    std::string name;
    NodePtr parent;
    std::size_t depth = 0;
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;  // device and inode are set
    platform::UniqueFd fd;
    Listing listing;
};

bool FolderReadAhead::Later::operator()(const NodePtr& a, const NodePtr& b) const
{
    return b->place < a->place;
}

namespace {

// Voluntary switches of the calling thread: a listing during which they
// grew waited in the kernel, for the disk, while one from the cache never
// does. Time taken would not tell: on a busy machine a listing also waits
// for a core.
long sleepsSoFar()
{
    struct rusage usage = {};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

}  // namespace

FolderReadAhead::FolderReadAhead(std::string startFolder, const ListingRules& rules,
                                 ReaderGrowth growth, std::size_t window)
    : m_start(std::move(startFolder)), m_rules(rules), m_window(std::max<std::size_t>(window, 1)),
      m_growth(growth)
{
    m_queue.push_back(std::make_shared<Node>());
    m_wantedThreads = std::min<std::size_t>(1, m_growth.most);
    m_threads.reserve(m_growth.most);
    startReaders();
}

void FolderReadAhead::startReaders()
{
    std::size_t wanted = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wanted = m_wantedThreads;
    }
    try {
        while (m_threads.size() < wanted) {
            m_threads.push_back(platform::startHelperThread([this] { work(); }));
        }
    } catch (const std::system_error&) {
        // Short of memory for another thread's stack: the readers started
        // will do, and with none the caller lists the folders itself.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_growth.most = m_threads.size();
        m_wantedThreads = m_threads.size();
    }
}

void FolderReadAhead::countListing(bool slept)
{
    m_slept += slept ? 1 : 0;
    if (m_slept >= m_growth.slowToGrow && m_wantedThreads < m_growth.most) {
        ++m_wantedThreads;
        m_slept = 0;
        m_listings = 0;
        return;
    }
    if (++m_listings == kGrowthRun) {
        m_listings = 0;
        m_slept = 0;
    }
}

FolderReadAhead::~FolderReadAhead()
{
    stop();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void FolderReadAhead::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_workReady.notify_all();
}

Listing FolderReadAhead::take(const Place& place, const std::function<void()>& idle,
                              bool listHere)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wanted = &place;
    m_workReady.notify_all();  // the wanted folder may go beyond the window
    const auto ready = [&] { return m_done.count(place) != 0 || m_failure; };
    constexpr auto kIdleEvery = std::chrono::milliseconds(4);
    while (!ready()) {
        if (listHere && mayHelp()) {
            // Waiting would leave a core idle: the walk lists a folder itself.
            listNext(lock, m_ownChildren);
            continue;
        }
        if (!idle) {
            m_listingReady.wait(lock, ready);
        } else if (!m_listingReady.wait_for(lock, kIdleEvery, ready)) {
            lock.unlock();
            idle();
            lock.lock();
        }
    }
    m_wanted = nullptr;
    const auto at = m_done.find(place);
    if (at == m_done.end()) {
        std::rethrow_exception(m_failure);  // on the walk's thread, as if it had read
    }
    NodePtr node = std::move(at->second);
    m_done.erase(at);
    --m_inFlight;
    const bool grow = m_wantedThreads > m_threads.size();
    lock.unlock();
    m_workReady.notify_one();
    if (grow) {
        startReaders();
    }
    return std::move(node->listing);
}

bool FolderReadAhead::mayHelp() const
{
    // Only while listings come from the cache: one that waits on the disk
    // would keep the walk from the listing it wants, and the event loop from
    // its turn, for longer than waiting would.
    return !m_stopping && mayTakeNext() && m_slept == 0 && m_wantedThreads == 1;
}

bool FolderReadAhead::mayTakeNext() const
{
    if (m_queue.empty()) {
        return false;
    }
    // The folder the walk waits for is always on top: everything before it
    // in the walk's order has been taken.
    return m_inFlight < m_window || (m_wanted != nullptr && m_queue.front()->place == *m_wanted);
}

void FolderReadAhead::work()
{
    std::vector<NodePtr> children;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workReady.wait(lock, [this] { return m_stopping || mayTakeNext(); });
        if (m_stopping) {
            return;
        }
        listNext(lock, children);
    }
}

void FolderReadAhead::listNext(std::unique_lock<std::mutex>& lock, std::vector<NodePtr>& children)
{
    std::pop_heap(m_queue.begin(), m_queue.end(), Later());
    NodePtr node = std::move(m_queue.back());
    m_queue.pop_back();
    ++m_inFlight;
    const bool measure = m_wantedThreads < m_growth.most;
    lock.unlock();
    try {
        children.clear();
        const long sleeps = measure ? sleepsSoFar() : 0;
        read(node, children);
        const bool slept = measure && sleepsSoFar() != sleeps;
        lock.lock();
        countListing(slept);
        for (NodePtr& child : children) {
            m_queue.push_back(std::move(child));
            std::push_heap(m_queue.begin(), m_queue.end(), Later());
        }
        m_done.emplace(node->place, std::move(node));
    } catch (...) {
        // Out of memory, say: the walk hears of it when it next waits.
        if (!lock.owns_lock()) {
            lock.lock();
        }
        if (!m_failure) {
            m_failure = std::current_exception();
        }
        m_stopping = true;
        m_listingReady.notify_all();
        m_workReady.notify_all();
        return;
    }
    m_listingReady.notify_one();
    if (!children.empty()) {
        m_workReady.notify_all();
    }
}

void FolderReadAhead::read(const NodePtr& shared, std::vector<NodePtr>& children)
{
    Node& node = *shared;
    Listing& listing = node.listing;
    platform::UniqueFd fd;
    if (openNode(node, fd) < 0 ||
        !platform::readOpenFolder(fd.get(), node.device, listing.entries, &listing.others)) {
        listing.error = errno;
    }
    sortOut(listing, m_rules);
    if (isHeldLevel(node.depth) && !listing.subfolders.empty()) {
        node.fd = std::move(fd);
    }
    fd.reset();
    for (std::size_t i = 0; i < listing.subfolders.size(); ++i) {
        const Subfolder& subfolder = listing.subfolders[i];
        auto child = std::make_shared<Node>();
        child->place = node.place;
        child->place.push_back(static_cast<std::uint32_t>(i));
        child->name = subfolder.name;
        child->parent = shared;
        child->depth = node.depth + 1;
        child->device = subfolder.device;
        child->inode = subfolder.inode;
        child->known = true;
        children.push_back(std::move(child));
    }
}

int FolderReadAhead::openNode(Node& node, platform::UniqueFd& opened) const
{
    int fd = -1;
    if (node.depth == 0) {
        // The start folder is the user's choice: a link there is followed.
        fd = ::open(m_start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        platform::UniqueFd reopened;
        int parent = node.parent->fd.get();
        if (parent < 0 && openNode(*node.parent, reopened) < 0) {
            return -1;
        }
        if (parent < 0) {
            parent = reopened.get();
        }
        fd = ::openat(parent, node.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    platform::UniqueFd own(fd);
    if (!own.ok()) {
        return -1;
    }
    struct stat st = {};
    if (::fstat(own.get(), &st) != 0) {
        return -1;
    }
    if (node.known && (st.st_dev != node.device || st.st_ino != node.inode)) {
        // Another folder took the name since it was listed.
        errno = ENOENT;
        return -1;
    }
    if (!node.known) {
        // Only the start folder, opened once, before anything below it.
        node.device = st.st_dev;
        node.inode = st.st_ino;
        node.known = true;
    }
    opened = std::move(own);
    return opened.get();
}

}  // namespace scanner
