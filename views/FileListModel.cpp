// The result list's rows held compactly, with each caption's exact bytes.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/FileListModel.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include <QBrush>
#include <QColor>

#include "text/Text.h"

namespace views {

namespace {

const char* const kColumns[] = {"Name", "Size", "Type", "Modified", "Attr", "File Ver", "Prod Ver"};
const bool kRightAligned[] = {false, true, false, false, true, true, true};

// Small rows share blocks of this size; a larger row gets a block of its own.
constexpr std::size_t kChunkBytes = std::size_t(1) << 20;
// How many of the longest texts of each column are kept for fitting it.
constexpr std::size_t kLongTexts = 4;

std::size_t lengthBytes(std::size_t length)
{
    std::size_t bytes = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++bytes;
    }
    return bytes;
}

char* putLength(char* out, std::size_t length)
{
    while (length >= 0x80) {
        *out++ = static_cast<char>((length & 0x7F) | 0x80);
        length >>= 7;
    }
    *out++ = static_cast<char>(length);
    return out;
}

const char* getLength(const char* in, std::size_t& length)
{
    length = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*in++);
        length |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return in;
        }
        shift += 7;
    }
}

}  // namespace

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

FileListModel::~FileListModel() = default;

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown) {
        return QVariant();
    }
    const int row = index.row();
    const int column = index.column();
    const Record& record = recordOf(row);
    switch (role) {
    case Qt::DisplayRole:
        if (column == 0) {
            QString text = QString::fromStdString(text::displayName(caption(row)));
            if ((record.flags & kAllMarked) != 0) {
                text += tr(kAllMarkedNote);
            }
            return text;
        }
        if (column <= subItemCount(row)) {
            const std::string_view text = subItem(row, column - 1);
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        }
        return QString();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(
            (kRightAligned[column] ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case Qt::DecorationRole:
        if (column == 0 && m_showIcons && record.icon != 0) {
            return m_icons[record.icon - 1u];
        }
        return QVariant();
    case Qt::CheckStateRole:
        if (column == 0 && record.kind == RowKind::File) {
            return (record.flags & kMarked) != 0 ? Qt::Checked : Qt::Unchecked;
        }
        return QVariant();
    case Qt::ForegroundRole:
        // The words say it; the colour only draws the eye to it.
        if (column == 0 && (record.flags & kAllMarked) != 0) {
            return QBrush(QColor(170, 0, 0));
        }
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) {
        return tr(kColumns[section]);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(
            (kRightAligned[section] ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    return QVariant();
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0 && index.row() < size() && kind(index.row()) == RowKind::File) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0 ||
        index.row() >= size() || kind(index.row()) != RowKind::File) {
        return false;
    }
    setMarked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

void FileListModel::setHold(bool hold)
{
    m_hold = hold;
    if (!hold) {
        showPending();
    }
}

void FileListModel::showPending()
{
    const int total = size();
    if (m_shown == total) {
        return;
    }
    beginInsertRows(QModelIndex(), m_shown, total - 1);
    m_shown = total;
    endInsertRows();
}

const char* FileListModel::bytesOf(const Record& record) const
{
    return m_chunks[record.chunk].get() + record.offset;
}

char* FileListModel::reserveBytes(std::size_t bytes, Record& record)
{
    // A row this large (a very long path) gets a block of its own, so the
    // shared block being filled is not left half empty.
    const bool own = bytes > kChunkBytes / 4;
    if (own || m_chunks.empty() || m_used + bytes > m_chunkSizes[m_current]) {
        const std::size_t size = own ? bytes : kChunkBytes;
        auto chunk = std::make_unique_for_overwrite<char[]>(size);
        m_chunks.reserve(m_chunks.size() + 1);
        m_chunkSizes.reserve(m_chunks.size() + 1);
        m_chunks.push_back(std::move(chunk));
        m_chunkSizes.push_back(size);
        if (own) {
            record.chunk = static_cast<std::uint32_t>(m_chunks.size() - 1);
            record.offset = 0;
            return m_chunks.back().get();
        }
        m_current = m_chunks.size() - 1;
        m_used = 0;
    }
    record.chunk = static_cast<std::uint32_t>(m_current);
    record.offset = static_cast<std::uint32_t>(m_used);
    m_used += bytes;
    return m_chunks[m_current].get() + record.offset;
}

std::uint16_t FileListModel::iconIndex(const QIcon& icon)
{
    if (icon.isNull()) {
        return 0;
    }
    // Icons come by file type, so a few dozen serve a million rows.
    for (std::size_t i = 0; i < m_icons.size(); ++i) {
        if (m_icons[i].cacheKey() == icon.cacheKey() ||
            (!icon.name().isEmpty() && m_icons[i].name() == icon.name())) {
            return static_cast<std::uint16_t>(i + 1);
        }
    }
    if (m_icons.size() >= 0xFFFF) {
        return 0;
    }
    m_icons.push_back(icon);
    return static_cast<std::uint16_t>(m_icons.size());
}

void FileListModel::noteLongText(int column, std::string_view text)
{
    std::vector<std::string>& texts = m_longTexts[column];
    if (texts.size() < kLongTexts) {
        texts.emplace_back(text);
        return;
    }
    auto shortest = std::min_element(
        texts.begin(), texts.end(),
        [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    if (text.size() > shortest->size()) {
        shortest->assign(text);
    }
}

int FileListModel::append(RowKind kind, std::string_view caption,
                          std::span<const std::string> subItems, const RowFacts& facts,
                          const QIcon* icon)
{
    Record record;
    record.kind = kind;
    record.size = std::max<std::int64_t>(0, facts.size);
    record.modified = facts.modified;
    record.flags = facts.hasModified ? kHasModified : 0;
    record.attributes = static_cast<std::uint8_t>(facts.attributes & 0xFF);
    record.found = m_added++;
    record.captionBytes = static_cast<std::uint32_t>(caption.size());
    const std::size_t kept = std::min<std::size_t>(subItems.size(), 255);
    record.subItems = static_cast<std::uint8_t>(kept);
    std::size_t textBytes = 0;
    for (std::size_t i = 0; i < kept; ++i) {
        textBytes += lengthBytes(subItems[i].size()) + subItems[i].size();
    }
    record.textBytes = static_cast<std::uint32_t>(textBytes);
    char* out = reserveBytes(caption.size() + textBytes, record);
    if (!caption.empty()) {
        std::memcpy(out, caption.data(), caption.size());
    }
    out += caption.size();
    for (std::size_t i = 0; i < kept; ++i) {
        out = putLength(out, subItems[i].size());
        if (!subItems[i].empty()) {
            std::memcpy(out, subItems[i].data(), subItems[i].size());
        }
        out += subItems[i].size();
    }
    if (icon != nullptr) {
        record.icon = iconIndex(*icon);
    }
    m_records.push_back(record);
    m_headers += kind == RowKind::Header ? 1 : 0;
    if (kind == RowKind::File) {
        // A new file is unmarked: a group whose files were all marked is no
        // longer. Only a run of marked files can lead up to such a header.
        int above = size() - 2;
        while (above >= 0 && this->kind(above) == RowKind::File && isMarked(above)) {
            --above;
        }
        if (above >= 0 && this->kind(above) == RowKind::Header && allMarked(above)) {
            m_records[static_cast<std::size_t>(above)].flags &= ~kAllMarked;
            rowChanged(above);
        }
    }
    noteLongText(0, caption);
    for (std::size_t i = 0; i < kept && i + 1 < kColumnCount; ++i) {
        noteLongText(static_cast<int>(i + 1), subItems[i]);
    }
    if (!m_hold) {
        showPending();
    }
    return size() - 1;
}

void FileListModel::remove(int row)
{
    if (row < 0 || row >= size()) {
        return;
    }
    const bool wasMarked = isMarked(row);
    const std::int64_t bytes = wasMarked ? sizeOf(row) : 0;
    const bool shown = row < m_shown;
    m_headers -= kind(row) == RowKind::Header ? 1 : 0;
    if (shown) {
        beginRemoveRows(QModelIndex(), row, row);
    }
    // The bytes stay in their block until the list is cleared; a row's
    // record is all that moves.
    m_records.erase(m_records.begin() + row);
    ++m_generation;
    if (wasMarked) {
        --m_markedCount;
        m_markedBytes -= bytes;
    }
    if (shown) {
        --m_shown;
        endRemoveRows();
    }
    // The group the row was in may now have only marked files left.
    for (const int next : {row - 1, row}) {
        const int header = next >= 0 && next < size() ? headerAbove(next) : -1;
        if (header >= 0 && recountGroup(header)) {
            rowChanged(header);
        }
    }
    if (wasMarked) {
        emit marksChanged();
    }
}

void FileListModel::removeMany(const std::vector<int>& rows)
{
    if (rows.empty()) {
        return;
    }
    beginResetModel();
    bool marksMoved = false;
    std::size_t next = 0;
    std::size_t kept = 0;
    int shownGone = 0;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (next < rows.size() && static_cast<std::size_t>(rows[next]) == i) {
            ++next;
            const int row = static_cast<int>(i);
            if (isMarked(row)) {
                --m_markedCount;
                m_markedBytes -= sizeOf(row);
                marksMoved = true;
            }
            shownGone += row < m_shown ? 1 : 0;
            m_headers -= kind(row) == RowKind::Header ? 1 : 0;
            continue;
        }
        m_records[kept++] = m_records[i];
    }
    m_records.resize(kept);
    m_shown -= shownGone;
    ++m_generation;
    recountAllGroups();
    endResetModel();
    if (marksMoved) {
        emit marksChanged();
    }
}

void FileListModel::clear()
{
    beginResetModel();
    std::vector<Record>().swap(m_records);
    m_chunks.clear();
    m_chunkSizes.clear();
    m_current = 0;
    m_used = 0;
    for (std::vector<std::string>& texts : m_longTexts) {
        texts.clear();
    }
    m_shown = 0;
    m_headers = 0;
    m_added = 0;
    ++m_generation;
    const bool hadMarks = m_markedCount > 0;
    m_markedCount = 0;
    m_markedBytes = 0;
    endResetModel();
    if (hadMarks) {
        emit marksChanged();
    }
}

void FileListModel::sortRows(const std::function<bool(int first, int second)>& less)
{
    showPending();
    std::vector<int> order(m_records.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), less);
    reorderRows(order);
}

void FileListModel::reorderRows(const std::vector<int>& order)
{
    showPending();
    if (order.size() != m_records.size()) {
        return;
    }
    emit layoutAboutToBeChanged();
    std::vector<int> newRowOf(order.size());
    std::vector<Record> sorted;
    sorted.reserve(m_records.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted.push_back(m_records[static_cast<std::size_t>(order[i])]);
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    }
    m_records.swap(sorted);
    ++m_generation;
    recountAllGroups();
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        after.append(this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

std::string_view FileListModel::caption(int row) const
{
    const Record& record = m_records[static_cast<std::size_t>(row)];
    return std::string_view(bytesOf(record), record.captionBytes);
}

std::string_view FileListModel::subItem(int row, int index) const
{
    const Record& record = m_records[static_cast<std::size_t>(row)];
    if (index < 0 || index >= record.subItems) {
        return std::string_view();
    }
    const char* at = bytesOf(record) + record.captionBytes;
    std::size_t length = 0;
    for (int i = 0;; ++i) {
        at = getLength(at, length);
        if (i == index) {
            return std::string_view(at, length);
        }
        at += length;
    }
}

RowFacts FileListModel::factsAt(int row) const
{
    const Record& record = recordOf(row);
    RowFacts facts;
    facts.size = record.size;
    facts.modified = record.modified;
    facts.hasModified = (record.flags & kHasModified) != 0;
    facts.attributes = record.attributes;
    facts.fileVersion.assign(subItem(row, 4));
    facts.productVersion.assign(subItem(row, 5));
    return facts;
}

void FileListModel::rowChanged(int row)
{
    if (row >= 0 && row < m_shown) {
        const QModelIndex cell = index(row, 0);
        emit dataChanged(cell, cell);
    }
}

int FileListModel::headerAbove(int row) const
{
    while (row >= 0 && kind(row) == RowKind::File) {
        --row;
    }
    return row >= 0 && kind(row) == RowKind::Header ? row : -1;
}

bool FileListModel::recountGroup(int header)
{
    int files = 0;
    bool all = true;
    for (int row = header + 1; row < size() && kind(row) == RowKind::File; ++row) {
        ++files;
        if (!isMarked(row)) {
            all = false;
            break;
        }
    }
    Record& record = m_records[static_cast<std::size_t>(header)];
    const std::uint8_t before = record.flags;
    record.flags = files > 0 && all ? record.flags | kAllMarked : record.flags & ~kAllMarked;
    return record.flags != before;
}

void FileListModel::recountAllGroups()
{
    int header = -1;
    bool all = false;
    const auto close = [&] {
        if (header >= 0) {
            Record& record = m_records[static_cast<std::size_t>(header)];
            record.flags = all ? record.flags | kAllMarked : record.flags & ~kAllMarked;
        }
        header = -1;
    };
    for (int row = 0; row < size(); ++row) {
        switch (kind(row)) {
        case RowKind::Header:
            close();
            header = row;
            all = false;
            if (row + 1 < size() && kind(row + 1) == RowKind::File) {
                all = true;
            }
            break;
        case RowKind::File:
            all = all && isMarked(row);
            break;
        case RowKind::Separator:
            close();
            break;
        }
    }
    close();
}

int FileListModel::firstAllMarkedHeader() const
{
    for (int row = 0; row < m_shown; ++row) {
        const Record& record = m_records[static_cast<std::size_t>(row)];
        if (record.kind == RowKind::Header && (record.flags & kAllMarked) != 0) {
            return row;
        }
    }
    return -1;
}

void FileListModel::setMarked(int row, bool marked)
{
    if (row < 0 || row >= size() || kind(row) != RowKind::File || isMarked(row) == marked) {
        return;
    }
    Record& record = m_records[static_cast<std::size_t>(row)];
    record.flags = marked ? record.flags | kMarked : record.flags & ~kMarked;
    const std::int64_t sign = marked ? 1 : -1;
    m_markedCount += sign;
    m_markedBytes += sign * sizeOf(row);
    if (m_markingDepth > 0) {
        m_marksMoved = true;
        return;
    }
    rowChanged(row);
    const int header = headerAbove(row);
    if (header >= 0 && recountGroup(header)) {
        rowChanged(header);
    }
    emit marksChanged();
}

void FileListModel::beginMarking()
{
    ++m_markingDepth;
}

void FileListModel::endMarking()
{
    if (m_markingDepth == 0 || --m_markingDepth > 0 || !m_marksMoved) {
        return;
    }
    m_marksMoved = false;
    recountAllGroups();
    if (m_shown > 0) {
        emit dataChanged(index(0, 0), index(m_shown - 1, 0));
    }
    emit marksChanged();
}

void FileListModel::setShowIcons(bool show)
{
    m_showIcons = show;
    if (m_shown > 0) {
        emit dataChanged(index(0, 0), index(m_shown - 1, 0), {Qt::DecorationRole});
    }
}

const std::vector<std::string>& FileListModel::longTexts(int column) const
{
    return m_longTexts[column];
}

std::size_t FileListModel::bytesHeld() const
{
    std::size_t bytes = m_records.capacity() * sizeof(Record);
    for (std::size_t size : m_chunkSizes) {
        bytes += size;
    }
    return bytes + m_icons.size() * sizeof(QIcon);
}

}  // namespace views
