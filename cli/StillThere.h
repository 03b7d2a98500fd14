// Whether the files a search lists are still there, checked on a helper thread as they come.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cli {

// A listed path and the group it was listed in.
struct ListedPath {
    std::size_t group = 0;
    std::string path;
};

// Checks on one helper thread that each path handed to it is still a regular
// file, so that the search's own thread does not wait on a status call for
// every file it lists; at the end the owner's thread checks beside it what
// is left. Only the thread that owns it calls its members; with no helper
// thread to be had, the checks are made on the owner's.
class StillThere {
public:
    StillThere() = default;
    ~StillThere();
    StillThere(const StillThere&) = delete;
    StillThere& operator=(const StillThere&) = delete;

    void add(std::size_t group, const std::string& path);
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

    std::vector<ListedPath> m_batch;  // the owner's, not yet handed over
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
