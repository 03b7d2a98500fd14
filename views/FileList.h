#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QFileIconProvider>
#include <QTreeWidget>

#include "platform/Locale.h"

namespace views {

class TypeNames;

// The result list: rows of a file's path, size, type, modification time,
// attributes and version strings, plus caption-only header and separator
// rows. Every row keeps the exact bytes of its caption; the text shown is
// their decoded form, and clients read paths only from the bytes.
class TFileListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TFileListView(QWidget* owner = nullptr);
    ~TFileListView() override;

    int SortColumn = 1;
    bool SortAscending = true;
    // The header click; SortByColumn unless a client sets its own.
    std::function<void(int column)> OnColumnClick;

    bool ShowIcons() const { return m_icons != nullptr; }
    void setShowIcons(bool show);
    // The shell's icons while ShowIcons is on, else none.
    const QFileIconProvider* iconProvider() const { return m_icons.get(); }

    // Appends the row of one file; false, size untouched and no row, when the
    // path is no longer a regular file.
    bool AddFile(const std::string& path, std::int64_t& size);
    QTreeWidgetItem* addCaptionRow(const std::string& caption);
    QTreeWidgetItem* addRow(const std::string& caption, const std::vector<std::string>& subItems);

    int rowCount() const;
    QTreeWidgetItem* row(int index) const;
    int indexOfRow(const QTreeWidgetItem* row) const;
    static std::string captionOf(const QTreeWidgetItem* row);
    static std::vector<std::string> subItemsOf(const QTreeWidgetItem* row);
    static int subItemCount(const QTreeWidgetItem* row);
    void deleteRow(QTreeWidgetItem* row);
    QTreeWidgetItem* rowAbove(const QTreeWidgetItem* row) const;
    QTreeWidgetItem* rowBelow(const QTreeWidgetItem* row) const;
    QTreeWidgetItem* firstSelected() const;
    void clearRows();

    // Rows added between these are shown together at the end.
    void beginUpdate();
    void endUpdate();
    bool updating() const { return m_updateDepth > 0; }
    // Off stops painting; on lets the rows so far be painted, even in an
    // update, once they are shown (showPendingRows) at an event-loop turn.
    void setRedraw(bool on);
    // Puts the rows added in an update into the view. Every insertion lays
    // the whole list out again, so this is done at event-loop turns, not
    // for every group.
    void showPendingRows() const;
    // Every column as wide as its header and widest cell.
    void fitColumns();
    // Fit, then keep each column at the width that results.
    void fixColumns();
    void setAllColumnWidths(int width);
    void setHint(const QString& hint) { setToolTip(hint); }
    QString hint() const { return toolTip(); }

    void SortByColumn(int column);
    int CompareRows(const QTreeWidgetItem* first, const QTreeWidgetItem* second) const;

    // The process-wide number, date and time formats.
    static const platform::Locale& processLocale();
    static platform::Locale localeFrom(const QLocale& locale);

private:
    QTreeWidgetItem* makeRow(const std::string& caption,
                             const std::vector<std::string>& subItems) const;
    void add(QTreeWidgetItem* row);

    std::unique_ptr<QFileIconProvider> m_icons;
    std::unique_ptr<TypeNames> m_types;
    int m_updateDepth = 0;
    mutable QList<QTreeWidgetItem*> m_pending;
};

}  // namespace views
