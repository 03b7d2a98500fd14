// The dialogs of a cleanup in the window: its progress, and the report of what it left alone.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace app {

// The progress of a cleanup or an undo: what is being done, the file at
// hand, the count and the bytes, and Cancel. Cancel only asks: the work
// ends once the file at hand is done, and the dialog says so meanwhile.
class TfrmCleanupProgress : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCleanupProgress(QWidget* parent = nullptr);

    QLabel* lblAction;
    QLabel* lblFile;
    QLabel* lblCount;
    QLabel* lblBytes;
    QProgressBar* ProgressBar;
    QPushButton* btnCancel;

    // `file` is shown cut in the middle when it is too long for a line.
    void setFile(const QString& file);
    // Parts of a whole, shown as a bar of a thousand steps.
    void setPosition(std::int64_t done, std::int64_t total);
    bool cancelled() const { return m_cancelled; }

signals:
    void cancelRequested();

protected:
    // Escape and the close box ask for Cancel, too; the dialog closes itself
    // once the work has ended.
    void reject() override;

private:
    QString m_file;
    bool m_cancelled = false;
};

// How long work on a helper thread may take before its progress comes up:
// most runs of a few files end sooner, and a dialog that flashed up for
// them would only distract.
constexpr int kProgressDelayMs = 300;

// Runs `work` on a helper thread while this thread's event loop keeps
// turning, calling `refresh` every few milliseconds to show how far it has
// come. Until `dialog` comes up (after kProgressDelayMs) user input waits;
// then the dialog takes it, modal, and its Cancel sets `stop`, which `work`
// is to hear between steps. Returns once `work` has ended. `longestGapMs`,
// when given, receives the longest time between two turns of the loop.
void runOnHelper(TfrmCleanupProgress& dialog, const std::function<void()>& work,
                 std::atomic<bool>& stop, const std::function<void()>& refresh,
                 std::int64_t* longestGapMs = nullptr);

// Gives the event loop a turn now and then while the main thread works
// through a long list, so that a million rows do not freeze the window.
// User input waits meanwhile: no other command runs inside this one.
class Turns {
public:
    Turns() { m_since.start(); }
    void operator()()
    {
        if (m_since.elapsed() >= kTurnMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            m_since.restart();
        }
    }

private:
    static constexpr int kTurnMs = 20;
    QElapsedTimer m_since;
};

// Lets a long vector go an item at a time between turns of the loop: the
// paths of a million rows take longer to free than a turn may wait.
template <typename T> void releaseSlowly(std::vector<T>& items, Turns& turn)
{
    while (!items.empty()) {
        items.pop_back();
        turn();
    }
}

// The account of a cleanup or an undo: a summary, what could not be done
// and why, and where its journal is.
class TfrmCleanupReport : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCleanupReport(QWidget* parent = nullptr);

    QLabel* lblSummary;
    QLabel* lblDetails;
    QPlainTextEdit* memDetails;
    QLabel* lblJournal;
    QPushButton* btnOK;

    // Empty details hide the list and its caption.
    void setReport(const QString& title, const QString& summary, const QString& detailsCaption,
                   const QString& details, const QString& journal);
};

}  // namespace app
