#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Locale.h"
#include "search/CatalogueList.h"
#include "search/SearchWindow.h"

namespace scanner {
class TTreeScanner;
}

namespace search {

class FileCatalogue;

// The second phase of a search: turns the catalogue into confirmed groups of
// duplicates and writes them into the result list.
class DuplicateComparison {
public:
    DuplicateComparison(SearchWindow& window, FileCatalogue& catalogue,
                        scanner::TTreeScanner& scanner, const bool& keepSearching,
                        const platform::Locale& locale);

    bool Comparing = false;
    // Every confirmed member of a group but its first.
    std::int64_t DuplicateCount = 0;
    // The size of each counted member whose contents were compared.
    std::int64_t DuplicateBytes = 0;
    // Read from the window when the comparison starts.
    bool CheckFileStamp = false;
    bool CheckFileName = false;

    void CompareCatalogue();
    // Whether `other` is a duplicate of `first`; counts it when it is.
    bool FilesMatch(std::int64_t size, const std::string& first, const std::string& other);
    // The grouping value of one file: its time stamp, or the sum of its
    // first 1024 words; never negative.
    std::uint32_t QuickChecksum(std::int64_t size, const std::string& path);
    void ShowTotals();

private:
    struct GroupEntry {
        std::uint32_t value = 0;  // size mode: the grouping value
        std::string key;          // name mode: the name in upper case
        std::string path;
        std::uint64_t order = 0;  // order of addition
        std::int32_t folder = 0;  // index of the file's folder
        // The bytes the grouping value was summed from, kept so that the
        // comparison need not read them again.
        std::string head;
        bool haveHead = false;
    };

    bool sizeMode() const;
    void addGroupEntry(std::vector<GroupEntry>& group, const CatalogueList::Entry& entry);
    bool needsGroupingValues(std::int64_t size, std::size_t members) const;
    void computeGroupingValues(std::int64_t size, std::vector<GroupEntry>& group);
    // FilesMatch, using the heads already read where both members have one.
    bool membersMatch(std::int64_t size, const GroupEntry& first, const GroupEntry& other);
    void ReportGroup(std::int64_t size, std::vector<GroupEntry>& group);
    // Writes each class of two or more members as one block.
    void writeBlocks(const std::vector<GroupEntry>& group,
                     const std::vector<std::vector<std::size_t>>& classes, std::size_t position);

    SearchWindow& m_window;
    FileCatalogue& m_catalogue;
    scanner::TTreeScanner& m_scanner;
    const bool& m_keepSearching;
    const platform::Locale& m_locale;
    bool m_columnsFitted = false;
    std::int64_t m_processed = 0;
    std::uint64_t m_additions = 0;
};

}  // namespace search
