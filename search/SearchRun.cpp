#include "search/SearchRun.h"

#include "platform/CommaText.h"
#include "platform/StringList.h"
#include "platform/Text.h"

namespace search {

using platform::StringList;

SearchRun::SearchRun(SearchWindow& window)
    : comparison(window, catalogue, TreeScanner1, KeepSearching, locale), m_window(window)
{
    TreeScanner1.FindHiddenFiles = true;
    catalogue.bind(TreeScanner1);
    catalogue.status = this;
    TreeScanner1.onIdle = [this] { m_window.processEvents(); };
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
    m_running = false;
}

std::string normaliseFolderEntry(const std::string& text, bool lower)
{
    std::string entry = platform::trim(lower ? platform::lowerCase(text) : text);
    if (entry.empty()) {
        return entry;
    }
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
    return "Folder: " + platform::upperCase(inner) +
           "  is already included in \nfolder: " + platform::upperCase(outer) +
           "  and will therefore be removed.";
}

void SearchRun::RunScan()
{
    m_window.setStatusText(1, "Bytes:");
    m_window.setStatusText(2, "Files:");
    ResultList& list = m_window.resultList();
    list.setHint("");
    m_window.setWaitCursor(true);
    list.clear();
    m_window.setWaitCursor(false);
    catalogue.startScan();

    // Root folders keep the user's case: on Linux /Docs and /docs differ.
    if (platform::trim(m_window.fieldText(Field::RootDir)).empty()) {
        m_window.setFieldText(Field::RootDir, "/");
    }
    StringList roots(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    for (const std::string& item : platform::parseCommaText(m_window.fieldText(Field::RootDir))) {
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
            if (platform::startsWith(roots[j], roots[i])) {
                m_window.showMessage(nestedFolderMessage(roots[j], roots[i]));
                roots.removeAt(j);
            } else {
                ++j;
            }
        }
    }
    m_window.setFieldText(Field::RootDir, platform::formatCommaText(roots.strings()));
    UpdateCaption();
    StringList rootFolders(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    for (std::string& item : platform::parseCommaText(m_window.fieldText(Field::RootDir))) {
        rootFolders.add(std::move(item));
    }

    StringList skips(StringList::Order::Sorted, StringList::Repeats::IgnoreExact);
    for (const std::string& item :
         platform::parseCommaText(m_window.fieldText(Field::SkipFolder))) {
        const std::string entry = normaliseFolderEntry(item, true);
        if (entry.size() >= 3) {
            skips.add(entry);
        }
    }
    m_window.setFieldText(Field::SkipFolder, platform::formatCommaText(skips.strings()));
    catalogue.SkipFolders.clear();
    for (std::string& item : platform::parseCommaText(m_window.fieldText(Field::SkipFolder))) {
        catalogue.SkipFolders.add(std::move(item));
    }

    if (m_window.fieldText(Field::FileMask).empty()) {
        m_window.setFieldText(Field::FileMask, "*.*");
    }
    TreeScanner1.setFileMaskCommaText(m_window.fieldText(Field::FileMask));
    m_window.setFieldText(Field::FileMask, TreeScanner1.FileMaskCommaText());

    catalogue.SkipSysbckupFolder = m_window.checked(Check::SkipSysbckup);
    catalogue.SkipDesktopFolders = m_window.checked(Check::SkipDesktopFolders);
    catalogue.SkipEmptyFiles = m_window.checked(Check::SkipEmptyFiles);
    catalogue.CheckFileSize = m_window.checked(Check::CheckFilesize);
    catalogue.Catalogue.setNameMode(!catalogue.CheckFileSize);

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
            TreeScanner1.InitialDirectory = drive.prefix + "/";
            TreeScanner1.Search();
        } else {
            for (const std::string& root : rootFolders.strings()) {
                TreeScanner1.InitialDirectory = drive.prefix + root;
                TreeScanner1.Search();
            }
        }
        if (!KeepSearching) {
            break;
        }
    }
    m_window.setStatusText(0, "");
    m_window.setStatusText(3, "");
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
