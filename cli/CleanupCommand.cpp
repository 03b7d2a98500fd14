// gemmora-cli's cleanup: the plan from a search or a list, the run, the journal and undo.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CleanupCommand.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cleanup/Journal.h"
#include "cleanup/Plan.h"
#include "cleanup/PlanText.h"
#include "cleanup/Runner.h"
#include "cleanup/Undo.h"
#include "cli/CleanupText.h"
#include "cli/CliWindow.h"
#include "platform/FolderListing.h"
#include "platform/WholeFile.h"
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
    return !keep.empty() || !action.empty() || dryRun || yes || !fromList.empty() ||
           !journal.empty() || !undo.empty();
}

std::string CleanupOptions::check(const std::string& format, bool null, bool haveFolders) const
{
    if (format == "json" && !wanted()) {
        return "--format json is for a cleanup (--action) or --undo";
    }
    if (!undo.empty()) {
        if (!keep.empty() || !action.empty() || dryRun || yes || !fromList.empty() ||
            !journal.empty() || haveFolders) {
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
    if (null && format != "paths") {
        return "--null needs --format paths";
    }
    if (fromList.empty() && !haveFolders) {
        return "no FOLDER to search and no --from-list";
    }
    return "";
}

namespace {

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

// The longest of `folders` that holds `path`; "" when none does.
std::string rootOf(const std::string& path, const std::vector<std::string>& folders)
{
    std::string best;
    for (const std::string& folder : folders) {
        if (folder.size() > best.size() && path.size() > folder.size() &&
            path.compare(0, folder.size(), folder) == 0) {
            best = folder;
        }
    }
    return best;
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

std::string defaultJournal()
{
    return settings::listFileFolder() + cleanup::journalFileName();
}

// Facts of each file of the groups, read now. A file that cannot be reached
// (gone, behind a link) or is no longer of its listed size is left out,
// with the reason in `leftOut`.
std::vector<cleanup::InputGroup> readGroups(std::vector<cleanup::InputGroup> groups,
                                            std::vector<std::string>& leftOut)
{
    for (cleanup::InputGroup& group : groups) {
        cleanup::InputGroup present;
        for (cleanup::FileFacts& file : group) {
            const std::int64_t listed = file.size;
            std::string error;
            if (!cleanup::readFacts(file, error)) {
                leftOut.push_back(text::displayName(file.path) + ": " + error);
            } else if (listed >= 0 && file.size != listed) {
                leftOut.push_back(text::displayName(file.path) + ": its size changed");
            } else {
                present.push_back(std::move(file));
            }
        }
        group = std::move(present);
    }
    return groups;
}

// The progress line of a run on a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : m_shown(shown) {}
    ~ProgressLine() { finish(); }

    void show(const cleanup::Progress& progress)
    {
        if (!m_shown) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(200)) {
            return;
        }
        m_last = now;
        winsize size = {};
        std::size_t width = 80;
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) {
            width = size.ws_col;
        }
        std::string line = "Cleaning up " + std::to_string(progress.filesDone + 1) + " of " +
                           std::to_string(progress.filesToDo) + ": ";
        std::string name = text::displayName(progress.path);
        const std::size_t room = width > line.size() + 2 ? width - line.size() - 2 : 0;
        if (name.size() > room) {
            name = name.substr(name.size() - room);
            // Start at a whole character.
            while (!name.empty() && (static_cast<unsigned char>(name[0]) & 0xC0) == 0x80) {
                name.erase(0, 1);
            }
        }
        std::fprintf(stderr, "\r%s%s\x1b[K", line.c_str(), name.c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    void finish()
    {
        if (m_drawn) {
            std::fprintf(stderr, "\r\x1b[K");
            std::fflush(stderr);
            m_drawn = false;
        }
    }

private:
    bool m_shown;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_last;
};

int runUndo(const CleanupOptions& options, const CleanupOutput& output)
{
    cleanup::UndoReport report;
    std::string error;
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
        std::fprintf(stderr, "%lld files put back, %lld not put back, %lld cannot be undone%s\n",
                     static_cast<long long>(report.count(cleanup::UndoItem::PutBack)),
                     static_cast<long long>(missed),
                     static_cast<long long>(report.count(cleanup::UndoItem::CannotUndo)),
                     report.stopped ? "; stopped" : "");
    }
    // Files deleted for good or linked cannot come back as they were: say so.
    const std::int64_t notUndone = missed + report.count(cleanup::UndoItem::CannotUndo);
    return report.stopped ? 1 : notUndone > 0 ? 3 : 0;
}

}  // namespace

int runCleanup(const CleanupOptions& options, const std::vector<std::string>& folders,
               const std::vector<std::vector<std::string>>* groups, const CleanupOutput& output)
{
    if (!options.undo.empty()) {
        return runUndo(options, output);
    }
    CleanupContext context;
    std::string error;
    if (!cleanup::parseAction(options.action, currentFolder(), context.action, error)) {
        return fail(error, 2);
    }
    if (context.action.kind == cleanup::ActionKind::Move) {
        struct stat st = {};
        if (::stat(context.action.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return fail("not a folder to move into: " + context.action.folder, 2);
        }
    }
    std::vector<cleanup::KeepRule> rules;
    if (!parseRules(options.keep, rules, error)) {
        return fail(error, 2);
    }
    for (const cleanup::KeepRule& rule : rules) {
        context.rules.push_back(cleanup::describeRule(rule));
    }

    cleanup::Plan plan;
    std::vector<cleanup::InputGroup> input;
    std::size_t outside = 0;
    bool isPlan = false;
    if (groups != nullptr) {
        for (const std::vector<std::string>& paths : *groups) {
            cleanup::InputGroup group;
            for (const std::string& path : paths) {
                group.push_back({path, rootOf(path, folders)});
            }
            input.push_back(std::move(group));
        }
    } else {
        std::string text;
        if (!platform::readWholeFile(options.fromList, text)) {
            return fail("cannot read " + options.fromList + ": " + std::strerror(errno), 2);
        }
        cleanup::ListContents contents;
        if (!cleanup::parseListText(text, contents, error)) {
            return fail(options.fromList + ": " + error, 2);
        }
        isPlan = contents.isPlan;
        if (isPlan && !rules.empty()) {
            return fail(options.fromList + " is a plan, which says itself what to keep: no --keep",
                        2);
        }
        // Only what lies below a folder named is acted on, when folders are named.
        auto place = [&](cleanup::FileFacts& file) {
            file.root = rootOf(file.path, folders);
            const bool in = folders.empty() || !file.root.empty();
            outside += in ? 0 : 1;
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
            plan.groups.push_back(std::move(kept));
        }
        for (cleanup::InputGroup& group : contents.groups) {
            cleanup::InputGroup kept;
            for (cleanup::FileFacts& file : group) {
                if (place(file)) {
                    kept.push_back(std::move(file));
                }
            }
            input.push_back(std::move(kept));
        }
    }
    std::vector<std::string> unreachable;
    if (!isPlan) {
        plan = cleanup::makePlan(readGroups(std::move(input), unreachable), rules);
        for (const std::string& why : unreachable) {
            std::fprintf(stderr, "gemmora-cli: left alone, %s\n", why.c_str());
        }
        // A group down to one file has nothing to do.
        plan.groups.erase(
            std::remove_if(plan.groups.begin(), plan.groups.end(),
                           [](const cleanup::PlanGroup& group) { return group.files.size() < 2; }),
            plan.groups.end());
    }
    if (outside > 0 && !output.quiet) {
        std::fprintf(stderr,
                     "gemmora-cli: %zu files of the list lie outside the folders named and are "
                     "left alone\n",
                     outside);
    }
    if (!cleanup::checkPlan(plan, error)) {
        return fail("the plan is refused, nothing was changed: " + error, 2);
    }

    const text::Locale locale;
    const bool act = options.yes && !options.dryRun;
    std::size_t leftOut = 0;
    if (!act) {
        const std::string text = planText(plan, context, output.format, output.null, leftOut);
        if (const int status = emit(output, text, leftOut); status != 0) {
            return status;
        }
        if (!output.quiet) {
            std::fprintf(stderr,
                         "Dry run, nothing was changed: %zu groups, %lld files marked to %s, "
                         "%s bytes.\nAdd --yes to act.\n",
                         plan.groups.size(), static_cast<long long>(plan.markedCount()),
                         cleanup::actionName(context.action.kind).c_str(),
                         text::formatCount(plan.bytesToReclaim(), locale).c_str());
        }
        return 0;
    }

    cleanup::Journal journal;
    const std::string journalPath =
        options.journal.empty() ? defaultJournal()
                                : cleanup::plainPath(options.journal, currentFolder(), false);
    if (!journal.open(journalPath, error)) {
        return fail(
            "cannot write the journal " + journalPath + ": " + error + "; nothing was changed", 2);
    }
    context.journal = journalPath;
    cleanup::Runner runner(plan, context.action, &journal);
    ProgressLine line(!output.quiet && ::isatty(STDERR_FILENO) != 0);
    runner.onProgress = [&](const cleanup::Progress& progress) { line.show(progress); };
    runner.stopRequested = [] { return g_stopRequested != 0; };
    const cleanup::Report report = runner.run();
    line.finish();
    if (report.refused) {
        return fail(report.refusal + "; nothing was changed", 2);
    }
    const std::string text = reportText(plan, report, context, output.format, output.null, leftOut);
    if (const int status = emit(output, text, leftOut); status != 0) {
        return status;
    }
    const std::int64_t untouched = report.count(cleanup::Outcome::Untouched);
    if (!report.journalError.empty()) {
        std::fprintf(stderr, "gemmora-cli: %s; the run ended there\n", report.journalError.c_str());
    }
    if (!output.quiet) {
        std::fprintf(stderr,
                     "%lld files %s (%s bytes), %lld left untouched, %lld not reached%s.\n"
                     "Journal: %s\nUndo with: gemmora-cli --undo %s\n",
                     static_cast<long long>(report.count(cleanup::Outcome::Done)),
                     cleanup::actionDoneWord(context.action.kind).c_str(),
                     text::formatCount(report.bytesReclaimed(), locale).c_str(),
                     static_cast<long long>(untouched),
                     static_cast<long long>(report.count(cleanup::Outcome::NotReached)),
                     report.stopped ? " (stopped)" : "", journalPath.c_str(), journalPath.c_str());
    }
    if (report.stopped) {
        return 1;
    }
    return untouched > 0 || !unreachable.empty() || !report.journalError.empty() ? 3 : 0;
}

}  // namespace cli
