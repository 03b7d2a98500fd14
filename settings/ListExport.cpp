// Writes the result list as CSV and as JSON.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ListExport.h"

#include "text/JsonWriter.h"
#include "text/Text.h"

namespace settings {

namespace {

std::string utcText(std::int64_t seconds)
{
    return text::formatUtcTime(seconds, "%Y-%m-%dT%H:%M:%SZ");
}

void addCsvField(std::string& out, const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

}  // namespace

std::string savedListText(const ResultRowSource& rows)
{
    std::string text;
    forEachResultLine(rows, [&text](std::size_t, const ResultRow&, const std::string& line) {
        text += line;
        text += "\r\n";
    });
    return text;
}

std::string listCsv(const std::vector<ExportGroup>& groups)
{
    std::string out = "group,path,size,modified\r\n";
    for (std::size_t g = 0; g < groups.size(); ++g) {
        for (const ExportFile& file : groups[g].files) {
            out += std::to_string(g + 1);
            out += ',';
            addCsvField(out, file.path);
            out += ',';
            out += std::to_string(file.size);
            out += ',';
            out += file.hasModified ? utcText(file.modified) : std::string();
            out += "\r\n";
        }
    }
    return out;
}

std::string listJson(const std::vector<ExportGroup>& groups)
{
    text::JsonWriter json;
    json.beginObject();
    json.stringMember("kind", "list");
    json.key("groups");
    json.beginArray();
    std::int64_t files = 0;
    for (const ExportGroup& group : groups) {
        json.beginObject();
        json.key("files");
        json.beginArray();
        for (const ExportFile& file : group.files) {
            json.beginObject();
            json.bytesMember("path", file.path);
            json.numberMember("size", file.size);
            json.key("modified");
            if (file.hasModified) {
                json.string(utcText(file.modified));
            } else {
                json.null();
            }
            json.endObject();
            ++files;
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.key("totals");
    json.beginObject();
    json.numberMember("groups", static_cast<std::int64_t>(groups.size()));
    json.numberMember("files", files);
    json.endObject();
    json.endObject();
    return json.text();
}

}  // namespace settings
