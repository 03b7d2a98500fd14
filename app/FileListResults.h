// The search's result list: rows in order, their files' facts gathered off the window's thread.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include "search/FileRowGatherer.h"
#include "search/SearchWindow.h"
#include "views/FileList.h"

namespace app {

// The result list as the search run sees it. A file's row waits while a
// helper thread gathers its facts (the status call, the version block):
// the window's thread does no file I/O for it. Every row reaches the list
// in the order written, at the window's turns and whenever the run asks
// of the list something that needs its rows (fitting the columns, the end
// of the update).
class FileListResults : public search::ResultList {
public:
    explicit FileListResults(views::TFileListView& list);

    // A turn of the event loop, while the window waits for the helper.
    std::function<void()> turn;
    // Header rows reached the list.
    std::function<void()> groupsAdded;

    // The rows in the list and those on their way.
    int rowCount() const override;
    void clear() override;
    // The comparison's rows without sub-items: a separator has no caption.
    void addRow(const std::string& caption) override;
    // True: the row comes later, or not at all when the file is gone by
    // the time its facts are gathered.
    bool addFile(const std::string& path) override;
    void beginUpdate() override { m_list.beginUpdate(); }
    void endUpdate() override;
    void setRedraw(bool on) override { m_list.setRedraw(on); }
    void fitColumns() override;
    void fixColumns() override;
    void refresh() override { m_list.viewport()->update(); }
    void setHint(const std::string& hint) override;

    // The group being written is whole; it closes once its rows are in.
    void endGroup();
    // Puts the rows gathered so far into the list.
    void showReady();
    // Puts every row on its way into the list, turning the event loop
    // while the helper gathers the last ones; without `turns`, where a
    // turn could start another search, it only waits (a few hundred rows).
    void finish(bool turns = true);

private:
    enum Kind { File, Header, Separator, GroupEnd };
    void add(Kind kind, const std::string& text);

    views::TFileListView& m_list;
    search::FileRowGatherer m_gatherer;
    std::vector<search::PendingRow> m_taken;  // kept for its room
};

}  // namespace app
