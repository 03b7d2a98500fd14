// Refuses a report or journal path that would write over, or among, the files a run acts on.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/OutputPlace.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "text/Text.h"

namespace cleanup {

namespace {

bool sameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Where writing `path` puts the file: the links at it followed, as an
// output file follows them.
std::string writtenAt(std::string path)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st = {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            break;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            break;
        }
        target.resize(static_cast<std::size_t>(length));
        path = target[0] == '/' ? target : std::string(platform::folderOf(path)) + target;
    }
    return path;
}

// The nearest folder that exists at or above the folder of `path`, with
// links resolved and ending with '/'; "" when none can be resolved. A
// folder not made yet counts where it would be made.
std::string nearestFolder(const std::string& path)
{
    std::string folder(platform::folderOf(path));
    if (folder.empty()) {
        folder = "./";
    }
    while (true) {
        char* real = ::realpath(folder.c_str(), nullptr);
        if (real != nullptr) {
            std::string resolved = real;
            std::free(real);
            return resolved == "/" ? resolved : resolved + "/";
        }
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        if (folder == "/" || folder == ".") {
            return "";
        }
        folder = std::string(platform::folderOf(folder));
        if (folder.empty()) {
            folder = "./";
        }
    }
}

// The folder of `folders` that `folder` (resolved, ending with '/') is, or
// lies below; "" when none.
std::string enclosingFolder(const std::string& folder, const std::vector<std::string>& folders)
{
    std::vector<struct stat> states;
    for (const std::string& each : folders) {
        struct stat st = {};
        states.push_back(st);
        if (::stat(each.c_str(), &states.back()) != 0) {
            states.back().st_ino = 0;
        }
    }
    std::string above = folder;
    while (!above.empty()) {
        struct stat st = {};
        if (::stat(above.c_str(), &st) == 0) {
            for (std::size_t i = 0; i < folders.size(); ++i) {
                if (states[i].st_ino != 0 && sameInode(st, states[i])) {
                    return folders[i];
                }
            }
        }
        if (above == "/") {
            break;
        }
        above.pop_back();
        above = std::string(platform::folderOf(above));
    }
    // A folder that is not there at all is still compared by its path.
    for (const std::string& each : folders) {
        if (folder.compare(0, each.size(), each) == 0) {
            return each;
        }
    }
    return "";
}

}  // namespace

bool checkOutputPlace(const std::string& path, const Plan& plan,
                      const std::vector<std::string>& folders, std::string& reason)
{
    const std::string target = writtenAt(path);
    struct stat st = {};
    if (::stat(target.c_str(), &st) == 0) {
        for (const PlanGroup& group : plan.groups) {
            for (const PlanFile& file : group.files) {
                struct stat planned = {};
                if (::lstat(file.file.path.c_str(), &planned) == 0 && sameInode(st, planned)) {
                    reason = "it is the file " + text::displayName(file.file.path) +
                             ", which the cleanup " +
                             (file.role == Role::Keep ? "keeps" : "acts on");
                    return false;
                }
            }
        }
    }
    const std::string folder = nearestFolder(target);
    const std::string inside = folder.empty() ? std::string() : enclosingFolder(folder, folders);
    if (!inside.empty()) {
        reason =
            "it lies in " + text::displayName(inside) + ", among the files the cleanup acts on";
        return false;
    }
    return true;
}

}  // namespace cleanup
