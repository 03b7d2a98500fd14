#include "settings/ResultLines.h"

#include "platform/CommaText.h"
#include "platform/Text.h"

namespace settings {

std::optional<std::string> formatResultLine(const ResultRow& row)
{
    if (row.caption.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    std::string line = platform::quoteItem(row.caption);
    if (!row.subItems.empty()) {
        line += ',';
        line += platform::formatCommaText(row.subItems);
    }
    return line;
}

std::vector<std::string> formatResultLines(const std::vector<ResultRow>& rows,
                                           std::vector<std::size_t>* kept)
{
    auto isFileRow = [](const ResultRow& row) { return !row.subItems.empty(); };
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    std::size_t i = 0;
    while (i < rows.size()) {
        // A block: the rows before a group's files (separator, header), then the files.
        std::size_t filesFrom = i;
        while (filesFrom < rows.size() && !isFileRow(rows[filesFrom])) {
            ++filesFrom;
        }
        std::size_t end = filesFrom;
        while (end < rows.size() && isFileRow(rows[end])) {
            ++end;
        }
        std::vector<std::string> files;
        std::vector<std::size_t> fileRows;
        bool leftOut = false;
        for (std::size_t f = filesFrom; f < end; ++f) {
            if (auto line = formatResultLine(rows[f])) {
                files.push_back(std::move(*line));
                fileRows.push_back(f);
            } else {
                leftOut = true;
            }
        }
        if (!leftOut || files.size() >= 2) {
            for (std::size_t h = i; h < filesFrom; ++h) {
                // No separator before the first group that is written.
                if (lines.empty() && platform::trim(rows[h].caption).empty()) {
                    continue;
                }
                if (auto line = formatResultLine(rows[h])) {
                    lines.push_back(std::move(*line));
                    if (kept != nullptr) {
                        kept->push_back(h);
                    }
                }
            }
            for (std::size_t f = 0; f < files.size(); ++f) {
                lines.push_back(std::move(files[f]));
                if (kept != nullptr) {
                    kept->push_back(fileRows[f]);
                }
            }
        }
        i = end;
    }
    return lines;
}

ResultRow parseResultLine(const std::string& line, std::size_t* fieldCount)
{
    ResultRow row;
    std::vector<std::string> fields = platform::parseCommaText(line);
    if (fieldCount != nullptr) {
        *fieldCount = fields.size();
    }
    if (fields.empty()) {
        return row;
    }
    row.caption = std::move(fields[0]);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        row.subItems.push_back(platform::trim(fields[i]));
    }
    return row;
}

bool isFilePath(const std::string& caption)
{
    return caption.size() > 1 && caption.front() == '/';
}

}  // namespace settings
