// Folders that are copies: identical folders and folders whose every file is already elsewhere.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/FolderListing.h"

namespace scanner {
class TTreeScanner;
}

namespace folders {

// What a folder's whole tree holds, as the walk listed it.
struct FolderFacts {
    std::string path;
    std::int64_t files = 0;  // regular files with at least one byte
    std::int64_t bytes = 0;
    // Listed with the folder, never a reason to call it a copy.
    std::int64_t emptyFiles = 0;
    std::int64_t emptyFolders = 0;
    // Subfolders the walk did not enter (hidden, another file system, or
    // unreadable): what they hold was not compared.
    std::int64_t notSearched = 0;
    // Links, FIFOs, sockets and devices in its tree: never a copy, but they
    // go with the folder. Their paths, sorted.
    std::vector<std::string> others;
};

// Two or more folders whose trees hold the same contents.
struct IdenticalGroup {
    std::vector<FolderFacts> folders;
};

// A folder that holds copies of files of a contained folder, and how many.
struct Holder {
    std::string folder;
    std::int64_t files = 0;
};

struct ContainedFolder {
    FolderFacts folder;
    // Where the copies are, most files first.
    std::vector<Holder> holders;
    // Nearly contained only: the files (and subfolders not searched) that
    // have no copy outside the folder.
    std::vector<std::string> withoutCopy;
};

struct FolderResult {
    std::vector<IdenticalGroup> sameLayout;  // same names and layout
    std::vector<IdenticalGroup> anyLayout;   // same contents, another layout
    std::vector<ContainedFolder> contained;
    std::vector<ContainedFolder> nearlyContained;
};

// Finds folders from what the walk listed in each folder and the classes of
// byte-identical files the comparison confirmed; it reads no file. A file
// counts once (the comparison takes one path per inode), so a second path
// to a file, by a hard link or a second mount of a folder, has no class and
// makes its folder no copy. A file listed but in no class (unique, left out
// by the masks or the size rules, in a skipped or hidden place, changed while
// compared) keeps every folder holding it from being called identical or
// contained. Time and memory are linear in folders and in classed files.
class FolderFinder {
public:
    // "Contained but for a few files": at most this many, and at most a
    // quarter of the folder's files.
    static constexpr std::int64_t kFewFiles = 3;

    // Chains this finder to the scanner's folder events (after the handlers
    // already bound, which keep running first).
    void follow(scanner::TTreeScanner& scanner);
    // One folder as the walk listed it ("/path/", entries as read), with the
    // names of the links and special files the listing left out.
    void listed(const std::string& folder, const std::vector<platform::FileEntry>& entries,
                const std::vector<std::string>& others = {});
    // A folder the walk could not read: nothing in it counts as compared.
    void unreadable(const std::string& folder);
    // One class of two or more files with identical bytes, by path. A class
    // of empty files is no content and is ignored.
    void addClass(const std::vector<std::string>& paths);

    // Whether the walk listed `folder` ("/path/").
    bool knows(const std::string& folder) const;
    // Keeps only `bits` low bits of the keys the folders are first sorted by,
    // so that the tests can make different trees' keys collide: the exact
    // comparison of their contents must still tell them apart.
    void narrowKeys(int bits) { m_keyMask = bits >= 64 ? ~0ull : (1ull << bits) - 1; }
    // The folders found. With `containedIn` (a folder the walk listed),
    // contained means every file has a copy inside that folder and outside
    // the contained one; folders inside it are not listed.
    FolderResult find(const std::string& containedIn = {});

    // After find(): the compared files of the tree of a listed `folder`
    // ("/path/"), each with the number of its class.
    struct TreeFile {
        std::string path;
        std::uint32_t cls = 0;
    };
    std::vector<TreeFile> filesIn(const std::string& folder) const;
    // After find(): every path of a class the walk listed.
    std::vector<std::string> pathsOf(std::uint32_t cls) const;

private:
    struct Folder {
        std::string path;
        std::int32_t parent = -1;
        std::int32_t pre = 0;  // place in the walk order of the tree
        std::int32_t end = 0;  // one past the last folder of its tree
        std::int32_t firstChild = -1;
        std::int32_t nextSibling = -1;
        std::int64_t files = 0;
        std::int64_t bytes = 0;
        std::int64_t emptyFiles = 0;
        std::int32_t subfolders = 0;  // listed
        std::int32_t children = 0;    // walked
        bool unreadable = false;
        std::vector<std::string> others;  // names of links and special files
    };
    struct File {
        std::int32_t folder = 0;  // a preorder place once sorted
        std::uint32_t cls = 0;
        std::uint32_t nameOffset = 0;
        std::uint32_t nameLength = 0;
    };
    // Sums over a folder's whole tree.
    struct Tree {
        std::int64_t files = 0;
        std::int64_t bytes = 0;
        std::int64_t emptyFiles = 0;
        std::int64_t emptyFolders = 0;
        std::int64_t notSearched = 0;
        std::int64_t noCopy = 0;   // listed files in no class, folders not searched
        std::int64_t classed = 0;  // files in a class
        std::uint64_t sum1 = 0;    // multiset keys of the classed files
        std::uint64_t sum2 = 0;
        std::uint64_t layout = 0;  // names and layout
        std::int64_t uncovered = 0;
    };

    void buildTree();
    void sumTrees();
    void hashLayouts();
    std::vector<IdenticalGroup> identicalGroups(bool layout, std::vector<std::int32_t>& groupOf,
                                                const std::vector<std::int32_t>* sameAs);
    std::vector<std::vector<std::int32_t>> exactRuns(const std::vector<std::int32_t>& candidates,
                                                     bool layout) const;
    void addGroup(const std::vector<std::int32_t>& run, std::vector<std::int32_t>& groupOf,
                  std::vector<std::vector<std::int32_t>>& groups) const;
    std::string pathOf(std::uint32_t file) const;
    void markUncovered(std::int32_t inside);
    // The folder a folder's compared files all lie in, going down through
    // folders that hold nothing but one subfolder.
    std::int32_t soleContent(std::int32_t place) const;
    std::int32_t commonAncestor(std::int32_t low, std::int32_t high) const;
    void mergeHolders(std::unordered_map<std::int32_t, std::int64_t>& counts,
                      const Folder& contained, std::int32_t inside) const;
    std::vector<Holder> holdersOf(std::int32_t folder, std::int32_t inside) const;
    std::vector<std::string> withoutCopy(std::int32_t folder) const;
    FolderFacts factsOf(std::int32_t folder) const;
    std::string_view nameOf(const File& file) const;

    std::deque<Folder> m_folders;
    std::unordered_map<std::string_view, std::int32_t> m_index;
    std::vector<File> m_files;
    std::string m_names;
    std::uint32_t m_classes = 0;
    std::uint64_t m_keyMask = ~0ull;
    // Filled by find(), by preorder place.
    std::vector<std::int32_t> m_order;  // place -> folder
    std::vector<Tree> m_trees;
    std::vector<std::uint32_t> m_firstFile;   // place -> first file of that folder
    std::vector<std::uint32_t> m_classStart;  // class -> first member in m_members
    std::vector<std::uint32_t> m_members;     // files of each class, by place
    std::vector<std::int32_t> m_markAt;       // file -> place where it is uncovered, or -1
};

}  // namespace folders
