// A cleanup plan as text, to save, edit and read back.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/PlanText.h"

#include "text/CommaText.h"
#include "text/StringList.h"
#include "text/Text.h"
#include "settings/ResultLines.h"

namespace cleanup {

namespace {

constexpr char kHeader[] = "Duplicate files .....";

bool holdsLineBreak(const std::string& path)
{
    return path.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

std::vector<std::string> formatPlanLines(const Plan& plan, std::size_t& leftOut)
{
    leftOut = 0;
    std::vector<std::string> lines;
    for (const PlanGroup& group : plan.groups) {
        std::vector<std::string> groupLines;
        std::size_t groupLeftOut = 0;
        bool keptLeftOut = false;
        for (const PlanFile& file : group.files) {
            if (holdsLineBreak(file.file.path)) {
                ++groupLeftOut;
                keptLeftOut = keptLeftOut || file.role == Role::Keep;
                continue;
            }
            groupLines.push_back(std::string(file.role == Role::Keep ? "keep," : "mark,") +
                                 text::quoteItem(file.file.path) + "," +
                                 (file.file.size >= 0 ? std::to_string(file.file.size) : ""));
        }
        if (keptLeftOut) {
            leftOut += group.files.size();
            continue;
        }
        leftOut += groupLeftOut;
        if (!lines.empty()) {
            lines.emplace_back();
        }
        if (!group.note.empty()) {
            lines.push_back("# " + text::displayName(group.note));
        }
        lines.insert(lines.end(), groupLines.begin(), groupLines.end());
    }
    return lines;
}

namespace {

bool parsePlanLine(const std::string& line, PlanFile& file, std::string& error)
{
    const std::vector<std::string> fields = text::parseCommaText(line);
    if (fields.size() < 2 || fields.size() > 3 || (fields[0] != "keep" && fields[0] != "mark")) {
        error = "is not \"keep\" or \"mark\", a quoted path and a size";
        return false;
    }
    file.role = fields[0] == "keep" ? Role::Keep : Role::Mark;
    file.file.path = fields[1];
    file.file.size = -1;
    if (fields.size() == 3 && !fields[2].empty() &&
        (!text::parseInt64(fields[2], file.file.size) || file.file.size < 0)) {
        error = "has a size that is not a number of bytes";
        return false;
    }
    return true;
}

bool parsePlan(const std::vector<std::string>& lines, Plan& plan, std::string& error)
{
    bool groupOpen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string trimmed = text::trim(lines[i]);
        if (trimmed.empty()) {
            groupOpen = false;
            continue;
        }
        if (trimmed[0] == '#') {
            continue;
        }
        PlanFile file;
        if (!parsePlanLine(lines[i], file, error)) {
            error = "line " + std::to_string(i + 1) + " " + error;
            return false;
        }
        if (!groupOpen) {
            plan.groups.emplace_back();
            groupOpen = true;
        }
        plan.groups.back().files.push_back(std::move(file));
    }
    return true;
}

bool parseResultList(const std::vector<std::string>& lines, std::vector<InputGroup>& groups,
                     std::string& error)
{
    bool groupOpen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (text::trim(lines[i]).empty()) {
            continue;  // a last empty line
        }
        const settings::ResultRow row = settings::parseResultLine(lines[i]);
        if (row.subItems.empty() && row.caption == kHeader) {
            groups.emplace_back();
            groupOpen = true;
        } else if (row.subItems.empty() && text::trim(row.caption).empty()) {
            groupOpen = false;
        } else if (groupOpen && !row.subItems.empty() && settings::isFilePath(row.caption)) {
            FileFacts file;
            file.path = row.caption;
            if (!text::parseInt64(row.subItems[0], file.size) || file.size < 0) {
                file.size = -1;
            }
            groups.back().push_back(std::move(file));
        } else {
            error = "line " + std::to_string(i + 1) +
                    " is neither a group header, a file row nor a separator of a result list";
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseListText(const std::string& text, ListContents& contents, std::string& error)
{
    contents = ListContents();
    const std::vector<std::string> lines = text::splitLines(text);
    for (const std::string& line : lines) {
        const std::string trimmed = text::trim(line);
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        contents.isPlan = trimmed[0] != '"';
        break;
    }
    return contents.isPlan ? parsePlan(lines, contents.plan, error)
                           : parseResultList(lines, contents.groups, error);
}

}  // namespace cleanup
