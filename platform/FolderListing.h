// Lists a folder's entries with their sizes, times and attributes, and matches file masks.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// Attribute bits as a Windows directory listing reports them; see
// readFolder() for how a Linux entry maps onto them.
enum : std::uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolumeLabel = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrCompressed = 0x800,
    kAttrAll = 0x3F,
};

struct FileEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::int64_t size = 0;
    std::int64_t writeSeconds = 0;  // st_mtim
    std::int64_t writeNanoseconds = 0;
    // st_ctim in nanoseconds: any write, rename or change of mode moves it.
    std::int64_t changeNanoseconds = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

// Every regular file and folder of `folder` ("." and ".." excluded), each
// queried once without following links. Symbolic links, FIFOs, sockets and
// devices never appear. Hidden = the name begins with '.'; read-only = the
// owner may not write; system = a folder on another file system than its
// parent (a mount point, never entered by a walk). False when the folder
// cannot be listed; the entries read before a failure are kept.
bool readFolder(const std::string& folder, std::vector<FileEntry>& entries);
// The same for a folder already open (O_RDONLY | O_DIRECTORY) whose own
// device is `device`. Every entry is queried relative to the descriptor, so
// nothing is resolved by path: a name swapped for a link meanwhile is seen
// as that link and left out. False with errno set when the listing broke off.
// `others`, when given, receives the names of the entries left out: links,
// FIFOs, sockets and devices.
bool readOpenFolder(int fd, dev_t device, std::vector<FileEntry>& entries,
                    std::vector<std::string>* others = nullptr);

// The Windows filter of a listing request: an entry is returned unless it
// carries a hidden, system or volume-label bit that the request lacks.
bool passesRequest(std::uint32_t attributes, std::uint32_t request);

// '*' and '?' compared ignoring ASCII case; "*.*" matches every name and a
// mask ending in ".*" also matches the name without an extension. '?' stands
// for one character of UTF-8.
bool matchesMask(std::string_view name, std::string_view mask);

// The listing of `folder` for one pattern: matching entries that pass the
// request, in the order the folder gives them.
std::vector<FileEntry> listFolder(const std::string& folder, std::string_view mask,
                                  std::uint32_t request);

// The entry of one file by its path (lstat). False unless the path names a
// regular file.
bool queryFileEntry(const std::string& path, FileEntry& entry);

// True when a regular file (not a folder, not a link) exists at the path.
bool fileExists(const std::string& path);

// A regular file `name` directly in `folder` (which ends with '/').
bool fileExistsIn(const std::string& folder, std::string_view name);

// Makes a folder and any missing folders above it; true when the path is a
// folder afterwards.
bool makeFolders(const std::string& path, mode_t mode);

// getcwd(), ending without a separator; "" when it cannot be read.
std::string currentFolder();
// The running program's file (/proc/self/exe); "" when unknown.
std::string programFilePath();

// Local time of a Unix time packed as an MS-DOS date (high 16 bits) and time
// (low 16 bits, seconds in steps of two). 0 for times it cannot represent.
std::uint32_t packedDosTime(std::int64_t unixSeconds);

// 100-nanosecond ticks since 1601-01-01 UTC; 0 before that.
std::uint64_t fileTimeTicks(std::int64_t unixSeconds, std::int64_t nanoseconds);

// The part after the last '/'.
std::string_view nameOf(std::string_view path);
// The part up to and including the last '/'.
std::string_view folderOf(std::string_view path);

}  // namespace platform
