// A file's version information as the window shows it: numbers, flags and named items.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "versioninfo/VersionInfo.h"

#include "platform/FolderListing.h"

namespace versioninfo {

std::uint32_t TVersionNumberInformation::GetPart(int part) const
{
    if (!Valid) {
        return 0;
    }
    switch (part) {
    case 0:
        return VersionMS >> 16;
    case 1:
        return VersionMS & 0xFFFF;
    case 2:
        return VersionLS >> 16;
    case 3:
        return VersionLS & 0xFFFF;
    default:
        return 0;
    }
}

std::string TVersionNumberInformation::AsText() const
{
    if (!Valid) {
        return "";
    }
    if (!VersionString.empty()) {
        return VersionString;
    }
    return std::to_string(GetPart(0)) + "." + std::to_string(GetPart(1)) + "." +
           std::to_string(GetPart(2)) + "." + std::to_string(GetPart(3));
}

const char* fixedFileFlagText(FixedFileFlag flag)
{
    switch (flag) {
    case FixedFileFlag::Debug:
        return "Debug";
    case FixedFileFlag::InfoInferred:
        return "Info Inferred";
    case FixedFileFlag::Patched:
        return "Patched";
    case FixedFileFlag::PreRelease:
        return "Pre-Release";
    case FixedFileFlag::Private:
        return "Private";
    case FixedFileFlag::Special:
        return "Special";
    }
    return "";
}

namespace {

struct PreDefText {
    const char* key;
    const char* caption;
};

const PreDefText kPreDefs[kPreDefCount] = {
    {"CompanyName", "Company Name"},
    {"FileDescription", "File Description"},
    {"FileVersion", "File Version"},
    {"InternalName", "Internal Name"},
    {"LegalCopyright", "Legal Copyright"},
    {"LegalTrademarks", "Legal Trademarks"},
    {"OriginalFilename", "Original Filename"},
    {"ProductName", "Product Name"},
    {"ProductVersion", "Product Version"},
    {"Comments", "Comments"},
    {"BuildFlags", "Build Flags"},
};

}  // namespace

const char* preDefKey(TPreDef item)
{
    return kPreDefs[item].key;
}

const char* preDefCaption(TPreDef item)
{
    return kPreDefs[item].caption;
}

std::uint32_t TFixedFileVersionInfo::FileVersionMS() const
{
    return m_owner.hasFixedRecord() ? m_owner.fixedRecord().fileVersionMS : 0;
}

std::uint32_t TFixedFileVersionInfo::FileVersionLS() const
{
    return m_owner.hasFixedRecord() ? m_owner.fixedRecord().fileVersionLS : 0;
}

std::uint32_t TFixedFileVersionInfo::ProductVersionMS() const
{
    return m_owner.hasFixedRecord() ? m_owner.fixedRecord().productVersionMS : 0;
}

std::uint32_t TFixedFileVersionInfo::ProductVersionLS() const
{
    return m_owner.hasFixedRecord() ? m_owner.fixedRecord().productVersionLS : 0;
}

FixedFileFlags TFixedFileVersionInfo::FileFlags() const
{
    if (!m_owner.hasFixedRecord()) {
        return 0;
    }
    const std::uint32_t word = m_owner.fixedRecord().fileFlags;
    // Bits of the flags word, listed in the order of FixedFileFlag.
    const std::uint32_t bits[kFixedFileFlagCount] = {0x01, 0x10, 0x04, 0x02, 0x08, 0x20};
    FixedFileFlags flags = 0;
    for (int i = 0; i < kFixedFileFlagCount; ++i) {
        if ((word & bits[i]) != 0) {
            flags = static_cast<FixedFileFlags>(flags | (1u << i));
        }
    }
    return flags;
}

TVersionInfoResource::TVersionInfoResource() : FixedInfo(*this) {}

void TVersionInfoResource::setFilename(const std::string& filename)
{
    m_filename = filename;
    ReadVersionInfo();
}

void TVersionInfoResource::setForceEXE(bool value)
{
    if (value != m_forceExe) {
        m_forceExe = value;
        ReadVersionInfo();
    }
}

void TVersionInfoResource::setShowResource(TPreDefs items)
{
    if (items != m_showResource) {
        m_showResource = items;
        RefreshControls();
    }
}

std::string TVersionInfoResource::ResolveFileName() const
{
    // Gemmora's programs are linked whole, so there is never a library module
    // to prefer over the executable, whatever ForceEXE says.
    return m_filename.empty() ? platform::programFilePath() : m_filename;
}

std::string TVersionInfoResource::GetStringValue(const std::string& key) const
{
    if (m_block.empty()) {
        return "";
    }
    const std::string code =
        TranslationIndex >= 0 && static_cast<std::size_t>(TranslationIndex) < Translations.size()
            ? Translations[static_cast<std::size_t>(TranslationIndex)]
            : "040904E4";
    std::string value;
    if (!queryString(m_block, "\\StringFileInfo\\" + code + "\\" + key, value)) {
        return "";
    }
    return value;
}

std::string TVersionInfoResource::GetPredefinedValue(int index) const
{
    if (index < 0 || index >= kPreDefCount) {
        return "";
    }
    return GetStringValue(preDefKey(static_cast<TPreDef>(index)));
}

std::string TVersionInfoResource::GetBuildFlagsText() const
{
    const FixedFileFlags flags = FixedInfo.FileFlags();
    std::string text;
    for (int i = 0; i < kFixedFileFlagCount; ++i) {
        if ((flags & (1u << i)) != 0) {
            if (!text.empty()) {
                text += ", ";
            }
            text += fixedFileFlagText(static_cast<FixedFileFlag>(i));
        }
    }
    return text;
}

void TVersionInfoResource::ReadVersionInfo()
{
    Translations.clear();
    m_hasFixed = false;
    m_fixed = FixedFileInfo();
    m_block.clear();

    if (!readVersionBlock(ResolveFileName(), m_block)) {
        m_block.clear();
        FileVersion = TVersionNumberInformation();
        ProductVersion = TVersionNumberInformation();
        RefreshControls();
        return;
    }
    m_hasFixed = queryFixedFileInfo(m_block, m_fixed);

    std::vector<std::uint8_t> table;
    if (queryTranslationTable(m_block, table)) {
        for (std::size_t at = 0; at + 4 <= table.size(); at += 4) {
            std::uint16_t language = static_cast<std::uint16_t>(table[at] | (table[at + 1] << 8));
            std::uint16_t codePage =
                static_cast<std::uint16_t>(table[at + 2] | (table[at + 3] << 8));
            if (language == 0) {
                language = 0x0409;
            }
            if (codePage == 0) {
                codePage = 0x04E4;
            }
            Translations.push_back(translationCodeOf(language, codePage));
        }
    }
    if (TranslationIndex < 0 || static_cast<std::size_t>(TranslationIndex) >= Translations.size()) {
        TranslationIndex = 0;
    }

    FileVersion.Valid = true;
    FileVersion.VersionMS = FixedInfo.FileVersionMS();
    FileVersion.VersionLS = FixedInfo.FileVersionLS();
    FileVersion.VersionString = GetPredefinedValue(pdFileVersion);
    ProductVersion.Valid = true;
    ProductVersion.VersionMS = FixedInfo.ProductVersionMS();
    ProductVersion.VersionLS = FixedInfo.ProductVersionLS();
    ProductVersion.VersionString = GetPredefinedValue(pdProductVersion);
    RefreshControls();
}

void TVersionInfoResource::Loaded()
{
    m_loading = false;
    ReadVersionInfo();
}

}  // namespace versioninfo
