// The journal of a cleanup run: one line per step, written as it happens, read back for undo.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "text/Text.h"

namespace cleanup {

std::string escapeField(std::string_view field)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(field.size());
    for (const char c : field) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (code < 0x20 || code == 0x7F) {
            out += "\\x";
            out += kHex[code >> 4];
            out += kHex[code & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

bool unescapeField(std::string_view text, std::string& field)
{
    field.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            field += text[i];
            continue;
        }
        if (++i >= text.size()) {
            return false;
        }
        switch (text[i]) {
        case '\\':
            field += '\\';
            break;
        case 't':
            field += '\t';
            break;
        case 'n':
            field += '\n';
            break;
        case 'r':
            field += '\r';
            break;
        case 'x': {
            if (i + 2 >= text.size()) {
                return false;
            }
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return false;
            }
            field += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    // No path holds a zero byte: only a damaged journal gives one.
    return field.find('\0') == std::string::npos;
}

bool Journal::open(const std::string& path, std::string& error)
{
    m_path = path;
    m_fd.reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!m_fd.ok()) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(m_fd.get(), &st) != 0) {
        error = std::strerror(errno);
        m_fd.reset();
        return false;
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) {
        return write({step::kHeader, "1"}, error);
    }
    return true;
}

bool Journal::create(const std::string& folder, std::string& error)
{
    const std::string path = newJournalPath(folder);
    if (path.empty()) {
        m_path = folder;
        error = "no journal can be made in " + text::displayName(folder) + ": " +
                std::strerror(errno);
        return false;
    }
    return open(path, error);
}

namespace {

// Whether the open file `fd` begins with a journal's header line.
bool beginsWithHeader(int fd)
{
    constexpr std::size_t kLength = sizeof step::kHeader - 1;
    char head[kLength + 1] = {};
    return ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           std::memcmp(head, step::kHeader, kLength) == 0 &&
           (head[kLength] == '\t' || head[kLength] == '\n');
}

bool endsWithLineBreak(int fd, off_t size)
{
    char last = 0;
    return ::pread(fd, &last, 1, size - 1) == 1 && last == '\n';
}

}  // namespace

bool Journal::openNamed(const std::string& path, std::string& error)
{
    m_path = path;
    m_fd.reset();
    // A file that appears between the look and the making is looked at again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat entry = {};
        if (::lstat(path.c_str(), &entry) != 0) {
            if (errno != ENOENT) {
                error = std::strerror(errno);
                return false;
            }
            m_fd.reset(::open(path.c_str(),
                              O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              0600));
            if (m_fd.ok()) {
                return write({step::kHeader, "1"}, error);
            }
            if (errno == EEXIST) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        if (S_ISLNK(entry.st_mode)) {
            error = "it is a link, and a journal is never written through one";
            return false;
        }
        if (!S_ISREG(entry.st_mode)) {
            error = "it is no regular file (a device, a FIFO or a folder), so it cannot keep a "
                    "journal";
            return false;
        }
        m_fd.reset(::open(path.c_str(),
                          O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st = {};
        if (!m_fd.ok() || ::fstat(m_fd.get(), &st) != 0) {
            error = std::strerror(errno);
            m_fd.reset();
            return false;
        }
        if (!S_ISREG(st.st_mode) || st.st_dev != entry.st_dev || st.st_ino != entry.st_ino) {
            m_fd.reset();
            error = "it was replaced while it was being opened";
            return false;
        }
        if (st.st_size == 0) {
            return write({step::kHeader, "1"}, error);
        }
        if (!beginsWithHeader(m_fd.get())) {
            m_fd.reset();
            error = "it holds something else than a cleanup journal, and a journal is only ever "
                    "written to a new file or added to a journal";
            return false;
        }
        if (!endsWithLineBreak(m_fd.get(), st.st_size) && ::write(m_fd.get(), "\n", 1) != 1) {
            error = std::strerror(errno);
            m_fd.reset();
            return false;
        }
        return true;
    }
    error = "it keeps changing while it is being opened";
    return false;
}

bool Journal::write(const std::vector<std::string>& fields, std::string& error)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += '\t';
        }
        line += escapeField(fields[i]);
    }
    line += '\n';
    const ssize_t written = ::write(m_fd.get(), line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
        error = written < 0 ? std::strerror(errno) : "the disk is full";
        return false;
    }
    return true;
}

void Journal::sync()
{
    if (m_fd.ok()) {
        ::fdatasync(m_fd.get());
    }
}

bool readJournal(const std::string& path, std::vector<std::vector<std::string>>& lines,
                 std::string& error)
{
    std::string text;
    if (!platform::readWholeFile(path, text)) {
        error = std::strerror(errno);
        return false;
    }
    return parseJournal(text, lines, error);
}

bool parseJournal(std::string_view text, std::vector<std::vector<std::string>>& lines,
                  std::string& error)
{
    lines.clear();
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            break;  // cut short: the run ended while writing it
        }
        std::vector<std::string> fields;
        std::size_t from = begin;
        while (true) {
            const std::size_t tab = std::min(text.find('\t', from), end);
            std::string field;
            if (!unescapeField(text.substr(from, tab - from), field)) {
                error = "line " + std::to_string(lines.size() + 1) + " is damaged";
                return false;
            }
            fields.push_back(std::move(field));
            if (tab == end) {
                break;
            }
            from = tab + 1;
        }
        lines.push_back(std::move(fields));
        begin = end + 1;
    }
    if (lines.empty() || lines[0].empty() || lines[0][0] != step::kHeader) {
        error = "it is not a cleanup journal";
        return false;
    }
    return true;
}

std::string localTimeText()
{
    return text::formatLocalTime(std::time(nullptr), "%Y-%m-%dT%H:%M:%S");
}

std::string journalFileName()
{
    return "cleanup-" + text::formatLocalTime(std::time(nullptr), "%Y%m%d-%H%M%S") + ".journal";
}

namespace {

constexpr char kJournalPrefix[] = "cleanup-";
constexpr char kJournalSuffix[] = ".journal";
constexpr std::size_t kStampLength = 15;  // yyyymmdd-hhmmss

// The time stamp and the number of a journal's name; false for another name.
bool parseJournalName(const std::string& name, std::string& stamp, std::int64_t& number)
{
    const std::size_t prefix = sizeof kJournalPrefix - 1;
    const std::size_t suffix = sizeof kJournalSuffix - 1;
    if (name.size() < prefix + kStampLength + suffix || name.rfind(kJournalPrefix, 0) != 0 ||
        name.compare(name.size() - suffix, suffix, kJournalSuffix) != 0) {
        return false;
    }
    stamp = name.substr(prefix, kStampLength);
    for (std::size_t i = 0; i < kStampLength; ++i) {
        if (i == 8 ? stamp[i] != '-' : (stamp[i] < '0' || stamp[i] > '9')) {
            return false;
        }
    }
    const std::string rest =
        name.substr(prefix + kStampLength, name.size() - prefix - kStampLength - suffix);
    number = 1;
    if (rest.empty()) {
        return true;
    }
    return rest.size() >= 2 && rest.size() <= 10 && rest[0] == '-' && rest[1] != '0' &&
           text::parseInt64(rest.substr(1), number) && number >= 2;
}

}  // namespace

std::string newJournalPath(const std::string& folder)
{
    if (folder.size() > 1) {
        platform::makeFolders(folder.substr(0, folder.size() - 1), 0700);
    }
    const std::string name = journalFileName();
    const std::string stem = name.substr(0, name.size() - (sizeof kJournalSuffix - 1));
    const std::string header = std::string(step::kHeader) + "\t1\n";
    for (int number = 1; number < 100000; ++number) {
        const std::string path =
            folder + (number == 1 ? name : stem + "-" + std::to_string(number) + kJournalSuffix);
        platform::UniqueFd fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.ok()) {
            if (errno == EEXIST) {
                continue;  // a run of the same second has it
            }
            return "";
        }
        if (::write(fd.get(), header.data(), header.size()) !=
            static_cast<ssize_t>(header.size())) {
            const int error = errno != 0 ? errno : ENOSPC;
            ::unlink(path.c_str());
            errno = error;
            return "";
        }
        return path;
    }
    errno = EEXIST;
    return "";
}

std::vector<std::string> journalsIn(const std::string& folder)
{
    std::vector<platform::FileEntry> entries;
    platform::readFolder(folder, entries);
    std::vector<std::tuple<std::string, std::int64_t, std::string>> dated;
    for (const platform::FileEntry& entry : entries) {
        std::string stamp;
        std::int64_t number = 0;
        if ((entry.attributes & platform::kAttrDirectory) == 0 &&
            parseJournalName(entry.name, stamp, number)) {
            dated.emplace_back(stamp, number, folder + entry.name);
        }
    }
    std::sort(dated.begin(), dated.end());
    std::vector<std::string> paths;
    for (const auto& [stamp, number, path] : dated) {
        paths.push_back(path);
    }
    return paths;
}

std::string latestJournal(const std::string& folder)
{
    std::vector<platform::FileEntry> entries;
    platform::readFolder(folder, entries);
    std::string newest;
    std::string newestStamp;
    std::int64_t newestNumber = 0;
    for (const platform::FileEntry& entry : entries) {
        std::string stamp;
        std::int64_t number = 0;
        if ((entry.attributes & platform::kAttrDirectory) != 0 ||
            !parseJournalName(entry.name, stamp, number)) {
            continue;
        }
        // The stamp has a fixed width, so the greater text is the later time.
        if (newest.empty() || stamp > newestStamp ||
            (stamp == newestStamp && number > newestNumber)) {
            newest = entry.name;
            newestStamp = stamp;
            newestNumber = number;
        }
    }
    return newest.empty() ? std::string() : folder + newest;
}

bool summariseJournal(const std::string& path, JournalSummary& summary, std::string& error)
{
    summary = JournalSummary();
    std::vector<std::vector<std::string>> lines;
    if (!readJournal(path, lines, error)) {
        return false;
    }
    for (const std::vector<std::string>& line : lines) {
        if (line.size() >= 4 && line[0] == step::kRun && summary.started.empty()) {
            summary.started = line[2];
            summary.action = line[3];
        } else if (line.size() >= 3 && line[0] == step::kDone) {
            ++summary.done;
            if (line[2] == "trash" || line[2] == "move" || line[2] == "trash-folder" ||
                line[2] == "move-folder") {
                ++summary.canPutBack;
            }
        }
    }
    return true;
}

}  // namespace cleanup
