// Moving files to the desktop trash, reading its records, and deleting for good.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Trash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FolderListing.h"
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

dev_t deviceOf(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : static_cast<dev_t>(-1);
}

// The top of the mount that holds a folder: walk up while the device stays.
std::string mountTop(const std::string& folder, dev_t device)
{
    std::string top = folder;
    while (top.size() > 1) {
        std::string parent(folderOf(top.back() == '/' ? top.substr(0, top.size() - 1) : top));
        if (parent.size() > 1) {
            parent.pop_back();
        }
        if (parent.empty() || deviceOf(parent) != device) {
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

// A trash folder with its files/ and info/ inside, usable by this user.
bool prepareTrash(const std::string& trash)
{
    return makeFolders(trash + "/files", 0700) && makeFolders(trash + "/info", 0700) &&
           ::access((trash + "/files").c_str(), W_OK) == 0 &&
           ::access((trash + "/info").c_str(), W_OK) == 0;
}

// The trash on the file's own mount: $top/.Trash/$uid when the
// administrator made $top/.Trash (sticky, not a link), else $top/.Trash-$uid.
std::string mountTrash(const std::string& top)
{
    const std::string uid = std::to_string(::getuid());
    const std::string base = top == "/" ? "" : top;
    struct stat st = {};
    const std::string shared = base + "/.Trash";
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        const std::string own = shared + "/" + uid;
        if (prepareTrash(own)) {
            return own;
        }
    }
    const std::string own = base + "/.Trash-" + uid;
    return prepareTrash(own) ? own : "";
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
                   std::string& error)
{
    struct stat file = {};
    if (::fstatat(folder, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(file.st_mode)) {
        error = "it is not a plain file";
        return false;
    }

    std::string trash = homeTrashFolder();
    std::string infoPath = path;
    const std::string dataHome(folderOf(trash));
    makeFolders(dataHome.substr(0, dataHome.size() - 1), 0700);
    if (deviceOf(dataHome) != file.st_dev) {
        const std::string top = mountTop(std::string(folderOf(path)), file.st_dev);
        trash = mountTrash(top);
        if (trash.empty()) {
            error = "this file system has no trash that can be used";
            return false;
        }
        // A mount's trash names files relative to the mount's top.
        infoPath = top == "/" ? path.substr(1) : path.substr(top.size() + 1);
    } else if (!prepareTrash(trash)) {
        error = "the trash folder " + trash + " cannot be used";
        return false;
    }

    char when[32];
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    ::localtime_r(&now, &local);
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string info =
        "[Trash Info]\nPath=" + encodePath(infoPath) + "\nDeletionDate=" + when + "\n";

    // Claim a name by creating its info file exclusively, then move the file.
    for (int attempt = 1; attempt < 10000; ++attempt) {
        std::string trashName = name;
        if (attempt > 1) {
            const std::size_t dot = trashName.rfind('.');
            const std::string suffix = "." + std::to_string(attempt);
            trashName = dot != std::string::npos && dot > 0
                            ? trashName.substr(0, dot) + suffix + trashName.substr(dot)
                            : trashName + suffix;
        }
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

}  // namespace platform
