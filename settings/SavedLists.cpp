#include "settings/SavedLists.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "platform/StringList.h"
#include "platform/Text.h"

namespace settings {

std::string listFileFolder()
{
    return listFileFolder(platform::programFilePath());
}

std::string listFileFolder(const std::string& programFile)
{
    // A packaged program must not leave files in /usr/bin, where the
    // package manager would never remove them.
    const std::string beside(platform::folderOf(programFile));
    const bool installed = beside.rfind("/usr/", 0) == 0;
    if (!beside.empty() && !installed && ::access(beside.c_str(), W_OK) == 0) {
        return beside;
    }
    std::string data;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        data = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        data = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    while (data.size() > 1 && data.back() == '/') {
        data.pop_back();
    }
    const std::string folder = data + "/Quarrendale/Kelvarin/";
    platform::makeFolders(folder.substr(0, folder.size() - 1), 0700);
    return folder;
}

bool SaveResultLists(const std::vector<ResultRow>& rows, const std::string& resultListFile,
                     const std::string& newListFile)
{
    if (rows.empty()) {
        return true;
    }
    // Rows whose caption holds a line break are left out (see formatResultLines).
    std::vector<std::size_t> kept;
    const std::vector<std::string> lines = formatResultLines(rows, &kept);
    std::vector<std::string> paths;
    for (const std::size_t row : kept) {
        if (isFilePath(rows[row].caption)) {
            paths.push_back(rows[row].caption);
        }
    }
    return platform::writeFilesAtomically(
        {{resultListFile, platform::linesText(lines)}, {newListFile, platform::linesText(paths)}});
}

namespace {

// Reads what the descriptor gives up to its end, or up to its first zero
// byte, after which a list holds nothing (so /dev/zero ends at once).
bool readStream(int fd, std::string& contents)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        const std::size_t size = static_cast<std::size_t>(got);
        const void* zero = std::memchr(buffer, '\0', size);
        contents.append(buffer, zero != nullptr ? static_cast<const char*>(zero) - buffer : size);
        if (zero != nullptr) {
            return true;
        }
        if (contents.size() > platform::kMaxWholeFileBytes) {
            errno = EFBIG;
            return false;
        }
    }
}

}  // namespace

bool loadKnownDuplicates(const std::string& path, platform::StringList& list, bool streams)
{
    if (!streams) {
        return list.loadFromFile(path);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st = {};
    std::string contents;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        ok = false;
    }
    ok = ok && readStream(fd, contents);
    const int error = errno;
    ::close(fd);
    if (!ok) {
        errno = error;
        return false;
    }
    list.setText(contents);
    return true;
}

std::string previousRunText(std::int64_t unixSeconds, const platform::Locale& locale)
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local = {};
    ::localtime_r(&t, &local);
    char year[16];
    std::snprintf(year, sizeof year, "%04d", local.tm_year + 1900);
    return "previous run on " + std::string(year) + "-" +
           locale.shortMonths[static_cast<std::size_t>(local.tm_mon)] + "-" +
           platform::twoDigits(local.tm_mday) + " at " + platform::twoDigits(local.tm_hour) + ":" +
           platform::twoDigits(local.tm_min) + ":" + platform::twoDigits(local.tm_sec / 2 * 2);
}

std::string knownDuplicatesQuestion(const std::string& previousRun)
{
    return "A list of known duplicate files to skip was found from a\n" + previousRun +
           "\n\nReloading that list will prevent these known duplicates from being found again.\n\n"
           "Do you want to reload that list?";
}

std::string previousListQuestion(const std::string& previousRun)
{
    return "A list of duplicate files was found from a\n" + previousRun +
           "\n\nReloading that list will save time.\n\nDo you want to reload that list?";
}

void ReloadCounter::add(const ResultRow& row, bool hadSeveralFields)
{
    if (platform::trim(row.caption).empty()) {
        m_previousFileRow = false;
    }
    if (m_previousFileRow) {
        ++count;
        std::int64_t size = 0;
        if (!row.subItems.empty() && platform::parseInt64(row.subItems[0], size)) {
            bytes += size;
        }
    }
    m_previousFileRow = hadSeveralFields;
}

}  // namespace settings
