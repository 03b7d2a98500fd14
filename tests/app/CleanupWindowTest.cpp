// Tests of marks, cleanups and undo through the main window on real trees.
// SPDX-License-Identifier: GPL-3.0-or-later
// Marks and cleanups through the main window on the offscreen platform: a
// real tree in a temporary folder is searched with "Find Now", marked by
// the keep rules or by hand, acted on, and undone, and each time the tree
// is checked: every content that was there is still there at least once,
// and every kept file is as it was.
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>
#include <QtTest>

#include "app/CleanupDialogs.h"
#include "app/MainForm.h"
#include "hostile/TreeCheck.h"
#include "platform/FolderListing.h"
#include "review/FilProps.h"
#include "support/ModalAnswer.h"
#include "support/TempFolder.h"
#include "support/TestForm.h"

using app::TfrmMain;
using cleanup::ActionKind;
using cleanup::KeepRule;

namespace {

KeepRule rule(KeepRule::Kind kind, std::vector<std::string> values = {})
{
    KeepRule made;
    made.kind = kind;
    made.values = std::move(values);
    return made;
}

void select(TfrmMain& form, int row)
{
    // The current row first, without touching the selection: a modifier a
    // key click of the test left held would make it toggle the row.
    form.FileListView1->selectionModel()->setCurrentIndex(
        form.FileListView1->model()->index(row, 0), QItemSelectionModel::NoUpdate);
    form.FileListView1->clearSelection();
    form.FileListView1->setRowSelected(row, true);
}

// The action of a menu, by its words without the mark of its Alt key.
QAction* actionOf(QMenu* menu, const QString& words)
{
    for (QAction* action : menu->actions()) {
        if (action->text().remove('&').section('\t', 0, 0) == words) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace

class CleanupWindowTest : public QObject {
    Q_OBJECT
private:
    TempFolder m_home;
    std::unique_ptr<TempFolder> m_tree;
    std::unique_ptr<TempFolder> m_journals;
    // Each window gets list files of its own, so none offers to reload
    // another's; they last as long as the windows that write them.
    std::vector<std::unique_ptr<TempFolder>> m_lists;

    const TempFolder& lists() const { return *m_lists.back(); }

    std::string trash() const { return m_home / "data/Trash/files/"; }

    // A window that has searched the test tree.
    std::unique_ptr<TfrmMain> searched()
    {
        m_lists.push_back(std::make_unique<TempFolder>());
        auto form = makeTestForm(lists(), m_tree->path());
        form->chkSkipEmptyFiles->setChecked(false);
        form->btnSearchClick();
        form->cleanupActions->journalFolder = m_journals->path();
        return form;
    }

    int rowOf(const TfrmMain& form, const std::string& relative) const
    {
        for (int i = 0; i < form.FileListView1->rowCount(); ++i) {
            if (form.FileListView1->captionOf(i) == *m_tree / relative) {
                return i;
            }
        }
        return -1;
    }

    bool marked(const TfrmMain& form, const std::string& relative) const
    {
        const int row = rowOf(form, relative);
        return row >= 0 && form.FileListView1->isMarked(row);
    }

    // The files of the list, relative to the tree, with "*" before the marked.
    QStringList listed(const TfrmMain& form) const
    {
        QStringList out;
        for (int i = 0; i < form.FileListView1->rowCount(); ++i) {
            if (form.FileListView1->kindOf(i) != views::RowKind::File) {
                continue;
            }
            const std::string caption = form.FileListView1->captionOf(i);
            out << QString::fromStdString((form.FileListView1->isMarked(i) ? "*" : "") +
                                          caption.substr(m_tree->path().size()));
        }
        out.sort();
        return out;
    }

    // Two groups: three files that differ in age, depth and path length,
    // and a pair.
    void twoGroups()
    {
        m_tree->write("k/deep/er/p1.dat", "group one contents");
        m_tree->write("short.dat", "group one contents");
        m_tree->write("m/mid name.dat", "group one contents");
        m_tree->touch("k/deep/er/p1.dat", 2000000000);
        m_tree->touch("short.dat", 2100000000);
        m_tree->touch("m/mid name.dat", 1900000000);
        m_tree->write("pair/one.txt", "the pair");
        m_tree->write("pair/two.txt", "the pair");
        m_tree->touch("pair/one.txt", 1800000000);
        m_tree->touch("pair/two.txt", 1700000000);
    }

    // What must hold after any cleanup: every content that was in the tree
    // is still in it at least once, and each of `kept` is as it was.
    QString whatWasLost(const Snapshot& before, const QStringList& kept) const
    {
        const Snapshot after = snapshotTree(m_tree->path());
        std::multiset<std::uint64_t> present;
        for (const auto& [path, facts] : after) {
            if (S_ISREG(facts.mode)) {
                present.insert(facts.digest);
            }
        }
        QString lost;
        for (const auto& [path, facts] : before) {
            if (S_ISREG(facts.mode) && present.count(facts.digest) == 0) {
                lost += QString::fromStdString("lost the contents of " + path + "\n");
            }
        }
        for (const QString& path : kept) {
            const auto was = before.find(path.toStdString());
            const auto is = after.find(path.toStdString());
            if (was == before.end() || is == after.end() || !(was->second == is->second)) {
                lost += "the kept file " + path + " changed or went\n";
            }
        }
        return lost;
    }

    // Runs an action on the marks, answering its question `yes` (keeping
    // its text and default); returns the report's summary and details.
    QStringList act(TfrmMain& form, const cleanup::Action& action, ModalAnswers& answers)
    {
        QStringList report;
        answers.answer(QMessageBox::Yes);
        answers.when<app::TfrmCleanupReport>([&report](app::TfrmCleanupReport* dialog) {
            report << dialog->lblSummary->text() << dialog->memDetails->toPlainText()
                   << dialog->lblJournal->text();
            dialog->accept();
        });
        form.cleanupActions->actOnMarked(action);
        [&] { QTRY_VERIFY(answers.done()); }();
        return report;
    }

    cleanup::Action actionOfKind(ActionKind kind, const std::string& folder = "")
    {
        cleanup::Action action;
        action.kind = kind;
        action.folder = folder;
        return action;
    }

private slots:
    void initTestCase() { useTestHome(m_home); }

    void init()
    {
        m_tree = std::make_unique<TempFolder>();
        m_journals = std::make_unique<TempFolder>();
        QDir(QString::fromStdString(m_home / "data")).removeRecursively();
    }

    void eachKeepRuleMarksAllButTheFileItKeeps()
    {
        twoGroups();
        auto form = searched();
        QCOMPARE(listed(*form).size(), 5);
        const std::string first =
            form->FileListView1
                ->captionOf(form->FileListView1->groupAround(rowOf(*form, "short.dat")).first)
                .substr(m_tree->path().size());
        const std::vector<std::pair<KeepRule, std::string>> cases = {
            {rule(KeepRule::Oldest), "m/mid name.dat"},
            {rule(KeepRule::Newest), "short.dat"},
            {rule(KeepRule::Shortest), "short.dat"},
            {rule(KeepRule::Longest), "k/deep/er/p1.dat"},
            {rule(KeepRule::Shallowest), "short.dat"},
            {rule(KeepRule::Deepest), "k/deep/er/p1.dat"},
            {rule(KeepRule::First), first},
            {rule(KeepRule::InFolder, cleanup::folderForms(*m_tree / "m", "/")), "m/mid name.dat"},
            // Ties go to the first by path order.
            {rule(KeepRule::NotInFolder, {*m_tree / "k/"}), "m/mid name.dat"},
            {rule(KeepRule::NameMatches, {"SHORT.*"}), "short.dat"},
        };
        for (const auto& [keep, kept] : cases) {
            // The pair has no file in the folder, and none of its names match.
            ModalAnswers answers;
            QString said;
            const bool undecided =
                keep.kind == KeepRule::InFolder || keep.kind == KeepRule::NameMatches;
            if (undecided) {
                answers.acknowledge(said);
            }
            QVERIFY(form->cleanupActions->markByRule(keep));
            QVERIFY(answers.done());
            QCOMPARE(said.startsWith("In 1 group"), undecided);
            QStringList expected;
            for (const std::string file : {"k/deep/er/p1.dat", "short.dat", "m/mid name.dat"}) {
                expected << QString::fromStdString((file == kept ? "" : "*") + file);
            }
            QStringList got = listed(*form);
            got.removeIf([](const QString& file) { return file.contains("pair/"); });
            expected.sort();
            QVERIFY2(got == expected,
                     qPrintable(QString::fromStdString(cleanup::describeRule(keep)) + ": " +
                                got.join(", ")));
        }
        // The pair: the oldest is two.txt.
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        QVERIFY(marked(*form, "pair/one.txt"));
        QVERIFY(!marked(*form, "pair/two.txt"));
    }

    void aRuleThatCannotDecideAGroupLeavesItsMarksAndSaysSo()
    {
        twoGroups();
        auto form = searched();
        form->FileListView1->setMarked(rowOf(*form, "pair/one.txt"), true);
        QString said;
        ModalAnswers answers;
        answers.acknowledge(said);
        QVERIFY(form->cleanupActions->markByRule(
            rule(KeepRule::InFolder, cleanup::folderForms(*m_tree / "k", "/"))));
        QVERIFY(answers.done());
        QVERIFY2(said.contains("In 1 group no file lies in"), qPrintable(said));
        QCOMPARE(listed(*form), (QStringList{"*m/mid name.dat", "*pair/one.txt", "*short.dat",
                                             "k/deep/er/p1.dat", "pair/two.txt"}));
    }

    void theFolderAndMaskOfARuleAreAskedFor()
    {
        twoGroups();
        auto form = searched();
        select(*form, rowOf(*form, "m/mid name.dat"));
        ModalAnswers answers;
        QString started;
        answers.when<QFileDialog>([&](QFileDialog* dialog) {
            started = dialog->directory().absolutePath();
            dialog->selectFile(QString::fromStdString(*m_tree / "k/deep"));
            static_cast<QDialog*>(dialog)->accept();
        });
        QString said;
        answers.acknowledge(said);  // the pair has no file there
        form->cleanupActions->markByRuleAsking(KeepRule::InFolder);
        QTRY_VERIFY(answers.done());
        // The chooser opens at the selected file's folder.
        QCOMPARE(started + "/", QString::fromStdString(*m_tree / "m/"));
        QVERIFY(!marked(*form, "k/deep/er/p1.dat"));
        QVERIFY(marked(*form, "short.dat"));

        answers.when<QInputDialog>([](QInputDialog* dialog) {
            dialog->setTextValue("nothing*, \"mid *\"");
            dialog->accept();
        });
        answers.acknowledge(said);  // the pair has no matching name
        form->cleanupActions->markByRuleAsking(KeepRule::NameMatches);
        QTRY_VERIFY(answers.done());
        QVERIFY(!marked(*form, "m/mid name.dat"));
        QVERIFY(marked(*form, "k/deep/er/p1.dat"));

        // Cancelled, nothing changes.
        answers.when<QInputDialog>([](QInputDialog* dialog) { dialog->reject(); });
        form->cleanupActions->markByRuleAsking(KeepRule::NameMatches);
        QTRY_VERIFY(answers.done());
        QVERIFY(marked(*form, "k/deep/er/p1.dat"));
    }

    void theStatusBarCountsTheMarksAndTheDesignedPanelsStay()
    {
        twoGroups();
        auto form = searched();
        const QString bytes = form->StatusBar1->panel(1)->text();
        const QString count = form->StatusBar1->panel(2)->text();
        QVERIFY(form->pnlMarks->isHidden());
        QCOMPARE(form->cleanupActions->marksText(), QString());
        QCOMPARE(bytes, QString("Bytes: 44"));
        QCOMPARE(count, QString("Files: 3"));
        const QLabel* groups = form->StatusBar1->groupsPanel();
        QCOMPARE(groups->text(), QString("Groups: 2"));
        // Each total says what it counts.
        QVERIFY(form->StatusBar1->panel(1)->toolTip().startsWith("Bytes: the space"));
        QVERIFY(form->StatusBar1->panel(2)->toolTip().startsWith("Files: the listed copies"));
        QVERIFY(groups->toolTip().startsWith("Groups: the groups"));
        form->show();
        QCOMPARE(groups->x(), form->StatusBar1->panel(2)->geometry().right() + 3);
        select(*form, rowOf(*form, "short.dat"));
        form->FileListView1->setRowSelected(rowOf(*form, "pair/one.txt"), true);
        form->cleanupActions->markSelected(true);
        QCOMPARE(form->pnlMarks->text(), QString("Marked: 2 files, 26 bytes"));
        QVERIFY(form->pnlMarks->isVisible());
        QCOMPARE(form->StatusBar1->panel(1)->text(), bytes);
        QCOMPARE(form->StatusBar1->panel(2)->text(), count);
        // The marks' panel sits right of the designed four, which keep their order.
        QVERIFY(form->pnlMarks->x() >= form->StatusBar1->panel(3)->geometry().right());
        QVERIFY(form->StatusBar1->panel(3)->x() > form->StatusBar1->panel(2)->x());

        // A marked file deleted by hand leaves the count, and its group with it.
        select(*form, rowOf(*form, "pair/one.txt"));
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        form->handlers.FileListView1KeyDown(Qt::Key_Delete, Qt::NoModifier, Qt::NoButton);
        QVERIFY(answers.done());
        QCOMPARE(rowOf(*form, "pair/two.txt"), -1);
        QCOMPARE(form->pnlMarks->text(), QString("Marked: 1 file, 18 bytes"));
        // The totals say what is left.
        QTRY_COMPARE(form->StatusBar1->panel(1)->text(), QString("Bytes: 36"));
        QCOMPARE(form->StatusBar1->panel(2)->text(), QString("Files: 2"));
        QCOMPARE(groups->text(), QString("Groups: 1"));

        form->cleanupActions->unmarkAll();
        QVERIFY(form->pnlMarks->isHidden());

        // Inverting the group of the selection.
        select(*form, rowOf(*form, "short.dat"));
        form->FileListView1->setMarked(rowOf(*form, "short.dat"), true);
        form->cleanupActions->invertMarksInGroups();
        QCOMPARE(listed(*form), (QStringList{"*k/deep/er/p1.dat", "*m/mid name.dat", "short.dat"}));
        QCOMPARE(form->pnlMarks->text(), QString("Marked: 2 files, 36 bytes"));
        act(*form, actionOfKind(ActionKind::Trash), answers);
        QTRY_COMPARE(form->StatusBar1->panel(1)->text(), QString("Bytes: 0"));
        QCOMPARE(form->StatusBar1->panel(2)->text(), QString("Files: 0"));
        QCOMPARE(groups->text(), QString("Groups: 0"));
    }

    void aCrowdedStatusBarKeepsTheDesignedWordsAndShortensTheMarks()
    {
        // At the designed width, with many files marked and files left out,
        // panel 3 keeps its words; the marks' panel says the count alone and
        // holds the rest in its tooltip; the left-out count stays at the end.
        app::TStatusBar bar(nullptr);
        bar.resize(610, 19);
        bar.setPanelText(0, "Duplicates found....");
        bar.setPanelText(1, "Bytes: 1,503,750");
        bar.setPanelText(2, "Files: 105");
        bar.setGroupsText("Groups: 52", "52");
        bar.setPanelText(3, "Scan complete");
        QToolButton leftOut(&bar);
        leftOut.setText("Left out: 1");
        bar.setTrailing(&leftOut);
        QLabel* marks = bar.addPanel();
        const QString full = "Marked: 105 files, 1,503,750 bytes, 1.5\u00a0MB";
        marks->setText(full);
        marks->setProperty("brief", "Marked: 105");
        bar.layoutPanels();
        bar.show();

        QLabel* status = bar.panel(3);
        QVERIFY2(status->width() >= status->fontMetrics().horizontalAdvance("Scan complete"),
                 qPrintable(QString::number(status->width()) + " for " +
                            QString::number(
                                status->fontMetrics().horizontalAdvance("Scan complete"))));
        QVERIFY(marks->x() >= status->geometry().right());
        QVERIFY(marks->geometry().right() < leftOut.x());
        // The count of groups, beside the designed totals, steps aside for
        // their words, and with room enough says its number at least.
        QLabel* groups = bar.groupsPanel();
        QVERIFY(groups->isHidden());
        QVERIFY(marks->width() >= marks->fontMetrics().horizontalAdvance("Marked: 105"));
        QCOMPARE(marks->text(), full);
        QCOMPARE(marks->toolTip(), full);
        QCOMPARE(leftOut.geometry().right(), bar.width() - 1);

        bar.resize(700, 19);
        QVERIFY(groups->isVisible());
        QVERIFY(groups->width() >= groups->fontMetrics().horizontalAdvance("52"));
        QVERIFY(groups->x() > bar.panel(2)->x() && groups->x() < status->x());

        // With room enough the whole text shows and there is no tooltip.
        bar.resize(1400, 19);
        QCOMPARE(marks->width(), marks->sizeHint().width() + 4);
        QCOMPARE(marks->toolTip(), QString());
    }

    void marksAreNotWrittenToTheListFiles()
    {
        twoGroups();
        auto form = searched();
        form->SaveResultLists();
        const std::string list = lists().read("Kelvarin.lis");
        const std::string paths = lists().read("NewDupl.lis");
        form->cleanupActions->markByRule(rule(KeepRule::Oldest));
        form->FileListView1->setMarked(rowOf(*form, "m/mid name.dat"), true);  // a whole group
        form->SaveResultLists();
        QCOMPARE(lists().read("Kelvarin.lis"), list);
        QCOMPARE(lists().read("NewDupl.lis"), paths);
    }

    void aWhollyMarkedGroupSaysSoAndIsActedOnOnlyAfterItsOwnQuestion()
    {
        twoGroups();
        auto form = searched();
        for (const std::string file : {"k/deep/er/p1.dat", "short.dat", "m/mid name.dat"}) {
            form->FileListView1->setMarked(rowOf(*form, file), true);
        }
        form->FileListView1->setMarked(rowOf(*form, "pair/one.txt"), true);
        const int header = form->FileListView1->groupAround(rowOf(*form, "short.dat")).header;
        QVERIFY(form->FileListView1->model()->index(header, 0).data().toString().contains(
            "all marked: no copy would be kept"));
        const Snapshot before = snapshotTree(m_tree->path());

        // No, the default, leaves the group alone; the rest goes on.
        ModalAnswers answers;
        answers.answer(QMessageBox::No);
        act(*form, actionOfKind(ActionKind::Trash), answers);
        QVERIFY2(answers.texts.value(0).startsWith("Every file of 1 group is marked"),
                 qPrintable(answers.texts.value(0)));
        QCOMPARE(answers.defaults.value(0), QMessageBox::No);
        QVERIFY2(answers.texts.value(1).startsWith("Move the 1 file (8 bytes) in 1 group"),
                 qPrintable(answers.texts.value(1)));
        QCOMPARE(answers.defaults.value(1), QMessageBox::Yes);
        QVERIFY(m_tree->exists("short.dat") && m_tree->exists("m/mid name.dat") &&
                m_tree->exists("k/deep/er/p1.dat"));
        QVERIFY(!m_tree->exists("pair/one.txt"));
        QCOMPARE(rowOf(*form, "pair/two.txt"), -1);  // down to one file: gone

        // Yes keeps the first by path order and acts on the others.
        answers.texts.clear();
        answers.answer(QMessageBox::Yes);
        act(*form, actionOfKind(ActionKind::Trash), answers);
        QVERIFY(answers.texts.value(1).startsWith("Move the 2 files (36 bytes) in 1 group"));
        QVERIFY(m_tree->exists("k/deep/er/p1.dat"));
        QVERIFY(!m_tree->exists("short.dat") && !m_tree->exists("m/mid name.dat"));
        QCOMPARE(whatWasLost(before, {"k/deep/er/p1.dat", "pair/two.txt"}), QString());
        QCOMPARE(listed(*form), QStringList());
    }

    void groupsLeftWholeAmongOthersAreLeftAndTheOthersActedOn()
    {
        for (int g = 0; g < 6; ++g) {
            const std::string contents = "group " + std::to_string(g);
            m_tree->write("g" + std::to_string(g) + "/a", contents);
            m_tree->write("g" + std::to_string(g) + "/b", contents);
        }
        auto form = searched();
        // Groups 0, 2 and 4 wholly marked, the others in part.
        for (int g = 0; g < 6; ++g) {
            form->FileListView1->setMarked(rowOf(*form, "g" + std::to_string(g) + "/b"), true);
            if (g % 2 == 0) {
                form->FileListView1->setMarked(rowOf(*form, "g" + std::to_string(g) + "/a"), true);
            }
        }
        const Snapshot before = snapshotTree(m_tree->path());
        ModalAnswers answers;
        answers.answer(QMessageBox::No);
        act(*form, actionOfKind(ActionKind::Delete), answers);
        QVERIFY2(answers.texts.value(0).startsWith("Every file of 3 groups is marked"),
                 qPrintable(answers.texts.value(0)));
        QVERIFY2(answers.texts.value(1).startsWith("Delete the 3 files"),
                 qPrintable(answers.texts.value(1)));
        for (int g = 0; g < 6; ++g) {
            const std::string folder = "g" + std::to_string(g) + "/";
            QVERIFY(m_tree->exists(folder + "a"));
            QCOMPARE(m_tree->exists(folder + "b"), g % 2 == 0);
        }
        QCOMPARE(whatWasLost(before, {"g0/a", "g0/b", "g1/a", "g2/a", "g2/b", "g3/a", "g4/a",
                                      "g4/b", "g5/a"}),
                 QString());
        QCOMPARE(form->FileListView1->markedCount(), 6);
    }

    void everyActionKeepsEveryContentAndTheKeptFiles()
    {
        const ActionKind kinds[] = {ActionKind::Trash, ActionKind::Delete, ActionKind::HardLink,
                                    ActionKind::Reflink, ActionKind::Move};
        for (const ActionKind kind : kinds) {
            init();
            twoGroups();
            TempFolder target;
            auto form = searched();
            QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
            const Snapshot before = snapshotTree(m_tree->path());
            ModalAnswers answers;
            const QStringList report = act(*form, actionOfKind(kind, target.path()), answers);
            const QString name = QString::fromStdString(cleanup::actionName(kind));
            QVERIFY2(report.size() == 3, qPrintable(name));
            const bool careful = kind == ActionKind::Delete || kind == ActionKind::HardLink ||
                                 kind == ActionKind::Reflink;
            QCOMPARE(answers.defaults.value(0), careful ? QMessageBox::No : QMessageBox::Yes);
            QVERIFY2(answers.texts.value(0).contains("3 files (44 bytes) in 2 groups"),
                     qPrintable(answers.texts.value(0)));
            QCOMPARE(whatWasLost(before, {"m/mid name.dat", "pair/two.txt"}), QString());
            const std::string copies[] = {"k/deep/er/p1.dat", "short.dat", "pair/one.txt"};
            const cleanup::Report& done = form->cleanupActions->lastReport();
            if (kind == ActionKind::Reflink && done.count(cleanup::Outcome::Done) == 0) {
                // This file system cannot share storage: each is left, with the reason.
                QCOMPARE(done.count(cleanup::Outcome::Untouched), 3);
                QVERIFY2(report[1].contains("cannot share data"), qPrintable(report[1]));
                QCOMPARE(listed(*form),
                         (QStringList{"*k/deep/er/p1.dat", "*pair/one.txt", "*short.dat",
                                      "m/mid name.dat", "pair/two.txt"}));
                QCOMPARE(
                    QString::fromStdString(describeChanges(before, snapshotTree(m_tree->path()))),
                    QString());
                continue;
            }
            QVERIFY2(report[0].startsWith("3 of 3 files were"), qPrintable(report[0]));
            QCOMPARE(done.count(cleanup::Outcome::Done), 3);
            // The rows acted on leave; every group is down to one file and goes.
            QCOMPARE(form->FileListView1->rowCount(), 0);
            QCOMPARE(form->pnlMarks->text(), QString());
            const std::string kept = *m_tree / "m/mid name.dat";
            for (const std::string& copy : copies) {
                struct stat st = {};
                const bool there = ::lstat((*m_tree / copy).c_str(), &st) == 0;
                switch (kind) {
                case ActionKind::Trash:
                    QVERIFY(!there);
                    QVERIFY(platform::fileExists(trash() + std::string(platform::nameOf(copy))));
                    break;
                case ActionKind::Delete:
                    QVERIFY(!there);
                    break;
                case ActionKind::HardLink: {
                    QVERIFY(there);
                    struct stat keptState = {};
                    ::lstat((copy == "pair/one.txt" ? *m_tree / "pair/two.txt" : kept).c_str(),
                            &keptState);
                    QCOMPARE(st.st_ino, keptState.st_ino);
                    break;
                }
                case ActionKind::Move:
                    QVERIFY(!there);
                    QCOMPARE(target.read(copy), copy == "pair/one.txt"
                                                    ? std::string("the pair")
                                                    : std::string("group one contents"));
                    break;
                case ActionKind::Reflink:
                    QVERIFY(there);
                    break;
                }
            }
            QVERIFY(report[2].contains(QString::fromStdString(m_journals->path())));
        }
    }

    void aFileChangedBetweenMarkingAndActingIsLeftWithItsReason()
    {
        twoGroups();
        m_tree->write("third/a.bin", "third group");
        m_tree->write("third/b.bin", "third group");
        m_tree->touch("third/a.bin", 1600000000);
        auto form = searched();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        QVERIFY(marked(*form, "third/b.bin"));
        // Changed in place at the same size, and grown.
        m_tree->write("short.dat", "group one CONTENTS");
        m_tree->write("pair/one.txt", "the pair, grown");
        const Snapshot before = snapshotTree(m_tree->path());
        ModalAnswers answers;
        const QStringList report = act(*form, actionOfKind(ActionKind::Trash), answers);
        QVERIFY2(report[0].contains("2 files were left untouched"), qPrintable(report[0]));
        QVERIFY2(report[1].contains(QString::fromStdString(*m_tree / "short.dat")) &&
                     report[1].contains("differ"),
                 qPrintable(report[1]));
        QVERIFY2(report[1].contains(QString::fromStdString(*m_tree / "pair/one.txt")) &&
                     report[1].contains("size changed"),
                 qPrintable(report[1]));
        QVERIFY(m_tree->exists("short.dat") && m_tree->exists("pair/one.txt"));
        QVERIFY(!m_tree->exists("third/b.bin") && !m_tree->exists("k/deep/er/p1.dat"));
        QCOMPARE(whatWasLost(before, {"third/a.bin", "m/mid name.dat", "pair/two.txt", "short.dat",
                                      "pair/one.txt"}),
                 QString());
        // What was left stays listed and marked.
        QCOMPARE(listed(*form),
                 (QStringList{"*pair/one.txt", "*short.dat", "m/mid name.dat", "pair/two.txt"}));
    }

    void cancelEndsTheRunAfterTheFileAtHand()
    {
        for (int i = 0; i < 12; ++i) {
            m_tree->write("a/" + std::to_string(i), "contents " + std::to_string(i));
            m_tree->write("b/" + std::to_string(i), "contents " + std::to_string(i));
        }
        auto form = searched();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::First)));
        QCOMPARE(form->FileListView1->markedCount(), 12);
        const Snapshot before = snapshotTree(m_tree->path());
        // A slow disk: each file takes a while once compared.
        form->cleanupActions->afterCheck = [](const cleanup::PlanFile&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        };
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        QString shownFile;
        answers.when<app::TfrmCleanupProgress>([&](app::TfrmCleanupProgress* dialog) {
            shownFile = dialog->lblFile->text();
            dialog->btnCancel->click();
        });
        QString summary;
        answers.when<app::TfrmCleanupReport>([&](app::TfrmCleanupReport* dialog) {
            summary = dialog->lblSummary->text();
            dialog->accept();
        });
        form->cleanupActions->actOnMarked(actionOfKind(ActionKind::Trash));
        QTRY_VERIFY(answers.done());
        const cleanup::Report& report = form->cleanupActions->lastReport();
        QVERIFY(report.stopped);
        const std::int64_t done = report.count(cleanup::Outcome::Done);
        QVERIFY2(done >= 1 && done < 12, qPrintable(QString::number(done)));
        QVERIFY(shownFile.contains(QString::fromStdString(m_tree->path().substr(0, 20))));
        QVERIFY2(summary.contains("The run was stopped"), qPrintable(summary));
        QCOMPARE(form->FileListView1->markedCount(), 12 - done);
        QCOMPARE(listed(*form).filter("*").size(), 12 - done);
        QStringList kept;
        for (const QString& file : listed(*form)) {
            if (!file.startsWith("*")) {
                kept << file;
            }
        }
        QCOMPARE(whatWasLost(before, kept), QString());
    }

    void closingTheWindowDuringARunStopsItAndClosesAfterIt()
    {
        for (int i = 0; i < 8; ++i) {
            m_tree->write("a/" + std::to_string(i), "contents " + std::to_string(i));
            m_tree->write("b/" + std::to_string(i), "contents " + std::to_string(i));
        }
        auto form = searched();
        form->show();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::First)));
        form->cleanupActions->afterCheck = [](const cleanup::PlanFile&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        };
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        bool closed = true;
        answers.when<app::TfrmCleanupProgress>(
            [&](app::TfrmCleanupProgress*) { closed = form->close(); });
        answers.when<app::TfrmCleanupReport>(
            [](app::TfrmCleanupReport* dialog) { dialog->accept(); });
        form->cleanupActions->actOnMarked(actionOfKind(ActionKind::Trash));
        QTRY_VERIFY(answers.done());
        QVERIFY(!closed);  // not while files are being moved
        QVERIFY(form->cleanupActions->lastReport().stopped);
        QTRY_VERIFY(!form->isVisible());
    }

    void undoPutsBackWhatWentToTheTrashOrWasMoved()
    {
        twoGroups();
        TempFolder target;
        auto form = searched();
        form->show();
        const Snapshot before = snapshotTree(m_tree->path());
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        ModalAnswers answers;
        act(*form, actionOfKind(ActionKind::Trash), answers);
        QVERIFY(!m_tree->exists("short.dat"));

        // Ctrl+Z in the list, answered with the default.
        QString reportText;
        answers.texts.clear();
        answers.answer(QMessageBox::Yes);
        answers.when<app::TfrmCleanupReport>([&](app::TfrmCleanupReport* dialog) {
            reportText = dialog->lblSummary->text();
            dialog->accept();
        });
        QTest::keyClick(form->FileListView1, Qt::Key_Z, Qt::ControlModifier);
        QTRY_VERIFY(answers.done());
        QVERIFY2(answers.texts.value(0).startsWith("Put back the 3 files that the cleanup of"),
                 qPrintable(answers.texts.value(0)));
        QCOMPARE(answers.defaults.value(0), QMessageBox::Yes);
        QVERIFY2(reportText.startsWith("3 files were put back."), qPrintable(reportText));
        QCOMPARE(QString::fromStdString(describeChanges(before, snapshotTree(m_tree->path()))),
                 QString());
        // A cleanup undone whole is not offered again, nor after a restart.
        for (int restart = 0; restart < 2; ++restart) {
            if (restart == 1) {
                form = searched();
            }
            std::unique_ptr<QMenu> menu(form->cleanupActions->buildMenu(-1, form.get()));
            QVERIFY(!actionOf(menu.get(), "Undo last cleanup")->isEnabled());
            QString said;
            answers.acknowledge(said);
            form->cleanupActions->undoLastCleanup();
            QTRY_VERIFY(answers.done());
            QCOMPARE(said, QString("There is no cleanup to undo."));
        }

        // A move, undone after the window was made anew: the newest journal is found.
        form = searched();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        act(*form, actionOfKind(ActionKind::Move, target.path()), answers);
        QVERIFY(target.exists("short.dat"));
        form = searched();
        answers.answer(QMessageBox::Yes);
        answers.when<app::TfrmCleanupReport>([&](app::TfrmCleanupReport* dialog) {
            reportText = dialog->lblSummary->text();
            dialog->accept();
        });
        form->cleanupActions->undoLastCleanup();
        QTRY_VERIFY(answers.done());
        QVERIFY2(reportText.startsWith("3 files were put back."), qPrintable(reportText));
        QCOMPARE(QString::fromStdString(describeChanges(before, snapshotTree(m_tree->path()))),
                 QString());

        // A place taken meanwhile is said, with the file left where it is.
        form = searched();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        act(*form, actionOfKind(ActionKind::Trash), answers);
        m_tree->write("short.dat", "a new file took the place");
        QString details;
        answers.answer(QMessageBox::Yes);
        answers.when<app::TfrmCleanupReport>([&](app::TfrmCleanupReport* dialog) {
            reportText = dialog->lblSummary->text();
            details = dialog->memDetails->toPlainText();
            dialog->accept();
        });
        form->cleanupActions->undoLastCleanup();
        QTRY_VERIFY(answers.done());
        QVERIFY2(reportText.contains("1 file could not be put back"), qPrintable(reportText));
        QVERIFY2(details.contains(QString::fromStdString(*m_tree / "short.dat")),
                 qPrintable(details));
        QCOMPARE(m_tree->read("short.dat"), std::string("a new file took the place"));
        QVERIFY(platform::fileExists(trash() + "short.dat"));

        // Files deleted for good cannot come back, and the window says so.
        form = searched();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        act(*form, actionOfKind(ActionKind::Delete), answers);
        QString said;
        answers.acknowledge(said);
        form->cleanupActions->undoLastCleanup();
        QTRY_VERIFY(answers.done());
        QVERIFY2(said.contains("cannot be put back"), qPrintable(said));
    }

    void theEventLoopTurnsWhileLargeFilesAreCompared()
    {
        // Two sparse files of a gigabyte each that differ nowhere: the run
        // reads both to their ends before it moves one.
        const std::int64_t size = std::int64_t(1) << 30;
        for (const std::string name : {"big/one.img", "big/two.img"}) {
            m_tree->write(name, "");
            QCOMPARE(::truncate((*m_tree / name).c_str(), size), 0);
        }
        auto form = searched();
        QCOMPARE(listed(*form).size(), 2);
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::First)));
        // A size this large is said the way a person says it, too.
        QVERIFY2(form->pnlMarks->text().startsWith("Marked: 1 file, 1") &&
                     form->pnlMarks->text().endsWith(QString::fromUtf8("\u00a0GB")),
                 qPrintable(form->pnlMarks->text()));
        QElapsedTimer sinceTick;
        std::int64_t longest = 0;
        int ticks = 0;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (ticks++ > 0) {
                longest = std::max<std::int64_t>(longest, sinceTick.elapsed());
            }
            sinceTick.restart();
        });
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        answers.when<app::TfrmCleanupReport>([&](app::TfrmCleanupReport* dialog) {
            tick.stop();
            dialog->accept();
        });
        QTimer::singleShot(0, [&] {
            sinceTick.start();
            tick.start();
        });
        form->cleanupActions->actOnMarked(actionOfKind(ActionKind::Trash));
        QTRY_VERIFY(answers.done());
        QCOMPARE(form->cleanupActions->lastReport().count(cleanup::Outcome::Done), 1);
        // A generous bound for a busy machine; bench_cleanup measures the real one.
        QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
        QVERIFY2(longest < 400, qPrintable(QString::number(longest)));
        QVERIFY2(form->cleanupActions->longestTurnGapMs() < 400,
                 qPrintable(QString::number(form->cleanupActions->longestTurnGapMs())));
    }

    void theKeyboardAloneMarksTrashesAndUndoes()
    {
        twoGroups();
        auto form = searched();
        const Snapshot before = snapshotTree(m_tree->path());
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->FileListView1->setFocus(Qt::TabFocusReason);
        form->FileListView1->setCurrentIndex(form->FileListView1->model()->index(1, 0));
        // Shift+F10, M for the rules, O for the oldest.
        QTest::keyClick(form->FileListView1, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_M);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr &&
                    actionOf(qobject_cast<QMenu*>(QApplication::activePopupWidget()),
                             "Keep the oldest") != nullptr);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_O);
        QTRY_COMPARE(form->FileListView1->markedCount(), 3);
        QVERIFY(marked(*form, "short.dat") && marked(*form, "pair/one.txt"));

        // Ctrl+Delete: Enter takes the default answers.
        ModalAnswers answers;
        answers.when<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        answers.when<app::TfrmCleanupReport>(
            [](app::TfrmCleanupReport* dialog) { QTest::keyClick(dialog, Qt::Key_Return); });
        QTest::keyClick(form->FileListView1, Qt::Key_Delete, Qt::ControlModifier);
        QTRY_VERIFY(answers.done());
        QVERIFY(!m_tree->exists("short.dat"));
        QCOMPARE(whatWasLost(before, {"m/mid name.dat", "pair/two.txt"}), QString());

        // The menu's Undo, by its letter.
        form->FileListView1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->FileListView1, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        answers.when<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        answers.when<app::TfrmCleanupReport>(
            [](app::TfrmCleanupReport* dialog) { QTest::keyClick(dialog, Qt::Key_Return); });
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_U);
        QTRY_VERIFY(answers.done());
        QCOMPARE(QString::fromStdString(describeChanges(before, snapshotTree(m_tree->path()))),
                 QString());
    }

    void ctrlDeleteWithNothingMarkedKeepsItsDesignedMeaning()
    {
        twoGroups();
        auto form = searched();
        select(*form, rowOf(*form, "short.dat"));
        ModalAnswers answers;
        answers.answer(QMessageBox::No);
        QTest::keyClick(form->FileListView1, Qt::Key_Delete, Qt::ControlModifier);
        QTRY_VERIFY(answers.done());
        QVERIFY(answers.texts.value(0).startsWith("Move this file to the trash?"));
        QVERIFY(m_tree->exists("short.dat"));
    }

    void theMenuOffersWhatFitsTheRowAndReviewsAndCopies()
    {
        twoGroups();
        m_tree->write("odd/\xFF name.txt", "the pair");
        auto form = searched();
        const int row = rowOf(*form, "odd/\xFF name.txt");
        QVERIFY(row > 0);
        select(*form, row);
        std::unique_ptr<QMenu> menu(form->cleanupActions->buildMenu(row, form.get()));
        QVERIFY(!actionOf(menu.get(), "Trash marked")->isEnabled());
        QVERIFY(!actionOf(menu.get(), "Unmark all")->isEnabled());
        QVERIFY(actionOf(menu.get(), "Mark selected")->isEnabled());
        QVERIFY(!actionOf(menu.get(), "Undo last cleanup")->isEnabled());
        for (const QString words :
             {"Mark all but one in each group", "Unmark selected", "Invert marks within the group",
              "Delete marked permanently", "Replace marked by hard links",
              "Replace marked by reflinks", "Move marked to a folder...", "Open containing folder",
              "Copy path", "Review..."}) {
            QVERIFY2(actionOf(menu.get(), words) != nullptr, qPrintable(words));
        }
        actionOf(menu.get(), "Mark selected")->trigger();
        QVERIFY(form->FileListView1->isMarked(row));
        menu.reset(form->cleanupActions->buildMenu(row, form.get()));
        QVERIFY(actionOf(menu.get(), "Trash marked")->isEnabled());

        // The path as shown, and its exact bytes for programs that take files.
        actionOf(menu.get(), "Copy path")->trigger();
        const QMimeData* copied = QApplication::clipboard()->mimeData();
        QVERIFY(copied->text().endsWith(" name.txt"));
        QCOMPARE(
            copied->urls().value(0).toEncoded(QUrl::None),
            QByteArray("file://") +
                QByteArray::fromStdString(*m_tree / "odd/\xFF name.txt").toPercentEncoding("/"));

        // Review opens the designed dialog on the row.
        ModalAnswers answers;
        std::string reviewed;
        answers.when<review::TfrmFileProperties1>([&](review::TfrmFileProperties1* dialog) {
            reviewed = dialog->FileName;
            static_cast<QDialog*>(dialog)->reject();
        });
        actionOf(menu.get(), "Review...")->trigger();
        QTRY_VERIFY(answers.done());
        QCOMPARE(reviewed, *m_tree / "odd/\xFF name.txt");

        // A header row offers no file's commands.
        menu.reset(form->cleanupActions->buildMenu(0, form.get()));
        QVERIFY(!actionOf(menu.get(), "Review...")->isEnabled());
        QVERIFY(!actionOf(menu.get(), "Open containing folder")->isEnabled());
    }

    void aRightClickOpensTheMenuOverTheRowItChooses()
    {
        twoGroups();
        auto form = searched();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const int row = rowOf(*form, "pair/one.txt");
        select(*form, rowOf(*form, "short.dat"));
        const QPoint at =
            form->FileListView1->visualRect(form->FileListView1->model()->index(row, 2)).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, at,
                                form->FileListView1->viewport()->mapToGlobal(at));
        QApplication::sendEvent(form->FileListView1->viewport(), &click);
        QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(actionOf(menu, "Trash marked") != nullptr);
        // The row under the mouse is the one the menu's commands take.
        QCOMPARE(form->FileListView1->selectedFileRows(), std::vector<int>{row});
        actionOf(menu, "Mark selected")->trigger();
        menu->close();
        QCOMPARE(listed(*form), (QStringList{"*pair/one.txt", "k/deep/er/p1.dat", "m/mid name.dat",
                                             "pair/two.txt", "short.dat"}));
    }

    void theDesignedKeysAndDoubleClickKeepTheirMeaningBesideMarks()
    {
        twoGroups();
        auto form = searched();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->FileListView1->setMarked(rowOf(*form, "short.dat"), true);
        form->FileListView1->setMarked(rowOf(*form, "pair/one.txt"), true);
        // A row chosen as a user chooses it: a click on its Type.
        const auto click = [&form, this](const std::string& file, bool twice = false) {
            const QPoint at =
                form->FileListView1
                    ->visualRect(form->FileListView1->model()->index(rowOf(*form, file), 2))
                    .center();
            QTest::mouseClick(form->FileListView1->viewport(), Qt::LeftButton, {}, at);
            if (twice) {
                QTest::mouseDClick(form->FileListView1->viewport(), Qt::LeftButton, {}, at);
            }
            QCoreApplication::processEvents();
        };

        // Delete takes the clicked file alone and asks as designed.
        click("m/mid name.dat");
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        QTest::keyClick(form->FileListView1, Qt::Key_Delete);
        QTRY_VERIFY(answers.done());
        QVERIFY2(answers.texts.value(0).startsWith("Move this file to the trash?"),
                 qPrintable(answers.texts.value(0)));
        QVERIFY(!m_tree->exists("m/mid name.dat"));
        QVERIFY(m_tree->exists("short.dat") && m_tree->exists("pair/one.txt"));
        QCOMPARE(form->FileListView1->markedCount(), 2);

        // Shift+Delete asks about deleting the clicked file for good.
        click("k/deep/er/p1.dat");
        answers.texts.clear();
        answers.answer(QMessageBox::No);
        QTest::keyClick(form->FileListView1, Qt::Key_Delete, Qt::ShiftModifier);
        QTRY_VERIFY(answers.done());
        QVERIFY2(answers.texts.value(0).startsWith("Delete this file permanently?"),
                 qPrintable(answers.texts.value(0)));
        QVERIFY(m_tree->exists("k/deep/er/p1.dat"));

        // Enter and a double-click review the chosen file, not the marked ones.
        std::string reviewed;
        answers.when<review::TfrmFileProperties1>([&](review::TfrmFileProperties1* dialog) {
            reviewed = dialog->FileName;
            static_cast<QDialog*>(dialog)->reject();
        });
        QTest::keyClick(form->FileListView1, Qt::Key_Return);
        QTRY_VERIFY(answers.done());
        QCOMPARE(reviewed, *m_tree / "k/deep/er/p1.dat");
        answers.when<review::TfrmFileProperties1>([&](review::TfrmFileProperties1* dialog) {
            reviewed = dialog->FileName;
            static_cast<QDialog*>(dialog)->reject();
        });
        click("pair/two.txt", true);
        QTRY_VERIFY(answers.done());
        QCOMPARE(reviewed, *m_tree / "pair/two.txt");
        // Neither a click nor a double-click changes a mark.
        QCOMPARE(listed(*form),
                 (QStringList{"*pair/one.txt", "*short.dat", "k/deep/er/p1.dat", "pair/two.txt"}));
    }

    void moveMarkedAsksForTheFolderFirst()
    {
        twoGroups();
        TempFolder target;
        auto form = searched();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        const Snapshot before = snapshotTree(m_tree->path());
        const int row = rowOf(*form, "short.dat");
        std::unique_ptr<QMenu> menu(form->cleanupActions->buildMenu(row, form.get()));

        // A cancelled chooser asks nothing more and changes nothing.
        ModalAnswers answers;
        answers.when<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
        actionOf(menu.get(), "Move marked to a folder...")->trigger();
        QTRY_VERIFY(answers.done());
        QVERIFY(answers.texts.isEmpty());
        QCOMPARE(QString::fromStdString(describeChanges(before, snapshotTree(m_tree->path()))),
                 QString());

        QString title;
        answers.when<QFileDialog>([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            dialog->setDirectory(QString::fromStdString(target.path()));
            static_cast<QDialog*>(dialog)->accept();
        });
        answers.answer(QMessageBox::Yes);
        answers.when<app::TfrmCleanupReport>(
            [](app::TfrmCleanupReport* dialog) { dialog->accept(); });
        actionOf(menu.get(), "Move marked to a folder...")->trigger();
        QTRY_VERIFY(answers.done());
        QCOMPARE(title, QString("Gemmora - move the marked files into"));
        QVERIFY2(answers.texts.value(0).contains(QString::fromStdString(target.path())),
                 qPrintable(answers.texts.value(0)));
        // Each keeps its folders below the searched folder.
        QCOMPARE(target.read("short.dat"), std::string("group one contents"));
        QCOMPARE(target.read("k/deep/er/p1.dat"), std::string("group one contents"));
        QCOMPARE(target.read("pair/one.txt"), std::string("the pair"));
        QCOMPARE(whatWasLost(before, {"m/mid name.dat", "pair/two.txt"}), QString());
        QCOMPARE(form->FileListView1->rowCount(), 0);
    }

    void theReportIsAsWideAsALongPath()
    {
        for (const QString& details : {QString(), QString("/a/file\n    its contents differ")}) {
            app::TfrmCleanupReport dialog;
            // A path wider than the dialog at its least, that the screen still holds.
            const QFontMetrics metrics = dialog.lblJournal->fontMetrics();
            const int room = dialog.screen()->availableGeometry().width() * 8 / 10;
            std::string path = "/var/tmp/";
            while (metrics.horizontalAdvance(QString::fromStdString(path + "x/c.journal")) <
                   std::min(room, dialog.minimumWidth() + 150)) {
                path += "x";
            }
            path += "/c.journal";
            QVERIFY2(metrics.horizontalAdvance(QString::fromStdString(path)) <= room,
                     "the screen is too narrow for this test");
            dialog.setReport("Gemmora - clean up",
                             "22,105 of 22,105 files were moved to the trash, giving back "
                             "753,750,883 bytes, 753.8 MB.",
                             "&Left untouched:", details,
                             "Journal: " + QString::fromStdString(path) + "\n" +
                                 "\"Undo last cleanup\" in the list's menu (Ctrl+Z) puts these "
                                 "files back.");
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            // The path on a line of its own, whole; the summary in two lines at most.
            QVERIFY2(dialog.lblJournal->width() >=
                         metrics.horizontalAdvance(QString::fromStdString(path)),
                     qPrintable(QString::number(dialog.width())));
            QVERIFY2(dialog.lblJournal->height() <= 3 * metrics.lineSpacing() + 2,
                     qPrintable(QString::number(dialog.lblJournal->height())));
            QVERIFY2(dialog.lblSummary->height() <= 2 * metrics.lineSpacing() + 2,
                     qPrintable(QString::number(dialog.lblSummary->height())));
            QVERIFY(dialog.btnOK->geometry().bottom() < dialog.height());
        }
        // A sentence a little longer than the least width stays on one line.
        app::TfrmCleanupReport dialog;
        const QFontMetrics metrics = dialog.lblSummary->fontMetrics();
        QString sentence = "3 of 4 files were moved to the trash, giving back";
        while (metrics.horizontalAdvance(sentence + " 3.2\u00a0GB.") <=
               dialog.minimumWidth() + 3 * metrics.averageCharWidth()) {
            sentence += " 1,000";
        }
        sentence += " 3.2\u00a0GB.";
        dialog.setReport("Gemmora - clean up", sentence + "\n" + "1 file was left untouched.",
                         "&Left untouched:", "", "Journal: /tmp/c.journal");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(metrics.horizontalAdvance(sentence) > dialog.minimumWidth());
        QVERIFY2(dialog.lblSummary->height() <= 2 * metrics.lineSpacing() + 2,
                 qPrintable(QString::number(dialog.lblSummary->height())));
    }

    void aWindowAndATerminalCleaningAtOnceNeverRemoveBothCopies()
    {
        // The window keeps what is in a/, a terminal keeps what is in b/.
        for (int i = 0; i < 4; ++i) {
            const std::string contents(2 << 20, static_cast<char>('a' + i));
            m_tree->write("a/" + std::to_string(i), contents);
            m_tree->write("b/" + std::to_string(i), contents);
        }
        auto form = searched();
        QVERIFY(form->cleanupActions->markByRule(rule(KeepRule::InFolder, {*m_tree / "a/"})));
        QCOMPARE(form->FileListView1->markedCount(), 4);
        const Snapshot before = snapshotTree(m_tree->path());
        // The terminal runs to its end at the worst instant: the window's first
        // marked file has left its name and its kept file was checked through
        // the descriptor that compared it, not yet at its place.
        int terminal = -1;
        form->cleanupActions->whileAway = [&](const cleanup::PlanFile&) {
            if (terminal < 0) {
                const std::string command = std::string(GEMMORA_CLI) + " --keep 'in:" +
                                            (*m_tree / "b/") + "' --action delete --yes -q " +
                                            "--journal '" + (*m_journals / "terminal.journal") +
                                            "' '" + m_tree->path() + "' >/dev/null 2>&1";
                terminal = std::system(command.c_str());
            }
        };
        ModalAnswers answers;
        act(*form, actionOfKind(ActionKind::Delete), answers);
        QCOMPARE(terminal, 0);  // the terminal acted on every file it marked
        QVERIFY(!m_tree->exists("a/1"));
        QCOMPARE(whatWasLost(before, {}), QString());
        for (int i = 0; i < 4; ++i) {
            QVERIFY(m_tree->exists("a/" + std::to_string(i)) ||
                    m_tree->exists("b/" + std::to_string(i)));
        }
    }

    void nothingActsWhileASearchRuns()
    {
        twoGroups();
        auto form = searched();
        form->FileListView1->setMarked(rowOf(*form, "short.dat"), true);
        bool running = true;
        form->cleanupActions->searching = [&running] { return running; };
        QVERIFY(!form->cleanupActions->markByRule(rule(KeepRule::Oldest)));
        std::unique_ptr<QMenu> menu(form->cleanupActions->buildMenu(1, form.get()));
        QVERIFY(!actionOf(menu.get(), "Trash marked")->isEnabled());
        QVERIFY(!actionOf(menu.get(), "Mark all but one in each group")->isEnabled());
        form->cleanupActions->actOnMarked(actionOfKind(ActionKind::Trash));
        QVERIFY(m_tree->exists("short.dat"));
    }
};

QTEST_MAIN(CleanupWindowTest)
#include "CleanupWindowTest.moc"
