// The result list's folder rows: identical folders and folders whose files all have copies.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QString>

#include "folders/FolderFinder.h"

namespace views {

// Why a folder row is listed.
enum class FolderKind : std::uint8_t {
    SameLayout,  // identical to the other folders of its group, names and layout too
    AnyLayout,   // the same files as the others of its group, in another layout
    Contained,   // every file has a copy outside it
    Nearly,      // every file but a few has a copy outside it
};

// The folders of a finished search as rows, read as the file rows are: a
// group header row ("Identical folders ....." and its kind), its folder
// rows, and a separator row before every header but the first. Identical
// folders come a group to a header; contained and nearly contained folders
// are each listed under one header of their kind. Columns: the folder, its
// files, its bytes, what else it holds, and where the copies of its files
// are. A folder row can carry the user's mark, shown as a check box.
class FolderListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class RowKind : std::uint8_t { Folder, Header, Separator };
    enum Column { Name, Files, Bytes, Also, Copies, kColumnCount };

    explicit FolderListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Replaces the rows with the folders found; the marks go.
    void setResult(const folders::FolderResult& result);
    void clear();

    RowKind kind(int row) const { return m_rows[static_cast<std::size_t>(row)].kind; }
    FolderKind folderKind(int row) const { return m_rows[static_cast<std::size_t>(row)].why; }
    // A folder row's folder, its exact bytes ending with '/'; "" for other rows.
    const std::string& path(int row) const { return m_rows[static_cast<std::size_t>(row)].path; }
    std::int64_t bytes(int row) const { return m_rows[static_cast<std::size_t>(row)].bytes; }
    // The header of the group a row is in (the row itself for a header), or -1.
    int headerOf(int row) const;
    // The folder rows of the group under a header.
    std::vector<int> groupRows(int header) const;
    // The text shown in a cell.
    QString text(int row, int column) const;

    bool isMarked(int row) const { return m_rows[static_cast<std::size_t>(row)].marked; }
    // Marks or unmarks a folder row; header and separator rows take no mark.
    void setMarked(int row, bool marked);
    std::int64_t markedCount() const { return m_markedCount; }
    std::int64_t markedBytes() const { return m_markedBytes; }
    // The marked folder rows, in list order.
    std::vector<int> markedRows() const;

signals:
    // A mark was set or cleared, or the rows were replaced.
    void marksChanged();

private:
    struct Row {
        RowKind kind = RowKind::Folder;
        FolderKind why = FolderKind::SameLayout;
        bool marked = false;
        std::string path;
        std::int64_t files = 0;
        std::int64_t bytes = 0;
        QString caption;  // the Name column's text
        QString copies;
        QString also;
        QString others;  // the links and special files, a line each
    };

    void addGroups(const std::vector<folders::IdenticalGroup>& groups, FolderKind why);
    void addContained(const std::vector<folders::ContainedFolder>& list, FolderKind why);
    void addHeader(const QString& caption, FolderKind why);
    void addFolder(const folders::FolderFacts& facts, FolderKind why, const QString& copies);

    std::vector<Row> m_rows;
    std::int64_t m_markedCount = 0;
    std::int64_t m_markedBytes = 0;
};

}  // namespace views
