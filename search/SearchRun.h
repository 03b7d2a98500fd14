#pragma once

#include <string>

#include "platform/Locale.h"
#include "scanner/TreeScan.h"
#include "search/Comparison.h"
#include "search/FileCatalogue.h"
#include "search/SearchWindow.h"

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
    platform::Locale locale;

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

private:
    void showCurrentFolder(const std::string& text) override;

    SearchWindow& m_window;
    bool m_running = false;
};

// A root or skip folder entry as typed, made into "/folder/": trimmed, with
// a '/' at each end. Skip entries are also made lower case.
std::string normaliseFolderEntry(const std::string& text, bool lower);

}  // namespace search
