// Acting on whole folders that are copies: which folders go, and the run that takes them away.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cleanup/Journal.h"
#include "cleanup/Plan.h"
#include "cleanup/Runner.h"
#include "folders/FolderFinder.h"

namespace cleanup {

// A file of a folder that goes, and the file outside every folder of the
// plan that holds the same bytes (the comparison confirmed it).
struct FolderFile {
    std::string path;  // absolute
    std::int64_t size = 0;
    std::string copy;      // absolute, outside every folder of the plan
    std::string copyRoot;  // the searched folder of the copy, ending with '/'
};

// One folder the plan takes away, with everything in it.
struct PlanFolder {
    std::string path;  // absolute, ending with '/'
    std::string root;  // the searched folder it was found in, ending with '/'
    std::vector<FolderFile> files;
    // What goes with the folder without being a copy: empty files, folders
    // (each below `path`, ending with '/'), links, FIFOs, sockets, devices.
    // Relative to `path`, sorted; said before the action.
    std::vector<std::string> alsoRemoved;
    // Parallel to it: "empty file", "empty folder", "link", "FIFO", "socket"
    // or "device".
    std::vector<std::string> alsoRemovedKinds;
    // Identical folders: the folder of the group that stays. Contained
    // folders: "" (the copies are named file by file).
    std::string keptFolder;
    std::int64_t bytes() const;
};

struct FolderPlan {
    std::vector<PlanFolder> folders;
    // Folders of the result that were not planned, each with why (say,
    // a file whose only copy lies in another folder of the plan).
    std::vector<std::string> notes;
    std::int64_t fileCount() const;
    std::int64_t bytesToReclaim() const;
};

// Which folders of a result a plan takes.
struct FolderChoice {
    bool identical = true;  // same layout and any layout: all but the kept one go
    bool contained = true;  // each contained folder goes
    // When not empty, only these folders (absolute, ending with '/') go; a
    // chosen folder of an identical group is taken even when the keep rules
    // would keep it, as long as another folder of its group stays.
    std::vector<std::string> only;
};

// The folder of an identical group the keep rules keep, as a plan keeps
// it. `decided` is false when a folder or name rule fits no folder of the
// group: the first folder by path order is named then.
struct KeptFolder {
    std::string path;  // ending with '/'
    bool decided = true;
};

// Reads each folder's modification time (without following links) for the
// rules that ask for it.
KeptFolder keptFolderOf(const folders::IdenticalGroup& group, const std::vector<KeepRule>& rules,
                        const std::vector<std::string>& roots);

// Makes the plan from a finder's result (find() called): the keep rules
// choose, as for files, the folder of each identical group that stays; the
// others go, and so does each contained folder. Each folder is listed again
// without following links, so its `alsoRemoved` is what it holds now. A
// folder is planned only when every file in it has a copy outside every
// planned folder: folders are taken in the result's order and one that
// would lose the last copy of anything is left out with a note. Nearly
// contained folders are never planned. `roots` are the searched folders
// (ending with '/').
FolderPlan makeFolderPlan(const folders::FolderFinder& finder,
                          const folders::FolderResult& result,
                          const std::vector<KeepRule>& rules, const FolderChoice& choice,
                          const std::vector<std::string>& roots);

// What makes a folder plan safe to act on: absolute plain paths, no folder
// inside another of the plan, every file inside its folder and every copy
// outside every folder of the plan. False with the first fault.
bool checkFolderPlan(const FolderPlan& plan, std::string& error);

// What became of one folder of the plan (Kept is never used).
struct FolderOutcome {
    Outcome outcome = Outcome::NotReached;
    std::string reason;  // why untouched, or a remark
    std::string target;  // where it went (trash entry or new place)
    std::int64_t reclaimed = 0;
};

struct FolderReport {
    std::vector<FolderOutcome> results;  // parallel to the plan's folders
    bool refused = false;
    std::string refusal;
    bool stopped = false;
    std::string journalError;
    std::int64_t count(Outcome outcome) const;
    std::int64_t bytesReclaimed() const;
};

// Carries out a folder plan, folder by folder, with Trash, Delete or Move
// (within the folder's file system); HardLink and Reflink are refused. For
// each folder: every file is compared byte for byte with its copy; the
// whole folder leaves its name (into the trash, to its move target, or to
// a spare name beside it for a delete); there it is listed again and must
// hold exactly what the plan accounts for (the same files, unchanged, and
// the same other entries), and every copy must still be at its place; only
// then is the action finished, else the folder goes back under its name and
// is reported untouched. A delete then removes only the entries it checked,
// each still as it was; anything else stays, and so does the folder.
// Journaled, so undo puts trashed and moved folders back and a killed run's
// folder away from its name is found again.
class FolderRunner {
public:
    FolderRunner(const FolderPlan& plan, const Action& action, Journal* journal);

    // As Runner's: filesDone/filesToDo count folders, path is the folder.
    std::function<void(const Progress&)> onProgress;
    std::function<bool()> stopRequested;
    // For tests: after the files were compared, before the folder leaves
    // its name; and once it is away, before it is checked again.
    std::function<void(const PlanFolder&)> afterCheck;
    std::function<void(const PlanFolder&)> whileAway;
    // And for a delete, once it is checked, just before it is removed.
    std::function<void(const PlanFolder&)> beforeDelete;

    FolderReport run();

private:
    struct Impl;
    const FolderPlan& m_plan;
    Action m_action;
    Journal* m_journal;
};

}  // namespace cleanup
