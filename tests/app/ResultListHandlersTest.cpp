// Tests of clicks, keys and deletions in the result list and the tidying of groups.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ResultListHandlers.h"

#include <QHeaderView>
#include <QtTest>

#include "review/FilProps.h"
#include "support/ModalAnswer.h"
#include "support/TempFolder.h"
#include "views/FileList.h"

using views::TFileListView;

namespace {

const char H[] = "Duplicate files .....";

}  // namespace

class ResultListHandlersTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempFolder> m_dir;
    std::unique_ptr<TempFolder> m_data;
    std::unique_ptr<TFileListView> m_list;
    std::unique_ptr<review::TfrmFileProperties1> m_dialog;
    std::unique_ptr<app::ResultListHandlers> m_handlers;
    std::vector<bool> m_defaults;

    // Groups of files with equal contents: names given, "|" between groups.
    void build(const std::vector<std::string>& names)
    {
        m_list->clearRows();
        int group = 0;
        bool open = false;
        for (const std::string& name : names) {
            if (name == "|") {
                ++group;
                open = false;
                continue;
            }
            if (!open) {
                if (m_list->rowCount() > 0) {
                    m_list->addSeparatorRow();
                }
                m_list->addHeaderRow(H);
                open = true;
            }
            if (name.rfind("missing:", 0) == 0) {
                continue;  // a file that was gone when its group was written
            }
            std::int64_t size = 0;
            m_dir->write(name, "contents of group " + std::to_string(group));
            QVERIFY(m_list->AddFile(*m_dir / name, size));
        }
    }

    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < m_list->rowCount(); ++i) {
            const std::string caption = m_list->captionOf(i);
            out << QString::fromStdString(caption.rfind(m_dir->path(), 0) == 0
                                              ? caption.substr(m_dir->path().size())
                                              : caption);
        }
        return out;
    }

    void select(int index)
    {
        m_list->clearSelection();
        m_list->setRowSelected(index, true);
    }

    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        m_handlers->FileListView1KeyDown(key, modifiers, Qt::NoButton);
    }

    // The question Delete asks about the file of row `index` (answered No)
    // and its default button.
    std::pair<QString, QMessageBox::StandardButton> deleteQuestionFor(int index)
    {
        select(index);
        ModalAnswers answers;
        answers.answer(QMessageBox::No);
        press(Qt::Key_Delete);
        return {answers.texts.value(0), answers.defaults.value(0)};
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<TempFolder>();
        m_data = std::make_unique<TempFolder>();
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_data->path()));
        m_list = std::make_unique<TFileListView>();
        m_dialog = std::make_unique<review::TfrmFileProperties1>();
        m_handlers = std::make_unique<app::ResultListHandlers>(*m_list, *m_dialog);
        m_defaults.clear();
        m_handlers->setSearchDefault = [this](bool on) { m_defaults.push_back(on); };
    }

    void cleanup()
    {
        m_handlers.reset();
        m_dialog.reset();
        m_list.reset();
    }

    void deletingFromAGroupOfThreeKeepsTheGroup()
    {
        build({"a1", "a2", "a3"});
        select(2);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        QCOMPARE(rows(), (QStringList{H, "a1", "a3"}));
        QVERIFY(!m_dir->exists("a2"));
        QCOMPARE(m_data->read("Trash/files/a2"), std::string("contents of group 0"));
        QCOMPARE(m_list->hint(), QString("Double-click a file to review"));
    }

    void aGroupLeftWithOneFileGoesWithItsSeparator()
    {
        build({"a1", "a2", "|", "b1", "b2", "|", "c1", "c2"});
        select(1);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        // The first group goes with the separator after it.
        QCOMPARE(rows(), (QStringList{H, "b1", "b2", "", H, "c1", "c2"}));
        QVERIFY(m_dir->exists("a2"));

        select(6);
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        // The last group leaves the separator above it as the last row.
        QCOMPARE(rows(), (QStringList{H, "b1", "b2", ""}));
    }

    void aHeaderWithoutFileRowsStays()
    {
        build({"a1", "missing:a2", "|", "b1", "b2"});
        QCOMPARE(rows(), (QStringList{H, "a1", "", H, "b1", "b2"}));
        select(1);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        QCOMPARE(rows(), (QStringList{H, "", H, "b1", "b2"}));
    }

    void onlyShiftAloneDeletesForGood()
    {
        const std::pair<Qt::KeyboardModifiers, bool> cases[] = {
            {Qt::ShiftModifier, true},
            {Qt::NoModifier, false},
            {Qt::ControlModifier, false},
            {Qt::AltModifier, false},
            {Qt::ShiftModifier | Qt::ControlModifier, false},
        };
        int n = 0;
        for (const auto& [modifiers, permanent] : cases) {
            const std::string name = "f" + std::to_string(n++);
            build({name, name + "copy", name + "copy2"});
            select(1);
            ModalAnswers answers;
            answers.answer(QMessageBox::Yes);
            press(Qt::Key_Delete, modifiers);
            QVERIFY(!m_dir->exists(name));
            QCOMPARE(m_data->exists("Trash/files/" + name), !permanent);
            QCOMPARE(answers.texts.value(0).startsWith("Delete this file permanently?"), permanent);
            QCOMPARE(answers.defaults.value(0), permanent ? QMessageBox::No : QMessageBox::Yes);
        }
        // A mouse button held with Shift is not Shift alone.
        build({"m1", "m2", "m3"});
        select(1);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        m_handlers->FileListView1KeyDown(Qt::Key_Delete, Qt::ShiftModifier, Qt::LeftButton);
        QVERIFY(m_data->exists("Trash/files/m1"));
    }

    void aDeclinedQuestionChangesNothing()
    {
        build({"a1", "a2"});
        select(1);
        ModalAnswers answers;
        answers.answer(QMessageBox::No);
        press(Qt::Key_Delete);
        QCOMPARE(rows(), (QStringList{H, "a1", "a2"}));
        QVERIFY(m_dir->exists("a1"));
    }

    void onlyTheFirstSelectedRowIsActedOn()
    {
        build({"a1", "a2", "a3", "a4"});
        m_list->setRowSelected(4, true);
        m_list->setRowSelected(2, true);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        QCOMPARE(rows(), (QStringList{H, "a1", "a3", "a4"}));
    }

    void headersSeparatorsAndNoSelectionDoNothing()
    {
        build({"a1", "a2", "|", "b1", "b2"});
        for (int index : {0, 3}) {
            select(index);
            QCOMPARE(m_handlers->GetSelectedFilePath(), std::string());
            press(Qt::Key_Delete);
            press(Qt::Key_Return);
            m_handlers->FileListView1DblClick();
        }
        m_list->clearSelection();
        press(Qt::Key_Delete);
        QCOMPARE(rows().size(), 7);
    }

    void clicksChooseWhatEnterDoes()
    {
        build({"a1", "a2"});
        select(1);
        m_handlers->FileListView1Click();
        QCOMPARE(m_list->hint().toStdString(), *m_dir / "a1");
        select(0);
        m_handlers->FileListView1Click();
        QCOMPARE(m_list->hint(), QString("Double-click a file to review"));
        QCOMPARE(m_defaults, (std::vector<bool>{false, true}));

        // Enter on a file row opens the review, like a double-click.
        select(2);
        ModalAnswers answers;
        bool reviewed = false;
        answers.when<review::TfrmFileProperties1>([&](review::TfrmFileProperties1* d) {
            reviewed = d->FileName == *m_dir / "a2";
            d->btnOK->click();
        });
        press(Qt::Key_Enter);
        QVERIFY(reviewed);
        QCOMPARE(rows(), (QStringList{H, "a1", "a2"}));
    }

    void reviewingAndDeletingRemovesTheRow()
    {
        build({"a1", "a2", "|", "b1", "b2"});
        select(1);
        ModalAnswers answers;
        answers.when<review::TfrmFileProperties1>(
            [](review::TfrmFileProperties1* d) { d->btnDelete->click(); });
        answers.answer(QMessageBox::Yes);
        m_handlers->FileListView1DblClick();
        QCOMPARE(rows(), (QStringList{H, "b1", "b2"}));
        QVERIFY(answers.done());
    }

    void aRowWhoseFileVanishedGoesWithoutADialog()
    {
        build({"a1", "a2", "a3"});
        m_dir->remove("a2");
        select(2);
        m_handlers->FileListView1DblClick();  // no dialog to answer: it would hang
        QCOMPARE(rows(), (QStringList{H, "a1", "a3"}));
    }

    void aColumnClickChangesNothing()
    {
        build({"b1", "a1"});
        m_list->OnColumnClick = [this](int column) {
            m_handlers->FileListView1ColumnClick(column);
        };
        emit m_list->horizontalHeader()->sectionClicked(0);
        QCOMPARE(rows(), (QStringList{H, "b1", "a1"}));
    }

    void theLastCopyIsNamedAndDefaultsToNo()
    {
        build({"a1", "a2", "a3"});
        const auto ordinary = deleteQuestionFor(1);
        QVERIFY(!ordinary.first.contains("last remaining"));
        QCOMPARE(ordinary.second, QMessageBox::Yes);

        m_dir->remove("a2");
        QVERIFY(!deleteQuestionFor(1).first.contains("last remaining"));  // a3 still holds it
        m_dir->write("a3", "contents of group X");  // changed since the search
        const auto last = deleteQuestionFor(1);
        QVERIFY(last.first.contains("last remaining copy"));
        QCOMPARE(last.second, QMessageBox::No);
        QVERIFY(m_dir->exists("a1"));

        m_dir->remove("a3");
        QVERIFY(deleteQuestionFor(1).first.contains("last remaining copy"));
        m_handlers->contentsConfirmed = false;
        QVERIFY(deleteQuestionFor(1).first.contains("last remaining file of its group"));
        QCOMPARE(rows(), (QStringList{H, "a1", "a2", "a3"}));
    }

    void aNameGroupWhoseOtherFilesHoldOtherBytesLeavesTheLastCopy()
    {
        // Without the size rule a group holds files that merely share a name.
        m_handlers->contentsConfirmed = false;
        build({"x/notes.txt", "y/notes.txt", "z/notes.txt"});
        m_dir->write("y/notes.txt", "other words");
        m_dir->write("z/notes.txt", "more words");
        const auto last = deleteQuestionFor(1);
        QVERIFY(last.first.contains("last remaining copy of these contents"));
        QCOMPARE(last.second, QMessageBox::No);
        QVERIFY(m_dir->exists("x/notes.txt"));

        m_dir->write("z/notes.txt", "contents of group 0");
        const auto copied = deleteQuestionFor(1);
        QVERIFY(!copied.first.contains("last remaining"));
        QCOMPARE(copied.second, QMessageBox::Yes);
    }

    void rowsThatAreOneFileAreNoCopies()
    {
        // A folder swapped for a link to its twin: d1/a and d2/a are one file.
        build({"d1/a", "d2/a", "|", "h1", "h2"});
        m_dir->remove("d2/a");
        m_dir->remove("d2");
        m_dir->symlink(*m_dir / "d1", "d2");
        // Hard links of each other are one file too.
        m_dir->remove("h2");
        m_dir->hardlink("h1", "h2");
        for (int index : {1, 2, 5}) {
            const auto question = deleteQuestionFor(index);
            QVERIFY2(question.first.contains("last remaining copy"), qPrintable(question.first));
            QVERIFY(question.first.contains("same file"));
            QCOMPARE(question.second, QMessageBox::No);
        }

        // Yes deletes the one file, and both of its rows go.
        select(1);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        QVERIFY(!m_dir->exists("d1/a"));
        QCOMPARE(rows(), (QStringList{H, "h1", "h2"}));
    }

    void aFileNamedLikeAHeaderIsAFileAllTheSame()
    {
        const std::string named = std::string("x ") + H;
        build({"a", named, "b", "c"});
        select(2);
        QCOMPARE(m_handlers->GetSelectedFilePath(), *m_dir / named);

        // Its row above the deleted one is no header to prune from.
        select(3);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        QCOMPARE(rows(), (QStringList{H, "a", QString::fromStdString(named), "c"}));

        // It can be deleted, and its group of two then goes.
        build({"d", named});
        select(2);
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete, Qt::ShiftModifier);
        QVERIFY(!m_dir->exists(named));
        QCOMPARE(m_list->rowCount(), 0);
    }

    void theFirstOfAMillionSelectedRowsIsFoundAtOnce()
    {
        // Taken from the selection's ranges: a search for each selected row
        // would take minutes here.
        m_list->beginUpdate();
        for (int group = 0; group < 100000; ++group) {
            if (group > 0) {
                m_list->addSeparatorRow();
            }
            m_list->addHeaderRow();
            m_list->addRow("/nowhere/" + std::to_string(group) + "/a", {"1"});
            m_list->addRow("/nowhere/" + std::to_string(group) + "/b", {"1"});
        }
        m_list->endUpdate();
        m_list->selectAll();
        m_list->setRowSelected(0, false);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(m_handlers->GetSelectedFilePath(), std::string("/nowhere/0/a"));
            m_handlers->FileListView1Click();
        }
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }

    void aGroupStillBeingWrittenKeepsItsHeader()
    {
        build({"a1", "a2"});
        // The comparison writes a second group, one file at a time.
        m_list->beginUpdate();
        m_list->addSeparatorRow();
        m_list->addHeaderRow(H);
        std::int64_t size = 0;
        for (const char* name : {"b1", "b2", "b3"}) {
            m_dir->write(name, "contents of group b");
        }
        QVERIFY(m_list->AddFile(*m_dir / "b1", size));
        QVERIFY(m_list->AddFile(*m_dir / "b2", size));
        select(5);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        QVERIFY(!m_dir->exists("b1"));
        // b3 is still to come: the group keeps its header.
        QCOMPARE(rows(), (QStringList{H, "a1", "a2", "", H, "b2"}));
        QVERIFY(m_list->AddFile(*m_dir / "b3", size));
        m_list->endUpdate();
        QCOMPARE(rows(), (QStringList{H, "a1", "a2", "", H, "b2", "b3"}));

        // A group that ends with one file left goes once it is complete.
        m_list->beginUpdate();
        m_list->addSeparatorRow();
        m_list->addHeaderRow(H);
        m_dir->write("c1", "contents of group c");
        m_dir->write("c2", "contents of group c");
        QVERIFY(m_list->AddFile(*m_dir / "c1", size));
        QVERIFY(m_list->AddFile(*m_dir / "c2", size));
        select(9);
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete);
        QCOMPARE(m_list->rowCount(), 10);
        m_list->endUpdate();
        QCOMPARE(rows(), (QStringList{H, "a1", "a2", "", H, "b2", "b3", ""}));
    }

    void aNameThatIsNotUtf8IsDeletedByItsBytes()
    {
        build({"caf\xE9", "caf\xC3\xA9"});
        select(1);
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        press(Qt::Key_Delete, Qt::ShiftModifier);
        QVERIFY(!m_dir->exists("caf\xE9"));
        QVERIFY(m_dir->exists("caf\xC3\xA9"));
        QCOMPARE(m_list->rowCount(), 0);
    }
};

QTEST_MAIN(ResultListHandlersTest)
#include "ResultListHandlersTest.moc"
