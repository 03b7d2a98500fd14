#include "views/FileList.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include <QDateTime>
#include <QHash>
#include <QHeaderView>
#include <QLocale>
#include <QMimeDatabase>
#include <QSet>

#include "platform/FolderListing.h"
#include "platform/Text.h"
#include "search/FileRow.h"

namespace views {

namespace {

constexpr int kBytesRole = Qt::UserRole + 1;
constexpr int kSubItemsRole = Qt::UserRole + 2;
constexpr int kIconRole = Qt::UserRole + 3;
const char* const kColumns[] = {"Name", "Size", "Type", "Modified", "Attr", "File Ver", "Prod Ver"};
const bool kRightAligned[] = {false, true, false, false, true, true, true};

// A row shows its icon only while the view shows icons, as a detached image
// list would hide it.
class Row : public QTreeWidgetItem {
public:
    QVariant data(int column, int role) const override
    {
        if (role == Qt::DecorationRole && column == 0) {
            const auto* view = static_cast<const TFileListView*>(treeWidget());
            if (view == nullptr || !view->ShowIcons()) {
                return QVariant();
            }
            return QTreeWidgetItem::data(0, kIconRole);
        }
        return QTreeWidgetItem::data(column, role);
    }
};

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
        const QString name = QString::fromStdString(platform::displayUtf8(platform::nameOf(path)));
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
                key = name.mid(dot).toLower();
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
    : QTreeWidget(owner), m_types(std::make_unique<TypeNames>())
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setItemsExpandable(false);
    setSortingEnabled(false);
    setHeaderHidden(false);
    // The selection stays visible when the list does not have the focus.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);

    setColumnCount(7);
    QTreeWidgetItem* header = headerItem();
    for (int i = 0; i < 7; ++i) {
        header->setText(i, tr(kColumns[i]));
        header->setTextAlignment(i, (kRightAligned[i] ? Qt::AlignRight : Qt::AlignLeft) |
                                        Qt::AlignVCenter);
    }
    this->header()->setSectionsClickable(true);
    this->header()->setStretchLastSection(false);
    OnColumnClick = [this](int column) { SortByColumn(column); };
    connect(this->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (OnColumnClick) {
            OnColumnClick(column);
        }
    });
    processLocale();
    fitColumns();
}

TFileListView::~TFileListView() = default;

platform::Locale TFileListView::localeFrom(const QLocale& locale)
{
    platform::Locale value;
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

const platform::Locale& TFileListView::processLocale()
{
    static const platform::Locale locale = localeFrom(QLocale::system());
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
    viewport()->update();
}

QTreeWidgetItem* TFileListView::makeRow(const std::string& caption,
                                        const std::vector<std::string>& subItems) const
{
    auto* item = new Row;
    item->setText(0, QString::fromStdString(platform::displayName(caption)));
    item->setData(0, kBytesRole,
                  QByteArray(caption.data(), static_cast<qsizetype>(caption.size())));
    item->setData(0, kSubItemsRole, static_cast<int>(subItems.size()));
    for (std::size_t i = 0; i < subItems.size() && i < 6; ++i) {
        const int column = static_cast<int>(i) + 1;
        item->setText(column, QString::fromStdString(subItems[i]));
        if (kRightAligned[column]) {
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    return item;
}

void TFileListView::add(QTreeWidgetItem* row)
{
    if (m_updateDepth > 0) {
        m_pending.append(row);
    } else {
        addTopLevelItem(row);
    }
}

void TFileListView::showPendingRows() const
{
    if (m_pending.isEmpty()) {
        return;
    }
    auto* self = const_cast<TFileListView*>(this);
    QList<QTreeWidgetItem*> rows;
    rows.swap(m_pending);
    self->addTopLevelItems(rows);
}

bool TFileListView::AddFile(const std::string& path, std::int64_t& size)
{
    search::FileRowFacts facts;
    const auto types = [this](const std::string& p) { return m_types->nameOf(p); };
    if (!search::gatherFileRow(path, types, processLocale(), facts)) {
        return false;
    }
    QTreeWidgetItem* row =
        makeRow(path, std::vector<std::string>(facts.subItems.begin(), facts.subItems.end()));
    if (m_icons) {
        row->setData(0, kIconRole, m_icons->icon(QFileInfo(QString::fromStdString(path))));
    }
    add(row);
    size = facts.size;
    return true;
}

QTreeWidgetItem* TFileListView::addCaptionRow(const std::string& caption)
{
    QTreeWidgetItem* row = makeRow(caption, {});
    add(row);
    return row;
}

QTreeWidgetItem* TFileListView::addRow(const std::string& caption,
                                       const std::vector<std::string>& subItems)
{
    QTreeWidgetItem* row = makeRow(caption, subItems);
    add(row);
    return row;
}

int TFileListView::rowCount() const
{
    return topLevelItemCount() + static_cast<int>(m_pending.size());
}

QTreeWidgetItem* TFileListView::row(int index) const
{
    showPendingRows();
    return topLevelItem(index);
}

int TFileListView::indexOfRow(const QTreeWidgetItem* row) const
{
    showPendingRows();
    return indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(row));
}

std::string TFileListView::captionOf(const QTreeWidgetItem* row)
{
    if (row == nullptr) {
        return "";
    }
    const QByteArray bytes = row->data(0, kBytesRole).toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int TFileListView::subItemCount(const QTreeWidgetItem* row)
{
    return row == nullptr ? 0 : row->data(0, kSubItemsRole).toInt();
}

std::vector<std::string> TFileListView::subItemsOf(const QTreeWidgetItem* row)
{
    std::vector<std::string> items;
    for (int i = 0; i < subItemCount(row); ++i) {
        items.push_back(row->text(i + 1).toStdString());
    }
    return items;
}

void TFileListView::deleteRow(QTreeWidgetItem* row)
{
    showPendingRows();
    const int index = indexOfTopLevelItem(row);
    if (index >= 0) {
        delete takeTopLevelItem(index);
    }
}

QTreeWidgetItem* TFileListView::rowAbove(const QTreeWidgetItem* row) const
{
    const int index = indexOfRow(row);
    return index > 0 ? topLevelItem(index - 1) : nullptr;
}

QTreeWidgetItem* TFileListView::rowBelow(const QTreeWidgetItem* row) const
{
    const int index = indexOfRow(row);
    return index >= 0 && index + 1 < topLevelItemCount() ? topLevelItem(index + 1) : nullptr;
}

QTreeWidgetItem* TFileListView::firstSelected() const
{
    showPendingRows();
    QTreeWidgetItem* first = nullptr;
    int firstIndex = -1;
    for (QTreeWidgetItem* item : selectedItems()) {
        const int index = indexOfTopLevelItem(item);
        if (first == nullptr || index < firstIndex) {
            first = item;
            firstIndex = index;
        }
    }
    return first;
}

void TFileListView::clearRows()
{
    qDeleteAll(m_pending);
    m_pending.clear();
    clear();
}

void TFileListView::beginUpdate()
{
    if (m_updateDepth++ == 0) {
        setUpdatesEnabled(false);
    }
}

void TFileListView::endUpdate()
{
    if (m_updateDepth > 0 && --m_updateDepth == 0) {
        showPendingRows();
        setUpdatesEnabled(true);
    }
}

void TFileListView::setRedraw(bool on)
{
    setUpdatesEnabled(on);
    if (on) {
        viewport()->update();
    }
}

void TFileListView::fitColumns()
{
    showPendingRows();
    for (int column = 0; column < columnCount(); ++column) {
        resizeColumnToContents(column);
        const int headerWidth = header()->sectionSizeHint(column);
        if (columnWidth(column) < headerWidth) {
            setColumnWidth(column, headerWidth);
        }
    }
}

void TFileListView::fixColumns()
{
    fitColumns();
}

void TFileListView::setAllColumnWidths(int width)
{
    for (int column = 0; column < columnCount(); ++column) {
        setColumnWidth(column, width);
    }
}

namespace {

// Days since 1899-12-30 with the time of day as a fraction, from a row's
// Modified text in the process-wide formats; false when it does not parse.
bool parseModified(const std::string& text, const platform::Locale& locale, double& days)
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
    days = static_cast<double>(QDate(1899, 12, 30).daysTo(date)) +
           (hour * 3600 + minute * 60 + second) / 86400.0;
    return true;
}

double nowInDays()
{
    const QDateTime now = QDateTime::currentDateTime();
    return static_cast<double>(QDate(1899, 12, 30).daysTo(now.date())) +
           now.time().msecsSinceStartOfDay() / 86400000.0;
}

}  // namespace

int TFileListView::CompareRows(const QTreeWidgetItem* first, const QTreeWidgetItem* second) const
{
    int raw = 0;
    switch (SortColumn) {
    case 0:
        raw = platform::compareFold(captionOf(first), captionOf(second));
        break;
    case 1: {
        auto value = [](const QTreeWidgetItem* row) {
            std::int64_t n = 0;
            if (subItemCount(row) < 1 || !platform::parseInt64(row->text(1).toStdString(), n)) {
                return std::int64_t(0);
            }
            return n;
        };
        const std::int64_t a = value(first);
        const std::int64_t b = value(second);
        raw = a < b ? -1 : (a > b ? 1 : 0);
        break;
    }
    case 3: {
        const platform::Locale& locale = processLocale();
        auto value = [&locale](const QTreeWidgetItem* row) {
            double days = 0;
            if (subItemCount(row) < 3 || !parseModified(row->text(3).toStdString(), locale, days)) {
                return nowInDays();
            }
            return days;
        };
        const double difference = (value(first) - value(second)) * 100000.0;
        raw = static_cast<int>(std::clamp(std::nearbyint(difference), -2147483647.0, 2147483647.0));
        break;
    }
    default:
        if (SortColumn >= 2 && SortColumn <= 6) {
            if (subItemCount(first) < SortColumn || subItemCount(second) < SortColumn) {
                raw = 0;
            } else {
                raw = platform::compareFold(first->text(SortColumn).toStdString(),
                                            second->text(SortColumn).toStdString());
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
    showPendingRows();
    const QList<QTreeWidgetItem*> selected = selectedItems();
    QList<QTreeWidgetItem*> rows = invisibleRootItem()->takeChildren();
    std::stable_sort(rows.begin(), rows.end(),
                     [this](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
                         return CompareRows(a, b) < 0;
                     });
    addTopLevelItems(rows);
    for (QTreeWidgetItem* item : selected) {
        item->setSelected(true);
    }
}

}  // namespace views
