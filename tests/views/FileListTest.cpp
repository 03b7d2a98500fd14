// Tests of the result list view: rows, their facts and exact path bytes, sorting, marks, updates.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/FileList.h"

#include <cstdlib>

#include <QHeaderView>
#include <QMimeDatabase>
#include <QtTest>

#include "platform/FolderListing.h"
#include "support/TempFolder.h"

using views::TFileListView;

namespace {

QStringList captions(const TFileListView& view)
{
    QStringList out;
    for (int i = 0; i < view.rowCount(); ++i) {
        out << view.text(i, 0);
    }
    return out;
}

QIcon iconOf(const TFileListView& view, int row)
{
    return qvariant_cast<QIcon>(view.model()->index(row, 0).data(Qt::DecorationRole));
}

std::string dateText(int y, int m, int d)
{
    const auto& locale = TFileListView::processLocale();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%s%02d%s%02d", y, locale.dateSeparator.c_str(), m,
                  locale.dateSeparator.c_str(), d);
    return buffer;
}

}  // namespace

class FileListTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        ::tzset();
    }

    void viewStartsWithItsColumnsAndDefaults()
    {
        TFileListView view;
        QCOMPARE(view.model()->columnCount(), 7);
        const QStringList expected = {"Name", "Size",     "Type",    "Modified",
                                      "Attr", "File Ver", "Prod Ver"};
        auto header = [&view](int column, int role) {
            return view.model()->headerData(column, Qt::Horizontal, role);
        };
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(header(i, Qt::DisplayRole).toString(), expected[i]);
        }
        QVERIFY(header(1, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
        QVERIFY(header(3, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);
        QCOMPARE(view.selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(view.selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(view.editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!view.horizontalHeader()->isHidden());
        QCOMPARE(view.SortColumn, 1);
        QVERIFY(view.SortAscending);
        QVERIFY(!view.ShowIcons());
    }

    void fileRowsCarryTheFactsOfTheirFiles()
    {
        TempFolder dir;
        TFileListView view;
        std::int64_t size = -1;
        QVERIFY(view.AddFile(dir.write("empty.txt", ""), size));
        QCOMPARE(size, std::int64_t(0));
        dir.write("locked.doc", "12345");
        dir.chmod("locked.doc", 0444);
        QVERIFY(view.AddFile(dir / "locked.doc", size));
        QCOMPARE(size, std::int64_t(5));
        dir.write("midnight", "");
        dir.touch("midnight", 1700006400);
        QVERIFY(view.AddFile(dir / "midnight", size));
        dir.write("twoseconds", "");
        dir.touch("twoseconds", 1700006402);
        QVERIFY(view.AddFile(dir / "twoseconds", size));
        QVERIFY(view.AddFile(VERSION_FIXTURE_DIR "/app64.exe", size));

        QCOMPARE(view.rowCount(), 5);
        QCOMPARE(view.subItemsOf(0)[0], std::string("0"));
        QCOMPARE(view.text(0, 4), QString("    "));
        QVERIFY(!view.text(0, 2).isEmpty());  // a type name, from its name
        QCOMPARE(view.text(1, 4), QString("R   "));
        QCOMPARE(view.text(2, 3).toStdString(), dateText(2023, 11, 15));
        QVERIFY(view.text(3, 3).endsWith(
            "00" + QString::fromStdString(TFileListView::processLocale().timeSeparator) + "00"));
        QCOMPARE(view.text(4, 5), QString("1.2"));
        QCOMPARE(view.text(4, 6), QString("3.4 beta"));
        QVERIFY(view.model()->index(4, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignRight);
        QCOMPARE(view.subItemCount(4), 6);
    }

    void rowsHoldTheValuesTheirTextsAreMadeFrom()
    {
        TempFolder dir;
        TFileListView view;
        std::int64_t size = 0;
        dir.write("locked", "12345");
        dir.chmod("locked", 0444);
        dir.touch("locked", 1700006403);  // the text shows the minute only
        QVERIFY(view.AddFile(dir / "locked", size));
        const views::RowFacts file = view.rows().factsAt(0);
        QCOMPARE(file.size, std::int64_t(5));
        QVERIFY(file.hasModified);
        QCOMPARE(file.modified, std::int64_t(1700006403));
        QCOMPARE(file.attributes & platform::kAttrReadOnly, std::uint32_t(platform::kAttrReadOnly));

        // A row from a saved list: its texts are read once, as values.
        const std::string time = " 00" + TFileListView::processLocale().timeSeparator + "01";
        view.addRow("/saved", {"12", "Text", dateText(2023, 11, 15) + time, "R  A", "1.2", ""});
        const views::RowFacts saved = view.rows().factsAt(1);
        QCOMPARE(saved.size, std::int64_t(12));
        QCOMPARE(saved.modified, std::int64_t(1700006460));
        QCOMPARE(saved.attributes, std::uint32_t(platform::kAttrReadOnly | platform::kAttrArchive));
        QCOMPARE(saved.fileVersion, std::string("1.2"));
        view.addRow("/odd", {"many", "Text", "not a date"});
        QCOMPARE(view.rows().factsAt(2).size, std::int64_t(0));
        QVERIFY(!view.rows().factsAt(2).hasModified);
    }

    void aVanishedFileAddsNoRowAndKeepsTheSize()
    {
        TempFolder dir;
        TFileListView view;
        std::int64_t size = 42;
        QVERIFY(!view.AddFile(dir / "gone.txt", size));
        QVERIFY(!view.AddFile(dir.mkdir("folder"), size));
        QCOMPARE(size, std::int64_t(42));
        QCOMPARE(view.rowCount(), 0);
    }

    void rowsKeepTheExactBytesOfTheirPath()
    {
        TempFolder dir;
        TFileListView view;
        const std::string odd = dir.write("caf\xE9 \"x\".txt", "data");
        std::int64_t size = 0;
        QVERIFY(view.AddFile(odd, size));
        QCOMPARE(view.captionOf(0), odd);
        QVERIFY(view.text(0, 0).contains(QChar(0xFFFD)));

        // Control characters show in caret notation: a line break would cut
        // the row's text, an escape would vanish.
        const std::string broken = dir.write("line\nbreak\x1B.txt", "data");
        QVERIFY(view.AddFile(broken, size));
        QCOMPARE(view.captionOf(1), broken);
        QVERIFY(view.text(1, 0).endsWith("line^Jbreak^[.txt"));
    }

    void typeNamesComeFromTheNameAlone()
    {
        TempFolder dir;
        TFileListView view;
        std::int64_t size = 0;
        // A text file named like a picture is a picture to the list.
        QVERIFY(view.AddFile(dir.write("note.png", "plain text, really"), size));
        QVERIFY(view.AddFile(dir.write("unknown.qqqzz", ""), size));
        QVERIFY(view.AddFile(dir.write("CMakeLists.txt", ""), size));
        QVERIFY(view.AddFile(dir.write("notes.txt", ""), size));
        QVERIFY(view.text(0, 2).contains("PNG", Qt::CaseInsensitive));
        QCOMPARE(view.text(1, 2), QString("QQQZZ file"));
        QVERIFY(view.text(2, 2) != view.text(3, 2));
    }

    void showIconsCreatesItsProviderOnceAndReleasesIt()
    {
        TempFolder dir;
        TFileListView view;
        std::int64_t size = 0;
        view.AddFile(dir.write("before.txt", ""), size);
        view.setShowIcons(false);
        QVERIFY(view.iconProvider() == nullptr);
        view.setShowIcons(true);
        const QFileIconProvider* first = view.iconProvider();
        view.setShowIcons(true);
        QCOMPARE(view.iconProvider(), first);
        view.AddFile(dir.write("after.txt", ""), size);
        QVERIFY(iconOf(view, 0).isNull());  // added while icons were off
        QVERIFY(!iconOf(view, 1).isNull());
        view.setShowIcons(false);
        QVERIFY(view.iconProvider() == nullptr);
        QVERIFY(iconOf(view, 1).isNull());
    }

    void sortingFollowsTheColumnRulesAndTheDirection()
    {
        TFileListView view;
        view.addHeaderRow();
        view.addRow("/b", {"20", "Zeta", dateText(2020, 1, 2) + " 10:00", "R   ", "", ""});
        view.addRow("/A", {"3", "alpha", dateText(2021, 5, 6), "    ", "", ""});
        view.addRow("/c", {"100", "Beta", "not a date", "    ", "", ""});
        view.addSeparatorRow();

        // Size is the first sort column: its first click reverses.
        view.SortByColumn(1);
        QVERIFY(!view.SortAscending);
        QCOMPARE(captions(view), (QStringList{"/c", "/b", "/A", "Duplicate files .....", ""}));
        view.SortByColumn(1);
        QCOMPARE(captions(view), (QStringList{"Duplicate files .....", "", "/A", "/b", "/c"}));

        view.SortByColumn(0);
        QVERIFY(view.SortAscending);
        QCOMPARE(captions(view), (QStringList{"", "/A", "/b", "/c", "Duplicate files ....."}));

        // A row whose time does not parse, and rows without one, count as now.
        view.SortByColumn(3);
        QCOMPARE(captions(view).mid(0, 2), (QStringList{"/b", "/A"}));

        // Text columns ignore case; rows without the text compare equal to
        // everything, so their order among files is not fixed.
        TFileListView files;
        files.addRow("/b", {"20", "Zeta"});
        files.addRow("/A", {"3", "alpha"});
        files.addRow("/c", {"100", "Beta"});
        files.SortByColumn(2);
        QCOMPARE(captions(files), (QStringList{"/A", "/c", "/b"}));
        files.SortByColumn(2);
        QCOMPARE(captions(files), (QStringList{"/b", "/c", "/A"}));
    }

    void aClientsColumnHandlerReplacesSorting()
    {
        TFileListView view;
        view.show();
        view.addRow("/z", {"1"});
        view.addRow("/a", {"2"});
        int clicked = -1;
        view.OnColumnClick = [&](int column) { clicked = column; };
        emit view.horizontalHeader()->sectionClicked(0);
        QCOMPARE(clicked, 0);
        QCOMPARE(captions(view), (QStringList{"/z", "/a"}));
        view.OnColumnClick = [&view](int column) { view.SortByColumn(column); };
        emit view.horizontalHeader()->sectionClicked(0);
        QCOMPARE(captions(view), (QStringList{"/a", "/z"}));
    }

    void batchUpdatesShowTheirRowsAtTheEnd()
    {
        TFileListView view;
        view.beginUpdate();
        view.addHeaderRow();
        view.addRow("/one", {"1"});
        QCOMPARE(view.rowCount(), 2);
        QCOMPARE(view.model()->rowCount(), 0);  // not in the view yet
        view.setRedraw(false);
        view.setRedraw(true);
        QVERIFY(view.updatesEnabled());
        view.showPendingRows();
        QCOMPARE(view.model()->rowCount(), 2);  // painted though still updating
        view.addRow("/two", {"2"});
        view.endUpdate();
        QCOMPARE(view.model()->rowCount(), 3);
        QVERIFY(!view.updating());
    }

    void rowNeighboursAndTheFirstSelectedRow()
    {
        TFileListView view;
        view.addHeaderRow("h");
        view.addRow("/1", {"1"});
        view.addRow("/2", {"2"});
        view.addSeparatorRow();
        view.addHeaderRow("h2");
        QCOMPARE(view.firstSelected(), -1);
        view.setRowSelected(4, true);
        view.setRowSelected(2, true);
        QCOMPARE(view.firstSelected(), 2);
        view.deleteRow(2);
        QCOMPARE(view.rowCount(), 4);
        QCOMPARE(view.firstSelected(), 3);
        QCOMPARE(view.captionOf(3), std::string("h2"));
        view.clearRows();
        QCOMPARE(view.rowCount(), 0);
    }

    void columnsFitTheirWidestCell()
    {
        TFileListView view;
        view.show();
        view.addRow(std::string(120, 'w'), {"1"});
        view.fitColumns();
        QVERIFY(view.columnWidth(0) > view.columnWidth(1));
        view.setAllColumnWidths(0);
        QCOMPARE(view.columnWidth(0), 0);
        view.fixColumns();
        QVERIFY(view.columnWidth(0) > 100);
        QVERIFY(view.columnWidth(6) >= view.horizontalHeader()->sectionSizeHint(6));
    }

    void typeNamesAreTheDatabasesForEachName()
    {
        // *.C is C++ and *.c is C: a cache that folds the suffix's case
        // would give the second name the type of the first.
        for (const bool upperFirst : {true, false}) {
            TempFolder dir;
            TFileListView view;
            std::int64_t size = 0;
            const QStringList names = upperFirst ? QStringList{"a.C", "b.c", "c.TXT", "d.txt"}
                                                 : QStringList{"b.c", "a.C", "d.txt", "c.TXT"};
            for (const QString& name : names) {
                QVERIFY(view.AddFile(dir.write(name.toStdString(), ""), size));
            }
            const QMimeDatabase types;
            for (int row = 0; row < names.size(); ++row) {
                QCOMPARE(
                    view.text(row, 2),
                    types.mimeTypeForFile(names[row], QMimeDatabase::MatchExtension).comment());
            }
            const int upper = upperFirst ? 0 : 1;
            QVERIFY(view.text(upper, 2) != view.text(1 - upper, 2));
        }
    }

    void rowsKeepTheKindTheyWereAddedAs()
    {
        // A file may be named like a header; its row is a file row all the same.
        TFileListView view;
        view.addHeaderRow();
        view.addRow("/x/Duplicate files .....", {"1"});
        view.addRow("/x/b", {"1"});
        view.addSeparatorRow();
        view.addHeaderRow();
        view.addRow("/y/c", {"2"});
        QCOMPARE(view.kindOf(0), views::RowKind::Header);
        QCOMPARE(view.kindOf(1), views::RowKind::File);
        QCOMPARE(view.kindOf(3), views::RowKind::Separator);
        QCOMPARE(view.text(1, 0), QString("/x/Duplicate files ....."));
        const TFileListView::Group group = view.groupAround(2);
        QCOMPARE(group.header, 0);
        QCOMPARE(group.first, 1);
        QCOMPARE(group.end, 3);
        QCOMPARE(view.groupAround(5).header, 4);
        QCOMPARE(view.groupAround(3).header, 0);  // a separator belongs to the group above
    }

    void aGroupWrittenInAnUpdateStaysOpenUntilTheNextBegins()
    {
        TFileListView view;
        std::vector<int> closed;
        view.OnGroupClosed = [&](int header) { closed.push_back(header); };
        view.addHeaderRow();
        QCOMPARE(view.openGroup(), -1);  // outside an update nothing is being written

        view.beginUpdate();
        view.addRow("/a/1", {"1"});
        view.addSeparatorRow();
        view.addHeaderRow();
        view.addRow("/b/1", {"1"});
        QCOMPARE(view.openGroup(), 3);
        view.deleteRow(1);
        QCOMPARE(view.openGroup(), 2);  // the open group's header moved up
        view.addSeparatorRow();
        QCOMPARE(closed, (std::vector<int>{2}));
        QCOMPARE(view.openGroup(), -1);
        view.addHeaderRow();
        view.addRow("/c/1", {"1"});
        view.endUpdate();
        QCOMPARE(closed, (std::vector<int>{2, 5}));
        QCOMPARE(view.openGroup(), -1);

        // A group removed as it closes takes no separator after it.
        view.beginUpdate();
        view.addSeparatorRow();
        view.addHeaderRow();
        view.addRow("/d/1", {"1"});
        view.OnGroupClosed = [&view](int header) {
            view.deleteRow(header + 1);
            view.deleteRow(header);
        };
        QCOMPARE(view.addSeparatorRow(), -1);
        view.endUpdate();
        QCOMPARE(view.rowCount(), 8);
        QCOMPARE(view.kindOf(7), views::RowKind::Separator);
    }

    void rowsWaitingInAnUpdateCanBeDeleted()
    {
        TFileListView view;
        view.addHeaderRow();
        view.addRow("/a", {"1"});
        view.beginUpdate();
        view.addRow("/b", {"2"});
        view.addRow("/c", {"3"});
        view.deleteRow(2);  // not in the view yet
        view.deleteRow(0);  // in the view
        QCOMPARE(view.model()->rowCount(), 1);
        view.endUpdate();
        QCOMPARE(captions(view), (QStringList{"/a", "/c"}));
        QCOMPARE(view.model()->rowCount(), 2);
    }

    void theSelectionFollowsItsRowsWhenTheyAreSorted()
    {
        TFileListView view;
        view.addRow("/c", {"3"});
        view.addRow("/a", {"1"});
        view.addRow("/b", {"2"});
        view.setRowSelected(0, true);
        view.SortByColumn(0);
        QCOMPARE(captions(view), (QStringList{"/a", "/b", "/c"}));
        QCOMPARE(view.firstSelected(), 2);
        QVERIFY(!view.isRowSelected(0));
    }

    void marksCountTheirRowsAndBytesAsTheyChangeAndGo()
    {
        TFileListView view;
        QSignalSpy changes(&view, &TFileListView::marksChanged);
        view.addHeaderRow();
        view.addRow("/a1", {"1000"});
        view.addRow("/a2", {"1000"});
        view.addSeparatorRow();
        view.addHeaderRow();
        view.addRow("/b1", {"7"});
        view.addRow("/b2", {"7"});
        view.addRow("/b3", {"7"});
        // Header and separator rows take no mark and show no check box.
        view.setMarked(0, true);
        view.setMarked(3, true);
        QCOMPARE(view.markedCount(), 0);
        QVERIFY(!view.model()->index(0, 0).data(Qt::CheckStateRole).isValid());
        QVERIFY(!(view.model()->flags(view.model()->index(3, 0)) & Qt::ItemIsUserCheckable));
        QVERIFY(view.model()->flags(view.model()->index(1, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(view.model()->flags(view.model()->index(1, 1)) & Qt::ItemIsUserCheckable));

        view.setMarked(1, true);
        view.setMarked(5, true);
        view.setMarked(6, true);
        QCOMPARE(view.markedCount(), 3);
        QCOMPARE(view.markedBytes(), 1014);
        QCOMPARE(view.model()->index(5, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(),
                 Qt::Checked);
        QCOMPARE(changes.count(), 3);
        // A click on the check box goes through the model as any view's does.
        QVERIFY(
            view.model()->setData(view.model()->index(6, 0), Qt::Unchecked, Qt::CheckStateRole));
        QCOMPARE(view.markedCount(), 2);
        QCOMPARE(view.markedBytes(), 1007);

        // A marked row that goes takes its count and bytes along.
        view.deleteRow(5);
        QCOMPARE(view.markedCount(), 1);
        QCOMPARE(view.markedBytes(), 1000);
        view.clearRows();
        QCOMPARE(view.markedCount(), 0);
        QCOMPARE(view.markedBytes(), 0);
    }

    void aGroupWithEveryFileMarkedSaysSoInItsHeader()
    {
        TFileListView view;
        view.addHeaderRow();
        view.addRow("/a1", {"5"});
        view.addRow("/a2", {"5"});
        view.addSeparatorRow();
        view.addHeaderRow();
        view.addRow("/b1", {"5"});
        const QString plain = "Duplicate files .....";
        const QString allMarked = plain + "  (all marked: no copy would be kept)";
        view.setMarked(1, true);
        QCOMPARE(view.text(0, 0), plain);
        QCOMPARE(view.model()->index(0, 0).data().toString(), plain);
        view.setMarked(2, true);
        QCOMPARE(view.model()->index(0, 0).data().toString(), allMarked);
        QVERIFY(view.model()->index(0, 0).data(Qt::ForegroundRole).isValid());
        // Short paths leave the Name column narrow: it widens for the words.
        QVERIFY2(view.columnWidth(0) > view.fontMetrics().horizontalAdvance(allMarked),
                 qPrintable(QString::number(view.columnWidth(0))));
        // The caption itself, as the list files write it, is the designed one.
        QCOMPARE(view.captionOf(0), std::string("Duplicate files ....."));
        QCOMPARE(view.model()->index(4, 0).data().toString(), plain);

        view.setMarked(2, false);
        QCOMPARE(view.model()->index(0, 0).data().toString(), plain);
        // The unmarked file going leaves a group of marked files only.
        view.setMarked(2, true);
        view.setMarked(1, false);
        view.deleteRow(1);
        QCOMPARE(view.model()->index(0, 0).data().toString(), allMarked);
        // A file added to the group is unmarked, so the group is no longer.
        view.clearRows();
        view.beginUpdate();
        view.addHeaderRow();
        view.addRow("/c1", {"5"});
        view.showPendingRows();
        view.setMarked(1, true);
        QCOMPARE(view.model()->index(0, 0).data().toString(), allMarked);
        view.addRow("/c2", {"5"});
        QCOMPARE(view.model()->index(0, 0).data().toString(), plain);
        view.endUpdate();

        // Marks set in a batch are counted once, at its end.
        view.clearRows();
        view.addHeaderRow();
        view.addRow("/d1", {"5"});
        view.addRow("/d2", {"5"});
        QSignalSpy changes(&view, &TFileListView::marksChanged);
        view.beginMarking();
        view.setMarked(1, true);
        view.setMarked(2, true);
        QCOMPARE(changes.count(), 0);
        view.endMarking();
        QCOMPARE(changes.count(), 1);
        QCOMPARE(view.model()->index(0, 0).data().toString(), allMarked);
    }

    void spaceMarksTheSelectedRowsAndCtrlSpaceStillSelects()
    {
        TFileListView view;
        view.addHeaderRow();
        view.addRow("/a1", {"1"});
        view.addRow("/a2", {"1"});
        view.addRow("/a3", {"1"});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setCurrentIndex(view.model()->index(1, 0));
        view.setRowSelected(0, true);
        view.setRowSelected(3, true);
        view.setMarked(3, true);
        // A mixed selection is marked whole; the header row takes no mark.
        QTest::keyClick(&view, Qt::Key_Space);
        QVERIFY(view.isMarked(1));
        QVERIFY(!view.isMarked(2));
        QVERIFY(view.isMarked(3));
        QTest::keyClick(&view, Qt::Key_Space);
        QVERIFY(!view.isMarked(1));
        QVERIFY(!view.isMarked(3));
        QCOMPARE(view.markedCount(), 0);
        // Ctrl+Space adds the current row to the selection and marks nothing.
        view.setCurrentIndex(view.model()->index(2, 0));
        view.clearSelection();
        QTest::keyClick(&view, Qt::Key_Space, Qt::ControlModifier);
        QVERIFY(view.isRowSelected(2));
        QCOMPARE(view.markedCount(), 0);
    }

    void theMenuKeyAndShiftF10AskForTheMenuAtTheCurrentRow()
    {
        TFileListView view;
        view.addHeaderRow();
        view.addRow("/a1", {"1"});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setCurrentIndex(view.model()->index(1, 0));
        QSignalSpy asked(&view, &TFileListView::menuRequested);
        QTest::keyClick(&view, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.at(0).at(1).toInt(), 1);
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(&view, &key);
        QCOMPARE(asked.count(), 2);
        QCOMPARE(asked.at(1).at(1).toInt(), 1);
        const QPoint at = view.viewport()->mapFromGlobal(asked.at(1).at(0).toPoint());
        QCOMPARE(view.rowAt(at.y() - 1), 1);
        // The mouse asks over the row under it.
        const QPoint header = view.visualRect(view.model()->index(0, 2)).center();
        QContextMenuEvent mouse(QContextMenuEvent::Mouse, header,
                                view.viewport()->mapToGlobal(header));
        QApplication::sendEvent(view.viewport(), &mouse);
        QCOMPARE(asked.count(), 3);
        QCOMPARE(asked.at(2).at(1).toInt(), 0);
    }

    void manyRowsGoInOnePassKeepingSelectionCurrentRowAndWidths()
    {
        TFileListView view;
        std::vector<int> gone;
        for (int i = 0; i < 300; ++i) {
            view.addRow("/f" + std::to_string(i), {std::to_string(i)});
            if (i % 3 == 1) {
                gone.push_back(i);
            }
        }
        view.setMarked(1, true);
        view.setMarked(2, true);
        view.setColumnWidth(0, 123);
        view.setRowSelected(0, true);
        view.setRowSelected(1, true);
        view.setRowSelected(5, true);
        view.setRowSelected(299, true);
        view.selectionModel()->setCurrentIndex(view.model()->index(150, 0),
                                               QItemSelectionModel::NoUpdate);
        const std::uint64_t before = view.rows().generation();
        view.deleteRows(gone);
        QCOMPARE(view.rowCount(), 200);
        QVERIFY(view.rows().generation() != before);
        QCOMPARE(view.captionOf(1), std::string("/f2"));
        QCOMPARE(view.markedCount(), 1);
        QCOMPARE(view.markedBytes(), 2);
        QCOMPARE(view.columnWidth(0), 123);
        QCOMPARE(view.selectedFileRows(), (std::vector<int>{0, 3, 199}));
        QCOMPARE(view.captionOf(3), std::string("/f5"));
        QCOMPARE(view.currentIndex().row(), 100);
        QCOMPARE(view.captionOf(100), std::string("/f150"));
    }

    void aLongListIsSortedWhileTheEventLoopTurns()
    {
        // Groups whose first names come in the reverse of the order found.
        constexpr int kGroups = 100000;
        TFileListView view;
        view.beginUpdate();
        const std::vector<std::string> size = {"10"};
        for (int group = 0; group < kGroups; ++group) {
            char name[32];
            std::snprintf(name, sizeof name, "/t/n%06d-", kGroups - group);
            if (group > 0) {
                view.addSeparatorRow();
            }
            view.addHeaderRow();
            view.addRow(std::string(name) + "a", size);
            view.addRow(std::string(name) + "b", size);
        }
        view.endUpdate();
        QVERIFY(view.rowCount() >= TFileListView::kSortAsideRows);

        int turns = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&turns] { ++turns; });
        tick.start(0);
        QSignalSpy sorted(&view, &TFileListView::groupOrderChanged);
        view.sortGroups(views::GroupOrder::FirstName);
        // The window goes on while the order is worked out.
        QVERIFY(view.sorting());
        QCOMPARE(view.groupOrder(), views::GroupOrder::Found);
        QTRY_COMPARE_WITH_TIMEOUT(sorted.count(), 1, 30000);
        QVERIFY(turns > 0);
        QCOMPARE(view.groupOrder(), views::GroupOrder::FirstName);
        QVERIFY(!view.sorting());
        // Each group whole and in place, the separators between them.
        for (int group = 0; group < kGroups; ++group) {
            const int header = group * 4;
            char name[32];
            std::snprintf(name, sizeof name, "/t/n%06d-", group + 1);
            QCOMPARE(view.kindOf(header), views::RowKind::Header);
            QCOMPARE(view.captionOf(header + 1), std::string(name) + "a");
            QCOMPARE(view.captionOf(header + 2), std::string(name) + "b");
            if (group + 1 < kGroups) {
                QCOMPARE(view.kindOf(header + 3), views::RowKind::Separator);
            }
        }

        // An order chosen while one is worked out follows it; rows that go
        // meanwhile are not brought back.
        view.sortGroups(views::GroupOrder::Found);
        view.sortGroups(views::GroupOrder::FirstName);
        view.deleteRow(view.rowCount() - 1);
        QTRY_COMPARE_WITH_TIMEOUT(sorted.count(), 2, 30000);
        QCOMPARE(view.groupOrder(), views::GroupOrder::FirstName);
        QTRY_VERIFY(!view.sorting());
        QCOMPARE(view.captionOf(1), std::string("/t/n000001-a"));
        QCOMPARE(view.rowCount(), kGroups * 4 - 2);
    }

    void localeValuesComeFromQtLocales()
    {
        const text::Locale german =
            TFileListView::localeFrom(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(german.dateSeparator, std::string("."));
        QCOMPARE(german.thousandSeparator, std::string("."));
        QCOMPARE(german.decimalSeparator, std::string(","));
        QCOMPARE(german.shortMonths[2],
                 QLocale(QLocale::German).monthName(3, QLocale::ShortFormat).toStdString());
        QVERIFY(german.shortMonths[2] != "Mar");
        const text::Locale english =
            TFileListView::localeFrom(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(english.dateSeparator, std::string("/"));
        QCOMPARE(english.timeSeparator, std::string(":"));
        QCOMPARE(english.shortMonths[0], std::string("Jan"));
    }
};

QTEST_MAIN(FileListTest)
#include "FileListTest.moc"
