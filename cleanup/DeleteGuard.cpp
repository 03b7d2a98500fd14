// The one guard of every deletion: away from its name, its copy checked in place, then finished.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/DeleteGuard.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "cleanup/Rename.h"
#include "platform/FolderListing.h"
#include "platform/Mounts.h"
#include "platform/OverlayLookup.h"
#include "platform/NoFollowOpen.h"
#include "text/Text.h"

namespace cleanup {

namespace {

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

bool copyStillAt(const CopyAtPlace& copy, const struct stat* away, std::string& reason)
{
    platform::PathPlace place;
    struct stat now = {};
    if (!platform::openPlaceNoFollow(copy.path, copy.trusted, place) ||
        ::fstatat(place.folder.get(), place.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        reason = errno == ENOENT
                     ? "is no longer at its place (another program or run took it "
                       "away, or it was this very file seen another way)"
                     : "cannot be reached at its place: " + std::string(std::strerror(errno));
        return false;
    }
    platform::FileStamp expected = copy.stamp;
    if (away != nullptr && expected.device == away->st_dev && expected.inode == away->st_ino) {
        expected.changeNs = nanoseconds(away->st_ctim);
    }
    const platform::FileStamp found = platform::stampFrom(now);
    if (!found.sameFile(expected) || !found.regular) {
        reason = "is another file now";
        return false;
    }
    if (!found.unchangedFrom(expected)) {
        reason = "changed since it was compared";
        return false;
    }
    return true;
}

namespace {

// The overlay whose merged folder holds `path`, the innermost; null when none.
const platform::OverlayMount* overlayHolding(const std::vector<platform::OverlayMount>& overlays,
                                             const std::string& path)
{
    const platform::OverlayMount* found = nullptr;
    for (const platform::OverlayMount& overlay : overlays) {
        const std::string& point = overlay.mountPoint;
        const bool holds = point == "/" || (path.size() > point.size() + 1 &&
                                            path.compare(0, point.size(), point) == 0 &&
                                            path[point.size()] == '/');
        if (holds && (found == nullptr || point.size() > found->mountPoint.size())) {
            found = &overlay;
        }
    }
    return found;
}

}  // namespace

bool shownThroughOverlay(int keptFd, const std::string& keptPath, const struct stat& kept,
                         const struct stat& marked)
{
    struct statfs fs = {};
    if (::fstatfs(keptFd, &fs) != 0 || fs.f_type != OVERLAYFS_SUPER_MAGIC) {
        return false;
    }
    const std::vector<platform::OverlayMount> overlays = platform::systemOverlays();
    const platform::OverlayMount* overlay = overlayHolding(overlays, keptPath);
    if (overlay == nullptr) {
        return false;
    }
    std::vector<std::string> layers = overlay->lowers;
    if (!overlay->upper.empty()) {
        layers.push_back(overlay->upper);
    }
    bool oneDevice = true;
    bool onALayer = false;
    for (const std::string& layer : layers) {
        struct stat st = {};
        const bool here = ::stat(layer.c_str(), &st) == 0 && st.st_dev == marked.st_dev;
        oneDevice = oneDevice && here;
        onALayer = onALayer || here;
    }
    if (!onALayer) {
        return false;
    }
    if (oneDevice && kept.st_dev == overlay->device && kept.st_ino == marked.st_ino) {
        return true;
    }
    const std::string relative =
        keptPath.substr(overlay->mountPoint == "/" ? 1 : overlay->mountPoint.size() + 1);
    const std::size_t slash = relative.rfind('/');
    const platform::OverlayLookup lookup(*overlay);
    std::vector<platform::LayerFolder> folders;
    std::vector<platform::LayerFile> files;
    if (!lookup.folderAt(slash == std::string::npos ? "" : relative.substr(0, slash), folders) ||
        !lookup.files(folders, relative.substr(slash + 1), kept.st_ino, files)) {
        return true;  // the marked file may be any of them
    }
    return std::find(files.begin(), files.end(),
                     platform::LayerFile{marked.st_dev, marked.st_ino}) != files.end();
}

bool entryIsFile(int folder, const std::string& name, const struct stat& file)
{
    struct stat now = {};
    return ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(now.st_mode) && now.st_dev == file.st_dev && now.st_ino == file.st_ino &&
           now.st_size == file.st_size && nanoseconds(now.st_mtim) == nanoseconds(file.st_mtim);
}

bool copyHoldsWhileAway(int awayFolder, const std::string& awayName, const CopyAtPlace* copy,
                        std::string& reason)
{
    if (copy == nullptr) {
        return true;
    }
    struct stat away = {};
    const bool known = ::fstatat(awayFolder, awayName.c_str(), &away, AT_SYMLINK_NOFOLLOW) == 0;
    std::string why;
    if (copyStillAt(*copy, known ? &away : nullptr, why)) {
        return true;
    }
    reason = copy->role + " " + text::displayName(copy->path) + " " + why;
    return false;
}

namespace {

// Back under its name; false with what became of it added to `reason`.
bool backUnderName(int fromFolder, const std::string& from, const std::string& where, int folder,
                   const std::string& name, std::string& reason)
{
    if (renameNoReplace(fromFolder, from, folder, name) == 0) {
        return true;
    }
    reason += "; it could not be put back under its name (" + std::string(std::strerror(errno)) +
              ") and is " + where;
    return false;
}

}  // namespace

Guarded deleteWhileCopyHolds(int folder, const std::string& name, const std::string& spare,
                             const struct stat& file, const CopyAtPlace* copy,
                             const WhileAway& whileAway, std::string& reason)
{
    // Claimed under a spare name first, so that what is deleted is the very
    // file compared, even if another took its name meanwhile.
    if (renameNoReplace(folder, name, folder, spare) != 0) {
        reason = std::strerror(errno);
        return Guarded::PutBack;
    }
    if (whileAway) {
        whileAway();
    }
    bool fine = true;
    if (!entryIsFile(folder, spare, file)) {
        reason = "it was replaced or changed just before it left its place";
        fine = false;
    } else if (!copyHoldsWhileAway(folder, spare, copy, reason)) {
        fine = false;
    } else if (::unlinkat(folder, spare.c_str(), 0) != 0) {
        reason = std::strerror(errno);
        fine = false;
    }
    if (fine) {
        return Guarded::Done;
    }
    const std::string where = "in its folder as " + text::displayName(spare);
    return backUnderName(folder, spare, where, folder, name, reason) ? Guarded::PutBack
                                                                     : Guarded::Stranded;
}

Guarded trashWhileCopyHolds(int folder, const std::string& name, const std::string& path,
                            const struct stat& file, const CopyAtPlace* copy,
                            const std::function<bool(const platform::TrashEntry&)>& beforeMove,
                            const WhileAway& whileAway, platform::TrashEntry& entry,
                            std::string& reason)
{
    platform::FileIdentity expected;
    expected.device = file.st_dev;
    expected.inode = file.st_ino;
    if (!platform::moveToTrashAt(folder, name, path, &expected, beforeMove, entry, reason)) {
        return Guarded::PutBack;
    }
    if (whileAway) {
        whileAway();
    }
    const std::string trashFolder(platform::folderOf(entry.file));
    const std::string trashName(platform::nameOf(entry.file));
    platform::UniqueFd trash(::open(trashFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    bool fine = trash.ok();
    if (!fine) {
        reason = "its trash folder cannot be opened: " + std::string(std::strerror(errno));
    } else if (!entryIsFile(trash.get(), trashName, file)) {
        // Changed in place in the instant before the move: it is no copy any more.
        reason = "it changed just before it was moved to the trash";
        fine = false;
    } else if (!copyHoldsWhileAway(trash.get(), trashName, copy, reason)) {
        fine = false;
    }
    if (fine) {
        return Guarded::Done;
    }
    const std::string where = "in the trash as " + text::displayName(entry.file);
    if (backUnderName(AT_FDCWD, entry.file, where, folder, name, reason)) {
        ::unlink(entry.info.c_str());
        return Guarded::PutBack;
    }
    return Guarded::Stranded;
}

}  // namespace cleanup
