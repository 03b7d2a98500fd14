// A small JSON writer for reports and exported lists, valid whatever bytes it is given.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/JsonWriter.h"

#include "text/Text.h"

namespace text {

bool isValidUtf8(std::string_view bytes)
{
    // displayUtf8 keeps valid text byte for byte and replaces anything else.
    return displayUtf8(bytes) == bytes;
}

std::string jsonQuoted(std::string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    const std::string valid = displayUtf8(text);
    std::string out = "\"";
    for (const char c : valid) {
        const auto code = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (code < 0x20 || code == 0x7F) {
                out += "\\u00";
                out += kHex[code >> 4];
                out += kHex[code & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

void JsonWriter::newLine()
{
    m_text += '\n';
    m_text.append(m_hasMember.size() * 2, ' ');
}

void JsonWriter::beforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasMember.empty()) {
        if (m_hasMember.back()) {
            m_text += ',';
        }
        m_hasMember.back() = true;
        newLine();
    }
}

void JsonWriter::open(char bracket)
{
    beforeValue();
    m_text += bracket;
    m_hasMember.push_back(false);
}

void JsonWriter::close(char bracket)
{
    const bool any = m_hasMember.back();
    m_hasMember.pop_back();
    if (any) {
        newLine();
    }
    m_text += bracket;
    if (m_hasMember.empty()) {
        m_text += '\n';
    }
}

void JsonWriter::beginObject()
{
    open('{');
}

void JsonWriter::endObject()
{
    close('}');
}

void JsonWriter::beginArray()
{
    open('[');
}

void JsonWriter::endArray()
{
    close(']');
}

void JsonWriter::key(std::string_view name)
{
    beforeValue();
    m_text += jsonQuoted(name);
    m_text += ": ";
    m_afterKey = true;
}

void JsonWriter::string(std::string_view text)
{
    beforeValue();
    m_text += jsonQuoted(text);
}

void JsonWriter::number(std::int64_t value)
{
    beforeValue();
    m_text += std::to_string(value);
}

void JsonWriter::boolean(bool value)
{
    beforeValue();
    m_text += value ? "true" : "false";
}

void JsonWriter::null()
{
    beforeValue();
    m_text += "null";
}

void JsonWriter::stringMember(std::string_view name, std::string_view text)
{
    key(name);
    string(text);
}

void JsonWriter::numberMember(std::string_view name, std::int64_t value)
{
    key(name);
    number(value);
}

void JsonWriter::booleanMember(std::string_view name, bool value)
{
    key(name);
    boolean(value);
}

void JsonWriter::bytesMember(std::string_view name, std::string_view bytes)
{
    static const char kHex[] = "0123456789abcdef";
    key(name);
    string(bytes);
    if (isValidUtf8(bytes)) {
        return;
    }
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        hex += kHex[code >> 4];
        hex += kHex[code & 0xF];
    }
    key(std::string(name) + "_hex");
    string(hex);
}

}  // namespace text
