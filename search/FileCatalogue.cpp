// The first phase of a search: the candidate files gathered from the scanned trees.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/FileCatalogue.h"

#include <algorithm>

#include "platform/FolderListing.h"
#include "text/Text.h"
#include "scanner/TreeScan.h"

namespace search {

using text::StringList;

namespace {

// The memory dumps of an old Windows, never taken, in any case of letters.
// Only these whole names: a name that is merely a piece of them ("2", "dat",
// " ") is an ordinary file and is searched like any other.
bool isMemoryDump(std::string_view name)
{
    return text::equalFold(name, "mm256.dat") || text::equalFold(name, "mm2048.dat");
}

// A folder the shell customises holds a desktop.ini, whatever the case of
// its letters (Windows writes "desktop.ini", older tools "DESKTOP.INI").
bool holdsDesktopIni(const std::vector<platform::FileEntry>& entries)
{
    for (const platform::FileEntry& entry : entries) {
        if ((entry.attributes & platform::kAttrDirectory) == 0 &&
            text::equalFold(entry.name, "desktop.ini")) {
            return true;
        }
    }
    return false;
}

// Paths are bytes: /x/A.txt and /x/a.txt are two files, and a list naming
// one must not leave out the other. The list is sorted in compareOrder,
// which tells two such paths apart.
bool listsExactly(const StringList& list, const std::string& path)
{
    const std::vector<std::string>& entries = list.strings();
    const auto at = std::lower_bound(entries.begin(), entries.end(), path,
                                     [](const std::string& entry, const std::string& value) {
                                         return text::compareOrder(entry, value) < 0;
                                     });
    return at != entries.end() && *at == path;
}

}  // namespace

FileCatalogue::FileCatalogue()
    : MasterKeys(StringList::Order::Sorted, StringList::Repeats::Accept),
      SkipFolders(StringList::Order::Sorted, StringList::Repeats::IgnoreExact),
      SkipFiles(StringList::Order::Sorted, StringList::Repeats::IgnoreExact)
{
}

void FileCatalogue::bind(scanner::TTreeScanner& scanner)
{
    scanner.OnDirectoryFound = [this](scanner::TTreeScanner& s) { TreeScanner1DirectoryFound(s); };
    scanner.OnFileFound = [this](scanner::TTreeScanner& s) { TreeScanner1FileFound(s); };
    scanner.OnDirectoryDone = [this](scanner::TTreeScanner& s) { TreeScanner1DirectoryDone(s); };
}

void FileCatalogue::startScan()
{
    Catalogue.clear();
    Catalogue.setNameMode(!CheckFileSize);
    Folders.clear();
    MasterKeys.clear();
    Trash = platform::TrashFolders::ofSystem();
    Overlays.load(platform::systemOverlays());
    CurrentFolder = -1;
    FolderSkipped = false;
    m_roots.clear();
}

void FileCatalogue::release()
{
    Catalogue.clear();
    Folders.clear();
    Folders.shrink_to_fit();
    m_roots.clear();
}

void FileCatalogue::TreeScanner1DirectoryFound(scanner::TTreeScanner& sender)
{
    // Folder paths are not trimmed: a Linux name may begin or end with blanks.
    const std::string& folder = sender.FileFound();
    Folders.push_back(folder);
    CurrentFolder = static_cast<std::int32_t>(Folders.size() - 1);
    if (folder == sender.InitialDirectory) {
        m_roots.push_back({CurrentFolder, folder.size()});  // a walk begins
    }

    FolderSkipped =
        SkipSysbckupFolder && text::contains(text::upperCase(folder), "/SYSBCKUP/");
    if (!FolderSkipped && !SkipFolders.empty()) {
        const std::string lower = text::lowerCase(folder);
        for (const std::string& skip : SkipFolders.strings()) {
            if (text::contains(lower, skip)) {
                FolderSkipped = true;
                break;
            }
        }
    }
    if (SkipTrashFolders && !FolderSkipped) {
        FolderSkipped = Trash.holds(folder);
    }
    if (SkipDesktopFolders && !FolderSkipped) {
        FolderSkipped = holdsDesktopIni(sender.FolderEntries());
    }
    if (!FolderSkipped) {
        Overlays.enterFolder(folder);
    }
    if (status != nullptr) {
        status->showCurrentFolder(FolderSkipped ? "Skipping " + folder : folder);
    }
}

void FileCatalogue::TreeScanner1FileFound(scanner::TTreeScanner& sender)
{
    if (FolderSkipped) {
        return;
    }
    // The entry the scanner read with the folder stands in for a fresh query
    // of the file: it is the only one before the file is read, and its
    // change time is the stamp every read is checked against. A file that
    // vanishes or changes after the listing is never confirmed.
    const platform::FileEntry& entry = sender.FileEntry();
    // The path is made only to look it up in a list of files to leave out.
    if (!SkipFiles.empty() && listsExactly(SkipFiles, sender.FileFound())) {
        return;
    }
    const std::string_view name = entry.name;
    if (isMemoryDump(name)) {
        return;
    }
    if (SkipEmptyFiles && entry.size == 0) {
        return;
    }
    if (Overlays.watching() && Overlays.isAlias(entry)) {
        return;  // the same file, taken through an overlay or in its layer
    }
    if (scanMode != ScanMode::Normal) {
        const std::string prefix = CheckFileSize ? sizeKeyPrefix(entry.size) : entry.name + '/';
        if (scanMode == ScanMode::Master) {
            MasterKeys.add(prefix);
        } else if (!MasterKeys.containsFolded(prefix)) {
            return;
        }
    }
    // A second path to a file already taken leaves the catalogue when it is
    // sorted; a hard link is not a copy.
    Catalogue.add(entry.size, name, CurrentFolder, entry.device, entry.inode,
                  entry.changeNanoseconds, entry.writeSeconds);
}

void FileCatalogue::TreeScanner1DirectoryDone(scanner::TTreeScanner&)
{
    // The catalogue has no change notification to resume: additions are
    // sorted once, before the comparison reads them.
}

std::string FileCatalogue::pathOf(const CatalogueList::Entry& entry) const
{
    const std::int32_t folder = Catalogue.folderOf(entry);
    const std::string_view name = Catalogue.nameOf(entry);
    std::string path;
    if (folder >= 0 && static_cast<std::size_t>(folder) < Folders.size()) {
        // Made once at its length: a path a listed file.
        const std::string& in = Folders[static_cast<std::size_t>(folder)];
        path.reserve(in.size() + name.size());
        path = in;
    }
    path += name;
    return path;
}

FileCatalogue::RootPlace FileCatalogue::rootOf(std::int32_t folder) const
{
    auto after = std::upper_bound(
        m_roots.begin(), m_roots.end(), folder,
        [](std::int32_t index, const RootSpan& root) { return index < root.firstFolder; });
    if (after == m_roots.begin()) {
        return {};
    }
    return {static_cast<std::size_t>(after - m_roots.begin()), std::prev(after)->length};
}

}  // namespace search
