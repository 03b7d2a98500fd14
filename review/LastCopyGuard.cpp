// Runs the last-copy check off the window's thread, with a wait that can be cancelled.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/LastCopyGuard.h"

#include <memory>
#include <system_error>
#include <thread>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include "platform/FolderListing.h"
#include "platform/HelperThread.h"
#include "text/Text.h"
#include "review/SafeDelete.h"

namespace review {

namespace {

// How often the waiting side looks for the answer and moves the bar.
constexpr std::chrono::milliseconds kPoll{20};

// What the helper thread and the waiting side share; the helper holds it
// too, so it outlives whichever side ends first.
struct CheckState {
    platform::LastCopyProgress progress;
    platform::LastCopyAnswer answer;
    std::atomic<bool> done{false};
};

// Runs one event loop until `finished` says so, looking every kPoll.
void turnUntil(QEventLoop::ProcessEventsFlags flags, const std::function<bool()>& finished)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPoll);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished()) {
            loop.quit();
        }
    });
    poll.start();
    if (!finished()) {
        loop.exec(flags);
    }
}

}  // namespace

std::optional<platform::LastCopyAnswer> waitForLastCopyCheck(QWidget* parent,
                                                             const platform::LastCopyQuery& query)
{
    auto state = std::make_shared<CheckState>();
    const auto work = [state, query] {
        state->answer = platform::checkLastCopy(query, state->progress);
        state->done = true;
    };
    std::thread helper;
    try {
        helper = platform::startHelperThread(work);
    } catch (const std::system_error&) {
        work();  // no thread to be had: better a pause than no check
    }
    const auto isDone = [&] { return state->done.load(); };

    // Most checks end at once; a wait that flashed up for them would only
    // distract. Meanwhile input is held back, not lost: no second Delete or
    // "Find Now" runs inside this one.
    QElapsedTimer elapsed;
    elapsed.start();
    turnUntil(QEventLoop::ExcludeUserInputEvents,
              [&] { return isDone() || elapsed.elapsed() >= kLastCopyWaitDelay.count(); });

    bool cancelled = false;
    if (!isDone()) {
        QProgressDialog wait(parent);
        wait.setWindowTitle(QObject::tr("Gemmora - delete file"));
        wait.setLabelText(
            QObject::tr("Looking for another copy of\n%1\namong the files of its group ...")
                .arg(QString::fromStdString(text::displayName(query.path))));
        wait.setCancelButtonText(QObject::tr("Cancel"));
        wait.setWindowModality(Qt::ApplicationModal);
        wait.setAutoReset(false);
        wait.setAutoClose(false);
        wait.setMinimumDuration(0);
        wait.setRange(0, 1000);
        // Wide enough for its title and a long path.
        wait.setMinimumWidth(wait.fontMetrics().averageCharWidth() * 60);
        QObject::connect(&wait, &QProgressDialog::canceled, [&] {
            cancelled = true;
            state->progress.stop = true;
        });
        wait.show();
        turnUntil(QEventLoop::AllEvents, [&] {
            const std::int64_t total = state->progress.bytesTotal;
            const int permille =
                total > 0 ? static_cast<int>(state->progress.bytesCompared * 1000 / total) : 0;
            // A modal progress dialog turns the event loop in setValue.
            if (permille != wait.value()) {
                wait.setValue(permille);
            }
            return isDone() || cancelled || wait.wasCanceled();
        });
        if (wait.wasCanceled()) {
            cancelled = true;
            state->progress.stop = true;
        }
        wait.hide();
    }
    // A stopped helper ends within one chunk's read.
    if (helper.joinable()) {
        helper.join();
    }
    if (cancelled || state->answer.cancelled) {
        return std::nullopt;
    }
    return state->answer;
}

bool deleteWithLastCopyGuard(QWidget* parent, const platform::LastCopyQuery& query, bool permanent)
{
    bool changed = false;
    for (;;) {
        const std::optional<platform::LastCopyAnswer> answer = waitForLastCopyCheck(parent, query);
        if (!answer) {
            return !platform::fileExists(query.path);
        }
        std::string question = deleteQuestion(query.path, permanent, *answer);
        if (changed) {
            question += "\n\nIts group changed while you were asked, so it was checked again.";
        }
        if (!askBeforeDeleting(parent, question, permanent, answer->lastCopy)) {
            return !platform::fileExists(query.path);
        }
        // The question may have stood for minutes: the copy it relied on
        // must still be another file with these bytes now. A file that has
        // gone meanwhile is left to the deletion to report.
        if (!platform::fileExists(query.path)) {
            return deleteAsked(parent, query.path, permanent);
        }
        bool copyGone = !platform::answerStillHolds(query, *answer);
        if (!copyGone) {
            if (answer->lastCopy != LastCopy::No) {
                return deleteAsked(parent, query.path, permanent);
            }
            // And once more at the moment of the deletion, by the guard of
            // the cleanup: the file leaves its name, the copy is checked at
            // its place, and only then does the file go.
            const bool gone =
                deleteAskedKeepingCopy(parent, query.path, permanent, *answer, copyGone);
            if (!copyGone) {
                return gone;
            }
        }
        changed = true;
    }
}

}  // namespace review
