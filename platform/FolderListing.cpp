// Lists a folder's entries with their sizes, times and attributes, and matches file masks.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderListing.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "text/Text.h"

namespace platform {

namespace {

std::uint32_t attributesOf(std::string_view name, const struct stat& st, dev_t parentDevice)
{
    std::uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode)) {
        attributes |= kAttrDirectory;
        if (st.st_dev != parentDevice) {
            attributes |= kAttrSystem;
        }
    }
    if (!name.empty() && name.front() == '.') {
        attributes |= kAttrHidden;
    }
    if ((st.st_mode & S_IWUSR) == 0) {
        attributes |= kAttrReadOnly;
    }
    return attributes;
}

void fillEntry(FileEntry& entry, const struct stat& st)
{
    entry.size = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : 0;
    entry.writeSeconds = st.st_mtim.tv_sec;
    entry.writeNanoseconds = st.st_mtim.tv_nsec;
    entry.changeNanoseconds =
        static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    entry.device = st.st_dev;
    entry.inode = st.st_ino;
}

// Opens a folder without following a link in its last component.
int openFolder(const std::string& folder)
{
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.empty()) {
        return -1;
    }
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

namespace {

struct LinuxDirent {
    ino64_t inode;
    off64_t next;
    unsigned short length;
    unsigned char type;
    char name[1];
};

// Reads the entries of an open folder straight from getdents64, which
// saves the descriptor checks that fdopendir makes for every folder.
bool listEntries(int fd, dev_t device, std::vector<FileEntry>& entries,
                 std::vector<std::string>* others)
{
    alignas(8) char buffer[64 * 1024];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (long at = 0; at < got;) {
            const auto* item = reinterpret_cast<const LinuxDirent*>(buffer + at);
            at += item->length;
            const char* name = item->name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            // Links, FIFOs, sockets and devices are known from the folder
            // itself on most file systems, without a query of their own.
            if (item->type != DT_UNKNOWN && item->type != DT_REG && item->type != DT_DIR) {
                if (others != nullptr) {
                    others->emplace_back(name);
                }
                continue;
            }
            struct stat st = {};
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;  // gone since the folder was read
            }
            if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
                if (others != nullptr) {
                    others->emplace_back(name);
                }
                continue;
            }
            FileEntry entry;
            entry.name = name;
            entry.attributes = attributesOf(entry.name, st, device);
            fillEntry(entry, st);
            entries.push_back(std::move(entry));
        }
    }
}

}  // namespace

bool readOpenFolder(int fd, dev_t device, std::vector<FileEntry>& entries,
                    std::vector<std::string>* others)
{
    return listEntries(fd, device, entries, others);
}

bool readFolder(const std::string& folder, std::vector<FileEntry>& entries)
{
    const int fd = openFolder(folder);
    if (fd < 0) {
        return false;
    }
    struct stat self = {};
    const bool ok = ::fstat(fd, &self) == 0 && listEntries(fd, self.st_dev, entries, nullptr);
    ::close(fd);
    return ok;
}

bool passesRequest(std::uint32_t attributes, std::uint32_t request)
{
    const std::uint32_t filtered = kAttrHidden | kAttrSystem | kAttrVolumeLabel;
    return (attributes & filtered & ~request) == 0;
}

namespace {

std::size_t utf8Step(std::string_view text, std::size_t at)
{
    std::size_t next = at + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) {
        ++next;
    }
    return next;
}

bool globMatch(std::string_view name, std::string_view mask)
{
    std::size_t n = 0;
    std::size_t m = 0;
    std::size_t starMask = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            ++m;
            n = utf8Step(name, n);
        } else if (m < mask.size() && text::upperAscii(mask[m]) == text::upperAscii(name[n])) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

}  // namespace

bool matchesMask(std::string_view name, std::string_view mask)
{
    if (name.empty() || mask.empty()) {
        return false;
    }
    if (mask == "*" || mask == "*.*") {
        return true;  // the usual mask: no need to walk the name
    }
    if (globMatch(name, mask)) {
        return true;
    }
    if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
        name.find('.') == std::string_view::npos) {
        return globMatch(name, mask.substr(0, mask.size() - 2));
    }
    return false;
}

std::vector<FileEntry> listFolder(const std::string& folder, std::string_view mask,
                                  std::uint32_t request)
{
    std::vector<FileEntry> all;
    readFolder(folder, all);
    std::vector<FileEntry> result;
    for (FileEntry& entry : all) {
        if (matchesMask(entry.name, mask) && passesRequest(entry.attributes, request)) {
            result.push_back(std::move(entry));
        }
    }
    return result;
}

bool queryFileEntry(const std::string& path, FileEntry& entry)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    entry.name = std::string(nameOf(path));
    // A file's own entry cannot tell whether its folder is a mount point; files
    // never carry the system bit.
    entry.attributes = attributesOf(entry.name, st, st.st_dev);
    fillEntry(entry, st);
    return true;
}

bool fileExists(const std::string& path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool fileExistsIn(const std::string& folder, std::string_view name)
{
    std::string path = folder;
    path += name;
    return fileExists(path);
}

bool makeFolders(const std::string& path, mode_t mode)
{
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        const std::string partial = path.substr(0, at);
        if (!partial.empty() && ::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
            return false;
        }
    }
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string currentFolder()
{
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            return "";
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string programFilePath()
{
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return "";
    }
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

std::uint32_t packedDosTime(std::int64_t unixSeconds)
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local = {};
    if (::localtime_r(&t, &local) == nullptr) {
        return 0;
    }
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) {
        return 0;
    }
    const std::uint32_t date = static_cast<std::uint32_t>(
        ((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    const std::uint32_t time = static_cast<std::uint32_t>((local.tm_hour << 11) |
                                                          (local.tm_min << 5) | (local.tm_sec / 2));
    return (date << 16) | time;
}

std::uint64_t fileTimeTicks(std::int64_t unixSeconds, std::int64_t nanoseconds)
{
    constexpr std::int64_t kEpochDifference = 11644473600;
    const std::int64_t seconds = unixSeconds + kEpochDifference;
    if (seconds < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(seconds) * 10000000u +
           static_cast<std::uint64_t>(nanoseconds / 100);
}

std::string_view nameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view folderOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

}  // namespace platform
