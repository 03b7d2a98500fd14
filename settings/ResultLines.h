#pragma once

#include <optional>
#include <string>
#include <vector>

namespace settings {

// One row of the result list as the list file holds it.
struct ResultRow {
    std::string caption;
    std::vector<std::string> subItems;
};

// The line of one row: the quoted caption (a quote inside it doubled), then,
// for a row with sub-items, a comma and the sub-items as comma text. A
// caption holding a line break cannot be one line: no line.
std::optional<std::string> formatResultLine(const ResultRow& row);

// Reads a line back. The caption keeps its bytes (a path may begin or end
// with blanks); sub-items are trimmed. `fields`, when given, receives the
// count of comma-text fields of the line.
// The lines of a whole list, each row by formatResultLine. A group that a
// left-out row would leave with fewer than two files is left out whole, with
// its separator and header: a lone file under "Duplicate files" would claim
// a copy that the list no longer shows.
// `kept`, when given, receives the index of the row of each line.
std::vector<std::string> formatResultLines(const std::vector<ResultRow>& rows,
                                           std::vector<std::size_t>* kept = nullptr);

ResultRow parseResultLine(const std::string& line, std::size_t* fields = nullptr);

// The caption of a file row in the new-duplicates list: a path.
bool isFilePath(const std::string& caption);

}  // namespace settings
