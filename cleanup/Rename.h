// A rename that never takes another file's place.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace cleanup {

// renameat2 with RENAME_NOREPLACE, so a rename never takes another file's
// place; where the file system lacks the flag, a check and a plain rename.
// 0, or -1 with errno set (EEXIST when the place is taken).
int renameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to);

}  // namespace cleanup
