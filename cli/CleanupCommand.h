// gemmora-cli's cleanup: the plan from a search or a list, the run, the journal and undo.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cli {

// The cleanup options of gemmora-cli, gathered while the command line is
// read: keep rules, an action, a list to act on, a journal, an undo.
struct CleanupOptions {
    std::vector<std::string> keep;
    std::string action;
    bool dryRun = false;
    bool yes = false;
    bool linkAnyOwner = false;
    std::string fromList;
    std::string journal;
    std::string undo;

    enum Taken { NotMine, Took, Bad };
    // Takes argv[i], and its value (moving i on), when it is a cleanup
    // option; Bad with the reason in `error` when its value is missing.
    Taken take(int argc, char** argv, int& i, std::string& error);

    // Any cleanup option was given.
    bool wanted() const;
    // The command needs no search: it acts on --from-list or undoes.
    bool standalone() const { return !fromList.empty() || !undo.empty(); }
    // Whether the options fit together and with the rest; "" when they do.
    std::string check(const std::string& format, bool null, bool haveFolders) const;
};

// How the plan, the report or the undo is written.
struct CleanupOutput {
    std::string format = "list";  // list, paths or json
    bool null = false;
    bool quiet = false;
    std::string file;  // -o: "" for standard output
    // Writes the text to `file` or standard output as every result of the
    // program is written; false with errno set.
    std::function<bool(const std::string&)> write;
};

// Makes a plan of the groups (or of --from-list), shows it, and acts on it
// with --yes; or undoes a journal. `folders`: the searched folders, or with
// --from-list the folders named, resolved and ending with '/'; `groups`: the
// paths of each group a search found, or nullptr when there was no search.
// Returns the exit status: 0 all done, 1 stopped, 2 bad usage or a refused
// plan, 3 some files left untouched (or not put back).
int runCleanup(const CleanupOptions& options, const std::vector<std::string>& folders,
               const std::vector<std::vector<std::string>>* groups, const CleanupOutput& output);

}  // namespace cli
