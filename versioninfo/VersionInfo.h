// A file's version information as the window shows it: numbers, flags and named items.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "versioninfo/VersionResource.h"

namespace versioninfo {

// A four-part version number, or the text that stands in its place.
struct TVersionNumberInformation {
    bool Valid = false;
    std::uint32_t VersionMS = 0;  // Major << 16 | Minor
    std::uint32_t VersionLS = 0;  // Release << 16 | Build
    std::string VersionString;

    // 0 Major, 1 Minor, 2 Release, 3 Build; 0 for any other part or when
    // not Valid.
    std::uint32_t GetPart(int part) const;
    // "" when not Valid; VersionString when it is not empty; else "a.b.c.d".
    std::string AsText() const;
};

enum class FixedFileFlag { Debug, InfoInferred, Patched, PreRelease, Private, Special };
constexpr int kFixedFileFlagCount = 6;
// A set of FixedFileFlag, bit n for member n.
using FixedFileFlags = std::uint8_t;
const char* fixedFileFlagText(FixedFileFlag flag);

enum TPreDef {
    pdCompanyName,
    pdFileDescription,
    pdFileVersion,
    pdInternalName,
    pdLegalCopyright,
    pdLegalTrademarks,
    pdOriginalFilename,
    pdProductName,
    pdProductVersion,
    pdComments,
    pdBuildFlags,
};
constexpr int kPreDefCount = 11;
// A set of TPreDef, bit n for index n.
using TPreDefs = std::uint16_t;
constexpr TPreDefs kAllPreDefs = (1u << kPreDefCount) - 1;
constexpr TPreDefs preDefBit(TPreDef item)
{
    return static_cast<TPreDefs>(1u << item);
}
const char* preDefKey(TPreDef item);
const char* preDefCaption(TPreDef item);

class TVersionInfoResource;

// The fixed record of the owner's block; every number is 0 without one.
class TFixedFileVersionInfo {
public:
    explicit TFixedFileVersionInfo(const TVersionInfoResource& owner) : m_owner(owner) {}
    std::uint32_t FileVersionMS() const;
    std::uint32_t FileVersionLS() const;
    std::uint32_t ProductVersionMS() const;
    std::uint32_t ProductVersionLS() const;
    // From the flags word itself, not masked.
    FixedFileFlags FileFlags() const;

private:
    const TVersionInfoResource& m_owner;
};

// Reads the version block of one executable and offers its items. An empty
// Filename means the running program's own file.
class TVersionInfoResource {
public:
    TVersionInfoResource();
    virtual ~TVersionInfoResource() = default;
    TVersionInfoResource(const TVersionInfoResource&) = delete;
    TVersionInfoResource& operator=(const TVersionInfoResource&) = delete;

    const std::string& Filename() const { return m_filename; }
    void setFilename(const std::string& filename);
    bool ForceEXE() const { return m_forceExe; }
    void setForceEXE(bool value);
    TPreDefs ShowResource() const { return m_showResource; }
    void setShowResource(TPreDefs items);

    std::vector<std::string> Translations;
    int TranslationIndex = 0;
    TFixedFileVersionInfo FixedInfo;
    TVersionNumberInformation FileVersion;
    TVersionNumberInformation ProductVersion;

    std::string CompanyName() const { return GetPredefinedValue(pdCompanyName); }
    std::string FileDescription() const { return GetPredefinedValue(pdFileDescription); }
    std::string InternalName() const { return GetPredefinedValue(pdInternalName); }
    std::string LegalCopyright() const { return GetPredefinedValue(pdLegalCopyright); }
    std::string LegalTrademarks() const { return GetPredefinedValue(pdLegalTrademarks); }
    std::string OriginalFilename() const { return GetPredefinedValue(pdOriginalFilename); }
    std::string ProductName() const { return GetPredefinedValue(pdProductName); }
    std::string Comments() const { return GetPredefinedValue(pdComments); }
    std::string Version() const { return "TVersionInfoResource v2.35"; }

    std::string GetStringValue(const std::string& key) const;
    std::string GetPredefinedValue(int index) const;

    virtual std::string ResolveFileName() const;
    virtual void RefreshControls() {}
    virtual void FillListView() {}
    virtual std::string GetBuildFlagsText() const;
    virtual void ReadVersionInfo();

    // The owner has finished setting the component up: read the block now.
    void Loaded();
    bool loading() const { return m_loading; }

    bool hasFixedRecord() const { return m_hasFixed; }
    const FixedFileInfo& fixedRecord() const { return m_fixed; }
    const std::vector<std::uint8_t>& block() const { return m_block; }

protected:
    TPreDefs m_showResource = kAllPreDefs;

private:
    std::string m_filename;
    bool m_forceExe = false;
    bool m_loading = true;
    std::vector<std::uint8_t> m_block;
    bool m_hasFixed = false;
    FixedFileInfo m_fixed;
};

}  // namespace versioninfo
