// Moving files to the desktop trash, reading its records, and deleting for good.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// Where a trashed file went: the file in the trash's files/ folder and its
// information file in info/.
struct TrashEntry {
    std::string file;
    std::string info;
};

// A file's identity on its file system.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};

// Moves a regular file into the freedesktop.org trash of its file system,
// by the exact bytes of its path: the home trash when the file lives on the
// same file system as it, else the trash at the top of the file's own
// mount. Never copies across file systems. False with the reason in
// `error` when the file cannot go to a trash; the file is then untouched.
bool moveToTrash(const std::string& path, std::string& error);

// The same for the entry `name` of an open folder, so that nothing on the
// way is resolved again; `path` is the file's full path, written into the
// trash information and used to find the trash of the file's mount. With
// `expected`, a file that turns out to be another one once in the trash
// (replaced in the instant before the move) is moved back and refused.
// `beforeMove`, when given, learns the entry claimed for the file before the
// file moves; when it returns false the file stays where it is. `entry`
// receives where the file went. With `folderToo`, a folder goes the same way
// (whole, by one rename).
bool moveToTrashAt(int folder, const std::string& name, const std::string& path,
                   const FileIdentity* expected,
                   const std::function<bool(const TrashEntry&)>& beforeMove, TrashEntry& entry,
                   std::string& error, bool folderToo = false);

// The original full path a trash information file names (a mount's trash
// names it relative to the top of the mount). False when the file cannot be
// read or names none.
bool readTrashInfoPath(const std::string& infoFile, std::string& path);

// Deletes a regular file for good. A folder, a link or anything else at the
// path is refused and left alone.
bool deletePermanently(const std::string& path, std::string& error);

// The home trash folder: $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash.
std::string homeTrashFolder();

// Tells whether a path lies in a trash folder: this user's home trash, the
// .local/share/Trash of any home, or .Trash-UID or .Trash/UID at the top of
// a mount, for any user's UID.
class TrashFolders {
public:
    TrashFolders() = default;
    // Home trash folders without a trailing '/'; mount points as the mount
    // table writes them.
    TrashFolders(std::vector<std::string> homeTrashes, std::vector<std::string> mountPoints);
    // This user's home trash (as named and where links in it lead) and the
    // mounts of this process.
    static TrashFolders ofSystem();

    // `path` names a file, or a folder when it ends with '/'.
    bool holds(std::string_view path) const;

private:
    bool isMountPoint(std::string_view folder) const;

    std::vector<std::string> m_homeTrashes;
    std::vector<std::string> m_mountPoints;  // sorted
};

}  // namespace platform
