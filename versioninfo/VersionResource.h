// Finds and reads the version block of an executable file.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace versioninfo {

// Where the reader takes its bytes from: a file, or memory for tests and
// the fuzzer. A read outside the source fails.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    virtual bool read(std::uint64_t offset, std::size_t length, void* out) const = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, std::size_t length, void* out) const override;

private:
    std::string_view m_bytes;
};

// The version block of an executable: the VS_VERSIONINFO resource of a PE
// file (32- or 64-bit, known by its content, not its name), or the block that
// Gemmora's build puts into the ".gemmora.version" section of its own ELF
// programs. Every offset and length taken from the source is checked; a
// truncated, corrupt or hostile source gives no block.
bool extractVersionBlock(const ByteSource& source, std::vector<std::uint8_t>& block);

// The same for a file, read with a few small preads; a link, a FIFO or
// anything but a regular file gives no block.
bool readVersionBlock(const std::string& path, std::vector<std::uint8_t>& block);

// Nothing shorter than a DOS header and a PE header can carry a block.
constexpr std::int64_t kSmallestExecutable = 64 + 24 + 6;

// The size of a file's version block, 0 when it has none.
std::uint32_t versionBlockSize(const std::string& path);

// The fixed file information record ("\").
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};
constexpr std::size_t kFixedFileInfoSize = 52;

// A query over a block, as the Windows call answers it: "\" gives the fixed
// record, "\VarFileInfo\Translation" the translation table, and
// "\StringFileInfo\<code>\<key>" a string. Keys match ignoring case; a
// missing value fails.
struct VersionValue {
    std::vector<std::uint8_t> bytes;  // the value as stored
    bool isText = false;
    std::string text;  // for text values: converted to UTF-8, up to the first zero
};
bool queryVersionValue(const std::vector<std::uint8_t>& block, std::string_view subBlock,
                       VersionValue& value);

bool queryFixedFileInfo(const std::vector<std::uint8_t>& block, FixedFileInfo& info);
// The translation table's bytes (its length is what the caller sees).
bool queryTranslationTable(const std::vector<std::uint8_t>& block,
                           std::vector<std::uint8_t>& table);
bool queryString(const std::vector<std::uint8_t>& block, std::string_view subBlock,
                 std::string& value);

// The translation code of the first entry of a table: the language and code
// page as eight upper-case hex digits, language first. A table of 2 bytes (a
// language alone) gives the language and "0000". A table shorter than 4
// bytes and not 2 has no code: "".
std::string TranslationCode(const std::vector<std::uint8_t>& table);

// "%.4x%.4x" in upper case.
std::string translationCodeOf(std::uint16_t language, std::uint16_t codePage);

// The text of one string value under the file's first translation, or "".
std::string ReadVersionString(const std::string& path, const std::string& valueName);

// The same for several values at once, reading the file once: one text per
// name, "" for each that is missing.
std::vector<std::string> ReadVersionStrings(const std::string& path,
                                            const std::vector<std::string>& valueNames);

std::string utf16ToUtf8(const std::uint8_t* data, std::size_t units);

}  // namespace versioninfo
