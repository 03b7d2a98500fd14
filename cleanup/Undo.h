// Undoes a cleanup from its journal: puts trashed and moved files back where that is safe.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cleanup {

// What undo did with one file a journal names.
struct UndoItem {
    enum Status {
        PutBack,      // it is in its place again
        AlreadyBack,  // it was in its place already (never moved, or put back before)
        NotPutBack,   // it could have been, but was not: `detail` says why
        CannotUndo,   // deleted for good, or linked: nothing to put back
    };
    std::string path;
    Status status = NotPutBack;
    std::string detail;
};

struct UndoReport {
    std::vector<UndoItem> items;
    bool stopped = false;

    std::int64_t count(UndoItem::Status status) const;
};

// Puts back every file a journal says went to the trash or was moved, in
// the order the run took them: from the trash by its entry (checked against
// the trash's information file and the file's inode, so another file that
// took the entry's name is never taken for it), into its old folder made
// again where it has gone, reached without following a link below the
// searched folder. A file whose place has been taken meanwhile stays where
// it is and is reported. Steps an interrupted run began but did not record
// as done are looked for where they would have left the file. Running it
// twice is harmless: what is back already is said to be. `stopRequested` is
// asked between files; `onProgress` learns before each file how many of the
// journal's files were handled and how many it names. False with the reason
// when the journal cannot be read.
bool undoJournal(const std::string& journalPath, UndoReport& report, std::string& error,
                 const std::function<bool()>& stopRequested = {},
                 const std::function<void(std::size_t done, std::size_t total)>& onProgress = {});

// What runs that were killed left beside the files below `folders`
// (absolute, ending with '/'), found from the journals in `journalFolder`
// named as newJournalPath names them: a partial copy of a move, a hidden
// hard link of a kept file, a trash information file without its file.
// Each is removed only while the file it belongs to is in its place, and
// never for a run whose process is still there. One line per file, naming
// it and what was removed.
std::vector<std::string> removeLeftoversOfKilledRuns(const std::string& journalFolder,
                                                     const std::vector<std::string>& folders);

}  // namespace cleanup
