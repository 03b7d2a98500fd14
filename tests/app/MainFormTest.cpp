// Tests of the main window: its layout, its rules and a search through Find Now.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainForm.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QtTest>
#include <mutex>
#include <thread>
#include <vector>

#include "app/HelpWindow.h"
#include "text/CommaText.h"
#include "platform/FolderListing.h"
#include "support/Captions.h"
#include "support/ModalAnswer.h"
#include "support/TempFolder.h"
#include "support/TestForm.h"

using app::TfrmMain;
using namespace std::string_literals;

namespace {

const char H[] = "Duplicate files .....";

QString toQString(const std::string& s)
{
    return QString::fromStdString(s);
}

// Closes every message box that comes up while it lives, keeping its text.
class MessageWatch {
public:
    MessageWatch()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        m_timer.start(5);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

// `count` folder entries as comma text, each with a blank so it is quoted.
std::string longEntries(const std::string& stem, int count)
{
    std::vector<std::string> items;
    for (int i = 0; i < count; ++i) {
        items.push_back("/" + stem + " " + std::to_string(i) + "/");
    }
    return text::formatCommaText(items);
}

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT
private:
    TempFolder m_home;
    std::unique_ptr<TempFolder> m_tree;
    std::unique_ptr<TempFolder> m_lists;

    // A window whose list files live in a folder of the test's own, with its
    // drives listed and its root folder set to the test tree.
    std::unique_ptr<TfrmMain> makeForm() { return makeTestForm(*m_lists, m_tree->path()); }

    QStringList rows(const TfrmMain& form) const
    {
        QStringList out;
        for (int i = 0; i < form.FileListView1->rowCount(); ++i) {
            const std::string caption = form.FileListView1->captionOf(i);
            out << toQString(caption.rfind(m_tree->path(), 0) == 0
                            ? caption.substr(m_tree->path().size())
                            : caption);
        }
        return out;
    }

    QString status(const TfrmMain& form, int panel) const
    {
        return form.StatusBar1->panel(panel)->text();
    }

    void manyFolders(int count)
    {
        for (int i = 0; i < count; ++i) {
            m_tree->write("bulk/" + std::to_string(i) + "/copy.bin",
                          "bulk contents " + std::to_string(i % 2));
        }
    }

private slots:
    void initTestCase() { useTestHome(m_home); }

    void init()
    {
        m_tree = std::make_unique<TempFolder>();
        m_lists = std::make_unique<TempFolder>();
        QFile::remove(QString::fromStdString(m_home / "config/Quarrendale/Kelvarin.conf"));
    }

    void theWindowStartsAsDesigned()
    {
        TfrmMain form;
        QCOMPARE(form.windowTitle(), QString("Gemmora"));
        QVERIFY(form.width() >= 609);
        QCOMPARE(form.height(), 469);
        QCOMPARE(form.MinTrackWidth, form.width() - 10);
        QCOMPARE(form.MinTrackHeight, 419);
        QCOMPARE(form.minimumSize(), QSize(form.MinTrackWidth, 419));
        QCOMPARE(shownCaption(form.btnSearch->text()), QString("Find Now"));
        QVERIFY(form.searchIsDefault());
        QCOMPARE(form.PageControl1->currentWidget(), form.TabSheetBasic);
        QCOMPARE(shownCaption(form.PageControl1->tabText(0)), QString(" Require "));
        QCOMPARE(form.GroupBox1->title(), QString(" What to search for "));
        QCOMPARE(form.lblFileListCaption->text(), QString(" Results will appear here ...."));
        QCOMPARE(form.lblVersion->text(), QString("Gemmora version: V") + PROJECT_VERSION_TEXT +
                                              " - check a group before you delete from it");
        QCOMPARE(form.lblVersion->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        QCOMPARE(form.Timer1->interval(), 100);
        QVERIFY(form.Timer1->isActive());
        QVERIFY(form.TreeScanner1.FindHiddenFiles);
        QVERIFY(form.ProgressBar->isHidden());
        QCOMPARE(form.DiskListView1->topLevelItemCount(), 0);  // filled by the timer
        QCOMPARE(status(form, 1), QString("Bytes:"));
        QCOMPARE(status(form, 2), QString("Files:"));
        QVERIFY(!form.frmFileProperties1->isVisible());
    }

    void widerWindowsMoveTheRightSideAndWidenTheRest()
    {
        TfrmMain form;
        form.show();
        const QPoint page = form.PageControl1->pos();
        const QPoint search = form.btnSearch->pos();
        const QPoint exit = form.btnExit->pos();
        const QPoint mask = form.edtFileMask->pos();
        const int group = form.GroupBox1->width();
        const int drives = form.DiskListView1->width();
        const int list = form.FileListView1->width();
        form.resize(form.width() + 100, form.height() + 40);
        QCOMPARE(form.PageControl1->pos(), page + QPoint(100, 0));
        QCOMPARE(form.btnSearch->pos(), search + QPoint(100, 0));
        QCOMPARE(form.btnExit->pos(), exit + QPoint(100, 0));
        QCOMPARE(form.edtFileMask->pos(), mask + QPoint(100, 0));
        QCOMPARE(form.edtSkipFolder->x(), form.edtFileMask->x());
        QCOMPARE(form.GroupBox1->width(), group + 100);
        QCOMPARE(form.DiskListView1->width(), drives + 100);
        QCOMPARE(form.FileListView1->width(), list + 100);
        QCOMPARE(form.Label2->x() + form.Label2->width(), form.edtFileMask->x());
        QCOMPARE(form.Label7->x() + form.Label7->width(), form.edtRootDir->x());
        QCOMPARE(form.Label1->x() + form.Label1->width(), form.edtSkipFolder->x());
        QCOMPARE(form.lblVersion->x() + form.lblVersion->width(), form.width() - 4);
        QCOMPARE(form.FileListView1->y() + form.FileListView1->height() + 2, form.lblVersion->y());
        QCOMPARE(form.lblVersion->y() + form.lblVersion->height(), form.StatusBar1->y());
        QCOMPARE(form.StatusBar1->y() + form.StatusBar1->height(), form.height());
    }

    void clearingTheSizeRuleForcesNameAndLocksBoth()
    {
        TfrmMain form;
        form.chkCheckFilename->setChecked(false);
        form.chkCheckFilesize->click();
        QVERIFY(!form.chkCheckFilesize->isChecked());
        QVERIFY(form.chkCheckFilename->isChecked());
        QVERIFY(!form.chkCheckFileTimestamp->isChecked());
        QVERIFY(!form.chkCheckFilename->isEnabled());
        QVERIFY(!form.chkCheckFileTimestamp->isEnabled());
        form.chkCheckFilesize->click();
        QVERIFY(form.chkCheckFilename->isEnabled());
        QVERIFY(form.chkCheckFilename->isChecked());
        QVERIFY(!form.chkCheckFileTimestamp->isChecked());
    }

    void findNowSearchesTheTreeAndFillsTheList()
    {
        m_tree->write("one/report.txt", "same words");
        m_tree->write("two/report copy.txt", "same words");
        m_tree->write("two/other.txt", "other words");
        auto form = makeForm();
        form->btnSearch->click();
        QCOMPARE(rows(*form), (QStringList{H, "one/report.txt", "two/report copy.txt"}));
        QCOMPARE(status(*form, 0), QString("Duplicates found...."));
        QCOMPARE(status(*form, 1), QString("Bytes: 10"));
        QCOMPARE(status(*form, 2), QString("Files: 1"));
        QCOMPARE(status(*form, 3), QString("Scan complete"));
        QCOMPARE(shownCaption(form->btnSearch->text()), QString("Find Now"));
        QCOMPARE(form->lblFileListCaption->text(),
                 QString("What duplicates were found - double-click a file to review ..."));
        QVERIFY(form->windowTitle().startsWith("Gemmora named *.* on C: "));
        QVERIFY(form->ProgressBar->isHidden());
        QVERIFY(form->longestTurnGap() < std::chrono::milliseconds(1000));
    }

    void theCacheIsReadAndWrittenOffTheWindowsThread()
    {
        m_tree->write("one/report.txt", "same words");
        m_tree->write("two/report copy.txt", "same words");
        auto form = makeForm();
        form->chkUseCache->setChecked(true);
        // A slow disk under the cache file: each load and save takes 300 ms.
        std::vector<std::thread::id> threads;
        std::mutex lock;
        form->run.comparison.onCacheWork = [&] {
            {
                const std::lock_guard<std::mutex> hold(lock);
                threads.push_back(std::this_thread::get_id());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        };
        form->btnSearch->click();
        QCOMPARE(rows(*form), (QStringList{H, "one/report.txt", "two/report copy.txt"}));
        QCOMPARE(threads.size(), std::size_t(2));
        for (const std::thread::id& id : threads) {
            QVERIFY(id != std::this_thread::get_id());
        }
        QVERIFY2(form->longestTurnGap() < std::chrono::milliseconds(250),
                 qPrintable(QString::number(form->longestTurnGap().count())));
    }

    void hiddenFoldersAreSearchedOnlyWhenTheBoxIsTicked()
    {
        m_tree->write("shown/a.txt", "same words");
        m_tree->write(".hidden/b.txt", "same words");
        m_tree->write("shown/.c.txt", "same words");  // a hidden file is always searched
        auto form = makeForm();
        QVERIFY(!form->chkIncludeHiddenFolders->isChecked());
        QCOMPARE(form->chkIncludeHiddenFolders->parentWidget(), form->TabSheetAdvanced);
        form->btnSearch->click();
        QCOMPARE(rows(*form), (QStringList{H, "shown/.c.txt", "shown/a.txt"}));
        form->chkIncludeHiddenFolders->setChecked(true);
        form->btnSearch->click();
        QCOMPARE(rows(*form), (QStringList{H, ".hidden/b.txt", "shown/.c.txt", "shown/a.txt"}));
    }

    void aGroupLeftWithOneFileWhileASearchWritesLeavesOnceItsRowsAreWritten()
    {
        m_tree->write("a1", "same words");
        m_tree->write("a2", "same words");
        auto form = makeForm();
        // The comparison writes a group, turning the event loop after each file.
        search::ResultList& list = form->resultList();
        list.beginUpdate();
        list.addRow(H);
        QVERIFY(list.addFile(*m_tree / "a1"));
        QVERIFY(list.addFile(*m_tree / "a2"));
        // The rows reach the list at the window's turns, their facts gathered.
        QTRY_VERIFY((form->processEvents(), form->FileListView1->rowCount() == 3));
        // At that turn the user deletes a file of it.
        form->FileListView1->setRowSelected(1, true);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        form->handlers.FileListView1KeyDown(Qt::Key_Delete, Qt::NoModifier, Qt::NoButton);
        QVERIFY(answers.done());
        QCOMPARE(rows(*form), (QStringList{H, "a2"}));  // more files of it may come
        // The group's rows are all written: the comparison shows its totals,
        // and the group goes at once, not when the next group comes.
        form->run.comparison.ShowTotals();
        QCOMPARE(rows(*form), QStringList());
        list.endUpdate();
        QCOMPARE(rows(*form), QStringList());
    }

    void groupsSortWholeByTheirValuesAndANewSearchGivesBackTheOrderFound()
    {
        // Bytes given back: big 300, three 120, small 100; oldest: three, small, big.
        m_tree->write("a/small1", std::string(100, 's'));
        m_tree->write("b/small2", std::string(100, 's'));
        m_tree->write("a/three1", std::string(60, 't'));
        m_tree->write("b/three2", std::string(60, 't'));
        m_tree->write("c/three3", std::string(60, 't'));
        m_tree->write("a/big1", std::string(300, 'b'));
        m_tree->write("b/big2", std::string(300, 'b'));
        const std::int64_t hour = 3600;
        for (const auto& [name, time] : std::vector<std::pair<std::string, std::int64_t>>{
                 {"a/small1", 5 * hour}, {"b/small2", 6 * hour}, {"a/three1", 9 * hour},
                 {"b/three2", 2 * hour}, {"c/three3", 7 * hour}, {"a/big1", 8 * hour},
                 {"b/big2", 9 * hour}}) {
            m_tree->touch(name, 1700000000 + time);
        }
        auto form = makeForm();
        form->chkCheckFileTimestamp->setChecked(false);
        form->btnSearch->click();
        const QStringList found = rows(*form);
        const auto groupStarts = [this, &form] {
            QStringList firsts;
            const QStringList all = rows(*form);
            for (int i = 0; i + 1 < all.size(); ++i) {
                if (all[i] == H) {
                    firsts << all[i + 1].section('/', -1);
                }
            }
            return firsts;
        };
        const auto choose = [](QMenu* menu, const QString& text) {
            for (QAction* action : menu->actions()) {
                if (shownCaption(action->text()) == text) {
                    QVERIFY(action->isEnabled());
                    action->trigger();
                    return;
                }
            }
            QFAIL(qPrintable("no menu item " + text));
        };

        choose(form->groupSortMenu->menu(), "Bytes they would give back");
        QCOMPARE(groupStarts(), (QStringList{"big1", "three1", "small1"}));
        QCOMPARE(form->pnlOrder->text(), QString("Groups by bytes given back"));
        QVERIFY(form->mnuMain->mnuView->actions().contains(form->groupSortMenu->menu()->menuAction()));
        // Each group stays whole, its files in their order, and separators between groups.
        QStringList sorted = rows(*form);
        QCOMPARE(sorted.size(), found.size());
        QCOMPARE(sorted[0], QString(H));
        QCOMPARE(sorted[1], QString("a/big1"));
        QCOMPARE(sorted[2], QString("b/big2"));
        QCOMPARE(sorted[3], QString(""));

        // The list's menu offers the same choices, checked as chosen.
        std::unique_ptr<QMenu> menu(form->cleanupActions->buildMenu(-1, form.get()));
        QMenu* sortBy = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->menu() != nullptr && shownCaption(action->text()) == "Sort groups by") {
                sortBy = action->menu();
            }
        }
        QVERIFY(sortBy != nullptr);
        choose(sortBy, "Oldest time");
        QCOMPARE(groupStarts(), (QStringList{"three1", "small1", "big1"}));
        for (QAction* action : sortBy->actions()) {
            QCOMPARE(action->isChecked(), shownCaption(action->text()) == "Oldest time");
        }

        form->btnSearch->click();
        QCOMPARE(rows(*form), found);
        QCOMPARE(form->FileListView1->groupOrder(), views::GroupOrder::Found);
        QVERIFY(form->pnlOrder->text().isEmpty());
    }

    void theListIsSavedOpenedAndExportedOnDemand()
    {
        m_tree->write("a/say \"hi\", twice.txt", "same words");
        m_tree->write("b/plain.txt", "same words");
        m_tree->touch("a/say \"hi\", twice.txt", 1700000100);
        m_tree->touch("b/plain.txt", 1700000000);
        auto form = makeForm();
        form->chkCheckFileTimestamp->setChecked(false);
        form->btnSearch->click();
        const QStringList found = rows(*form);
        QCOMPARE(found.size(), 3);

        // CSV: one line per file with its group, quoted where a field needs it.
        const std::string csv = *m_lists / "out.csv";
        QVERIFY(form->listFiles->saveAs(csv, app::ListFiles::Format::Csv));
        const std::string quoted = "\"" + m_tree->path() + "a/say \"\"hi\"\", twice.txt\"";
        const std::string plain = m_tree->path() + "b/plain.txt";
        const std::string first = found[1].startsWith("a/") ? quoted : plain;
        const std::string second = found[1].startsWith("a/") ? plain : quoted;
        const auto time = [&](const std::string& line) {
            return line == plain ? std::string("2023-11-14T22:13:20Z")
                                 : std::string("2023-11-14T22:15:00Z");
        };
        QCOMPARE(m_lists->read("out.csv"), "group,path,size,modified\r\n1," + first + ",10," +
                                               time(first) + "\r\n1," + second + ",10," +
                                               time(second) + "\r\n");

        // JSON: the groups and files, read back.
        const std::string json = *m_lists / "out.json";
        QVERIFY(form->listFiles->saveAs(json, app::ListFiles::Format::Json));
        const QJsonObject top =
            QJsonDocument::fromJson(QByteArray::fromStdString(m_lists->read("out.json"))).object();
        QCOMPARE(top["kind"].toString(), QString("list"));
        const QJsonArray files = top["groups"].toArray()[0].toObject()["files"].toArray();
        QCOMPARE(files.size(), 2);
        QCOMPARE(files[0].toObject()["path"].toString(), toQString(m_tree->path()) + found[1]);
        QCOMPARE(files[0].toObject()["size"].toInt(), 10);
        QCOMPARE(top["totals"].toObject()["files"].toInt(), 2);

        // Saved in the list format and opened again, in place of what is shown.
        const std::string saved = *m_lists / "kept.lis";
        QVERIFY(form->listFiles->saveAs(saved, app::ListFiles::Format::List));
        form->FileListView1->clearRows();
        form->listFiles->open(saved);
        QCOMPARE(rows(*form), found);
        form->listFiles->open(saved);
        QCOMPARE(rows(*form), found);
        QCOMPARE(status(*form, 0), QString("Duplicates read from file ....."));
        QCOMPARE(status(*form, 2), QString("Files: 1"));
        QCOMPARE(form->listFiles->recent().front(), saved);

        // A file that cannot be written is said, and nothing is left behind.
        MessageWatch watch;
        QVERIFY(!form->listFiles->saveAs(*m_lists / "no/such/folder.csv",
                                         app::ListFiles::Format::Csv));
        QCOMPARE(watch.texts.size(), 1);
        QVERIFY(watch.texts[0].contains("cannot be written"));
    }

    void theMenuBarKeysReachTheirChoices()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QStringList titles;
        for (QAction* action : form->mnuMain->actions()) {
            titles << shownCaption(action->text());
        }
        QCOMPARE(titles, (QStringList{"File", "Edit", "View", "Help"}));
        // The menus' Alt keys leave the window's designed ones alone.
        for (int i = 0; i < 2; ++i) {
            form->btnExit->setFocus();
            QTest::keyClick(form.get(), Qt::Key_F, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget(), form->edtFileMask);
        }
        QCOMPARE(form->mnuMain->actSaveAs->shortcut(), QKeySequence("Ctrl+S"));
        QCOMPARE(form->mnuMain->actOpen->shortcut(), QKeySequence("Ctrl+O"));
        // No file dialog in a test: the key is heard, the dialog left out.
        QObject::disconnect(form->mnuMain->actSaveAs, &QAction::triggered, form->listFiles,
                            nullptr);
        QSignalSpy saving(form->mnuMain->actSaveAs, &QAction::triggered);
        QTest::keyClick(form->edtFileMask, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(saving.size(), 1);
        QTest::keyClick(form->FileListView1, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!form->isVisible());

        MessageWatch watch;
        form->mnuMain->actAbout->trigger();
        QCOMPARE(watch.texts.size(), 1);
        QVERIFY(watch.texts[0].contains(PROJECT_VERSION_TEXT));
        QVERIFY(watch.texts[0].contains("GPL-3.0-or-later"));
    }

    void aFilterShowsSomeGroupsAndMarksReachOnlyThose()
    {
        m_tree->write("photos/one.jpg", "first");
        m_tree->write("backup/one.jpg", "first");
        m_tree->write("photos/two.jpg", "second!");
        m_tree->write("backup/two.jpg", "second!");
        m_tree->write("music/three.ogg", "third!!!");
        m_tree->write("backup/three.ogg", "third!!!");
        auto form = makeForm();
        form->chkCheckFileTimestamp->setChecked(false);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->btnSearch->click();
        const auto shownFiles = [&form, this] {
            QStringList names;
            for (int row = 0; row < form->FileListView1->rowCount(); ++row) {
                if (form->FileListView1->isRowShown(row) &&
                    form->FileListView1->kindOf(row) == views::RowKind::File) {
                    names << rows(*form)[row];
                }
            }
            names.sort();
            return names;
        };

        // Ctrl+F reaches the field; the text keeps the groups with a matching path.
        QTest::keyClick(form->FileListView1, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(form->listFilter->edtFilter->hasFocus());
        QTest::keyClicks(form->listFilter->edtFilter, "PHOTOS/");
        QTest::keyClick(form->listFilter->edtFilter, Qt::Key_Return);
        QCOMPARE(shownFiles(), (QStringList{"backup/one.jpg", "backup/two.jpg", "photos/one.jpg",
                                           "photos/two.jpg"}));
        QCOMPARE(form->pnlShown->text(), QString("Shown: 2 of 3 groups, 4 of 6 files"));

        // And a folder, from the list's menu.
        form->listFilter->showFolder(m_tree->path() + "backup/");
        QCOMPARE(shownFiles().size(), 4);
        form->listFilter->edtFilter->clear();
        QCOMPARE(shownFiles().size(), 6);
        QVERIFY(form->pnlShown->text().endsWith("backup"));
        form->listFilter->showFolder(m_tree->path() + "music");
        QCOMPARE(shownFiles(), (QStringList{"backup/three.ogg", "music/three.ogg"}));

        // Marks by a rule reach only the groups shown.
        cleanup::KeepRule first;
        first.kind = cleanup::KeepRule::First;
        QVERIFY(form->cleanupActions->markByRule(first));
        QCOMPARE(form->FileListView1->markedCount(), std::int64_t(1));

        form->listFilter->clear();
        QCOMPARE(shownFiles().size(), 6);
        QVERIFY(form->pnlShown->text().isEmpty());
    }

    void f1ShowsTheManualInAWindowOfItsOwn()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTest::keyClick(form->edtFileMask, Qt::Key_F1);
        auto* help = form->findChild<app::HelpWindow*>();
        QVERIFY(help != nullptr);
        QVERIFY(help->isVisible());
        const QString text = help->txtManual->toPlainText();
        QVERIFY(text.contains("KEYBOARD"));
        QVERIFY(text.contains(QString::fromUtf8("\u201cFind Now\u201d starts the search")));
        QVERIFY(text.contains("--version"));  // from the program's own option list
        QVERIFY(!text.contains("\\f") && !text.contains("@"));
        form->mnuMain->actContents->trigger();
        QCOMPARE(form->findChildren<app::HelpWindow*>().size(), 1);
    }

    void theFolderButtonAddsTheChosenFolderQuotedWhereNeeded()
    {
        auto form = makeForm();
        QVERIFY(form->edtRootDir->actions().contains(form->folderChooser->actChoose));
        form->edtRootDir->setText("/data, ");
        form->folderChooser->addFolder("/home/ann/My Files");
        QCOMPARE(form->edtRootDir->text(), QString("/data,\"/home/ann/My Files\""));
        QCOMPARE(text::parseCommaText(form->edtRootDir->text().toStdString()),
                 (std::vector<std::string>{"/data", "/home/ann/My Files"}));
        form->edtRootDir->clear();
        form->folderChooser->addFolder("/srv");
        QCOMPARE(form->edtRootDir->text(), QString("/srv"));
    }

    void stopDuringTheScan()
    {
        manyFolders(3000);
        auto form = makeForm();
        bool clicked = false;
        QTimer::singleShot(0, form.get(), [&] {
            clicked = form->run.scanning();
            form->btnSearch->click();
        });
        form->btnSearch->click();
        QVERIFY(clicked);
        QCOMPARE(status(*form, 3), QString("Comparison interrupted"));
        QCOMPARE(form->FileListView1->rowCount(), 0);
        QCOMPARE(shownCaption(form->btnSearch->text()), QString("Find Now"));
    }

    void stopDuringTheComparison()
    {
        manyFolders(3000);
        auto form = makeForm();
        QTimer poll;
        bool clicked = false;
        connect(&poll, &QTimer::timeout, form.get(), [&] {
            if (form->run.comparing() && !clicked) {
                clicked = true;
                QCOMPARE(shownCaption(form->btnSearch->text()), QString("Stop"));
                QVERIFY(form->ProgressBar->isVisible() || !form->isVisible());
                form->btnSearch->click();
            }
        });
        poll.start(1);
        form->btnSearch->click();
        QVERIFY(clicked);
        QCOMPARE(status(*form, 3), QString("Comparison interrupted"));
        QCOMPARE(shownCaption(form->btnSearch->text()), QString("Find Now"));
        QVERIFY(!form->run.comparing());
    }

    void everyRowOnItsWayIsListedInOrderWhenTheUpdateEnds()
    {
        // Two groups as the comparison writes them, a file of the second
        // gone before its facts are gathered.
        auto form = makeForm();
        search::ResultList& list = form->resultList();
        QStringList expected;
        list.beginUpdate();
        for (int group = 0; group < 2; ++group) {
            if (list.rowCount() > 0) {
                list.addRow("");
                expected << "";
            }
            list.addRow(H);
            expected << H;
            for (int i = 0; i < 1500; ++i) {
                const std::string name = std::to_string(group) + "/" + std::to_string(i);
                if (group == 1 && i == 700) {
                    list.addFile(*m_tree / name);
                    continue;
                }
                list.addFile(m_tree->write(name, std::string(group + 1, 'x')));
                expected << QString::fromStdString(name);
            }
        }
        list.endUpdate();
        QCOMPARE(rows(*form), expected);
        QCOMPARE(form->FileListView1->text(1, 1), QString("1"));
        QCOMPARE(form->FileListView1->text(expected.size() - 1, 1), QString("2"));
        QCOMPARE(form->FileListView1->groupCount(), 2);
    }

    void closingDuringASearchStopsItAndSavesTheSettings()
    {
        manyFolders(3000);
        auto form = makeForm();
        form->show();
        form->edtSkipFolder->setText("nothing-to-skip");
        QTimer::singleShot(0, form.get(), [&] { form->close(); });
        form->btnSearch->click();
        QVERIFY(!form->isVisible());
        QCOMPARE(status(*form, 3), QString("Comparison interrupted"));
        QSettings stored("Quarrendale", "Kelvarin");
        QCOMPARE(stored.value("FoldersToIgnore").toString(), QString("/nothing-to-skip/"));
    }

    void settingsAreWrittenAtCloseAndReadAtTheNextStart()
    {
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            form.edtFileMask->setText("*.jpg,*.png");
            form.edtRootDir->setText("/photos/");
            form.chkSkipEmptyFiles->setChecked(false);
            form.chkCheckFilename->setChecked(true);
            form.chkSkipTrashFolders->setChecked(false);
            form.chkUseCache->setChecked(false);
            form.chkIncludeHiddenFolders->setChecked(true);
            form.resize(form.width() + 40, form.height() + 30);
            form.FileListView1->setColumnWidth(3, 123);
            QVERIFY(form.close());
        }
        QSettings stored("Quarrendale", "Kelvarin");
        QCOMPARE(stored.value("FileMask").toString(), QString("*.jpg,*.png"));
        QCOMPARE(stored.value("SkipEmptyFiles").toString(), QString("0"));
        QCOMPARE(stored.value("CheckFileName").toString(), QString("1"));
        QCOMPARE(stored.value("SkipTrashFolders").toString(), QString("0"));
        QCOMPARE(stored.value("UseCache").toString(), QString("0"));
        QCOMPARE(stored.value("IncludeHiddenFolders").toString(), QString("1"));
        // The ten designed values, the trash and hidden folder rules, the cache,
        // the window and its columns.
        QCOMPARE(stored.allKeys().size(), 15);

        TfrmMain next;
        QCOMPARE(next.edtFileMask->text(), QString("*.jpg,*.png"));
        QCOMPARE(next.edtRootDir->text(), QString("/photos/"));
        QVERIFY(!next.chkSkipEmptyFiles->isChecked());
        QVERIFY(next.chkCheckFilename->isChecked());
        QVERIFY(!next.chkSkipTrashFolders->isChecked());
        QVERIFY(!next.chkUseCache->isChecked());
        QVERIFY(next.chkIncludeHiddenFolders->isChecked());
        QCOMPARE(next.height(), 469 + 30);
        QCOMPARE(next.FileListView1->columnWidth(3), 123);
        next.ResultListFile = *m_lists / "Kelvarin.lis";
    }

    void aFailedSettingsWriteIsShownAndTheWindowStillCloses()
    {
        // A file where the settings folder should be: nothing can be written.
        QDir(QString::fromStdString(m_home / "config")).removeRecursively();
        m_home.write("config/Quarrendale", "in the way");
        ModalAnswers answers;
        QString error;
        answers.acknowledge(error);
        bool closed = false;
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            form.show();
            closed = form.close();
        }
        m_home.remove("config/Quarrendale");
        QVERIFY(closed);
        QCOMPARE(error, QString("Failed to set data for 'FoldersToIgnore'"));
    }

    void aStoredSizeRuleOfZeroLocksTheOtherRules()
    {
        {
            QSettings stored("Quarrendale", "Kelvarin");
            stored.setValue("CheckFileSize", "0");
            stored.setValue("CheckFileName", "0");
            stored.setValue("CheckFileStamp", "1");
            stored.setValue("FileMask", "");
        }
        TfrmMain form;
        QVERIFY(!form.chkCheckFilesize->isChecked());
        QVERIFY(form.chkCheckFilename->isChecked());
        QVERIFY(!form.chkCheckFileTimestamp->isChecked());
        QVERIFY(!form.chkCheckFilename->isEnabled());
        QVERIFY(!form.chkCheckFileTimestamp->isEnabled());
        QCOMPARE(form.edtFileMask->text(), QString());
    }

    void aSettingOfTheWrongTypeGivesItsDefault()
    {
        {
            QSettings stored("Quarrendale", "Kelvarin");
            stored.setValue("RootFolder", QStringList{"/a", "/b"});
            stored.setValue("SkipEmptyFiles", "0");
        }
        ModalAnswers answers;
        answers.when<QMessageBox>([](QMessageBox* box) {
            QVERIFY(box->text().contains("Invalid data type for 'RootFolder'"));
            box->accept();
        });
        TfrmMain form;
        QCOMPARE(form.edtRootDir->text(), QString("/"));
        QVERIFY(!form.chkSkipEmptyFiles->isChecked());  // the rest still loads
        QTRY_VERIFY(answers.done());
    }

    void savedListsAreOfferedAndReloaded()
    {
        m_lists->write("SkipDupl.lis", m_tree->path() + "known.txt\r\n");
        m_lists->write("Kelvarin.lis",
                       "\"Duplicate files .....\"\r\n"
                       "\"/d/a1\",100,\"TXT file\",2024/01/01,\"    \",,\r\n"
                       "\"/d/a2\",200,\"TXT file\",2024/01/01,\"    \",,\r\n"
                       "\"\"\r\n\"Duplicate files .....\"\r\n"
                       "\"/d/b1\",10,x\r\n\"/d/b2\",20,x\r\n\"/d/b3\",not-a-number,x\r\n"
                       "\"\"\r\n\"Duplicate files .....\"\r\n\"/d/" +
                           std::string(600, 'c') + "\",5,x\r\n");
        TfrmMain form;
        form.ResultListFile = *m_lists / "Kelvarin.lis";
        form.SkipListFile = *m_lists / "SkipDupl.lis";
        form.NewListFile = *m_lists / "NewDupl.lis";
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        answers.answer(QMessageBox::Yes);
        form.Timer1Timer();
        QCOMPARE(answers.texts.size(), 2);
        QVERIFY(answers.texts[0].startsWith(
            "A list of known duplicate files to skip was found from a\nprevious run on "));
        QVERIFY(answers.texts[1].endsWith(
            "Reloading that list will save time.\n\nDo you want to reload that list?"));
        QVERIFY(form.run.catalogue.SkipFiles.containsFolded(m_tree->path() + "known.txt"));
        QCOMPARE(form.FileListView1->rowCount(), 11);
        QCOMPARE(form.run.comparison.DuplicateCount, std::int64_t(3));
        QCOMPARE(form.run.comparison.DuplicateBytes, std::int64_t(220));
        QCOMPARE(status(form, 0), QString("Duplicates read from file ....."));
        QCOMPARE(status(form, 2), QString("Files: 3"));
        QCOMPARE(form.StatusBar1->groupsPanel()->text(), QString("Groups: 3"));
        // The phase is read whole, and the columns fit the first group as
        // after a search: the long path of the last does not push the others away.
        QVERIFY(form.StatusBar1->panel(0)->width() >=
                form.StatusBar1->panel(0)->sizeHint().width());
        const QFontMetrics metrics = form.FileListView1->fontMetrics();
        QVERIFY(form.FileListView1->columnWidth(0) >= metrics.horizontalAdvance("/d/a1"));
        QVERIFY(form.FileListView1->columnWidth(0) < metrics.horizontalAdvance(QString(600, 'c')));
        QVERIFY(form.FileListView1->columnWidth(1) >= metrics.horizontalAdvance("Size"));
        QVERIFY(form.DiskListView1->topLevelItemCount() > 0);
        QVERIFY(!form.Timer1->isActive());
        // The empty Prod Ver is lost, the blank Attr trimmed.
        QCOMPARE(form.FileListView1->subItemsOf(1),
                 (std::vector<std::string>{"100", "TXT file", "2024/01/01", "", ""}));
    }

    void answeringNoLeavesEverythingForNextTime()
    {
        m_lists->write("SkipDupl.lis", "/x/known.txt\r\n");
        m_lists->write("Kelvarin.lis", "\"Duplicate files .....\"\r\n");
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.SkipListFile = *m_lists / "SkipDupl.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            ModalAnswers answers;
            answers.answer(QMessageBox::No);
            answers.answer(QMessageBox::No);
            form.Timer1Timer();
            QVERIFY(form.run.catalogue.SkipFiles.empty());
            QCOMPARE(form.FileListView1->rowCount(), 0);
            QVERIFY(form.DiskListView1->topLevelItemCount() > 0);
        }
        // An empty list at exit leaves the files of the earlier run alone.
        QCOMPARE(m_lists->read("Kelvarin.lis"), std::string("\"Duplicate files .....\"\r\n"));
        QVERIFY(m_lists->exists("SkipDupl.lis"));
        QVERIFY(!m_lists->exists("NewDupl.lis"));
    }

    void anUnreadableListIsReportedAndTheDrivesStillFilled()
    {
        m_lists->write("Kelvarin.lis", "\"Duplicate files .....\"\r\n");
        TfrmMain form;
        form.ResultListFile = *m_lists / "Kelvarin.lis";
        form.SkipListFile = *m_lists / "none.lis";
        form.NewListFile = *m_lists / "NewDupl.lis";
        ModalAnswers answers;
        // The file goes between the question and the reading.
        answers.when<QMessageBox>([this](QMessageBox* box) {
            m_lists->remove("Kelvarin.lis");
            box->button(QMessageBox::Yes)->click();
        });
        QString error;
        answers.acknowledge(error);
        form.Timer1Timer();
        QVERIFY(error.startsWith("The list of duplicates cannot be read:"));
        QVERIFY(form.DiskListView1->topLevelItemCount() > 0);
        QCOMPARE(form.FileListView1->rowCount(), 0);
    }

    void anUnreadableKnownListIsReportedWithItsReason()
    {
        m_lists->write("SkipDupl.lis", "/x/known.txt\r\n");
        TfrmMain form;
        form.ResultListFile = *m_lists / "none.lis";
        form.SkipListFile = *m_lists / "SkipDupl.lis";
        form.NewListFile = *m_lists / "NewDupl.lis";
        ModalAnswers answers;
        // The file goes between the question and the reading.
        answers.when<QMessageBox>([this](QMessageBox* box) {
            m_lists->remove("SkipDupl.lis");
            box->button(QMessageBox::Yes)->click();
        });
        QString error;
        answers.acknowledge(error);
        form.Timer1Timer();
        QCOMPARE(error, "The list of known duplicates cannot be read:\n" +
                            toQString(*m_lists / "SkipDupl.lis") + "\n\nNo such file or directory");
        QVERIFY(form.run.catalogue.SkipFiles.empty());
        QVERIFY(form.DiskListView1->topLevelItemCount() > 0);
    }

    void aRootFolderThatIsNotThereIsSaidAndTheOthersSearched()
    {
        m_tree->write("here/a.txt", "same words");
        m_tree->write("here/b.txt", "same words");
        auto form = makeForm();
        const std::string missing = m_tree->path() + "gone";
        form->edtRootDir->setText(toQString(missing + "," + m_tree->path() + "here"));
        ModalAnswers answers;
        QString notice;
        answers.acknowledge(notice);
        form->btnSearch->click();
        QVERIFY(answers.done());
        QCOMPARE(notice, toQString("Folder: " + missing + "/  was not found and is not searched."));
        QCOMPARE(rows(*form), (QStringList{H, "here/a.txt", "here/b.txt"}));
        QCOMPARE(status(*form, 3), toQString("Scan complete - not found: " + missing + "/"));
    }

    void theListIsSavedAtExit()
    {
        m_tree->write("a/same", "12345");
        m_tree->write("b/same", "12345");
        {
            auto form = makeForm();
            form->btnSearch->click();
            QCOMPARE(form->FileListView1->rowCount(), 3);
        }
        const std::string lines = m_lists->read("Kelvarin.lis");
        QVERIFY(lines.rfind("\"Duplicate files .....\"\r\n\"" + m_tree->path() + "a/same\",5,",
                            0) == 0);
        QCOMPARE(m_lists->read("NewDupl.lis"),
                 m_tree->path() + "a/same\r\n" + m_tree->path() + "b/same\r\n");
    }

    void theRootFolderHintShowsLinuxFolders()
    {
        TfrmMain form;
        const QString hint = form.edtRootDir->toolTip();
        const int from = hint.indexOf("e.g. ");
        const int to = hint.indexOf(" (note");
        QVERIFY(from >= 0 && to > from);
        const std::vector<std::string> examples =
            text::parseCommaText(hint.mid(from + 5, to - from - 5).toStdString());
        QCOMPARE(examples.size(), std::size_t(2));
        for (const std::string& example : examples) {
            QVERIFY2(example.front() == '/', example.c_str());
            QVERIFY2(example.find('\\') == std::string::npos, example.c_str());
        }
        QCOMPARE(examples[1], std::string("/My Files"));
    }

    void longStoredFieldsStayWhole()
    {
        // Longer than a line edit holds by default (32,767 characters).
        const std::string skip = longEntries("skip this folder", 3000);
        const std::string roots = longEntries("search this folder", 3000);
        const std::string masks = std::string(40000, '?') + ",*.txt";
        QVERIFY(skip.size() > 40000 && roots.size() > 40000);
        {
            QSettings stored("Quarrendale", "Kelvarin");
            stored.setValue("FoldersToIgnore", toQString(skip));
            stored.setValue("RootFolder", toQString(roots));
            stored.setValue("FileMask", toQString(masks));
        }
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            QCOMPARE(form.edtSkipFolder->text().size(), qsizetype(skip.size()));
            QCOMPARE(form.edtRootDir->text(), toQString(roots));
            QCOMPARE(form.edtFileMask->text(), toQString(masks));
            QVERIFY(form.close());
        }
        QSettings stored("Quarrendale", "Kelvarin");
        QCOMPARE(stored.value("FoldersToIgnore").toString(), toQString(skip));
        QCOMPARE(stored.value("RootFolder").toString(), toQString(roots));
        QCOMPARE(stored.value("FileMask").toString(), toQString(masks));
    }

    void aDamagedSettingsFileGivesDefaultsAndIsWrittenWholeAtClose()
    {
        // The first section reads well; the damage is further on.
        const std::string damaged = "[General]\nFileMask=*.txt\nRootFolder=/photos/\n"
                                    "[Other]\n\xFF\xFE\x00garbage\n"s;
        m_home.write("config/Quarrendale/Kelvarin.conf", damaged);
        MessageWatch messages;
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            QCOMPARE(form.edtFileMask->text(), QString("*.*"));
            QCOMPARE(form.edtRootDir->text(), QString("/"));
            form.edtSkipFolder->setText("/tmp/");
            form.chkSkipEmptyFiles->setChecked(false);
            form.show();
            QVERIFY(form.close());
        }
        QCOMPARE(messages.texts, QStringList());
        {
            QSettings stored("Quarrendale", "Kelvarin");
            QCOMPARE(stored.status(), QSettings::NoError);
            QCOMPARE(stored.allKeys().size(), 15);
            QCOMPARE(stored.value("FoldersToIgnore").toString(), QString("/tmp/"));
            QCOMPARE(stored.value("FileMask").toString(), QString("*.*"));
            QCOMPARE(stored.value("SkipEmptyFiles").toString(), QString("0"));
            QCOMPARE(stored.value("SkipDesktopFolders").toString(), QString("1"));
        }
        // The damaged file is kept beside the new one, byte for byte.
        QCOMPARE(m_home.read("config/Quarrendale/Kelvarin.conf.damaged"), damaged);

        // The next start reads what was written and closes without a word.
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            QCOMPARE(form.edtSkipFolder->text(), QString("/tmp/"));
            QVERIFY(!form.chkSkipEmptyFiles->isChecked());
            form.show();
            QVERIFY(form.close());
        }
        QCOMPARE(messages.texts, QStringList());
        m_home.remove("config/Quarrendale/Kelvarin.conf.damaged");
    }

    void enterInATextFieldPressesFindNow()
    {
        m_tree->write("x/one", "abc");
        m_tree->write("y/one", "abc");
        auto form = makeForm();
        form->show();
        form->activateWindow();
        QTest::keyClick(form->edtFileMask, Qt::Key_Return);
        QCOMPARE(form->FileListView1->rowCount(), 3);

        // After a click on a file row, Enter no longer searches.
        form->FileListView1->setRowSelected(1, true);
        form->handlers.FileListView1Click();
        QVERIFY(!form->searchIsDefault());
        form->edtRootDir->setText("/nowhere-at-all/");
        QTest::keyClick(form->edtFileMask, Qt::Key_Return);
        QCOMPARE(form->FileListView1->rowCount(), 3);
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
