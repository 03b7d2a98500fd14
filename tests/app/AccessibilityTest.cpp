// Tests of keyboard and screen-reader access to the main window and the review dialog.
// SPDX-License-Identifier: GPL-3.0-or-later
// Keyboard and screen-reader access to the main window and the review
// dialog, through the accessibility tree a screen reader sees and the keys a
// keyboard user presses.
#include <QAccessible>
#include <QMenu>
#include <QtTest>

#include "app/CleanupDialogs.h"
#include "app/MainForm.h"
#include "review/FilProps.h"
#include "support/Captions.h"
#include "support/ModalAnswer.h"
#include "support/TempFolder.h"
#include "support/TestForm.h"

using app::TfrmMain;

namespace {

// Roles of the things a user acts on; each needs a name a screen reader can say.
bool isControl(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::EditableText:
    case QAccessible::ComboBox:
    case QAccessible::List:
    case QAccessible::Tree:
    case QAccessible::Table:
    case QAccessible::PageTab:
    case QAccessible::PageTabList:
    case QAccessible::SpinBox:
    case QAccessible::ProgressBar:
        return true;
    default:
        return false;
    }
}

QString describe(QAccessibleInterface* node)
{
    QString what = QString::number(node->role(), 16);
    if (QObject* object = node->object()) {
        what += " " + object->objectName() + " " + object->metaObject()->className();
    }
    return what;
}

// Every control under `root` that is shown, with its name, walking the tree
// a screen reader walks.
void collectControls(QAccessibleInterface* node, QList<QAccessibleInterface*>& out, int depth = 0)
{
    QVERIFY2(depth < 40, "the accessibility tree loops");
    if (node->state().invisible) {
        return;
    }
    if (isControl(node->role())) {
        out << node;
    }
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i)) {
            QCOMPARE(child->parent(), node);
            collectControls(child, out, depth + 1);
        }
    }
}

QString nameOf(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).trimmed();
}

QString descriptionOf(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description).trimmed();
}

// The widgets that Tab can reach in `window` as it stands.
QList<QWidget*> focusableControls(QWidget* window)
{
    QList<QWidget*> out;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if ((widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && widget->isVisible() &&
            widget->isEnabled() && widget->focusProxy() == nullptr) {
            out << widget;
        }
    }
    return out;
}

// Walks the Tab chain once round from the focus widget, as a keyboard user
// does, and checks that every control is reached and looks different with
// the focus than just before Tab gave it.
void checkKeyboardWalk(QWidget* window)
{
    const QList<QWidget*> controls = focusableControls(window);
    QVERIFY(!controls.isEmpty());
    QSet<QWidget*> reached;
    QStringList unseen;
    QWidget* first = QApplication::focusWidget();
    QVERIFY(first != nullptr);
    for (int step = 0; step <= controls.size() * 2; ++step) {
        QWidget* current = QApplication::focusWidget();
        reached.insert(current);
        // The control after this one, as it looks without the focus.
        QWidget* next = current->nextInFocusChain();
        while (next != current && !controls.contains(next)) {
            next = next->nextInFocusChain();
        }
        const QImage without = next->grab().toImage();
        QTest::keyClick(current, Qt::Key_Tab);
        QApplication::processEvents();
        QWidget* now = QApplication::focusWidget();
        if (now == next && next->grab().toImage() == without) {
            unseen << nameOf(next) + " (" + next->metaObject()->className() + ")";
        }
        if (now == first) {
            break;
        }
    }
    for (QWidget* control : controls) {
        QVERIFY2(reached.contains(control),
                 qPrintable("Tab does not reach " + nameOf(control) + " (" +
                            control->metaObject()->className() + ")"));
    }
    QVERIFY2(unseen.isEmpty(), qPrintable("the focus is not visible on " + unseen.join(", ")));
}

// The Alt keys of the captions shown together must differ.
void checkMnemonicsDiffer(QWidget* window)
{
    QMap<QKeySequence, QString> keys;
    auto add = [&](const QString& caption) {
        const QKeySequence key = QKeySequence::mnemonic(caption);
        if (key.isEmpty()) {
            return;
        }
        QVERIFY2(!keys.contains(key),
                 qPrintable(caption + " and " + keys.value(key) + " share " + key.toString()));
        keys.insert(key, caption);
    };
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->isVisible() && button->window() == window) {
            add(button->text());
        }
    }
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->isVisible() && label->window() == window && label->buddy() != nullptr) {
            add(label->text());
        }
    }
    for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count() && tabs->isVisible() && tabs->window() == window; ++i) {
            if (tabs->isTabVisible(i)) {
                add(tabs->tabText(i));
            }
        }
    }
}

void activate(QWidget* window)
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

}  // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private:
    TempFolder m_home;
    std::unique_ptr<TempFolder> m_tree;
    std::unique_ptr<TempFolder> m_lists;

    std::unique_ptr<TfrmMain> makeForm()
    {
        m_tree->write("a/copy.txt", "same contents");
        m_tree->write("b/copy.txt", "same contents");
        auto form = makeTestForm(*m_lists, m_tree->path());
        form->btnSearchClick();  // a result list with rows, as a user tabs through it
        return form;
    }

private slots:
    void initTestCase() { useTestHome(m_home); }

    void init()
    {
        m_tree = std::make_unique<TempFolder>();
        m_lists = std::make_unique<TempFolder>();
    }

    void everyControlOfTheMainWindowIsNamed()
    {
        auto form = makeForm();
        activate(form.get());
        QVERIFY(form->DiskListView1->topLevelItemCount() > 0);
        QVERIFY(form->FileListView1->rowCount() > 0);
        for (int page = 0; page < form->PageControl1->count(); ++page) {
            form->PageControl1->setCurrentIndex(page);
            QList<QAccessibleInterface*> controls;
            collectControls(QAccessible::queryAccessibleInterface(form.get()), controls);
            QStringList found;
            for (QAccessibleInterface* control : controls) {
                found << describe(control) + "=" + control->text(QAccessible::Name);
            }
            QVERIFY2(controls.size() >= 13, qPrintable(found.join("; ")));
            for (QAccessibleInterface* control : controls) {
                QVERIFY2(!control->text(QAccessible::Name).trimmed().isEmpty(),
                         qPrintable("no name: " + describe(control)));
            }
        }
        // A field is named by its label, without the mark of its Alt key.
        QCOMPARE(nameOf(form->edtFileMask), QString("Find:"));
        QCOMPARE(nameOf(form->edtRootDir), QString("In:"));
        QCOMPARE(nameOf(form->edtSkipFolder), QString("Skip:"));
        QCOMPARE(nameOf(form->btnSearch), QString("Find Now"));
        QCOMPARE(nameOf(form->chkCheckFileTimestamp), QString("Same date & time"));
        // Where the caption alone does not say what a control is for, the
        // description does.
        for (QWidget* control : std::initializer_list<QWidget*>{
                 form->edtFileMask, form->edtRootDir, form->edtSkipFolder, form->DiskListView1,
                 form->FileListView1, form->chkFloppyIsMaster, form->chkSkipSysbckup,
                 form->chkSkipDesktopFolders, form->chkIncludeHiddenFolders,
                 form->chkCheckFilesize}) {
            QVERIFY2(descriptionOf(control).size() > nameOf(control).size(),
                     qPrintable("no description: " + nameOf(control)));
        }
    }

    void theDesignedCaptionsKeepTheirWords()
    {
        TfrmMain form;
        QCOMPARE(shownCaption(form.Label2->text()), QString("Find: "));
        QCOMPARE(shownCaption(form.Label7->text()), QString("In: "));
        QCOMPARE(shownCaption(form.Label1->text()), QString("Skip: "));
        QCOMPARE(shownCaption(form.btnSearch->text()), QString("Find Now"));
        QCOMPARE(shownCaption(form.btnExit->text()), QString("Exit"));
        QCOMPARE(shownCaption(form.PageControl1->tabText(0)), QString(" Require "));
        QCOMPARE(shownCaption(form.PageControl1->tabText(1)), QString(" Advanced "));
        QCOMPARE(shownCaption(form.chkCheckFileTimestamp->text()), QString("Same date & time"));
        QCOMPARE(shownCaption(form.chkCheckFilename->text()), QString("Same name"));
        QCOMPARE(shownCaption(form.chkSkipEmptyFiles->text()), QString("Skip zero-length files"));
        QCOMPARE(shownCaption(form.chkFloppyIsMaster->text()), QString("Treat floppy as master"));
        QCOMPARE(shownCaption(form.chkSkipSysbckup->text()), QString("Skip SYSBCKUP folder"));
        QCOMPARE(shownCaption(form.chkSkipDesktopFolders->text()),
                 QString("Skip Desktop.ini folders"));
        QCOMPARE(shownCaption(form.chkCheckFilesize->text()), QString("Require same size"));
    }

    void altKeysReachTheFieldsPagesAndButtons()
    {
        auto form = makeForm();
        activate(form.get());
        form->btnExit->setFocus();
        QTest::keyClick(form.get(), Qt::Key_F, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), form->edtFileMask);
        QTest::keyClick(form.get(), Qt::Key_I, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), form->edtRootDir);
        QTest::keyClick(form.get(), Qt::Key_K, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), form->edtSkipFolder);
        QTest::keyClick(form.get(), Qt::Key_A, Qt::AltModifier);
        QCOMPARE(form->PageControl1->currentWidget(), form->TabSheetAdvanced);
        QTest::keyClick(form.get(), Qt::Key_R, Qt::AltModifier);
        QCOMPARE(form->PageControl1->currentWidget(), form->TabSheetBasic);
        const bool sameTime = form->chkCheckFileTimestamp->isChecked();
        QTest::keyClick(form.get(), Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE(form->chkCheckFileTimestamp->isChecked(), !sameTime);
        QTest::keyClick(form.get(), Qt::Key_A, Qt::AltModifier);
        QTest::keyClick(form.get(), Qt::Key_U, Qt::AltModifier);
        QTRY_VERIFY(form->chkIncludeHiddenFolders->isChecked());
        QTest::keyClick(form.get(), Qt::Key_R, Qt::AltModifier);
        QCOMPARE(QKeySequence::mnemonic(form->btnSearch->text()),
                 QKeySequence(Qt::ALT | Qt::Key_N));
        QCOMPARE(QKeySequence::mnemonic(form->btnExit->text()), QKeySequence(Qt::ALT | Qt::Key_X));
        // Alt+N starts the search, as a click on "Find Now" does.
        form->FileListView1->clearRows();
        QTest::keyClick(form.get(), Qt::Key_N, Qt::AltModifier);
        QTRY_VERIFY(form->FileListView1->rowCount() > 0);
        for (int page = 0; page < form->PageControl1->count(); ++page) {
            form->PageControl1->setCurrentIndex(page);
            checkMnemonicsDiffer(form.get());
        }
    }

    void theStopButtonKeepsAnAltKey()
    {
        auto form = makeForm();
        form->setCaption(search::Caption::SearchButton, "Stop");
        QCOMPARE(shownCaption(form->btnSearch->text()), QString("Stop"));
        QCOMPARE(QKeySequence::mnemonic(form->btnSearch->text()),
                 QKeySequence(Qt::ALT | Qt::Key_S));
        form->setCaption(search::Caption::SearchButton, "Find Now");
        QCOMPARE(QKeySequence::mnemonic(form->btnSearch->text()),
                 QKeySequence(Qt::ALT | Qt::Key_N));
    }

    void tabReachesEveryControlOfTheMainWindowAndShowsTheFocus()
    {
        auto form = makeForm();
        activate(form.get());
        for (int page = 0; page < form->PageControl1->count(); ++page) {
            form->PageControl1->setCurrentIndex(page);
            form->edtFileMask->setFocus();
            checkKeyboardWalk(form.get());
        }
    }

    void enterShowsTheFileReachedWithTheArrowKeys()
    {
        auto form = makeForm();
        activate(form.get());
        form->FileListView1->setFocus(Qt::TabFocusReason);
        form->FileListView1->setCurrentIndex(form->FileListView1->model()->index(0, 0));
        QVERIFY(form->searchIsDefault());
        QTest::keyClick(form->FileListView1, Qt::Key_Down);
        QVERIFY(!form->searchIsDefault());
        std::string shown;
        ModalAnswers answers;
        answers.when<review::TfrmFileProperties1>([&](review::TfrmFileProperties1* dialog) {
            shown = dialog->FileName;
            dialog->done(1);
        });
        QTest::keyClick(form->FileListView1, Qt::Key_Return);
        QTRY_VERIFY(answers.done());
        QCOMPARE(QString::fromStdString(shown),
                 QString::fromStdString(form->FileListView1->captionOf(1)));
        QCOMPARE(form->FileListView1->rowCount(), 3);  // no new search emptied the list
        // Back up to the group's header: Enter searches again, as designed.
        QTest::keyClick(form->FileListView1, Qt::Key_Up);
        QVERIFY(form->searchIsDefault());
    }

    void theCleanupDialogsAndTheListsMenuAreNamedAndReached()
    {
        app::TfrmCleanupProgress progress;
        progress.lblAction->setText("Moving the marked files to the trash");
        progress.setFile("/home/ann/photos/beach.jpg");
        activate(&progress);
        QList<QAccessibleInterface*> controls;
        collectControls(QAccessible::queryAccessibleInterface(&progress), controls);
        QCOMPARE(controls.size(), 2);  // the bar and Cancel
        for (QAccessibleInterface* control : controls) {
            QVERIFY2(!control->text(QAccessible::Name).trimmed().isEmpty(),
                     qPrintable("no name: " + describe(control)));
        }
        QCOMPARE(nameOf(progress.btnCancel), QString("Cancel"));
        // Escape asks to stop, as Cancel does.
        QSignalSpy cancel(&progress, &app::TfrmCleanupProgress::cancelRequested);
        QTest::keyClick(&progress, Qt::Key_Escape);
        QCOMPARE(cancel.count(), 1);

        app::TfrmCleanupReport report;
        report.setReport("Gemmora - clean up", "1 of 2 files were moved to the trash.",
                         "&Left untouched:", "/a\n    it is gone\n", "Journal: /j");
        activate(&report);
        controls.clear();
        collectControls(QAccessible::queryAccessibleInterface(&report), controls);
        QVERIFY(controls.size() >= 2);
        for (QAccessibleInterface* control : controls) {
            QVERIFY2(!control->text(QAccessible::Name).trimmed().isEmpty(),
                     qPrintable("no name: " + describe(control)));
        }
        QCOMPARE(nameOf(report.memDetails), QString("Left untouched"));
        checkMnemonicsDiffer(&report);
        report.btnOK->setFocus();
        checkKeyboardWalk(&report);
        QTest::keyClick(&report, Qt::Key_L, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), report.memDetails);

        // The list's menu: every entry has words and an Alt key of its own.
        auto form = makeForm();
        std::unique_ptr<QMenu> menu(form->cleanupActions->buildMenu(1, form.get()));
        QVERIFY(!menu->accessibleName().isEmpty());
        for (QMenu* shown : {menu.get(), menu->actions().front()->menu()}) {
            QVERIFY(shown != nullptr);
            QSet<QKeySequence> keys;
            for (QAction* action : shown->actions()) {
                if (action->isSeparator()) {
                    continue;
                }
                const QKeySequence key = QKeySequence::mnemonic(action->text());
                QVERIFY2(!key.isEmpty() && !keys.contains(key), qPrintable(action->text()));
                keys.insert(key);
            }
        }
    }

    void everyControlOfTheReviewDialogIsNamedAndReached()
    {
        review::TfrmFileProperties1 dialog;
        dialog.FileName = VERSION_FIXTURE_DIR "/app64.exe";
        activate(&dialog);
        QCOMPARE(shownCaption(dialog.btnView->text()), QString("View"));
        QCOMPARE(shownCaption(dialog.btnDelete->text()), QString("Delete"));
        QCOMPARE(shownCaption(dialog.btnOK->text()), QString("OK"));
        QCOMPARE(shownCaption(dialog.PageControl1->tabText(1)), QString("Version"));
        for (int page = 0; page < dialog.PageControl1->count(); ++page) {
            dialog.PageControl1->setCurrentIndex(page);
            QList<QAccessibleInterface*> controls;
            collectControls(QAccessible::queryAccessibleInterface(&dialog), controls);
            QVERIFY(controls.size() >= 5);
            for (QAccessibleInterface* control : controls) {
                QVERIFY2(!control->text(QAccessible::Name).trimmed().isEmpty(),
                         qPrintable("no name: " + describe(control)));
            }
            checkMnemonicsDiffer(&dialog);
            dialog.btnOK->setFocus();
            checkKeyboardWalk(&dialog);
        }
        QCOMPARE(nameOf(dialog.lbxNames), QString("Item name"));
        QCOMPARE(nameOf(dialog.memValues), QString("Value:"));
        // The attribute boxes only show the file's flags.
        QVERIFY(descriptionOf(dialog.chkReadOnly).size() > nameOf(dialog.chkReadOnly).size());
        QTest::keyClick(&dialog, Qt::Key_G, Qt::AltModifier);
        QCOMPARE(dialog.PageControl1->currentIndex(), 0);
        QTest::keyClick(&dialog, Qt::Key_E, Qt::AltModifier);
        QCOMPARE(dialog.PageControl1->currentIndex(), 1);
        QTest::keyClick(&dialog, Qt::Key_I, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), dialog.lbxNames);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
