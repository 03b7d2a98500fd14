// Walks a folder tree without following links and reports its folders and matching files.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/TreeScan.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "text/CommaText.h"
#include "platform/FolderListing.h"
#include "text/Text.h"

namespace scanner {

using text::StringList;

TTreeScanner::TTreeScanner() : m_masks(StringList::Order::Sorted, StringList::Repeats::IgnoreFolded)
{
}

std::string TTreeScanner::FileMask() const
{
    return m_masks.empty() ? std::string() : m_masks[0];
}

void TTreeScanner::setFileMask(const std::string& mask)
{
    if (m_searchInProgress) {
        return;
    }
    m_masks.clear();
    m_masks.add(mask);
}

std::string TTreeScanner::FileMaskCommaText() const
{
    return text::formatCommaText(m_masks.strings());
}

void TTreeScanner::setFileMaskCommaText(const std::string& text)
{
    if (m_searchInProgress) {
        return;
    }
    m_masks.clear();
    for (std::string& mask : text::parseCommaText(text)) {
        m_masks.add(std::move(mask));
    }
}

const std::string& TTreeScanner::FileFound() const
{
    if (m_fileFolder != nullptr) {
        m_fileFound.assign(*m_fileFolder);
        m_fileFound += m_entry.name;
        m_fileFolder = nullptr;
    }
    return m_fileFound;
}

void TTreeScanner::raise(const Event& event)
{
    if (event) {
        event(*this);
    }
}

namespace {

// Folders this near the start folder keep their descriptors for as long as
// the walk is below them; deeper, only every kHeldLevels-th does, and the
// others are opened again from it when needed. So however deep a tree goes,
// the walk holds a few dozen descriptors at most.
constexpr std::size_t kHeldLevels = 32;

bool isHeld(std::size_t depth)
{
    return depth < kHeldLevels || depth % kHeldLevels == 0;
}

bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

}  // namespace

void TTreeScanner::Search()
{
    m_searchInProgress = true;
    m_fileFound.clear();
    m_fileFolder = nullptr;
    m_fileSize = 0;
    // A handler's exception leaves the walk, but the scanner must be idle
    // again, its descriptors closed.
    struct Idle {
        bool& flag;
        std::vector<Level>& levels;
        ~Idle()
        {
            flag = false;
            levels.clear();
        }
    } idle{m_searchInProgress, m_levels};

    if (InitialDirectory.empty()) {
        InitialDirectory = platform::currentFolder();
    }
    if (InitialDirectory.empty() || InitialDirectory.back() != '/') {
        InitialDirectory += '/';
    }
    KeepScanning = true;
    m_levels.clear();
    m_levels.emplace_back();
    ScanFolder(InitialDirectory, 0);
    m_levels.clear();
    m_searchInProgress = false;
    raise(OnSearchDone);
}

void TTreeScanner::releaseLevels(std::size_t keep)
{
    for (std::size_t i = 0; i < m_levels.size(); ++i) {
        if (i != keep) {
            m_levels[i].fd.reset();
        }
    }
}

int TTreeScanner::openLevel(std::size_t depth)
{
    Level& level = m_levels[depth];
    if (level.fd.ok()) {
        return level.fd.get();
    }
    int fd = -1;
    if (depth == 0) {
        // The start folder is the user's choice: a link there is followed.
        fd = ::open(InitialDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        const int parent = openLevel(depth - 1);
        if (parent < 0) {
            return -1;
        }
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        fd = ::openat(parent, level.name.c_str(), flags);
        if (fd < 0 && outOfDescriptors(errno)) {
            releaseLevels(depth - 1);
            fd = ::openat(m_levels[depth - 1].fd.get(), level.name.c_str(), flags);
        }
    }
    platform::UniqueFd opened(fd);
    if (!opened.ok()) {
        return -1;
    }
    struct stat st = {};
    if (::fstat(opened.get(), &st) != 0) {
        return -1;
    }
    if (level.known && (st.st_dev != level.device || st.st_ino != level.inode)) {
        // Another folder took the name since it was listed.
        errno = ENOENT;
        return -1;
    }
    level.device = st.st_dev;
    level.inode = st.st_ino;
    level.known = true;
    level.fd = std::move(opened);
    if (depth > 0 && !isHeld(depth - 1)) {
        m_levels[depth - 1].fd.reset();
    }
    return level.fd.get();
}

void TTreeScanner::ScanFolder(const std::string& folder, std::size_t depth)
{
    if (onIdle) {
        onIdle();
    }
    if (!KeepScanning) {
        return;
    }

    // The whole listing is read before any event about the folder, so that
    // the folder event can see what the folder holds.
    std::vector<platform::FileEntry> entries;
    int error = 0;
    const int fd = openLevel(depth);
    m_folderOthers.clear();
    if (fd < 0 ||
        !platform::readOpenFolder(fd, m_levels[depth].device, entries, &m_folderOthers)) {
        error = errno;
    }

    m_fileSize = 0;
    m_fileFolder = nullptr;
    m_fileFound = folder;
    m_folderEntries.swap(entries);
    raise(OnDirectoryFound);
    m_folderEntries.swap(entries);
    m_folderEntries.clear();
    if (error != 0) {
        m_folderError = error;
        raise(OnFolderError);
        m_folderError = 0;
    }

    // Each subfolder with who it is, known from this listing.
    struct Subfolder {
        std::string name;
        dev_t device;
        ino_t inode;
    };
    std::vector<Subfolder> subfolders;
    if (Recursive) {
        const std::uint32_t request =
            platform::kAttrDirectory | (FindHiddenFolders ? platform::kAttrHidden : 0u);
        for (const platform::FileEntry& entry : entries) {
            if ((entry.attributes & platform::kAttrDirectory) != 0 &&
                platform::passesRequest(entry.attributes, request)) {
                subfolders.push_back({entry.name, entry.device, entry.inode});
            }
        }
        std::sort(subfolders.begin(), subfolders.end(), [](const auto& a, const auto& b) {
            return text::compareOrder(a.name, b.name) < 0;
        });
    }

    // Files of one folder share the folder's path, so their names alone
    // give the order of their paths.
    const std::vector<std::string>& masks = m_masks.strings();
    std::vector<platform::FileEntry> files;
    for (platform::FileEntry& entry : entries) {
        if ((entry.attributes & (platform::kAttrDirectory | platform::kAttrVolumeLabel)) != 0) {
            continue;
        }
        if ((entry.attributes & platform::kAttrHidden) != 0 && !FindHiddenFiles) {
            continue;
        }
        // A file matching several masks is reported once.
        for (const std::string& mask : masks) {
            if (platform::matchesMask(entry.name, mask)) {
                files.push_back(std::move(entry));
                break;
            }
        }
    }
    entries.clear();
    entries.shrink_to_fit();
    std::sort(files.begin(), files.end(),
              [](const platform::FileEntry& a, const platform::FileEntry& b) {
                  return text::compareOrder(a.name, b.name) < 0;
              });

    for (platform::FileEntry& file : files) {
        m_fileFolder = &folder;
        m_fileSize = file.size;
        m_entry = std::move(file);
        raise(OnFileFound);
    }
    files.clear();
    m_fileSize = 0;

    for (Subfolder& subfolder : subfolders) {
        const std::string path = folder + subfolder.name + '/';
        if (Recursive) {
            Level level;
            level.name = std::move(subfolder.name);
            level.device = subfolder.device;
            level.inode = subfolder.inode;
            level.known = true;
            m_levels.push_back(std::move(level));
            ScanFolder(path, depth + 1);
            m_levels.pop_back();
        } else {
            m_fileFolder = nullptr;
            m_fileFound = path;
            raise(OnDirectoryFound);
        }
    }
    raise(OnDirectoryDone);
}

}  // namespace scanner
