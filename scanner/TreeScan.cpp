#include "scanner/TreeScan.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/CommaText.h"
#include "platform/FolderListing.h"
#include "platform/Text.h"

namespace scanner {

using platform::StringList;

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
    return platform::formatCommaText(m_masks.strings());
}

void TTreeScanner::setFileMaskCommaText(const std::string& text)
{
    if (m_searchInProgress) {
        return;
    }
    m_masks.clear();
    for (std::string& mask : platform::parseCommaText(text)) {
        m_masks.add(std::move(mask));
    }
}

void TTreeScanner::raise(const Event& event)
{
    if (event) {
        event(*this);
    }
}

void TTreeScanner::Search()
{
    m_searchInProgress = true;
    m_fileFound.clear();
    m_fileSize = 0;
    // A handler's exception leaves the walk, but the scanner must be idle again.
    struct Idle {
        bool& flag;
        ~Idle() { flag = false; }
    } idle{m_searchInProgress};

    if (InitialDirectory.empty()) {
        InitialDirectory = platform::currentFolder();
    }
    if (InitialDirectory.empty() || InitialDirectory.back() != '/') {
        InitialDirectory += '/';
    }
    KeepScanning = true;
    ScanFolder(InitialDirectory, nullptr);
    m_searchInProgress = false;
    raise(OnSearchDone);
}

void TTreeScanner::ScanFolder(const std::string& folder, const dev_t* device)
{
    if (onIdle) {
        onIdle();
    }
    if (!KeepScanning) {
        return;
    }
    m_fileSize = 0;
    m_fileFound = folder;
    raise(OnDirectoryFound);

    // The whole listing is read and closed before any event about its
    // entries, so no folder handle stays open while handlers run or while
    // the walk goes deeper.
    std::vector<platform::FileEntry> entries;
    const std::vector<std::string>& masks = m_masks.strings();
    if (Recursive || !masks.empty()) {
        if (device != nullptr) {
            platform::readFolder(folder, *device, entries);
        } else {
            platform::readFolder(folder, entries);
        }
    }

    // Each subfolder with its device, known from this listing.
    std::vector<std::pair<std::string, dev_t>> subfolders;
    if (Recursive) {
        const std::uint32_t request =
            platform::kAttrDirectory | (FindHiddenFolders ? platform::kAttrHidden : 0u);
        for (const platform::FileEntry& entry : entries) {
            if ((entry.attributes & platform::kAttrDirectory) != 0 &&
                platform::passesRequest(entry.attributes, request)) {
                subfolders.emplace_back(folder + entry.name + '/', entry.device);
            }
        }
        std::sort(subfolders.begin(), subfolders.end(), [](const auto& a, const auto& b) {
            return platform::compareOrder(a.first, b.first) < 0;
        });
    }

    // Files of one folder share the folder's path, so their names alone
    // give the order of their paths.
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
                  return platform::compareOrder(a.name, b.name) < 0;
              });

    for (platform::FileEntry& file : files) {
        m_fileFound.assign(folder);
        m_fileFound += file.name;
        m_fileSize = file.size;
        m_entry = std::move(file);
        raise(OnFileFound);
    }
    files.clear();
    m_fileSize = 0;

    for (const auto& [subfolder, subDevice] : subfolders) {
        if (Recursive) {
            ScanFolder(subfolder, &subDevice);
        } else {
            m_fileFound = subfolder;
            raise(OnDirectoryFound);
        }
    }
    raise(OnDirectoryDone);
}

}  // namespace scanner
