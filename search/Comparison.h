// The second phase of a search: the catalogue turned into confirmed groups of duplicates.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "text/Locale.h"
#include "search/CatalogueList.h"
#include "search/ComparisonCache.h"
#include "search/ContentClasses.h"
#include "search/SearchWindow.h"

namespace scanner {
class TTreeScanner;
}

namespace search {

class FileCatalogue;

// The second phase of a search: turns the catalogue into confirmed groups of
// duplicates and writes them into the result list.
class DuplicateComparison {
public:
    DuplicateComparison(SearchWindow& window, FileCatalogue& catalogue,
                        scanner::TTreeScanner& scanner, const bool& keepSearching,
                        const text::Locale& locale);

    bool Comparing = false;
    // Every confirmed member of a group but its first.
    std::int64_t DuplicateCount = 0;
    // The size of each counted member whose contents were compared.
    std::int64_t DuplicateBytes = 0;
    // Read from the window when the comparison starts.
    bool CheckFileStamp = false;
    bool CheckFileName = false;
    // Files of the last comparison that could not be read or changed
    // meanwhile (each also reported to the window).
    std::int64_t LeftOutCount = 0;

    void CompareCatalogue();
    void ShowTotals();

    // Whether the next comparison uses the cache (size mode only).
    bool cacheWanted() const;
    // Starts loading the cache as the walk starts, on a helper thread, with
    // the file systems of `devices` (the start folders'); the comparison
    // then loads only those met later. The same rules as without.
    void prepareCache(const std::vector<dev_t>& devices);
    // Ends the cache's work without turning the event loop, keeping
    // nothing, when a run ends before its comparison (an exception).
    void abandonCache() { dropAside(); }

    // Why the last comparison could not go on (out of descriptors or
    // memory), for the user; empty when it did not fail.
    const std::string& failure() const { return m_failure; }

    // Smaller limits than the catalogue's size would give, for tests.
    std::optional<ReadLimits> limits;

    // The cache of earlier searches, in `cacheFolder`: used and kept up to
    // date when set (size mode only).
    bool useCache = false;
    std::string cacheFolder;
    // Learned entries a batch of the cache's writes during the comparison.
    std::size_t cacheWriteBatch = 4096;
    // Called on the thread that loads or saves the cache, just before;
    // tests learn from it which thread that is.
    std::function<void()> onCacheWork;
    // Reads of file contents in the last comparison.
    std::size_t ReadCount = 0;

private:
    bool sizeMode() const;
    // Takes the catalogue's groups from its end, compares them and writes
    // the duplicates, under idle I/O priority.
    void compareGroups(CatalogueList& catalogue);
    // A group of two or more files: compared (size mode) or written at once
    // (name mode).
    void closeGroup(std::int64_t size, const std::vector<CatalogueList::Entry>& files);
    // Reads until the window has room again, or to the end with `all`.
    void drain(bool all);
    // Writes the groups whose classes are known, in catalogue order.
    void writeReady();
    void writeBlock(const std::vector<std::string>& paths);
    void endOfGroup();
    void reportNameGroup(const std::vector<CatalogueList::Entry>& files);
    void reportLeftOut();
    void fail(int error, const std::string& path);
    // The cache is loaded on a helper thread while the walk goes on (see
    // prepareCache) or the catalogue is sorted, and saved on one while the
    // window waits.
    void startCache();
    // On the cache's thread: a new cache for this search, made and published.
    void publishNewCache();
    void awaitCache();
    void closeCache();
    // Starts `work` on a helper thread (or runs it, when no thread can be
    // had); awaitAside waits for it while the event loop turns, a stop
    // cancelling the cache's work under way.
    // False when no thread could be had and `orHere` is false: nothing ran.
    bool startAside(std::function<void()> work, bool orHere = true);
    // What the cache's thread waits for after its first load: the walk's
    // end (false: the run ends without a comparison).
    bool awaitWalkEnd(std::int64_t& nowNs, std::vector<dev_t>& devices, std::size_t& files);
    void endWalk(bool compare);
    void awaitAside();
    // Ends the helper thread without turning the event loop, when an
    // exception cuts the comparison short.
    void dropAside();
    bool turn();

    SearchWindow& m_window;
    FileCatalogue& m_catalogue;
    scanner::TTreeScanner& m_scanner;
    const bool& m_keepSearching;
    const text::Locale& m_locale;
    bool m_columnsFitted = false;
    std::int64_t m_processed = 0;
    std::unique_ptr<ContentClasses> m_contents;
    std::unique_ptr<ComparisonCache> m_cache;
    // Guards m_cache while the helper thread makes it.
    std::mutex m_cacheLock;
    std::thread m_aside;
    std::mutex m_asideLock;
    std::condition_variable m_asideEnded;
    bool m_asideDone = true;
    std::exception_ptr m_asideThrew;
    // The walk's end as the cache's thread takes it; guarded by m_asideLock.
    struct WalkEnd {
        bool given = false;
        bool compare = false;
        std::int64_t nowNs = 0;
        std::vector<dev_t> devices;
        std::size_t files = 0;
    } m_walkEnd;
    std::condition_variable m_walkEnded;
    bool m_cachePrepared = false;
    ReadLimits m_limits;
    std::string m_failure;
};

}  // namespace search
