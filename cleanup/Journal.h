// The journal of a cleanup run: one line per step, written as it happens, read back for undo.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NoFollowOpen.h"

namespace cleanup {

// The record of a cleanup run, one line per step, so that an interrupted run
// leaves a true account and undo knows what to put back. A line is fields
// separated by tabs, the first naming the step. In a field a backslash, a tab
// and every control character are written as \\, \t, \n, \r or \xHH, so any
// path fits on one line and reads back byte for byte.
//
//   gemmora-cleanup-journal  1
//   run       ID  started  action  folder
//   intent    ID  action  path  root  device  inode  spare  size  modified
//   trashing  ID  trash-file  trash-info
//   linking   ID  kept  device  inode
//   done      ID  action  path  root  device  inode  where  extra  size  modified
//             copy-device  copy-inode
//   untouched ID  path  reason
//   end       ID  finished  summary
//
// An intent is written before a file is touched; "spare" is the temporary
// name the step uses in the file's folder (or, for a move, the target);
// a step's temporary names are ".gemmora-" and its ID, and a move to
// another file system copies under that name beside the target. A hard
// link names the kept file it links to before it makes the link. A
// "done" line's "where" is the trash entry, the kept file or the new place,
// "extra" the trash information file or the move folder. Device, inode, size
// and modification time (nanoseconds) tell the file from any other that
// takes its name or its inode number later; a move to another file system
// copies the file, and the copy's device and inode follow.
namespace step {
constexpr char kHeader[] = "gemmora-cleanup-journal";
constexpr char kRun[] = "run";
constexpr char kIntent[] = "intent";
constexpr char kTrashing[] = "trashing";
constexpr char kLinking[] = "linking";
constexpr char kDone[] = "done";
constexpr char kUntouched[] = "untouched";
constexpr char kEnd[] = "end";
}  // namespace step

std::string escapeField(std::string_view field);
// False when the text holds an escape that escapeField never writes.
bool unescapeField(std::string_view text, std::string& field);

class Journal {
public:
    // Opens the journal for appending, making it (mode 0600, never through a
    // link) with its header line when it is new. False with the reason. For
    // a path newJournalPath made; a path the user named goes to openNamed.
    bool open(const std::string& path, std::string& error);
    // Makes a journal of its own for a run that starts now in `folder`, as
    // newJournalPath does, and opens it. False with the reason.
    bool create(const std::string& folder, std::string& error);
    // Opens a journal the user named for appending: a file that is not there
    // yet is made (mode 0600, never over another file); an existing one is
    // taken only when it is a journal. Refused, with the reason: a link, a
    // device, a FIFO, a folder or any other file that is not a regular file;
    // a regular file whose first line is not a journal's header (an empty
    // file is taken as new). A journal whose last line was cut short by a
    // crash gets a line break first, so that line stays apart.
    bool openNamed(const std::string& path, std::string& error);
    // One whole line in one write, so a run that is killed keeps every line
    // before it. False with the reason when it cannot be written.
    bool write(const std::vector<std::string>& fields, std::string& error);
    // Asks the disk to keep what was written.
    void sync();
    const std::string& path() const { return m_path; }
    bool isOpen() const { return m_fd.ok(); }

private:
    platform::UniqueFd m_fd;
    std::string m_path;
};

// The lines of a journal, each split into its fields. False with the reason
// when the file cannot be read or is not a journal; a last line cut short
// by a crash is left out.
bool readJournal(const std::string& path, std::vector<std::vector<std::string>>& lines,
                 std::string& error);
// The same from the journal's text.
bool parseJournal(std::string_view text, std::vector<std::vector<std::string>>& lines,
                  std::string& error);

// Local time as "yyyy-mm-ddThh:mm:ss".
std::string localTimeText();

// The name a journal gets when the user names none:
// "cleanup-yyyymmdd-hhmmss.journal" in local time, so the names of one
// folder sort by the time of their run.
std::string journalFileName();
// Makes a journal of its own for a run that starts now, in `folder` (ending
// with '/', made with mode 0700 when missing) and returns its path:
// journalFileName(), or when a run of the same second has that name,
// "cleanup-yyyymmdd-hhmmss-N.journal" with the first N from 2 that is free.
// The file is created exclusively, with its header line, so two runs that
// start at once never share one; open() then appends to it. "" with errno
// set when no journal can be made there.
std::string newJournalPath(const std::string& folder);
// Every journal named so in `folder`, in the order of their runs.
std::vector<std::string> journalsIn(const std::string& folder);
// The newest journal named so in `folder`, by its time and then its N, or
// "" when the folder holds none.
std::string latestJournal(const std::string& folder);

// What a journal says was done, for asking before it is undone.
struct JournalSummary {
    std::string started;  // the first run's start, as localTimeText gives it
    std::string action;   // the first run's action: "trash", "move", ...
    std::int64_t done = 0;
    // Of the files done, those that went to the trash or were moved.
    std::int64_t canPutBack = 0;
};
// False with the reason when the journal cannot be read.
bool summariseJournal(const std::string& path, JournalSummary& summary, std::string& error);

}  // namespace cleanup
