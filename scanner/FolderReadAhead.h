// Folder listings of a walk read ahead by a few threads, handed out in the walk's own order.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "platform/FolderListing.h"
#include "platform/NoFollowOpen.h"

namespace scanner {

// A subfolder to walk, with who it was when its parent was listed.
struct Subfolder {
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
};

// One folder as the walk reports it: the entries as read, which of them
// are reported as files and in what order, and the subfolders to enter.
struct Listing {
    std::vector<platform::FileEntry> entries;
    std::vector<std::uint32_t> files;   // indexes into entries, in report order
    std::vector<Subfolder> subfolders;  // in walk order; empty unless recursive
    std::vector<std::string> others;    // names of its links, FIFOs, sockets and devices
    int error = 0;                      // why the folder could not be (wholly) read
};

// What decides which entries of a listing the walk reports and enters.
struct ListingRules {
    const std::vector<std::string>* masks = nullptr;  // sorted, each file reported once
    bool findHiddenFiles = false;
    bool findHiddenFolders = false;
    bool recursive = true;
};

// Fills files and subfolders of a listing whose entries were read.
void sortOut(Listing& listing, const ListingRules& rules);

// Folders near the start folder keep their descriptors while anything below
// them is still to be opened; deeper, only every kHeldLevels-th does, and
// the others are opened again from it when needed. So however deep a tree
// goes, a walk holds a few dozen descriptors at most.
constexpr std::size_t kHeldLevels = 16;
constexpr bool isHeldLevel(std::size_t depth)
{
    return depth < kHeldLevels || depth % kHeldLevels == 0;
}

// How many readers list folders ahead of a walk. One reader beside the walk
// keeps two cores busy while the listings come from the cache; more only
// contend for the cores then. When listings wait on the disk, more readers
// keep more requests in flight: each time `slowToGrow` of a run of
// kGrowthRun listings slept in the kernel, one more reader starts, up to
// `most`. 0 starts one more after every listing.
struct ReaderGrowth {
    std::size_t most = 1;
    std::size_t slowToGrow = 4;
};
constexpr std::size_t kGrowthRun = 32;

// Reads the listings of a tree's folders on reader threads, at most
// `window` folders ahead of the walk, earliest in the walk's order first.
// A folder is named by its place: the indexes of the subfolders leading to
// it from the start folder ({} is the start folder). Every folder is opened
// relative to its parent's descriptor without following a link, and must be
// the folder its parent listed (else ENOENT), exactly as the one-thread walk
// opens it. The start folder is opened as named.
class FolderReadAhead {
public:
    using Place = std::vector<std::uint32_t>;

    FolderReadAhead(std::string startFolder, const ListingRules& rules, ReaderGrowth growth,
                    std::size_t window);
    ~FolderReadAhead();
    FolderReadAhead(const FolderReadAhead&) = delete;
    FolderReadAhead& operator=(const FolderReadAhead&) = delete;

    // Reader threads running: fewer than wanted when the system would not
    // start more, 0 when it started none.
    std::size_t threads() const { return m_threads.size(); }
    // Waits for the listing of the folder at `place`, whose parent was taken
    // before (or which is the start folder), and hands it over. Throws what
    // a reader could not go on after (std::bad_alloc). While it waits,
    // `idle` is called every few milliseconds: a listing that waits for the
    // disk does not hold up the walk's caller. With `listHere`, it lists
    // folders of the queue itself while listings come from the page cache.
    Listing take(const Place& place, const std::function<void()>& idle = nullptr,
                 bool listHere = true);
    // No folder is read after the ones being read now; returns at once.
    void stop();

private:
    struct Node;
    using NodePtr = std::shared_ptr<Node>;
    struct Later {
        bool operator()(const NodePtr& a, const NodePtr& b) const;
    };

    void work();
    // Takes the earliest folder off the queue and lists it, on the calling
    // thread; the lock is held before and after. A failure is kept for take().
    void listNext(std::unique_lock<std::mutex>& lock, std::vector<NodePtr>& children);
    // Whether take() may list a folder itself while it waits. The lock is held.
    bool mayHelp() const;
    bool mayTakeNext() const;
    // Counts a listing handed in; asks for one more reader when enough
    // of the latest ones slept. The lock is held.
    void countListing(bool slept);
    // Starts the readers asked for, on the walk's thread.
    void startReaders();
    void read(const NodePtr& node, std::vector<NodePtr>& children);
    // The folder's descriptor, or -1 with errno set.
    int openNode(Node& node, platform::UniqueFd& opened) const;

    std::string m_start;
    ListingRules m_rules;
    std::size_t m_window;
    ReaderGrowth m_growth;
    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_listingReady;
    std::vector<NodePtr> m_queue;     // a heap, earliest place on top
    std::map<Place, NodePtr> m_done;  // read, not yet taken
    std::size_t m_inFlight = 0;       // being read or read and not yet taken
    const Place* m_wanted = nullptr;  // what take() waits for
    bool m_stopping = false;
    std::exception_ptr m_failure;  // what stopped a reader
    std::size_t m_wantedThreads = 1;
    std::size_t m_listings = 0;          // of the present run of kGrowthRun
    std::size_t m_slept = 0;             // of those, listings that waited in the kernel
    std::vector<NodePtr> m_ownChildren;  // the walk's own, for listNext
    // Started and joined on the walk's thread only.
    std::vector<std::thread> m_threads;
};

}  // namespace scanner
