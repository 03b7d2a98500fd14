// The search's result list: rows in order, their files' facts gathered off the window's thread.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FileListResults.h"

#include <algorithm>
#include <chrono>

#include "app/MainFormCommon.h"

namespace app {

namespace {

// Rows on their way at most: what the helpers gather in kMostPendingTime
// at their recent pace, so that the list's end, and a stop, wait no longer;
// never fewer than kLeastPending (a cold disk's few hundred milliseconds)
// nor more than kMostPending. Rows come from the search in bursts: room for
// many keeps the helpers at work while the search writes none.
constexpr auto kMostPendingTime = std::chrono::milliseconds(40);
constexpr std::size_t kLeastPending = 256;
constexpr std::size_t kMostPending = 4096;
constexpr auto kWaitStep = std::chrono::milliseconds(4);

}  // namespace

FileListResults::FileListResults(views::TFileListView& list)
    : m_list(list), m_gatherer(views::TFileListView::processLocale())
{
}

int FileListResults::rowCount() const
{
    return m_list.rowCount() + static_cast<int>(m_gatherer.pending());
}

void FileListResults::clear()
{
    m_gatherer.clear();
    m_list.clearRows();
}

void FileListResults::addRow(const std::string& caption)
{
    add(caption.empty() ? Separator : Header, caption);
}

bool FileListResults::addFile(const std::string& path)
{
    add(File, path);
    if (m_gatherer.pending() < kLeastPending) {
        return true;
    }
    const std::size_t most =
        std::clamp(m_gatherer.rowsWithin(kMostPendingTime), kLeastPending, kMostPending);
    if (m_gatherer.pending() >= most) {
        showReady();
        while (m_gatherer.pending() >= most) {
            // Woken when half the rows are gathered: the search then writes
            // the next half while the helpers gather the rest.
            m_gatherer.waitFewer(most / 2, kWaitStep);
            showReady();
            if (turn) {
                turn();
            }
        }
    }
    return true;
}

void FileListResults::endUpdate()
{
    finish();
    m_list.endUpdate();
}

void FileListResults::fitColumns()
{
    finish();
    m_list.fitColumns();
}

void FileListResults::fixColumns()
{
    finish();
    m_list.fixColumns();
}

void FileListResults::setHint(const std::string& hint)
{
    m_list.setHint(display(hint));
}

void FileListResults::endGroup()
{
    add(GroupEnd, "");
}

void FileListResults::add(Kind kind, const std::string& text)
{
    // With nothing on its way, a row that needs no facts goes in at once.
    if (kind != File && m_gatherer.pending() == 0) {
        switch (kind) {
        case Header:
            m_list.addHeaderRow(text);
            return;
        case Separator:
            m_list.addSeparatorRow();
            return;
        default:
            m_list.endGroup();
            return;
        }
    }
    search::PendingRow row;
    row.kind = kind;
    row.isFile = kind == File;
    row.text = text;
    m_gatherer.add(std::move(row));
}

void FileListResults::showReady()
{
    bool headers = false;
    m_gatherer.takeReady(m_taken);
    for (search::PendingRow& row : m_taken) {
        switch (row.kind) {
        case File:
            if (row.found) {
                m_list.addGatheredFile(row.text, row.facts);
            }
            break;
        case Header:
            m_list.addHeaderRow(row.text);
            headers = true;
            break;
        case Separator:
            m_list.addSeparatorRow();
            break;
        default:
            m_list.endGroup();
            break;
        }
    }
    m_taken.clear();
    if (headers && groupsAdded) {
        groupsAdded();
    }
}

void FileListResults::finish(bool turns)
{
    showReady();
    while (m_gatherer.pending() > 0) {
        m_gatherer.waitReady(kWaitStep);
        showReady();
        if (turns && turn) {
            turn();
        }
    }
}

}  // namespace app
