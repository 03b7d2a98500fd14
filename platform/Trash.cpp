// Moving files to the desktop trash, reading its records, and deleting for good.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Trash.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "platform/Mounts.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "text/Text.h"

namespace platform {

namespace {

// A folder that holds the file, opened without following a link as its last
// part, and the file's name in it.
struct Place {
    int folder = -1;
    std::string name;
    ~Place()
    {
        if (folder >= 0) {
            ::close(folder);
        }
    }
};

bool openPlace(const std::string& path, Place& place, std::string& error)
{
    place.name = std::string(nameOf(path));
    std::string folder(folderOf(path));
    if (place.name.empty() || folder.empty()) {
        error = "not a file path";
        return false;
    }
    if (folder.size() > 1) {
        folder.pop_back();
    }
    place.folder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (place.folder < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (::fstatat(place.folder, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "it is not a plain file";
        return false;
    }
    return true;
}

std::string homeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

// Where a path lies: its device and the kernel's number of its mount. A
// folder mounted twice (a bind mount) is one device but two mounts, and no
// rename crosses from one mount to another.
struct MountKey {
    dev_t device = static_cast<dev_t>(-1);
    std::uint64_t mount = 0;
    bool operator==(const MountKey& other) const
    {
        return device == other.device && mount == other.mount;
    }
    bool operator!=(const MountKey& other) const { return !(*this == other); }
};

MountKey mountKeyAt(int folder, const char* name, int flags)
{
    MountKey key;
    struct statx sx = {};
    if (::statx(folder, name, flags, STATX_MNT_ID, &sx) != 0) {
        return key;
    }
    key.device = ::makedev(sx.stx_dev_major, sx.stx_dev_minor);
    key.mount = (sx.stx_mask & STATX_MNT_ID) != 0 ? sx.stx_mnt_id : 0;
    return key;
}

MountKey mountKeyOf(const std::string& path)
{
    return mountKeyAt(AT_FDCWD, path.c_str(), 0);
}

// A folder path without its trailing '/', "/" for the root.
std::string withoutSlash(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

// The top of the mount that holds a folder: walk up while the mount stays.
// Returned without a trailing '/' ("/" for the root).
std::string mountTop(const std::string& folder, const MountKey& key)
{
    std::string top = withoutSlash(folder);
    while (top.size() > 1) {
        const std::string parent = withoutSlash(std::string(folderOf(top)));
        if (parent.empty() || mountKeyOf(parent) != key) {
            break;
        }
        top = parent;
    }
    return top;
}

// Percent-encodes a path as the trash info file holds it.
std::string encodePath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("-_.~/", c) != nullptr) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

// The home trash with its files/ and info/ inside, usable by this user.
bool prepareHomeTrash(const std::string& trash)
{
    return makeFolders(trash + "/files", 0700) && makeFolders(trash + "/info", 0700) &&
           ::access((trash + "/files").c_str(), W_OK) == 0 &&
           ::access((trash + "/info").c_str(), W_OK) == 0;
}

// Whether a folder that exists is one this user's trash may be: a real
// folder (not a link), the user's own, closed to everyone else. "" when it
// is, else why not.
std::string unsafeFolder(const std::string& folder)
{
    struct stat st = {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return std::string(std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode)) {
        return "it is a link";
    }
    if (!S_ISDIR(st.st_mode)) {
        return "it is not a folder";
    }
    if (st.st_uid != ::getuid()) {
        return "it belongs to another user";
    }
    if ((st.st_mode & 077) != 0) {
        return "other users may open it";
    }
    return "";
}

// Makes `folder` (mode 0700) unless something is there, then checks it.
std::string makeSafeFolder(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::string(std::strerror(errno));
    }
    return unsafeFolder(folder);
}

// A trash folder with its files/ and info/ inside, usable by this user and
// by nobody else. "" when it is, else why not.
std::string prepareTrash(const std::string& trash)
{
    std::string why = makeSafeFolder(trash);
    for (const char* inner : {"/files", "/info"}) {
        if (why.empty()) {
            why = makeSafeFolder(trash + inner);
            if (!why.empty()) {
                why = std::string(inner + 1) + " in it: " + why;
            }
        }
    }
    if (why.empty() && (::access((trash + "/files").c_str(), W_OK) != 0 ||
                        ::access((trash + "/info").c_str(), W_OK) != 0)) {
        why = std::strerror(errno);
    }
    return why;
}

// The trash on the file's own mount: $top/.Trash/$uid when the
// administrator made $top/.Trash (a real folder with the sticky bit), else
// $top/.Trash-$uid; each only when it is the user's own, no link and closed
// to others. "" with the reason in `why` when neither can be used.
std::string mountTrash(const std::string& top, std::string& why)
{
    const std::string uid = std::to_string(::getuid());
    const std::string base = top == "/" ? "" : top;
    struct stat st = {};
    const std::string shared = base + "/.Trash";
    std::string sharedWhy;
    if (::lstat(shared.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            sharedWhy = shared + " is a link";
        } else if (!S_ISDIR(st.st_mode) || (st.st_mode & S_ISVTX) == 0) {
            sharedWhy = shared + " is not a folder with the sticky bit";
        } else {
            const std::string own = shared + "/" + uid;
            sharedWhy = prepareTrash(own);
            if (sharedWhy.empty()) {
                return own;
            }
            sharedWhy = own + ": " + sharedWhy;
        }
    }
    const std::string own = base + "/.Trash-" + uid;
    why = prepareTrash(own);
    if (why.empty()) {
        return own;
    }
    why = own + ": " + why;
    if (!sharedWhy.empty()) {
        why = sharedWhy + "; " + why;
    }
    return "";
}

// The longest name a trash entry may have: its information file adds
// ".trashinfo" and must still fit in a name.
constexpr std::size_t kTrashNameMax = NAME_MAX - 10;

// The name the file has in the trash: its own, or for a name too long for
// the trash, shortened in its stem (keeping a short extension and never
// cutting a UTF-8 character in two); `attempt` past 1 adds ".N" before the
// extension. The information file keeps the real name.
std::string trashNameFor(const std::string& name, int attempt)
{
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        dot = name.size();
    }
    const std::string suffix = attempt > 1 ? "." + std::to_string(attempt) : "";
    if (name.size() + suffix.size() > kTrashNameMax && name.size() - dot > 32) {
        dot = name.size();  // too long to be kept whole
    }
    std::string stem = name.substr(0, dot);
    const std::string extension = name.substr(dot);
    const std::size_t room = kTrashNameMax - extension.size() - suffix.size();
    if (stem.size() > room) {
        stem.resize(room);
        // Drop a cut character: its continuation bytes, then its lead byte.
        while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) {
            stem.pop_back();
        }
        if (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0x80) != 0) {
            stem.pop_back();
        }
    }
    return stem + suffix + extension;
}

// The trash the file `name` in `folder` (at `path`) goes to: the home
// trash when it is on the home trash's file system, otherwise its mount's
// own; `infoPath` receives the path as that trash's information file names it.
bool chooseTrash(int folder, const std::string& name, const std::string& path, std::string& trash,
                 std::string& infoPath, std::string& error)
{
    trash = homeTrashFolder();
    infoPath = path;
    const std::string dataHome(folderOf(trash));
    makeFolders(dataHome.substr(0, dataHome.size() - 1), 0700);
    const MountKey fileMount = mountKeyAt(folder, name.c_str(), AT_SYMLINK_NOFOLLOW);
    if (mountKeyOf(dataHome) != fileMount) {
        const std::string top = mountTop(std::string(folderOf(path)), fileMount);
        std::string why;
        trash = mountTrash(top, why);
        if (trash.empty()) {
            error = "the file system it is on has no trash that can be used (" + why + ")";
            return false;
        }
        // A mount's trash names files relative to the mount's top.
        infoPath = top == "/" ? path.substr(1) : path.substr(top.size() + 1);
    } else if (!prepareHomeTrash(trash)) {
        error = "the trash folder " + trash + " cannot be used";
        return false;
    }
    return true;
}

// The information file's text for a file trashed now from `infoPath`.
std::string trashInfo(const std::string& infoPath)
{
    const std::string when = text::formatLocalTime(std::time(nullptr), "%Y-%m-%dT%H:%M:%S");
    return "[Trash Info]\nPath=" + encodePath(infoPath) + "\nDeletionDate=" + when + "\n";
}

}  // namespace

std::string homeTrashFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        std::string folder = dataHome;
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        return folder + "/Trash";
    }
    return homeFolder() + "/.local/share/Trash";
}

bool moveToTrash(const std::string& path, std::string& error)
{
    Place place;
    if (!openPlace(path, place, error)) {
        return false;
    }
    TrashEntry entry;
    return moveToTrashAt(place.folder, place.name, path, nullptr, {}, entry, error);
}

bool moveToTrashAt(int folder, const std::string& name, const std::string& path,
                   const FileIdentity* expected,
                   const std::function<bool(const TrashEntry&)>& beforeMove, TrashEntry& entry,
                   std::string& error, bool folderToo)
{
    struct stat file = {};
    if (::fstatat(folder, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(file.st_mode) && !(folderToo && S_ISDIR(file.st_mode))) {
        error = "it is not a plain file";
        return false;
    }

    std::string trash;
    std::string infoPath;
    if (!chooseTrash(folder, name, path, trash, infoPath, error)) {
        return false;
    }
    const std::string info = trashInfo(infoPath);

    // Claim a name by creating its info file exclusively, then move the file.
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const std::string trashName = trashNameFor(name, attempt);
        const std::string infoFile = trash + "/info/" + trashName + ".trashinfo";
        const int fd =
            ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        const bool written =
            ::write(fd, info.data(), info.size()) == static_cast<ssize_t>(info.size());
        const bool closed = ::close(fd) == 0;
        const std::string target = trash + "/files/" + trashName;
        struct stat taken = {};
        if (!written || !closed || ::lstat(target.c_str(), &taken) == 0) {
            ::unlink(infoFile.c_str());
            if (!written || !closed) {
                error = "the trash information cannot be written";
                return false;
            }
            continue;
        }
        entry = {target, infoFile};
        if (beforeMove && !beforeMove(entry)) {
            ::unlink(infoFile.c_str());
            error = "the move was called off";
            return false;
        }
        if (::renameat(folder, name.c_str(), AT_FDCWD, target.c_str()) != 0) {
            error = std::strerror(errno);
            ::unlink(infoFile.c_str());
            return false;
        }
        struct stat moved = {};
        if (expected != nullptr &&
            (::lstat(target.c_str(), &moved) != 0 || moved.st_dev != expected->device ||
             moved.st_ino != expected->inode)) {
            // Another file took the name in the instant before the move: give it back.
            if (::renameat2(AT_FDCWD, target.c_str(), folder, name.c_str(), RENAME_NOREPLACE) ==
                0) {
                ::unlink(infoFile.c_str());
                error = "it was replaced by another file just before it was moved";
            } else {
                error = "it was replaced by another file just before it was moved; that file "
                        "is in the trash as " +
                        target;
            }
            return false;
        }
        return true;
    }
    error = "the trash has no free name for this file";
    return false;
}

namespace {

std::string decodePath(const std::string& encoded)
{
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            const std::string hex = encoded.substr(i + 1, 2);
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += encoded[i];
    }
    return out;
}

}  // namespace

bool readTrashInfoPath(const std::string& infoFile, std::string& path)
{
    std::string text;
    if (!readWholeFile(infoFile, text)) {
        return false;
    }
    std::string encoded;
    bool found = false;
    for (const std::string& line : text::splitLines(text)) {
        if (line.rfind("Path=", 0) == 0) {
            encoded = line.substr(5);
            found = true;
            break;
        }
    }
    if (!found || encoded.empty()) {
        return false;
    }
    path = decodePath(encoded);
    if (path[0] == '/') {
        return true;
    }
    // TOP/.Trash-UID/info/NAME or TOP/.Trash/UID/info/NAME: relative to TOP.
    auto parent = [](const std::string& folder) {
        return std::string(folderOf(folder.substr(0, folder.size() - 1)));
    };
    const std::string trash = parent(std::string(folderOf(infoFile)));
    std::string top = parent(trash);
    if (nameOf(trash.substr(0, trash.size() - 1)).rfind(".Trash-", 0) != 0) {
        top = parent(top);
    }
    path = top + path;
    return true;
}

bool deletePermanently(const std::string& path, std::string& error)
{
    Place place;
    if (!openPlace(path, place, error)) {
        return false;
    }
    if (::unlinkat(place.folder, place.name.c_str(), 0) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

TrashFolders::TrashFolders(std::vector<std::string> homeTrashes,
                           std::vector<std::string> mountPoints)
    : m_homeTrashes(std::move(homeTrashes)), m_mountPoints(std::move(mountPoints))
{
    std::sort(m_mountPoints.begin(), m_mountPoints.end());
}

TrashFolders TrashFolders::ofSystem()
{
    std::vector<std::string> homes = {homeTrashFolder()};
    char resolved[PATH_MAX];
    if (::realpath(homes.front().c_str(), resolved) != nullptr && homes.front() != resolved) {
        homes.emplace_back(resolved);
    }
    std::vector<std::string> points;
    std::string text;
    if (readWholeFile("/proc/self/mountinfo", text)) {
        for (MountEntry& mount : parseMountInfo(text)) {
            points.push_back(std::move(mount.mountPoint));
        }
    }
    return TrashFolders(std::move(homes), std::move(points));
}

bool TrashFolders::isMountPoint(std::string_view folder) const
{
    const std::string_view point = folder.empty() ? std::string_view("/") : folder;
    return std::binary_search(m_mountPoints.begin(), m_mountPoints.end(), point,
                              [](std::string_view a, std::string_view b) { return a < b; });
}

bool TrashFolders::holds(std::string_view path) const
{
    if (path.find("Trash") == std::string_view::npos) {
        return false;  // the common case, at once
    }
    for (const std::string& home : m_homeTrashes) {
        if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 &&
            path[home.size()] == '/') {
            return true;
        }
    }
    if (path.find("/.local/share/Trash/") != std::string_view::npos) {
        return true;
    }
    auto digitsThenSlash = [&](std::size_t at) {
        std::size_t end = at;
        while (end < path.size() && path[end] >= '0' && path[end] <= '9') {
            ++end;
        }
        return end > at && end < path.size() && path[end] == '/';
    };
    for (std::size_t at = path.find("/.Trash"); at != std::string_view::npos;
         at = path.find("/.Trash", at + 1)) {
        const std::size_t after = at + 7;
        if (after < path.size() && (path[after] == '-' || path[after] == '/') &&
            digitsThenSlash(after + 1) && isMountPoint(path.substr(0, at))) {
            return true;
        }
    }
    return false;
}

}  // namespace platform
