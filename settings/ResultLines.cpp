// Result rows as lines of a list file, written and read back.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ResultLines.h"

#include "text/CommaText.h"
#include "text/Text.h"

namespace settings {

namespace {

class VectorSource : public ResultRowSource {
public:
    explicit VectorSource(const std::vector<ResultRow>& rows) : m_rows(rows) {}
    std::size_t rowCount() const override { return m_rows.size(); }
    void readRow(std::size_t index, ResultRow& row) const override { row = m_rows[index]; }

private:
    const std::vector<ResultRow>& m_rows;
};

}  // namespace

std::optional<std::string> formatResultLine(const ResultRow& row)
{
    if (row.caption.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    std::string line = text::quoteItem(row.caption);
    if (!row.subItems.empty()) {
        line += ',';
        line += text::formatCommaText(row.subItems);
    }
    return line;
}

void forEachResultLine(const ResultRowSource& rows,
                       const std::function<void(std::size_t index, const ResultRow& row,
                                                const std::string& line)>& take)
{
    auto isFileRow = [](const ResultRow& row) { return !row.subItems.empty(); };
    const std::size_t count = rows.rowCount();
    bool anyLine = false;
    // A block: the rows before a group's files (separator, header), then the
    // files; only one block is held at a time.
    std::vector<ResultRow> leading;
    std::vector<ResultRow> files;
    std::vector<std::size_t> fileRows;
    std::vector<std::string> fileLines;
    ResultRow row;
    std::size_t i = 0;
    while (i < count) {
        const std::size_t blockStart = i;
        leading.clear();
        files.clear();
        fileRows.clear();
        fileLines.clear();
        bool leftOut = false;
        rows.readRow(i, row);
        while (i < count && !isFileRow(row)) {
            leading.push_back(row);
            if (++i < count) {
                rows.readRow(i, row);
            }
        }
        while (i < count && isFileRow(row)) {
            if (auto line = formatResultLine(row)) {
                fileLines.push_back(std::move(*line));
                fileRows.push_back(i);
                files.push_back(row);
            } else {
                leftOut = true;
            }
            if (++i < count) {
                rows.readRow(i, row);
            }
        }
        if (leftOut && files.size() < 2) {
            continue;
        }
        for (std::size_t h = 0; h < leading.size(); ++h) {
            // No separator before the first group that is written.
            if (!anyLine && text::trim(leading[h].caption).empty()) {
                continue;
            }
            if (auto line = formatResultLine(leading[h])) {
                take(blockStart + h, leading[h], *line);
                anyLine = true;
            }
        }
        for (std::size_t f = 0; f < files.size(); ++f) {
            take(fileRows[f], files[f], fileLines[f]);
            anyLine = true;
        }
    }
}

std::vector<std::string> formatResultLines(const std::vector<ResultRow>& rows,
                                           std::vector<std::size_t>* kept)
{
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    forEachResultLine(VectorSource(rows),
                      [&](std::size_t index, const ResultRow&, const std::string& line) {
                          lines.push_back(line);
                          if (kept != nullptr) {
                              kept->push_back(index);
                          }
                      });
    return lines;
}

std::size_t parseResultLine(std::string_view line, ResultRow& row, std::size_t keepSubItems)
{
    std::vector<std::string>& fields = row.subItems;
    const std::size_t count = text::parseCommaText(line, fields, keepSubItems + 1);
    row.caption.clear();
    if (fields.empty()) {
        return count;
    }
    row.caption.swap(fields.front());
    fields.erase(fields.begin());
    for (std::string& field : fields) {
        field = text::trim(field);
    }
    return count;
}

ResultRow parseResultLine(const std::string& line, std::size_t* fieldCount)
{
    ResultRow row;
    const std::size_t count = parseResultLine(line, row, static_cast<std::size_t>(-1) - 1);
    if (fieldCount != nullptr) {
        *fieldCount = count;
    }
    return row;
}

bool isFilePath(const std::string& caption)
{
    return caption.size() > 1 && caption.front() == '/';
}

}  // namespace settings
