// Tests of the window's folder view: switching, the rows found, opening a folder's files, marks.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FolderView.h"

#include <algorithm>
#include <sys/stat.h>

#include <QTabBar>
#include <QTableView>
#include <QtTest>

#include "app/CleanupDialogs.h"
#include "app/FolderCleanup.h"
#include "app/MainForm.h"
#include "cleanup/Plan.h"
#include "platform/FolderListing.h"
#include "support/ModalAnswer.h"
#include "support/TempFolder.h"
#include "support/TestForm.h"
#include "views/FolderListModel.h"

using app::TfrmMain;
using views::FolderKind;
using views::FolderListModel;

class FolderViewTest : public QObject {
    Q_OBJECT
private:
    TempFolder m_home;
    std::unique_ptr<TempFolder> m_tree;
    std::unique_ptr<TempFolder> m_lists;

    // a.jpg, b.jpg and 2019/c.jpg in the folder `top`, as photos/ holds them.
    void writePhotos(const std::string& top)
    {
        m_tree->write(top + "a.jpg", "picture a");
        m_tree->write(top + "b.jpg", "picture b");
        m_tree->write(top + "2019/c.jpg", "picture c");
    }

    // x.ogg and y.ogg in the folder `top`, as music/ holds them.
    void writeMusic(const std::string& top)
    {
        m_tree->write(top + "x.ogg", "tune x");
        m_tree->write(top + "y.ogg", "tune y");
    }

    // photos/ copied whole to backup/photos/, its files again in one flat
    // folder, a folder whose two files both have copies in photos/, and
    // music/ copied beside it.
    void writeTree()
    {
        for (const std::string top : {"photos/", "backup/photos/"}) {
            writePhotos(top);
        }
        m_tree->write("backup/notes.txt", "only here");
        for (const std::string top : {"music/", "music copy/"}) {
            writeMusic(top);
        }
        m_tree->write("flat/a.jpg", "picture a");
        m_tree->write("flat/b.jpg", "picture b");
        m_tree->write("flat/c.jpg", "picture c");
        m_tree->write("flat/d.jpg", "picture d");
        m_tree->write("old/a copy.jpg", "picture a");
        m_tree->write("old/b copy.jpg", "picture b");
        m_tree->write("elsewhere/d.jpg", "picture d");
        m_tree->write("elsewhere/unique.txt", "unique");
    }

    // A window that has searched the tree as written so far and shows its folders.
    std::unique_ptr<TfrmMain> searchedForm() const
    {
        auto form = makeTestForm(*m_lists, m_tree->path());
        form->btnSearch->click();
        form->folderView->showFolders();
        return form;
    }

    // The folders of each kind the folder view lists, below the tree.
    QStringList folders(const app::FolderView& view, FolderKind kind) const
    {
        QStringList out;
        for (int row = 0; row < view.model->rowCount(); ++row) {
            if (view.model->kind(row) == FolderListModel::RowKind::Folder &&
                view.model->folderKind(row) == kind) {
                out << QString::fromStdString(view.model->path(row).substr(m_tree->path().size()));
            }
        }
        out.sort();
        return out;
    }

    static bool isFolder(const std::string& path)
    {
        struct stat st = {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    int rowOf(const app::FolderView& view, const std::string& relative) const
    {
        for (int row = 0; row < view.model->rowCount(); ++row) {
            if (view.model->path(row) == m_tree->path() + relative) {
                return row;
            }
        }
        return -1;
    }

    QStringList fileRows(const TfrmMain& form, bool shownOnly) const
    {
        QStringList out;
        for (int row = 0; row < form.FileListView1->rowCount(); ++row) {
            if (!shownOnly || form.FileListView1->isRowShown(row)) {
                out << QString::fromStdString(form.FileListView1->captionOf(row)) + "|" +
                           form.FileListView1->text(row, 1);
            }
        }
        return out;
    }

private slots:
    void initTestCase() { useTestHome(m_home); }

    void init()
    {
        m_tree = std::make_unique<TempFolder>();
        m_lists = std::make_unique<TempFolder>();
    }

    void theFoldersOfASearchAreShownAndTheFilesComeBackAsTheyWere()
    {
        writeTree();
        auto form = makeTestForm(*m_lists, m_tree->path());
        form->show();
        app::FolderView& view = *form->folderView;
        form->btnSearch->click();
        QVERIFY(!view.showingFolders());
        QVERIFY(form->FileListView1->isVisible());
        const QStringList before = fileRows(*form, false);

        view.actShowFolders->trigger();
        QVERIFY(view.showingFolders());
        QVERIFY(view.lstFolders->isVisible());
        QVERIFY(!form->FileListView1->isVisible());
        QCOMPARE(view.tabView->currentIndex(), 1);
        QCOMPARE(folders(view, FolderKind::SameLayout),
                 (QStringList{"backup/photos/", "music copy/", "music/", "photos/"}));
        QCOMPARE(folders(view, FolderKind::AnyLayout), QStringList());
        QVERIFY(folders(view, FolderKind::Contained).contains("old/"));
        QVERIFY(!folders(view, FolderKind::Contained).contains("elsewhere/"));
        const int old = rowOf(view, "old/");
        QCOMPARE(view.model->text(old, FolderListModel::Files), QString("2"));
        QVERIFY(view.model->text(old, FolderListModel::Copies).startsWith("all 2 have copies: "));

        // Back to the files: the designed rows as they were, all in sight.
        view.tabView->setCurrentIndex(0);
        QVERIFY(!view.showingFolders());
        QVERIFY(form->FileListView1->isVisible());
        QCOMPARE(fileRows(*form, true), before);

        // A new search starts in the file view.
        view.showFolders();
        form->btnSearch->click();
        QVERIFY(!view.showingFolders());
        QVERIFY(form->FileListView1->isVisible());
        QCOMPARE(fileRows(*form, true), before);
    }

    void enterOnAFolderShowsItsFilesAndSpaceMarksIt()
    {
        writeTree();
        auto form = makeTestForm(*m_lists, m_tree->path());
        form->show();
        app::FolderView& view = *form->folderView;
        form->btnSearch->click();
        view.showFolders();
        const int photos = rowOf(view, "photos/");
        QVERIFY(photos >= 0);
        view.lstFolders->setFocus();
        view.lstFolders->setCurrentIndex(view.model->index(photos, 0));
        QTest::keyClick(view.lstFolders, Qt::Key_Space);
        QVERIFY(view.model->isMarked(photos));
        QCOMPARE(view.marksText(), QString("Marked: 1 folder, 27 bytes"));

        QTest::keyClick(view.lstFolders, Qt::Key_Return);
        QVERIFY(!view.showingFolders());
        QVERIFY(form->FileListView1->isVisible());
        // The three groups with a file in photos/ or below it, and no other.
        const std::string photosPath = m_tree->path() + "photos/";
        int headers = 0;
        int inPhotos = 0;
        for (int row = 0; row < form->FileListView1->rowCount(); ++row) {
            const bool shown = form->FileListView1->isRowShown(row);
            const bool there = form->FileListView1->captionOf(row).rfind(photosPath, 0) == 0;
            QVERIFY(shown || !there);
            inPhotos += shown && there ? 1 : 0;
            headers += shown && form->FileListView1->kindOf(row) == views::RowKind::Header;
        }
        QCOMPARE(inPhotos, 3);
        QCOMPARE(headers, 3);
        QVERIFY(form->pnlShown->text().endsWith(
            QString::fromStdString(m_tree->path() + "photos and below")));
        // The marks stay for when the folders are shown again.
        view.showFolders();
        QVERIFY(view.model->isMarked(photos));
    }

    void foldersWhoseFilesLeftTheListAreNoLongerCalledCopies()
    {
        writeTree();
        auto form = searchedForm();
        app::FolderView& view = *form->folderView;
        QVERIFY(rowOf(view, "backup/photos/") >= 0);
        view.showFiles();
        // The row of backup/photos/2019/c.jpg goes, as Delete takes it.
        for (int row = 0; row < form->FileListView1->rowCount(); ++row) {
            if (form->FileListView1->captionOf(row) == m_tree->path() + "backup/photos/2019/c.jpg") {
                form->FileListView1->deleteRow(row);
                break;
            }
        }
        view.showFolders();
        QCOMPARE(folders(view, FolderKind::SameLayout), (QStringList{"music copy/", "music/"}));
    }

    void aMarkedFolderGoesToTheTrashWholeAndUndoPutsItBack()
    {
        writeTree();
        auto form = searchedForm();
        app::FolderView& view = *form->folderView;
        view.model->setMarked(rowOf(view, "backup/photos/"), true);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        QString summary;
        answers.when<app::TfrmCleanupReport>([&summary](app::TfrmCleanupReport* dialog) {
            summary = dialog->lblSummary->text();
            dialog->accept();
        });
        view.actOnMarked(cleanup::ActionKind::Trash);
        QTRY_VERIFY(answers.done());
        QVERIFY(summary.startsWith("1 of 1 folder went to the trash, giving back 27 bytes"));
        QVERIFY(answers.texts.front().contains("3 files and 27 bytes"));
        QVERIFY(!platform::fileExists(*m_tree / "backup/photos/a.jpg"));
        QVERIFY(platform::fileExists(m_home / "data/Trash/files/photos/2019/c.jpg"));
        QVERIFY(platform::fileExists(*m_tree / "photos/a.jpg"));
        // Its file rows left the file view; the folder view lists what still holds.
        for (int row = 0; row < form->FileListView1->rowCount(); ++row) {
            QVERIFY(form->FileListView1->captionOf(row).find("backup/photos/") == std::string::npos);
        }
        QCOMPARE(folders(view, FolderKind::SameLayout), (QStringList{"music copy/", "music/"}));

        ModalAnswers undo;
        undo.answer(QMessageBox::Yes);
        QString said;
        undo.acknowledge(said);
        view.folderCleanup->undoLast();
        QTRY_VERIFY(undo.done());
        QVERIFY(platform::fileExists(*m_tree / "backup/photos/2019/c.jpg"));
    }

    // The folder rows of each group, and whether each is marked.
    std::vector<std::vector<std::pair<std::string, bool>>> groupMarks(const app::FolderView& view,
                                                                      FolderKind kind) const
    {
        std::vector<std::vector<std::pair<std::string, bool>>> out;
        for (int row = 0; row < view.model->rowCount(); ++row) {
            if (view.model->kind(row) == FolderListModel::RowKind::Header &&
                view.model->folderKind(row) == kind) {
                out.emplace_back();
                for (const int folder : view.model->groupRows(row)) {
                    out.back().emplace_back(view.model->path(folder).substr(m_tree->path().size()),
                                            view.model->isMarked(folder));
                }
                std::sort(out.back().begin(), out.back().end());
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    void aKeepRuleMarksAllButTheFolderItKeepsInEachGroup()
    {
        writeTree();
        for (const std::string top : {"set/", "deep/er/set/"}) {
            m_tree->write(top + "p.bin", "part p");
            m_tree->write(top + "q/r.bin", "part r");
        }
        m_tree->symlink("a.jpg", "backup/photos/latest");
        writeMusic("stash/music/");
        m_tree->write("stash/a.jpg", "picture a");
        auto form = searchedForm();
        app::FolderView& view = *form->folderView;
        // A link goes with its folder and is named with it.
        QCOMPARE(view.model->text(rowOf(view, "backup/photos/"), FolderListModel::Also),
                 QString("1 link or special file: latest"));

        QVERIFY(view.markByRule({cleanup::KeepRule::Shortest, {}}));
        using Marks = std::vector<std::pair<std::string, bool>>;
        QCOMPARE(groupMarks(view, FolderKind::SameLayout),
                 (std::vector<Marks>{
                     {{"backup/photos/", true}, {"photos/", false}},
                     {{"deep/er/set/", true}, {"set/", false}},
                     {{"music copy/", true}, {"music/", false}, {"stash/music/", true}}}));
        // Each contained folder is marked but stash/, which holds a marked one.
        for (const auto& contained : groupMarks(view, FolderKind::Contained)) {
            for (const auto& [folder, marked] : contained) {
                QVERIFY2(marked == (folder != "stash/"), folder.c_str());
            }
        }
        QVERIFY(folders(view, FolderKind::Contained).contains("stash/"));

        // A rule no folder of a group fits leaves that group's marks as they were.
        ModalAnswers answers;
        QString said;
        answers.acknowledge(said);
        QVERIFY(view.markByRule(
            {cleanup::KeepRule::InFolder, cleanup::folderForms(*m_tree / "backup", "/")}));
        QTRY_VERIFY(answers.done());
        QVERIFY(said.contains("In 2 groups of identical folders no folder is or lies in"));
        const std::vector<Marks> groups = groupMarks(view, FolderKind::SameLayout);
        QCOMPARE(groups[0], (Marks{{"backup/photos/", false}, {"photos/", true}}));
        QCOMPARE(groups[2],
                 (Marks{{"music copy/", true}, {"music/", false}, {"stash/music/", true}}));
        for (const Marks& group : groups) {
            QVERIFY(
                std::any_of(group.begin(), group.end(), [](const auto& f) { return !f.second; }));
        }
    }

    void aFolderCleanupLeavesTheListsAsTheTreeIsNow()
    {
        writeTree();
        for (const std::string top : {"spare/photos/", "keep/", "gone/"}) {
            writePhotos(top);
        }
        m_tree->write("keep/e.jpg", "picture e");
        m_tree->write("gone/e.jpg", "picture e");
        m_tree->write("part/e.jpg", "picture e");
        m_tree->write("part/f.txt", "only in part");
        for (int i = 0; i < 4; ++i) {
            m_tree->write("part/g" + std::to_string(i), "picture g" + std::to_string(i));
            m_tree->write("keep/g" + std::to_string(i), "picture g" + std::to_string(i));
            m_tree->write("gone/g" + std::to_string(i), "picture g" + std::to_string(i));
        }
        m_tree->symlink("a.jpg", "gone/latest");
        auto form = searchedForm();
        app::FolderView& view = *form->folderView;
        QVERIFY(folders(view, FolderKind::Nearly).contains("part/"));
        view.model->setMarked(rowOf(view, "backup/photos/"), true);
        view.model->setMarked(rowOf(view, "gone/"), true);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        answers.when<app::TfrmCleanupReport>(
            [](app::TfrmCleanupReport* dialog) { dialog->accept(); });
        view.actOnMarked(cleanup::ActionKind::Trash);
        QTRY_VERIFY(answers.done());
        // The question said what else goes.
        QVERIFY2(answers.texts.front().contains(QString::fromStdString(
                     "being no copies (1 link):\n" + m_tree->path() + "gone/latest (link)")),
                 qPrintable(answers.texts.front()));
        QVERIFY(!isFolder(*m_tree / "gone"));

        // The group of three keeps its two folders, that of the five 2019/
        // folders its three; the pair left with one goes, and so does
        // backup/, which held a folder that went; the folder whose copies
        // were in gone/ has them in keep/.
        QCOMPARE(folders(view, FolderKind::SameLayout),
                 (QStringList{"keep/2019/", "music copy/", "music/", "photos/", "photos/2019/",
                              "spare/photos/", "spare/photos/2019/"}));
        QCOMPARE(folders(view, FolderKind::Nearly), QStringList{"part/"});
        const QString copies = view.model->text(rowOf(view, "part/"), FolderListModel::Copies);
        QVERIFY2(!copies.contains("gone/") && copies.contains("keep/"), qPrintable(copies));
        for (int row = 0; row < view.model->rowCount(); ++row) {
            const std::string& path = view.model->path(row);
            QVERIFY(path.empty() || isFolder(path));
        }
        // The file rows: none below the folders that went, no group of one.
        const views::TFileListView& list = *form->FileListView1;
        int inGroup = 2;
        for (int row = 0; row < list.rowCount(); ++row) {
            const std::string& path = list.captionOf(row);
            QVERIFY(path.find("/gone/") == std::string::npos &&
                    path.find("/backup/photos/") == std::string::npos);
            if (list.kindOf(row) == views::RowKind::Header) {
                QVERIFY(inGroup >= 2);
                inGroup = 0;
            }
            inGroup += list.kindOf(row) == views::RowKind::File ? 1 : 0;
        }
        QVERIFY(inGroup >= 2);
    }

    void aSearchWithoutTheSizeRuleSaysWhyNoFolderIsShown()
    {
        writeTree();
        auto form = makeTestForm(*m_lists, m_tree->path());
        app::FolderView& view = *form->folderView;
        form->chkCheckFilesize->setChecked(false);
        form->btnSearch->click();
        view.showFolders();
        QVERIFY(view.showingFolders());
        QCOMPARE(view.model->rowCount(), 0);
        QVERIFY(view.emptyText().contains("compares contents"));
    }
};

QTEST_MAIN(FolderViewTest)
#include "FolderViewTest.moc"
