// Tests of the properties dialog: its facts, versions and attribute boxes.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "review/FilProps.h"
#include "support/ModalAnswer.h"
#include "support/TempFolder.h"

using review::TfrmFileProperties1;

class ReviewTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempFolder> m_data;
    // The only folder in PATH while a case runs, so the opener is the
    // test's own.
    std::unique_ptr<TempFolder> m_bin;
    QByteArray m_path;

    // An xdg-open in m_bin that runs `script`; returns its path.
    std::string fakeOpener(const std::string& script)
    {
        const std::string path = m_bin->write("xdg-open", "#!/bin/sh\n" + script);
        m_bin->chmod("xdg-open", 0755);
        return path;
    }

private slots:
    void initTestCase() { m_path = qgetenv("PATH"); }

    void init()
    {
        m_data = std::make_unique<TempFolder>();
        m_bin = std::make_unique<TempFolder>();
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_data->path()));
        qputenv("PATH", QByteArray::fromStdString(m_bin->path()));
    }

    void cleanup() { qputenv("PATH", m_path); }

    void versionItemsAndGeneralFactsAreShown()
    {
        TfrmFileProperties1 dialog;
        dialog.FileName = VERSION_FIXTURE_DIR "/app64.exe";
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("app64.exe properties"));
        QVERIFY(dialog.PageControl1->isTabVisible(1));
        QCOMPARE(dialog.PageControl1->currentIndex(), 0);
        QCOMPARE(dialog.lblFileVersion->text(), QString("1.2"));
        QCOMPARE(dialog.lblFileDescription->text(), QString("Sample program for the reader"));
        QVERIFY(dialog.lblLegalCopyright->text().contains("2024 Fernwick"));
        // Comments is present but empty, so it is not listed.
        QStringList names;
        for (int i = 0; i < dialog.lbxNames->count(); ++i) {
            names << dialog.lbxNames->item(i)->text();
        }
        QCOMPARE(names, (QStringList{"CompanyName", "InternalName", "OriginalFilename",
                                     "ProductName", "ProductVersion"}));
        dialog.lbxNames->setCurrentRow(3);
        QCOMPARE(dialog.memValues->toPlainText(), QString("Fernwick Suite"));
        QVERIFY(dialog.lblSize->text().endsWith("bytes)"));
        QCOMPARE(dialog.lblDOSName->text(), QString("app64.exe"));
        QVERIFY(dialog.lblLocation->text().endsWith("/version/"));
        QCOMPARE(dialog.lblLocation->toolTip(), dialog.lblLocation->text());
        QVERIFY(!dialog.Image1->pixmap().isNull());
        QVERIFY(dialog.btnView->isEnabled());
        dialog.hide();
        QVERIFY(dialog.ItemValues.empty());
    }

    void nothingOfAnEarlierFileRemains()
    {
        TempFolder dir;
        TfrmFileProperties1 dialog;
        dialog.FileName = VERSION_FIXTURE_DIR "/app64.exe";
        dialog.show();
        dialog.lbxNames->setCurrentRow(0);
        dialog.hide();
        dialog.FileName = dir.write("plain.txt", "text");
        dialog.show();
        QVERIFY(!dialog.PageControl1->isTabVisible(1));
        QCOMPARE(dialog.lbxNames->count(), 0);
        QVERIFY(dialog.memValues->toPlainText().isEmpty());
        QVERIFY(dialog.lblFileVersion->text().isEmpty());
        QVERIFY(dialog.lblLegalCopyright->text().isEmpty());
        QCOMPARE(dialog.windowTitle(), QString("plain.txt properties"));
        QCOMPARE(dialog.lblSize->text(), QString("4 bytes (4 bytes)"));
        QVERIFY(dialog.lblCreated->text() == "(unknown)" || dialog.lblCreated->text().size() == 20);
        QCOMPARE(dialog.lblAccessed->text().size(), 11);
    }

    void attributeBoxesSnapBackToTheFile()
    {
        TempFolder dir;
        TfrmFileProperties1 dialog;
        dialog.FileName = dir.write(".hidden", "x");
        dir.chmod(".hidden", 0444);
        dialog.show();
        QVERIFY(dialog.chkHidden->isChecked());
        QVERIFY(dialog.chkReadOnly->isChecked());
        QVERIFY(!dialog.chkSystem->isChecked());
        QVERIFY(!dialog.chkCompressed->isVisible());
        QVERIFY(!dialog.lblCompressedSize->isVisible());
        dialog.chkSystem->click();
        QVERIFY(!dialog.chkSystem->isChecked());
        dialog.chkHidden->click();
        QVERIFY(dialog.chkHidden->isChecked());
        dialog.chkReadOnly->click();
        QVERIFY(dialog.chkReadOnly->isChecked());
        QVERIFY(dir.exists(".hidden"));
    }

    void aVanishedFileShowsTheErrorPanel()
    {
        TfrmFileProperties1 dialog;
        dialog.FileName = "/nowhere/gone.txt";
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("Error - can't find this file"));
        QVERIFY(!dialog.PageControl1->isVisible());
        QVERIFY(dialog.pnlError->isVisible());
        QCOMPARE(dialog.pnlError->text(), QString("/nowhere/gone.txt"));
        dialog.hide();
        dialog.FileName = VERSION_FIXTURE_DIR "/app64.exe";
        dialog.show();
        QVERIFY(dialog.PageControl1->isVisible());
        QVERIFY(!dialog.pnlError->isVisible());
    }

    void okClosesWithOneAndTheCloseBoxWithTwo()
    {
        TempFolder dir;
        TfrmFileProperties1 dialog;
        dialog.FileName = dir.write("keep.txt", "keep");
        ModalAnswers answers;
        answers.when<TfrmFileProperties1>([](TfrmFileProperties1* d) { d->btnOK->click(); });
        QCOMPARE(dialog.exec(), 1);
        answers.when<TfrmFileProperties1>([](TfrmFileProperties1* d) { d->close(); });
        QCOMPARE(dialog.exec(), 2);
        QVERIFY(dir.exists("keep.txt"));
    }

    void deleteEndsWithSixOnlyWhenTheFileIsGone()
    {
        TempFolder dir;
        TfrmFileProperties1 dialog;
        dialog.FileName = dir.write("doomed.txt", "bye");
        ModalAnswers answers;
        answers.when<TfrmFileProperties1>([](TfrmFileProperties1* d) { d->btnDelete->click(); });
        answers.answer(QMessageBox::Yes);
        QCOMPARE(dialog.exec(), 6);
        QVERIFY(!dir.exists("doomed.txt"));
        QCOMPARE(m_data->read("Trash/files/doomed.txt"), std::string("bye"));
        QVERIFY(answers.texts.value(0).startsWith("Move this file to the trash?"));
        QCOMPARE(answers.defaults.value(0), QMessageBox::Yes);

        dialog.FileName = dir.write("kept.txt", "stay");
        answers.when<TfrmFileProperties1>([](TfrmFileProperties1* d) { d->btnDelete->click(); });
        answers.answer(QMessageBox::No);
        QCOMPARE(dialog.exec(), 2);
        QVERIFY(dir.exists("kept.txt"));
    }

    void deletingTheLastCopyDefaultsToNo()
    {
        TempFolder dir;
        TfrmFileProperties1 dialog;
        dialog.FileName = dir.write("only.txt", "unique");
        dir.write("other/only.txt", "not the same");
        dialog.lastCopyQuery = [&](const std::string& path) {
            return platform::LastCopyQuery{path, {dir / "other/only.txt"}, false};
        };
        ModalAnswers answers;
        answers.when<TfrmFileProperties1>([](TfrmFileProperties1* d) { d->btnDelete->click(); });
        answers.answer(QMessageBox::No);
        QCOMPARE(dialog.exec(), 2);
        QVERIFY(answers.texts.value(0).contains("last remaining copy"));
        QCOMPARE(answers.defaults.value(0), QMessageBox::No);
    }

    void viewHandsTheOpenerThePathsExactBytes()
    {
        TempFolder dir;
        fakeOpener("printf '%s' \"$1\" > " + *m_bin / "opened" + "\n");
        TfrmFileProperties1 dialog;
        // Not UTF-8: a conversion to text and back would name another file.
        dialog.FileName = dir.write("caf\xE9 menu.txt", "x");
        dialog.show();
        dialog.btnView->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_bin->read("opened"), dialog.FileName, 5000);
        QVERIFY(dialog.btnView->isEnabled());
        QTRY_COMPARE(dialog.opener->running(), std::size_t(0));
    }

    void whenNothingCanOpenAFileAMessageSaysSo()
    {
        TempFolder dir;
        TfrmFileProperties1 dialog;
        dialog.FileName = dir.write("with blanks in name.zzz", "x");
        dialog.show();

        // The opener is there but finds no program for the file.
        fakeOpener("echo \"no method available for opening '$1'\" >&2\nexit 3\n");
        ModalAnswers answers;
        QString message;
        answers.acknowledge(message);
        dialog.btnView->click();
        QTRY_VERIFY_WITH_TIMEOUT(answers.done(), 5000);
        QVERIFY(message.startsWith("Nothing could open this file:\n" +
                                   QString::fromStdString(dialog.FileName)));
        QVERIFY(message.contains("found no program for files of this type"));
        QVERIFY(!dialog.btnView->isEnabled());
        QVERIFY(dialog.isVisible());
        dialog.hide();
        dialog.show();
        QVERIFY(dialog.btnView->isEnabled());

        // No opener at all: said at once.
        m_bin->remove("xdg-open");
        answers.acknowledge(message);
        dialog.btnView->click();
        QVERIFY(answers.done());
        QVERIFY(message.contains("xdg-open was not found"));
        QVERIFY(!dialog.btnView->isEnabled());
    }
};

QTEST_MAIN(ReviewTest)
#include "ReviewTest.moc"
