// The main window's list files: the offer at start, the reload of a saved list, the saving at exit.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <QElapsedTimer>
#include <QMessageBox>

#include "app/ListRows.h"
#include "app/MainForm.h"
#include "app/MainFormCommon.h"
#include "platform/FolderListing.h"
#include "settings/SavedLists.h"
#include "text/LineReader.h"

namespace app {

namespace {

// What a line of a list file is: a blank caption is a separator, a line of
// several fields a file, any other a header.
views::RowKind reloadedKind(const settings::ResultRow& row, std::size_t fields)
{
    if (text::trimView(row.caption).empty()) {
        return views::RowKind::Separator;
    }
    return fields > 1 ? views::RowKind::File : views::RowKind::Header;
}

}  // namespace

void TfrmMain::OfferSavedLists()
{
    Timer1->stop();
    const text::Locale& locale = views::TFileListView::processLocale();
    auto ask = [this](const QString& caption, const std::string& text) {
        return QMessageBox::question(this, caption, QString::fromStdString(text),
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::Yes) == QMessageBox::Yes;
    };
    platform::FileEntry entry;
    if (platform::queryFileEntry(SkipListFile, entry) &&
        ask(tr("Gemmora - known duplicates to skip list found"),
            settings::knownDuplicatesQuestion(
                settings::previousRunText(entry.writeSeconds, locale)))) {
        if (!settings::loadKnownDuplicates(SkipListFile, run.catalogue.SkipFiles, false)) {
            const int error = errno;
            QMessageBox::critical(
                this, tr("Gemmora"),
                tr("The list of known duplicates cannot be read:\n%1\n\n%2")
                    .arg(display(SkipListFile), QString::fromLocal8Bit(std::strerror(error))));
        }
    }
    if (platform::queryFileEntry(ResultListFile, entry) &&
        ask(tr("Gemmora - previous list found"),
            settings::previousListQuestion(
                settings::previousRunText(entry.writeSeconds, locale)))) {
        ReloadResultList();
        // The list the window closed with, in the columns it had then.
        restoreColumnWidths();
    }
    DiskListView1->RefreshDrives();
}

void TfrmMain::ReloadResultList()
{
    ReloadResultList(ResultListFile);
}

void TfrmMain::ReloadResultList(const std::string& path)
{
    repaintStatusBar();
    text::LineReader reader;
    if (!reader.open(path)) {
        const int error = errno;
        QMessageBox::critical(
            this, tr("Gemmora"),
            tr("The list of duplicates cannot be read:\n%1\n\n%2")
                .arg(display(path), QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    showProgress(true);
    ProgressBar->setRange(0, 1000);
    setWaitCursor(true);
    FileListView1->beginUpdate();
    FileListView1->setAllColumnWidths(0);
    const int rowsBefore = FileListView1->rowCount();
    settings::ReloadCounter counter;
    bool outOfMemory = false;
    bool fitted = false;
    try {
        // One line and one row at a time: the memory taken is that of the
        // rows kept, however the file is made.
        std::string line;
        settings::ResultRow row;
        QElapsedTimer sinceProgress;
        sinceProgress.start();
        bool filesRead = false;
        for (std::uint64_t lines = 1; reader.next(line); ++lines) {
            const std::size_t fields =
                settings::parseResultLine(line, row, views::FileListModel::kColumnCount - 1);
            const views::RowKind kind = reloadedKind(row, fields);
            if (kind != views::RowKind::File && filesRead && !fitted) {
                // As a search does: the columns fit the first group, so a
                // long path further down does not push the others out of sight.
                FileListView1->fixColumns();
                fitted = true;
            }
            filesRead = filesRead || kind == views::RowKind::File;
            FileListView1->addRow(kind, row.caption, row.subItems);
            counter.add(row, fields > 1);
            if ((lines & 1023) == 0 && sinceProgress.elapsed() >= 50) {
                ProgressBar->setValue(static_cast<int>(reader.consumed() * 1000 /
                                                       std::max<std::uint64_t>(1, reader.size())));
                ProgressBar->repaint();
                sinceProgress.restart();
            }
        }
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    const int readError = errno;
    if (outOfMemory) {
        // A list cut short would show groups that are not whole; what was
        // read goes, and with it the memory it took.
        if (rowsBefore == 0) {
            FileListView1->clearRows();
        } else {
            while (FileListView1->rowCount() > rowsBefore) {
                FileListView1->deleteRow(FileListView1->rowCount() - 1);
            }
        }
    }
    FileListView1->endUpdate();
    if (!fitted) {
        FileListView1->fixColumns();
    }
    setWaitCursor(false);
    showProgress(false);
    if (outOfMemory) {
        QMessageBox::critical(
            this, tr("Gemmora"),
            tr("There is not enough memory to reload the list of duplicates:\n%1\n\n"
               "Search again to find them.")
                .arg(display(path)));
        return;
    }
    if (reader.failed()) {
        QMessageBox::warning(
            this, tr("Gemmora"),
            tr("The list of duplicates could not be read to its end:\n%1\n\n%2")
                .arg(display(path), QString::fromLocal8Bit(std::strerror(readError))));
    }
    run.comparison.DuplicateCount += counter.count;
    run.comparison.DuplicateBytes += counter.bytes;
    handlers.contentsConfirmed = true;
    setStatusText(0, "Duplicates read from file .....");
    run.comparison.ShowTotals();
}

void TfrmMain::SaveResultLists()
{
    if (!settings::SaveResultLists(ListRows(*FileListView1), ResultListFile, NewListFile)) {
        // The window is gone by now; the earlier lists are still whole.
        const int error = errno;
        std::fprintf(stderr, "gemmora: the list of duplicates could not be saved as %s: %s\n",
                     text::displayUtf8(ResultListFile).c_str(), std::strerror(error));
    }
}

}  // namespace app
