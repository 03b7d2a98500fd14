// Undoes a cleanup from its journal: puts trashed and moved files back where that is safe.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Undo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "cleanup/Copy.h"
#include "cleanup/Journal.h"
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
// `trusted` bytes; with `make`, folders that are gone are made again.
bool placeOf(const std::string& path, std::size_t trusted, bool make, platform::PathPlace& place,
             std::string& reason)
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
    std::size_t begin = 0;
    while (begin < rest.size()) {
        const std::size_t end = std::min(rest.find('/', begin), rest.size());
        const std::string part = rest.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty()) {
            continue;
        }
        if (::mkdirat(folder.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
            reason = "its folder cannot be made again: " + std::string(std::strerror(errno));
            return false;
        }
        platform::UniqueFd inner(
            ::openat(folder.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.ok()) {
            reason = "a folder on its path is a link or no folder now";
            return false;
        }
        folder = std::move(inner);
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
    if (!placeOf(path, trustedFor(path, root), true, target, item.detail)) {
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

UndoItem fromTrash(const std::string& file, const std::string& info, const std::string& path,
                   const std::string& root, const Identity& identity)
{
    const std::string where = "in the trash as " + text::displayName(file);
    struct stat st = {};
    if (::lstat(file.c_str(), &st) == 0 && !matches(st, identity)) {
        UndoItem item;
        item.path = path;
        item.detail = "the trash holds another file under its name now";
        return item;
    }
    std::string named;
    if (::access(info.c_str(), F_OK) == 0 && platform::readTrashInfoPath(info, named) &&
        named != path) {
        UndoItem item;
        item.path = path;
        item.detail = "its trash entry names another file now";
        return item;
    }
    const std::string trash(platform::folderOf(file));
    UndoItem item = moveBack(file, trash.size() - 1, where, path, root, identity);
    if (item.status == UndoItem::PutBack) {
        ::unlink(info.c_str());
    }
    return item;
}

UndoItem undoStep(const StepRecord& step, const std::map<std::string, Fields>& runs)
{
    const bool done = step.done.size() >= 11;
    const Fields& fields = done ? step.done : step.intent;
    UndoItem item;
    item.path = fields[3];
    const std::string& action = fields[2];
    const std::string& root = fields[4];
    Identity identity;
    if (!parseIdentity(fields, 5, done ? 9 : 8, identity)) {
        item.detail = "its journal line is damaged";
        return item;
    }
    if (done) {
        const std::string& where = step.done[7];
        if (action == "trash") {
            return fromTrash(where, step.done[8], item.path, root, identity);
        }
        if (action == "move") {
            Identity at = identity;
            std::int64_t device = 0;
            std::int64_t inode = 0;
            if (step.done.size() >= 13 && text::parseInt64(step.done[11], device) &&
                text::parseInt64(step.done[12], inode)) {
                at.device = static_cast<dev_t>(device);  // copied to another file system
                at.inode = static_cast<ino_t>(inode);
            }
            return moveBack(where, trustedFor(where, step.done[8]),
                            "at " + text::displayName(where), item.path, root, at, identity);
        }
        item.status = UndoItem::CannotUndo;
        if (action == "delete") {
            item.detail = "it was deleted for good";
        } else if (action == "hardlink") {
            item.detail = "it is a hard link of " + text::displayName(where) +
                          " now, with the same contents";
        } else {
            item.detail = "it shares its data with " + text::displayName(where) +
                          ", and its contents never changed";
        }
        return item;
    }

    // Begun but not recorded as done: the run ended while at this file.
    if (isInPlace(item.path, root, identity)) {
        item.status = UndoItem::AlreadyBack;
        item.detail = "the run ended before it was touched";
        return item;
    }
    const std::string& spare = step.intent[7];
    if (action == "trash") {
        if (step.trashing.size() >= 4) {
            return fromTrash(step.trashing[2], step.trashing[3], item.path, root, identity);
        }
    } else if (action == "move") {
        const std::string runId = step.intent[1].substr(0, step.intent[1].rfind('.'));
        const auto run = runs.find(runId);
        const std::string folder =
            run != runs.end() && run->second.size() >= 5 ? run->second[4] : "";
        return moveBack(spare, trustedFor(spare, folder), "at " + text::displayName(spare),
                        item.path, root, identity);
    } else if (action == "delete" || action == "hardlink") {
        // The step claims the file under a spare name beside it first.
        const std::string claimed = std::string(platform::folderOf(item.path)) + spare;
        platform::PathPlace place;
        if (platform::openPlaceNoFollow(claimed, trustedFor(claimed, root), place) &&
            isFile(place.folder.get(), place.name, identity)) {
            return moveBack(claimed, trustedFor(claimed, root),
                            "in its folder as " + text::displayName(spare), item.path, root,
                            identity);
        }
    }
    item.status = UndoItem::CannotUndo;
    item.detail = "the run ended while it was being " +
                  std::string(action == "trash" ? "trashed" : "handled") +
                  ", and it is not where that would have left it";
    return item;
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
    std::vector<std::string> order;
    std::map<std::string, StepRecord> steps;
    std::map<std::string, Fields> runs;
    for (const Fields& line : lines) {
        if (line.size() < 2) {
            continue;
        }
        const std::string& kind = line[0];
        const std::string& id = line[1];
        if (kind == step::kRun) {
            runs[id] = line;
            continue;
        }
        StepRecord* record = nullptr;
        if (kind == step::kIntent && line.size() >= 10) {
            if (steps.find(id) == steps.end()) {
                order.push_back(id);
            }
            record = &steps[id];
            record->intent = line;
        } else if (steps.find(id) != steps.end()) {
            record = &steps[id];
            if (kind == step::kTrashing && line.size() >= 4) {
                record->trashing = line;
            } else if (kind == step::kDone && line.size() >= 11) {
                record->done = line;
            } else if (kind == step::kUntouched) {
                record->untouched = line;
            }
        }
    }
    for (std::size_t done = 0; done < order.size(); ++done) {
        const StepRecord& record = steps[order[done]];
        if (onProgress) {
            onProgress(done, order.size());
        }
        if (stopRequested && stopRequested()) {
            report.stopped = true;
            break;
        }
        UndoItem item = undoStep(record, runs);
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

}  // namespace cleanup
