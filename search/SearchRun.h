// One search from start to stop: the scan phase, then the comparison.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "text/Locale.h"
#include "scanner/TreeScan.h"
#include "search/Comparison.h"
#include "search/FileCatalogue.h"
#include "search/SearchWindow.h"
#include "text/StringList.h"

namespace search {

// One search from the window's settings: the scan phase fills the
// catalogue, the comparison confirms duplicates. The same button starts a
// run and, while one is going on, stops it.
class SearchRun : public FolderStatus {
public:
    explicit SearchRun(SearchWindow& window);

    scanner::TTreeScanner TreeScanner1;
    FileCatalogue catalogue;
    DuplicateComparison comparison;
    text::Locale locale;

    // The run goes on; a stop request or the window's close query clears it.
    bool KeepSearching = false;

    void btnSearchClick();
    void RunScan();
    void UpdateCaption();
    // Both flags cleared, as a click on "Stop" or a close request does.
    void requestStop();

    bool scanning() const { return TreeScanner1.SearchInProgress(); }
    bool comparing() const { return comparison.Comparing; }
    bool running() const { return m_running; }

    // The notice shown when one root folder holds another.
    static std::string nestedFolderMessage(const std::string& inner, const std::string& outer);

    // A root folder of the last run that could not be searched, and the
    // system's error number saying why.
    struct MissedFolder {
        std::string path;
        int error = 0;
    };
    const std::vector<MissedFolder>& missedFolders() const { return m_missed; }
    // The notice shown when a root folder cannot be searched.
    static std::string missedFolderMessage(const MissedFolder& folder);

    // Why the last run could not go on (out of file descriptors or memory,
    // in the walk or the comparison); empty when nothing stood in its way.
    const std::string& failure() const
    {
        return m_walkFailure.empty() ? comparison.failure() : m_walkFailure;
    }

private:
    // The steps of the scan phase: the start folders tidied in their field
    // (sorted, a folder inside another dropped), the folders to skip, the
    // masks and rules taken from the window, and the walk of each drive.
    void tidyRootFolders();
    void takeSkipFolders();
    void takeMaskAndRules();
    void scanDrives(const text::StringList& rootFolders);
    // The devices of the start folders, as far as they can be seen now.
    std::vector<dev_t> startDevices(const text::StringList& rootFolders);
    void showCurrentFolder(const std::string& text) override;
    // Walks one start folder; a start folder that cannot be opened is said
    // so at once, and the run goes on with the others.
    void searchFrom(const std::string& folder);
    // The end text of a run that missed root folders names them.
    void showMissedFolders();

    SearchWindow& m_window;
    bool m_running = false;
    std::vector<MissedFolder> m_missed;
    int m_startError = 0;
    std::string m_walkFailure;
};

// A root or skip folder entry as typed, made into "/folder/" with a '/' at
// each end. Skip entries are also trimmed and made lower case; a root entry
// keeps its blanks (a quoted name may end with one), but one made of blanks
// alone is no entry.
std::string normaliseFolderEntry(const std::string& text, bool lower);

}  // namespace search
