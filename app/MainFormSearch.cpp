// The main window as the search run sees it: its fields, rules, drives, captions, status, progress and turns of the event loop.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstring>
#include <new>

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

#include "app/MainForm.h"
#include "app/FileListResults.h"
#include "app/MainFormCommon.h"
#include "text/CommaText.h"

namespace app {

namespace {

constexpr auto kTurnInterval = std::chrono::milliseconds(20);
// Showing a batch of rows repaints the list: a few batches a second keep it
// lively without the painting slowing the search.
constexpr auto kShowRowsInterval = std::chrono::milliseconds(200);

}  // namespace

void TfrmMain::createResultList()
{
    m_results = std::make_unique<FileListResults>(*FileListView1);
    m_results->turn = [this] { processEvents(); };
    m_results->groupsAdded = [this] {
        if (run.running()) {
            m_groupCountGiven = true;
        } else {
            showGroupCount();
        }
    };
}

std::string TfrmMain::fieldText(search::Field field)
{
    switch (field) {
    case search::Field::FileMask:
        return edtFileMask->text().toStdString();
    case search::Field::RootDir:
        return edtRootDir->text().toStdString();
    case search::Field::SkipFolder:
        return edtSkipFolder->text().toStdString();
    }
    return "";
}

void TfrmMain::setFieldText(search::Field field, const std::string& text)
{
    const QString value = QString::fromStdString(text);
    switch (field) {
    case search::Field::FileMask:
        edtFileMask->setText(value);
        break;
    case search::Field::RootDir:
        edtRootDir->setText(value);
        break;
    case search::Field::SkipFolder:
        edtSkipFolder->setText(value);
        break;
    }
}

bool TfrmMain::checked(search::Check check)
{
    switch (check) {
    case search::Check::SkipSysbckup:
        return chkSkipSysbckup->isChecked();
    case search::Check::SkipDesktopFolders:
        return chkSkipDesktopFolders->isChecked();
    case search::Check::SkipTrashFolders:
        return chkSkipTrashFolders->isChecked();
    case search::Check::SkipEmptyFiles:
        return chkSkipEmptyFiles->isChecked();
    case search::Check::CheckFilesize:
        return chkCheckFilesize->isChecked();
    case search::Check::FloppyIsMaster:
        return chkFloppyIsMaster->isChecked();
    case search::Check::CheckFileTimestamp:
        return chkCheckFileTimestamp->isChecked();
    case search::Check::CheckFilename:
        return chkCheckFilename->isChecked();
    }
    return false;
}

std::vector<search::SearchDrive> TfrmMain::selectedDrives()
{
    std::vector<search::SearchDrive> drives = DiskListView1->selectedSearchDrives();
    if (run.running()) {
        // The run asks once its root folders are in their final form: the
        // folders it starts from are where a cleanup may follow links.
        std::vector<std::string>& roots = cleanupActions->roots;
        const auto add = [&roots](const std::string& root) {
            if (std::find(roots.begin(), roots.end(), root) == roots.end()) {
                roots.push_back(root);
            }
        };
        for (const search::SearchDrive& drive : drives) {
            if (drive.wholeDrive) {
                add(drive.prefix + "/");
                continue;
            }
            for (const std::string& root :
                 text::parseCommaText(edtRootDir->text().toStdString())) {
                add(drive.prefix + root);
            }
        }
    }
    return drives;
}

void TfrmMain::setCaption(search::Caption caption, const std::string& text)
{
    const QString value = display(text);
    switch (caption) {
    case search::Caption::Window:
        setWindowTitle(value);
        break;
    case search::Caption::SearchButton:
        // The run gives the button's words; Alt+N and Alt+S reach it.
        btnSearch->setText(value == "Stop"       ? tr("&Stop")
                           : value == "Find Now" ? tr("Find &Now")
                                                 : value);
        break;
    case search::Caption::FileListCaption:
        lblFileListCaption->setText(value);
        lblFileListCaption->resize(std::max(400, lblFileListCaption->sizeHint().width()),
                                   lblFileListCaption->height());
        break;
    }
}

void TfrmMain::setStatusText(int panel, const std::string& text)
{
    if (panel == 1) {
        // The comparison shows its totals once a group's rows are all
        // written: a group a deletion left with one file can go now.
        m_results->endGroup();
    }
    if ((panel == 1 || panel == 2) && run.running()) {
        m_totalsGiven[panel] = text;
        m_groupCountGiven = m_groupCountGiven || panel == 2;
        return;
    }
    if (panel == 1 || panel == 2) {
        m_totalsGiven[panel].reset();  // a text given later wins
    }
    if (panel >= 0 && panel < 4) {
        StatusBar1->setPanelText(panel, display(text));
    }
    if (panel == 2) {
        showGroupCount();
    }
}

void TfrmMain::showTotalsGiven()
{
    for (int panel = 1; panel <= 2; ++panel) {
        if (m_totalsGiven[panel]) {
            StatusBar1->setPanelText(panel, display(*m_totalsGiven[panel]));
            m_totalsGiven[panel].reset();
        }
    }
    if (m_groupCountGiven) {
        m_groupCountGiven = false;
        showGroupCount();
    }
}

void TfrmMain::repaintStatusBar()
{
    StatusBar1->update();
}

search::ResultList& TfrmMain::resultList()
{
    return *m_results;
}

void TfrmMain::showMessage(const std::string& text)
{
    showTotalsGiven();
    QMessageBox::information(this,
                             QApplication::applicationDisplayName().isEmpty()
                                 ? tr("Gemmora")
                                 : QApplication::applicationDisplayName(),
                             display(text));
}

void TfrmMain::setWaitCursor(bool wait)
{
    if (wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TfrmMain::showProgress(bool visible)
{
    ProgressBar->setGeometry(0, 2, StatusBar1->panelWidth(0), StatusBar1->height() - 2);
    ProgressBar->setVisible(visible);
}

void TfrmMain::setProgressMax(std::int64_t maximum)
{
    m_progressScale = 1;
    while (maximum / m_progressScale > 1000000) {
        m_progressScale *= 10;
    }
    ProgressBar->setRange(0, static_cast<int>(maximum / m_progressScale));
}

void TfrmMain::setProgressPosition(std::int64_t position)
{
    ProgressBar->setValue(static_cast<int>(position / m_progressScale));
}

void TfrmMain::reportLeftOut(const search::LeftOutFile& file)
{
    m_leftOut.push_back(file);
    // A search of a whole disk as an ordinary user can leave out thousands:
    // the count is shown at once, then a few times a second and at the end.
    const auto now = std::chrono::steady_clock::now();
    if (m_leftOut.size() == 1 || now - m_leftOutShown >= std::chrono::milliseconds(250)) {
        m_leftOutShown = now;
        showLeftOutCount();
    }
}

void TfrmMain::showLeftOutCount()
{
    btnLeftOut->setText(tr("Left out: %1").arg(m_leftOut.size()));
    btnLeftOut->setVisible(!m_leftOut.empty());
    StatusBar1->setTrailing(btnLeftOut);
}

void TfrmMain::btnLeftOutClick()
{
    // The first lines in the message itself; all of them behind its details.
    constexpr std::size_t kShown = 20;
    QStringList lines;
    for (const search::LeftOutFile& file : m_leftOut) {
        const QString why = file.why == search::LeftOutFile::Why::Changed
                                ? tr("changed during the search")
                                : QString::fromLocal8Bit(std::strerror(file.error));
        lines << QString::fromStdString(text::displayName(file.path)) + QStringLiteral(": ") +
                     why;
    }
    QString text =
        (m_leftOut.size() == 1 ? tr("One file could not be compared and is in no group:\n\n")
                               : tr("%1 files could not be compared and are in no group:\n\n")
                                     .arg(m_leftOut.size())) +
        QStringList(lines.mid(0, static_cast<int>(kShown))).join('\n');
    QMessageBox box(QMessageBox::Information, tr("Gemmora - files left out"), QString(),
                    QMessageBox::Ok, this);
    if (m_leftOut.size() > kShown) {
        text += tr("\n... and %1 more (see the details)").arg(m_leftOut.size() - kShown);
        box.setDetailedText(lines.join('\n'));
    }
    box.setText(text);
    box.exec();
}

void TfrmMain::processEvents()
{
    // A million catalogue entries must not cost a million turns; one every
    // 20 ms keeps the window responsive and a stop at once to the eye.
    // Rows whose facts are in go into the list at once, as the run writes
    // them; the list shows them at the turns.
    m_results->showReady();
    const auto now = std::chrono::steady_clock::now();
    const auto gap = now - m_lastTurn;
    if (gap < kTurnInterval) {
        return;
    }
    m_longestGap =
        std::max(m_longestGap, std::chrono::duration_cast<std::chrono::milliseconds>(gap));
    if (FileListView1->updatesEnabled() && now - m_lastRowsShown >= kShowRowsInterval) {
        FileListView1->showPendingRows();
        m_lastRowsShown = now;
    }
    showTotalsGiven();
    QCoreApplication::processEvents();
    m_lastTurn = std::chrono::steady_clock::now();
}

void TfrmMain::searchOutOfMemory()
{
    // The run has gone back to idle on its way out; what it held goes now,
    // so the window can go on with the rows found so far.
    run.catalogue.release();
    // The button says "Find Now" again: no turn here, or a click could
    // start another search inside this one's ending.
    m_results->finish(false);
    showTotalsGiven();
    while (FileListView1->updating()) {
        FileListView1->endUpdate();
    }
    setStatusText(3, "Out of memory");
    QMessageBox::critical(this, tr("Gemmora"),
                          tr("There is not enough memory to go on with the search, so it was "
                             "stopped.\n\nThe duplicates found so far are listed."));
}

}  // namespace app
