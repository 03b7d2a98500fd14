// Where the list files live, the saving of result lists and the loading of known duplicates.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SavedLists.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "text/Text.h"

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

bool SaveResultLists(const ResultRowSource& rows, const std::string& resultListFile,
                     const std::string& newListFile)
{
    if (rows.rowCount() == 0) {
        return true;
    }
    // The two texts are made straight from the rows: no copy of the list and
    // no list of lines stand between them.
    std::string result;
    std::string paths;
    forEachResultLine(rows, [&](std::size_t, const ResultRow& row, const std::string& line) {
        result += line;
        result += "\r\n";
        if (isFilePath(row.caption)) {
            paths += row.caption;
            paths += "\r\n";
        }
    });
    std::vector<std::pair<std::string, std::string>> files;
    files.emplace_back(resultListFile, std::move(result));
    files.emplace_back(newListFile, std::move(paths));
    return platform::writeFilesAtomically(files);
}

bool SaveResultLists(const std::vector<ResultRow>& rows, const std::string& resultListFile,
                     const std::string& newListFile)
{
    class Rows : public ResultRowSource {
    public:
        explicit Rows(const std::vector<ResultRow>& rows) : m_rows(rows) {}
        std::size_t rowCount() const override { return m_rows.size(); }
        void readRow(std::size_t index, ResultRow& row) const override { row = m_rows[index]; }

    private:
        const std::vector<ResultRow>& m_rows;
    } source(rows);
    return SaveResultLists(source, resultListFile, newListFile);
}

bool loadKnownDuplicates(const std::string& path, text::StringList& list, bool streams)
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
    // A list holds nothing after a zero byte, so /dev/zero ends at once.
    ok = ok && platform::readToEnd(fd, contents, true, platform::kMaxWholeFileBytes);
    const int error = errno;
    ::close(fd);
    if (!ok) {
        errno = error;
        return false;
    }
    list.setText(contents);
    return true;
}

std::string previousRunText(std::int64_t unixSeconds, const text::Locale& locale)
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local = {};
    ::localtime_r(&t, &local);
    char year[16];
    std::snprintf(year, sizeof year, "%04d", local.tm_year + 1900);
    return "previous run on " + std::string(year) + "-" +
           locale.shortMonths[static_cast<std::size_t>(local.tm_mon)] + "-" +
           text::twoDigits(local.tm_mday) + " at " + text::twoDigits(local.tm_hour) + ":" +
           text::twoDigits(local.tm_min) + ":" + text::twoDigits(local.tm_sec / 2 * 2);
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
    if (text::trim(row.caption).empty()) {
        m_previousFileRow = false;
    }
    if (m_previousFileRow) {
        ++count;
        std::int64_t size = 0;
        if (!row.subItems.empty() && text::parseInt64(row.subItems[0], size)) {
            bytes += size;
        }
    }
    m_previousFileRow = hadSeveralFields;
}

}  // namespace settings
