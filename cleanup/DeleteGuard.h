// The one guard of every deletion: away from its name, its copy checked in place, then finished.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <sys/stat.h>

#include "platform/FileContents.h"
#include "platform/Trash.h"

namespace cleanup {

// Another file holding the same bytes as the one to go, as it was when the
// two were compared.
struct CopyAtPlace {
    std::string path;
    // How much of `path` is taken as named (a link there is followed); no
    // link below it is.
    std::size_t trusted = 0;
    platform::FileStamp stamp;      // its device, inode, size and change time then
    std::string role = "its copy";  // how a reason names it
};

// Whether the copy's path still names the very file that was compared: the
// same device, inode, size and change time, reached without following a
// link below its first `trusted` bytes. Asked once the file to go has left
// its name, so that a copy which was that file seen another way (an overlay
// mount, a bind mount) or which another run took away meanwhile is found
// out. `away` is the file that left its name: when the copy is a hard link
// of it, the rename moved their common change time, which is then not held
// against it. False with why.
bool copyStillAt(const CopyAtPlace& copy, const struct stat* away, std::string& reason);

// The same for a file away under `awayName` of `awayFolder`, with the reason
// naming the copy by its role and path. Without a copy, true.
bool copyHoldsWhileAway(int awayFolder, const std::string& awayName, const CopyAtPlace* copy,
                        std::string& reason);

// Whether the kept file, open as `keptFd` at `keptPath`, is on an overlay
// that shows the file `marked` of one of its layers there: one of the layer
// files the overlay's own way down its layers passes at that path (through
// folders and files renamed through the overlay, down to the lower file
// that holds the data of a file copied up for its metadata only), or, where
// the layers share one device, the layer file whose inode the overlay gives
// it. Removing `marked` would then take the kept file's data with it, while
// the kept path still answers as before. When those layer files cannot be
// told, true for any `marked` on a layer's file system.
bool shownThroughOverlay(int keptFd, const std::string& keptPath, const struct stat& kept,
                         const struct stat& marked);

// The entry `name` of `folder` is still `file` as it was compared: a regular
// file with the same device, inode, size and modification time.
bool entryIsFile(int folder, const std::string& name, const struct stat& file);

// How a guarded deletion ended.
enum class Guarded {
    Done,      // the file is gone (or in the trash)
    PutBack,   // the file is under its name again, unchanged
    Stranded,  // the file could not be put back: `reason` says where it is
};

// Called once the file has left its name, just before its copy is checked.
using WhileAway = std::function<void()>;

// Deletes the entry `name` of `folder` for good while its copy holds: the
// entry leaves its name first (renamed to `spare` beside it, never over
// another file) and must still be `file`; then the copy is checked at its
// place; only then is it unlinked, else it is put back under its name.
// Without a copy only the first check is made.
Guarded deleteWhileCopyHolds(int folder, const std::string& name, const std::string& spare,
                             const struct stat& file, const CopyAtPlace* copy,
                             const WhileAway& whileAway, std::string& reason);

// The same with the trash: the file goes into the trash of its file system
// first (`path` is its full path, `beforeMove` learns the entry claimed for
// it), and comes back out when it is no longer `file` or its copy no longer
// holds. `entry` says where it went.
Guarded trashWhileCopyHolds(int folder, const std::string& name, const std::string& path,
                            const struct stat& file, const CopyAtPlace* copy,
                            const std::function<bool(const platform::TrashEntry&)>& beforeMove,
                            const WhileAway& whileAway, platform::TrashEntry& entry,
                            std::string& reason);

}  // namespace cleanup
