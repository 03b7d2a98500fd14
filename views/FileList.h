// The result list view: file, header and separator rows, sorting, selection and pruning.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QFileIconProvider>
#include <QTableView>

#include "search/FileRow.h"
#include "text/Locale.h"
#include "views/FileListModel.h"
#include "views/GroupFilter.h"
#include "views/GroupSort.h"

class QItemSelectionModel;

namespace views {

class TypeNames;

// The result list: rows of a file's path, size, type, modification time,
// attributes and version strings, plus caption-only header and separator
// rows. Every row keeps the exact bytes of its caption; the text shown is
// their decoded form, and clients read paths only from the bytes.
//
// Rows are addressed by their index in list order, the rows not yet shown
// (see beginUpdate) included; an index is good until the next row is
// deleted or the rows are sorted.
class TFileListView : public QTableView {
    Q_OBJECT
public:
    static constexpr char kHeaderCaption[] = "Duplicate files .....";

    explicit TFileListView(QWidget* owner = nullptr);
    ~TFileListView() override;

    int SortColumn = 1;
    bool SortAscending = true;
    // The header click; SortByColumn unless a client sets its own.
    std::function<void(int column)> OnColumnClick;
    // A group that was still being written is complete (see openGroup).
    std::function<void(int header)> OnGroupClosed;

    bool ShowIcons() const { return m_icons != nullptr; }
    void setShowIcons(bool show);
    // The shell's icons while ShowIcons is on, else none.
    const QFileIconProvider* iconProvider() const { return m_icons.get(); }

    // Appends the row of one file; false, size untouched and no row, when the
    // path is no longer a regular file.
    bool AddFile(const std::string& path, std::int64_t& size);
    // Appends the row of a file whose facts were gathered (without a type
    // name: the type database's is put in) and returns its index.
    int addGatheredFile(const std::string& path, search::FileRowFacts& facts);
    // Each returns the index of the new row.
    int addHeaderRow(const std::string& caption = kHeaderCaption);
    // -1, and no row, when the group it would follow was just removed
    // whole: the list then already ends with a separator, or is empty.
    int addSeparatorRow();
    // A row from its texts, as a saved list gives them: a file row's values
    // are read from its texts once, here.
    int addRow(const std::string& caption, const std::vector<std::string>& subItems);
    int addRow(RowKind kind, const std::string& caption, const std::vector<std::string>& subItems);

    // Marks: a second way of working beside the one-file-at-a-time keys. A
    // file row's check box in the Name column; Space sets or clears the
    // marks of the selected rows.
    bool isMarked(int row) const { return m_model->isMarked(row); }
    void setMarked(int row, bool marked) { m_model->setMarked(row, marked); }
    void beginMarking() { m_model->beginMarking(); }
    void endMarking() { m_model->endMarking(); }
    std::int64_t markedCount() const { return m_model->markedCount(); }
    std::int64_t markedBytes() const { return m_model->markedBytes(); }
    // The selected file rows, in list order.
    std::vector<int> selectedFileRows() const;
    // Marks every selected file row, or unmarks them all when every one of
    // them is marked already: a mixed selection comes out in one state.
    void toggleSelectedMarks();

    int rowCount() const { return m_model->size(); }
    RowKind kindOf(int row) const { return m_model->kind(row); }
    std::string captionOf(int row) const;
    std::vector<std::string> subItemsOf(int row) const;
    int subItemCount(int row) const { return m_model->subItemCount(row); }
    // The text shown in a cell.
    QString text(int row, int column) const;
    void deleteRow(int row);
    // Deletes the rows given in ascending order, each once. Many rows go in
    // one pass; the selection, the current row and the scroll position of
    // the rows that stay are kept.
    void deleteRows(const std::vector<int>& rows);
    void clearRows();

    bool isRowSelected(int row) const;
    void setRowSelected(int row, bool selected);
    // The first selected row in list order, or -1; from the selection's
    // ranges, so it costs no more with every row selected.
    int firstSelected() const;

    // The rows of the group around a row: its header (the nearest header at
    // or above it) and its file rows [first, end). header is -1 when there
    // is no header above.
    struct Group {
        int header = -1;
        int first = -1;
        int end = -1;
    };
    Group groupAround(int row) const;
    // The header of the group the comparison is still writing, or -1. While
    // rows are added in an update, the last group may still grow; it closes
    // when the next separator or header comes or the update ends.
    int openGroup() const { return m_openHeader; }
    // The group being written is whole: closes it now rather than when the
    // next group or the end of the update comes.
    void endGroup() { closeOpenGroup(); }
    // The number of groups listed (their header rows).
    int groupCount() const;

    // Rows added between these are shown together at the end.
    void beginUpdate();
    void endUpdate();
    bool updating() const { return m_updateDepth > 0; }
    // Off stops painting; on lets the rows so far be painted, even in an
    // update, once they are shown (showPendingRows) at an event-loop turn.
    void setRedraw(bool on);
    // Puts the rows added in an update into the view, in one insertion.
    void showPendingRows();
    // Every column as wide as its header and widest cell.
    void fitColumns();
    // Fit, then keep each column at the width that results.
    void fixColumns();
    void setAllColumnWidths(int width);
    void setHint(const QString& hint) { setToolTip(hint); }
    QString hint() const { return toolTip(); }

    // Puts the groups in an order, each whole (see GroupSort); Found gives
    // back the order they were written in. Clearing the rows returns to it.
    // A long list's order is worked out on a helper thread while the event
    // loop turns, and put in place when it is ready (groupOrderChanged);
    // an order chosen meanwhile follows it.
    void sortGroups(GroupOrder order);
    GroupOrder groupOrder() const { return m_groupOrder; }
    bool sorting() const { return m_sortRunning; }
    // Lists of this many rows and more are sorted on the helper thread.
    static constexpr int kSortAsideRows = 20000;

    // Keeps in sight only the groups the filter keeps (see GroupFilter); the
    // empty filter shows every row again. The selection is cleared, so what
    // is selected is always in sight. Clearing the rows clears the filter.
    void setFilter(const GroupFilter& filter);
    const GroupFilter& filter() const { return m_filter; }
    bool isRowShown(int row) const { return m_filter.empty() || !isRowHidden(row); }
    ShownCounts shownCounts() const;

    void SortByColumn(int column);
    int CompareRows(int first, int second) const;

    const FileListModel& rows() const { return *m_model; }

    // The process-wide number, date and time formats.
    static const text::Locale& processLocale();
    static text::Locale localeFrom(const QLocale& locale);

signals:
    // A mark was set or cleared, or a marked row went.
    void marksChanged();
    // The groups were put in another order, or back in the order found.
    void groupOrderChanged();
    // The filter changed, or rows went while it was set.
    void filterChanged();
    // Rows were deleted (by deleteRow or deleteRows; clearing is not deleting).
    void rowsDeleted();
    // The context menu is asked for over `row` (-1: no row), by the mouse or
    // the keyboard (the Menu key, Shift+F10); `at` is where it should open.
    void menuRequested(const QPoint& at, int row);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

private:
    int append(RowKind kind, const std::string& caption, std::span<const std::string> subItems,
               const RowFacts& facts = {}, const QIcon* icon = nullptr);
    void closeOpenGroup();
    void startSortAside(GroupSort::Snapshot snapshot, GroupOrder order);
    void sortAsideDone(const std::vector<int>& rows, GroupOrder order, std::uint64_t generation);
    void applyGroupOrder(const std::vector<int>& rows, GroupOrder order);
    void setRowHeight();
    // The rectangle of a whole row in the viewport, for its focus frame.
    QRect rowRect(int row) const;
    void keepTopRowWhole();
    int widthOfText(const QString& text, bool checkBox = false) const;
    // Widens the Name column, when it is too narrow, to show the words a
    // header row gains when its group is marked whole.
    void fitAllMarkedNote();

    FileListModel* m_model;
    // The headers get a selection of their own that stays empty: a header
    // asks its selection whether each whole column is selected, a walk over
    // every row, when it repaints after the selection changed.
    QItemSelectionModel* m_headerSelection;
    std::unique_ptr<QFileIconProvider> m_icons;
    std::unique_ptr<TypeNames> m_types;
    int m_updateDepth = 0;
    int m_openHeader = -1;
    GroupOrder m_groupOrder = GroupOrder::Found;
    GroupFilter m_filter;
    // The sort on the helper thread, the order asked for while it ran, and
    // whether the rows it was working out were cleared meanwhile.
    std::thread m_sortThread;
    bool m_sortRunning = false;
    std::optional<GroupOrder> m_sortQueued;
    bool m_sortDropped = false;

    // Hides and shows rows as the filter says; rows whose state is right stay untouched.
    void applyFilter();
};

}  // namespace views
