// Folders that are copies, found from the walk's listings and the confirmed classes of files.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "folders/FolderFinder.h"

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <tuple>
#include <unordered_set>

#include "scanner/TreeScan.h"

namespace folders {

namespace {

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Two independent keys of a class: a folder's contents are the sums of its
// files' keys, which do not depend on where in the tree a file lies.
std::uint64_t key1(std::uint32_t cls)
{
    return mix(0x5DEECE66Dull ^ (std::uint64_t{cls} << 1));
}

std::uint64_t key2(std::uint32_t cls)
{
    return mix(mix(std::uint64_t{cls} + 0x2545F4914F6CDD1Dull));
}

std::uint64_t nameHash(std::string_view name)
{
    return mix(std::hash<std::string_view>{}(name));
}

// "/a/b/" of "/a/b/c/" or "/a/b/c"; empty for "/".
std::string_view parentOf(std::string_view path)
{
    if (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

}  // namespace

void FolderFinder::follow(scanner::TTreeScanner& scanner)
{
    auto found = scanner.OnDirectoryFound;
    scanner.OnDirectoryFound = [this, found](scanner::TTreeScanner& s) {
        if (found) {
            found(s);
        }
        listed(s.FileFound(), s.FolderEntries(), s.FolderOthers());
    };
    auto failed = scanner.OnFolderError;
    scanner.OnFolderError = [this, failed](scanner::TTreeScanner& s) {
        if (failed) {
            failed(s);
        }
        unreadable(s.FileFound());
    };
}

void FolderFinder::listed(const std::string& folder,
                          const std::vector<platform::FileEntry>& entries,
                          const std::vector<std::string>& others)
{
    if (m_index.count(folder) != 0) {
        return;  // one folder reached twice by name is counted once
    }
    Folder& f = m_folders.emplace_back();
    f.path = folder;
    f.others = others;
    for (const platform::FileEntry& entry : entries) {
        if ((entry.attributes & platform::kAttrDirectory) != 0) {
            ++f.subfolders;
        } else if (entry.size == 0) {
            ++f.emptyFiles;
        } else {
            ++f.files;
            f.bytes += entry.size;
        }
    }
    m_index.emplace(f.path, static_cast<std::int32_t>(m_folders.size() - 1));
}

void FolderFinder::unreadable(const std::string& folder)
{
    if (const auto at = m_index.find(folder); at != m_index.end()) {
        m_folders[static_cast<std::size_t>(at->second)].unreadable = true;
    }
}

void FolderFinder::addClass(const std::vector<std::string>& paths)
{
    struct stat st = {};
    if (paths.empty() || (::lstat(paths.front().c_str(), &st) == 0 && st.st_size == 0)) {
        return;
    }
    bool any = false;
    for (const std::string& path : paths) {
        const std::string_view folder = parentOf(path);
        const auto at = m_index.find(folder);
        if (at == m_index.end()) {
            continue;
        }
        const std::string_view name = std::string_view(path).substr(folder.size());
        m_files.push_back({at->second, m_classes, static_cast<std::uint32_t>(m_names.size()),
                           static_cast<std::uint32_t>(name.size())});
        m_names += name;
        any = true;
    }
    if (any) {
        ++m_classes;
    }
}

bool FolderFinder::knows(const std::string& folder) const
{
    return m_index.count(folder) != 0;
}

std::string_view FolderFinder::nameOf(const File& file) const
{
    return std::string_view(m_names).substr(file.nameOffset, file.nameLength);
}

// Folders in byte order of their paths: a folder comes before everything
// below it, and a tree is one run of places. A folder's parent is the
// nearest folder above it that the walk listed.
void FolderFinder::buildTree()
{
    const auto count = static_cast<std::int32_t>(m_folders.size());
    m_order.resize(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        m_order[static_cast<std::size_t>(i)] = i;
    }
    std::sort(m_order.begin(), m_order.end(), [this](std::int32_t a, std::int32_t b) {
        return m_folders[static_cast<std::size_t>(a)].path <
               m_folders[static_cast<std::size_t>(b)].path;
    });
    std::vector<std::int32_t> open;
    for (std::int32_t place = 0; place <= count; ++place) {
        const std::string* path =
            place < count ? &m_folders[static_cast<std::size_t>(m_order[place])].path : nullptr;
        while (!open.empty()) {
            Folder& top = m_folders[static_cast<std::size_t>(m_order[open.back()])];
            if (path != nullptr && path->compare(0, top.path.size(), top.path) == 0) {
                break;
            }
            top.end = place;
            open.pop_back();
        }
        if (path == nullptr) {
            break;
        }
        Folder& f = m_folders[static_cast<std::size_t>(m_order[place])];
        f.pre = place;
        f.children = 0;
        f.parent = open.empty() ? -1 : open.back();
        if (!open.empty()) {
            Folder& parent = m_folders[static_cast<std::size_t>(m_order[open.back()])];
            if (parentOf(f.path).size() == parent.path.size()) {
                ++parent.children;
            }
        }
        open.push_back(place);
    }
}

void FolderFinder::sumTrees()
{
    const std::size_t places = m_order.size();
    // Files by place, and each class's files by place: two counting sorts.
    m_firstFile.assign(places + 1, 0);
    for (File& file : m_files) {
        file.folder = m_folders[static_cast<std::size_t>(file.folder)].pre;
        ++m_firstFile[static_cast<std::size_t>(file.folder) + 1];
    }
    for (std::size_t p = 0; p < places; ++p) {
        m_firstFile[p + 1] += m_firstFile[p];
    }
    std::vector<File> sorted(m_files.size());
    std::vector<std::uint32_t> next(m_firstFile.begin(), m_firstFile.end() - 1);
    for (const File& file : m_files) {
        sorted[next[static_cast<std::size_t>(file.folder)]++] = file;
    }
    m_files.swap(sorted);
    m_classStart.assign(std::size_t{m_classes} + 1, 0);
    for (const File& file : m_files) {
        ++m_classStart[file.cls + 1];
    }
    for (std::size_t c = 0; c < m_classes; ++c) {
        m_classStart[c + 1] += m_classStart[c];
    }
    m_members.assign(m_files.size(), 0);
    std::vector<std::uint32_t> fill(m_classStart.begin(), m_classStart.end() - 1);
    for (std::uint32_t i = 0; i < m_files.size(); ++i) {
        m_members[fill[m_files[i].cls]++] = i;
    }

    m_trees.assign(places, Tree{});
    for (std::size_t p = 0; p < places; ++p) {
        const Folder& f = m_folders[static_cast<std::size_t>(m_order[p])];
        Tree& t = m_trees[p];
        const std::int64_t classed = m_firstFile[p + 1] - m_firstFile[p];
        const std::int64_t skipped =
            std::max<std::int64_t>(0, f.subfolders - f.children) + (f.unreadable ? 1 : 0);
        t.files = f.files;
        t.bytes = f.bytes;
        t.emptyFiles = f.emptyFiles;
        t.emptyFolders =
            f.files == 0 && f.emptyFiles == 0 && f.subfolders == 0 && !f.unreadable ? 1 : 0;
        t.notSearched = skipped;
        t.noCopy = std::max<std::int64_t>(0, f.files - classed) + skipped;
        t.classed = classed;
        for (std::uint32_t i = m_firstFile[p]; i < m_firstFile[p + 1]; ++i) {
            t.sum1 += key1(m_files[i].cls) & m_keyMask;
            t.sum2 += key2(m_files[i].cls) & m_keyMask;
        }
    }
    for (std::size_t p = places; p-- > 0;) {
        const std::int32_t parent = m_folders[static_cast<std::size_t>(m_order[p])].parent;
        if (parent >= 0) {
            Tree& up = m_trees[static_cast<std::size_t>(parent)];
            const Tree& t = m_trees[p];
            up.files += t.files;
            up.bytes += t.bytes;
            up.emptyFiles += t.emptyFiles;
            up.emptyFolders += t.emptyFolders;
            up.notSearched += t.notSearched;
            up.noCopy += t.noCopy;
            up.classed += t.classed;
            up.sum1 += t.sum1;
            up.sum2 += t.sum2;
        }
    }
}

// A folder's layout key: its files' names and classes and its subfolders'
// names and layout keys, in an order of their own. Subfolders without a
// compared file take no part.
void FolderFinder::hashLayouts()
{
    std::vector<std::pair<std::uint64_t, std::uint64_t>> items;
    for (std::size_t p = m_order.size(); p-- > 0;) {
        items.clear();
        for (std::uint32_t i = m_firstFile[p]; i < m_firstFile[p + 1]; ++i) {
            items.emplace_back(nameHash(nameOf(m_files[i])), key1(m_files[i].cls));
        }
        const Folder& f = m_folders[static_cast<std::size_t>(m_order[p])];
        for (std::int32_t c = f.pre + 1; c < f.end;
             c = m_folders[static_cast<std::size_t>(m_order[c])].end) {
            const Folder& child = m_folders[static_cast<std::size_t>(m_order[c])];
            if (m_trees[static_cast<std::size_t>(c)].classed > 0) {
                const std::string_view name =
                    std::string_view(child.path).substr(f.path.size());
                items.emplace_back(nameHash(name) ^ 1u, m_trees[static_cast<std::size_t>(c)].layout);
            }
        }
        std::sort(items.begin(), items.end());
        std::uint64_t h = 0x84222325CBF29CE4ull;
        for (const auto& [a, b] : items) {
            h = mix(h ^ a);
            h = mix(h ^ b);
        }
        m_trees[p].layout = h & m_keyMask;
    }
}

// Groups of folders with equal keys, a group's folders below another of its
// folders left out; a group is listed unless its folders' parents all make
// one group themselves, or (`sameAs`) it is a group of the first strength again.
std::vector<IdenticalGroup> FolderFinder::identicalGroups(bool layout,
                                                          std::vector<std::int32_t>& groupOf,
                                                          const std::vector<std::int32_t>* sameAs)
{
    using Key = std::tuple<std::int64_t, std::uint64_t, std::uint64_t, std::uint64_t>;
    std::vector<std::pair<Key, std::int32_t>> keyed;
    for (std::size_t p = 0; p < m_trees.size(); ++p) {
        const Tree& t = m_trees[p];
        if (t.noCopy == 0 && t.classed > 0) {
            keyed.push_back({{t.classed, t.sum1, t.sum2, layout ? t.layout : 0},
                             static_cast<std::int32_t>(p)});
        }
    }
    std::sort(keyed.begin(), keyed.end());
    groupOf.assign(m_trees.size(), -1);
    std::vector<std::vector<std::int32_t>> groups;
    std::vector<std::int32_t> candidates;
    for (std::size_t i = 0; i < keyed.size();) {
        std::size_t j = i;
        candidates.clear();
        for (; j < keyed.size() && keyed[j].first == keyed[i].first; ++j) {
            candidates.push_back(keyed[j].second);
        }
        i = j;
        if (candidates.size() < 2) {
            continue;
        }
        // Equal sums are only a sign: the trees' classes (and names) decide.
        for (const std::vector<std::int32_t>& run : exactRuns(candidates, layout)) {
            addGroup(run, groupOf, groups);
        }
    }
    auto sameGroup = [&](const std::vector<std::int32_t>& members,
                         const std::vector<std::int32_t>& of, bool parents) {
        std::int32_t first = -2;
        for (const std::int32_t p : members) {
            std::int32_t at = p;
            if (parents) {
                at = m_folders[static_cast<std::size_t>(m_order[p])].parent;
            }
            const std::int32_t g = at < 0 ? -1 : of[static_cast<std::size_t>(at)];
            if (g < 0 || (first != -2 && g != first)) {
                return -1;
            }
            first = g;
        }
        return first;
    };
    std::vector<std::size_t> sameSizes;
    if (sameAs != nullptr) {
        for (const std::int32_t g : *sameAs) {
            if (g >= 0) {
                sameSizes.resize(std::max(sameSizes.size(), static_cast<std::size_t>(g) + 1));
                ++sameSizes[static_cast<std::size_t>(g)];
            }
        }
    }
    std::vector<IdenticalGroup> listed;
    for (const std::vector<std::int32_t>& members : groups) {
        if (sameGroup(members, groupOf, true) >= 0) {
            continue;
        }
        if (sameAs != nullptr) {
            // A folder holding nothing but one folder stands for that one.
            std::vector<std::int32_t> inner;
            for (const std::int32_t p : members) {
                inner.push_back(soleContent(p));
            }
            const std::int32_t g = sameGroup(inner, *sameAs, false);
            if (g >= 0 && sameSizes[static_cast<std::size_t>(g)] == members.size()) {
                continue;
            }
        }
        IdenticalGroup group;
        for (const std::int32_t p : members) {
            group.folders.push_back(factsOf(p));
        }
        listed.push_back(std::move(group));
    }
    std::sort(listed.begin(), listed.end(), [](const IdenticalGroup& a, const IdenticalGroup& b) {
        return a.folders.front().path < b.folders.front().path;
    });
    return listed;
}

// The candidates (in place order) split into runs whose trees hold exactly
// the same classes, and with `layout` each under the same relative path.
std::vector<std::vector<std::int32_t>> FolderFinder::exactRuns(
    const std::vector<std::int32_t>& candidates, bool layout) const
{
    using Content = std::vector<std::pair<std::string, std::uint32_t>>;
    std::vector<std::pair<Content, std::int32_t>> contents;
    for (const std::int32_t p : candidates) {
        const Folder& f = m_folders[static_cast<std::size_t>(m_order[p])];
        Content content;
        for (std::uint32_t i = m_firstFile[static_cast<std::size_t>(f.pre)];
             i < m_firstFile[static_cast<std::size_t>(f.end)]; ++i) {
            content.emplace_back(layout ? pathOf(i).substr(f.path.size()) : std::string(),
                                 m_files[i].cls);
        }
        std::sort(content.begin(), content.end());
        contents.emplace_back(std::move(content), p);
    }
    std::sort(contents.begin(), contents.end());
    std::vector<std::vector<std::int32_t>> runs;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        if (i == 0 || contents[i].first != contents[i - 1].first) {
            runs.emplace_back();
        }
        runs.back().push_back(contents[i].second);
    }
    return runs;
}

// A run of exactly alike folders becomes a group when two or more of them
// lie apart; one inside another (a folder holding nothing but the other)
// joins the group without being a member of its own.
void FolderFinder::addGroup(const std::vector<std::int32_t>& run,
                            std::vector<std::int32_t>& groupOf,
                            std::vector<std::vector<std::int32_t>>& groups) const
{
    std::vector<std::int32_t> members;
    std::vector<std::int32_t> nested;
    for (const std::int32_t p : run) {
        if (members.empty() ||
            p >= m_folders[static_cast<std::size_t>(m_order[members.back()])].end) {
            members.push_back(p);
        } else {
            nested.push_back(p);
        }
    }
    if (members.size() < 2) {
        return;
    }
    for (const std::int32_t p : members) {
        groupOf[static_cast<std::size_t>(p)] = static_cast<std::int32_t>(groups.size());
    }
    for (const std::int32_t p : nested) {
        groupOf[static_cast<std::size_t>(p)] = static_cast<std::int32_t>(groups.size());
    }
    groups.push_back(std::move(members));
}

std::string FolderFinder::pathOf(std::uint32_t file) const
{
    const File& f = m_files[file];
    return m_folders[static_cast<std::size_t>(m_order[f.folder])].path + std::string(nameOf(f));
}

std::vector<FolderFinder::TreeFile> FolderFinder::filesIn(const std::string& folder) const
{
    std::vector<TreeFile> files;
    const auto at = m_index.find(folder);
    if (at == m_index.end() || m_firstFile.empty()) {
        return files;
    }
    const Folder& f = m_folders[static_cast<std::size_t>(at->second)];
    for (std::uint32_t i = m_firstFile[static_cast<std::size_t>(f.pre)];
         i < m_firstFile[static_cast<std::size_t>(f.end)]; ++i) {
        files.push_back({pathOf(i), m_files[i].cls});
    }
    return files;
}

std::vector<std::string> FolderFinder::pathsOf(std::uint32_t cls) const
{
    std::vector<std::string> paths;
    if (cls >= m_classes || m_classStart.empty()) {
        return paths;
    }
    for (std::uint32_t m = m_classStart[cls]; m < m_classStart[cls + 1]; ++m) {
        paths.push_back(pathOf(m_members[m]));
    }
    return paths;
}

std::int32_t FolderFinder::soleContent(std::int32_t place) const
{
    for (;;) {
        const Folder& f = m_folders[static_cast<std::size_t>(m_order[place])];
        if (m_firstFile[static_cast<std::size_t>(place) + 1] !=
            m_firstFile[static_cast<std::size_t>(place)]) {
            return place;
        }
        std::int32_t only = -1;
        for (std::int32_t c = f.pre + 1; c < f.end;
             c = m_folders[static_cast<std::size_t>(m_order[c])].end) {
            if (m_trees[static_cast<std::size_t>(c)].classed > 0) {
                if (only >= 0) {
                    return place;
                }
                only = c;
            }
        }
        if (only < 0) {
            return place;
        }
        place = only;
    }
}

std::int32_t FolderFinder::commonAncestor(std::int32_t low, std::int32_t high) const
{
    std::int32_t at = low;
    while (at >= 0 && m_folders[static_cast<std::size_t>(m_order[at])].end <= high) {
        at = m_folders[static_cast<std::size_t>(m_order[at])].parent;
    }
    return at;
}

// Each file is uncovered in the lowest folder that holds it together with
// every copy that counts (all copies, or those inside `inside`), and in
// every folder above that one; a file without a copy, in its own folder.
void FolderFinder::markUncovered(std::int32_t inside)
{
    m_markAt.assign(m_files.size(), -1);
    for (std::size_t p = 0; p < m_trees.size(); ++p) {
        const Folder& f = m_folders[static_cast<std::size_t>(m_order[p])];
        const std::int64_t classed = m_firstFile[p + 1] - m_firstFile[p];
        m_trees[p].uncovered = std::max<std::int64_t>(0, f.files - classed) +
                               std::max<std::int64_t>(0, f.subfolders - f.children) +
                               (f.unreadable ? 1 : 0);
    }
    const std::int32_t insideEnd =
        inside < 0 ? -1 : m_folders[static_cast<std::size_t>(m_order[inside])].end;
    for (std::uint32_t c = 0; c < m_classes; ++c) {
        const std::uint32_t from = m_classStart[c];
        const std::uint32_t to = m_classStart[c + 1];
        std::int32_t low = m_files[m_members[from]].folder;
        std::int32_t high = m_files[m_members[to - 1]].folder;
        std::uint32_t counted = to - from;
        if (inside >= 0) {
            counted = 0;
            for (std::uint32_t m = from; m < to; ++m) {
                const std::int32_t p = m_files[m_members[m]].folder;
                if (p >= inside && p < insideEnd) {
                    low = counted == 0 ? p : low;
                    high = p;
                    ++counted;
                }
            }
        }
        for (std::uint32_t m = from; m < to; ++m) {
            const std::int32_t p = m_files[m_members[m]].folder;
            const bool self = inside < 0 || (p >= inside && p < insideEnd);
            std::int32_t at = p;
            if (counted > (self ? 1u : 0u)) {
                at = commonAncestor(std::min(low, p), std::max(high, p));
            }
            m_markAt[m_members[m]] = at;
            if (at >= 0) {
                ++m_trees[static_cast<std::size_t>(at)].uncovered;
            }
        }
    }
    for (std::size_t p = m_trees.size(); p-- > 0;) {
        const std::int32_t parent = m_folders[static_cast<std::size_t>(m_order[p])].parent;
        if (parent >= 0) {
            m_trees[static_cast<std::size_t>(parent)].uncovered += m_trees[p].uncovered;
        }
    }
}

std::vector<Holder> FolderFinder::holdersOf(std::int32_t folder, std::int32_t inside) const
{
    const Folder& f = m_folders[static_cast<std::size_t>(m_order[folder])];
    const std::int32_t insideEnd =
        inside < 0 ? -1 : m_folders[static_cast<std::size_t>(m_order[inside])].end;
    std::unordered_map<std::int32_t, std::int64_t> counts;
    for (std::uint32_t i = m_firstFile[static_cast<std::size_t>(f.pre)];
         i < m_firstFile[static_cast<std::size_t>(f.end)]; ++i) {
        const std::uint32_t c = m_files[i].cls;
        for (std::uint32_t m = m_classStart[c]; m < m_classStart[c + 1]; ++m) {
            const std::int32_t p = m_files[m_members[m]].folder;
            const bool outside = p < f.pre || p >= f.end;
            if (outside && (inside < 0 || (p >= inside && p < insideEnd))) {
                ++counts[p];
                break;
            }
        }
    }
    mergeHolders(counts, f, inside);
    std::vector<Holder> holders;
    std::vector<std::pair<std::int64_t, std::int32_t>> order;
    for (const auto& [p, n] : counts) {
        order.emplace_back(-n, p);
    }
    std::sort(order.begin(), order.end());
    for (const auto& [n, p] : order) {
        holders.push_back({m_folders[static_cast<std::size_t>(m_order[p])].path, -n});
    }
    return holders;
}

// Holders side by side in one folder are named by that folder, as long as
// it does not hold the contained folder itself (and lies in `inside`).
void FolderFinder::mergeHolders(std::unordered_map<std::int32_t, std::int64_t>& counts,
                                const Folder& contained, std::int32_t inside) const
{
    const std::int32_t insideEnd =
        inside < 0 ? -1 : m_folders[static_cast<std::size_t>(m_order[inside])].end;
    for (bool merged = true; merged && counts.size() > 1;) {
        merged = false;
        std::unordered_map<std::int32_t, std::int32_t> siblings;
        for (const auto& [p, n] : counts) {
            const std::int32_t parent = m_folders[static_cast<std::size_t>(m_order[p])].parent;
            if (parent >= 0) {
                ++siblings[parent];
            }
        }
        std::unordered_set<std::int32_t> into;
        for (const auto& [parent, n] : siblings) {
            const Folder& up = m_folders[static_cast<std::size_t>(m_order[parent])];
            const bool holdsContained = contained.pre >= up.pre && contained.pre < up.end;
            const bool allowed = inside < 0 || (parent >= inside && parent < insideEnd);
            if (n + (counts.count(parent) != 0 ? 1 : 0) >= 2 && !holdsContained && allowed) {
                into.insert(parent);
            }
        }
        std::unordered_map<std::int32_t, std::int64_t> next;
        for (const auto& [p, n] : counts) {
            const std::int32_t parent = m_folders[static_cast<std::size_t>(m_order[p])].parent;
            next[into.count(parent) != 0 ? parent : p] += n;
        }
        merged = !into.empty();
        counts.swap(next);
    }
}

// The files of a nearly contained folder without a copy outside it. Those
// the comparison never classed are named from a fresh listing of their
// folder (a few folders at most), without reading any file.
std::vector<std::string> FolderFinder::withoutCopy(std::int32_t folder) const
{
    const Folder& f = m_folders[static_cast<std::size_t>(m_order[folder])];
    std::vector<std::string> named;
    for (std::uint32_t i = m_firstFile[static_cast<std::size_t>(f.pre)];
         i < m_firstFile[static_cast<std::size_t>(f.end)]; ++i) {
        if (m_markAt[i] >= f.pre && m_markAt[i] < f.end) {
            const Folder& at = m_folders[static_cast<std::size_t>(m_order[m_files[i].folder])];
            named.push_back(at.path + std::string(nameOf(m_files[i])));
        }
    }
    for (std::int32_t p = f.pre; p < f.end; ++p) {
        const Folder& at = m_folders[static_cast<std::size_t>(m_order[p])];
        const std::int64_t classed = m_firstFile[static_cast<std::size_t>(p) + 1] -
                                     m_firstFile[static_cast<std::size_t>(p)];
        if (at.unreadable) {
            named.push_back(at.path);
        }
        if (at.files <= classed && at.subfolders <= at.children) {
            continue;
        }
        std::unordered_set<std::string_view> classedNames;
        for (std::uint32_t i = m_firstFile[static_cast<std::size_t>(p)];
             i < m_firstFile[static_cast<std::size_t>(p) + 1]; ++i) {
            classedNames.insert(nameOf(m_files[i]));
        }
        std::vector<platform::FileEntry> entries;
        platform::readFolder(at.path, entries);
        for (const platform::FileEntry& entry : entries) {
            const bool isFolder = (entry.attributes & platform::kAttrDirectory) != 0;
            const std::string path = at.path + entry.name + (isFolder ? "/" : "");
            if (isFolder ? !knows(path) : entry.size > 0 && classedNames.count(entry.name) == 0) {
                named.push_back(path);
            }
        }
    }
    std::sort(named.begin(), named.end());
    return named;
}

FolderFacts FolderFinder::factsOf(std::int32_t place) const
{
    const Tree& t = m_trees[static_cast<std::size_t>(place)];
    const Folder& f = m_folders[static_cast<std::size_t>(m_order[place])];
    FolderFacts facts{f.path, t.files, t.bytes, t.emptyFiles, t.emptyFolders, t.notSearched, {}};
    for (std::int32_t p = f.pre; p < f.end; ++p) {
        const Folder& in = m_folders[static_cast<std::size_t>(m_order[p])];
        for (const std::string& name : in.others) {
            facts.others.push_back(in.path + name);
        }
    }
    std::sort(facts.others.begin(), facts.others.end());
    return facts;
}

FolderResult FolderFinder::find(const std::string& containedIn)
{
    buildTree();
    sumTrees();
    hashLayouts();
    FolderResult result;
    std::vector<std::int32_t> layoutGroups;
    std::vector<std::int32_t> anyGroups;
    result.sameLayout = identicalGroups(true, layoutGroups, nullptr);
    result.anyLayout = identicalGroups(false, anyGroups, &layoutGroups);

    std::int32_t inside = -1;
    if (const auto at = m_index.find(containedIn); !containedIn.empty() && at != m_index.end()) {
        inside = m_folders[static_cast<std::size_t>(at->second)].pre;
    }
    if (!containedIn.empty() && inside < 0) {
        return result;  // nothing of the search lies in it
    }
    markUncovered(inside);
    const std::int32_t insideEnd =
        inside < 0 ? -1 : m_folders[static_cast<std::size_t>(m_order[inside])].end;
    // 0: no, 1: contained, 2: contained but for a few files.
    auto kind = [&](std::int32_t p) {
        const Folder& f = m_folders[static_cast<std::size_t>(m_order[p])];
        const Tree& t = m_trees[static_cast<std::size_t>(p)];
        if (t.classed == 0 || (inside >= 0 && ((p >= inside && p < insideEnd) ||
                                               (inside >= f.pre && inside < f.end)))) {
            return 0;
        }
        if (t.uncovered == 0) {
            return 1;
        }
        return t.uncovered <= kFewFiles && t.uncovered * 4 <= t.files ? 2 : 0;
    };
    // A folder of an identical group is said to be a copy there, and it and
    // what lies below it are not listed again as contained, unless the
    // question is what lies in one chosen folder (two identical
    // folders each contained in the other would invite taking both away).
    std::vector<char> identical(m_trees.size(), 0);
    for (std::size_t p = 0; p < m_trees.size(); ++p) {
        const std::int32_t parent = m_folders[static_cast<std::size_t>(m_order[p])].parent;
        identical[p] = static_cast<char>(
            (inside < 0 && (layoutGroups[p] >= 0 || anyGroups[p] >= 0)) ||
            (parent >= 0 && identical[static_cast<std::size_t>(parent)] != 0));
    }
    for (std::int32_t p = 0; p < static_cast<std::int32_t>(m_trees.size()); ++p) {
        const int k = kind(p);
        const std::int32_t parent = m_folders[static_cast<std::size_t>(m_order[p])].parent;
        // A contained folder below a contained one is not listed again, nor
        // a nearly contained one below either kind.
        const int above = parent >= 0 ? kind(parent) : 0;
        if (k == 0 || above == 1 || (k == 2 && above != 0) ||
            identical[static_cast<std::size_t>(p)] != 0) {
            continue;
        }
        ContainedFolder found{factsOf(p), holdersOf(p, inside), {}};
        if (k == 1) {
            result.contained.push_back(std::move(found));
        } else {
            found.withoutCopy = withoutCopy(p);
            result.nearlyContained.push_back(std::move(found));
        }
    }
    return result;
}

}  // namespace folders
