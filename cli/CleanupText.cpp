// The texts gemmora-cli writes for a cleanup: plans and reports as a list, paths or JSON.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CleanupText.h"

#include "cleanup/PlanText.h"
#include "text/CommaText.h"
#include "text/JsonWriter.h"
#include "text/Text.h"

namespace cli {

using cleanup::Outcome;
using cleanup::Role;

namespace {

bool holdsLineBreak(const std::string& path)
{
    return path.find_first_of("\r\n") != std::string::npos;
}

std::string actionText(const cleanup::Action& action)
{
    switch (action.kind) {
    case cleanup::ActionKind::Trash:
        return "move to the trash";
    case cleanup::ActionKind::Delete:
        return "delete for good";
    case cleanup::ActionKind::HardLink:
        return "replace by a hard link to the kept file";
    case cleanup::ActionKind::Reflink:
        return "share the kept file's data (reflink)";
    case cleanup::ActionKind::Move:
        return "move into " + text::displayName(action.folder);
    }
    return "";
}

std::string rulesText(const std::vector<std::string>& rules)
{
    std::string text;
    for (const std::string& rule : rules) {
        text += text::displayName(rule) + ", ";
    }
    return text + "then the first by path order";
}

// A path a line, or each ended by a zero byte.
std::string pathsOf(const std::vector<const std::string*>& paths, bool null, std::size_t& leftOut)
{
    std::string text;
    for (const std::string* path : paths) {
        if (!null && holdsLineBreak(*path)) {
            ++leftOut;
            continue;
        }
        text += *path;
        text += null ? '\0' : '\n';
    }
    return text;
}

void writeContext(text::JsonWriter& json, const CleanupContext& context)
{
    json.stringMember("action", cleanup::actionName(context.action.kind));
    if (context.action.kind == cleanup::ActionKind::Move) {
        json.bytesMember("folder", context.action.folder);
    }
    json.key("keep_rules");
    json.beginArray();
    for (const std::string& rule : context.rules) {
        json.string(rule);
    }
    json.endArray();
}

// The plan, with each file's outcome when there is a report.
std::string planJson(const cleanup::Plan& plan, const cleanup::Report* report,
                     const CleanupContext& context)
{
    text::JsonWriter json;
    json.beginObject();
    json.stringMember("kind", report == nullptr ? "plan" : "report");
    writeContext(json, context);
    json.booleanMember("dry_run", report == nullptr);
    json.key("groups");
    json.beginArray();
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        const cleanup::PlanGroup& group = plan.groups[g];
        json.beginObject();
        if (!group.note.empty()) {
            json.stringMember("note", group.note);
        }
        json.key("files");
        json.beginArray();
        for (std::size_t i = 0; i < group.files.size(); ++i) {
            const cleanup::PlanFile& file = group.files[i];
            json.beginObject();
            json.bytesMember("path", file.file.path);
            json.key("size");
            if (file.file.size >= 0) {
                json.number(file.file.size);
            } else {
                json.null();
            }
            json.stringMember("role", file.role == Role::Keep ? "keep" : "mark");
            if (report != nullptr) {
                const cleanup::FileResult& result = report->results[g][i];
                json.stringMember("outcome", outcomeWord(result, context.action.kind));
                if (!result.target.empty()) {
                    json.bytesMember("target", result.target);
                }
                if (!result.reason.empty()) {
                    json.bytesMember("reason", result.reason);
                }
            }
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.key("totals");
    json.beginObject();
    json.numberMember("groups", static_cast<std::int64_t>(plan.groups.size()));
    json.numberMember("marked", plan.markedCount());
    json.numberMember("bytes_to_reclaim", plan.bytesToReclaim());
    if (report != nullptr) {
        json.numberMember("done", report->count(Outcome::Done));
        json.numberMember("untouched", report->count(Outcome::Untouched));
        json.numberMember("not_reached", report->count(Outcome::NotReached));
        json.numberMember("bytes_reclaimed", report->bytesReclaimed());
    }
    json.endObject();
    if (report != nullptr) {
        json.booleanMember("stopped", report->stopped);
        if (!report->journalError.empty()) {
            json.bytesMember("journal_error", report->journalError);
        }
        json.bytesMember("journal", context.journal);
    }
    json.endObject();
    return json.text();
}

}  // namespace

std::string outcomeWord(const cleanup::FileResult& result, cleanup::ActionKind action)
{
    switch (result.outcome) {
    case Outcome::Kept:
        return "kept";
    case Outcome::Done:
        return cleanup::actionDoneWord(action);
    case Outcome::Untouched:
        return "untouched";
    case Outcome::NotReached:
        return "stopped";
    }
    return "";
}

std::string undoWord(cleanup::UndoItem::Status status)
{
    switch (status) {
    case cleanup::UndoItem::PutBack:
        return "restored";
    case cleanup::UndoItem::AlreadyBack:
        return "in-place";
    case cleanup::UndoItem::NotPutBack:
        return "not-restored";
    case cleanup::UndoItem::CannotUndo:
        return "not-undoable";
    }
    return "";
}

std::string planText(const cleanup::Plan& plan, const CleanupContext& context,
                     const std::string& format, bool null, std::size_t& leftOut)
{
    leftOut = 0;
    if (format == "json") {
        return planJson(plan, nullptr, context);
    }
    if (format == "paths") {
        std::vector<const std::string*> paths;
        for (const cleanup::PlanGroup& group : plan.groups) {
            for (const cleanup::PlanFile& file : group.files) {
                if (file.role == Role::Mark) {
                    paths.push_back(&file.file.path);
                }
            }
        }
        return pathsOf(paths, null, leftOut);
    }
    std::string text = "# Cleanup plan: " + actionText(context.action) +
                       "; keep rules: " + rulesText(context.rules) + "\n";
    for (const std::string& line : cleanup::formatPlanLines(plan, leftOut)) {
        text += line + "\n";
    }
    return text;
}

std::string reportText(const cleanup::Plan& plan, const cleanup::Report& report,
                       const CleanupContext& context, const std::string& format, bool null,
                       std::size_t& leftOut)
{
    leftOut = 0;
    if (format == "json") {
        return planJson(plan, &report, context);
    }
    if (format == "paths") {
        std::vector<const std::string*> paths;
        for (std::size_t g = 0; g < plan.groups.size(); ++g) {
            for (std::size_t i = 0; i < plan.groups[g].files.size(); ++i) {
                if (report.results[g][i].outcome == Outcome::Done) {
                    paths.push_back(&plan.groups[g].files[i].file.path);
                }
            }
        }
        return pathsOf(paths, null, leftOut);
    }
    std::string text;
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        const cleanup::PlanGroup& group = plan.groups[g];
        if (!text.empty()) {
            text += '\n';
        }
        if (!group.note.empty()) {
            text += "# " + text::displayName(group.note) + "\n";
        }
        for (std::size_t i = 0; i < group.files.size(); ++i) {
            const cleanup::PlanFile& file = group.files[i];
            const cleanup::FileResult& result = report.results[g][i];
            if (holdsLineBreak(file.file.path)) {
                ++leftOut;
                continue;
            }
            std::vector<std::string> fields = {
                outcomeWord(result, context.action.kind), file.file.path,
                file.file.size >= 0 ? std::to_string(file.file.size) : ""};
            const std::string& more = !result.target.empty() ? result.target : result.reason;
            if (!more.empty()) {
                fields.push_back(holdsLineBreak(more) ? text::displayName(more) : more);
            }
            // A file gone somewhere may still carry a remark (a link keeps its data).
            if (!result.target.empty() && !result.reason.empty()) {
                fields.push_back(result.reason);
            }
            text += fields[0] + "," + text::quoteItem(fields[1]) + "," + fields[2];
            for (std::size_t f = 3; f < fields.size(); ++f) {
                text += "," + text::quoteItem(fields[f]);
            }
            text += '\n';
        }
    }
    return text;
}

std::string undoText(const cleanup::UndoReport& report, const std::string& journal,
                     const std::string& format, bool null, std::size_t& leftOut)
{
    leftOut = 0;
    if (format == "json") {
        text::JsonWriter json;
        json.beginObject();
        json.stringMember("kind", "undo");
        json.bytesMember("journal", journal);
        json.key("files");
        json.beginArray();
        for (const cleanup::UndoItem& item : report.items) {
            json.beginObject();
            json.bytesMember("path", item.path);
            json.stringMember("outcome", undoWord(item.status));
            if (!item.detail.empty()) {
                json.bytesMember("reason", item.detail);
            }
            json.endObject();
        }
        json.endArray();
        json.key("totals");
        json.beginObject();
        json.numberMember("restored", report.count(cleanup::UndoItem::PutBack));
        json.numberMember("in_place", report.count(cleanup::UndoItem::AlreadyBack));
        json.numberMember("not_restored", report.count(cleanup::UndoItem::NotPutBack));
        json.numberMember("not_undoable", report.count(cleanup::UndoItem::CannotUndo));
        json.endObject();
        json.booleanMember("stopped", report.stopped);
        json.endObject();
        return json.text();
    }
    if (format == "paths") {
        std::vector<const std::string*> paths;
        for (const cleanup::UndoItem& item : report.items) {
            if (item.status == cleanup::UndoItem::PutBack) {
                paths.push_back(&item.path);
            }
        }
        return pathsOf(paths, null, leftOut);
    }
    std::string text;
    for (const cleanup::UndoItem& item : report.items) {
        if (holdsLineBreak(item.path)) {
            ++leftOut;
            continue;
        }
        text += undoWord(item.status) + "," + text::quoteItem(item.path);
        if (!item.detail.empty()) {
            text += "," + text::quoteItem(text::displayName(item.detail));
        }
        text += '\n';
    }
    return text;
}

}  // namespace cli
