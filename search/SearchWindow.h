// What a search needs of its window, whichever front end provides it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace search {

// The result list as the search sees it. Rows are file rows (a path and six
// sub-items), group header rows and separator rows.
class ResultList {
public:
    virtual ~ResultList() = default;
    virtual int rowCount() const = 0;
    virtual void clear() = 0;
    // A row with a caption and no sub-items (header or separator).
    virtual void addRow(const std::string& caption) = 0;
    // The file row of one file; false, and no row, when it is gone. A list
    // that gathers rows later answers true and adds no row for a file gone
    // by then; either way the rows keep the order they were written in.
    virtual bool addFile(const std::string& path) = 0;
    virtual void beginUpdate() = 0;
    virtual void endUpdate() = 0;
    virtual void setRedraw(bool on) = 0;
    // Every column as wide as its header and its widest cell.
    virtual void fitColumns() = 0;
    // Fit every column, then keep it at that width.
    virtual void fixColumns() = 0;
    virtual void refresh() = 0;
    virtual void setHint(const std::string& hint) = 0;
};

enum class Field { FileMask, RootDir, SkipFolder };
enum class Check {
    SkipSysbckup,
    SkipDesktopFolders,
    SkipEmptyFiles,
    CheckFilesize,
    FloppyIsMaster,
    CheckFileTimestamp,
    CheckFilename,
    SkipTrashFolders,
};
enum class Caption { Window, SearchButton, FileListCaption };

// One selected drive: its letter ('A' is the removable master drive) and the
// path that a root-folder entry is appended to ("" for the root file system,
// "/media/usb" for a stick). A drive scanned whole ignores the root folders
// and is walked from its prefix alone.
struct SearchDrive {
    char letter = ' ';
    std::string prefix;
    bool wholeDrive = false;
};

// A file the comparison had to leave out: it could not be opened or read
// (`error` is the system's errno), or it changed while it was compared.
struct LeftOutFile {
    enum class Why { Unreadable, Changed };
    std::string path;
    Why why = Why::Unreadable;
    int error = 0;
};

// What a search run needs of its window, and nothing more.
class SearchWindow {
public:
    virtual ~SearchWindow() = default;

    virtual std::string fieldText(Field field) = 0;
    virtual void setFieldText(Field field, const std::string& text) = 0;
    virtual bool checked(Check check) = 0;
    // The chosen drives in list order (drive-letter order).
    virtual std::vector<SearchDrive> selectedDrives() = 0;

    virtual void setCaption(Caption caption, const std::string& text) = 0;
    // Panels 0 to 3: phase, byte total, file count, current folder or step.
    virtual void setStatusText(int panel, const std::string& text) = 0;
    virtual void repaintStatusBar() = 0;
    virtual ResultList& resultList() = 0;
    // A modal message with an OK button.
    virtual void showMessage(const std::string& text) = 0;
    virtual void setWaitCursor(bool wait) = 0;

    virtual void showProgress(bool visible) = 0;
    virtual void setProgressMax(std::int64_t maximum) = 0;
    virtual void setProgressPosition(std::int64_t position) = 0;

    // One turn of the event loop: stop requests arrive here.
    virtual void processEvents() = 0;

    // Called once for each file the comparison left out; the window shows
    // how many there were and lists them on request.
    virtual void reportLeftOut(const LeftOutFile& file) { (void)file; }
};

}  // namespace search
