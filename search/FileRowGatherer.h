// The facts of the result list's file rows gathered on a helper thread, handed back in order.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
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

// Gathers file rows' facts (the status call, the version block) on one
// helper thread, so the thread that adds rows does no file I/O for them.
// Rows come back from takeReady() in the order they were added, each once.
// Only the thread that owns the gatherer calls it; the helper starts with
// the first row and ends with the gatherer.
class FileRowGatherer {
public:
    explicit FileRowGatherer(const text::Locale& locale);
    ~FileRowGatherer();
    FileRowGatherer(const FileRowGatherer&) = delete;
    FileRowGatherer& operator=(const FileRowGatherer&) = delete;

    void add(PendingRow row);
    // The rows gathered, in order, up to the first not yet gathered. The
    // helper takes rows added a few dozen at a time, or when this or
    // waitReady() looks for them.
    std::vector<PendingRow> takeReady();
    // Rows added and not yet taken.
    std::size_t pending() const;
    // Waits until a row is ready to be taken, nothing is pending, or `most`
    // has passed.
    void waitReady(std::chrono::milliseconds most);
    // Drops every row not yet taken; a batch being gathered is thrown away.
    void clear();

private:
    void work();
    // Gathers a batch, handing its rows over a few at a time.
    void gatherBatch(std::vector<PendingRow>& batch, std::uint64_t generation);
    void start();
    // Under the lock: room in m_ready for every row added and not handed over.
    void makeRoomForReady();

    const text::Locale m_locale;
    mutable std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_rowsReady;
    std::vector<PendingRow> m_waiting;  // added, not yet taken by the helper
    std::vector<PendingRow> m_ready;    // gathered, in order
    std::size_t m_inHand = 0;           // taken by the helper, not yet handed over
    std::uint64_t m_generation = 0;     // counts clear()s
    bool m_stopping = false;
    std::thread m_helper;
};

}  // namespace search
