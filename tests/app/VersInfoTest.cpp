// Tests of the version component that fills linked labels and a list.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/VersInfo.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QtTest>

using versioninfo::preDefBit;

namespace {

QStringList rowsOf(const QTreeWidget& list)
{
    QStringList rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        rows << list.topLevelItem(i)->text(0) + "=" + list.topLevelItem(i)->text(1);
    }
    return rows;
}

}  // namespace

class VersInfoTest : public QObject {
    Q_OBJECT
private slots:
    void listShowsTheItemsInTheirFixedOrder()
    {
        app::TVersionInfoResource info;
        QTreeWidget list;
        info.setVersionListView(&list);
        info.setFilename(VERSION_FIXTURE_DIR "/app64.exe");
        QVERIFY(list.topLevelItemCount() == 0);  // nothing is shown while loading
        info.Loaded();
        QCOMPARE(list.headerItem()->text(0), QString("Resource"));
        QCOMPARE(list.headerItem()->text(1), QString("Value"));
        QVERIFY(!list.header()->sectionsClickable());
        // Comments is empty and so has no row.
        const QStringList expected = {
            "Product Name=Fernwick Suite",
            "Product Version=3.4 beta",
            "Company Name=Fernwick Tools",
            QString::fromUtf8("Legal Copyright=Copyright \xC2\xA9 2024 Fernwick"),
            "Legal Trademarks=Fernwick is a mark",
            "File Description=Sample program for the reader",
            "File Version=1.2",
            "Internal Name=app64",
            "Original Filename=app64.exe",
            "Build Flags=Pre-Release, Private",
        };
        QCOMPARE(rowsOf(list), expected);
    }

    void linkingALabelFillsItAndTakesItsItemOutOfTheList()
    {
        app::TVersionInfoResource info;
        info.Loaded();
        QLabel copyright;
        QLabel version;
        QLabel product;
        QLabel description;
        QTreeWidget list;
        info.setCopyrightLabel(&copyright);
        QVERIFY((info.ShowResource() & preDefBit(versioninfo::pdLegalCopyright)) == 0);
        QVERIFY((info.ShowResource() & preDefBit(versioninfo::pdFileVersion)) != 0);
        info.setVersionLabel(&version);
        info.setProductLabel(&product);
        info.setDescriptionLabel(&description);
        info.setVersionListView(&list);
        info.setFilename(VERSION_FIXTURE_DIR "/app64.exe");
        QCOMPARE(version.text(), QString("1.2"));
        QCOMPARE(product.text(), QString("Fernwick Suite"));
        QCOMPARE(description.text(), QString("Sample program for the reader"));
        QVERIFY(copyright.text().startsWith("Copyright"));
        for (const QString& row : rowsOf(list)) {
            QVERIFY2(!row.startsWith("Legal Copyright") && !row.startsWith("File Version") &&
                         !row.startsWith("Product Name") && !row.startsWith("File Description"),
                     qPrintable(row));
        }
        QCOMPARE(rowsOf(list).size(), 6);

        // Unlinking only stores the link; the list keeps its choice.
        const auto shown = info.ShowResource();
        info.setCopyrightLabel(nullptr);
        QCOMPARE(info.ShowResource(), shown);
    }

    void aDestroyedControlIsForgotten()
    {
        app::TVersionInfoResource info;
        info.Loaded();
        auto* label = new QLabel;
        info.setVersionLabel(label);
        delete label;
        QVERIFY(info.VersionLabel() == nullptr);
        info.setFilename(VERSION_FIXTURE_DIR "/lib32.dll");  // must not touch the label
        QCOMPARE(QString::fromStdString(info.FileVersion.AsText()), QString("7.0.1.2"));
    }

    void theProgramsOwnVersionReachesTheLabel()
    {
        app::TVersionInfoResource info;
        QLabel version;
        info.setVersionLabel(&version);
        info.Loaded();
        QCOMPARE(version.text(), QString(PROJECT_VERSION_TEXT));
    }

    void aFileWithoutVersionEmptiesTheList()
    {
        app::TVersionInfoResource info;
        QTreeWidget list;
        info.setVersionListView(&list);
        info.Loaded();
        info.setFilename(VERSION_FIXTURE_DIR "/noversion64.exe");
        QCOMPARE(list.topLevelItemCount(), 0);
        QCOMPARE(list.columnCount(), 2);
    }
};

QTEST_MAIN(VersInfoTest)
#include "VersInfoTest.moc"
