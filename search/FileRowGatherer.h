// The facts of the result list's file rows gathered on helper threads, handed back in order.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "search/FileRow.h"
#include "text/Locale.h"

namespace search {

// A row on its way to the result list. A file row's facts are gathered; any
// other row (a header, a separator, the end of a group) is the client's to
// tell apart by `kind` and waits its turn behind the files added before it.
struct PendingRow {
    int kind = 0;
    bool isFile = false;
    std::string text;    // a file's path, or the row's caption
    bool found = false;  // a file row: the path was a regular file when gathered
    FileRowFacts facts;  // a file row's, when found; the type is the extension's
};

// Gathers file rows' facts (the status call, the version block) on a few
// helper threads, so the thread that adds rows does no file I/O for them.
// Each helper takes the next few rows in turn; rows come back from
// takeReady() in the order they were added, each once. Only the thread that
// owns the gatherer calls it; the helpers start with the first row and end
// with the gatherer.
class FileRowGatherer {
public:
    explicit FileRowGatherer(const text::Locale& locale);
    ~FileRowGatherer();
    FileRowGatherer(const FileRowGatherer&) = delete;
    FileRowGatherer& operator=(const FileRowGatherer&) = delete;

    void add(PendingRow row);
    // The rows gathered, in order, up to the first not yet gathered. The
    // helpers take rows added a few dozen at a time, or when this or
    // waitReady() looks for them.
    std::vector<PendingRow> takeReady();
    // The same into `rows`, whose room is kept for the rows after these:
    // taken often, no room is made anew each time.
    void takeReady(std::vector<PendingRow>& rows);
    // Rows added and not yet taken.
    std::size_t pending() const;
    // Waits until a row is ready to be taken, nothing is pending, or `most`
    // has passed.
    void waitReady(std::chrono::milliseconds most);
    // Waits until at most `rows` rows are still to be gathered, or `most`
    // has passed. The helpers wake the waiter once, when that is so, rather
    // than at every few rows they hand over: the threads go on with longer
    // stretches of work.
    void waitFewer(std::size_t rows, std::chrono::milliseconds most);
    // Drops every row not yet taken; the rows being gathered are thrown away.
    void clear();
    // About how many rows the helpers gather in `time` at their recent pace;
    // 0 before they have gathered any.
    std::size_t rowsWithin(std::chrono::milliseconds time) const;

private:
    // A few rows in a helper's hands; handed over when it and every part
    // taken before it are gathered.
    struct Part {
        std::vector<PendingRow> rows;
        bool gathered = false;
    };
    using PartPtr = std::shared_ptr<Part>;

    void work();
    // Under the lock: the next rows waiting, as a part in line; null when
    // none wait.
    PartPtr takePart();
    // Under the lock: the parts gathered at the front of the line go to
    // m_ready; true when the adding thread should wake.
    bool handOver();
    void start();
    // Under the lock: room in m_ready for every row added and not handed over.
    void makeRoomForReady();
    // Under the lock: parts for the rows waiting, and room in m_parts.
    void makeRoomForParts();

    const text::Locale m_locale;
    mutable std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_rowsReady;
    std::deque<PendingRow> m_waiting;  // added, not yet taken by a helper
    // Taken by the helpers, in the order added, from m_partsHead on; its
    // room and the parts in m_spares are made by the adding thread, so that
    // a helper allocates nothing.
    std::vector<PartPtr> m_parts;
    std::size_t m_partsHead = 0;
    std::vector<PartPtr> m_spares;     // empty parts, room for kHandOver rows each
    std::vector<PendingRow> m_ready;   // gathered, in order
    std::size_t m_inHand = 0;          // rows of m_parts
    // A hand-over wakes the waiter when at most m_wakeAt rows are left to
    // gather; any hand-over when none is set.
    static constexpr std::size_t kAnyHandOver = static_cast<std::size_t>(-1);
    std::size_t m_wakeAt = kAnyHandOver;
    std::uint64_t m_generation = 0;  // counts clear()s
    // A helper's recent time for a row (file rows and others alike),
    // averaged over the latest parts.
    std::chrono::nanoseconds m_rowTime{0};
    bool m_stopping = false;
    std::vector<std::thread> m_helpers;
};

}  // namespace search
