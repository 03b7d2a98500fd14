// The result list written for other programs: CSV and JSON.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/ResultLines.h"

namespace settings {

// The rows in the list files' own format, as the window saves its list at
// exit: one line per row, each ended by CR LF.
std::string savedListText(const ResultRowSource& rows);

// One file of an exported list.
struct ExportFile {
    std::string path;  // the bytes of the path, as on disk
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970
    bool hasModified = false;
};

// A group of identical files, in the order the list shows them.
struct ExportGroup {
    std::vector<ExportFile> files;
};

// CSV as RFC 4180 has it: a header line, then one line per file, each ended
// by CR LF. The columns are group (counted from 1), path, size in bytes and
// modified (UTC, "YYYY-MM-DDTHH:MM:SSZ", empty when unknown). A field that
// holds a comma, a quote, a CR or an LF is quoted, its quotes doubled; a
// path's bytes are written as they are, whatever their encoding.
std::string listCsv(const std::vector<ExportGroup>& groups);

// JSON in the shape the terminal writes its plans in: an object of kind
// "list" with "groups", each holding "files" with "path" (and "path_hex"
// where the path is not UTF-8), "size" and "modified", and "totals".
std::string listJson(const std::vector<ExportGroup>& groups);

}  // namespace settings
