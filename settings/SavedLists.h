// Where the list files live, the saving of result lists and the loading of known duplicates.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text/Locale.h"
#include "text/StringList.h"
#include "settings/ResultLines.h"

namespace settings {

// Where the list files live: beside the program file when that folder is
// writable (a build tree, a portable copy), else in the user's data folder,
// $XDG_DATA_HOME/Quarrendale/Kelvarin/ (made when missing). Ends with '/'.
// A program installed under /usr always uses the data folder, even for
// root, who may write anywhere.
std::string listFileFolder();
std::string listFileFolder(const std::string& programFile);

constexpr char kResultListName[] = "Kelvarin.lis";
constexpr char kNewListName[] = "NewDupl.lis";
constexpr char kSkipListName[] = "SkipDupl.lis";

// Writes the result list file and then the new-duplicates list (the paths
// of the file rows). An empty result list writes nothing, so the files of
// an earlier run stay. The two are written whole or not at all, together:
// after a failure (a full disk) both files of the earlier run are intact.
bool SaveResultLists(const ResultRowSource& rows, const std::string& resultListFile,
                     const std::string& newListFile);
bool SaveResultLists(const std::vector<ResultRow>& rows, const std::string& resultListFile,
                     const std::string& newListFile);

// Reads a known-duplicates list into `list`, replacing what it held. With
// `streams`, a list that is not a regular file (a pipe, as in
// `--known <(...)`) is read as a stream to its end; without, it is refused,
// since the window must never wait on one. False with errno set (EFBIG past
// 1 GiB), and the list unchanged.
bool loadKnownDuplicates(const std::string& path, text::StringList& list, bool streams);

// "previous run on yyyy-mmm-dd at hh:nn:ss" for a file's last change, in
// local time with the locale's month names.
std::string previousRunText(std::int64_t unixSeconds, const text::Locale& locale);

std::string knownDuplicatesQuestion(const std::string& previousRun);
std::string previousListQuestion(const std::string& previousRun);

// Counts reloaded rows as the comparison would have: every file row of a
// group after its first, with its Size field when that is a whole number.
class ReloadCounter {
public:
    void add(const ResultRow& row, bool hadSeveralFields);
    std::int64_t count = 0;
    std::int64_t bytes = 0;

private:
    bool m_previousFileRow = false;
};

}  // namespace settings
