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

#include "platform/FolderListing.h"
#include "text/CommaText.h"
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
    bool walked = false;
    if (ListingThreads > 1 && Recursive) {
        FolderReadAhead ahead(InitialDirectory, rules(), {ListingThreads, SlowListingsToGrow},
                              kListingWindow);
        if (ahead.threads() > 0) {
            m_place.clear();
            ScanAhead(InitialDirectory, ahead);
            walked = true;
        }
    }
    if (!walked) {
        m_levels.emplace_back();
        ScanFolder(InitialDirectory, 0);
    }
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
    if (depth > 0 && !isHeldLevel(depth - 1)) {
        m_levels[depth - 1].fd.reset();
    }
    return level.fd.get();
}

ListingRules TTreeScanner::rules() const
{
    ListingRules rules;
    rules.masks = &m_masks.strings();
    rules.findHiddenFiles = FindHiddenFiles;
    rules.findHiddenFolders = FindHiddenFolders;
    rules.recursive = Recursive;
    return rules;
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
    Listing listing;
    const int fd = openLevel(depth);
    if (fd < 0 || !platform::readOpenFolder(fd, m_levels[depth].device, listing.entries,
                                            &listing.others)) {
        listing.error = errno;
    }
    sortOut(listing, rules());
    reportFolder(folder, listing);

    for (Subfolder& subfolder : listing.subfolders) {
        Level level;
        level.name = std::move(subfolder.name);
        level.device = subfolder.device;
        level.inode = subfolder.inode;
        level.known = true;
        m_levels.push_back(std::move(level));
        ScanFolder(folder + m_levels.back().name + '/', depth + 1);
        m_levels.pop_back();
    }
    raise(OnDirectoryDone);
}

void TTreeScanner::ScanAhead(const std::string& folder, FolderReadAhead& ahead)
{
    if (onIdle) {
        onIdle();
    }
    if (!KeepScanning) {
        ahead.stop();
        return;
    }
    Listing listing = ahead.take(m_place, onWaiting, ListWhileWaiting);
    reportFolder(folder, listing);

    for (std::size_t i = 0; i < listing.subfolders.size(); ++i) {
        m_place.push_back(static_cast<std::uint32_t>(i));
        ScanAhead(folder + listing.subfolders[i].name + '/', ahead);
        m_place.pop_back();
    }
    raise(OnDirectoryDone);
}

void TTreeScanner::reportFolder(const std::string& folder, Listing& listing)
{
    m_fileSize = 0;
    m_fileFolder = nullptr;
    m_fileFound = folder;
    m_folderEntries.swap(listing.entries);
    m_folderOthers.swap(listing.others);
    raise(OnDirectoryFound);
    m_folderEntries.swap(listing.entries);
    m_folderEntries.clear();
    m_folderOthers.clear();
    if (listing.error != 0) {
        m_folderError = listing.error;
        raise(OnFolderError);
        m_folderError = 0;
    }

    for (const std::uint32_t index : listing.files) {
        m_fileFolder = &folder;
        m_entry = std::move(listing.entries[index]);
        m_fileSize = m_entry.size;
        raise(OnFileFound);
    }
    m_fileSize = 0;
    listing.entries.clear();
    listing.entries.shrink_to_fit();
    listing.files.clear();
}

}  // namespace scanner
