// The result list's rows held compactly, with each caption's exact bytes.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <QAbstractTableModel>
#include <QIcon>

namespace views {

// What a row of the result list is. The kind is given when the row is
// added and never read back from the row's text: a file's name may hold any
// text, "Duplicate files ....." included.
enum class RowKind : std::uint8_t { File, Header, Separator };

// The values of a file row: its Size, Modified and Attr texts are made from
// these, and sorting and counting use these, never the texts. A header or
// separator row has the empty facts.
struct RowFacts {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970; see hasModified
    bool hasModified = false;   // false: the row gives no time
    std::uint32_t attributes = 0;  // platform::kAttr* bits
    std::string fileVersion;
    std::string productVersion;
};

// The rows of the result list, held compactly: a small record per row and
// the exact bytes of its caption and sub-items in large shared blocks, so a
// list of a million rows costs about a hundred bytes a row beyond its paths.
// Adding, showing and removing a row costs the same however long the list
// is (a removal moves the records after it, a few bytes each).
//
// Rows appended while the model holds them wait outside the view until
// showPending(), which shows them in one insertion: the view then does its
// work once per batch, not once per row.
//
// A file row can carry the user's mark, shown as a check box in the Name
// column. The model keeps the count and the listed bytes of the marked rows
// true as marks change and rows go, and a header row whose every file is
// marked says so in words: acting on such a group would keep no copy.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 7;

    explicit FileListModel(QObject* parent = nullptr);
    ~FileListModel() override;

    // The rows the view knows of: those shown so far.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Every row, shown or still waiting.
    int size() const { return static_cast<int>(m_records.size()); }
    int shownCount() const { return m_shown; }
    // Header rows, shown or waiting: the number of groups listed.
    int headerCount() const { return m_headers; }
    void setHold(bool hold);
    bool holding() const { return m_hold; }
    void showPending();

    // Appends a row with the texts made from its facts and returns its
    // index. Sub-items past the 255th are not kept.
    int append(RowKind kind, std::string_view caption, std::span<const std::string> subItems,
               const RowFacts& facts = {}, const QIcon* icon = nullptr);
    void remove(int row);
    // Removes the rows given in ascending order, each once, in one reset
    // of the model: removing them one at a time would cost the view a pass
    // over every row for each.
    void removeMany(const std::vector<int>& rows);
    void clear();
    // Orders all rows by `less`, keeping equal rows in their order; the
    // selection and every other persistent index follow their rows.
    void sortRows(const std::function<bool(int first, int second)>& less);
    // Puts the rows in a new order: order[new row] is the old row. The
    // selection and every other persistent index follow their rows.
    void reorderRows(const std::vector<int>& order);
    // Counts up as rows are added, so the order rows were found in can be
    // given back after they were sorted.
    std::uint32_t foundOrder(int row) const { return recordOf(row).found; }

    RowKind kind(int row) const { return m_records[static_cast<std::size_t>(row)].kind; }
    std::string_view caption(int row) const;
    int subItemCount(int row) const { return m_records[static_cast<std::size_t>(row)].subItems; }
    // Sub-item `index` from 0 (the Size text); "" past the row's last.
    std::string_view subItem(int row, int index) const;
    bool hasIcon(int row) const { return m_records[static_cast<std::size_t>(row)].icon != 0; }
    void setShowIcons(bool show);

    // What a header row shows after its caption when every file of its group
    // is marked.
    static constexpr char kAllMarkedNote[] = "  (all marked: no copy would be kept)";

    bool isMarked(int row) const { return (recordOf(row).flags & kMarked) != 0; }
    // Marks or unmarks a file row; header and separator rows take no mark.
    void setMarked(int row, bool marked);
    // Marks set between these are shown and their groups recounted once, at
    // the end, so marking a hundred thousand rows costs one pass.
    void beginMarking();
    void endMarking();
    std::int64_t markedCount() const { return m_markedCount; }
    // The sizes the marked rows list.
    std::int64_t markedBytes() const { return m_markedBytes; }
    // Whether the group under a header row has file rows, all of them marked.
    bool allMarked(int header) const { return (recordOf(header).flags & kAllMarked) != 0; }
    // The first shown header row whose group is marked whole, or -1.
    int firstAllMarkedHeader() const;
    // A row's values; the versions are the texts the file's resource holds.
    RowFacts factsAt(int row) const;
    // A file row's size; 0 for other rows.
    std::int64_t sizeOf(int row) const { return recordOf(row).size; }
    bool hasModified(int row) const { return (recordOf(row).flags & kHasModified) != 0; }
    // A row's time, or `otherwise` when it has none.
    std::int64_t modifiedOf(int row, std::int64_t otherwise) const
    {
        const Record& record = recordOf(row);
        return (record.flags & kHasModified) != 0 ? record.modified : otherwise;
    }
    // Counts every change that moves rows (a removal, a sort, clearing), so
    // a client holding row numbers can tell that they still hold.
    std::uint64_t generation() const { return m_generation; }

    // The texts of a column with the most characters seen since the list
    // was last cleared: fitting a column measures these rather than every
    // row of a million.
    const std::vector<std::string>& longTexts(int column) const;
    // Bytes held for the rows: records, text blocks and icons.
    std::size_t bytesHeld() const;

signals:
    // A mark was set or cleared, or a marked row went.
    void marksChanged();

private:
    // The bits of Record::flags.
    static constexpr std::uint8_t kMarked = 1;     // a file row the user marked
    static constexpr std::uint8_t kAllMarked = 2;  // a header whose files are all marked
    static constexpr std::uint8_t kHasModified = 4;  // the row has a time

    struct Record {
        std::uint32_t chunk = 0;
        std::uint32_t offset = 0;
        std::uint32_t captionBytes = 0;
        std::uint32_t textBytes = 0;  // the sub-items, each after its length
        std::uint32_t found = 0;      // see foundOrder()
        std::uint16_t icon = 0;       // 1 + index into m_icons, 0 for none
        RowKind kind = RowKind::File;
        std::uint8_t subItems = 0;
        std::uint8_t flags = 0;  // kMarked, kAllMarked, kHasModified
        std::uint8_t attributes = 0;  // platform::kAttr* bits, all of them below 0x100
        std::int64_t size = 0;
        std::int64_t modified = 0;
    };

    const Record& recordOf(int row) const { return m_records[static_cast<std::size_t>(row)]; }
    // The header above a row (the row itself when it is one), or -1.
    int headerAbove(int row) const;
    // Sets the header's kAllMarked from its file rows; true when it changed.
    bool recountGroup(int header);
    void recountAllGroups();
    void rowChanged(int row);

    const char* bytesOf(const Record& record) const;
    char* reserveBytes(std::size_t bytes, Record& record);
    std::uint16_t iconIndex(const QIcon& icon);
    void noteLongText(int column, std::string_view text);

    std::vector<Record> m_records;
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<std::size_t> m_chunkSizes;
    std::size_t m_current = 0;  // the chunk being filled
    std::size_t m_used = 0;     // bytes used in it
    std::vector<QIcon> m_icons;
    std::vector<std::string> m_longTexts[kColumnCount];
    int m_shown = 0;
    int m_headers = 0;
    std::int64_t m_markedCount = 0;
    std::int64_t m_markedBytes = 0;
    int m_markingDepth = 0;
    bool m_marksMoved = false;  // marks changed while marking was held
    std::uint64_t m_generation = 0;
    std::uint32_t m_added = 0;  // rows added since the list was cleared
    bool m_hold = false;
    bool m_showIcons = false;
};

}  // namespace views
