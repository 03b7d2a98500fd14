// The steps every front end takes between "these are the groups and marks" and the run.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cleanup/Journal.h"
#include "cleanup/Plan.h"
#include "cleanup/Runner.h"

namespace cleanup {

// The searched folder `path` was found in: the longest of `folders` (each
// ending with '/') that holds it, "" when none does.
std::string searchedFolderOf(const std::string& path, const std::vector<std::string>& folders);

// A file taken out of its group before the run, and why.
struct LeftOut {
    std::size_t group = 0;  // its place among the groups as they were given
    std::size_t index = 0;
    std::string path;
    std::string reason;
};

// Reads the facts of every file again and takes out each file that
// - cannot be reached from its searched folder without following a link,
//   or is no longer a regular file there;
// - is no longer of its listed size (a size of -1 is not checked).
// The files left keep their order. `stopRequested`, when set, is asked
// between groups: true leaves the rest as given. `filesRead`, when given,
// counts the files read, for a progress shown on another thread.
std::vector<LeftOut> rereadFacts(std::vector<InputGroup>& groups,
                                 const std::function<bool()>& stopRequested = {},
                                 std::atomic<std::int64_t>* filesRead = nullptr);

// Whether a move has a folder to go into: the named folder (links in it
// followed, as the user named it) is a folder now. True for every other action.
bool targetFolderReady(const Action& action);

// The groups of the plan whose every file is marked.
std::size_t wholeGroupCount(const Plan& plan);

// What becomes of a group whose every file is marked, since the run never
// takes the last copy.
enum class WholeGroupRule {
    Refuse,           // the whole plan is refused: for a plan that was given, not chosen now
    KeepFirstByPath,  // the group keeps its first file by path order after all
    LeaveAlone,       // the group leaves the plan
};

// Settles the wholly marked groups by `rule`, then checks the plan as
// checkPlan does. `kept` receives the places, among the groups as they were,
// of the groups still in the plan, in order. False with the reason when the
// plan is refused: a wholly marked group under Refuse, or any fault checkPlan
// finds.
bool settlePlan(Plan& plan, WholeGroupRule rule, std::vector<std::size_t>& kept,
                std::string& error);

// Opens a journal of its own for a run that starts now, in `folder` (ending
// with '/', made with mode 0700 when missing), named by newJournalPath.
// `path` receives its path. False with the reason when the folder cannot be
// made or the journal not opened.
bool openNewJournal(const std::string& folder, Journal& journal, std::string& path,
                    std::string& error);

}  // namespace cleanup
