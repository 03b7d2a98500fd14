// Walks a folder tree without following links and reports its folders and matching files.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/FolderListing.h"
#include "platform/NoFollowOpen.h"
#include "scanner/FolderReadAhead.h"
#include "text/StringList.h"

namespace scanner {

// Walks one folder tree depth-first and reports each folder it enters, each
// file that matches a mask, and the end of each folder. It keeps no results:
// handlers read FileFound and FileSize while their event runs.
//
// The start folder is opened as named (a link the user named is followed);
// every folder below it is opened relative to its parent's descriptor
// without following a link, and its entries are queried relative to its own,
// so no rename or swap by another process can lead the walk out of the tree.
// The most threads that read folder listings ahead of a walk; one starts,
// and more only while listings wait on the disk (ReaderGrowth). Measured on
// 200,000 files in 10,000 folders (bench/RESULTS.md): see there for why this many.
constexpr std::size_t kListingThreads = 3;
// How many folders the listing threads may read ahead of the walk.
constexpr std::size_t kListingWindow = 64;

class TTreeScanner {
public:
    using Event = std::function<void(TTreeScanner&)>;

    TTreeScanner();

    Event OnDirectoryFound;
    Event OnDirectoryDone;
    Event OnSearchDone;
    Event OnFileFound;
    // A folder could not be opened or read (FileFound names it, FolderError()
    // says why); raised after its OnDirectoryFound, so the pair stays whole.
    Event OnFolderError;
    // One turn of the host's event loop, at the start of every folder.
    std::function<void()> onIdle;
    // The same, every few milliseconds while the walk waits for a folder
    // read ahead: a listing that waits for the disk does not stall the host.
    std::function<void()> onWaiting;
    // Whether the walk lists a folder itself while it waits for one read
    // ahead from the page cache. Off under a window: a large folder's
    // listing would hold up its turns.
    bool ListWhileWaiting = true;

    // The path of the folder or file being reported. A file's path is made
    // only when a handler asks for it: most files never need one.
    const std::string& FileFound() const;
    std::int64_t FileSize() const { return m_fileSize; }
    // The listing's entry of the file being reported (name, size, time,
    // device and inode), as the folder was read moments before the event.
    const platform::FileEntry& FileEntry() const { return m_entry; }
    // During OnDirectoryFound: the folder's files and subfolders as listed
    // (links and special files left out); empty when it could not be read.
    const std::vector<platform::FileEntry>& FolderEntries() const { return m_folderEntries; }
    // The names of the links, FIFOs, sockets and devices of that listing.
    const std::vector<std::string>& FolderOthers() const { return m_folderOthers; }
    // During OnFolderError: the system's error number.
    int FolderError() const { return m_folderError; }
    bool SearchInProgress() const { return m_searchInProgress; }

    std::string InitialDirectory;
    bool Recursive = true;
    bool FindHiddenFiles = false;
    bool FindHiddenFolders = false;
    // Set by Search; a client clears it to stop the walk.
    bool KeepScanning = false;
    // The most threads reading listings ahead of the walk; 0 or 1 lists each
    // folder as the walk enters it. Either way the events, their order and
    // their contents are the same: the walk itself stays on the calling thread.
    std::size_t ListingThreads = kListingThreads;
    // Listings of a run that must wait on the disk before one more thread
    // starts (ReaderGrowth); 0 adds one after every listing.
    std::size_t SlowListingsToGrow = ReaderGrowth().slowToGrow;

    // Writes are ignored while a walk runs.
    std::string FileMask() const;
    void setFileMask(const std::string& mask);
    std::string FileMaskCommaText() const;
    void setFileMaskCommaText(const std::string& text);

    void Search();

private:
    // One folder of the path from the start folder down to the folder being
    // walked: its name in its parent, who it is, and its descriptor while
    // that is held.
    struct Level {
        std::string name;
        dev_t device = 0;
        ino_t inode = 0;
        bool known = false;  // device and inode are set
        platform::UniqueFd fd;
    };

    void ScanFolder(const std::string& folder, std::size_t depth);
    // The same walk with its listings read ahead; m_place is the folder's.
    void ScanAhead(const std::string& folder, FolderReadAhead& ahead);
    // The events of one listed folder up to its subfolders.
    void reportFolder(const std::string& folder, Listing& listing);
    ListingRules rules() const;
    // The descriptor of m_levels[depth], opened again from the nearest held
    // folder above when it was let go. -1 with errno set.
    int openLevel(std::size_t depth);
    // Lets go of every held descriptor but that of `keep`.
    void releaseLevels(std::size_t keep);
    void raise(const Event& event);

    // Sorted ignoring case; a mask repeating another ignoring case is dropped.
    text::StringList m_masks;
    std::vector<Level> m_levels;
    FolderReadAhead::Place m_place;
    mutable std::string m_fileFound;
    // While a file is reported: its folder, its path not yet made.
    mutable const std::string* m_fileFolder = nullptr;
    platform::FileEntry m_entry;
    std::vector<platform::FileEntry> m_folderEntries;
    std::vector<std::string> m_folderOthers;
    int m_folderError = 0;
    std::int64_t m_fileSize = 0;
    bool m_searchInProgress = false;
};

}  // namespace scanner
