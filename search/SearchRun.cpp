// One search from start to stop: the scan phase, then the comparison.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/SearchRun.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "text/CommaText.h"
#include "text/StringList.h"
#include "text/Text.h"

namespace search {

using text::StringList;

SearchRun::SearchRun(SearchWindow& window)
    : comparison(window, catalogue, TreeScanner1, KeepSearching, locale), m_window(window)
{
    TreeScanner1.FindHiddenFiles = true;
    catalogue.bind(TreeScanner1);
    catalogue.status = this;
    TreeScanner1.onIdle = [this] { m_window.processEvents(); };
    TreeScanner1.onWaiting = [this] { m_window.processEvents(); };
    TreeScanner1.OnFolderError = [this](scanner::TTreeScanner& scanner) {
        const int error = scanner.FolderError();
        if (error == EMFILE || error == ENFILE || error == ENOMEM) {
            // Not a folder the user cannot read but the search itself
            // running dry: every folder after it would be missed too.
            m_walkFailure = std::string("The search could not go on: ") + std::strerror(error) +
                            " (at " + scanner.FileFound() + ").";
            scanner.KeepScanning = false;
            KeepSearching = false;
        } else if (scanner.FileFound() == scanner.InitialDirectory) {
            m_startError = error;
        }
    };
}

void SearchRun::showCurrentFolder(const std::string& text)
{
    m_window.setStatusText(3, text);
    m_window.repaintStatusBar();
}

void SearchRun::requestStop()
{
    TreeScanner1.KeepScanning = false;
    KeepSearching = false;
}

void SearchRun::btnSearchClick()
{
    if (TreeScanner1.SearchInProgress()) {
        TreeScanner1.KeepScanning = false;
        KeepSearching = false;
        return;
    }
    if (comparison.Comparing) {
        KeepSearching = false;
        return;
    }
    if (m_running) {
        KeepSearching = false;  // between walks, say under the nested-folder notice
        return;
    }
    m_window.setCaption(Caption::FileListCaption, "Searching ...");
    m_window.setCaption(Caption::SearchButton, "Stop");
    KeepSearching = true;
    m_running = true;
    // Whatever ends the run, the window is idle afterwards.
    struct BackToIdle {
        SearchRun& run;
        ~BackToIdle()
        {
            // A walk cut short by an exception leaves the cache's load.
            run.comparison.abandonCache();
            if (run.m_running) {
                run.m_running = false;
                run.comparison.Comparing = false;
                run.m_window.showProgress(false);
                run.m_window.setCaption(Caption::SearchButton, "Find Now");
            }
        }
    } idle{*this};
    RunScan();
    comparison.CompareCatalogue();
    showMissedFolders();
    if (!m_walkFailure.empty()) {
        m_window.setStatusText(3, "Scan interrupted");
        m_window.showMessage(m_walkFailure + "\nThe files found until then are not compared.");
    }
    m_running = false;
}

std::string normaliseFolderEntry(const std::string& text, bool lower)
{
    if (text::trim(text).empty()) {
        return "";
    }
    std::string entry = lower ? text::trim(text::lowerCase(text)) : text;
    if (entry.front() != '/') {
        entry.insert(entry.begin(), '/');
    }
    if (entry.back() != '/') {
        entry.push_back('/');
    }
    return entry;
}

std::string SearchRun::nestedFolderMessage(const std::string& inner, const std::string& outer)
{
    return "Folder: " + text::upperCase(inner) +
           "  is already included in \nfolder: " + text::upperCase(outer) +
           "  and will therefore be removed.";
}

std::string SearchRun::missedFolderMessage(const MissedFolder& folder)
{
    switch (folder.error) {
    case ENOENT:
        return "Folder: " + folder.path + "  was not found and is not searched.";
    case ENOTDIR:
        return "Folder: " + folder.path + "  is not a folder and is not searched.";
    default:
        return "Folder: " + folder.path + "  cannot be read (" + std::strerror(folder.error) +
               ") and is not searched.";
    }
}

void SearchRun::searchFrom(const std::string& folder)
{
    TreeScanner1.InitialDirectory = folder;
    m_startError = 0;
    TreeScanner1.Search();
    if (m_startError != 0) {
        m_missed.push_back({TreeScanner1.InitialDirectory, m_startError});
        m_window.showMessage(missedFolderMessage(m_missed.back()));
    }
}

void SearchRun::showMissedFolders()
{
    // A stopped run says so instead; the notices named the folders already.
    if (m_missed.empty() || !KeepSearching || !TreeScanner1.KeepScanning) {
        return;
    }
    bool allMissing = true;
    std::string paths;
    for (const MissedFolder& folder : m_missed) {
        allMissing = allMissing && folder.error == ENOENT;
        paths += (paths.empty() ? "" : ", ") + folder.path;
    }
    m_window.setStatusText(3, std::string("Scan complete - ") +
                                  (allMissing ? "not found: " : "not searched: ") + paths);
}

void SearchRun::RunScan()
{
    m_window.setStatusText(1, "Bytes:");
    m_window.setStatusText(2, "Files:");
    m_missed.clear();
    m_walkFailure.clear();
    ResultList& list = m_window.resultList();
    list.setHint("");
    m_window.setWaitCursor(true);
    list.clear();
    m_window.setWaitCursor(false);
    catalogue.startScan();

    tidyRootFolders();
    UpdateCaption();
    StringList rootFolders(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    for (std::string& item : text::parseCommaText(m_window.fieldText(Field::RootDir))) {
        rootFolders.add(std::move(item));
    }
    takeSkipFolders();
    takeMaskAndRules();
    if (m_running && comparison.cacheWanted()) {
        // A whole search: the cache loads while the walk goes on.
        comparison.prepareCache(startDevices(rootFolders));
    }
    scanDrives(rootFolders);
    m_window.setStatusText(0, "");
    m_window.setStatusText(3, "");
}

void SearchRun::tidyRootFolders()
{
    // Root folders keep the user's case: on Linux /Docs and /docs differ.
    if (text::trim(m_window.fieldText(Field::RootDir)).empty()) {
        m_window.setFieldText(Field::RootDir, "/");
    }
    StringList roots(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    for (const std::string& item : text::parseCommaText(m_window.fieldText(Field::RootDir))) {
        const std::string entry = normaliseFolderEntry(item, false);
        if (!entry.empty()) {
            roots.add(entry);
        }
    }
    if (roots.empty()) {
        roots.add("/");
    }
    for (std::size_t i = 0; i + 1 < roots.size(); ++i) {
        std::size_t j = i + 1;
        while (j < roots.size()) {
            if (text::startsWith(roots[j], roots[i])) {
                m_window.showMessage(nestedFolderMessage(roots[j], roots[i]));
                roots.removeAt(j);
            } else {
                ++j;
            }
        }
    }
    m_window.setFieldText(Field::RootDir, text::formatCommaText(roots.strings()));
}

void SearchRun::takeSkipFolders()
{
    StringList skips(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    for (const std::string& item :
         text::parseCommaText(m_window.fieldText(Field::SkipFolder))) {
        const std::string entry = normaliseFolderEntry(item, true);
        if (entry.size() >= 3) {
            skips.add(entry);
        }
    }
    m_window.setFieldText(Field::SkipFolder, text::formatCommaText(skips.strings()));
    catalogue.SkipFolders.clear();
    for (std::string& item : text::parseCommaText(m_window.fieldText(Field::SkipFolder))) {
        catalogue.SkipFolders.add(std::move(item));
    }
}

void SearchRun::takeMaskAndRules()
{
    if (m_window.fieldText(Field::FileMask).empty()) {
        m_window.setFieldText(Field::FileMask, "*.*");
    }
    TreeScanner1.setFileMaskCommaText(m_window.fieldText(Field::FileMask));
    m_window.setFieldText(Field::FileMask, TreeScanner1.FileMaskCommaText());

    catalogue.SkipSysbckupFolder = m_window.checked(Check::SkipSysbckup);
    catalogue.SkipDesktopFolders = m_window.checked(Check::SkipDesktopFolders);
    catalogue.SkipTrashFolders = m_window.checked(Check::SkipTrashFolders);
    catalogue.SkipEmptyFiles = m_window.checked(Check::SkipEmptyFiles);
    catalogue.CheckFileSize = m_window.checked(Check::CheckFilesize);
    catalogue.Catalogue.setNameMode(!catalogue.CheckFileSize);
}

void SearchRun::scanDrives(const StringList& rootFolders)
{
    catalogue.scanMode = ScanMode::Normal;
    for (const SearchDrive& drive : m_window.selectedDrives()) {
        if (catalogue.scanMode == ScanMode::Master) {
            catalogue.scanMode = ScanMode::Filtered;
        } else if (catalogue.scanMode == ScanMode::Normal && drive.letter == 'A' &&
                   m_window.checked(Check::FloppyIsMaster)) {
            catalogue.scanMode = ScanMode::Master;
        }
        switch (catalogue.scanMode) {
        case ScanMode::Normal:
            m_window.setStatusText(0, "Scanning folders ....");
            break;
        case ScanMode::Master:
            m_window.setStatusText(0, "Scanning master folders ....");
            break;
        case ScanMode::Filtered:
            m_window.setStatusText(0, "Scanning filtered folders ....");
            break;
        }
        if (drive.wholeDrive) {
            searchFrom(drive.prefix + "/");
        } else {
            for (const std::string& root : rootFolders.strings()) {
                searchFrom(drive.prefix + root);
            }
        }
        if (!KeepSearching) {
            break;
        }
    }
}

std::vector<dev_t> SearchRun::startDevices(const StringList& rootFolders)
{
    std::vector<dev_t> devices;
    auto add = [&devices](const std::string& folder) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) == 0) {
            devices.push_back(st.st_dev);
        }
    };
    for (const SearchDrive& drive : m_window.selectedDrives()) {
        if (drive.wholeDrive) {
            add(drive.prefix + "/");
            continue;
        }
        for (const std::string& root : rootFolders.strings()) {
            add(drive.prefix + root);
        }
    }
    return devices;
}

void SearchRun::UpdateCaption()
{
    std::string caption = "Gemmora named " + m_window.fieldText(Field::FileMask) + " on ";
    for (const SearchDrive& drive : m_window.selectedDrives()) {
        caption += drive.letter;
        caption += ": ";
    }
    caption += "in " + m_window.fieldText(Field::RootDir);
    m_window.setCaption(Caption::Window, caption);
}

}  // namespace search
