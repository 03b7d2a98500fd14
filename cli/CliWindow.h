// The search window of gemmora-cli: the result list in memory, progress and stop by signal.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "cli/StillThere.h"
#include "search/SearchRun.h"
#include "search/SearchWindow.h"
#include "settings/ResultLines.h"
#include "settings/SearchOptions.h"

namespace cli {

// Set by SIGINT and SIGTERM; the next event-loop turn turns it into a stop.
extern volatile std::sig_atomic_t g_stopRequested;

// The result list of the terminal: rows kept in memory until the end.
class CliResultList : public search::ResultList {
public:
    std::vector<settings::ResultRow> rows;
    // Paths alone need no row facts, only whether the file is still there,
    // which a helper thread checks as they come; settle() takes its answers.
    bool pathsOnly = false;
    std::vector<std::vector<std::string>> groups;

    // With paths alone: the files listed and still there go into `groups`,
    // a group left with fewer than two files goes. Called as the search ends.
    void settle();

    // The groups as text: with `null`, each path ends with a zero byte and
    // each group with one more; else a path a line and an empty line between
    // groups, where a path holding a line break cannot be written, so it is
    // left out (and its group when fewer than two paths remain). `leftOut`
    // receives how many paths were.
    std::string pathsText(bool null, std::size_t& leftOut) const;
    // Removes the last group when it has fewer than two files: what a search
    // cut short in the middle of writing a group left.
    void dropUnfinishedGroup();

    int rowCount() const override { return m_count; }
    void clear() override;
    void addRow(const std::string& caption) override;
    bool addFile(const std::string& path) override;
    void beginUpdate() override {}
    void endUpdate() override {}
    void setRedraw(bool) override {}
    void fitColumns() override {}
    void fixColumns() override {}
    void refresh() override {}
    void setHint(const std::string&) override {}

private:
    int m_count = 0;
    bool m_groupOpen = false;  // a file came after the last separator row
    std::size_t m_group = 0;   // counts the groups opened
    StillThere m_stillThere;
};

// The window of a search run without a window: fields and check boxes from
// the command line, status texts as one progress line on a terminal.
class CliWindow : public search::SearchWindow {
public:
    CliWindow(const settings::SearchOptions& options, std::vector<search::SearchDrive> drives,
              bool progress);

    void attach(search::SearchRun& run) { m_run = &run; }
    // Erases the progress line, if one was drawn.
    void finishProgress();
    const std::string& status(int panel) const { return m_status[panel]; }

    std::string fieldText(search::Field field) override;
    void setFieldText(search::Field field, const std::string& text) override;
    bool checked(search::Check check) override;
    std::vector<search::SearchDrive> selectedDrives() override { return m_drives; }
    void setCaption(search::Caption, const std::string&) override {}
    void setStatusText(int panel, const std::string& text) override;
    void repaintStatusBar() override {}
    search::ResultList& resultList() override { return m_list; }
    void showMessage(const std::string& text) override;
    void setWaitCursor(bool) override {}
    void showProgress(bool) override {}
    void setProgressMax(std::int64_t) override {}
    void setProgressPosition(std::int64_t position) override { m_position = position; }
    void processEvents() override;
    // One line on standard error for each file the comparison left out.
    void reportLeftOut(const search::LeftOutFile& file) override;

    CliResultList& list() { return m_list; }
    std::size_t leftOut() const { return m_leftOut; }

private:
    void drawProgress();

    settings::SearchOptions m_options;
    std::vector<search::SearchDrive> m_drives;
    bool m_progress;
    CliResultList m_list;
    search::SearchRun* m_run = nullptr;
    std::string m_status[4];
    std::int64_t m_position = 0;
    std::size_t m_leftOut = 0;
    bool m_stopHandled = false;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace cli
