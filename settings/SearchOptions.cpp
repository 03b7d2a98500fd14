// The user's search settings, read from and written to a settings store.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SearchOptions.h"

#include <cstdint>

#include "text/Text.h"

namespace settings {

void SearchOptions::applyInvariant()
{
    if (!CheckFileSize) {
        CheckFileName = true;
        CheckFileStamp = false;
    }
}

namespace {

enum class Kind { Text, Flag };

struct Field {
    const char* name;
    Kind kind;
    std::string SearchOptions::*text;
    bool SearchOptions::*flag;
};

// The stored order of the values.
const Field kFields[] = {
    {"FoldersToIgnore", Kind::Text, &SearchOptions::FoldersToIgnore, nullptr},
    {"FileMask", Kind::Text, &SearchOptions::FileMask, nullptr},
    {"RootFolder", Kind::Text, &SearchOptions::RootFolder, nullptr},
    {"FloppyIsMaster", Kind::Flag, nullptr, &SearchOptions::FloppyIsMaster},
    {"SkipSysbckupFolder", Kind::Flag, nullptr, &SearchOptions::SkipSysbckupFolder},
    {"CheckFileStamp", Kind::Flag, nullptr, &SearchOptions::CheckFileStamp},
    {"CheckFileName", Kind::Flag, nullptr, &SearchOptions::CheckFileName},
    {"CheckFileSize", Kind::Flag, nullptr, &SearchOptions::CheckFileSize},
    {"SkipEmptyFiles", Kind::Flag, nullptr, &SearchOptions::SkipEmptyFiles},
    {"SkipDesktopFolders", Kind::Flag, nullptr, &SearchOptions::SkipDesktopFolders},
    {"SkipTrashFolders", Kind::Flag, nullptr, &SearchOptions::SkipTrashFolders},
    {"UseCache", Kind::Flag, nullptr, &SearchOptions::UseCache},
    {"IncludeHiddenFolders", Kind::Flag, nullptr, &SearchOptions::IncludeHiddenFolders},
};

class OptionsTarget : public SettingsTarget {
public:
    explicit OptionsTarget(SearchOptions& options) : m_options(options) {}

    void setText(const std::string& name, const std::string& value) override
    {
        for (const Field& field : kFields) {
            if (name == field.name && field.kind == Kind::Text) {
                m_options.*field.text = value;
            }
        }
    }
    void setFlag(const std::string& name, bool value) override
    {
        for (const Field& field : kFields) {
            if (name == field.name && field.kind == Kind::Flag) {
                m_options.*field.flag = value;
            }
        }
    }

private:
    SearchOptions& m_options;
};

}  // namespace

std::string LoadSettings(SettingsStore& store, SettingsTarget& target)
{
    const SearchOptions defaults;
    std::string wrongTypes;
    for (const Field& field : kFields) {
        std::string text;
        const SettingsStore::ReadStatus status = store.read(field.name, text);
        if (status == SettingsStore::ReadStatus::WrongType) {
            if (!wrongTypes.empty()) {
                wrongTypes += ", ";
            }
            wrongTypes += field.name;
        }
        const bool present = status == SettingsStore::ReadStatus::Text;
        if (field.kind == Kind::Text) {
            target.setText(field.name, present ? text : defaults.*field.text);
        } else {
            std::int32_t number = 0;
            const bool value =
                present && text::parseInt32(text, number) ? number != 0 : defaults.*field.flag;
            target.setFlag(field.name, value);
        }
    }
    return wrongTypes;
}

SearchOptions LoadSettings(SettingsStore& store)
{
    SearchOptions options;
    OptionsTarget target(options);
    LoadSettings(store, target);
    options.applyInvariant();
    return options;
}

std::string SaveSettings(SettingsStore& store, const SearchOptions& options)
{
    for (const Field& field : kFields) {
        const std::string value =
            field.kind == Kind::Text ? options.*field.text : (options.*field.flag ? "1" : "0");
        if (!store.write(field.name, value)) {
            return std::string("Failed to set data for '") + field.name + "'";
        }
    }
    return "";
}

SettingsStore::ReadStatus MemoryStore::read(const std::string& name, std::string& value)
{
    for (const Value& entry : m_values) {
        if (entry.name == name) {
            if (entry.wrongType) {
                return ReadStatus::WrongType;
            }
            value = entry.text;
            return ReadStatus::Text;
        }
    }
    return ReadStatus::Missing;
}

bool MemoryStore::write(const std::string& name, const std::string& value)
{
    if (!m_failing.empty() && name == m_failing) {
        return false;
    }
    for (Value& entry : m_values) {
        if (entry.name == name) {
            entry.text = value;
            entry.wrongType = false;
            return true;
        }
    }
    m_values.push_back(Value{name, value, false});
    return true;
}

void MemoryStore::setWrongType(const std::string& name)
{
    write(name, "");
    for (Value& entry : m_values) {
        if (entry.name == name) {
            entry.wrongType = true;
        }
    }
}

std::optional<std::string> MemoryStore::value(const std::string& name) const
{
    for (const Value& entry : m_values) {
        if (entry.name == name && !entry.wrongType) {
            return entry.text;
        }
    }
    return std::nullopt;
}

}  // namespace settings
