// The result list view: file, header and separator rows, sorting, selection and pruning.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/FileList.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include <QContextMenuEvent>
#include <QDateTime>
#include <QEvent>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QStyledItemDelegate>

#include "platform/FolderListing.h"
#include "platform/HelperThread.h"
#include "text/Text.h"
#include "search/FileRow.h"

namespace views {

namespace {

// Cells without their own focus frame: the list draws one around the whole
// current row, as a list in report view does.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
    }

    // The list's Space marks every selected row; the delegate would mark the
    // current one alone, and keep Ctrl+Space from selecting.
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        if (event->type() == QEvent::KeyPress) {
            return false;
        }
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }
};

// Seconds since 1970 of a Modified text in the process-wide formats, read
// as local time; false when it does not parse.
bool parseModified(std::string_view text, const text::Locale& locale, std::int64_t& seconds)
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::size_t p = 0;
    auto number = [&](int& out, std::size_t maxDigits) {
        std::size_t digits = 0;
        out = 0;
        while (p < text.size() && digits < maxDigits && text[p] >= '0' && text[p] <= '9') {
            out = out * 10 + (text[p] - '0');
            ++p;
            ++digits;
        }
        return digits > 0;
    };
    auto literal = [&](const std::string& s) {
        if (text.compare(p, s.size(), s) != 0) {
            return false;
        }
        p += s.size();
        return true;
    };
    if (!number(year, 4) || !literal(locale.dateSeparator) || !number(month, 2) ||
        !literal(locale.dateSeparator) || !number(day, 2)) {
        return false;
    }
    if (p < text.size()) {
        if (!literal(" ") || !number(hour, 2) || !literal(locale.timeSeparator) ||
            !number(minute, 2)) {
            return false;
        }
        if (p < text.size() && (!literal(locale.timeSeparator) || !number(second, 2))) {
            return false;
        }
        if (p != text.size()) {
            return false;
        }
    }
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    seconds = QDateTime(date, QTime(hour, minute, second)).toSecsSinceEpoch();
    return true;
}

// The values a saved file row's texts stand for: Size, Modified and Attr.
RowFacts factsFromTexts(std::span<const std::string> subItems, const text::Locale& locale)
{
    RowFacts facts;
    if (!subItems.empty() && (!text::parseInt64(subItems[0], facts.size) || facts.size < 0)) {
        facts.size = 0;
    }
    if (subItems.size() > 2) {
        facts.hasModified = parseModified(subItems[2], locale, facts.modified);
    }
    if (subItems.size() > 3) {
        const std::string& text = subItems[3];
        const std::uint32_t bits[] = {platform::kAttrReadOnly, platform::kAttrHidden,
                                      platform::kAttrSystem, platform::kAttrArchive};
        for (std::size_t i = 0; i < 4 && i < text.size(); ++i) {
            if (text[i] != ' ') {
                facts.attributes |= bits[i];
            }
        }
    }
    return facts;
}

}  // namespace

// Type names by file name alone. Most names take their type from what
// follows the first dot, so lookups are kept by that; names whose stem
// some pattern names in full (CMakeLists.txt, README.Debian) are looked up
// whole.
class TypeNames {
public:
    TypeNames()
    {
        for (const QMimeType& type : m_database.allMimeTypes()) {
            for (const QString& glob : type.globPatterns()) {
                if (glob.startsWith('*')) {
                    continue;
                }
                QString stem;
                int i = 0;
                while (i < glob.size()) {
                    const QChar c = glob[i];
                    if (c == '[') {
                        const int close = glob.indexOf(']', i);
                        if (close < 0) {
                            break;
                        }
                        if (close > i + 1) {
                            stem += glob[i + 1];
                        }
                        i = close + 1;
                        continue;
                    }
                    if (c == '*' || c == '?' || c == '.') {
                        break;
                    }
                    stem += c;
                    ++i;
                }
                if (!stem.isEmpty()) {
                    m_stems.insert(stem.toLower());
                }
            }
        }
    }

    std::string nameOf(const std::string& path)
    {
        const QString name = QString::fromStdString(text::displayUtf8(platform::nameOf(path)));
        const int dot = name.indexOf('.', 1);
        QString key = name;
        if (dot > 0) {
            const QString stem = name.left(dot).toLower();
            bool special = false;
            for (const QString& s : m_stems) {
                if (stem.startsWith(s)) {
                    special = true;
                    break;
                }
            }
            if (!special) {
                // The exact suffix: the type database tells "a.C" (C++) from
                // "b.c" (C), so the cache must not fold their case together.
                key = name.mid(dot);
            }
        }
        auto it = m_cache.find(key);
        if (it == m_cache.end()) {
            const QMimeType type = m_database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
            // The default type means the name says nothing.
            it = m_cache.insert(key,
                                type.isDefault() ? std::string() : type.comment().toStdString());
        }
        return *it;
    }

private:
    QMimeDatabase m_database;
    QSet<QString> m_stems;
    QHash<QString, std::string> m_cache;
};

TFileListView::TFileListView(QWidget* owner)
    : QTableView(owner), m_model(new FileListModel(this)), m_types(std::make_unique<TypeNames>())
{
    setModel(m_model);
    m_headerSelection = new QItemSelectionModel(m_model, this);
    horizontalHeader()->setSelectionModel(m_headerSelection);
    verticalHeader()->setSelectionModel(m_headerSelection);
    setItemDelegate(new RowDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSortingEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setRowHeight();
    // The selection stays visible when the list does not have the focus.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);

    QHeaderView* columns = horizontalHeader();
    columns->setHighlightSections(false);
    columns->setSectionsClickable(true);
    columns->setStretchLastSection(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(m_model, &FileListModel::marksChanged, this, &TFileListView::fitAllMarkedNote);
    connect(m_model, &FileListModel::marksChanged, this, &TFileListView::marksChanged);
    OnColumnClick = [this](int column) { SortByColumn(column); };
    connect(columns, &QHeaderView::sectionClicked, this, [this](int column) {
        if (OnColumnClick) {
            OnColumnClick(column);
        }
    });
    processLocale();
    fitColumns();
}

TFileListView::~TFileListView()
{
    // The helper's answer, posted to this view, goes with it.
    if (m_sortThread.joinable()) {
        m_sortThread.join();
    }
}

text::Locale TFileListView::localeFrom(const QLocale& locale)
{
    text::Locale value;
    // The first mark between two fields of the format; a format that spells
    // the month out ("d MMM yyyy") has only blanks, which read badly between
    // digits, so it keeps the fallback.
    auto separatorIn = [](const QString& format, const QString& fallback) {
        for (const QChar c : format) {
            if (!c.isLetter() && c != '\'' && !c.isSpace()) {
                return QString(c);
            }
        }
        return fallback;
    };
    value.dateSeparator = separatorIn(locale.dateFormat(QLocale::ShortFormat), "/").toStdString();
    value.timeSeparator = separatorIn(locale.timeFormat(QLocale::ShortFormat), ":").toStdString();
    value.thousandSeparator = locale.groupSeparator().toStdString();
    value.decimalSeparator = locale.decimalPoint().toStdString();
    for (int month = 1; month <= 12; ++month) {
        const QString name = locale.monthName(month, QLocale::ShortFormat);
        if (!name.isEmpty()) {
            value.shortMonths[static_cast<std::size_t>(month - 1)] = name.toStdString();
        }
    }
    return value;
}

const text::Locale& TFileListView::processLocale()
{
    static const text::Locale locale = localeFrom(QLocale::system());
    return locale;
}

void TFileListView::setShowIcons(bool show)
{
    if (show == ShowIcons()) {
        return;
    }
    if (show) {
        m_icons = std::make_unique<QFileIconProvider>();
        setIconSize(QSize(16, 16));
    } else {
        m_icons.reset();
    }
    m_model->setShowIcons(show);
    setRowHeight();
    viewport()->update();
}

void TFileListView::setRowHeight()
{
    // The height a row of text (and, with icons, a small icon) takes in this
    // style and font: every row has it, so nothing is measured per row.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.text = QStringLiteral("Xy");
    option.features |= QStyleOptionViewItem::HasDisplay;
    if (ShowIcons()) {
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.decorationSize = iconSize().isValid() ? iconSize() : QSize(16, 16);
    }
    const int height =
        style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height();
    verticalHeader()->setMinimumSectionSize(
        std::min(height, verticalHeader()->minimumSectionSize()));
    verticalHeader()->setDefaultSectionSize(height);
}

void TFileListView::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        setRowHeight();
    }
}

QRect TFileListView::rowRect(int row) const
{
    return visualRect(m_model->index(row, 0))
        .united(visualRect(m_model->index(row, FileListModel::kColumnCount - 1)));
}

void TFileListView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    // The focus frame goes around the whole current row.
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !(hasFocus() || viewport()->hasFocus())) {
        return;
    }
    const QRect rect = rowRect(current.row());
    if (!rect.intersects(event->rect())) {
        return;
    }
    QPainter painter(viewport());
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.rect = rect;
    frame.state |= QStyle::State_KeyboardFocusChange;
    frame.backgroundColor = palette().color(
        selectionModel()->isRowSelected(current.row(), QModelIndex()) ? QPalette::Highlight
                                                                      : QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

void TFileListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    // The view repaints the two cells; the frame spans their rows.
    for (const QModelIndex& index : {current, previous}) {
        if (index.isValid()) {
            viewport()->update(rowRect(index.row()));
        }
    }
}

void TFileListView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    if (currentIndex().isValid()) {
        viewport()->update(rowRect(currentIndex().row()));
    }
}

void TFileListView::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    if (currentIndex().isValid()) {
        viewport()->update(rowRect(currentIndex().row()));
    }
}

QModelIndex TFileListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Keys move between rows, as in a list: Home and End go to the first and
    // last row, Left and Right scroll the columns.
    const int rows = m_model->shownCount();
    const int column = std::max(0, currentIndex().column());
    switch (action) {
    case MoveHome:
        return rows > 0 ? m_model->index(0, column) : QModelIndex();
    case MoveEnd:
        return rows > 0 ? m_model->index(rows - 1, column) : QModelIndex();
    case MoveLeft:
    case MoveRight:
        horizontalScrollBar()->triggerAction(action == MoveLeft
                                                 ? QAbstractSlider::SliderSingleStepSub
                                                 : QAbstractSlider::SliderSingleStepAdd);
        return currentIndex();
    default:
        return QTableView::moveCursor(action, modifiers);
    }
}

void TFileListView::keepTopRowWhole()
{
    // Scrolled to the end, a table puts its last row flush with the bottom
    // and cuts the top one; a list keeps its top row whole, as everywhere
    // above the end.
    const QScrollBar* bar = verticalScrollBar();
    if (verticalScrollMode() != ScrollPerItem || bar->maximum() == 0 ||
        bar->value() != bar->maximum()) {
        return;
    }
    const int before = verticalHeader()->offset();
    verticalHeader()->setOffsetToSectionPosition(bar->value());
    if (verticalHeader()->offset() != before) {
        viewport()->update();
    }
}

void TFileListView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (dy != 0) {
        keepTopRowWhole();
    }
}

void TFileListView::updateGeometries()
{
    QTableView::updateGeometries();
    keepTopRowWhole();
}

int TFileListView::append(RowKind kind, const std::string& caption,
                          std::span<const std::string> subItems, const RowFacts& facts,
                          const QIcon* icon)
{
    return m_model->append(kind, caption, subItems, facts, icon);
}

void TFileListView::showPendingRows()
{
    m_model->showPending();
}

bool TFileListView::AddFile(const std::string& path, std::int64_t& size)
{
    search::FileRowFacts facts;
    if (!search::gatherFileRow(path, nullptr, processLocale(), facts)) {
        return false;
    }
    addGatheredFile(path, facts);
    size = facts.size;
    return true;
}

int TFileListView::addGatheredFile(const std::string& path, search::FileRowFacts& facts)
{
    facts.subItems[1] =
        search::typeText(path, [this](const std::string& p) { return m_types->nameOf(p); });
    RowFacts values;
    values.size = facts.size;
    values.modified = facts.modified;
    values.hasModified = true;
    values.attributes = facts.attributes;
    if (m_icons) {
        const QIcon icon = m_icons->icon(QFileInfo(QString::fromStdString(path)));
        return append(RowKind::File, path, facts.subItems, values, &icon);
    }
    return append(RowKind::File, path, facts.subItems, values);
}

int TFileListView::addHeaderRow(const std::string& caption)
{
    closeOpenGroup();
    const int row = append(RowKind::Header, caption, {});
    if (updating()) {
        m_openHeader = row;
    }
    return row;
}

int TFileListView::addSeparatorRow()
{
    const int before = rowCount();
    closeOpenGroup();
    if (rowCount() != before && (rowCount() == 0 || kindOf(rowCount() - 1) == RowKind::Separator)) {
        return -1;
    }
    return append(RowKind::Separator, "", {});
}

int TFileListView::addRow(const std::string& caption, const std::vector<std::string>& subItems)
{
    return addRow(RowKind::File, caption, subItems);
}

int TFileListView::addRow(RowKind kind, const std::string& caption,
                          const std::vector<std::string>& subItems)
{
    if (kind == RowKind::Header) {
        closeOpenGroup();
    }
    return append(kind, caption, subItems,
                  kind == RowKind::File ? factsFromTexts(subItems, processLocale()) : RowFacts());
}

int TFileListView::groupCount() const
{
    return m_model->headerCount();
}

void TFileListView::closeOpenGroup()
{
    const int header = m_openHeader;
    m_openHeader = -1;
    if (header >= 0 && OnGroupClosed) {
        OnGroupClosed(header);
    }
}

std::string TFileListView::captionOf(int row) const
{
    if (row < 0 || row >= rowCount()) {
        return "";
    }
    return std::string(m_model->caption(row));
}

std::vector<std::string> TFileListView::subItemsOf(int row) const
{
    std::vector<std::string> items;
    if (row < 0 || row >= rowCount()) {
        return items;
    }
    for (int i = 0; i < m_model->subItemCount(row); ++i) {
        items.emplace_back(m_model->subItem(row, i));
    }
    return items;
}

QString TFileListView::text(int row, int column) const
{
    if (row < 0 || row >= rowCount()) {
        return QString();
    }
    if (column == 0) {
        return QString::fromStdString(text::displayName(m_model->caption(row)));
    }
    const std::string_view item = m_model->subItem(row, column - 1);
    return QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size()));
}

void TFileListView::deleteRow(int row)
{
    if (row < 0 || row >= rowCount()) {
        return;
    }
    if (row == m_openHeader) {
        m_openHeader = -1;
    } else if (row < m_openHeader) {
        --m_openHeader;
    }
    m_model->remove(row);
    if (!m_filter.empty()) {
        emit filterChanged();
    }
    emit rowsDeleted();
}

void TFileListView::deleteRows(const std::vector<int>& rows)
{
    // A few rows go one by one, as a deletion by hand does.
    constexpr std::size_t kOneByOne = 16;
    if (rows.size() <= kOneByOne) {
        for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
            deleteRow(*row);
        }
        return;
    }
    // Where a row that stays ends up: it moves up by the rows going above it.
    const auto newRow = [&rows](int row) {
        const auto gone = std::lower_bound(rows.begin(), rows.end(), row);
        if (gone != rows.end() && *gone == row) {
            return -1;
        }
        return row - static_cast<int>(gone - rows.begin());
    };
    std::vector<int> selected;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (const int moved = newRow(row); moved >= 0) {
                selected.push_back(moved);
            }
        }
    }
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    const int currentColumn = std::max(0, currentIndex().column());
    int top = rowAt(0);
    while (top >= 0 && newRow(top) < 0 && top + 1 < m_model->shownCount()) {
        ++top;
    }
    const int horizontal = horizontalScrollBar()->value();
    std::vector<int> widths;
    for (int column = 0; column < FileListModel::kColumnCount; ++column) {
        widths.push_back(columnWidth(column));
    }
    m_openHeader = m_openHeader >= 0 ? newRow(m_openHeader) : -1;

    m_model->removeMany(rows);
    if (!m_filter.empty()) {
        // The reset showed every row again.
        applyFilter();
        emit filterChanged();
    }

    for (int column = 0; column < FileListModel::kColumnCount; ++column) {
        setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
    }
    QItemSelection selection;
    for (std::size_t i = 0; i < selected.size();) {
        std::size_t end = i + 1;
        while (end < selected.size() && selected[end] == selected[end - 1] + 1) {
            ++end;
        }
        selection.select(m_model->index(selected[i], 0),
                         m_model->index(selected[end - 1], FileListModel::kColumnCount - 1));
        i = end;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    // The current row, or the row that took its place when it went.
    if (current >= 0 && m_model->shownCount() > 0) {
        const int above =
            static_cast<int>(std::lower_bound(rows.begin(), rows.end(), current) - rows.begin());
        const int moved = std::min(current - above, m_model->shownCount() - 1);
        selectionModel()->setCurrentIndex(m_model->index(moved, currentColumn),
                                          QItemSelectionModel::NoUpdate);
    }
    if (top >= 0 && newRow(top) >= 0) {
        scrollTo(m_model->index(newRow(top), 0), QAbstractItemView::PositionAtTop);
    }
    horizontalScrollBar()->setValue(horizontal);
    emit rowsDeleted();
}

std::vector<int> TFileListView::selectedFileRows() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (kindOf(row) == RowKind::File) {
                rows.push_back(row);
            }
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TFileListView::toggleSelectedMarks()
{
    const std::vector<int> rows = selectedFileRows();
    const bool mark =
        std::any_of(rows.begin(), rows.end(), [this](int row) { return !isMarked(row); });
    beginMarking();
    for (const int row : rows) {
        setMarked(row, mark);
    }
    endMarking();
}

void TFileListView::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers held = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Space && held == Qt::NoModifier) {
        toggleSelectedMarks();
        event->accept();
        return;
    }
    // Shift+F10 opens the context menu, for keyboards without a Menu key.
    if (event->key() == Qt::Key_F10 && held == Qt::ShiftModifier) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TFileListView::contextMenuEvent(QContextMenuEvent* event)
{
    QPoint at = event->globalPos();
    int row = -1;
    if (event->reason() == QContextMenuEvent::Mouse) {
        row = rowAt(viewport()->mapFromGlobal(at).y());
    } else {
        // From the keyboard: at the current row, or the top of the list.
        const QModelIndex current = currentIndex();
        row = current.isValid() ? current.row() : -1;
        QRect rect = row >= 0 ? rowRect(row) : QRect();
        if (!rect.isValid() || !viewport()->rect().intersects(rect)) {
            rect = QRect(0, 0, viewport()->width(), 0);
        }
        at = viewport()->mapToGlobal(
            QPoint(std::min(rect.left() + 20, viewport()->width() / 2), rect.bottom()));
    }
    emit menuRequested(at, row);
    event->accept();
}

void TFileListView::clearRows()
{
    m_openHeader = -1;
    if (m_sortRunning) {
        m_sortDropped = true;
        m_sortQueued.reset();
    }
    m_model->clear();
    if (!m_filter.empty()) {
        m_filter = GroupFilter();
        emit filterChanged();
    }
    if (m_groupOrder != GroupOrder::Found) {
        m_groupOrder = GroupOrder::Found;
        emit groupOrderChanged();
    }
}

void TFileListView::sortGroups(GroupOrder order)
{
    if (m_sortRunning) {
        m_sortQueued = order;
        return;
    }
    closeOpenGroup();
    showPendingRows();
    GroupSort::Snapshot snapshot = GroupSort::snapshot(*m_model, order);
    if (m_model->size() < kSortAsideRows) {
        applyGroupOrder(GroupSort::rowOrder(std::move(snapshot), order), order);
        return;
    }
    startSortAside(std::move(snapshot), order);
}

void TFileListView::startSortAside(GroupSort::Snapshot snapshot, GroupOrder order)
{
    m_sortRunning = true;
    viewport()->setCursor(Qt::BusyCursor);
    if (m_sortThread.joinable()) {
        m_sortThread.join();
    }
    const std::uint64_t generation = m_model->generation();
    // The helper touches only the snapshot; its answer comes back through
    // the event loop, to be put in place on this thread.
    m_sortThread = platform::startHelperThread([this, snapshot = std::move(snapshot), order, generation]() mutable {
        auto rows = std::make_shared<const std::vector<int>>(
            GroupSort::rowOrder(std::move(snapshot), order));
        QMetaObject::invokeMethod(
            this, [this, rows, order, generation] { sortAsideDone(*rows, order, generation); },
            Qt::QueuedConnection);
    });
}

void TFileListView::sortAsideDone(const std::vector<int>& rows, GroupOrder order,
                                  std::uint64_t generation)
{
    m_sortThread.join();
    m_sortRunning = false;
    viewport()->unsetCursor();
    const bool dropped = std::exchange(m_sortDropped, false);
    if (m_sortQueued) {
        sortGroups(*std::exchange(m_sortQueued, std::nullopt));
    } else if (dropped) {
        return;  // the rows it ordered were cleared
    } else if (generation != m_model->generation() || rows.size() != static_cast<std::size_t>(m_model->size())) {
        sortGroups(order);  // rows went or came meanwhile: the order is worked out anew
    } else {
        applyGroupOrder(rows, order);
    }
}

void TFileListView::applyGroupOrder(const std::vector<int>& rows, GroupOrder order)
{
    m_model->reorderRows(rows);
    m_groupOrder = order;
    applyFilter();
    emit groupOrderChanged();
}

void TFileListView::setFilter(const GroupFilter& filter)
{
    showPendingRows();
    clearSelection();
    m_filter = filter;
    applyFilter();
    emit filterChanged();
}

void TFileListView::applyFilter()
{
    const std::vector<bool> shown = m_filter.shownRows(*m_model);
    for (int row = 0; row < m_model->shownCount(); ++row) {
        const bool hide = !shown[static_cast<std::size_t>(row)];
        if (isRowHidden(row) != hide) {
            setRowHidden(row, hide);
        }
    }
}

ShownCounts TFileListView::shownCounts() const
{
    ShownCounts counts;
    for (int row = 0; row < rowCount(); ++row) {
        const RowKind kind = kindOf(row);
        if (kind == RowKind::Separator) {
            continue;
        }
        const bool shown = row >= m_model->shownCount() || isRowShown(row);
        int& all = kind == RowKind::Header ? counts.allGroups : counts.allFiles;
        int& inSight = kind == RowKind::Header ? counts.groups : counts.files;
        ++all;
        inSight += shown ? 1 : 0;
    }
    return counts;
}

bool TFileListView::isRowSelected(int row) const
{
    return row >= 0 && row < m_model->shownCount() &&
           selectionModel()->isRowSelected(row, QModelIndex());
}

void TFileListView::setRowSelected(int row, bool selected)
{
    showPendingRows();
    if (row < 0 || row >= rowCount()) {
        return;
    }
    selectionModel()->select(m_model->index(row, 0), (selected ? QItemSelectionModel::Select
                                                               : QItemSelectionModel::Deselect) |
                                                         QItemSelectionModel::Rows);
}

int TFileListView::firstSelected() const
{
    int first = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (range.isValid() && (first < 0 || range.top() < first)) {
            first = range.top();
        }
    }
    return first;
}

TFileListView::Group TFileListView::groupAround(int row) const
{
    Group group;
    if (row < 0 || row >= rowCount()) {
        return group;
    }
    int header = row;
    while (header >= 0 && kindOf(header) != RowKind::Header) {
        --header;
    }
    if (header < 0) {
        return group;
    }
    group.header = header;
    group.first = header + 1;
    group.end = group.first;
    while (group.end < rowCount() && kindOf(group.end) == RowKind::File) {
        ++group.end;
    }
    return group;
}

void TFileListView::beginUpdate()
{
    if (m_updateDepth++ == 0) {
        setUpdatesEnabled(false);
        m_model->setHold(true);
    }
}

void TFileListView::endUpdate()
{
    if (m_updateDepth > 0 && --m_updateDepth == 0) {
        m_model->setHold(false);
        setUpdatesEnabled(true);
        closeOpenGroup();
    }
}

void TFileListView::setRedraw(bool on)
{
    setUpdatesEnabled(on);
    if (on) {
        viewport()->update();
    }
}

int TFileListView::widthOfText(const QString& text, bool checkBox) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.text = text;
    option.features |= QStyleOptionViewItem::HasDisplay;
    if (checkBox) {
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
    }
    return style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width();
}

void TFileListView::fitAllMarkedNote()
{
    // The Name column fits the longest path; with short paths it would cut
    // off the words that tell the group is marked whole.
    const int header = m_model->firstAllMarkedHeader();
    if (header < 0) {
        return;
    }
    const int width = widthOfText(m_model->index(header, 0).data().toString());
    if (columnWidth(0) < width) {
        setColumnWidth(0, width);
    }
}

void TFileListView::fitColumns()
{
    showPendingRows();
    for (int column = 0; column < FileListModel::kColumnCount; ++column) {
        // Qt measures the rows in sight and a thousand more; the longest
        // texts of the column stand for the rest of a long list.
        int width =
            std::max(sizeHintForColumn(column), horizontalHeader()->sectionSizeHint(column));
        for (const std::string& text : m_model->longTexts(column)) {
            // A file's path stands beside its mark's check box.
            width = std::max(
                width, widthOfText(column == 0 ? QString::fromStdString(text::displayName(text))
                                               : QString::fromStdString(text),
                                   column == 0));
        }
        setColumnWidth(column, width);
    }
}

void TFileListView::fixColumns()
{
    fitColumns();
}

void TFileListView::setAllColumnWidths(int width)
{
    for (int column = 0; column < FileListModel::kColumnCount; ++column) {
        setColumnWidth(column, width);
    }
}

int TFileListView::CompareRows(int first, int second) const
{
    const FileListModel& rows = *m_model;
    int raw = 0;
    switch (SortColumn) {
    case 0:
        raw = text::compareFold(rows.caption(first), rows.caption(second));
        break;
    case 1: {
        const std::int64_t a = rows.sizeOf(first);
        const std::int64_t b = rows.sizeOf(second);
        raw = a < b ? -1 : (a > b ? 1 : 0);
        break;
    }
    case 3: {
        // A row without a time counts as now.
        const std::int64_t now = QDateTime::currentSecsSinceEpoch();
        const std::int64_t a = rows.modifiedOf(first, now);
        const std::int64_t b = rows.modifiedOf(second, now);
        raw = a < b ? -1 : (a > b ? 1 : 0);
        break;
    }
    default:
        if (SortColumn >= 2 && SortColumn <= 6) {
            if (rows.subItemCount(first) < SortColumn || rows.subItemCount(second) < SortColumn) {
                raw = 0;
            } else {
                raw = text::compareFold(rows.subItem(first, SortColumn - 1),
                                            rows.subItem(second, SortColumn - 1));
            }
        }
        break;
    }
    return SortAscending ? raw : -raw;
}

void TFileListView::SortByColumn(int column)
{
    if (column == SortColumn) {
        SortAscending = !SortAscending;
    } else {
        SortColumn = column;
        SortAscending = true;
    }
    m_openHeader = -1;
    m_model->sortRows([this](int a, int b) { return CompareRows(a, b) < 0; });
}

}  // namespace views
