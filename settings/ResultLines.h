// Result rows as lines of a list file, written and read back.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

// One row of the result list as the list file holds it.
struct ResultRow {
    std::string caption;
    std::vector<std::string> subItems;
};

// The rows of a result list, read one at a time, so that the list files can
// be written without a second copy of a list of a million rows.
class ResultRowSource {
public:
    virtual ~ResultRowSource() = default;
    virtual std::size_t rowCount() const = 0;
    // Row `index` into `row`, whose strings are reused.
    virtual void readRow(std::size_t index, ResultRow& row) const = 0;
};

// The line of one row: the quoted caption (a quote inside it doubled), then,
// for a row with sub-items, a comma and the sub-items as comma text. A
// caption holding a line break cannot be one line: no line.
std::optional<std::string> formatResultLine(const ResultRow& row);

// The lines of a whole list, each row by formatResultLine. A group that a
// left-out row would leave with fewer than two files is left out whole, with
// its separator and header: a lone file under "Duplicate files" would claim
// a copy that the list no longer shows.
// `kept`, when given, receives the index of the row of each line.
std::vector<std::string> formatResultLines(const std::vector<ResultRow>& rows,
                                           std::vector<std::size_t>* kept = nullptr);
// The same lines, handed over one by one with their rows, in order.
void forEachResultLine(const ResultRowSource& rows,
                       const std::function<void(std::size_t index, const ResultRow& row,
                                                const std::string& line)>& take);

// Reads a line back. The caption keeps its bytes (a path may begin or end
// with blanks); sub-items are trimmed. `fields`, when given, receives the
// count of comma-text fields of the line.
ResultRow parseResultLine(const std::string& line, std::size_t* fields = nullptr);
// The same into `row`, keeping at most `keepSubItems` sub-items; returns the
// count of fields of the line. What a list keeps of a line is then bounded
// by what it shows, however many fields the line holds.
std::size_t parseResultLine(std::string_view line, ResultRow& row, std::size_t keepSubItems);

// The caption of a file row in the new-duplicates list: a path.
bool isFilePath(const std::string& caption);

}  // namespace settings
