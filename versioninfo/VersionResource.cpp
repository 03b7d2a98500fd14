// Finds and reads the version block of an executable file.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "versioninfo/VersionResource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/Text.h"

namespace versioninfo {

bool MemorySource::read(std::uint64_t offset, std::size_t length, void* out) const
{
    if (offset > m_bytes.size() || length > m_bytes.size() - offset) {
        return false;
    }
    std::memcpy(out, m_bytes.data() + offset, length);
    return true;
}

namespace {

constexpr std::uint32_t kMaxBlockSize = 1u << 20;  // version blocks are a few KB
constexpr char kOwnSection[] = ".gemmora.version";

class FileSource : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::size_t length, void* out) const override
    {
        if (offset > m_size || length > m_size - offset) {
            return false;
        }
        auto* target = static_cast<char*>(out);
        while (length > 0) {
            const ssize_t got = ::pread(m_fd, target, length, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;  // shrunk under us, or unreadable
            }
            target += got;
            offset += static_cast<std::uint64_t>(got);
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size;
};

// Whether `length` bytes at `offset` exist, checked before anything is
// allocated for them: a claimed length is never trusted.
bool fits(const ByteSource& source, std::uint64_t offset, std::uint64_t length)
{
    return offset <= source.size() && length <= source.size() - offset;
}

std::uint16_t u16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t u32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t u64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(u32(p)) | (static_cast<std::uint64_t>(u32(p + 4)) << 32);
}

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

// The file offset of an RVA, if a section holds it in its raw data with
// `length` bytes to spare.
bool rvaToOffset(const std::vector<Section>& sections, std::uint32_t rva, std::uint64_t length,
                 std::uint64_t& offset)
{
    for (const Section& s : sections) {
        const std::uint64_t start = s.virtualAddress;
        const std::uint64_t span = std::max(s.virtualSize, s.rawSize);
        if (rva >= start && rva < start + span) {
            const std::uint64_t within = rva - start;
            if (within + length > s.rawSize) {
                return false;
            }
            offset = static_cast<std::uint64_t>(s.rawOffset) + within;
            return true;
        }
    }
    return false;
}

// One entry of a resource directory: its name or id and where it leads.
struct ResourceEntry {
    std::uint32_t name;
    std::uint32_t target;
};

bool readDirectory(const ByteSource& source, std::uint64_t root, std::uint64_t rootLimit,
                   std::uint32_t offset, std::vector<ResourceEntry>& entries)
{
    std::uint8_t header[16];
    if (offset > rootLimit || rootLimit - offset < sizeof header ||
        !source.read(root + offset, sizeof header, header)) {
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(u16(header + 12)) + u16(header + 14);
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * 8;
    if (rootLimit - offset - sizeof header < bytes ||
        !fits(source, root + offset + sizeof header, bytes)) {
        return false;
    }
    std::vector<std::uint8_t> raw(bytes);
    if (bytes > 0 && !source.read(root + offset + sizeof header, raw.size(), raw.data())) {
        return false;
    }
    entries.clear();
    for (std::size_t i = 0; i < count; ++i) {
        entries.push_back(ResourceEntry{u32(&raw[i * 8]), u32(&raw[i * 8 + 4])});
    }
    return true;
}

// The sections of a PE image and the RVA of its resource tree, from the
// DOS stub, the PE header, the optional header and the section table.
bool readPeLayout(const ByteSource& source, std::vector<Section>& sections,
                  std::uint32_t& resourceRva)
{
    std::uint8_t dos[64];
    if (!source.read(0, sizeof dos, dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return false;
    }
    const std::uint64_t pe = u32(dos + 0x3C);
    std::uint8_t headers[24 + 112 + 16 * 8] = {};
    if (!source.read(pe, 24, headers) || std::memcmp(headers, "PE\0\0", 4) != 0) {
        return false;
    }
    const std::uint16_t sectionCount = u16(headers + 6);
    const std::uint16_t optionalSize = u16(headers + 20);
    if (sectionCount == 0 || sectionCount > 96 || optionalSize < 2) {
        return false;
    }
    const std::size_t optionalRead = std::min<std::size_t>(optionalSize, sizeof headers - 24);
    if (!source.read(pe + 24, optionalRead, headers + 24)) {
        return false;
    }
    const std::uint8_t* optional = headers + 24;
    std::size_t countAt = 0;
    std::size_t directoriesAt = 0;
    switch (u16(optional)) {
    case 0x10B:
        countAt = 92;
        directoriesAt = 96;
        break;
    case 0x20B:
        countAt = 108;
        directoriesAt = 112;
        break;
    default:
        return false;
    }
    const std::size_t resourceAt = directoriesAt + 2 * 8;
    if (optionalRead < resourceAt + 8 || u32(optional + countAt) < 3) {
        return false;
    }
    resourceRva = u32(optional + resourceAt);
    if (resourceRva == 0) {
        return false;
    }

    std::vector<std::uint8_t> table(static_cast<std::size_t>(sectionCount) * 40);
    if (!source.read(pe + 24 + optionalSize, table.size(), table.data())) {
        return false;
    }
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* s = &table[i * 40];
        sections.push_back(Section{u32(s + 12), u32(s + 8), u32(s + 16), u32(s + 20)});
    }
    return true;
}

// The file offset of the resource tree's root and how many bytes of its
// section follow it: offsets inside the tree are relative to the root and
// must stay in that section.
bool findResourceRoot(const std::vector<Section>& sections, std::uint32_t resourceRva,
                      std::uint64_t& root, std::uint64_t& rootLimit)
{
    if (!rvaToOffset(sections, resourceRva, 16, root)) {
        return false;
    }
    rootLimit = 0;
    for (const Section& s : sections) {
        if (resourceRva >= s.virtualAddress &&
            resourceRva <
                static_cast<std::uint64_t>(s.virtualAddress) + std::max(s.virtualSize, s.rawSize)) {
            rootLimit = static_cast<std::uint64_t>(s.rawSize) - (resourceRva - s.virtualAddress);
            break;
        }
    }
    return true;
}

// The offset, from the root, of the data entry of the version resource.
// Level 1: the first entry with the id RT_VERSION (16) that leads to a
// directory; level 2: its first name; level 3: the first language.
bool findVersionEntry(const ByteSource& source, std::uint64_t root, std::uint64_t rootLimit,
                      std::uint32_t& dataEntry)
{
    std::vector<ResourceEntry> entries;
    if (!readDirectory(source, root, rootLimit, 0, entries)) {
        return false;
    }
    std::uint32_t next = 0;
    bool found = false;
    for (const ResourceEntry& e : entries) {
        if ((e.name & 0x80000000u) == 0 && e.name == 16 && (e.target & 0x80000000u) != 0) {
            next = e.target & 0x7FFFFFFFu;
            found = true;
            break;
        }
    }
    if (!found || !readDirectory(source, root, rootLimit, next, entries) || entries.empty() ||
        (entries[0].target & 0x80000000u) == 0) {
        return false;
    }
    next = entries[0].target & 0x7FFFFFFFu;
    if (!readDirectory(source, root, rootLimit, next, entries) || entries.empty() ||
        (entries[0].target & 0x80000000u) != 0) {
        return false;
    }
    dataEntry = entries[0].target;
    return true;
}

bool extractFromPe(const ByteSource& source, std::vector<std::uint8_t>& block)
{
    std::vector<Section> sections;
    std::uint32_t resourceRva = 0;
    std::uint64_t root = 0;
    std::uint64_t rootLimit = 0;
    std::uint32_t dataEntry = 0;
    if (!readPeLayout(source, sections, resourceRva) ||
        !findResourceRoot(sections, resourceRva, root, rootLimit) ||
        !findVersionEntry(source, root, rootLimit, dataEntry)) {
        return false;
    }
    std::uint8_t data[16];
    if (dataEntry > rootLimit || rootLimit - dataEntry < sizeof data ||
        !source.read(root + dataEntry, sizeof data, data)) {
        return false;
    }
    const std::uint32_t dataRva = u32(data);
    const std::uint32_t dataSize = u32(data + 4);
    std::uint64_t dataOffset = 0;
    if (dataSize < 6 || dataSize > kMaxBlockSize ||
        !rvaToOffset(sections, dataRva, dataSize, dataOffset) ||
        !fits(source, dataOffset, dataSize)) {
        return false;
    }
    block.resize(dataSize);
    if (!source.read(dataOffset, dataSize, block.data())) {
        block.clear();
        return false;
    }
    return true;
}

bool extractFromElf(const ByteSource& source, std::vector<std::uint8_t>& block)
{
    std::uint8_t header[64];
    if (!source.read(0, 52, header) ||
        std::memcmp(header,
                    "\x7F"
                    "ELF",
                    4) != 0 ||
        header[5] != 1) {
        return false;
    }
    const bool wide = header[4] == 2;
    if (!wide && header[4] != 1) {
        return false;
    }
    if (wide && !source.read(0, 64, header)) {
        return false;
    }
    const std::uint64_t sectionTable = wide ? u64(header + 0x28) : u32(header + 0x20);
    const std::uint16_t entrySize = u16(header + (wide ? 0x3A : 0x2E));
    const std::uint16_t count = u16(header + (wide ? 0x3C : 0x30));
    const std::uint16_t namesIndex = u16(header + (wide ? 0x3E : 0x32));
    const std::size_t needed = wide ? 0x28 : 0x18;
    const std::uint64_t tableSize = static_cast<std::uint64_t>(count) * entrySize;
    if (count == 0 || namesIndex >= count || entrySize < needed ||
        !fits(source, sectionTable, tableSize)) {
        return false;
    }
    std::vector<std::uint8_t> table(tableSize);
    if (!source.read(sectionTable, table.size(), table.data())) {
        return false;
    }
    auto offsetOf = [&](std::size_t i) {
        const std::uint8_t* s = &table[i * entrySize];
        return wide ? u64(s + 0x18) : u32(s + 0x10);
    };
    auto sizeOf = [&](std::size_t i) {
        const std::uint8_t* s = &table[i * entrySize];
        return wide ? u64(s + 0x20) : u32(s + 0x14);
    };
    const std::uint64_t namesSize = sizeOf(namesIndex);
    if (namesSize == 0 || namesSize > kMaxBlockSize ||
        !fits(source, offsetOf(namesIndex), namesSize)) {
        return false;
    }
    std::vector<char> names(namesSize);
    if (!source.read(offsetOf(namesIndex), names.size(), names.data())) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t nameAt = u32(&table[i * entrySize]);
        if (nameAt >= names.size()) {
            continue;
        }
        const std::size_t room = names.size() - nameAt;
        if (::strnlen(&names[nameAt], room) != sizeof kOwnSection - 1 ||
            std::memcmp(&names[nameAt], kOwnSection, sizeof kOwnSection - 1) != 0) {
            continue;
        }
        const std::uint64_t size = sizeOf(i);
        if (size < 6 || size > kMaxBlockSize || !fits(source, offsetOf(i), size)) {
            return false;
        }
        block.resize(size);
        if (!source.read(offsetOf(i), block.size(), block.data())) {
            block.clear();
            return false;
        }
        return true;
    }
    return false;
}

}  // namespace

bool extractVersionBlock(const ByteSource& source, std::vector<std::uint8_t>& block)
{
    block.clear();
    std::uint8_t magic[4];
    if (!source.read(0, sizeof magic, magic)) {
        return false;
    }
    if (magic[0] == 'M' && magic[1] == 'Z') {
        return extractFromPe(source, block);
    }
    if (std::memcmp(magic,
                    "\x7F"
                    "ELF",
                    4) == 0) {
        return extractFromElf(source, block);
    }
    return false;
}

bool readVersionBlock(const std::string& path, std::vector<std::uint8_t>& block)
{
    block.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st = {};
    bool ok = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= kSmallestExecutable) {
        const FileSource source(fd, static_cast<std::uint64_t>(st.st_size));
        ok = extractVersionBlock(source, block);
    }
    ::close(fd);
    return ok;
}

std::uint32_t versionBlockSize(const std::string& path)
{
    std::vector<std::uint8_t> block;
    return readVersionBlock(path, block) ? static_cast<std::uint32_t>(block.size()) : 0;
}

std::string utf16ToUtf8(const std::uint8_t* data, std::size_t units)
{
    std::string out;
    auto put = [&out](std::uint32_t code) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = u16(data + 2 * i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = u16(data + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                put(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        put(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return out;
}

namespace {

// One node of a version block: a length, a value length, a type, a UTF-16
// key, the value and the children, each 32-bit aligned.
struct Node {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::size_t keyBegin = 0;
    std::size_t keyUnits = 0;
    std::size_t valueBegin = 0;
    std::size_t childrenBegin = 0;
};

std::size_t align4(std::size_t n)
{
    return (n + 3) & ~static_cast<std::size_t>(3);
}

bool parseNode(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t limit, Node& node)
{
    if (at > limit || limit - at < 6) {
        return false;
    }
    const std::size_t length = u16(&b[at]);
    if (length < 6 || length > limit - at) {
        return false;
    }
    node.begin = at;
    node.end = at + length;
    node.valueLength = u16(&b[at + 2]);
    node.type = u16(&b[at + 4]);
    node.keyBegin = at + 6;
    std::size_t p = node.keyBegin;
    while (p + 1 < node.end && u16(&b[p]) != 0) {
        p += 2;
    }
    node.keyUnits = (p - node.keyBegin) / 2;
    if (p + 1 >= node.end) {
        // The key has no end inside the node: no value, no children.
        node.valueBegin = node.end;
        node.childrenBegin = node.end;
        return true;
    }
    node.valueBegin = std::min(align4(p + 2), node.end);
    const std::size_t valueBytes =
        node.type == 1 ? static_cast<std::size_t>(node.valueLength) * 2 : node.valueLength;
    node.childrenBegin = std::min(
        align4(node.valueBegin + std::min(valueBytes, node.end - node.valueBegin)), node.end);
    return true;
}

bool keyMatches(const std::vector<std::uint8_t>& b, const Node& node, std::string_view key)
{
    if (node.keyUnits != key.size()) {
        return false;
    }
    for (std::size_t i = 0; i < key.size(); ++i) {
        const std::uint16_t unit = u16(&b[node.keyBegin + 2 * i]);
        if (unit > 0x7F || text::upperAscii(static_cast<char>(unit)) != text::upperAscii(key[i])) {
            return false;
        }
    }
    return true;
}

bool findChild(const std::vector<std::uint8_t>& b, const Node& parent, std::string_view key,
               Node& child)
{
    std::size_t at = parent.childrenBegin;
    while (at < parent.end) {
        Node candidate;
        if (!parseNode(b, at, parent.end, candidate)) {
            return false;
        }
        if (keyMatches(b, candidate, key)) {
            child = candidate;
            return true;
        }
        at = align4(candidate.end);
    }
    return false;
}

}  // namespace

bool queryVersionValue(const std::vector<std::uint8_t>& block, std::string_view subBlock,
                       VersionValue& value)
{
    Node node;
    if (!parseNode(block, 0, block.size(), node)) {
        return false;
    }
    std::size_t p = 0;
    while (p < subBlock.size()) {
        while (p < subBlock.size() && subBlock[p] == '\\') {
            ++p;
        }
        if (p == subBlock.size()) {
            break;
        }
        const std::size_t end = std::min(subBlock.find('\\', p), subBlock.size());
        Node child;
        if (!findChild(block, node, subBlock.substr(p, end - p), child)) {
            return false;
        }
        node = child;
        p = end;
    }
    value = VersionValue();
    value.isText = node.type == 1;
    if (value.isText) {
        // Some writers count text values in bytes rather than characters, so
        // the node's end bounds the text too, and the first zero ends it.
        const std::size_t limit =
            std::min(node.end, node.valueBegin + static_cast<std::size_t>(node.valueLength) * 2);
        std::size_t q = node.valueBegin;
        while (q + 1 < limit && u16(&block[q]) != 0) {
            q += 2;
        }
        value.bytes.assign(block.begin() + static_cast<std::ptrdiff_t>(node.valueBegin),
                           block.begin() + static_cast<std::ptrdiff_t>(q));
        value.text = utf16ToUtf8(value.bytes.data(), value.bytes.size() / 2);
    } else {
        const std::size_t length =
            std::min<std::size_t>(node.valueLength, node.end - node.valueBegin);
        value.bytes.assign(block.begin() + static_cast<std::ptrdiff_t>(node.valueBegin),
                           block.begin() + static_cast<std::ptrdiff_t>(node.valueBegin + length));
    }
    return true;
}

bool queryFixedFileInfo(const std::vector<std::uint8_t>& block, FixedFileInfo& info)
{
    VersionValue value;
    if (!queryVersionValue(block, "\\", value) || value.bytes.size() < kFixedFileInfoSize) {
        return false;
    }
    const std::uint8_t* p = value.bytes.data();
    std::uint32_t* fields[] = {&info.signature,     &info.structVersion,    &info.fileVersionMS,
                               &info.fileVersionLS, &info.productVersionMS, &info.productVersionLS,
                               &info.fileFlagsMask, &info.fileFlags,        &info.fileOS,
                               &info.fileType,      &info.fileSubtype,      &info.fileDateMS,
                               &info.fileDateLS};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        *fields[i] = u32(p + 4 * i);
    }
    return true;
}

bool queryTranslationTable(const std::vector<std::uint8_t>& block, std::vector<std::uint8_t>& table)
{
    VersionValue value;
    if (!queryVersionValue(block, "\\VarFileInfo\\Translation", value)) {
        return false;
    }
    table = std::move(value.bytes);
    return true;
}

bool queryString(const std::vector<std::uint8_t>& block, std::string_view subBlock,
                 std::string& text)
{
    VersionValue value;
    if (!queryVersionValue(block, subBlock, value)) {
        return false;
    }
    text = value.isText ? value.text : std::string();
    return true;
}

std::string translationCodeOf(std::uint16_t language, std::uint16_t codePage)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string code(8, '0');
    for (int i = 0; i < 4; ++i) {
        code[3 - i] = kHex[(language >> (4 * i)) & 0xF];
        code[7 - i] = kHex[(codePage >> (4 * i)) & 0xF];
    }
    return code;
}

std::string TranslationCode(const std::vector<std::uint8_t>& table)
{
    if (table.size() == 2) {
        return translationCodeOf(u16(table.data()), 0);
    }
    if (table.size() < 4) {
        return "";
    }
    return translationCodeOf(u16(table.data()), u16(table.data() + 2));
}

std::string ReadVersionString(const std::string& path, const std::string& valueName)
{
    return ReadVersionStrings(path, {valueName}).front();
}

std::vector<std::string> ReadVersionStrings(const std::string& path,
                                            const std::vector<std::string>& valueNames)
{
    std::vector<std::string> values(valueNames.size());
    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> table;
    if (!readVersionBlock(path, block) || !queryTranslationTable(block, table)) {
        return values;
    }
    const std::string code = TranslationCode(table);
    if (code.empty()) {
        return values;
    }
    for (std::size_t i = 0; i < valueNames.size(); ++i) {
        std::string value;
        if (queryString(block, "\\StringFileInfo\\" + code + "\\" + valueNames[i], value)) {
            values[i] = std::move(value);
        }
    }
    return values;
}

}  // namespace versioninfo
