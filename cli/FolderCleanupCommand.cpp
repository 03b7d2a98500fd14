// gemmora-cli's cleanup of whole folders: the plan shown, the run with its journal, the report.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/FolderCleanupCommand.h"

#include <algorithm>
#include <cstdio>

#include "cleanup/FolderPlan.h"
#include "cleanup/Prepare.h"
#include "cleanup/Undo.h"
#include "cli/CleanupSteps.h"
#include "cli/CliWindow.h"
#include "settings/SavedLists.h"
#include "text/JsonWriter.h"
#include "text/Locale.h"

namespace cli {

std::string folderCleanupProblem(const CleanupOptions& options, const std::string& format,
                                 bool null)
{
    if (!options.wanted()) {
        return "";
    }
    if (const std::string problem = options.check(format, null, true); !problem.empty()) {
        return problem;
    }
    if (options.action.rfind("hardlink", 0) == 0 || options.action.rfind("reflink", 0) == 0) {
        return "folders are trashed, deleted or moved: --action trash, delete or move:DIR";
    }
    return "";
}

namespace {

std::string outcomeWord(const cleanup::FolderOutcome& result, cleanup::ActionKind kind)
{
    switch (result.outcome) {
    case cleanup::Outcome::Done:
        return cleanup::actionDoneWord(kind);
    case cleanup::Outcome::Untouched:
        return "untouched";
    default:
        return "not reached";
    }
}

// "1 folder", "2 folders".
std::string counted(std::int64_t value, const char* one, const char* many,
                    const text::Locale& locale)
{
    return text::formatCount(value, locale) + " " + (value == 1 ? one : many);
}

// What goes with a folder beside its files, kind by kind, each named:
// "1 link: photos/latest; 2 empty files: a.txt, b/c.txt".
std::string alsoGoes(const cleanup::PlanFolder& folder, const text::Locale& locale)
{
    std::vector<std::string> kinds;  // in the order first met
    for (const std::string& kind : folder.alsoRemovedKinds) {
        if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) {
            kinds.push_back(kind);
        }
    }
    std::string text;
    for (const std::string& kind : kinds) {
        std::string names;
        std::int64_t count = 0;
        for (std::size_t i = 0; i < folder.alsoRemoved.size(); ++i) {
            if (folder.alsoRemovedKinds[i] == kind) {
                names += (count++ == 0 ? "" : ", ") + text::displayName(folder.alsoRemoved[i]);
            }
        }
        text += (text.empty() ? "" : "; ") +
                counted(count, kind.c_str(), (kind + "s").c_str(), locale) + ": " + names;
    }
    return text;
}

// "8 files, 80 bytes; copies in /a/orig/" and what else goes, for a list line.
std::string folderLine(const cleanup::PlanFolder& folder, const text::Locale& locale)
{
    const auto files = static_cast<std::int64_t>(folder.files.size());
    std::string line = "  " + text::displayName(folder.path) + "  " +
                       counted(files, "file", "files", locale) + ", " +
                       counted(folder.bytes(), "byte", "bytes", locale);
    line += folder.keptFolder.empty()
                ? "; every file has a copy outside it"
                : "; identical to " + text::displayName(folder.keptFolder) + ", which stays";
    line += "\n";
    if (!folder.alsoRemoved.empty()) {
        line += "    also goes: " + alsoGoes(folder, locale) + "\n";
    }
    return line;
}

std::string listText(const cleanup::FolderPlan& plan, const cleanup::FolderReport* report,
                     const CleanupContext& context)
{
    const text::Locale locale;
    std::string text = "Folders to " + cleanup::actionName(context.action.kind);
    if (!context.rules.empty()) {
        text += " (keep rules:";
        for (const std::string& rule : context.rules) {
            text += " " + rule;
        }
        text += ")";
    }
    text += ":\n";
    for (std::size_t i = 0; i < plan.folders.size(); ++i) {
        text += folderLine(plan.folders[i], locale);
        if (report != nullptr) {
            const cleanup::FolderOutcome& result = report->results[i];
            text += "    " + outcomeWord(result, context.action.kind);
            text += result.target.empty() ? "" : " to " + text::displayName(result.target);
            text += result.reason.empty() ? "" : ": " + result.reason;
            text += "\n";
        }
    }
    if (!plan.notes.empty()) {
        text += "Left alone:\n";
        for (const std::string& note : plan.notes) {
            text += "  " + text::displayName(note) + "\n";
        }
    }
    return text;
}

std::string pathsText(const cleanup::FolderPlan& plan, const cleanup::FolderReport* report,
                      bool null, std::size_t& leftOut)
{
    std::string text;
    for (std::size_t i = 0; i < plan.folders.size(); ++i) {
        const std::string& path = plan.folders[i].path;
        if (report != nullptr && report->results[i].outcome != cleanup::Outcome::Done) {
            continue;
        }
        if (!null && path.find('\n') != std::string::npos) {
            ++leftOut;
            continue;
        }
        text += path + (null ? '\0' : '\n');
    }
    return text;
}

void jsonFolder(text::JsonWriter& json, const cleanup::PlanFolder& folder,
                const cleanup::FolderOutcome* result, cleanup::ActionKind kind)
{
    json.beginObject();
    json.bytesMember("path", folder.path);
    json.key("files");
    json.number(static_cast<std::int64_t>(folder.files.size()));
    json.key("bytes");
    json.number(folder.bytes());
    json.bytesMember("identical_to", folder.keptFolder);
    json.key("also_removed");
    json.beginArray();
    for (std::size_t i = 0; i < folder.alsoRemoved.size(); ++i) {
        json.beginObject();
        json.bytesMember("path", folder.alsoRemoved[i]);
        json.key("kind");
        json.string(folder.alsoRemovedKinds[i]);
        json.endObject();
    }
    json.endArray();
    if (result != nullptr) {
        json.key("outcome");
        json.string(outcomeWord(*result, kind));
        json.bytesMember("reason", result->reason);
        json.bytesMember("target", result->target);
    }
    json.endObject();
}

std::string jsonText(const cleanup::FolderPlan& plan, const cleanup::FolderReport* report,
                     const CleanupContext& context)
{
    text::JsonWriter json;
    json.beginObject();
    json.key("action");
    json.string(cleanup::actionName(context.action.kind));
    json.key("dry_run");
    json.boolean(report == nullptr);
    json.bytesMember("journal", context.journal);
    json.key("folders");
    json.beginArray();
    for (std::size_t i = 0; i < plan.folders.size(); ++i) {
        jsonFolder(json, plan.folders[i], report != nullptr ? &report->results[i] : nullptr,
                   context.action.kind);
    }
    json.endArray();
    json.key("left_alone");
    json.beginArray();
    for (const std::string& note : plan.notes) {
        json.string(note);
    }
    json.endArray();
    json.endObject();
    return json.text();
}

int writeFolderText(const cleanup::FolderPlan& plan, const cleanup::FolderReport* report,
                    const CleanupContext& context, const CleanupOutput& output)
{
    std::size_t leftOut = 0;
    const std::string text = output.format == "json"    ? jsonText(plan, report, context)
                             : output.format == "paths" ? pathsText(plan, report, output.null,
                                                                    leftOut)
                                                        : listText(plan, report, context);
    return emit(output, text, leftOut);
}

// The files the run touches or keeps, as a plan of files, for checking
// where -o and --journal may write.
cleanup::Plan filesOf(const cleanup::FolderPlan& plan)
{
    cleanup::Plan files;
    for (const cleanup::PlanFolder& folder : plan.folders) {
        for (const cleanup::FolderFile& file : folder.files) {
            cleanup::PlanGroup group;
            group.files.push_back({{file.copy, file.copyRoot}, cleanup::Role::Keep});
            group.files.push_back({{file.path, folder.root}, cleanup::Role::Mark});
            files.groups.push_back(std::move(group));
        }
    }
    return files;
}

int reportFolderRun(const cleanup::FolderPlan& plan, const cleanup::FolderReport& report,
                    const CleanupContext& context, const CleanupOutput& output)
{
    if (const int status = writeFolderText(plan, &report, context, output); status != 0) {
        return status;
    }
    if (!report.journalError.empty()) {
        std::fprintf(stderr, "gemmora-cli: %s; the run ended there\n", report.journalError.c_str());
    }
    const std::int64_t untouched = report.count(cleanup::Outcome::Untouched);
    if (!output.quiet) {
        const text::Locale locale;
        std::fprintf(
            stderr, "%s %s (%s bytes), %lld left untouched, %lld not reached%s.\n",
            counted(report.count(cleanup::Outcome::Done), "folder", "folders", locale).c_str(),
            cleanup::actionDoneWord(context.action.kind).c_str(),
            text::formatCount(report.bytesReclaimed(), locale).c_str(),
            static_cast<long long>(untouched),
            static_cast<long long>(report.count(cleanup::Outcome::NotReached)),
            report.stopped ? " (stopped)" : "");
    }
    if (!output.quiet || report.count(cleanup::Outcome::Done) > 0) {
        std::fprintf(stderr, "Journal: %s\nUndo with: gemmora-cli --undo %s\n",
                     context.journal.c_str(), context.journal.c_str());
    }
    if (report.stopped) {
        return 1;
    }
    return untouched > 0 || !plan.notes.empty() || !report.journalError.empty() ? 3 : 0;
}

int actOnFolders(const CleanupOptions& options, std::vector<std::string> folders,
                 const cleanup::FolderPlan& plan, CleanupContext& context,
                 const CleanupOutput& output)
{
    cleanup::Journal journal;
    if (const int status = startRun(options, output, filesOf(plan), context, folders, journal);
        status >= 0) {
        return status;
    }
    cleanup::FolderRunner runner(plan, context.action, &journal);
    const cleanup::FolderReport report = runShowingProgress(runner, output);
    if (report.refused) {
        return fail(report.refusal + "; nothing was changed", 2);
    }
    return reportFolderRun(plan, report, context, output);
}

}  // namespace

int runFolderCleanup(const CleanupOptions& options, const std::vector<std::string>& roots,
                     const std::vector<std::vector<std::string>>& groups,
                     folders::FolderFinder& finder, const std::string& containedIn,
                     const CleanupOutput& output)
{
    if (!containedIn.empty() && !finder.knows(containedIn)) {
        return fail("--contained-in " + containedIn + " is not a folder of this search", 2);
    }
    CleanupContext context;
    std::vector<cleanup::KeepRule> rules;
    if (const int status = readChoices(options, context, rules); status != 0) {
        return status;
    }
    for (const std::vector<std::string>& group : groups) {
        finder.addClass(group);
    }
    const folders::FolderResult result = finder.find(containedIn);
    cleanup::FolderChoice choice;
    // The A-in-B question acts on what lies in B's copies, not on B's equals.
    choice.identical = containedIn.empty();
    const cleanup::FolderPlan plan = cleanup::makeFolderPlan(finder, result, rules, choice, roots);
    if (!options.yes || options.dryRun) {
        if (const int status = writeFolderText(plan, nullptr, context, output); status != 0) {
            return status;
        }
        if (!output.quiet) {
            const text::Locale locale;
            std::fprintf(
                stderr,
                "Dry run, nothing was changed: %s, %s to %s, %s bytes.\nAdd --yes to "
                "act.\n",
                counted(static_cast<std::int64_t>(plan.folders.size()), "folder", "folders", locale)
                    .c_str(),
                counted(plan.fileCount(), "file", "files", locale).c_str(),
                cleanup::actionName(context.action.kind).c_str(),
                text::formatCount(plan.bytesToReclaim(), locale).c_str());
        }
        return 0;
    }
    if (plan.folders.empty()) {
        putBackKilledRuns(roots);  // a run with nothing to do still does that
        return fail("no folder to act on; nothing was changed", plan.notes.empty() ? 0 : 3);
    }
    return actOnFolders(options, roots, plan, context, output);
}

}  // namespace cli
