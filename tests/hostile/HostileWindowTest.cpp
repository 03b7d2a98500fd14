// Tests of hostile trees and faults through the main window.
// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile trees and faults through the main window on the offscreen
// platform: strange names through search, list files, review and deletion;
// files that change before a deletion; the user acting on rows while the
// comparison runs; damaged settings and list files.
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSettings>
#include <QtTest>

#include "app/MainForm.h"
#include "hostile/TreeCheck.h"
#include "platform/FolderListing.h"
#include "review/FilProps.h"
#include "support/ModalAnswer.h"
#include "support/TempFolder.h"
#include "support/TestForm.h"

using app::TfrmMain;

namespace {

// A main window that lets a test act at an event-loop turn of a search, as a
// user's input would be taken there.
class HookedMain : public TfrmMain {
public:
    std::function<void()> onTurn;
    void processEvents() override
    {
        if (onTurn) {
            onTurn();
        }
        TfrmMain::processEvents();
    }
};

// The groups of the list: each header's file rows, as exact path bytes.
Groups groupsOf(const TfrmMain& form, int* headersWithoutFiles = nullptr)
{
    Groups groups;
    int empty = 0;
    for (int i = 0; i < form.FileListView1->rowCount(); ++i) {
        const std::string caption = form.FileListView1->captionOf(i);
        if (form.FileListView1->kindOf(i) == views::RowKind::Header) {
            if (!groups.empty() && groups.back().empty()) {
                ++empty;
            }
            groups.emplace_back();
        } else if (form.FileListView1->kindOf(i) == views::RowKind::File && !groups.empty()) {
            groups.back().push_back(caption);
        }
    }
    if (!groups.empty() && groups.back().empty()) {
        ++empty;
    }
    if (headersWithoutFiles != nullptr) {
        *headersWithoutFiles = empty;
    }
    return groups;
}

int rowOf(const TfrmMain& form, const std::string& path)
{
    for (int i = 0; i < form.FileListView1->rowCount(); ++i) {
        if (form.FileListView1->captionOf(i) == path) {
            return i;
        }
    }
    return -1;
}

void select(TfrmMain& form, int row)
{
    form.FileListView1->clearSelection();
    form.FileListView1->setRowSelected(row, true);
    form.FileListView1->setCurrentIndex(form.FileListView1->model()->index(row, 0));
    form.handlers.FileListView1Click();
}

void makeSocket(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof address.sun_path - 1));
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
}

const std::vector<std::string> kStrangeNames = {
    " leading",  "trailing ",   "comma, here",        "\"quoted\"",  "back\\slash",
    "tab\there", "ctl\x01\x1b", "\xFF\xFE not utf-8", "caf\xC3\xA9", "line\nbreak",
};

}  // namespace

class HostileWindowTest : public QObject {
    Q_OBJECT
private:
    TempFolder m_home;
    std::unique_ptr<TempFolder> m_tree;
    std::unique_ptr<TempFolder> m_lists;

    template <typename Form = TfrmMain> std::unique_ptr<Form> makeForm()
    {
        return makeTestForm<Form>(*m_lists, m_tree->path());
    }

    // Pairs of files with the strange names, in two folders with strange names.
    void strangeTree()
    {
        for (std::size_t i = 0; i < kStrangeNames.size(); ++i) {
            const std::string contents = "strange " + std::to_string(i);
            m_tree->write(" one, \"1\" /" + kStrangeNames[i], contents);
            m_tree->write("two\xE9/" + kStrangeNames[i], contents);
        }
    }

    std::string trashed(const std::string& name) const
    {
        return m_home / ("data/Trash/files/" + name);
    }

private slots:
    void initTestCase()
    {
        raiseOpenFileLimit();
        useTestHome(m_home);
    }

    void init()
    {
        m_tree = std::make_unique<TempFolder>();
        m_lists = std::make_unique<TempFolder>();
        QDir(QString::fromStdString(m_home / "config")).removeRecursively();
        QDir(QString::fromStdString(m_home / "data")).removeRecursively();
    }

    void aHostileTreeGivesOnlySoundGroupsAndIsLeftAsItWas()
    {
        TempFolder outside;
        outside.write("target/a.txt", "linked contents");
        m_tree->write("real/a.txt", "linked contents");
        m_tree->write("real/b.txt", "linked contents");
        m_tree->symlink(outside / "target", "to-outside");
        m_tree->symlink(m_tree->path(), "loop");
        m_tree->symlink(*m_tree / "gone", "dangling");
        m_tree->mkdir("special");
        m_tree->fifo("special/pipe");
        makeSocket(*m_tree / "special/socket");
        m_tree->write("hard/one", "hard linked");
        m_tree->hardlink("hard/one", "hard/two");
        strangeTree();
        const Snapshot before = snapshotTree(m_tree->path());

        auto form = makeForm();
        form->chkSkipEmptyFiles->setChecked(false);
        form->btnSearch->click();
        QCOMPARE(form->StatusBar1->panel(3)->text(), QString("Scan complete"));
        const Groups groups = groupsOf(*form);
        QCOMPARE(QString::fromStdString(checkGroups(groups, {m_tree->path()})), QString());
        // The pair of real files and every strange pair; no link, no pipe, no hard link.
        QCOMPARE(groups.size(), 1 + kStrangeNames.size());
        QCOMPARE(QString::fromStdString(describeChanges(before, snapshotTree(m_tree->path()))),
                 QString());
    }

    void strangeNamesSurviveTheListFilesReviewAndDeletion()
    {
        strangeTree();
        {
            auto form = makeForm();
            form->btnSearch->click();
            QCOMPARE(groupsOf(*form).size(), kStrangeNames.size());
        }  // the lists are written as the window goes
        // The group with a line break cannot be written; the rest is.
        const std::string listed = m_lists->read("NewDupl.lis");
        QVERIFY(listed.find("line") == std::string::npos);
        QVERIFY(listed.find(" one, \"1\" /\xFF\xFE not utf-8\r\n") != std::string::npos);

        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);  // reload the list, offered at the start
        auto form = makeForm();
        QVERIFY(answers.done());
        int empty = 0;
        const Groups groups = groupsOf(*form, &empty);
        QCOMPARE(empty, 0);
        QCOMPARE(groups.size(), kStrangeNames.size() - 1);
        QCOMPARE(QString::fromStdString(checkGroups(groups, {m_tree->path()})), QString());

        // Reviewed by the exact bytes, shown readably.
        const std::string tabbed = m_tree->path() + "two\xE9/tab\there";
        select(*form, rowOf(*form, tabbed));
        QString shownName;
        std::string reviewed;
        answers.when<review::TfrmFileProperties1>([&](review::TfrmFileProperties1* dialog) {
            shownName = dialog->lblName->text();
            reviewed = dialog->FileName;
            static_cast<QDialog*>(dialog)->reject();
        });
        form->handlers.FileListView1DblClick();
        QVERIFY(answers.done());
        QCOMPARE(shownName, QString("tab^Ihere"));
        QCOMPARE(reviewed, tabbed);

        // To the trash by the exact bytes; the copy stays.
        const std::string odd = m_tree->path() + " one, \"1\" /\xFF\xFE not utf-8";
        const std::string copy = m_tree->path() + "two\xE9/\xFF\xFE not utf-8";
        select(*form, rowOf(*form, odd));
        answers.answer(QMessageBox::Yes);
        form->handlers.FileListView1KeyDown(Qt::Key_Delete, Qt::NoModifier, Qt::NoButton);
        QVERIFY(answers.done());
        QVERIFY(!platform::fileExists(odd));
        QVERIFY(platform::fileExists(trashed("\xFF\xFE not utf-8")));
        QVERIFY(platform::fileExists(copy));
        QCOMPARE(rowOf(*form, copy), -1);  // its group left with one file is gone

        // For good, with Shift: a name with quotes and a comma.
        const std::string quoted = m_tree->path() + "two\xE9/\"quoted\"";
        select(*form, rowOf(*form, quoted));
        answers.answer(QMessageBox::Yes);
        form->handlers.FileListView1KeyDown(Qt::Key_Delete, Qt::ShiftModifier, Qt::NoButton);
        QVERIFY(!platform::fileExists(quoted));
        QVERIFY(platform::fileExists(m_tree->path() + " one, \"1\" /\"quoted\""));
        QCOMPARE(QString::fromStdString(checkGroups(groupsOf(*form), {m_tree->path()})), QString());
    }

    void filesThatChangeBeforeADeletionAreNotTakenForCopies()
    {
        m_tree->write("a/link-me", "linked pair");
        m_tree->write("b/link-me", "linked pair");
        m_tree->write("a/shrinks", "shrinking pair");
        m_tree->write("b/shrinks", "shrinking pair");
        auto form = makeForm();
        form->btnSearch->click();
        QCOMPARE(groupsOf(*form).size(), 2u);

        // Replaced by a link to its copy: deleting the row must not reach the copy.
        m_tree->remove("a/link-me");
        m_tree->symlink(*m_tree / "b/link-me", "a/link-me");
        select(*form, rowOf(*form, *m_tree / "a/link-me"));
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        QString failure;
        answers.acknowledge(failure);
        form->handlers.FileListView1KeyDown(Qt::Key_Delete, Qt::ShiftModifier, Qt::NoButton);
        QVERIFY(answers.done());
        QVERIFY(failure.startsWith("The file could not be deleted:"));
        QCOMPARE(m_tree->read("b/link-me"), std::string("linked pair"));
        QCOMPARE(rowOf(*form, *m_tree / "a/link-me"), -1);  // not a file there any more

        // The copy of this file shrank: this is now the last copy of its contents.
        ::truncate((*m_tree / "b/shrinks").c_str(), 3);
        select(*form, rowOf(*form, *m_tree / "a/shrinks"));
        ModalAnswers careful;
        careful.answer(QMessageBox::No);
        form->handlers.FileListView1KeyDown(Qt::Key_Delete, Qt::NoModifier, Qt::NoButton);
        QCOMPARE(careful.texts.size(), 1);
        QVERIFY(careful.texts[0].contains("last remaining copy"));
        QCOMPARE(careful.defaults[0], QMessageBox::No);
        QVERIFY(platform::fileExists(*m_tree / "a/shrinks"));
    }

    void actingOnRowsWhileTheComparisonRunsEndsInAWholeList()
    {
        // Many groups, so the comparison is still running when rows show.
        for (int i = 0; i < 300; ++i) {
            const std::string contents = std::string(1000 + i, 'x') + std::to_string(i);
            m_tree->write("a/" + std::to_string(i), contents);
            m_tree->write("b/" + std::to_string(i), contents);
        }
        auto form = makeForm<HookedMain>();
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        ModalAnswers answers;
        int step = 0;
        std::string deleted;
        std::string vanished;
        form->onTurn = [&] {
            if (!form->run.comparing() || form->FileListView1->rowCount() < 6 ||
                !form->FileListView1->updatesEnabled()) {
                return;
            }
            auto* list = form->FileListView1;
            switch (step++) {
            case 0: {
                // Delete: the file goes to the trash, its group of one goes.
                select(*form, 1);
                deleted = list->captionOf(1);
                answers.answer(QMessageBox::Yes);
                QTest::keyClick(list, Qt::Key_Delete);
                break;
            }
            case 1: {
                // Double-click: the review dialog opens and is closed.
                select(*form, 1);
                answers.when<QDialog>([](QDialog* dialog) { dialog->reject(); });
                emit list->doubleClicked(list->model()->index(1, 0));
                break;
            }
            case 2: {
                // Enter after a click on a file row reviews it too.
                select(*form, 2);
                answers.when<QDialog>([](QDialog* dialog) { dialog->reject(); });
                QTest::keyClick(list, Qt::Key_Return);
                // A file of a group not yet compared goes behind the program's back.
                vanished = m_tree->path() + "b/0";  // the smallest come last
                ::unlink(vanished.c_str());
                break;
            }
            default:
                break;
            }
        };
        form->btnSearch->click();
        form->onTurn = nullptr;
        QVERIFY(step >= 3);
        QVERIFY(answers.done());
        QCOMPARE(form->StatusBar1->panel(3)->text(), QString("Scan complete"));
        QVERIFY(!platform::fileExists(deleted));
        int empty = 0;
        const Groups groups = groupsOf(*form, &empty);
        QCOMPARE(empty, 0);
        QCOMPARE(QString::fromStdString(checkGroups(groups, {m_tree->path()})), QString());
        // All pairs but the one deleted from and the one whose file vanished.
        QCOMPARE(groups.size(), 298u);
        for (const auto& group : groups) {
            for (const std::string& path : group) {
                QVERIFY(path != deleted && path != vanished);
            }
        }
    }

    void deletingFromTheGroupBeingWrittenKeepsItWhole()
    {
        // Larger pairs come first; then a group of many copies, whose rows
        // reach the list over several turns: its first file goes while the
        // rest are still to come.
        for (int i = 0; i < 5; ++i) {
            const std::string contents = std::string(4000 + i, 'p') + std::to_string(i);
            m_tree->write("p/" + std::to_string(i), contents);
            m_tree->write("q/" + std::to_string(i), contents);
        }
        constexpr int kCopies = 5000;
        for (int i = 0; i < kCopies; ++i) {
            m_tree->write("t/" + std::to_string(i), std::string(1000, 't'));
        }
        auto form = makeForm<HookedMain>();
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        ModalAnswers answers;
        std::string deleted;
        form->onTurn = [&] {
            auto* list = form->FileListView1;
            const int header = list->openGroup();
            if (!deleted.empty() || !form->run.comparing() || header < 0 ||
                header + 1 >= list->rowCount() ||
                list->captionOf(header + 1).rfind(m_tree->path() + "t/", 0) != 0) {
                return;
            }
            deleted = list->captionOf(header + 1);
            select(*form, header + 1);
            answers.answer(QMessageBox::Yes);
            QTest::keyClick(list, Qt::Key_Delete);
        };
        form->btnSearch->click();
        form->onTurn = nullptr;
        QVERIFY(!deleted.empty());
        QVERIFY(answers.done());
        QVERIFY(!platform::fileExists(deleted));
        int empty = 0;
        const Groups groups = groupsOf(*form, &empty);
        QCOMPARE(empty, 0);
        QCOMPARE(QString::fromStdString(checkGroups(groups, {m_tree->path()})), QString());
        QCOMPARE(groups.size(), 6u);
        QCOMPARE(groups.back().size(), std::size_t(kCopies - 1));
        QVERIFY(std::find(groups.back().begin(), groups.back().end(), deleted) ==
                groups.back().end());
        QCOMPARE(form->FileListView1->kindOf(0), views::RowKind::Header);
    }

    void closingTheWindowWhileTheComparisonRunsSavesWhatWasFound()
    {
        for (int i = 0; i < 200; ++i) {
            const std::string contents = std::string(500 + i, 'c') + std::to_string(i);
            m_tree->write("a/" + std::to_string(i), contents);
            m_tree->write("b/" + std::to_string(i), contents);
        }
        m_lists->write("Kelvarin.lis", "\"Duplicate files .....\"\r\n\"/earlier/a\",1\r\n");
        m_lists->write("NewDupl.lis", "/earlier/a\r\n");
        ModalAnswers answers;
        answers.answer(QMessageBox::No);  // the earlier list is not reloaded
        auto form = makeForm<HookedMain>();
        QVERIFY(answers.done());
        form->show();
        bool closed = false;
        form->onTurn = [&] {
            if (!closed && form->run.comparing() && form->FileListView1->rowCount() > 0) {
                closed = true;
                form->close();
            }
        };
        form->btnSearch->click();
        form->onTurn = nullptr;
        QVERIFY(closed);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->StatusBar1->panel(3)->text(), QString("Comparison interrupted"));
        // What was found before the close is whole; the rest was never compared.
        const Groups groups = groupsOf(*form);
        QVERIFY(!groups.empty() && groups.size() < 200);
        QCOMPARE(QString::fromStdString(checkGroups(groups, {m_tree->path()})), QString());
        form.reset();  // the lists are written as the window goes
        const std::string saved = m_lists->read("NewDupl.lis");
        QCOMPARE(std::count(saved.begin(), saved.end(), '\n'),
                 static_cast<long>(2 * groups.size()));
        QVERIFY(m_lists->read("Kelvarin.lis")
                    .rfind("\"Duplicate files .....\"\r\n\"" + m_tree->path(), 0) == 0);
    }

    void filesLeftOutAreCountedInTheStatusBarAndListedOnRequest()
    {
        m_tree->write("pair/a", "left out pair");
        m_tree->write("pair/b", "left out pair");
        m_tree->write("kept/a", "kept pair");
        m_tree->write("kept/b", "kept pair");
        auto form = makeForm<HookedMain>();
        form->show();
        const std::string gone = m_tree->path() + "pair/b";
        form->onTurn = [&] {
            if (form->run.comparing()) {
                ::unlink(gone.c_str());  // after the walk, before the comparison reads it
            }
        };
        form->btnSearch->click();
        form->onTurn = nullptr;
        QCOMPARE(groupsOf(*form).size(), 1u);
        QVERIFY(form->btnLeftOut->isVisible());
        QCOMPARE(form->btnLeftOut->text(), QString("Left out: 1"));
        // The status panels keep their texts beside it.
        QCOMPARE(form->StatusBar1->panel(3)->text(), QString("Scan complete"));
        QVERIFY(form->StatusBar1->panel(3)->geometry().right() < form->btnLeftOut->x());

        ModalAnswers answers;
        QString listed;
        answers.acknowledge(listed);
        form->btnLeftOut->click();
        QVERIFY(answers.done());
        QVERIFY2(listed.contains(QString::fromStdString(gone) + ": " +
                                 QString::fromLocal8Bit(std::strerror(ENOENT))),
                 qPrintable(listed));

        // The next search counts afresh.
        m_tree->write("pair/b", "left out pair");
        form->btnSearch->click();
        QVERIFY(!form->btnLeftOut->isVisible());
        QCOMPARE(groupsOf(*form).size(), 2u);
    }

    void damagedSettingsGiveDefaults()
    {
        const std::string conf = m_home / "config/Quarrendale/Kelvarin.conf";
        // Bytes that are no settings file at all.
        std::string garbage;
        for (int i = 0; i < 4096; ++i) {
            garbage += static_cast<char>((i * 7919) & 0xFF);
        }
        m_home.write("config/Quarrendale/Kelvarin.conf", garbage);
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            QCOMPARE(form.edtFileMask->text(), QString("*.*"));
            QVERIFY(form.chkCheckFilesize->isChecked());
            QVERIFY(form.close());
        }
        // A folder where the file should be: it can be neither read nor written.
        m_home.remove("config/Quarrendale/Kelvarin.conf");
        m_home.mkdir("config/Quarrendale/Kelvarin.conf");
        ModalAnswers answers;
        QString error;
        answers.acknowledge(error);
        {
            TfrmMain form;
            form.ResultListFile = *m_lists / "Kelvarin.lis";
            form.NewListFile = *m_lists / "NewDupl.lis";
            QCOMPARE(form.edtFileMask->text(), QString("*.*"));
            form.show();
            QVERIFY(form.close());
        }
        QVERIFY(error.startsWith("Failed to set data for '"));
        QVERIFY(QFileInfo(QString::fromStdString(conf)).isDir());
    }

    void damagedListFilesAreReadWithoutHarm()
    {
        auto reload = [this](const std::string& text) {
            m_lists->write("Kelvarin.lis", text);
            ModalAnswers answers;
            answers.answer(QMessageBox::Yes);
            const auto started = std::chrono::steady_clock::now();
            auto form = makeForm();
            const auto took = std::chrono::steady_clock::now() - started;
            std::vector<int> counts = {
                form->FileListView1->rowCount(),
                static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(took).count())};
            return counts;
        };
        // Random bytes, with zero bytes and stray quotes.
        std::string noise;
        std::uint32_t seed = 12345;
        for (int i = 0; i < 200000; ++i) {
            seed = seed * 1103515245 + 12345;
            noise += static_cast<char>(seed >> 24);
        }
        QVERIFY(reload(noise)[0] >= 0);
        // No line end at all: one row, however long.
        QCOMPARE(reload("\"" + std::string(5 << 20, 'x') + "\",1,2,3")[0], 1);
        // Huge: a quarter of a million rows.
        std::string huge;
        for (int i = 0; i < 250000; ++i) {
            huge += i % 3 == 0 ? "\"Duplicate files .....\"\r\n"
                               : "\"/nowhere/" + std::to_string(i) + "\",1,\"x\",\"y\",,\r\n";
        }
        QCOMPARE(reload(huge)[0], 250000);
        // Larger than any list could be (sparse, so it costs no disk): not
        // read, and said why.
        {
            const int fd = ::open((*m_lists / "Kelvarin.lis").c_str(), O_WRONLY | O_TRUNC);
            QCOMPARE(::ftruncate(fd, (off_t(1) << 30) + 1), 0);
            ::close(fd);
            ModalAnswers answers;
            answers.answer(QMessageBox::Yes);
            QString error;
            answers.acknowledge(error);
            auto form = makeForm();
            QVERIFY(answers.done());
            QVERIFY(error.startsWith("The list of duplicates cannot be read:"));
            QVERIFY(error.endsWith("File too large"));
            QCOMPARE(form->FileListView1->rowCount(), 0);
        }
        // A FIFO in place of the list is not waited on.
        m_lists->remove("Kelvarin.lis");
        m_lists->fifo("Kelvarin.lis");
        auto form = makeForm();  // no question to answer: it would hang
        QCOMPARE(form->FileListView1->rowCount(), 0);
    }
};

QTEST_MAIN(HostileWindowTest)
#include "HostileWindowTest.moc"
