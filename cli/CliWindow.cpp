// The search window of gemmora-cli: the result list in memory, progress and stop by signal.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliWindow.h"

#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "text/Text.h"
#include "search/FileRow.h"

namespace cli {

volatile std::sig_atomic_t g_stopRequested = 0;

void CliResultList::clear()
{
    rows.clear();
    groups.clear();
    m_stillThere.clear();
    m_count = 0;
    m_groupOpen = false;
}

void CliResultList::addRow(const std::string& caption)
{
    ++m_count;
    if (!pathsOnly) {
        rows.push_back({caption, {}});
    } else if (caption.empty()) {
        m_groupOpen = false;
    }
}

bool CliResultList::addFile(const std::string& path)
{
    if (pathsOnly) {
        // Whether it is still there is known when the search settles.
        if (!m_groupOpen) {
            ++m_group;
            m_groupOpen = true;
        }
        m_stillThere.add(m_group, path);
        ++m_count;
        return true;
    }
    search::FileRowFacts facts;
    if (!search::gatherFileRow(path, nullptr, text::Locale(), facts)) {
        return false;
    }
    rows.push_back({path, std::vector<std::string>(facts.subItems.begin(), facts.subItems.end())});
    ++m_count;
    return true;
}

void CliResultList::settle()
{
    if (!pathsOnly) {
        return;
    }
    std::vector<ListedPath> there = m_stillThere.finish();
    const std::size_t before = groups.size();
    std::size_t last = 0;
    for (ListedPath& file : there) {
        if (groups.size() == before || file.group != last) {
            groups.emplace_back();
            last = file.group;
        }
        groups.back().push_back(std::move(file.path));
    }
    std::erase_if(groups, [](const std::vector<std::string>& group) { return group.size() < 2; });
    // What is left is what will be written.
    std::size_t files = 0;
    for (const std::vector<std::string>& group : groups) {
        files += group.size();
    }
    m_count = static_cast<int>(files);
}

void CliResultList::dropUnfinishedGroup()
{
    if (pathsOnly) {
        // A group written only in part has fewer than two files: settling
        // drops it with any that files gone left alone.
        settle();
        m_groupOpen = false;
        return;
    }
    // The rows after the last header: a finished group has two files or more.
    std::size_t files = 0;
    std::size_t from = rows.size();
    while (from > 0 && !rows[from - 1].subItems.empty()) {
        --from;
        ++files;
    }
    if (files >= 2) {
        return;
    }
    // Its header and the separator before it go too.
    while (from > 0 && rows[from - 1].subItems.empty()) {
        --from;
    }
    m_count -= static_cast<int>(rows.size() - from);
    rows.resize(from);
}

std::string CliResultList::pathsText(bool null, std::size_t& leftOut) const
{
    // The paths of a group that can be written: two scans of a path, not
    // one per byte.
    auto shownOf = [null](const std::vector<std::string>& group,
                          std::vector<const std::string*>& shown) {
        shown.clear();
        for (const std::string& path : group) {
            if (null ||
                (path.find('\n') == std::string::npos && path.find('\r') == std::string::npos)) {
                shown.push_back(&path);
            }
        }
    };
    // The text is sized first: at a million files it is tens of megabytes,
    // and growing it by doubling would hold the old and the new copy at once.
    std::vector<const std::string*> shown;
    std::size_t length = 0;
    for (const std::vector<std::string>& group : groups) {
        shownOf(group, shown);
        if (shown.size() >= 2 || shown.size() == group.size()) {
            length += 2;  // the line between groups, or the zero byte ending one
            for (const std::string* path : shown) {
                length += path->size() + 1;
            }
        }
    }
    leftOut = 0;
    std::string text;
    text.reserve(length);
    for (const std::vector<std::string>& group : groups) {
        shownOf(group, shown);
        if (shown.size() < group.size()) {
            leftOut += shown.size() < 2 ? group.size() : group.size() - shown.size();
            if (shown.size() < 2) {
                continue;
            }
        }
        if (!null && !text.empty()) {
            text += '\n';
        }
        for (const std::string* path : shown) {
            text += *path;
            text += null ? '\0' : '\n';
        }
        if (null) {
            text += '\0';
        }
    }
    return text;
}

CliWindow::CliWindow(const settings::SearchOptions& options,
                     std::vector<search::SearchDrive> drives, bool progress)
    : m_options(options), m_drives(std::move(drives)), m_progress(progress)
{
}

std::string CliWindow::fieldText(search::Field field)
{
    switch (field) {
    case search::Field::FileMask:
        return m_options.FileMask;
    case search::Field::RootDir:
        return m_options.RootFolder;
    case search::Field::SkipFolder:
        return m_options.FoldersToIgnore;
    }
    return "";
}

void CliWindow::setFieldText(search::Field field, const std::string& text)
{
    switch (field) {
    case search::Field::FileMask:
        m_options.FileMask = text;
        break;
    case search::Field::RootDir:
        m_options.RootFolder = text;
        break;
    case search::Field::SkipFolder:
        m_options.FoldersToIgnore = text;
        break;
    }
}

bool CliWindow::checked(search::Check check)
{
    switch (check) {
    case search::Check::SkipSysbckup:
        return m_options.SkipSysbckupFolder;
    case search::Check::SkipDesktopFolders:
        return m_options.SkipDesktopFolders;
    case search::Check::SkipTrashFolders:
        return m_options.SkipTrashFolders;
    case search::Check::SkipEmptyFiles:
        return m_options.SkipEmptyFiles;
    case search::Check::CheckFilesize:
        return m_options.CheckFileSize;
    case search::Check::FloppyIsMaster:
        return m_options.FloppyIsMaster;
    case search::Check::CheckFileTimestamp:
        return m_options.CheckFileStamp;
    case search::Check::CheckFilename:
        return m_options.CheckFileName;
    }
    return false;
}

void CliWindow::setStatusText(int panel, const std::string& text)
{
    if (panel >= 0 && panel < 4) {
        m_status[panel] = text;
    }
}

void CliWindow::showMessage(const std::string& text)
{
    finishProgress();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void CliWindow::reportLeftOut(const search::LeftOutFile& file)
{
    ++m_leftOut;
    finishProgress();
    // Shown as a terminal would show a name: control characters in caret
    // notation, so a hostile name cannot steer the terminal.
    const std::string path = text::displayName(file.path);
    if (file.why == search::LeftOutFile::Why::Changed) {
        std::fprintf(stderr, "gemmora-cli: %s changed during the search; left out\n", path.c_str());
    } else {
        std::fprintf(stderr, "gemmora-cli: cannot read %s: %s; left out\n", path.c_str(),
                     std::strerror(file.error));
    }
}

void CliWindow::processEvents()
{
    if (g_stopRequested != 0 && !m_stopHandled && m_run != nullptr) {
        m_stopHandled = true;
        m_run->btnSearchClick();  // during a run: the Stop button
    }
    if (!m_progress) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDraw >= std::chrono::milliseconds(200)) {
        m_lastDraw = now;
        drawProgress();
    }
}

namespace {

// Cuts UTF-8 text to a number of characters, keeping its end (the deepest
// folder is the interesting part).
std::string lastColumns(const std::string& text, std::size_t columns)
{
    std::size_t count = 0;
    for (char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    if (count <= columns) {
        return text;
    }
    std::size_t skip = count - columns + 1;
    std::size_t i = 0;
    while (i < text.size() && skip > 0) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
            ++i;
        }
        --skip;
    }
    return "\xE2\x80\xA6" + text.substr(i);
}

}  // namespace

void CliWindow::drawProgress()
{
    if (m_run == nullptr) {
        return;
    }
    winsize size = {};
    std::size_t width = 80;
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) {
        width = size.ws_col;
    }
    std::string head;
    if (m_run->comparing()) {
        head = "Comparing: " + std::to_string(m_position) + " files  ";
    } else {
        head = m_status[0] + " " + std::to_string(m_run->catalogue.Catalogue.added()) + " files  ";
    }
    std::string line = text::displayName(head);
    const std::size_t used = line.size();
    if (used + 4 < width) {
        line += lastColumns(text::displayName(m_status[3]), width - used - 1);
    }
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void CliWindow::finishProgress()
{
    if (m_drawn) {
        std::fprintf(stderr, "\r\x1b[K");
        std::fflush(stderr);
        m_drawn = false;
    }
}

}  // namespace cli
