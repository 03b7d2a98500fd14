// Carries out a cleanup plan on real files, one marked file at a time, with a kept copy checked.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "cleanup/Journal.h"
#include "cleanup/Plan.h"

namespace cleanup {

struct OpenedFile;

enum class ActionKind { Trash, Delete, HardLink, Reflink, Move };

struct Action {
    ActionKind kind = ActionKind::Trash;
    // Move: the folder the files go into, absolute and ending with '/'. It is
    // taken as named (links in it are followed); what is made below it is not.
    std::string folder;
    // HardLink: also where the link would give the path another owner,
    // group, permissions or extended attributes (those of the kept file).
    bool linkAnyOwner = false;
};

// trash, delete, hardlink, reflink or move:DIR (DIR made absolute against
// `base`). False with the reason.
bool parseAction(const std::string& text, const std::string& base, Action& action,
                 std::string& error);
// "trash", "delete", "hardlink", "reflink", "move".
std::string actionName(ActionKind kind);
// What a file that was acted on is said to be: "trashed", "deleted", ...
std::string actionDoneWord(ActionKind kind);

// What became of one file of the plan.
enum class Outcome {
    Kept,        // a kept file: never touched
    Done,        // the action was carried out
    Untouched,   // left exactly as it was, for `reason`
    NotReached,  // the run was stopped before it
};

struct FileResult {
    Outcome outcome = Outcome::NotReached;
    std::string reason;  // why untouched, or a remark on a done file
    std::string target;  // a moved file's new path
    std::int64_t reclaimed = 0;
};

struct Report {
    // Parallel to the plan's groups and files.
    std::vector<std::vector<FileResult>> results;
    bool refused = false;  // the plan was unsafe, or the journal could not be begun
    std::string refusal;
    bool stopped = false;
    std::string journalError;  // the journal failed part way, which ends the run

    std::int64_t count(Outcome outcome) const;
    std::int64_t bytesReclaimed() const;
};

struct Progress {
    std::int64_t filesDone = 0;
    std::int64_t filesToDo = 0;  // marked files of the plan
    std::string_view path;       // the marked file at hand
    std::int64_t bytesChecked = 0;
    std::int64_t bytesToCheck = 0;
};

// Carries out a plan file by file. Before a marked file is touched it is
// reached again from its searched folder without following a link, and
// compared byte for byte with a kept file of its group, which must be a
// different directory entry, still a regular file of the planned size, and
// not an overlay's path to the marked file itself. Each
// action first takes the marked file away from its name (to a spare name,
// the trash or the move's target; a link or a reflink is built beside it
// instead), checks that the entry it took is the very file it compared and
// that the kept file's path, reached again from its searched folder, still
// names the very file it was compared with, and only then finishes; else
// the file is put back under its name. So two runs that cross each other
// (one keeping A for B, the other B for A) never remove both. Anything
// unsound leaves the file as it was and the run goes on with the next.
// Kept files are only ever read.
class Runner {
public:
    Runner(const Plan& plan, const Action& action, Journal* journal);

    // Called at least once per 256 KiB read, so a window can turn its event loop.
    std::function<void(const Progress&)> onProgress;
    // Asked between files and between chunks: true ends the run once the
    // file at hand is done (a file not yet touched is left as it is).
    std::function<bool()> stopRequested;
    // Called after a marked file has been compared with its kept file and
    // just before it is touched; the tests change the tree here.
    std::function<void(const PlanFile& marked)> afterCheck;
    // Called once a marked file has left its name (or, for a hard link, the
    // link is built), just before the kept file is checked at its place.
    std::function<void(const PlanFile& marked)> whileAway;

    Report run();

private:
    FileResult actOn(const PlanGroup& group, std::size_t index);
    bool check(const PlanGroup& group, std::size_t index, OpenedFile& marked, OpenedFile& kept,
               FileResult& result);
    bool compare(OpenedFile& marked, OpenedFile& kept, FileResult& result);
    FileResult perform(const PlanFile& file, OpenedFile& marked, OpenedFile& kept);
    FileResult trash(const PlanFile& file, OpenedFile& marked, OpenedFile& kept);
    FileResult remove(OpenedFile& marked, OpenedFile& kept);
    FileResult hardLink(OpenedFile& marked, OpenedFile& kept);
    FileResult reflink(OpenedFile& marked, OpenedFile& kept);
    FileResult move(const PlanFile& file, OpenedFile& marked, OpenedFile& kept);
    FileResult moveAcross(OpenedFile& marked, OpenedFile& kept, int targetFolder,
                          const std::string& targetName, const std::string& target);
    void reclaimed(const OpenedFile& marked, FileResult& result);
    std::function<void()> awayHook(const PlanFile& file);
    bool journal(const std::vector<std::string>& fields);
    void progress(std::int64_t checked, std::int64_t toCheck);
    bool stopping();

    const Plan& m_plan;
    Action m_action;
    Journal* m_journal;
    Report m_report;
    std::string m_runId;
    std::string m_stepId;
    std::string m_spare;       // the temporary name of the step at hand
    std::string m_trashInfo;   // the information file of the last file trashed
    std::string m_copyDevice;  // the copy a move to another file system made
    std::string m_copyInode;
    std::vector<char> m_buffers;
    // Per file (device, inode): names of it this run took away without
    // freeing it (trashed or moved), so its last one counts what is freed.
    std::vector<std::pair<std::pair<dev_t, ino_t>, nlink_t>> m_namesAway;
    std::int64_t m_sequence = 0;
    std::int64_t m_filesDone = 0;
    std::int64_t m_filesToDo = 0;
    std::string_view m_path;
};

}  // namespace cleanup
