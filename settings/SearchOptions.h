// The user's search settings, read from and written to a settings store.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace settings {

// The user's settings for a search, named as they are stored.
struct SearchOptions {
    std::string FoldersToIgnore;
    std::string FileMask = "*.*";
    std::string RootFolder = "/";
    bool FloppyIsMaster = true;
    bool SkipSysbckupFolder = true;
    bool CheckFileStamp = true;
    bool CheckFileName = false;
    bool CheckFileSize = true;
    bool SkipEmptyFiles = true;
    bool SkipDesktopFolders = true;
    // Added after the ten designed values: leave trash folders out.
    bool SkipTrashFolders = true;
    // Use and update the cache of earlier searches.
    bool UseCache = true;
    // Added too: also enter hidden folders (hidden files are always searched).
    bool IncludeHiddenFolders = false;

    // Without the size rule only names can match, and the time stamp means
    // nothing: the same name is required and the time is not.
    void applyInvariant();
};

// Where the ten values live. Values are text; a flag is "1" or "0".
class SettingsStore {
public:
    enum class ReadStatus { Missing, Text, WrongType };

    virtual ~SettingsStore() = default;
    virtual ReadStatus read(const std::string& name, std::string& value) = 0;
    // False when the value could not be written.
    virtual bool write(const std::string& name, const std::string& value) = 0;
};

// Receives the loaded values one at a time, in the stored order, so that a
// window can put each into its control as it comes (a control's own change
// handling then keeps the invariant).
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    virtual void setText(const std::string& name, const std::string& value) = 0;
    virtual void setFlag(const std::string& name, bool value) = 0;
};

// Reads the ten values in their designed order. A missing value, a flag that
// is not a whole number, or a value that is not text gives the default; the
// names of values of the wrong type are returned so the caller can tell the
// user.
std::string LoadSettings(SettingsStore& store, SettingsTarget& target);
SearchOptions LoadSettings(SettingsStore& store);

// Writes the ten values in the same order. Stops at the first value that
// cannot be written and returns "Failed to set data for '<name>'"; "" when
// all were written.
std::string SaveSettings(SettingsStore& store, const SearchOptions& options);

// An in-memory store, for tests and for a session without a settings file.
class MemoryStore : public SettingsStore {
public:
    ReadStatus read(const std::string& name, std::string& value) override;
    bool write(const std::string& name, const std::string& value) override;

    void setWrongType(const std::string& name);
    void failWritesOf(const std::string& name) { m_failing = name; }
    std::optional<std::string> value(const std::string& name) const;
    std::size_t valueCount() const { return m_values.size(); }

private:
    struct Value {
        std::string name;
        std::string text;
        bool wrongType = false;
    };
    std::vector<Value> m_values;
    std::string m_failing;
};

}  // namespace settings
