// The first phase of a search: the candidate files gathered from the scanned trees.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "text/StringList.h"
#include "platform/Trash.h"
#include "search/CatalogueList.h"
#include "search/OverlayAliases.h"

namespace scanner {
class TTreeScanner;
}

namespace search {

enum class ScanMode { Normal = 0, Master = 1, Filtered = 2 };

// What the catalogue needs of the window: the folder being walked, shown at
// once (once per folder, never per file).
class FolderStatus {
public:
    virtual ~FolderStatus() = default;
    // "Skipping " + folder for a skipped folder, else the folder alone.
    virtual void showCurrentFolder(const std::string& text) = 0;
};

// Turns the scanner's events into the catalogue of candidate files under
// the skip rules.
class FileCatalogue {
public:
    FileCatalogue();

    // Copies of the user's options, taken when a run starts.
    bool SkipSysbckupFolder = true;
    bool SkipDesktopFolders = true;
    bool SkipTrashFolders = true;
    bool SkipEmptyFiles = true;
    bool CheckFileSize = true;
    ScanMode scanMode = ScanMode::Normal;

    // Folder paths in the order of the folder events; a catalogue entry's
    // folder is an index into it.
    std::vector<std::string> Folders;
    CatalogueList Catalogue;
    // Key prefixes of the master drive's files.
    text::StringList MasterKeys;
    // Lower case, beginning and ending with '/', at least three characters.
    text::StringList SkipFolders;
    // One file seen through an overlay and in its layers is taken once;
    // the overlays are read again as each run starts.
    OverlayAliases Overlays;
    // Where the trash folders are; read again as each run starts.
    platform::TrashFolders Trash;
    // Full paths of known duplicates to leave out, matched byte for byte.
    text::StringList SkipFiles;

    std::int32_t CurrentFolder = -1;
    bool FolderSkipped = false;

    FolderStatus* status = nullptr;

    // Binds the three handlers to the scanner's events.
    void bind(scanner::TTreeScanner& scanner);
    // Empties Catalogue, Folders and MasterKeys and forgets the files taken;
    // SkipFiles stays. Sets the key mode from CheckFileSize.
    void startScan();
    // Empties Catalogue and Folders once the comparison has consumed them.
    void release();

    void TreeScanner1DirectoryFound(scanner::TTreeScanner& sender);
    void TreeScanner1FileFound(scanner::TTreeScanner& sender);
    void TreeScanner1DirectoryDone(scanner::TTreeScanner& sender);

    // The full path of a catalogue entry.
    std::string pathOf(const CatalogueList::Entry& entry) const;
    // The root folder a folder's walk began at: the user named that one, so
    // a link there is followed, and no link below it ever is. `index`
    // tells the walks apart; `length` is the root's part of the path.
    struct RootPlace {
        std::size_t index = 0;
        std::size_t length = 0;
    };
    RootPlace rootOf(std::int32_t folder) const;

private:
    struct RootSpan {
        std::int32_t firstFolder = 0;
        std::size_t length = 0;
    };
    std::vector<RootSpan> m_roots;
};

// The "same date and time" key: the modification time to the two seconds of
// the MS-DOS stamp, in UTC. Two times are the same exactly when their stamps
// are, within the stamp's years and outside the hour an autumn clock change
// repeats; before 1980, after 2107 and in that hour they stay apart.
constexpr std::int64_t sameTimeKey(std::int64_t unixSeconds)
{
    return unixSeconds >= 0 ? unixSeconds / 2 : -((1 - unixSeconds) / 2);
}

}  // namespace search
