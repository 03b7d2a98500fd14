#include "views/FileList.h"

#include <cstdlib>

#include <QHeaderView>
#include <QtTest>

#include "support/TempFolder.h"

using views::TFileListView;

namespace {

QStringList captions(const TFileListView& view)
{
    QStringList out;
    for (int i = 0; i < view.rowCount(); ++i) {
        out << view.row(i)->text(0);
    }
    return out;
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
        QCOMPARE(view.columnCount(), 7);
        const QStringList expected = {"Name", "Size",     "Type",    "Modified",
                                      "Attr", "File Ver", "Prod Ver"};
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(view.headerItem()->text(i), expected[i]);
        }
        QVERIFY(view.headerItem()->textAlignment(1) & Qt::AlignRight);
        QVERIFY(view.headerItem()->textAlignment(3) & Qt::AlignLeft);
        QCOMPARE(view.selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(view.selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(view.editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!view.isHeaderHidden());
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
        QCOMPARE(TFileListView::subItemsOf(view.row(0))[0], std::string("0"));
        QCOMPARE(view.row(0)->text(4), QString("    "));
        QVERIFY(!view.row(0)->text(2).isEmpty());  // a type name, from its name
        QCOMPARE(view.row(1)->text(4), QString("R   "));
        QCOMPARE(view.row(2)->text(3).toStdString(), dateText(2023, 11, 15));
        QVERIFY(view.row(3)->text(3).endsWith(
            "00" + QString::fromStdString(TFileListView::processLocale().timeSeparator) + "00"));
        QCOMPARE(view.row(4)->text(5), QString("1.2"));
        QCOMPARE(view.row(4)->text(6), QString("3.4 beta"));
        QVERIFY(view.row(4)->textAlignment(1) & Qt::AlignRight);
        QCOMPARE(TFileListView::subItemCount(view.row(4)), 6);
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
        QCOMPARE(TFileListView::captionOf(view.row(0)), odd);
        QVERIFY(view.row(0)->text(0).contains(QChar(0xFFFD)));

        // Control characters show in caret notation: a line break would cut
        // the row's text, an escape would vanish.
        const std::string broken = dir.write("line\nbreak\x1B.txt", "data");
        QVERIFY(view.AddFile(broken, size));
        QCOMPARE(TFileListView::captionOf(view.row(1)), broken);
        QVERIFY(view.row(1)->text(0).endsWith("line^Jbreak^[.txt"));
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
        QVERIFY(view.row(0)->text(2).contains("PNG", Qt::CaseInsensitive));
        QCOMPARE(view.row(1)->text(2), QString("QQQZZ file"));
        QVERIFY(view.row(2)->text(2) != view.row(3)->text(2));
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
        QVERIFY(view.row(0)->icon(0).isNull());  // added while icons were off
        QVERIFY(!view.row(1)->icon(0).isNull());
        view.setShowIcons(false);
        QVERIFY(view.iconProvider() == nullptr);
        QVERIFY(view.row(1)->icon(0).isNull());
    }

    void sortingFollowsTheColumnRulesAndTheDirection()
    {
        TFileListView view;
        view.addCaptionRow("Duplicate files .....");
        view.addRow("/b", {"20", "Zeta", dateText(2020, 1, 2) + " 10:00", "R   ", "", ""});
        view.addRow("/A", {"3", "alpha", dateText(2021, 5, 6), "    ", "", ""});
        view.addRow("/c", {"100", "Beta", "not a date", "    ", "", ""});
        view.addCaptionRow("");

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
        emit view.header()->sectionClicked(0);
        QCOMPARE(clicked, 0);
        QCOMPARE(captions(view), (QStringList{"/z", "/a"}));
        view.OnColumnClick = [&view](int column) { view.SortByColumn(column); };
        emit view.header()->sectionClicked(0);
        QCOMPARE(captions(view), (QStringList{"/a", "/z"}));
    }

    void batchUpdatesShowTheirRowsAtTheEnd()
    {
        TFileListView view;
        view.beginUpdate();
        view.addCaptionRow("Duplicate files .....");
        view.addRow("/one", {"1"});
        QCOMPARE(view.rowCount(), 2);
        QCOMPARE(view.topLevelItemCount(), 0);  // not in the view yet
        view.setRedraw(false);
        view.setRedraw(true);
        QVERIFY(view.updatesEnabled());
        view.showPendingRows();
        QCOMPARE(view.topLevelItemCount(), 2);  // painted though still updating
        view.addRow("/two", {"2"});
        view.endUpdate();
        QCOMPARE(view.topLevelItemCount(), 3);
        QVERIFY(!view.updating());
    }

    void rowNeighboursAndTheFirstSelectedRow()
    {
        TFileListView view;
        for (const char* c : {"h", "/1", "/2", "", "h2"}) {
            view.addCaptionRow(c);
        }
        QCOMPARE(view.rowAbove(view.row(0)), nullptr);
        QCOMPARE(view.rowAbove(view.row(2)), view.row(1));
        QCOMPARE(view.rowBelow(view.row(4)), nullptr);
        QCOMPARE(view.firstSelected(), nullptr);
        view.row(4)->setSelected(true);
        view.row(2)->setSelected(true);
        QCOMPARE(view.firstSelected(), view.row(2));
        view.deleteRow(view.row(2));
        QCOMPARE(view.rowCount(), 4);
        QCOMPARE(view.firstSelected(), view.row(3));
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
        QVERIFY(view.columnWidth(6) >= view.header()->sectionSizeHint(6));
    }

    void localeValuesComeFromQtLocales()
    {
        const platform::Locale german =
            TFileListView::localeFrom(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(german.dateSeparator, std::string("."));
        QCOMPARE(german.thousandSeparator, std::string("."));
        QCOMPARE(german.decimalSeparator, std::string(","));
        QCOMPARE(german.shortMonths[2],
                 QLocale(QLocale::German).monthName(3, QLocale::ShortFormat).toStdString());
        QVERIFY(german.shortMonths[2] != "Mar");
        const platform::Locale english =
            TFileListView::localeFrom(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(english.dateSeparator, std::string("/"));
        QCOMPARE(english.timeSeparator, std::string(":"));
        QCOMPARE(english.shortMonths[0], std::string("Jan"));
    }
};

QTEST_MAIN(FileListTest)
#include "FileListTest.moc"
