// A small JSON writer for reports and exported lists, valid whatever bytes it is given.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// Writes JSON text (RFC 8259) one value at a time, with the commas, the
// escapes and two-blank indentation done here. Keys and values are UTF-8;
// bytes that are not valid UTF-8 are replaced by U+FFFD, so the text stays
// valid JSON whatever it is given. Paths use bytesValue, which keeps them
// exact.
class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The key of the next member of the enclosing object.
    void key(std::string_view name);
    void string(std::string_view text);
    void number(std::int64_t value);
    void boolean(bool value);
    void null();

    // A member and its value in one call: the key, then the value.
    void stringMember(std::string_view name, std::string_view text);
    void numberMember(std::string_view name, std::int64_t value);
    void booleanMember(std::string_view name, bool value);

    // A member holding bytes such as a path: "name" with the bytes as a
    // string when they are valid UTF-8. Otherwise "name" holds them with
    // each invalid byte shown as U+FFFD, for reading, and "name_hex" holds
    // every byte as two lower-case hex digits, for getting them back.
    void bytesMember(std::string_view name, std::string_view bytes);

    // The text written, ended by a line break once the outer value is closed.
    const std::string& text() const { return m_text; }

private:
    void beforeValue();
    void newLine();
    // An object or array opened with `bracket`, or closed with it.
    void open(char bracket);
    void close(char bracket);

    std::string m_text;
    // For each open object or array: whether it has a member yet.
    std::vector<bool> m_hasMember;
    bool m_afterKey = false;
};

// The text as a JSON string literal, quotes included.
std::string jsonQuoted(std::string_view text);

bool isValidUtf8(std::string_view bytes);

}  // namespace text
