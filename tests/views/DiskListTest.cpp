// Tests of the drive chooser: its rows, ticks or selection, and drive letters.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/DiskList.h"

#include <QSignalSpy>
#include <QtTest>

#include "support/TempFolder.h"

using platform::Drive;
using platform::DriveType;
using views::TDiskListView;

namespace {

std::vector<Drive> sampleDrives()
{
    std::vector<Drive> drives(4);
    drives[0] = {'A',   DriveType::Removable, "/media/ann/STICK", "/media/ann/STICK", "STICK",
                 "8:17"};
    drives[1] = {'C', DriveType::Fixed, "/", "", "", "259:2"};
    drives[2] = {'D', DriveType::Fixed, "/home", "/home", "", "259:3"};
    drives[3] = {'E', DriveType::Remote, "/mnt/share", "/mnt/share", "", "0:41"};
    return drives;
}

}  // namespace

class DiskListTest : public QObject {
    Q_OBJECT
private slots:
    void refreshListsDrivesAndChoosesTheFixedOnes()
    {
        TDiskListView view;
        QCOMPARE(view.headerItem()->text(0), QString("Select drives"));
        QCOMPARE(view.SelectedDrives(), std::string());
        QSignalSpy changes(&view, &TDiskListView::changed);
        view.RefreshDrives(sampleDrives());
        QCOMPARE(view.topLevelItemCount(), 4);
        QCOMPARE(view.topLevelItem(0)->text(0), QString("STICK (A:)"));
        QCOMPARE(view.topLevelItem(3)->text(0), QString("/mnt/share (E:)"));
        QCOMPARE(view.SelectedDrives(), std::string("CD"));
        QVERIFY(!changes.isEmpty());
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(view.topLevelItem(i)->icon(0).availableSizes().value(0, QSize(16, 16)),
                     QSize(16, 16));
            QVERIFY(!view.topLevelItem(i)->icon(0).isNull());
        }

        view.SelectLocalDrives = false;
        view.RefreshDrives(sampleDrives());
        QCOMPARE(view.SelectedDrives(), std::string());
        view.RefreshDrives({});
        QCOMPARE(view.topLevelItemCount(), 0);
    }

    void selectedDrivesReadsAndWritesTicksOrSelection()
    {
        for (bool ticks : {false, true}) {
            TDiskListView view;
            view.setCheckboxes(ticks);
            view.RefreshDrives(sampleDrives());
            view.setSelectedDrives("ae");
            QCOMPARE(view.SelectedDrives(), std::string("AE"));
            view.setSelectedDrives("xyzC");
            QCOMPARE(view.SelectedDrives(), std::string("C"));
            view.setSelectedDrives("");
            QCOMPARE(view.SelectedDrives(), std::string());
            if (ticks) {
                QVERIFY(view.selectedItems().isEmpty() || !view.topLevelItem(0)->isSelected());
                view.topLevelItem(2)->setCheckState(0, Qt::Checked);
                QCOMPARE(view.SelectedDrives(), std::string("D"));
            } else {
                view.topLevelItem(2)->setSelected(true);
                QCOMPARE(view.SelectedDrives(), std::string("D"));
            }
        }
    }

    void theSearchGetsEachChosenDrivesPrefix()
    {
        TDiskListView view;
        view.RefreshDrives(sampleDrives());
        view.setSelectedDrives("ACD");
        const auto drives = view.selectedSearchDrives();
        QCOMPARE(drives.size(), std::size_t(3));
        QCOMPARE(drives[0].letter, 'A');
        QCOMPARE(drives[0].prefix, std::string("/media/ann/STICK"));
        QCOMPARE(drives[1].prefix, std::string(""));
        QCOMPARE(drives[2].prefix, std::string("/home"));
    }

    void theLetterIsTheCharacterBeforeTheClosingMark()
    {
        QCOMPARE(TDiskListView::DriveLetterOf("Data (d:)"), 'D');
        QCOMPARE(TDiskListView::DriveLetterOf("weird x:) order ("), 'X');
        QCOMPARE(TDiskListView::DriveLetterOf("no letter"), ' ');
        QCOMPARE(TDiskListView::DriveLetterOf("(C:)"), ' ');  // no " (" before it
        QCOMPARE(TDiskListView::DriveLetterOf(":)"), ' ');
    }

    void labelsThatLookLikeLettersLeaveEachDrivesOwnLetter()
    {
        std::vector<Drive> drives = sampleDrives();
        drives[0].label = "x (a:)";     // removable, letter A
        drives[2].label = "Photos :)";  // fixed, letter D
        drives[3].label = "share (C:) copy";
        TDiskListView view;
        view.RefreshDrives(drives);
        QCOMPARE(view.topLevelItem(2)->text(0), QString("Photos :) (D:)"));
        QCOMPARE(view.SelectedDrives(), std::string("CD"));
        const auto chosen = view.selectedSearchDrives();
        QCOMPARE(chosen.size(), std::size_t(2));
        QCOMPARE(chosen[1].letter, 'D');
        QCOMPARE(chosen[1].prefix, std::string("/home"));

        view.setSelectedDrives("ae");
        QCOMPARE(view.SelectedDrives(), std::string("AE"));
        QCOMPARE(view.selectedSearchDrives()[1].prefix, std::string("/mnt/share"));

        TempFolder dir;
        const QString file = QString::fromStdString(dir / "choice.dat");
        QCOMPARE(view.SaveToFile(file), QString());
        QCOMPARE(dir.read("choice.dat"), std::string("\1\0\0\0\1", 5) + std::string(21, '\0'));
        view.setSelectedDrives("d");
        QCOMPARE(view.LoadFromFile(file), QString());
        QCOMPARE(view.SelectedDrives(), std::string("AE"));
    }

    void aRowWithoutALetterGivesABlank()
    {
        TDiskListView view;
        std::vector<Drive> drives = sampleDrives();
        drives[1].letter = ' ';
        view.RefreshDrives(drives);
        view.setSelectedDrives("");
        view.topLevelItem(1)->setSelected(true);
        view.topLevelItem(2)->setSelected(true);
        QCOMPARE(view.SelectedDrives(), std::string(" D"));
        QCOMPARE(view.selectedSearchDrives().size(), std::size_t(1));
    }

    void theChoiceFileHoldsTwentySixBytes()
    {
        TempFolder dir;
        TDiskListView view;
        view.RefreshDrives(sampleDrives());
        view.setSelectedDrives("AD");
        const QString file = QString::fromStdString(dir / "choice.dat");
        QCOMPARE(view.SaveToFile(file), QString());
        const std::string bytes = dir.read("choice.dat");
        QCOMPARE(bytes.size(), std::size_t(26));
        QCOMPARE(int(bytes[0]), 1);
        QCOMPARE(int(bytes[2]), 0);
        QCOMPARE(int(bytes[3]), 1);

        view.setSelectedDrives("CE");
        QCOMPARE(view.LoadFromFile(file), QString());
        QCOMPARE(view.SelectedDrives(), std::string("AD"));

        // Any non-zero byte chooses; bytes after the 26th are ignored.
        std::string extra(26, '\0');
        extra[4] = 7;
        extra += "trailing";
        dir.write("extra.dat", extra);
        QCOMPARE(view.LoadFromFile(QString::fromStdString(dir / "extra.dat")), QString());
        QCOMPARE(view.SelectedDrives(), std::string("E"));

        dir.write("short.dat", std::string(25, '\1'));
        QCOMPARE(view.LoadFromFile(QString::fromStdString(dir / "short.dat")),
                 QString("Read beyond end of file"));
        QCOMPARE(view.SelectedDrives(), std::string("E"));
        QVERIFY(!view.LoadFromFile(QString::fromStdString(dir / "missing.dat")).isEmpty());
        QVERIFY(!view.SaveToFile(QString::fromStdString(dir / "no/such/dir/x.dat")).isEmpty());
    }

    void theMachinesOwnDrivesIncludeTheRoot()
    {
        TDiskListView view;
        view.RefreshDrives();
        QVERIFY(view.SelectedDrives().find('C') != std::string::npos);
    }
};

QTEST_MAIN(DiskListTest)
#include "DiskListTest.moc"
