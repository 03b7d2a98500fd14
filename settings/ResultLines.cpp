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
