// The second phase of a search: the catalogue turned into confirmed groups of duplicates.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/Comparison.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <exception>
#include <malloc.h>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/FolderListing.h"
#include "platform/HelperThread.h"
#include "platform/IoPriority.h"
#include "text/Text.h"
#include "scanner/TreeScan.h"
#include "search/FileCatalogue.h"

namespace search {

namespace {

// The comparison's buffers (chunks of a few hundred kilobytes, made and freed
// by the thousand) come from the heap and stay in it: the C library would
// otherwise map each one afresh and fault its pages in, which cost a search
// of 200,000 files a third more time. Its own rule does so only after it
// has freed a large mapped block, which a search may never do.
void keepBuffersOnTheHeap()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
        ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    });
}

}  // namespace

namespace {

const char kHeader[] = "Duplicate files .....";

// Every entry counts as the same size in name mode.
constexpr std::int64_t kNameModeSize = 0;

}  // namespace

DuplicateComparison::DuplicateComparison(SearchWindow& window, FileCatalogue& catalogue,
                                         scanner::TTreeScanner& scanner, const bool& keepSearching,
                                         const text::Locale& locale)
    : m_window(window), m_catalogue(catalogue), m_scanner(scanner), m_keepSearching(keepSearching),
      m_locale(locale)
{
}

bool DuplicateComparison::sizeMode() const
{
    return m_catalogue.CheckFileSize;
}

void DuplicateComparison::ShowTotals()
{
    m_window.setStatusText(1, "Bytes: " + text::formatCount(DuplicateBytes, m_locale));
    m_window.setStatusText(2, "Files: " + text::formatCount(DuplicateCount, m_locale));
}

bool DuplicateComparison::turn()
{
    m_window.processEvents();
    return m_keepSearching;
}

void DuplicateComparison::CompareCatalogue()
{
    Comparing = true;
    DuplicateBytes = 0;
    DuplicateCount = 0;
    LeftOutCount = 0;
    m_processed = 0;
    m_failure.clear();
    ResultList& list = m_window.resultList();

    list.fitColumns();
    m_columnsFitted = false;
    list.beginUpdate();

    CatalogueList& catalogue = m_catalogue.Catalogue;
    ReadCount = 0;
    struct AsideEnds {
        DuplicateComparison& comparison;
        ~AsideEnds() { comparison.dropAside(); }
    } asideEnds{*this};
    startCache();
    catalogue.sortNow([this] { m_window.processEvents(); });
    m_window.setProgressMax(catalogue.empty() ? 1
                                              : static_cast<std::int64_t>(catalogue.size()) - 1);
    m_window.showProgress(true);
    CheckFileStamp = m_window.checked(Check::CheckFileTimestamp);
    CheckFileName = m_window.checked(Check::CheckFilename);
    m_window.setCaption(Caption::FileListCaption, "Comparing files ...");
    list.clear();
    awaitCache();

    keepBuffersOnTheHeap();
    compareGroups(catalogue);

    m_window.setCaption(Caption::FileListCaption,
                        "What duplicates were found - double-click a file to review ...");
    list.setHint("Double-click a file to review");
    m_window.setStatusText(3, m_scanner.KeepScanning ? "Scan complete" : "Scan interrupted");
    if (!m_keepSearching || !m_failure.empty()) {
        m_window.setStatusText(3, "Comparison interrupted");
    }
    if (DuplicateCount != 0) {
        m_window.setStatusText(0, "Duplicates found....");
    }
    m_window.setWaitCursor(true);
    list.endUpdate();
    list.fitColumns();
    m_columnsFitted = false;
    m_window.setWaitCursor(false);
    m_window.showProgress(false);
    m_window.setProgressPosition(0);
    closeCache();
    m_catalogue.release();
    Comparing = false;
    m_window.setCaption(Caption::SearchButton, "Find Now");
    if (!m_failure.empty()) {
        m_window.showMessage(m_failure);
    }
}

void DuplicateComparison::compareGroups(CatalogueList& catalogue)
{
    // Reading thousands of files must not slow down what the user is doing.
    const platform::IdleIoPriority idle;
    const bool bySize = sizeMode();
    m_limits = limits ? *limits : ReadLimits::forCatalogue(catalogue.size());
    // The readers end with the comparison, however it ends.
    struct Readers {
        std::unique_ptr<ContentClasses>& contents;
        std::size_t& reads;
        ~Readers()
        {
            reads += contents ? contents->reads() : 0;
            contents.reset();
        }
    } readers{m_contents, ReadCount};
    try {
        std::int64_t previousSize = -1;
        // The previous entry by value: its name stays in the catalogue's
        // name buffer, and paths are made only for members of groups.
        CatalogueList::Entry previous;
        bool inGroup = false;
        std::vector<CatalogueList::Entry> files;

        while (!catalogue.empty() && m_keepSearching && m_failure.empty()) {
            const CatalogueList::Entry entry = catalogue[catalogue.size() - 1];
            const std::int64_t size = bySize ? entry.size : kNameModeSize;
            const bool same =
                size == previousSize &&
                (!CheckFileName ||
                 text::equalFold(catalogue.nameOf(entry), catalogue.nameOf(previous)));

            if (same && !inGroup) {
                files.clear();
                files.push_back(previous);
                if (bySize) {
                    const std::string count = text::formatCount(previousSize, m_locale);
                    m_window.setStatusText(3, CheckFileName
                                                  ? "Comparing " + count +
                                                        " byte files with the same name ..."
                                                  : "Comparing " + count + " byte files ...");
                } else {
                    m_window.setStatusText(3, "Comparing files with the same name ...");
                }
                m_window.repaintStatusBar();
            }
            inGroup = same;
            if (!same && !files.empty()) {
                closeGroup(previousSize, files);
                files.clear();
            } else if (same) {
                files.push_back(entry);
            }

            previousSize = size;
            previous = entry;
            ++m_processed;
            catalogue.removeLast();
            if ((m_processed & 1023) == 0) {
                m_window.setProgressPosition(m_processed);
            }
            m_window.processEvents();
        }
        // A group cut short by a stop is not compared.
        if (!files.empty() && m_keepSearching && m_failure.empty()) {
            closeGroup(previousSize, files);
        }
        if (m_contents && m_keepSearching && m_failure.empty()) {
            drain(true);
        }
    } catch (const std::bad_alloc&) {
        // The readers stop before their work goes; the front end says
        // what happened and keeps the whole groups written so far.
        m_contents.reset();
        throw;
    }
}

void DuplicateComparison::closeGroup(std::int64_t size,
                                     const std::vector<CatalogueList::Entry>& files)
{
    if (!sizeMode()) {
        reportNameGroup(files);
        return;
    }
    if (!m_contents) {
        // The readers start with the first group: a search without one
        // needs none.
        m_contents = std::make_unique<ContentClasses>(m_catalogue, CheckFileStamp, m_limits);
        m_contents->recordOutcomes(m_cache != nullptr);
    }
    if (m_cache) {
        const std::vector<cache::Known> known = m_cache->known(files);
        m_contents->addGroup(size, files, &known);
    } else {
        m_contents->addGroup(size, files);
    }
    if (m_contents->filesInWindow() >= m_limits.windowFiles) {
        drain(false);
    }
}

void DuplicateComparison::drain(bool all)
{
    while (true) {
        writeReady();
        if (!m_keepSearching || !m_failure.empty() || m_contents->empty()) {
            return;
        }
        if (!all && m_contents->filesInWindow() < m_limits.windowFiles) {
            return;
        }
        const std::string count = text::formatCount(m_contents->frontSize(), m_locale);
        m_window.setStatusText(3, CheckFileName
                                      ? "Comparing " + count + " byte files with the same name ..."
                                      : "Comparing " + count + " byte files ...");
        const ContentClasses::Outcome outcome = m_contents->pump([this] { return turn(); });
        reportLeftOut();
        if (outcome == ContentClasses::Outcome::Stopped) {
            return;
        }
        if (outcome == ContentClasses::Outcome::Failed) {
            fail(m_contents->failure(), m_contents->failurePath());
            return;
        }
    }
}

void DuplicateComparison::writeReady()
{
    while (m_contents->frontReady()) {
        const ContentClasses::Finished done = m_contents->takeFront();
        if (m_cache) {
            m_cache->learn(done);
        }
        for (const std::vector<std::string>& block : done.blocks) {
            const auto others = static_cast<std::int64_t>(block.size()) - 1;
            DuplicateCount += others;
            DuplicateBytes += others * done.size;
        }
        if (!done.blocks.empty()) {
            m_window.processEvents();
        }
        for (const std::vector<std::string>& block : done.blocks) {
            writeBlock(block);
        }
        endOfGroup();
        if (!m_keepSearching) {
            return;
        }
    }
}

void DuplicateComparison::writeBlock(const std::vector<std::string>& paths)
{
    ResultList& list = m_window.resultList();
    if (list.rowCount() > 0) {
        list.addRow("");
    }
    list.addRow(kHeader);
    for (const std::string& path : paths) {
        list.addFile(path);
        m_window.processEvents();
    }
}

void DuplicateComparison::endOfGroup()
{
    ShowTotals();
    m_window.setProgressPosition(m_processed);
    ResultList& list = m_window.resultList();
    if (!m_columnsFitted && DuplicateCount > 0) {
        list.fixColumns();
        list.refresh();
        m_columnsFitted = true;
    }
    list.setRedraw(false);
    list.setRedraw(true);
}

void DuplicateComparison::reportNameGroup(const std::vector<CatalogueList::Entry>& files)
{
    // Name mode confirms every file of the same name without reading it.
    m_window.setProgressMax(static_cast<std::int64_t>(files.size()) - 1);
    std::vector<std::string> paths;
    for (std::size_t j = 0; j < files.size(); ++j) {
        paths.push_back(m_catalogue.pathOf(files[j]));
        if (j > 0) {
            ++DuplicateCount;
        }
        m_window.processEvents();
        if (!m_keepSearching) {
            break;
        }
    }
    if (paths.size() >= 2) {
        m_window.setProgressPosition(static_cast<std::int64_t>(files.size()) - 1);
        ShowTotals();
        m_window.setStatusText(3, "Comparing files named: " +
                                      text::upperCase(platform::nameOf(paths.front())));
        writeBlock(paths);
    }
    endOfGroup();
}

void DuplicateComparison::reportLeftOut()
{
    for (const LeftOutFile& file : m_contents->takeLeftOut()) {
        ++LeftOutCount;
        m_window.reportLeftOut(file);
    }
}

bool DuplicateComparison::cacheWanted() const
{
    return useCache && sizeMode();
}

void DuplicateComparison::prepareCache(const std::vector<dev_t>& devices)
{
    m_cache.reset();
    m_cachePrepared = false;
    if (!cacheWanted()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(m_asideLock);
        m_walkEnd = WalkEnd();
    }
    // Without a thread of its own, the cache is loaded after the walk.
    m_cachePrepared = startAside(
        [this, devices] {
            publishNewCache();
            m_cache->open(devices);
            std::int64_t nowNs = 0;
            std::vector<dev_t> all;
            std::size_t files = 0;
            if (awaitWalkEnd(nowNs, all, files)) {
                m_cache->load(nowNs, all, files);
            }
        },
        false);
}

bool DuplicateComparison::awaitWalkEnd(std::int64_t& nowNs, std::vector<dev_t>& devices,
                                       std::size_t& files)
{
    std::unique_lock<std::mutex> hold(m_asideLock);
    m_walkEnded.wait(hold, [this] { return m_walkEnd.given; });
    nowNs = m_walkEnd.nowNs;
    devices.swap(m_walkEnd.devices);
    files = m_walkEnd.files;
    return m_walkEnd.compare;
}

void DuplicateComparison::endWalk(bool compare)
{
    {
        const std::lock_guard<std::mutex> hold(m_asideLock);
        m_walkEnd.given = true;
        m_walkEnd.compare = compare;
    }
    m_walkEnded.notify_one();
}

void DuplicateComparison::startCache()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    // The entries added, not size(): that would sort the catalogue here,
    // in one go, rather than in slices while the cache loads.
    const CatalogueList& list = m_catalogue.Catalogue;
    if (m_cachePrepared) {
        // The thread loading since the walk began loads what the walk met
        // beyond the start folders' file systems.
        m_cachePrepared = false;
        {
            const std::lock_guard<std::mutex> hold(m_asideLock);
            m_walkEnd.nowNs = nowNs;
            m_walkEnd.devices = list.devices();
            m_walkEnd.files = list.added();
        }
        endWalk(true);
        return;
    }
    m_cache.reset();
    if (!cacheWanted()) {
        return;
    }
    // The mount table, the UUIDs and the cache file are read off the
    // window's thread: a slow disk must not freeze the window.
    startAside([this, nowNs, devices = list.devices(), files = list.added()] {
        publishNewCache();
        m_cache->load(nowNs, devices, files);
    });
}

void DuplicateComparison::publishNewCache()
{
    auto made = std::make_unique<ComparisonCache>(m_catalogue.Catalogue, cacheFolder);
    made->writeBatch = cacheWriteBatch;
    // Published under the lock, so that a stop can cancel its work.
    const std::lock_guard<std::mutex> lock(m_cacheLock);
    m_cache = std::move(made);
}

void DuplicateComparison::awaitCache()
{
    awaitAside();
}

void DuplicateComparison::closeCache()
{
    awaitAside();  // a load still under way when the comparison was cut short
    if (!m_cache) {
        return;
    }
    startAside([this] { m_cache->save(); });
    awaitAside();
    for (const std::string& note : m_cache->takeNotes()) {
        m_window.showMessage(note);
    }
    m_cache.reset();
}

bool DuplicateComparison::startAside(std::function<void()> work, bool orHere)
{
    m_asideDone = false;
    m_asideThrew = nullptr;
    auto body = [this, work = std::move(work)] {
        try {
            if (onCacheWork) {
                onCacheWork();
            }
            work();
        } catch (...) {
            m_asideThrew = std::current_exception();
        }
        const std::lock_guard<std::mutex> hold(m_asideLock);
        m_asideDone = true;
        m_asideEnded.notify_one();
    };
    try {
        m_aside = platform::startHelperThread(body);
    } catch (const std::system_error&) {
        if (!orHere) {
            m_asideDone = true;
            return false;
        }
        body();  // no thread to be had: the work is short enough to wait for
    }
    return true;
}

void DuplicateComparison::dropAside()
{
    if (!m_aside.joinable()) {
        return;
    }
    m_cachePrepared = false;
    endWalk(false);
    {
        const std::lock_guard<std::mutex> cacheHold(m_cacheLock);
        if (m_cache) {
            m_cache->cancel();
        }
    }
    m_aside.join();
    m_cache.reset();
}

void DuplicateComparison::awaitAside()
{
    bool cancelled = false;
    // The window turns at most every 20 ms on its own; waiting in short steps
    // keeps the work done just before the wait from adding a whole step to
    // the window's longest gap.
    std::unique_lock<std::mutex> hold(m_asideLock);
    while (!m_asideEnded.wait_for(hold, std::chrono::milliseconds(4),
                                  [this] { return m_asideDone; })) {
        hold.unlock();
        m_window.processEvents();
        if (!m_keepSearching && !cancelled) {
            const std::lock_guard<std::mutex> cacheHold(m_cacheLock);
            if (m_cache) {
                m_cache->cancel();
                cancelled = true;
            }
        }
        hold.lock();
    }
    hold.unlock();
    if (m_aside.joinable()) {
        m_aside.join();
    }
    if (m_asideThrew) {
        std::exception_ptr thrown = m_asideThrew;
        m_asideThrew = nullptr;
        std::rethrow_exception(thrown);
    }
}

void DuplicateComparison::fail(int error, const std::string& path)
{
    m_failure = "The comparison could not go on: " + std::string(std::strerror(error));
    if (!path.empty()) {
        m_failure += " (" + text::displayName(path) + ")";
    }
    m_failure += ".\nThe duplicates found until then are listed.";
}

}  // namespace search
