// Test helper: a search window that keeps its rows as texts.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "search/FileRow.h"
#include "search/SearchRun.h"
#include "search/SearchWindow.h"
#include "settings/ResultLines.h"

// A result list that keeps rows as captions and sub-items.
class TestResultList : public search::ResultList {
public:
    std::vector<settings::ResultRow> rows;
    std::string hint = "(unset)";
    int updateDepth = 0;
    int redrawToggles = 0;

    int rowCount() const override { return static_cast<int>(rows.size()); }
    void clear() override { rows.clear(); }
    void addRow(const std::string& caption) override { rows.push_back({caption, {}}); }
    bool addFile(const std::string& path) override
    {
        search::FileRowFacts facts;
        if (!search::gatherFileRow(path, nullptr, text::Locale(), facts)) {
            return false;
        }
        rows.push_back(
            {path, std::vector<std::string>(facts.subItems.begin(), facts.subItems.end())});
        return true;
    }
    void beginUpdate() override { ++updateDepth; }
    void endUpdate() override { --updateDepth; }
    void setRedraw(bool on) override { redrawToggles += on ? 1 : 0; }
    void fitColumns() override {}
    void fixColumns() override {}
    void refresh() override {}
    void setHint(const std::string& text) override { hint = text; }
};

// A window made of plain fields, recording what the run shows.
class TestWindow : public search::SearchWindow {
public:
    std::map<search::Field, std::string> fields = {{search::Field::FileMask, "*.*"},
                                                   {search::Field::RootDir, "/"},
                                                   {search::Field::SkipFolder, ""}};
    std::map<search::Check, bool> checks = {
        {search::Check::SkipSysbckup, true},   {search::Check::SkipDesktopFolders, true},
        {search::Check::SkipEmptyFiles, true}, {search::Check::CheckFilesize, true},
        {search::Check::FloppyIsMaster, true}, {search::Check::CheckFileTimestamp, false},
        {search::Check::CheckFilename, false}, {search::Check::SkipTrashFolders, true},
    };
    std::vector<search::SearchDrive> drives;
    std::map<search::Caption, std::string> captions;
    std::string status[4];
    std::vector<std::string> statusLog;  // every text of panel 0
    std::vector<std::string> messages;
    TestResultList list;
    std::int64_t progressMax = -1;
    std::int64_t progressPosition = 0;
    bool progressVisible = false;
    int waitCursor = 0;
    int turns = 0;
    std::function<void()> onTurn;
    std::vector<search::LeftOutFile> leftOut;

    std::string fieldText(search::Field field) override { return fields[field]; }
    void setFieldText(search::Field field, const std::string& text) override
    {
        fields[field] = text;
    }
    bool checked(search::Check check) override { return checks[check]; }
    std::vector<search::SearchDrive> selectedDrives() override { return drives; }
    void setCaption(search::Caption caption, const std::string& text) override
    {
        captions[caption] = text;
    }
    void setStatusText(int panel, const std::string& text) override
    {
        status[panel] = text;
        if (panel == 0) {
            statusLog.push_back(text);
        }
    }
    void repaintStatusBar() override {}
    search::ResultList& resultList() override { return list; }
    std::function<void()> showMessageHook;
    void showMessage(const std::string& text) override
    {
        messages.push_back(text);
        if (showMessageHook) {
            showMessageHook();
        }
    }
    void setWaitCursor(bool wait) override { waitCursor += wait ? 1 : -1; }
    void showProgress(bool visible) override { progressVisible = visible; }
    void setProgressMax(std::int64_t maximum) override { progressMax = maximum; }
    void setProgressPosition(std::int64_t position) override { progressPosition = position; }
    void processEvents() override
    {
        ++turns;
        if (onTurn) {
            onTurn();
        }
    }
    void reportLeftOut(const search::LeftOutFile& file) override { leftOut.push_back(file); }

    // The rows as "caption" lines, file paths relative to `base`.
    std::vector<std::string> rowTexts(const std::string& base) const
    {
        std::vector<std::string> out;
        for (const auto& row : list.rows) {
            out.push_back(row.caption.rfind(base, 0) == 0 ? row.caption.substr(base.size())
                                                          : row.caption);
        }
        return out;
    }
};
