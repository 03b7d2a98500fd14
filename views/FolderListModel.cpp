// Turns the folders a search found into the rows and texts of the result list's folder view.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/FolderListModel.h"

#include <QFont>
#include <QLocale>

#include "text/Text.h"

namespace views {

namespace {

QString shown(const std::string& path)
{
    return QString::fromStdString(text::displayName(path));
}

QString count(std::int64_t value)
{
    return QLocale().toString(static_cast<qlonglong>(value));
}

// Three names at most, then how many more.
QString someNames(const std::vector<QString>& names)
{
    constexpr std::size_t kNamed = 3;
    QStringList list;
    for (std::size_t i = 0; i < names.size() && i < kNamed; ++i) {
        list << names[i];
    }
    QString out = list.join(QStringLiteral(", "));
    if (names.size() > kNamed) {
        out += FolderListModel::tr(" and %1 more").arg(count(static_cast<std::int64_t>(names.size() - kNamed)));
    }
    return out;
}

// "2 empty files, 1 empty folder": what the folder holds beside its files.
QString alsoHolds(const folders::FolderFacts& f)
{
    QStringList parts;
    if (f.emptyFiles > 0) {
        parts << (f.emptyFiles == 1 ? FolderListModel::tr("1 empty file")
                                    : FolderListModel::tr("%1 empty files").arg(count(f.emptyFiles)));
    }
    if (f.emptyFolders > 0) {
        parts << (f.emptyFolders == 1
                      ? FolderListModel::tr("1 empty folder")
                      : FolderListModel::tr("%1 empty folders").arg(count(f.emptyFolders)));
    }
    if (f.notSearched > 0) {
        parts << (f.notSearched == 1
                      ? FolderListModel::tr("1 folder not searched")
                      : FolderListModel::tr("%1 folders not searched").arg(count(f.notSearched)));
    }
    if (!f.others.empty()) {
        std::vector<QString> names;
        for (const std::string& path : f.others) {
            names.push_back(shown(path.rfind(f.path, 0) == 0 ? path.substr(f.path.size()) : path));
        }
        const auto links = static_cast<std::int64_t>(f.others.size());
        parts << (links == 1
                      ? FolderListModel::tr("1 link or special file: %1")
                      : FolderListModel::tr("%1 links or special files: %2").arg(count(links)))
                     .arg(someNames(names));
    }
    return parts.join(QStringLiteral(", "));
}

// The links and special files of a folder, a line each, for its tooltip.
QString othersList(const folders::FolderFacts& f)
{
    constexpr std::size_t kListed = 20;
    QStringList lines;
    for (std::size_t i = 0; i < f.others.size() && i < kListed; ++i) {
        lines << shown(f.others[i]);
    }
    if (f.others.size() > kListed) {
        lines << FolderListModel::tr("and %1 more")
                     .arg(count(static_cast<std::int64_t>(f.others.size() - kListed)));
    }
    return lines.join('\n');
}

// "all 12 have copies: 10 in /a/, 2 in /b/" or, for a folder nearly
// contained, the files without a copy first: "no copy: x.txt, y.txt; 10 of
// 12 have copies: 10 in /a/".
QString copiesText(const folders::ContainedFolder& c)
{
    std::int64_t copied = 0;
    std::vector<QString> where;
    for (const folders::Holder& h : c.holders) {
        copied += h.files;
        where.push_back(FolderListModel::tr("%1 in %2").arg(count(h.files), shown(h.folder)));
    }
    if (c.withoutCopy.empty()) {
        return FolderListModel::tr("all %1 have copies: %2").arg(count(copied), someNames(where));
    }
    std::vector<QString> names;
    for (const std::string& path : c.withoutCopy) {
        names.push_back(shown(path.rfind(c.folder.path, 0) == 0 ? path.substr(c.folder.path.size())
                                                                : path));
    }
    return FolderListModel::tr("no copy: %1; %2 of %3 have copies: %4")
        .arg(someNames(names), count(copied), count(c.folder.files), someNames(where));
}

}  // namespace

FolderListModel::FolderListModel(QObject* parent) : QAbstractTableModel(parent) {}

int FolderListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FolderListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QString FolderListModel::text(int row, int column) const
{
    const Row& r = m_rows[static_cast<std::size_t>(row)];
    if (r.kind != RowKind::Folder) {
        return column == Name ? r.caption : QString();
    }
    switch (column) {
    case Name:
        return r.caption;
    case Files:
        return count(r.files);
    case Bytes:
        return count(r.bytes);
    case Copies:
        return r.copies;
    case Also:
        return r.also;
    default:
        return QString();
    }
}

QVariant FolderListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const Row& r = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return text(index.row(), index.column());
    case Qt::ToolTipRole:
        if (index.column() == Also && !r.others.isEmpty()) {
            return r.also + FolderListModel::tr("\n\nGoing with the folder, never a copy:\n") +
                   r.others;
        }
        return index.column() == Copies || index.column() == Name || index.column() == Also
                   ? text(index.row(), index.column())
                   : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            Qt::Alignment(index.column() == Files || index.column() == Bytes ? Qt::AlignRight
                                                                             : Qt::AlignLeft) |
            Qt::AlignVCenter);
    case Qt::FontRole:
        if (r.kind == RowKind::Header) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::CheckStateRole:
        if (r.kind == RowKind::Folder && index.column() == Name) {
            return r.marked ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    default:
        return {};
    }
}

QVariant FolderListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case Name:
        return tr("Folder");
    case Files:
        return tr("Files");
    case Bytes:
        return tr("Bytes");
    case Copies:
        return tr("Copies of its files");
    case Also:
        return tr("Also holds");
    default:
        return {};
    }
}

Qt::ItemFlags FolderListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == Name && kind(index.row()) == RowKind::Folder) {
        f |= Qt::ItemIsUserCheckable;
    }
    return f;
}

bool FolderListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != Name ||
        kind(index.row()) != RowKind::Folder) {
        return false;
    }
    setMarked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

void FolderListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_markedCount = 0;
    m_markedBytes = 0;
    endResetModel();
    emit marksChanged();
}

void FolderListModel::setResult(const folders::FolderResult& result)
{
    beginResetModel();
    m_rows.clear();
    m_markedCount = 0;
    m_markedBytes = 0;
    addGroups(result.sameLayout, FolderKind::SameLayout);
    addGroups(result.anyLayout, FolderKind::AnyLayout);
    addContained(result.contained, FolderKind::Contained);
    addContained(result.nearlyContained, FolderKind::Nearly);
    endResetModel();
    emit marksChanged();
}

void FolderListModel::addHeader(const QString& caption, FolderKind why)
{
    if (!m_rows.empty()) {
        Row separator;
        separator.kind = RowKind::Separator;
        separator.why = why;
        m_rows.push_back(std::move(separator));
    }
    Row header;
    header.kind = RowKind::Header;
    header.why = why;
    header.caption = caption;
    m_rows.push_back(std::move(header));
}

void FolderListModel::addFolder(const folders::FolderFacts& facts, FolderKind why,
                                const QString& copies)
{
    Row row;
    row.why = why;
    row.path = facts.path;
    row.files = facts.files;
    row.bytes = facts.bytes;
    row.caption = shown(facts.path);
    row.copies = copies;
    row.also = alsoHolds(facts);
    row.others = othersList(facts);
    m_rows.push_back(std::move(row));
}

void FolderListModel::addGroups(const std::vector<folders::IdenticalGroup>& groups,
                                FolderKind why)
{
    const QString caption = why == FolderKind::SameLayout
                                ? tr("Identical folders ..... same names and layout")
                                : tr("Identical folders ..... the same files in another layout");
    for (const folders::IdenticalGroup& group : groups) {
        addHeader(caption, why);
        for (std::size_t i = 0; i < group.folders.size(); ++i) {
            std::vector<QString> others;
            for (std::size_t j = 0; j < group.folders.size(); ++j) {
                if (j != i) {
                    others.push_back(shown(group.folders[j].path));
                }
            }
            addFolder(group.folders[i], why, tr("all in %1").arg(someNames(others)));
        }
    }
}

void FolderListModel::addContained(const std::vector<folders::ContainedFolder>& list,
                                   FolderKind why)
{
    if (list.empty()) {
        return;
    }
    addHeader(why == FolderKind::Contained
                  ? tr("Folders whose every file has a copy elsewhere .....")
                  : tr("Folders whose files have copies elsewhere but for a few ....."),
              why);
    for (const folders::ContainedFolder& c : list) {
        addFolder(c.folder, why, copiesText(c));
    }
}

int FolderListModel::headerOf(int row) const
{
    for (; row >= 0; --row) {
        if (kind(row) == RowKind::Header) {
            return row;
        }
        if (kind(row) == RowKind::Separator) {
            return -1;
        }
    }
    return -1;
}

std::vector<int> FolderListModel::groupRows(int header) const
{
    std::vector<int> rows;
    for (int row = header + 1; row < rowCount() && kind(row) == RowKind::Folder; ++row) {
        rows.push_back(row);
    }
    return rows;
}

void FolderListModel::setMarked(int row, bool marked)
{
    Row& r = m_rows[static_cast<std::size_t>(row)];
    if (r.kind != RowKind::Folder || r.marked == marked) {
        return;
    }
    r.marked = marked;
    m_markedCount += marked ? 1 : -1;
    m_markedBytes += marked ? r.bytes : -r.bytes;
    emit dataChanged(index(row, Name), index(row, Name), {Qt::CheckStateRole});
    emit marksChanged();
}

std::vector<int> FolderListModel::markedRows() const
{
    std::vector<int> rows;
    for (int row = 0; row < rowCount(); ++row) {
        if (m_rows[static_cast<std::size_t>(row)].marked) {
            rows.push_back(row);
        }
    }
    return rows;
}

}  // namespace views
