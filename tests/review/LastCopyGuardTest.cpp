// Tests of the guarded one-file delete: the wait, its questions and a live window.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/LastCopyGuard.h"

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include "support/ModalAnswer.h"
#include "support/TempFolder.h"

using namespace std::chrono;

namespace {

// Watches the modal windows of a guarded deletion from a timer, as a user
// would see them: how long the event loop went without a turn, whether a
// wait came up, and each question, answered in turn from `answers`.
class GuardWatch : public QObject {
public:
    explicit GuardWatch(std::vector<QMessageBox::StandardButton> answers)
        : m_answers(std::move(answers))
    {
        connect(&m_timer, &QTimer::timeout, this, &GuardWatch::tick);
        m_last = steady_clock::now();
        m_timer.start(5);
    }

    // Cancels the wait once it has shown some progress.
    bool cancelWait = false;
    milliseconds longestGap{0};
    bool waitShown = false;
    int waitProgress = 0;
    QString waitText;
    QStringList questions;
    QList<QMessageBox::StandardButton> defaults;

private:
    void tick()
    {
        const auto now = steady_clock::now();
        longestGap = std::max(longestGap, duration_cast<milliseconds>(now - m_last));
        m_last = now;
        QWidget* top = QApplication::activeModalWidget();
        if (auto* wait = qobject_cast<QProgressDialog*>(top);
            wait != nullptr && wait->isVisible()) {
            waitShown = true;
            waitText = wait->labelText();
            waitProgress = std::max(waitProgress, wait->value());
            if (cancelWait && wait->value() > 0) {
                wait->findChild<QPushButton*>()->click();
            }
        } else if (auto* box = qobject_cast<QMessageBox*>(top);
                   box != nullptr && box->isVisible()) {
            questions << box->text();
            defaults << (box->defaultButton() ? box->standardButton(box->defaultButton())
                                              : QMessageBox::NoButton);
            const QMessageBox::StandardButton answer =
                m_answers.empty() ? QMessageBox::No : m_answers.front();
            if (!m_answers.empty()) {
                m_answers.erase(m_answers.begin());
            }
            box->button(answer)->click();
        }
    }

    QTimer m_timer;
    steady_clock::time_point m_last;
    std::vector<QMessageBox::StandardButton> m_answers;
};

}  // namespace

class LastCopyGuardTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempFolder> m_dir;
    std::unique_ptr<TempFolder> m_data;
    std::unique_ptr<QWidget> m_window;

    // A file of `size` bytes that is all hole but for `head` at its start:
    // as large as a film, taking no room on the disk.
    std::string sparse(const std::string& name, std::int64_t size, const std::string& head = "")
    {
        const std::string path = m_dir->write(name, head);
        if (::truncate(path.c_str(), size) != 0) {
            qFatal("cannot make %s sparse", path.c_str());
        }
        return path;
    }

    platform::LastCopyQuery query(const std::string& file, const std::string& other)
    {
        return platform::LastCopyQuery{*m_dir / file, {*m_dir / other}, false};
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<TempFolder>();
        m_data = std::make_unique<TempFolder>();
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_data->path()));
        m_window = std::make_unique<QWidget>();
        m_window->show();
    }

    void cleanup() { m_window.reset(); }

    void twoLargeCopiesKeepTheWindowLiveAndTheWaitCancels()
    {
        // Compared to their last byte, two 8 GiB copies take seconds or more.
        const std::int64_t size = std::int64_t(8) << 30;
        sparse("film.mkv", size);
        sparse("backup/film.mkv", size);
        GuardWatch watch({});
        watch.cancelWait = true;
        const auto started = steady_clock::now();
        const bool gone = review::deleteWithLastCopyGuard(
            m_window.get(), query("film.mkv", "backup/film.mkv"), false);
        const auto took = steady_clock::now() - started;
        QVERIFY(!gone);
        QVERIFY(m_dir->exists("film.mkv"));
        QVERIFY(watch.waitShown);
        QVERIFY(watch.waitText.contains("film.mkv"));
        QVERIFY(watch.waitProgress > 0);
        // A cancelled check asks nothing and deletes nothing.
        QCOMPARE(watch.questions, QStringList());
        QVERIFY2(watch.longestGap < milliseconds(500),
                 qPrintable(QString::number(watch.longestGap.count())));
        QVERIFY(took < seconds(30));
    }

    void theQuestionComesAsSoonAsTheAnswerIsKnown()
    {
        {
            // Different in their first byte: no need to read on, nor to wait.
            const std::int64_t size = std::int64_t(8) << 30;
            sparse("a.iso", size, "A");
            sparse("b/a.iso", size, "B");
            GuardWatch watch({QMessageBox::No});
            QVERIFY(
                !review::deleteWithLastCopyGuard(m_window.get(), query("a.iso", "b/a.iso"), false));
            QVERIFY(!watch.waitShown);
            QCOMPARE(watch.questions.size(), 1);
            QVERIFY(watch.questions[0].contains("last remaining copy"));
            QCOMPARE(watch.defaults[0], QMessageBox::No);
        }
        // Equal to the end: the ordinary question once the last byte is read.
        sparse("c.iso", std::int64_t(256) << 20, "C");
        sparse("d/c.iso", std::int64_t(256) << 20, "C");
        GuardWatch watch({QMessageBox::Yes});
        QVERIFY(review::deleteWithLastCopyGuard(m_window.get(), query("c.iso", "d/c.iso"), true));
        QCOMPARE(watch.questions.size(), 1);
        QVERIFY(watch.questions[0].startsWith("Delete this file permanently?"));
        QVERIFY(!watch.questions[0].contains("last remaining"));
        QVERIFY(!m_dir->exists("c.iso"));
        QVERIFY(m_dir->exists("d/c.iso"));
    }

    void aCopyThatStopsBeingOneWhileAskedIsAskedAboutAgain()
    {
        m_dir->write("d1/a", "twin contents");
        m_dir->write("d2/a", "twin contents");
        ModalAnswers answers;
        // While the first question is up, d2 is swapped for a link to d1:
        // its row now reaches the very file about to be deleted.
        answers.when<QMessageBox>([&](QMessageBox* box) {
            answers.texts << box->text();
            m_dir->remove("d2/a");
            m_dir->remove("d2");
            m_dir->symlink(*m_dir / "d1", "d2");
            box->button(QMessageBox::Yes)->click();
        });
        answers.answer(QMessageBox::No);
        QVERIFY(!review::deleteWithLastCopyGuard(m_window.get(), query("d1/a", "d2/a"), false));
        QVERIFY(answers.done());
        QCOMPARE(answers.texts.size(), 2);
        QVERIFY(!answers.texts[0].contains("last remaining"));
        QVERIFY(answers.texts[1].contains("last remaining copy"));
        QVERIFY(answers.texts[1].contains("checked again"));
        QVERIFY(answers.texts[1].contains("same file"));
        QCOMPARE(answers.defaults.value(0), QMessageBox::No);
        QVERIFY(m_dir->exists("d1/a"));
    }

    void aCopyUnchangedSinceTheQuestionLetsTheDeletionGoAhead()
    {
        m_dir->write("keep/a", "twin contents");
        m_dir->write("drop/a", "twin contents");
        ModalAnswers answers;
        answers.answer(QMessageBox::Yes);
        QVERIFY(review::deleteWithLastCopyGuard(m_window.get(), query("drop/a", "keep/a"), false));
        QCOMPARE(answers.texts.size(), 1);
        QCOMPARE(m_data->read("Trash/files/a"), std::string("twin contents"));
        QCOMPARE(m_dir->read("keep/a"), std::string("twin contents"));
    }
};

QTEST_MAIN(LastCopyGuardTest)
#include "LastCopyGuardTest.moc"
