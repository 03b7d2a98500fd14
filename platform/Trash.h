#pragma once

#include <string>

namespace platform {

// Moves a regular file into the freedesktop.org trash of its file system,
// by the exact bytes of its path: the home trash when the file lives on the
// same file system as it, else the trash at the top of the file's own
// mount. Never copies across file systems. False with the reason in
// `error` when the file cannot go to a trash; the file is then untouched.
bool moveToTrash(const std::string& path, std::string& error);

// Deletes a regular file for good. A folder, a link or anything else at the
// path is refused and left alone.
bool deletePermanently(const std::string& path, std::string& error);

// The home trash folder: $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash.
std::string homeTrashFolder();

}  // namespace platform
