#include "search/Comparison.h"

#include <algorithm>

#include "platform/FileContents.h"
#include "platform/FolderListing.h"
#include "platform/IoPriority.h"
#include "platform/Text.h"
#include "scanner/TreeScan.h"
#include "search/FileCatalogue.h"

namespace search {

namespace {

const char kHeader[] = "Duplicate files .....";

// Every entry counts as the same size in name mode.
constexpr std::int64_t kNameModeSize = 0;

// The most bytes of file heads one group keeps in memory.
constexpr std::size_t kHeadBudget = 64u << 20;

}  // namespace

DuplicateComparison::DuplicateComparison(SearchWindow& window, FileCatalogue& catalogue,
                                         scanner::TTreeScanner& scanner, const bool& keepSearching,
                                         const platform::Locale& locale)
    : m_window(window), m_catalogue(catalogue), m_scanner(scanner), m_keepSearching(keepSearching),
      m_locale(locale)
{
}

bool DuplicateComparison::sizeMode() const
{
    return m_catalogue.CheckFileSize;
}

void DuplicateComparison::ShowTotals()
{
    m_window.setStatusText(1, "Bytes: " + platform::formatCount(DuplicateBytes, m_locale));
    m_window.setStatusText(2, "Files: " + platform::formatCount(DuplicateCount, m_locale));
}

std::uint32_t DuplicateComparison::QuickChecksum(std::int64_t size, const std::string& path)
{
    if (size == 0 || !sizeMode()) {
        return 0;
    }
    if (CheckFileStamp) {
        platform::FileEntry entry;
        if (!platform::queryFileEntry(path, entry) || entry.size != size) {
            return 0;
        }
        return platform::packedDosTime(entry.writeSeconds) & 0x7FFFFFFFu;
    }
    return platform::quickSum(path, size);
}

bool DuplicateComparison::FilesMatch(std::int64_t size, const std::string& first,
                                     const std::string& other)
{
    if (!sizeMode()) {
        ++DuplicateCount;
        return true;
    }
    if (CheckFileName && platform::lowerCase(platform::nameOf(first)) !=
                             platform::lowerCase(platform::nameOf(other))) {
        return false;
    }
    if (size == 0) {
        ++DuplicateCount;
        return true;
    }
    if (!platform::sameContents(first, other, size)) {
        return false;
    }
    DuplicateBytes += size;
    ++DuplicateCount;
    return true;
}

void DuplicateComparison::addGroupEntry(std::vector<GroupEntry>& group,
                                        const CatalogueList::Entry& file)
{
    GroupEntry entry;
    entry.path = m_catalogue.pathOf(file);
    entry.order = m_additions++;
    entry.folder = file.folder;
    if (!sizeMode()) {
        entry.key = platform::upperCase(platform::nameOf(entry.path));
    }
    group.push_back(std::move(entry));
}

bool DuplicateComparison::needsGroupingValues(std::int64_t size, std::size_t members) const
{
    // Two files of one size form one run if their sums agree, and then
    // their whole contents decide; comparing them at once gives the same
    // block without reading their heads first. Time stamps always count.
    return CheckFileStamp || size == 0 || members != 2;
}

void DuplicateComparison::computeGroupingValues(std::int64_t size, std::vector<GroupEntry>& group)
{
    // Files are read folder by folder, in the order the walk met them: the
    // kernel finds neighbours faster than files scattered over the tree.
    std::vector<std::size_t> order(group.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&group](std::size_t a, std::size_t b) { return group[a].folder < group[b].folder; });
    std::size_t headBytes = 0;
    for (std::size_t index : order) {
        GroupEntry& entry = group[index];
        if (size != 0 && !CheckFileStamp) {
            entry.haveHead = platform::readHead(entry.path, size, entry.head);
            entry.value = entry.haveHead ? platform::headSum(entry.head) : 0;
            // A group of very many files of one size keeps no more heads than
            // the budget allows; the rest are read again when compared.
            headBytes += entry.head.size();
            if (!entry.haveHead || headBytes > kHeadBudget) {
                entry.haveHead = false;
                std::string().swap(entry.head);
            }
        } else {
            entry.value = QuickChecksum(size, entry.path);
        }
        m_window.processEvents();
    }
}

bool DuplicateComparison::membersMatch(std::int64_t size, const GroupEntry& first,
                                       const GroupEntry& other)
{
    if (!sizeMode() || size == 0 || !first.haveHead || !other.haveHead) {
        return FilesMatch(size, first.path, other.path);
    }
    if (CheckFileName && platform::lowerCase(platform::nameOf(first.path)) !=
                             platform::lowerCase(platform::nameOf(other.path))) {
        return false;
    }
    // The heads are the first bytes of both files; only the rest is read.
    if (first.head != other.head ||
        (size > platform::kHeadBytes &&
         !platform::sameContents(first.path, other.path, size, platform::kHeadBytes))) {
        return false;
    }
    DuplicateBytes += size;
    ++DuplicateCount;
    return true;
}

void DuplicateComparison::CompareCatalogue()
{
    Comparing = true;
    DuplicateBytes = 0;
    DuplicateCount = 0;
    m_processed = 0;
    ResultList& list = m_window.resultList();

    list.fitColumns();
    m_columnsFitted = false;
    list.beginUpdate();
    std::vector<GroupEntry> group;

    CatalogueList& catalogue = m_catalogue.Catalogue;
    catalogue.sortNow([this] { m_window.processEvents(); });
    m_window.setProgressMax(catalogue.empty() ? 1
                                              : static_cast<std::int64_t>(catalogue.size()) - 1);
    m_window.showProgress(true);
    CheckFileStamp = m_window.checked(Check::CheckFileTimestamp);
    CheckFileName = m_window.checked(Check::CheckFilename);
    m_window.setCaption(Caption::FileListCaption, "Comparing files ...");
    list.clear();

    {
        // Reading thousands of files must not slow down what the user is doing.
        const platform::IdleIoPriority idle;
        std::int64_t previousSize = -1;
        // The previous entry by value: its name stays in the catalogue's
        // name buffer, and paths are made only for members of groups.
        CatalogueList::Entry previous;
        bool inGroup = false;
        const bool bySize = sizeMode();

        while (!catalogue.empty() && m_keepSearching) {
            const CatalogueList::Entry entry = catalogue[catalogue.size() - 1];
            const std::int64_t size = bySize ? entry.size : kNameModeSize;
            const bool same = size == previousSize &&
                              (!CheckFileName || platform::equalFold(catalogue.nameOf(entry),
                                                                     catalogue.nameOf(previous)));

            if (same && !inGroup) {
                group.clear();
                addGroupEntry(group, previous);
                if (bySize) {
                    const std::string count = platform::formatCount(previousSize, m_locale);
                    m_window.setStatusText(3, CheckFileName
                                                  ? "Comparing " + count +
                                                        " byte files with the same name ..."
                                                  : "Comparing " + count + " byte files ...");
                } else {
                    m_window.setStatusText(3, "Comparing files with the same name ...");
                }
                m_window.repaintStatusBar();
            }
            inGroup = same;
            if (!same && !group.empty()) {
                ReportGroup(previousSize, group);
                group.clear();
            } else if (same) {
                addGroupEntry(group, entry);
            }

            previousSize = size;
            previous = entry;
            ++m_processed;
            catalogue.removeLast();
            if ((m_processed & 1023) == 0) {
                m_window.setProgressPosition(m_processed);
            }
            m_window.processEvents();
        }
        if (!group.empty()) {
            ReportGroup(previousSize, group);
        }
    }

    m_window.setCaption(Caption::FileListCaption,
                        "What duplicates were found - double-click a file to review ...");
    list.setHint("Double-click a file to review");
    m_window.setStatusText(3, m_scanner.KeepScanning ? "Scan complete" : "Scan interrupted");
    if (!m_keepSearching) {
        m_window.setStatusText(3, "Comparison interrupted");
    }
    if (DuplicateCount != 0) {
        m_window.setStatusText(0, "Duplicates found....");
    }
    m_window.setWaitCursor(true);
    list.endUpdate();
    list.fitColumns();
    m_columnsFitted = false;
    m_window.setWaitCursor(false);
    m_window.showProgress(false);
    m_window.setProgressPosition(0);
    m_catalogue.release();
    Comparing = false;
    m_window.setCaption(Caption::SearchButton, "Find Now");
}

void DuplicateComparison::ReportGroup(std::int64_t size, std::vector<GroupEntry>& group)
{
    const bool bySize = sizeMode();
    if (bySize) {
        if (needsGroupingValues(size, group.size())) {
            computeGroupingValues(size, group);
        }
        // The group list is sorted by grouping value, then path ignoring case;
        // of equal entries the later addition comes first.
        std::sort(group.begin(), group.end(), [](const GroupEntry& a, const GroupEntry& b) {
            if (a.value != b.value) {
                return a.value < b.value;
            }
            const int c = platform::compareOrder(a.path, b.path);
            return c != 0 ? c < 0 : a.order > b.order;
        });
    } else {
        m_window.setProgressMax(static_cast<std::int64_t>(group.size()) - 1);
    }

    // Within a run of equal keys each member joins the first class whose
    // first member it matches, or starts a class of its own; so equal files
    // are found together even when the run's first member differs from them.
    std::vector<std::vector<std::size_t>> classes;
    for (std::size_t j = 0; j < group.size(); ++j) {
        const bool sameKey = j > 0 && (bySize ? group[j].value == group[j - 1].value
                                              : group[j].key == group[j - 1].key);
        if (!sameKey) {
            writeBlocks(group, classes, j);
            classes.clear();
            classes.push_back({j});
        } else {
            bool joined = false;
            for (std::vector<std::size_t>& members : classes) {
                if (membersMatch(size, group[members.front()], group[j])) {
                    members.push_back(j);
                    joined = true;
                    break;
                }
            }
            if (!joined) {
                classes.push_back({j});
            }
        }
        m_window.processEvents();
        if (!m_keepSearching) {
            break;
        }
    }
    writeBlocks(group, classes, group.empty() ? 0 : group.size() - 1);

    ShowTotals();
    m_window.setProgressPosition(m_processed);
    ResultList& list = m_window.resultList();
    if (!m_columnsFitted && DuplicateCount > 0) {
        list.fixColumns();
        list.refresh();
        m_columnsFitted = true;
    }
    list.setRedraw(false);
    list.setRedraw(true);
}

void DuplicateComparison::writeBlocks(const std::vector<GroupEntry>& group,
                                      const std::vector<std::vector<std::size_t>>& classes,
                                      std::size_t position)
{
    ResultList& list = m_window.resultList();
    for (const std::vector<std::size_t>& members : classes) {
        if (members.size() < 2) {
            continue;
        }
        if (!sizeMode()) {
            m_window.setProgressPosition(static_cast<std::int64_t>(position));
            ShowTotals();
            m_window.setStatusText(3, "Comparing files named: " + group[members.front()].key);
        }
        if (list.rowCount() > 0) {
            list.addRow("");
        }
        list.addRow(kHeader);
        for (std::size_t member : members) {
            list.addFile(group[member].path);
            m_window.processEvents();
        }
    }
}

}  // namespace search
