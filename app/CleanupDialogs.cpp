// The dialogs of a cleanup in the window: its progress, and the report of what it left alone.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CleanupDialogs.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/HelperThread.h"
#include "views/FocusStyle.h"

namespace app {

namespace {

// How often the waiting side looks whether the work has ended, and how
// often it shows how far it has come.
constexpr int kPollMs = 10;
constexpr int kRefreshMs = 50;

}  // namespace

TfrmCleanupProgress::TfrmCleanupProgress(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Gemmora - clean up"));
    lblAction = new QLabel(this);
    lblAction->setWordWrap(true);
    QFont bold = lblAction->font();
    bold.setBold(true);
    lblAction->setFont(bold);
    lblFile = new QLabel(this);
    lblFile->setTextFormat(Qt::PlainText);
    lblCount = new QLabel(this);
    lblBytes = new QLabel(this);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setRange(0, 1000);
    ProgressBar->setTextVisible(false);
    ProgressBar->setAccessibleName(tr("Progress"));
    btnCancel = new QPushButton(tr("Cancel"), this);
    btnCancel->setAutoDefault(false);
    views::showKeyboardFocus(btnCancel);
    lblFile->setAccessibleName(tr("File at hand"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblAction);
    layout->addSpacing(4);
    layout->addWidget(lblFile);
    layout->addWidget(lblCount);
    layout->addWidget(lblBytes);
    layout->addWidget(ProgressBar);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    // Wide enough for its title and a good part of a long path.
    setMinimumWidth(fontMetrics().averageCharWidth() * 70);
    lblFile->setMinimumWidth(fontMetrics().averageCharWidth() * 64);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmCleanupProgress::reject);
}

void TfrmCleanupProgress::setFile(const QString& file)
{
    if (file == m_file) {
        return;
    }
    m_file = file;
    const int width = std::max(lblFile->width(), lblFile->minimumWidth());
    lblFile->setText(lblFile->fontMetrics().elidedText(file, Qt::ElideMiddle, width));
    lblFile->setToolTip(file);
}

void TfrmCleanupProgress::setPosition(std::int64_t done, std::int64_t total)
{
    const int permille =
        total > 0 ? static_cast<int>(std::clamp<std::int64_t>(done * 1000 / total, 0, 1000)) : 0;
    if (permille != ProgressBar->value()) {
        ProgressBar->setValue(permille);
    }
}

void TfrmCleanupProgress::reject()
{
    if (!m_cancelled) {
        m_cancelled = true;
        btnCancel->setEnabled(false);
        lblCount->setText(tr("Stopping once the file at hand is done ..."));
        emit cancelRequested();
    }
}

void runOnHelper(TfrmCleanupProgress& dialog, const std::function<void()>& work,
                 std::atomic<bool>& stop, const std::function<void()>& refresh,
                 std::int64_t* longestGapMs)
{
    std::atomic<bool> done{false};
    const auto body = [&] {
        work();
        done = true;
    };
    std::thread helper;
    try {
        helper = platform::startHelperThread(body);
    } catch (const std::system_error&) {
        body();  // no thread to be had: better a pause than nothing done
    }

    QElapsedTimer elapsed;
    elapsed.start();
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    QElapsedTimer sinceRefresh;
    sinceRefresh.start();
    std::int64_t longest = 0;
    const auto turnUntil = [&](QEventLoop::ProcessEventsFlags flags,
                               const std::function<bool()>& finished) {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(kPollMs);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            longest = std::max<std::int64_t>(longest, sinceTurn.restart());
            if (sinceRefresh.elapsed() >= kRefreshMs) {
                refresh();
                sinceRefresh.restart();
            }
            if (finished()) {
                loop.quit();
            }
        });
        poll.start();
        if (!finished()) {
            loop.exec(flags);
        }
    };
    // Meanwhile input is held back, not lost: no second command runs inside this one.
    turnUntil(QEventLoop::ExcludeUserInputEvents,
              [&] { return done.load() || elapsed.elapsed() >= kProgressDelayMs; });
    if (!done) {
        const QMetaObject::Connection cancel = QObject::connect(
            &dialog, &TfrmCleanupProgress::cancelRequested, [&stop] { stop = true; });
        refresh();
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        turnUntil(QEventLoop::AllEvents, [&] { return done.load(); });
        QObject::disconnect(cancel);
        dialog.hide();
    }
    if (helper.joinable()) {
        helper.join();
    }
    refresh();
    if (longestGapMs != nullptr) {
        *longestGapMs = longest;
    }
}

TfrmCleanupReport::TfrmCleanupReport(QWidget* parent) : QDialog(parent)
{
    lblSummary = new QLabel(this);
    lblSummary->setWordWrap(true);
    lblSummary->setTextFormat(Qt::PlainText);
    lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblDetails = new QLabel(this);
    memDetails = new QPlainTextEdit(this);
    memDetails->setReadOnly(true);
    // Each reason is read whole, without scrolling sideways.
    memDetails->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memDetails->setTabChangesFocus(true);
    // A cursor that the keys move: the list can be read and copied from
    // the keyboard, and the focus shows.
    memDetails->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    lblDetails->setBuddy(memDetails);
    lblJournal = new QLabel(this);
    lblJournal->setWordWrap(true);
    lblJournal->setTextFormat(Qt::PlainText);
    lblJournal->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnOK = new QPushButton(tr("OK"), this);
    btnOK->setDefault(true);
    views::showKeyboardFocus(btnOK);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblSummary);
    layout->addWidget(lblDetails);
    layout->addWidget(memDetails, 1);
    layout->addWidget(lblJournal);
    layout->addLayout(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 80);
}

void TfrmCleanupReport::setReport(const QString& title, const QString& summary,
                                  const QString& detailsCaption, const QString& details,
                                  const QString& journal)
{
    setWindowTitle(title);
    lblSummary->setText(summary);
    lblDetails->setText(detailsCaption);
    memDetails->setPlainText(details);
    memDetails->setAccessibleName(QString(detailsCaption).remove('&').remove(':'));
    lblDetails->setVisible(!details.isEmpty());
    memDetails->setVisible(!details.isEmpty());
    lblJournal->setText(journal);
    lblJournal->setVisible(!journal.isEmpty());
    // Without a list as high as its words, with one higher and free to grow.
    setMinimumHeight(details.isEmpty() ? 0 : fontMetrics().height() * 16);
    // As wide as the journal's line, as far as the screen allows: a path
    // broken in the middle is hard to read and to copy. A line of the
    // summary a little longer than the least width is not broken either,
    // which would leave its last word alone on a line.
    int widest = 0;
    for (const QString& line : journal.split('\n')) {
        widest = std::max(widest, lblJournal->fontMetrics().horizontalAdvance(line));
    }
    const int sentence = lblSummary->fontMetrics().averageCharWidth() * 100;
    for (const QString& line : summary.split('\n')) {
        const int width = lblSummary->fontMetrics().horizontalAdvance(line);
        if (width <= sentence) {
            widest = std::max(widest, width);
        }
    }
    const QMargins margins = layout()->contentsMargins();
    int width = std::max(sizeHint().width(), widest + margins.left() + margins.right() + 2);
    if (const QScreen* shown = parentWidget() != nullptr ? parentWidget()->screen() : screen()) {
        width = std::min(width, shown->availableGeometry().width() * 9 / 10);
    }
    width = std::max(width, minimumWidth());
    const int height =
        layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width) : sizeHint().height();
    resize(width, std::max(height, minimumHeight()));
    btnOK->setFocus();
}

}  // namespace app
