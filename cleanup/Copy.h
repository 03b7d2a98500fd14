// Copies a file for a move to another file system, flushed and read back before it counts.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>

#include "platform/NoFollowOpen.h"

namespace cleanup {

// Called after each chunk with the bytes handled so far (the copy, then its
// check, each counts the file's size); false stops the copy.
using CopyProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// Copies the open regular file `from` (as `fromState` describes it) into the
// open folder `folder` as `name`, for a move to another file system: written
// under the spare name `spare` beside it, flushed to the disk, read back and
// compared byte for byte with the source, given the source's extended
// attributes (and with them its ACLs), permissions, owner (where allowed) and
// times, and only then renamed to `name`, never
// over another file. `copied` receives the new file's state. False with the
// reason, and nothing left in `folder`, when any step fails or `progress`
// stops it (then `stopped` is set).
bool copyInto(int from, const struct stat& fromState, int folder, const std::string& spare,
              const std::string& name, const CopyProgress& progress, struct stat& copied,
              std::string& reason, bool& stopped);

// Gives the open file `to` exactly the extended attributes of the open file
// `from`: each is copied, and any `to` has that `from` lacks (as one taken
// from a folder's default ACL) is removed. The security label is left to the
// system. False with the reason when one cannot be kept.
bool copyExtendedAttributes(int from, int to, std::string& reason);

// Makes the folder `name` in the open folder `parent` for a move, standing
// for the folder `model`: made closed (0700), then given the model's owner
// (where allowed), extended attributes and mode. Without a model it is made
// as the umask says. A folder already there is left as it is. False with the
// reason when it cannot be made.
bool makeFolderLike(int parent, const std::string& name, const std::string& model,
                    std::string& reason);

// Where descending into folders stopped: nowhere, a folder that could not be
// made (with the system's reason), or something that is no folder in the way.
enum class FolderStop { None, NotMade, InTheWay };

// Goes down from `folder` through the folders of `relative` ('/' between
// them), making those that are missing, without following a link; each one
// made stands for the folder of the same relative path below `modelBase`
// (ending with '/'; "" for none). `folder` ends as the deepest folder reached;
// otherwise the name where it stopped and why.
FolderStop descendMakingFoldersLike(platform::UniqueFd& folder, const std::string& relative,
                                    std::string modelBase, std::string& stoppedAt,
                                    std::string& reason);

// Opens `folder` (taken as named) and the folders of `relative` below it,
// making those that are missing, without following a link; each one made
// stands for the folder of the same relative path below `modelBase` (ending
// with '/'; "" for none).
bool openOrMakeFoldersLike(const std::string& folder, const std::string& relative,
                           const std::string& modelBase, platform::UniqueFd& opened,
                           std::string& reason);

}  // namespace cleanup
