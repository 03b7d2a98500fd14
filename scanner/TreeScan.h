#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/FolderListing.h"
#include "platform/StringList.h"

namespace scanner {

// Walks one folder tree depth-first and reports each folder it enters, each
// file that matches a mask, and the end of each folder. It keeps no results:
// handlers read FileFound and FileSize while their event runs.
class TTreeScanner {
public:
    using Event = std::function<void(TTreeScanner&)>;

    TTreeScanner();

    Event OnDirectoryFound;
    Event OnDirectoryDone;
    Event OnSearchDone;
    Event OnFileFound;
    // One turn of the host's event loop, at the start of every folder.
    std::function<void()> onIdle;

    const std::string& FileFound() const { return m_fileFound; }
    std::int64_t FileSize() const { return m_fileSize; }
    // The listing's entry of the file being reported (name, size, time,
    // device and inode), as the folder was read moments before the event.
    const platform::FileEntry& FileEntry() const { return m_entry; }
    bool SearchInProgress() const { return m_searchInProgress; }

    std::string InitialDirectory;
    bool Recursive = true;
    bool FindHiddenFiles = false;
    bool FindHiddenFolders = false;
    // Set by Search; a client clears it to stop the walk.
    bool KeepScanning = false;

    // Writes are ignored while a walk runs.
    std::string FileMask() const;
    void setFileMask(const std::string& mask);
    std::string FileMaskCommaText() const;
    void setFileMaskCommaText(const std::string& text);

    void Search();

private:
    // `device` is the folder's device when its parent's listing gave it.
    void ScanFolder(const std::string& folder, const dev_t* device);
    void raise(const Event& event);

    // Sorted ignoring case; a mask repeating another ignoring case is dropped.
    platform::StringList m_masks;
    std::string m_fileFound;
    platform::FileEntry m_entry;
    std::int64_t m_fileSize = 0;
    bool m_searchInProgress = false;
};

}  // namespace scanner
