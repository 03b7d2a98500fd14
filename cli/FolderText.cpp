// The texts gemmora-cli writes for a folder search, in the list, paths or json format.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/FolderText.h"

#include "text/JsonWriter.h"
#include "text/Locale.h"
#include "text/Text.h"

namespace cli {

namespace {

using folders::ContainedFolder;
using folders::FolderFacts;
using folders::FolderResult;
using folders::IdenticalGroup;

std::string count(std::int64_t value)
{
    return text::formatCount(value, text::Locale());
}

std::string plural(std::int64_t value, const char* one, const char* many)
{
    return count(value) + ' ' + (value == 1 ? one : many);
}

// "/a/ (8 files, 1,234 bytes)" and what else it holds on a line below.
std::string factsLine(const FolderFacts& f, const char* indent)
{
    std::string line = indent + text::displayUtf8(f.path) + " (" +
                       plural(f.files, "file", "files") + ", " + plural(f.bytes, "byte", "bytes") +
                       ")\n";
    std::string also;
    auto add = [&also](std::int64_t n, const char* one, const char* many) {
        if (n > 0) {
            also += (also.empty() ? "" : ", ") + plural(n, one, many);
        }
    };
    add(f.emptyFiles, "empty file", "empty files");
    add(f.emptyFolders, "empty folder", "empty folders");
    add(f.notSearched, "folder not searched", "folders not searched");
    add(static_cast<std::int64_t>(f.others.size()), "link or special file",
        "links or special files");
    if (!also.empty()) {
        line += std::string(indent) + "    also holds " + also + "\n";
    }
    for (const std::string& other : f.others) {
        line += std::string(indent) + "      " + text::displayUtf8(other) + "\n";
    }
    return line;
}

void groupsList(std::string& out, const std::vector<IdenticalGroup>& groups, const char* title)
{
    if (groups.empty()) {
        return;
    }
    out += std::string(title) + ": " +
           plural(static_cast<std::int64_t>(groups.size()), "group", "groups") + "\n";
    for (const IdenticalGroup& group : groups) {
        out += "\n";
        for (const FolderFacts& f : group.folders) {
            out += factsLine(f, "  ");
        }
    }
    out += "\n";
}

void containedList(std::string& out, const std::vector<ContainedFolder>& list,
                   const std::string& title)
{
    if (list.empty()) {
        return;
    }
    out +=
        title + ": " + plural(static_cast<std::int64_t>(list.size()), "folder", "folders") + "\n";
    for (const ContainedFolder& c : list) {
        out += "\n" + factsLine(c.folder, "  ");
        std::int64_t copied = 0;
        for (const folders::Holder& h : c.holders) {
            copied += h.files;
        }
        if (!c.withoutCopy.empty()) {
            out += "    " + plural(copied, "file has a copy", "files have copies") + ":\n";
        } else {
            out += copied == 1 ? "    its one file has a copy:\n"
                               : "    all " + count(copied) + " files have copies:\n";
        }
        for (const folders::Holder& h : c.holders) {
            out += "      " + count(h.files) + " in " + text::displayUtf8(h.folder) + "\n";
        }
        if (!c.withoutCopy.empty()) {
            out += "    without a copy:\n";
            for (const std::string& path : c.withoutCopy) {
                out += "      " + text::displayUtf8(path) + "\n";
            }
        }
    }
    out += "\n";
}

std::string listText(const FolderResult& r, const std::string& containedIn)
{
    std::string out;
    groupsList(out, r.sameLayout, "Identical folders, same names and layout");
    groupsList(out, r.anyLayout, "Identical folders, the same files in another layout");
    const std::string where =
        containedIn.empty() ? "elsewhere" : "in " + text::displayUtf8(containedIn);
    containedList(out, r.contained, "Folders whose every file has a copy " + where);
    containedList(out, r.nearlyContained,
                  "Folders whose files have copies " + where + " but for a few");
    if (out.empty()) {
        out = containedIn.empty()
                  ? "No identical or contained folders found.\n"
                  : "No folder has all its files in " + text::displayUtf8(containedIn) + ".\n";
    }
    return out;
}

// Each group of identical folders as a block, then each contained folder
// as a block of its own path.
std::string pathsText(const FolderResult& r, bool null, std::size_t& leftOut)
{
    std::vector<std::vector<std::string>> blocks;
    for (const auto* groups : {&r.sameLayout, &r.anyLayout}) {
        for (const IdenticalGroup& group : *groups) {
            blocks.emplace_back();
            for (const FolderFacts& f : group.folders) {
                blocks.back().push_back(f.path);
            }
        }
    }
    for (const ContainedFolder& c : r.contained) {
        blocks.push_back({c.folder.path});
    }
    std::string out;
    bool first = true;
    for (const std::vector<std::string>& block : blocks) {
        std::string text;
        for (const std::string& path : block) {
            if (!null && path.find_first_of("\r\n") != std::string::npos) {
                ++leftOut;
                continue;
            }
            text += path + (null ? '\0' : '\n');
        }
        if (text.empty()) {
            continue;
        }
        if (!null && !first) {
            out += '\n';
        }
        out += text;
        if (null) {
            out += '\0';
        }
        first = false;
    }
    return out;
}

void factsJson(text::JsonWriter& json, const FolderFacts& f)
{
    json.bytesMember("path", f.path);
    json.numberMember("files", f.files);
    json.numberMember("bytes", f.bytes);
    json.numberMember("empty_files", f.emptyFiles);
    json.numberMember("empty_folders", f.emptyFolders);
    json.numberMember("not_searched", f.notSearched);
    json.key("links_and_special_files");
    json.beginArray();
    for (const std::string& other : f.others) {
        json.beginObject();
        json.bytesMember("path", other);
        json.endObject();
    }
    json.endArray();
}

void groupsJson(text::JsonWriter& json, const char* name, const std::vector<IdenticalGroup>& groups)
{
    json.key(name);
    json.beginArray();
    for (const IdenticalGroup& group : groups) {
        json.beginArray();
        for (const FolderFacts& f : group.folders) {
            json.beginObject();
            factsJson(json, f);
            json.endObject();
        }
        json.endArray();
    }
    json.endArray();
}

void containedJson(text::JsonWriter& json, const char* name,
                   const std::vector<ContainedFolder>& list)
{
    json.key(name);
    json.beginArray();
    for (const ContainedFolder& c : list) {
        json.beginObject();
        factsJson(json, c.folder);
        json.key("copies");
        json.beginArray();
        for (const folders::Holder& h : c.holders) {
            json.beginObject();
            json.bytesMember("folder", h.folder);
            json.numberMember("files", h.files);
            json.endObject();
        }
        json.endArray();
        json.key("without_copy");
        json.beginArray();
        for (const std::string& path : c.withoutCopy) {
            json.beginObject();
            json.bytesMember("path", path);
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
}

std::string jsonText(const FolderResult& r, const std::string& containedIn)
{
    text::JsonWriter json;
    json.beginObject();
    if (!containedIn.empty()) {
        json.bytesMember("contained_in", containedIn);
    }
    groupsJson(json, "same_layout", r.sameLayout);
    groupsJson(json, "any_layout", r.anyLayout);
    containedJson(json, "contained", r.contained);
    containedJson(json, "nearly_contained", r.nearlyContained);
    json.endObject();
    return json.text();
}

}  // namespace

std::string folderText(const FolderResult& result, const std::string& containedIn,
                       const std::string& format, bool null, std::size_t& leftOut)
{
    if (format == "json") {
        return jsonText(result, containedIn);
    }
    if (format == "paths") {
        return pathsText(result, null, leftOut);
    }
    return listText(result, containedIn);
}

}  // namespace cli
