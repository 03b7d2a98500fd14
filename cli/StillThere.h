// Whether the files a search lists are still there, checked on a helper thread as they come.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FolderListing.h"

namespace cli {

// A listed path and the group it was listed in.
struct ListedPath {
    std::size_t group = 0;
    std::string path;
    std::size_t order = 0;  // counts the paths added
    // Its folder as the walk found it, when that may stand for the file;
    // changeNanoseconds is 0 otherwise.
    platform::FolderStamp folder;
};

// Checks that each path handed to it is still a regular file, after it was
// handed over. A path whose folder's stamp is given is checked as the list
// settles, by one status call of that folder for all its paths: a folder
// that is still the one the walk listed, with the change time it had before
// that listing, holds every name it held then (adding, removing or renaming
// an entry moves a folder's change time), on file systems whose folders'
// change times can be trusted for this; any other path is checked by a
// status call of its own. Those are made on one helper thread as the paths
// come, so that the search's own thread does not wait on a status call for
// every file it lists; at the end the owner's thread checks beside it what
// is left. The folders are checked on another helper thread from the
// moment the owner says every path was added. Only the thread that owns it
// calls its members; with no helper thread to be had, the checks are made
// on the owner's.
class StillThere {
public:
    // A folder changed this close before the walk began may have changed
    // again within the clock's tick, its change time the same: its stamp
    // stands for nothing.
    static constexpr std::int64_t kRacyNs = 2'000'000'000;

    StillThere() = default;
    ~StillThere();
    StillThere(const StillThere&) = delete;
    StillThere& operator=(const StillThere&) = delete;

    // `folder`: the stamp of the path's folder (the path up to its last '/')
    // from a walk that began after kRacyNs past its change time, or none.
    void add(std::size_t group, const std::string& path,
             const platform::FolderStamp& folder = platform::FolderStamp());
    // Every path was added: the folders may be checked.
    void allAdded();
    // Waits for every check; the paths still there, in the order added, each
    // handed back once.
    std::vector<ListedPath> finish();
    // Forgets every path, checked or not.
    void clear();

private:
    void handOver();
    bool startHelper();
    void work();
    // Takes the first batch nobody took yet and checks it, the lock released
    // meanwhile; false when there was none.
    bool checkNext(std::unique_lock<std::mutex>& lock);
    static void keepThoseThere(std::vector<ListedPath>& batch);
    // For each path given with its folder's stamp, whether it is still there.
    static std::vector<char> stillInFolders(const std::vector<ListedPath>& listed);
    // Waits for the folders' checker; the paths with a stamp still there.
    std::vector<ListedPath> takeThoseInFolders();

    std::vector<ListedPath> m_batch;  // the owner's, not yet handed over
    // The paths added with their folder's stamp, in the order added; the
    // checker's alone while it runs.
    std::vector<ListedPath> m_stamped;
    std::vector<char> m_stampedThere;  // the checker's answers
    bool m_stampedChecked = false;     // m_stampedThere holds them all
    std::thread m_folderChecker;
    std::size_t m_added = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    // Batches handed over, in the order added, taken in that order; a batch
    // stays where it is while a thread checks it.
    std::deque<std::vector<ListedPath>> m_handed;
    std::size_t m_untaken = 0;  // the first batch of m_handed nobody took
    std::size_t m_inHand = 0;   // batches being checked
    bool m_stopping = false;
    bool m_noHelper = false;
    std::thread m_helper;
};

}  // namespace cli
