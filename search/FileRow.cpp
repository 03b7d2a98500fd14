// The texts of a result row for one file: size, type, time, attributes and versions.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/FileRow.h"

#include <ctime>

#include "platform/FileProperties.h"
#include "platform/FolderListing.h"
#include "text/Text.h"
#include "versioninfo/VersionResource.h"

namespace search {

std::string modifiedText(std::int64_t unixSeconds, const text::Locale& locale)
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local = {};
    if (::localtime_r(&t, &local) == nullptr) {
        return "";
    }
    // The listing's resolution is two seconds, so 00:00:01 is midnight too.
    const int seconds = local.tm_sec / 2 * 2;
    char year[16];
    std::snprintf(year, sizeof year, "%04d", local.tm_year + 1900);
    std::string text = std::string(year) + locale.dateSeparator +
                       text::twoDigits(local.tm_mon + 1) + locale.dateSeparator +
                       text::twoDigits(local.tm_mday);
    if (local.tm_hour != 0 || local.tm_min != 0 || seconds != 0) {
        text += " " + text::twoDigits(local.tm_hour) + locale.timeSeparator +
                text::twoDigits(local.tm_min);
    }
    return text;
}

std::string attributeText(std::uint32_t attributes)
{
    std::string text = "    ";
    if ((attributes & platform::kAttrReadOnly) != 0) {
        text[0] = 'R';
    }
    if ((attributes & platform::kAttrHidden) != 0) {
        text[1] = 'H';
    }
    if ((attributes & platform::kAttrSystem) != 0) {
        text[2] = 'S';
    }
    if ((attributes & platform::kAttrArchive) != 0) {
        text[3] = 'A';
    }
    return text;
}

namespace {

// At most 79 bytes, cut at a character boundary, without blanks or control
// characters at either end.
std::string cleanTypeName(const std::string& name)
{
    std::string text = text::trim(name);
    if (text.size() > 79) {
        std::size_t cut = 79;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        text = text::trim(text.substr(0, cut));
    }
    return text;
}

}  // namespace

std::string typeText(const std::string& path, const TypeNameProvider& typeName)
{
    std::string type = typeName ? cleanTypeName(typeName(path)) : std::string();
    if (type.empty()) {
        // Trimmed like any type name: a file without an extension is "file",
        // as it reads back from a saved list.
        type = cleanTypeName(platform::TypeText(path));
    }
    return type;
}

bool gatherFileRow(const std::string& path, const TypeNameProvider& typeName,
                   const text::Locale& locale, FileRowFacts& facts)
{
    platform::FileEntry entry;
    if (!platform::queryFileEntry(path, entry)) {
        return false;
    }
    facts.size = entry.size;
    facts.modified = entry.writeSeconds;
    facts.attributes = entry.attributes;
    facts.subItems[0] = text::toDecimal(entry.size);
    facts.subItems[1] = typeText(path, typeName);
    facts.subItems[2] = modifiedText(entry.writeSeconds, locale);
    facts.subItems[3] = attributeText(entry.attributes);
    // A file too small to be an executable is not opened for its versions.
    if (entry.size >= versioninfo::kSmallestExecutable) {
        std::vector<std::string> versions =
            versioninfo::ReadVersionStrings(path, {"FileVersion", "ProductVersion"});
        facts.subItems[4] = std::move(versions[0]);
        facts.subItems[5] = std::move(versions[1]);
    } else {
        facts.subItems[4].clear();
        facts.subItems[5].clear();
    }
    return true;
}

}  // namespace search
