// Undoes a cleanup from its journal: puts trashed and moved files back where that is safe.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Undo.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "cleanup/Copy.h"
#include "cleanup/Journal.h"
#include "cleanup/Plan.h"
#include "cleanup/Rename.h"
#include "platform/FolderListing.h"
#include "platform/NoFollowOpen.h"
#include "text/Text.h"
#include "platform/Trash.h"

namespace cleanup {

std::int64_t UndoReport::count(UndoItem::Status status) const
{
    std::int64_t total = 0;
    for (const UndoItem& item : items) {
        total += item.status == status ? 1 : 0;
    }
    return total;
}

namespace {

using Fields = std::vector<std::string>;

// What a journal says of one step.
struct StepRecord {
    Fields intent;
    Fields trashing;
    Fields linking;
    Fields done;
    Fields untouched;
};

// What tells the file a step acted on from any other: an inode number
// alone may be given to a new file once the old one is gone.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
};

bool parseIdentity(const Fields& fields, std::size_t first, std::size_t rest, Identity& identity)
{
    std::int64_t d = 0;
    std::int64_t i = 0;
    if (fields.size() < rest + 2 || !text::parseInt64(fields[first], d) ||
        !text::parseInt64(fields[first + 1], i) ||
        !text::parseInt64(fields[rest], identity.size) ||
        !text::parseInt64(fields[rest + 1], identity.modifiedNs)) {
        return false;
    }
    identity.device = static_cast<dev_t>(d);
    identity.inode = static_cast<ino_t>(i);
    return true;
}

bool matches(const struct stat& st, const Identity& identity)
{
    return S_ISREG(st.st_mode) && st.st_dev == identity.device && st.st_ino == identity.inode &&
           st.st_size == identity.size &&
           static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec ==
               identity.modifiedNs;
}

bool isFile(int folder, const std::string& name, const Identity& identity)
{
    struct stat st = {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && matches(st, identity);
}

std::size_t trustedFor(const std::string& path, const std::string& root)
{
    return !root.empty() && path.size() > root.size() && path.compare(0, root.size(), root) == 0
               ? root.size()
               : 0;
}

// The place of `path`, reached without following a link below its first
// `trusted` bytes; with `make`, folders that are gone are made again, each
// like the folder of the same name that `from` is in (or its folders above),
// where that stands for it.
bool placeOf(const std::string& path, std::size_t trusted, bool make, platform::PathPlace& place,
             std::string& reason, const std::string& from = "")
{
    if (platform::openPlaceNoFollow(path, trusted, place)) {
        return true;
    }
    if (errno != ENOENT || !make) {
        reason = errno == ELOOP || errno == ENOTDIR
                     ? "a folder on its path is a link or no folder now"
                     : std::string(std::strerror(errno));
        return false;
    }
    const std::string base = trusted > 0 ? path.substr(0, trusted) : "/";
    platform::UniqueFd folder(::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.ok()) {
        reason = "its folder " + text::displayName(base) + " is gone";
        return false;
    }
    const std::string rest(platform::folderOf(path.substr(base.size())));
    const std::string fromFolder(platform::folderOf(from));
    std::string model;
    if (!rest.empty() && fromFolder.size() > rest.size() &&
        fromFolder.compare(fromFolder.size() - rest.size(), rest.size(), rest) == 0 &&
        fromFolder[fromFolder.size() - rest.size() - 1] == '/') {
        model = fromFolder.substr(0, fromFolder.size() - rest.size());
    }
    std::string part;
    std::string why;
    switch (descendMakingFoldersLike(folder, rest, model, part, why)) {
    case FolderStop::None:
        break;
    case FolderStop::NotMade:
        reason = "its folder cannot be made again: " + why;
        return false;
    case FolderStop::InTheWay:
        reason = "a folder on its path is a link or no folder now";
        return false;
    }
    place.folder = std::move(folder);
    place.name = std::string(platform::nameOf(path));
    return true;
}

// Whether `path` holds the file now. A file copied back from another file
// system has a new inode: then its device, size and time tell it.
bool isInPlace(const std::string& path, const std::string& root, const Identity& identity,
               bool copied = false)
{
    platform::PathPlace place;
    struct stat st = {};
    if (!platform::openPlaceNoFollow(path, trustedFor(path, root), place) ||
        ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    Identity loose = identity;
    if (copied) {
        loose.inode = st.st_ino;
    }
    return matches(st, loose);
}

// Copies the file `identity` of `source` to `target` and then removes it,
// for a file that was moved to another file system.
bool copyBack(const platform::PathPlace& source, const Identity& identity,
              const platform::PathPlace& target, std::string& reason)
{
    platform::UniqueFd file(::openat(source.folder.get(), source.name.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st = {};
    if (!file.ok() || ::fstat(file.get(), &st) != 0 || !matches(st, identity)) {
        reason = "it changed where it is";
        return false;
    }
    const std::string spare = ".gemmora-undo-" + std::to_string(::getpid());
    struct stat copied = {};
    bool stopped = false;
    if (!copyInto(file.get(), st, target.folder.get(), spare, target.name, {}, copied, reason,
                  stopped)) {
        return false;
    }
    if (!isFile(source.folder.get(), source.name, identity) ||
        ::unlinkat(source.folder.get(), source.name.c_str(), 0) != 0) {
        reason = "it is back, but the moved copy could not be removed";
    }
    return true;
}

// Moves the file `identity` at `from` (below `fromTrusted` bytes) back to
// `path`, where it was as `original`; `where` names the place it is in, for
// the report.
UndoItem moveBack(const std::string& from, std::size_t fromTrusted, const std::string& where,
                  const std::string& path, const std::string& root, const Identity& identity,
                  const Identity& original)
{
    UndoItem item;
    item.path = path;
    const bool copied = identity.device != original.device || identity.inode != original.inode;
    platform::PathPlace source;
    if (!platform::openPlaceNoFollow(from, fromTrusted, source) ||
        !isFile(source.folder.get(), source.name, identity)) {
        if (isInPlace(path, root, original, copied)) {
            item.status = UndoItem::AlreadyBack;
            return item;
        }
        item.detail = "it is no longer " + where;
        return item;
    }
    platform::PathPlace target;
    if (!placeOf(path, trustedFor(path, root), true, target, item.detail, from)) {
        item.detail = "it stays " + where + ": " + item.detail;
        return item;
    }
    if (renameNoReplace(source.folder.get(), source.name, target.folder.get(), target.name) != 0) {
        if (errno == EXDEV) {
            std::string reason;
            if (!copyBack(source, identity, target, reason)) {
                item.detail = reason == "a file is in its place already"
                                  ? "another file has taken its place; it stays " + where
                                  : "it stays " + where + ": " + reason;
                return item;
            }
            item.detail = reason;
            item.status = UndoItem::PutBack;
            return item;
        }
        item.detail = errno == EEXIST ? "another file has taken its place; it stays " + where
                                      : "it stays " + where + ": " + std::strerror(errno);
        return item;
    }
    item.status = UndoItem::PutBack;
    return item;
}

UndoItem moveBack(const std::string& from, std::size_t fromTrusted, const std::string& where,
                  const std::string& path, const std::string& root, const Identity& identity)
{
    return moveBack(from, fromTrusted, where, path, root, identity, identity);
}

UndoItem refused(const std::string& path, const std::string& reason)
{
    UndoItem item;
    item.path = path;
    item.detail = "refused: " + reason;
    return item;
}

bool isPlain(const std::string& path)
{
    return !path.empty() && path[0] == '/' && plainPath(path, "/", false) == path;
}

std::string lastName(const std::string& folder)
{
    return std::string(platform::nameOf(folder.substr(0, folder.size() - 1)));
}

// Whether `folder` (ending with '/') is a trash of this user by its name:
// a home trash ".../Trash", or a mount's ".Trash-UID" or ".Trash/UID".
bool isTrashFolder(const std::string& folder)
{
    if (folder.size() < 2) {
        return false;
    }
    const std::string uid = std::to_string(::getuid());
    const std::string name = lastName(folder);
    if (name == "Trash" || name == ".Trash-" + uid) {
        return true;
    }
    const std::string parent(platform::folderOf(folder.substr(0, folder.size() - 1)));
    return name == uid && parent.size() > 1 && lastName(parent) == ".Trash";
}

// Why a trash entry a journal names cannot be trusted; "" when it can: the
// file is in a trash's files/ folder and its information file is the one
// of the same name in info/ beside it, both named plainly.
std::string untrustedTrashEntry(const std::string& file, const std::string& info)
{
    if (!isPlain(file) || !isPlain(info)) {
        return "its journal line names a trash entry that is no plain full path";
    }
    const std::string files(platform::folderOf(file));
    const std::string trash(platform::folderOf(files.substr(0, files.size() - 1)));
    if (lastName(files) != "files" || !isTrashFolder(trash)) {
        return "its journal line names " + text::displayName(file) +
               ", which is in no trash's files folder";
    }
    if (info != trash + "info/" + std::string(platform::nameOf(file)) + ".trashinfo") {
        return "its journal line names a trash information file that does not belong to " +
               text::displayName(file);
    }
    return "";
}

// Why the information file of a trash entry that holds a file does not
// vouch for `path`; "" when it does.
std::string unmatchedTrashInfo(const std::string& info, const std::string& path)
{
    struct stat st = {};
    std::string named;
    if (::lstat(info.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return "the trash holds no information file for it";
    }
    if (!platform::readTrashInfoPath(info, named) || named != path) {
        return "its trash entry names another file now";
    }
    return "";
}

UndoItem fromTrash(const std::string& file, const std::string& info, const std::string& path,
                   const std::string& root, const Identity& identity)
{
    if (const std::string why = untrustedTrashEntry(file, info); !why.empty()) {
        return refused(path, why);
    }
    const std::string where = "in the trash as " + text::displayName(file);
    struct stat st = {};
    if (::lstat(file.c_str(), &st) == 0) {
        if (!matches(st, identity)) {
            UndoItem item;
            item.path = path;
            item.detail = "the trash holds another file under its name now";
            return item;
        }
        if (const std::string why = unmatchedTrashInfo(info, path); !why.empty()) {
            return refused(path, why);
        }
    }
    const std::string trash(platform::folderOf(file));
    UndoItem item = moveBack(file, trash.size() - 1, where, path, root, identity);
    if (item.status == UndoItem::PutBack) {
        ::unlink(info.c_str());
    }
    return item;
}

// The folder the run of step `id` moved its files into, as its "run" line
// recorded it at its start; "" when that run was no move.
std::string moveFolderOf(const std::string& id, const std::map<std::string, Fields>& runs)
{
    const auto run = runs.find(id.substr(0, id.rfind('.')));
    if (run == runs.end() || run->second.size() < 5 || run->second[3] != "move" ||
        !isPlain(run->second[4] + "x")) {
        return "";
    }
    return run->second[4];
}

// Why a moved file a journal names is not to be taken back; "" when it
// lies below its run's own move folder.
std::string untrustedMove(const std::string& where, const std::string& folder)
{
    if (folder.empty()) {
        return "its journal line names a moved file, but its run moved nothing";
    }
    if (!isPlain(where) || trustedFor(where, folder) == 0) {
        return "its journal line names " + text::displayName(where) +
               ", which is not below the run's move folder " + text::displayName(folder);
    }
    return "";
}

// The temporary name a step uses beside a file: ".gemmora-" and its ID.
std::string spareNameOf(const std::string& id)
{
    return ".gemmora-" + id;
}

bool isSpareName(const std::string& name)
{
    return name.rfind(".gemmora-", 0) == 0 && name.find('/') == std::string::npos;
}

// The kept file a hard-link step linked to, from its "linking" line.
bool keptIdentity(const StepRecord& step, Identity& kept)
{
    std::int64_t device = 0;
    std::int64_t inode = 0;
    if (step.linking.size() < 5 || !text::parseInt64(step.linking[3], device) ||
        !text::parseInt64(step.linking[4], inode)) {
        return false;
    }
    kept.device = static_cast<dev_t>(device);
    kept.inode = static_cast<ino_t>(inode);
    return true;
}

bool sameInode(const struct stat& st, const Identity& identity)
{
    return S_ISREG(st.st_mode) && st.st_dev == identity.device && st.st_ino == identity.inode;
}

// A move to another file system killed while it copied leaves its partial
// copy under the step's temporary name beside the target.
std::string removePartialCopy(const StepRecord& step, const std::map<std::string, Fields>& runs,
                              const Identity& identity)
{
    const std::string& target = step.intent[7];
    const std::string folder = moveFolderOf(step.intent[1], runs);
    if (step.intent[2] != "move" || !untrustedMove(target, folder).empty()) {
        return "";
    }
    const std::string partial =
        std::string(platform::folderOf(target)) + spareNameOf(step.intent[1]);
    platform::PathPlace place;
    struct stat st = {};
    if (!platform::openPlaceNoFollow(partial, trustedFor(partial, folder), place) ||
        ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_size > identity.size || sameInode(st, identity) ||
        ::unlinkat(place.folder.get(), place.name.c_str(), 0) != 0) {
        return "";
    }
    return "its partial copy " + text::displayName(partial) + " was removed";
}

// A hard link killed between making the link and the swap leaves a hidden
// link of the kept file beside the marked one; it goes while the kept file
// still holds the data.
std::string removeHiddenLink(const StepRecord& step, const std::string& root)
{
    Identity kept;
    const std::string& spare = step.intent[7];
    if (step.intent[2] != "hardlink" || !isSpareName(spare) || !keptIdentity(step, kept)) {
        return "";
    }
    const std::string link = std::string(platform::folderOf(step.intent[3])) + spare;
    platform::PathPlace place;
    struct stat st = {};
    struct stat keptNow = {};
    if (!platform::openPlaceNoFollow(link, trustedFor(link, root), place) ||
        ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameInode(st, kept) || ::lstat(step.linking[2].c_str(), &keptNow) != 0 ||
        !sameInode(keptNow, kept) || ::unlinkat(place.folder.get(), place.name.c_str(), 0) != 0) {
        return "";
    }
    return "its hidden link " + text::displayName(spare) + " of the kept file was removed";
}

// A trash killed before the file moved leaves an information file without
// its file.
std::string removeLoneTrashInfo(const StepRecord& step)
{
    if (step.trashing.size() < 4) {
        return "";
    }
    const std::string& file = step.trashing[2];
    const std::string& info = step.trashing[3];
    struct stat st = {};
    if (!untrustedTrashEntry(file, info).empty() || ::lstat(file.c_str(), &st) == 0 ||
        errno != ENOENT || !unmatchedTrashInfo(info, step.intent[3]).empty() ||
        ::unlink(info.c_str()) != 0) {
        return "";
    }
    return "its trash information file " + text::displayName(info) +
           ", left without a file, was removed";
}

// What a killed step left behind, removed once the file is in its place.
std::string removeLeftovers(const StepRecord& step, const std::map<std::string, Fields>& runs,
                            const Identity& identity)
{
    std::string said;
    for (const std::string& one :
         {removePartialCopy(step, runs, identity), removeHiddenLink(step, step.intent[4]),
          removeLoneTrashInfo(step)}) {
        if (!one.empty()) {
            said += (said.empty() ? "" : "; ") + one;
        }
    }
    return said;
}

// A hard link whose swap was done when the run was killed: the new link is
// in the file's place and the file beside it under the step's temporary
// name. They swap back, and the link goes. False when that is not so.
bool undoFinishedSwap(const StepRecord& step, const Identity& identity, UndoItem& item)
{
    Identity kept;
    const std::string& path = step.intent[3];
    const std::string& spare = step.intent[7];
    platform::PathPlace place;
    if (step.intent[2] != "hardlink" || !isSpareName(spare) || !keptIdentity(step, kept) ||
        !platform::openPlaceNoFollow(path, trustedFor(path, step.intent[4]), place)) {
        return false;
    }
    const int folder = place.folder.get();
    struct stat st = {};
    if (::fstatat(folder, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameInode(st, kept) || !isFile(folder, spare, identity)) {
        return false;
    }
    if (::renameat2(folder, spare.c_str(), folder, place.name.c_str(), RENAME_EXCHANGE) != 0) {
        item.detail = "it is in its folder as " + text::displayName(spare) +
                      ", and its place holds a link of the kept file: " + std::strerror(errno);
        return true;
    }
    if (::fstatat(folder, spare.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !sameInode(st, kept)) {
        ::renameat2(folder, spare.c_str(), folder, place.name.c_str(), RENAME_EXCHANGE);
        item.detail = "its place changed while it was put back; it is in its folder as " +
                      text::displayName(spare);
        return true;
    }
    ::unlinkat(folder, spare.c_str(), 0);
    item.status = UndoItem::PutBack;
    item.detail = "the run ended just after it was linked";
    return true;
}

UndoItem undoDone(const StepRecord& step, const std::map<std::string, Fields>& runs,
                  const Identity& identity)
{
    const std::string& action = step.done[2];
    const std::string& path = step.done[3];
    const std::string& root = step.done[4];
    const std::string& where = step.done[7];
    if (action == "trash") {
        return fromTrash(where, step.done[8], path, root, identity);
    }
    if (action == "move") {
        const std::string folder = moveFolderOf(step.done[1], runs);
        if (const std::string why = untrustedMove(where, folder); !why.empty()) {
            return refused(path, why);
        }
        Identity at = identity;
        std::int64_t device = 0;
        std::int64_t inode = 0;
        if (step.done.size() >= 13 && text::parseInt64(step.done[11], device) &&
            text::parseInt64(step.done[12], inode)) {
            at.device = static_cast<dev_t>(device);  // copied to another file system
            at.inode = static_cast<ino_t>(inode);
        }
        return moveBack(where, trustedFor(where, folder), "at " + text::displayName(where),
                        path, root, at, identity);
    }
    UndoItem item;
    item.path = path;
    item.status = UndoItem::CannotUndo;
    if (action == "delete") {
        item.detail = "it was deleted for good";
    } else if (action == "hardlink") {
        item.detail =
            "it is a hard link of " + text::displayName(where) + " now, with the same contents";
    } else {
        item.detail = "it shares its data with " + text::displayName(where) +
                      ", and its contents never changed";
    }
    return item;
}

// A step begun but not recorded as done: the run ended while at this file.
UndoItem undoBegun(const StepRecord& step, const std::map<std::string, Fields>& runs,
                   const Identity& identity)
{
    UndoItem item;
    item.path = step.intent[3];
    const std::string& action = step.intent[2];
    const std::string& root = step.intent[4];
    if (isInPlace(item.path, root, identity)) {
        item.status = UndoItem::AlreadyBack;
        item.detail = "the run ended before it was touched";
        return item;
    }
    const std::string& spare = step.intent[7];
    // A move onto another file system takes the file from its name to a
    // spare name beside it once the copy is made, and only then removes it.
    if (const std::string claimedName = spareNameOf(step.intent[1]);
        action == "move" && isSpareName(claimedName)) {
        const std::string claimed = std::string(platform::folderOf(item.path)) + claimedName;
        platform::PathPlace place;
        if (platform::openPlaceNoFollow(claimed, trustedFor(claimed, root), place) &&
            isFile(place.folder.get(), place.name, identity)) {
            return moveBack(claimed, trustedFor(claimed, root),
                            "in its folder as " + text::displayName(claimedName), item.path,
                            root, identity);
        }
    }
    if (action == "trash") {
        if (step.trashing.size() >= 4) {
            return fromTrash(step.trashing[2], step.trashing[3], item.path, root, identity);
        }
    } else if (action == "move") {
        const std::string folder = moveFolderOf(step.intent[1], runs);
        if (const std::string why = untrustedMove(spare, folder); !why.empty()) {
            return refused(item.path, why);
        }
        return moveBack(spare, trustedFor(spare, folder), "at " + text::displayName(spare),
                        item.path, root, identity);
    } else if (action == "delete" || action == "hardlink") {
        if (!isSpareName(spare)) {
            return refused(item.path, "its journal line names " + text::displayName(spare) +
                                          ", which is no temporary name of a cleanup");
        }
        if (undoFinishedSwap(step, identity, item)) {
            return item;
        }
        // The step claims the file under a spare name beside it first.
        const std::string claimed = std::string(platform::folderOf(item.path)) + spare;
        platform::PathPlace place;
        if (platform::openPlaceNoFollow(claimed, trustedFor(claimed, root), place) &&
            isFile(place.folder.get(), place.name, identity)) {
            return moveBack(claimed, trustedFor(claimed, root),
                            "in its folder as " + text::displayName(spare), item.path, root,
                            identity);
        }
        Identity kept;
        struct stat st = {};
        if (action == "hardlink" && keptIdentity(step, kept) &&
            ::lstat(item.path.c_str(), &st) == 0 && sameInode(st, kept)) {
            item.status = UndoItem::CannotUndo;
            item.detail = "it is a hard link of " + text::displayName(step.linking[2]) +
                          " now, with the same contents";
            return item;
        }
    }
    item.status = UndoItem::CannotUndo;
    item.detail = "the run ended while it was being " +
                  std::string(action == "trash" ? "trashed" : "handled") +
                  ", and it is not where that would have left it";
    return item;
}

bool isFolderStep(const StepRecord& step)
{
    const std::string& action = step.intent[2];
    return action.size() > 7 && action.compare(action.size() - 7, 7, "-folder") == 0;
}

bool folderIs(int folder, const std::string& name, const Identity& identity)
{
    struct stat st = {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode) && st.st_dev == identity.device && st.st_ino == identity.inode;
}

bool folderInPlace(const std::string& path, const std::string& root, const Identity& identity)
{
    platform::PathPlace place;
    return platform::openPlaceNoFollow(path, trustedFor(path, root), place) &&
           folderIs(place.folder.get(), place.name, identity);
}

// Moves the folder `identity` at `from` (below `fromTrusted` bytes) back to
// `path`, by one rename; `where` names the place it is in, for the report.
UndoItem folderBack(const std::string& from, std::size_t fromTrusted, const std::string& where,
                    const std::string& path, const std::string& root, const Identity& identity)
{
    UndoItem item;
    item.path = path + "/";
    platform::PathPlace source;
    if (!platform::openPlaceNoFollow(from, fromTrusted, source) ||
        !folderIs(source.folder.get(), source.name, identity)) {
        item.detail = "it is no longer " + where;
        return item;
    }
    platform::PathPlace target;
    if (!placeOf(path, trustedFor(path, root), true, target, item.detail, from)) {
        item.detail = "it stays " + where + ": " + item.detail;
        return item;
    }
    if (renameNoReplace(source.folder.get(), source.name, target.folder.get(), target.name) != 0) {
        item.detail = errno == EEXIST ? "something else has taken its place; it stays " + where
                                      : "it stays " + where + ": " + std::strerror(errno);
        return item;
    }
    item.status = UndoItem::PutBack;
    return item;
}

UndoItem folderFromTrash(const StepRecord& step, bool done, const std::string& path,
                         const std::string& root, const Identity& identity)
{
    const Fields& line = done ? step.done : step.trashing;
    if (line.size() < 4) {
        UndoItem item;
        item.path = path + "/";
        item.detail = "it is not where its journal says";
        return item;
    }
    const std::string& file = done ? line[7] : line[2];
    const std::string& info = done ? line[8] : line[3];
    if (const std::string why = untrustedTrashEntry(file, info); !why.empty()) {
        return refused(path + "/", why);
    }
    struct stat st = {};
    if (::lstat(file.c_str(), &st) == 0) {
        if (const std::string why = unmatchedTrashInfo(info, path); !why.empty()) {
            return refused(path + "/", why);
        }
    }
    const std::string trash(platform::folderOf(file));
    UndoItem item = folderBack(file, trash.size() - 1,
                               "in the trash as " + text::displayName(file), path, root, identity);
    if (item.status == UndoItem::PutBack) {
        ::unlink(info.c_str());
    }
    return item;
}

// A folder step: a trashed or moved folder comes back by one rename, and a
// folder that a killed run left away from its name (beside it, in the trash
// or at its move target) comes back the same way.
UndoItem undoFolderStep(const StepRecord& step, const std::map<std::string, Fields>& runs)
{
    const bool done = step.done.size() >= 11;
    const Fields& fields = done ? step.done : step.intent;
    Identity identity;
    const std::string& path = fields[3];
    const std::string& root = fields[4];
    const std::string& action = fields[2];
    UndoItem item;
    item.path = path + "/";
    if (!parseIdentity(fields, 5, done ? 9 : 8, identity) || !isPlain(path)) {
        item.detail = "its journal line is damaged";
        return item;
    }
    if (folderInPlace(path, root, identity)) {
        item.status = UndoItem::AlreadyBack;
        return item;
    }
    const std::string& id = step.intent[1];
    if (action == "delete-folder") {
        if (done) {
            item.status = UndoItem::CannotUndo;
            item.detail = "deleted for good";
            return item;
        }
        if (step.intent[7] != spareNameOf(id)) {
            return refused(item.path, "its journal line names no spare name of its own");
        }
        const std::string from = std::string(platform::folderOf(path)) + step.intent[7];
        item = folderBack(from, trustedFor(from, root), "as " + text::displayName(from), path,
                          root, identity);
        if (item.status == UndoItem::PutBack) {
            item.detail = "a delete of it was cut short: what it still held is back";
        }
        return item;
    }
    if (action == "trash-folder") {
        return folderFromTrash(step, done, path, root, identity);
    }
    if (action == "move-folder") {
        const std::string& where = done ? step.done[7] : step.intent[7];
        const std::string folder = moveFolderOf(id, runs);
        if (const std::string why = untrustedMove(where, folder); !why.empty()) {
            return refused(item.path, why);
        }
        return folderBack(where, folder.size(), "moved to " + text::displayName(where), path,
                          root, identity);
    }
    item.detail = "its journal line names an action that is not known";
    return item;
}

UndoItem undoStep(const StepRecord& step, const std::map<std::string, Fields>& runs)
{
    if (isFolderStep(step)) {
        return undoFolderStep(step, runs);
    }
    const bool done = step.done.size() >= 11;
    const Fields& fields = done ? step.done : step.intent;
    Identity identity;
    if (!parseIdentity(fields, 5, done ? 9 : 8, identity)) {
        UndoItem item;
        item.path = fields[3];
        item.detail = "its journal line is damaged";
        return item;
    }
    if (done) {
        return undoDone(step, runs, identity);
    }
    UndoItem item = undoBegun(step, runs, identity);
    // Whatever put the file back, what the killed step left beside goes now.
    if (isInPlace(item.path, step.intent[4], identity)) {
        const std::string removed = removeLeftovers(step, runs, identity);
        if (!removed.empty()) {
            item.detail += (item.detail.empty() ? "" : "; ") + removed;
        }
    }
    return item;
}

// The steps of a journal in the order the runs took them, and its runs.
struct Steps {
    std::vector<std::string> order;
    std::map<std::string, StepRecord> records;
    std::map<std::string, Fields> runs;
    std::vector<std::string> ended;  // the runs with an "end" line
};

void readSteps(const std::vector<Fields>& lines, Steps& steps)
{
    for (const Fields& line : lines) {
        if (line.size() < 2) {
            continue;
        }
        const std::string& kind = line[0];
        const std::string& id = line[1];
        if (kind == step::kRun) {
            steps.runs[id] = line;
            continue;
        }
        if (kind == step::kEnd) {
            steps.ended.push_back(id);
            continue;
        }
        StepRecord* record = nullptr;
        if (kind == step::kIntent && line.size() >= 10) {
            if (steps.records.find(id) == steps.records.end()) {
                steps.order.push_back(id);
            }
            record = &steps.records[id];
            record->intent = line;
        } else if (steps.records.find(id) != steps.records.end()) {
            record = &steps.records[id];
            if (kind == step::kTrashing && line.size() >= 4) {
                record->trashing = line;
            } else if (kind == step::kLinking && line.size() >= 5) {
                record->linking = line;
            } else if (kind == step::kDone && line.size() >= 11) {
                record->done = line;
            } else if (kind == step::kUntouched) {
                record->untouched = line;
            }
        }
    }
}

// Whether the run `id` ("seconds.pid") may still be going: it has no "end"
// line and its process is there. A process of the same number that came
// later counts too, which only leaves its leftovers for another time.
bool mayBeRunning(const std::string& id, const Steps& steps)
{
    if (std::find(steps.ended.begin(), steps.ended.end(), id) != steps.ended.end()) {
        return false;
    }
    std::int64_t pid = 0;
    const std::size_t dot = id.find('.');
    if (dot == std::string::npos || !text::parseInt64(id.substr(dot + 1), pid) || pid <= 0) {
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// A folder a killed run took away from its name (and never finished with)
// goes back under it.
void putBackKilledFolder(const StepRecord& record, const Steps& steps, bool below,
                         std::vector<std::string>& said)
{
    const std::string& id = record.intent[1];
    if (!record.done.empty() || !record.untouched.empty() || !below ||
        mayBeRunning(id.substr(0, id.rfind('.')), steps)) {
        return;
    }
    const UndoItem item = undoFolderStep(record, steps.runs);
    if (item.status == UndoItem::PutBack) {
        said.push_back(text::displayName(item.path) +
                       ": a run that was killed had taken it away; it is back under its name");
    }
}

// The leftovers of the killed steps of one journal below `folders`.
void removeKilledStepsLeftovers(const Steps& steps, const std::vector<std::string>& folders,
                                std::vector<std::string>& said)
{
    for (const std::string& id : steps.order) {
        const StepRecord& record = steps.records.at(id);
        const std::string& path = record.intent[3];
        const auto below = [&](const std::string& folder) { return trustedFor(path, folder) > 0; };
        if (isFolderStep(record)) {
            putBackKilledFolder(record, steps, std::any_of(folders.begin(), folders.end(), below),
                                said);
            continue;
        }
        Identity identity;
        if (!record.done.empty() || !record.untouched.empty() ||
            std::none_of(folders.begin(), folders.end(), below) ||
            mayBeRunning(id.substr(0, id.rfind('.')), steps) ||
            !parseIdentity(record.intent, 5, 8, identity) ||
            !isInPlace(path, record.intent[4], identity)) {
            continue;
        }
        const std::string removed = removeLeftovers(record, steps.runs, identity);
        if (!removed.empty()) {
            said.push_back(text::displayName(path) + ": " + removed);
        }
    }
}

}  // namespace

bool undoJournal(const std::string& journalPath, UndoReport& report, std::string& error,
                 const std::function<bool()>& stopRequested,
                 const std::function<void(std::size_t done, std::size_t total)>& onProgress)
{
    report = UndoReport();
    std::vector<Fields> lines;
    if (!readJournal(journalPath, lines, error)) {
        return false;
    }
    Steps steps;
    readSteps(lines, steps);
    const std::vector<std::string>& order = steps.order;
    for (std::size_t done = 0; done < order.size(); ++done) {
        const StepRecord& record = steps.records[order[done]];
        if (onProgress) {
            onProgress(done, order.size());
        }
        if (stopRequested && stopRequested()) {
            report.stopped = true;
            break;
        }
        UndoItem item = undoStep(record, steps.runs);
        // A file left untouched is named only when its step left it elsewhere.
        if (!record.untouched.empty() && record.done.empty() &&
            (item.status == UndoItem::AlreadyBack || item.status == UndoItem::CannotUndo)) {
            continue;
        }
        report.items.push_back(std::move(item));
    }
    if (onProgress && !report.stopped) {
        onProgress(order.size(), order.size());
    }
    return true;
}

std::vector<std::string> removeLeftoversOfKilledRuns(const std::string& journalFolder,
                                                     const std::vector<std::string>& folders)
{
    std::vector<std::string> said;
    for (const std::string& journal : journalsIn(journalFolder)) {
        std::vector<Fields> lines;
        std::string error;
        if (!readJournal(journal, lines, error)) {
            continue;
        }
        Steps steps;
        readSteps(lines, steps);
        removeKilledStepsLeftovers(steps, folders, said);
    }
    return said;
}

}  // namespace cleanup
