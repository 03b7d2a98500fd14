// gemmora-cli's cleanup: the plan from a search or a list, the run, the journal and undo.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/WholeFile.h"
#include "cli/CleanupCommand.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cleanup/Journal.h"
#include "cleanup/OutputPlace.h"
#include "cleanup/Plan.h"
#include "cleanup/PlanText.h"
#include "cleanup/Prepare.h"
#include "cleanup/Runner.h"
#include "cleanup/Undo.h"
#include "cli/CleanupSteps.h"
#include "cli/CleanupText.h"
#include "cli/CliWindow.h"
#include "platform/FolderListing.h"
#include "text/Locale.h"
#include "text/StringList.h"
#include "text/Text.h"
#include "settings/SavedLists.h"

namespace cli {

CleanupOptions::Taken CleanupOptions::take(int argc, char** argv, int& i, std::string& error)
{
    const std::string arg = argv[i];
    if (arg == "--dry-run") {
        dryRun = true;
        return Took;
    }
    if (arg == "--yes") {
        yes = true;
        return Took;
    }
    if (arg == "--link-any-owner") {
        linkAnyOwner = true;
        return Took;
    }
    if (arg != "--keep" && arg != "--action" && arg != "--from-list" && arg != "--journal" &&
        arg != "--undo") {
        return NotMine;
    }
    if (i + 1 >= argc) {
        error = "option " + arg + " needs a value";
        return Bad;
    }
    const std::string value = argv[++i];
    if (arg == "--keep") {
        keep.push_back(value);
    } else if (arg == "--action") {
        action = value;
    } else if (arg == "--from-list") {
        fromList = value;
    } else if (arg == "--journal") {
        journal = value;
    } else {
        undo = value;
    }
    return Took;
}

bool CleanupOptions::wanted() const
{
    return !keep.empty() || !action.empty() || dryRun || yes || linkAnyOwner || !fromList.empty() ||
           !journal.empty() || !undo.empty();
}

std::string CleanupOptions::check(const std::string& format, bool null, bool haveFolders) const
{
    if (format == "json" && !wanted()) {
        return "--format json is for a cleanup (--action) or --undo";
    }
    if (!undo.empty()) {
        if (!keep.empty() || !action.empty() || dryRun || yes || linkAnyOwner ||
            !fromList.empty() || !journal.empty() || haveFolders) {
            return "--undo JOURNAL takes no FOLDER and no other cleanup option";
        }
        return "";
    }
    if (!wanted()) {
        return "";
    }
    if (action.empty()) {
        return "--keep, --dry-run, --yes, --from-list and --journal need --action";
    }
    if (dryRun && yes) {
        return "--dry-run and --yes contradict each other";
    }
    if (linkAnyOwner && action != "hardlink") {
        return "--link-any-owner is for --action hardlink";
    }
    if (null && format != "paths") {
        return "--null needs --format paths";
    }
    if (fromList.empty() && !haveFolders) {
        return "no FOLDER to search and no --from-list";
    }
    return "";
}

std::string currentFolder()
{
    const std::string folder = platform::currentFolder();
    return folder.empty() ? "/" : folder;
}

bool parseRules(const std::vector<std::string>& texts, std::vector<cleanup::KeepRule>& rules,
                std::string& error)
{
    for (const std::string& text : texts) {
        cleanup::KeepRule rule;
        if (!cleanup::parseKeepRule(text, rule, error)) {
            return false;
        }
        if (rule.kind == cleanup::KeepRule::InFolder ||
            rule.kind == cleanup::KeepRule::NotInFolder) {
            std::vector<std::string> folders;
            for (const std::string& value : rule.values) {
                for (std::string& form : cleanup::folderForms(value, currentFolder())) {
                    folders.push_back(std::move(form));
                }
            }
            rule.values = std::move(folders);
        }
        rules.push_back(std::move(rule));
    }
    return true;
}

int fail(const std::string& message, int status)
{
    std::fprintf(stderr, "gemmora-cli: %s\n", message.c_str());
    return status;
}

int emit(const CleanupOutput& output, const std::string& text, std::size_t leftOut)
{
    if (leftOut > 0) {
        std::fprintf(stderr,
                     "gemmora-cli: %zu paths hold a line break and were left out; --format json "
                     "shows every path\n",
                     leftOut);
    }
    if (!output.write(text)) {
        return fail("cannot write " + (output.file.empty() ? "the results" : output.file) + ": " +
                        std::strerror(errno),
                    2);
    }
    return 0;
}

namespace {

// Refuses an -o that would be written over, or among, the files an undo
// puts back: below the searched folders the journal names, or in the
// folder of a file it names without one.
bool checkUndoOutput(const std::string& journal, const CleanupOutput& output, std::string& error)
{
    std::vector<std::vector<std::string>> lines;
    if (output.file.empty() || !cleanup::readJournal(journal, lines, error)) {
        return true;  // the undo says why it cannot read the journal
    }
    cleanup::Plan plan;
    plan.groups.emplace_back();
    std::vector<std::string> folders;
    for (const std::vector<std::string>& line : lines) {
        if (line.size() >= 5 && line[0] == cleanup::step::kIntent) {
            plan.groups[0].files.push_back({{line[3], line[4]}, cleanup::Role::Mark});
            folders.push_back(line[4].empty() ? std::string(platform::folderOf(line[3])) : line[4]);
        }
    }
    std::string reason;
    if (!cleanup::checkOutputPlace(output.file, plan, folders, reason)) {
        error = "-o " + output.file + " is refused: " + reason;
        return false;
    }
    return true;
}

int runUndo(const CleanupOptions& options, const CleanupOutput& output)
{
    cleanup::UndoReport report;
    std::string error;
    if (!checkUndoOutput(options.undo, output, error)) {
        return fail(error + "; nothing was put back", 2);
    }
    if (!cleanup::undoJournal(options.undo, report, error, [] { return g_stopRequested != 0; })) {
        return fail("cannot undo " + options.undo + ": " + error, 2);
    }
    std::size_t leftOut = 0;
    const std::string text = undoText(report, options.undo, output.format, output.null, leftOut);
    if (const int status = emit(output, text, leftOut); status != 0) {
        return status;
    }
    const std::int64_t missed = report.count(cleanup::UndoItem::NotPutBack);
    if (!output.quiet) {
        // A folder cleanup's journal names folders, each ending with '/'.
        const bool folders = !report.items.empty() && !report.items.front().path.empty() &&
                             report.items.front().path.back() == '/';
        const std::int64_t putBack = report.count(cleanup::UndoItem::PutBack);
        std::fprintf(stderr, "%lld %s put back, %lld not put back, %lld cannot be undone%s\n",
                     static_cast<long long>(putBack),
                     putBack == 1 ? (folders ? "folder" : "file") : (folders ? "folders" : "files"),
                     static_cast<long long>(missed),
                     static_cast<long long>(report.count(cleanup::UndoItem::CannotUndo)),
                     report.stopped ? "; stopped" : "");
    }
    // Files deleted for good or linked cannot come back as they were: say so.
    const std::int64_t notUndone = missed + report.count(cleanup::UndoItem::CannotUndo);
    return report.stopped ? 1 : notUndone > 0 ? 3 : 0;
}

}  // namespace

// The action and the keep rules the command line chose; 0, or the exit
// status of a choice refused.
int readChoices(const CleanupOptions& options, CleanupContext& context,
                std::vector<cleanup::KeepRule>& rules)
{
    std::string error;
    if (!cleanup::parseAction(options.action, currentFolder(), context.action, error)) {
        return fail(error, 2);
    }
    context.action.linkAnyOwner = options.linkAnyOwner;
    if (!cleanup::targetFolderReady(context.action)) {
        return fail("not a folder to move into: " + context.action.folder, 2);
    }
    if (!parseRules(options.keep, rules, error)) {
        return fail(error, 2);
    }
    for (const cleanup::KeepRule& rule : rules) {
        context.rules.push_back(cleanup::describeRule(rule));
    }
    return 0;
}

namespace {

// What the cleanup acts on, as gathered from a search or a list: a plan the
// list gave, or groups to make one of.
struct Gathered {
    cleanup::Plan plan;
    std::vector<cleanup::InputGroup> input;
    bool isPlan = false;
    std::size_t outside = 0;  // files of the list outside the folders named
};

void takeSearchGroups(const std::vector<std::vector<std::string>>& groups,
                      const std::vector<std::string>& folders, Gathered& gathered)
{
    for (const std::vector<std::string>& paths : groups) {
        cleanup::InputGroup group;
        for (const std::string& path : paths) {
            group.push_back({path, cleanup::searchedFolderOf(path, folders)});
        }
        gathered.input.push_back(std::move(group));
    }
}

// Reads --from-list; 0, or the exit status of a list that cannot be taken.
int readList(const CleanupOptions& options, const std::vector<std::string>& folders, bool haveRules,
             Gathered& gathered)
{
    std::string text;
    if (!platform::readWholeFile(options.fromList, text)) {
        return fail("cannot read " + options.fromList + ": " + std::strerror(errno), 2);
    }
    cleanup::ListContents contents;
    std::string error;
    if (!cleanup::parseListText(text, contents, error)) {
        return fail(options.fromList + ": " + error, 2);
    }
    gathered.isPlan = contents.isPlan;
    if (gathered.isPlan && haveRules) {
        return fail(options.fromList + " is a plan, which says itself what to keep: no --keep", 2);
    }
    // Only what lies below a folder named is acted on, when folders are
    // named. A path that is not absolute and plain stays, so that the plan
    // is refused for it as it is without folders.
    auto place = [&](cleanup::FileFacts& file) {
        file.root = cleanup::searchedFolderOf(file.path, folders);
        const bool in = folders.empty() || !file.root.empty() ||
                        cleanup::plainPath(file.path, "/", false) != file.path;
        gathered.outside += in ? 0 : 1;
        return in;
    };
    for (cleanup::PlanGroup& group : contents.plan.groups) {
        cleanup::PlanGroup kept;
        kept.note = group.note;
        for (cleanup::PlanFile& file : group.files) {
            if (place(file.file)) {
                kept.files.push_back(std::move(file));
            }
        }
        gathered.plan.groups.push_back(std::move(kept));
    }
    for (cleanup::InputGroup& group : contents.groups) {
        cleanup::InputGroup kept;
        for (cleanup::FileFacts& file : group) {
            if (place(file)) {
                kept.push_back(std::move(file));
            }
        }
        gathered.input.push_back(std::move(kept));
    }
    return 0;
}

// Makes the plan of the gathered groups by the rules, with each file's facts
// read now; says which files were left alone. A plan the list gave stands.
void makeGatheredPlan(Gathered& gathered, const std::vector<cleanup::KeepRule>& rules, bool quiet,
                      bool& leftAlone)
{
    if (!gathered.isPlan) {
        const std::vector<cleanup::LeftOut> unreachable = cleanup::rereadFacts(gathered.input);
        gathered.plan = cleanup::makePlan(gathered.input, rules);
        for (const cleanup::LeftOut& file : unreachable) {
            std::fprintf(stderr, "gemmora-cli: left alone, %s: %s\n",
                         text::displayName(file.path).c_str(), file.reason.c_str());
        }
        leftAlone = !unreachable.empty();
        // A group down to one file has nothing to do.
        gathered.plan.groups.erase(
            std::remove_if(gathered.plan.groups.begin(), gathered.plan.groups.end(),
                           [](const cleanup::PlanGroup& group) { return group.files.size() < 2; }),
            gathered.plan.groups.end());
    }
    if (gathered.outside > 0 && !quiet) {
        std::fprintf(stderr,
                     "gemmora-cli: %zu files of the list lie outside the folders named and are "
                     "left alone\n",
                     gathered.outside);
    }
}

// Writes the plan and what acting on it would do; the exit status.
int showDryRun(const cleanup::Plan& plan, const CleanupContext& context,
               const CleanupOutput& output)
{
    std::size_t leftOut = 0;
    const std::string text = planText(plan, context, output.format, output.null, leftOut);
    if (const int status = emit(output, text, leftOut); status != 0) {
        return status;
    }
    if (!output.quiet) {
        const text::Locale locale;
        std::fprintf(stderr,
                     "Dry run, nothing was changed: %zu groups, %lld files marked to %s, "
                     "%s bytes.\nAdd --yes to act.\n",
                     plan.groups.size(), static_cast<long long>(plan.markedCount()),
                     cleanup::actionName(context.action.kind).c_str(),
                     text::formatCount(plan.bytesToReclaim(), locale).c_str());
    }
    return 0;
}

}  // namespace

// Refuses an output or a journal that the run would write over, or among,
// the files it acts on.
bool checkOutputs(const CleanupOptions& options, const CleanupOutput& output,
                  const cleanup::Plan& plan, const cleanup::Action& action,
                  std::vector<std::string> folders, std::string& error)
{
    if (action.kind == cleanup::ActionKind::Move) {
        folders.push_back(action.folder);
    }
    std::string reason;
    if (!output.file.empty() && !cleanup::checkOutputPlace(output.file, plan, folders, reason)) {
        error = "-o " + output.file + " is refused: " + reason;
        return false;
    }
    const std::string journal = cleanup::plainPath(options.journal, currentFolder(), false);
    if (!options.journal.empty() && !cleanup::checkOutputPlace(journal, plan, folders, reason)) {
        error = "--journal " + journal + " is refused: " + reason;
        return false;
    }
    return true;
}

// Opens the journal --journal names (a new file or a journal, nothing else),
// or one of the run's own beside the list files; false after saying why not.
bool openJournal(const CleanupOptions& options, cleanup::Journal& journal, std::string& path)
{
    std::string error;
    if (options.journal.empty()) {
        if (!cleanup::openNewJournal(settings::listFileFolder(), journal, path, error)) {
            fail("cannot write the journal " + path + ": " + error + "; nothing was changed", 2);
            return false;
        }
        return true;
    }
    path = cleanup::plainPath(options.journal, currentFolder(), false);
    if (!journal.openNamed(path, error)) {
        fail("--journal " + path + " is refused: " + error + "; nothing was changed", 2);
        return false;
    }
    return true;
}

void putBackKilledRuns(const std::vector<std::string>& folders)
{
    for (const std::string& removed :
         cleanup::removeLeftoversOfKilledRuns(settings::listFileFolder(), folders)) {
        std::fprintf(stderr, "gemmora-cli: a run that was killed left this behind: %s\n",
                     removed.c_str());
    }
}

int startRun(const CleanupOptions& options, const CleanupOutput& output,
             const cleanup::Plan& files, CleanupContext& context,
             const std::vector<std::string>& folders, cleanup::Journal& journal)
{
    std::string error;
    if (!checkOutputs(options, output, files, context.action, folders, error)) {
        return fail(error + "; nothing was changed", 2);
    }
    putBackKilledRuns(folders);
    return openJournal(options, journal, context.journal) ? -1 : 2;
}

namespace {

// Writes the report of a run and its summary; the exit status.
int reportRun(const cleanup::Plan& plan, const cleanup::Report& report,
              const CleanupContext& context, const CleanupOutput& output, bool leftAlone)
{
    std::size_t leftOut = 0;
    const std::string text = reportText(plan, report, context, output.format, output.null, leftOut);
    if (const int status = emit(output, text, leftOut); status != 0) {
        return status;
    }
    const std::int64_t untouched = report.count(cleanup::Outcome::Untouched);
    if (!report.journalError.empty()) {
        std::fprintf(stderr, "gemmora-cli: %s; the run ended there\n", report.journalError.c_str());
    }
    if (!output.quiet) {
        const text::Locale locale;
        std::fprintf(stderr, "%lld files %s (%s bytes), %lld left untouched, %lld not reached%s.\n",
                     static_cast<long long>(report.count(cleanup::Outcome::Done)),
                     cleanup::actionDoneWord(context.action.kind).c_str(),
                     text::formatCount(report.bytesReclaimed(), locale).c_str(),
                     static_cast<long long>(untouched),
                     static_cast<long long>(report.count(cleanup::Outcome::NotReached)),
                     report.stopped ? " (stopped)" : "");
    }
    // Quiet or not, a run that changed files says where its journal is.
    if (!output.quiet || report.count(cleanup::Outcome::Done) > 0) {
        std::fprintf(stderr, "Journal: %s\nUndo with: gemmora-cli --undo %s\n",
                     context.journal.c_str(), context.journal.c_str());
    }
    if (report.stopped) {
        return 1;
    }
    return untouched > 0 || leftAlone || !report.journalError.empty() ? 3 : 0;
}

// Acts on the plan with a journal, showing the progress; the exit status.
int actOnPlan(const CleanupOptions& options, const std::vector<std::string>& folders,
              const cleanup::Plan& plan, CleanupContext& context, const CleanupOutput& output,
              bool leftAlone)
{
    cleanup::Journal journal;
    if (const int status = startRun(options, output, plan, context, folders, journal);
        status >= 0) {
        return status;
    }
    cleanup::Runner runner(plan, context.action, &journal);
    const cleanup::Report report = runShowingProgress(runner, output);
    if (report.refused) {
        return fail(report.refusal + "; nothing was changed", 2);
    }
    return reportRun(plan, report, context, output, leftAlone);
}

}  // namespace

int runCleanup(const CleanupOptions& options, const std::vector<std::string>& folders,
               const std::vector<std::vector<std::string>>* groups, const CleanupOutput& output)
{
    if (!options.undo.empty()) {
        return runUndo(options, output);
    }
    CleanupContext context;
    std::vector<cleanup::KeepRule> rules;
    if (const int status = readChoices(options, context, rules); status != 0) {
        return status;
    }
    Gathered gathered;
    if (groups != nullptr) {
        takeSearchGroups(*groups, folders, gathered);
    } else if (const int status = readList(options, folders, !rules.empty(), gathered);
               status != 0) {
        return status;
    }
    bool leftAlone = false;
    makeGatheredPlan(gathered, rules, output.quiet, leftAlone);
    // A plan that was given is acted on as given, or not at all.
    std::vector<std::size_t> kept;
    std::string error;
    if (!cleanup::settlePlan(gathered.plan, cleanup::WholeGroupRule::Refuse, kept, error)) {
        return fail("the plan is refused, nothing was changed: " + error, 2);
    }
    if (!options.yes || options.dryRun) {
        return showDryRun(gathered.plan, context, output);
    }
    return actOnPlan(options, folders, gathered.plan, context, output, leftAlone);
}

}  // namespace cli
