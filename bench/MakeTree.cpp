// Benchmark helper: makes a reproducible folder tree full of duplicates, near misses and links.
// SPDX-License-Identifier: GPL-3.0-or-later
// Makes a folder tree to benchmark duplicate finders on, the same for the
// same seed: nested folders, a realistic mix of sizes, about 15 % exact
// copies in groups of 2 to 6 (half of them keeping the original's time),
// near misses, empty files, hidden folders, hard links and symbolic links.
//
//   make_tree ROOT FILES [--tiny | --same-head] [--copied-folders] [--seed N]
//
// --tiny makes mostly files under 1 KiB, for walking and memory.
// --copied-folders makes a fifth of FILES as copies of whole folders: copied
// as they are, copied and flattened into one folder, and copied with one
// file added, for the folder search.
// --same-head makes FILES files of 6 MiB in one folder whose first 256 KiB
// are the same (screenshots of one screen, raw frames, fixed-size
// databases), ten pairs of them copies: the case where comparing each file
// with every other one costs n*n/2.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Random {
    std::uint64_t state;
    std::uint64_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

struct File {
    std::string path;
    std::int64_t size = 0;
    std::uint64_t seed = 0;  // the contents are a function of the seed
    std::int64_t mtime = 0;
};

void fail(const std::string& what)
{
    std::fprintf(stderr, "make_tree: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void writeContents(const std::string& path, std::int64_t size, std::uint64_t seed,
                   std::int64_t flipAt = -1)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        fail(path);
    }
    static std::vector<std::uint64_t> buffer(1 << 15);
    Random random{seed | 1};
    std::int64_t written = 0;
    while (written < size) {
        for (auto& word : buffer) {
            word = random.next();
        }
        const std::int64_t chunk =
            std::min<std::int64_t>(size - written, static_cast<std::int64_t>(buffer.size() * 8));
        auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
        if (flipAt >= written && flipAt < written + chunk) {
            bytes[flipAt - written] ^= 0x5A;
        }
        if (::write(fd, bytes, static_cast<std::size_t>(chunk)) != chunk) {
            fail(path);
        }
        written += chunk;
    }
    ::close(fd);
}

void setTime(const std::string& path, std::int64_t seconds)
{
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                      {static_cast<time_t>(seconds), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::int64_t pickSize(Random& random, bool tiny)
{
    const double u = random.unit();
    if (tiny) {
        return u < 0.95 ? 1 + static_cast<std::int64_t>(random.below(1023))
                        : 1024 + static_cast<std::int64_t>(random.below(7 * 1024));
    }
    if (u < 0.70) {
        return 1 + static_cast<std::int64_t>(random.below(4095));
    }
    if (u < 0.997) {
        // Log-uniform between 4 KiB and 256 KiB.
        const double lo = 12.0;
        const double hi = 18.0;
        return static_cast<std::int64_t>(std::pow(2.0, lo + random.unit() * (hi - lo)));
    }
    return (1 << 20) + static_cast<std::int64_t>(random.below(7u << 20));
}

// FILES files of one size sharing a long head; files i and FILES/2 + i are
// copies for i below 10.
int makeSameHead(const std::string& root, long total, std::uint64_t seed)
{
    constexpr std::int64_t kSize = 6 << 20;
    constexpr std::int64_t kHead = 256 << 10;
    if (::mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(root);
    }
    std::vector<unsigned char> contents(static_cast<std::size_t>(kSize));
    Random head{seed | 1};
    for (std::int64_t i = 0; i < kHead; i += 8) {
        const std::uint64_t word = head.next();
        std::memcpy(contents.data() + i, &word, 8);
    }
    long pairs = 0;
    for (long i = 0; i < total; ++i) {
        const long twin = i >= total / 2 && i - total / 2 < 10 ? i - total / 2 : i;
        pairs += twin != i;
        Random tail{(seed * 7919 + static_cast<std::uint64_t>(twin) * 2654435761u) | 1};
        for (std::int64_t at = kHead; at < kSize; at += 8) {
            const std::uint64_t word = tail.next();
            std::memcpy(contents.data() + at, &word, 8);
        }
        char name[32];
        std::snprintf(name, sizeof name, "/frame%04ld.raw", i);
        const std::string path = root + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, contents.data(), contents.size()) != kSize) {
            fail(path);
        }
        ::close(fd);
    }
    std::printf("%s: %ld files of %lld bytes sharing their first %lld, %ld pairs of copies\n",
                root.c_str(), total, static_cast<long long>(kSize), static_cast<long long>(kHead),
                pairs);
    return 0;
}

void copyFile(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
        fail(to);
    }
    char buffer[1 << 16];
    for (ssize_t got; (got = ::read(in, buffer, sizeof buffer)) > 0;) {
        if (::write(out, buffer, static_cast<std::size_t>(got)) != got) {
            fail(to);
        }
    }
    ::close(in);
    ::close(out);
}

// Copies the regular files and folders of `from` into `to` (made here), or
// with `flat` every file straight into `to` under a name of its own.
// Returns the files copied.
long copyTree(const std::string& from, const std::string& to, bool flat, const std::string& flatTo)
{
    const std::string into = flat ? flatTo : to;
    if (!flat || to == flatTo) {
        if (::mkdir(into.c_str(), 0755) != 0 && errno != EEXIST) {
            fail(into);
        }
    }
    DIR* dir = ::opendir(from.c_str());
    if (dir == nullptr) {
        fail(from);
    }
    std::vector<std::pair<std::string, unsigned char>> entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            entries.emplace_back(name, entry->d_type);
        }
    }
    ::closedir(dir);
    long copied = 0;
    for (const auto& [name, type] : entries) {
        const std::string source = from + "/" + name;
        if (type == DT_DIR) {
            copied += copyTree(source, to + "/" + name, flat, flatTo);
        } else if (type == DT_REG) {
            std::string target = into + "/" + name;
            if (flat) {
                target = into + "/" + std::to_string(copied) + "-" + name;
                for (int n = 0; ::access(target.c_str(), F_OK) == 0; ++n) {
                    target = into + "/" + std::to_string(n) + "x" + name;
                }
            }
            copyFile(source, target);
            ++copied;
        }
    }
    return copied;
}

// Copies whole folders below the root until about `wanted` files are copies:
// in turn as they are, flattened, and with one file added.
void copyFolders(const std::string& root, const std::vector<std::string>& folders, long wanted)
{
    long copied = 0;
    long made = 0;
    for (std::size_t i = folders.size() / 50 + 1; i < folders.size() && copied < wanted; i += 7) {
        const std::string& from = folders[i];
        if (from.find("/.") != std::string::npos) {
            continue;
        }
        const std::string to = root + "/copies" + std::to_string(made);
        const int how = static_cast<int>(made % 3);
        copied += copyTree(from, to, how == 1, to);
        if (how == 2) {
            writeContents(to + "/added.bin", 100, static_cast<std::uint64_t>(made) + 17);
            ++copied;
        }
        ++made;
    }
    std::printf("%s: %ld folders copied, %ld files in them\n", root.c_str(), made, copied);
}

struct Options {
    std::string root;
    long total = 0;
    bool tiny = false;
    bool sameHead = false;
    bool copiedFolders = false;
    std::uint64_t seed = 20261208;
};

// The command line; false (with the usage said) when it is too short.
bool readOptions(int argc, char** argv, Options& o)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s ROOT FILES [--tiny | --same-head] [--copied-folders] [--seed N]\n",
                     argv[0]);
        return false;
    }
    o.root = argv[1];
    o.total = std::atol(argv[2]);
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tiny") == 0) {
            o.tiny = true;
        } else if (std::strcmp(argv[i], "--copied-folders") == 0) {
            o.copiedFolders = true;
        } else if (std::strcmp(argv[i], "--same-head") == 0) {
            o.sameHead = true;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        }
    }
    return true;
}

// The folders of a tree of `total` files, the root first.
std::vector<std::string> makeFolders(const std::string& root, long total, Random& random)
{
    // Folders: breadth first, 3 to 8 subfolders each, about 20 files a folder.
    std::vector<std::string> folders = {root};
    const std::size_t folderCount = std::max<std::size_t>(1, static_cast<std::size_t>(total / 20));
    for (std::size_t i = 0; folders.size() < folderCount; ++i) {
        const std::string parent = folders[i % folders.size()];
        const int children = 3 + static_cast<int>(random.below(6));
        for (int c = 0; c < children && folders.size() < folderCount; ++c) {
            const bool hidden = random.below(100) < 3;
            const std::string name = (hidden ? ".d" : "d") + std::to_string(folders.size());
            folders.push_back(parent + "/" + name);
            if (::mkdir(folders.back().c_str(), 0755) != 0 && errno != EEXIST) {
                fail(folders.back());
            }
        }
    }
    return folders;
}

// How many entries of each kind makeFiles made.
struct Counts {
    long made = 0;
    std::size_t originals = 0;
    long copies = 0;
    long nearMisses = 0;
    long empties = 0;
    long hardLinks = 0;
    long symlinks = 0;
};

// `total` entries spread over the folders: originals, copies of them, near
// misses, empty files, hard links and symbolic links.
Counts makeFiles(const std::vector<std::string>& folders, long total, bool tiny, Random& random)
{
    const char* extensions[] = {".txt", ".jpg", ".pdf", ".dat", ".png",
                                ".doc", ".mp3", ".bin", ".log", ".c"};
    const std::int64_t now = 1765000000;
    std::vector<File> originals;
    long made = 0;
    long copies = 0;
    long nearMisses = 0;
    long empties = 0;
    long hardLinks = 0;
    long symlinks = 0;
    auto newPath = [&](const char* prefix) {
        const std::string& folder = folders[random.below(folders.size())];
        return folder + "/" + prefix + std::to_string(made) +
               extensions[random.below(std::size(extensions))];
    };
    while (made < total) {
        const std::uint64_t kind = random.below(1000);
        if (kind < 5) {  // empty files
            const std::string path = newPath("e");
            writeContents(path, 0, 0);
            ++made;
            ++empties;
        } else if (kind < 55 && !originals.empty()) {  // copies of an earlier file
            const File& original = originals[random.below(originals.size())];
            const int groupCopies = 1 + static_cast<int>(random.below(5));
            for (int c = 0; c < groupCopies && made < total; ++c) {
                const std::string path = newPath("c");
                writeContents(path, original.size, original.seed);
                setTime(path, random.below(2) == 0
                                  ? original.mtime
                                  : now - static_cast<std::int64_t>(random.below(86400)));
                ++made;
                ++copies;
            }
        } else if (kind < 65 && !originals.empty()) {  // near misses
            const File& original = originals[random.below(originals.size())];
            const std::string path = newPath("n");
            const bool late = original.size > 4200 && random.below(2) == 0;
            writeContents(path, original.size, original.seed, late ? original.size - 1 : 0);
            setTime(path, original.mtime);
            ++made;
            ++nearMisses;
        } else if (kind < 70 && !originals.empty()) {  // hard links
            const File& original = originals[random.below(originals.size())];
            const std::string path = newPath("h");
            if (::link(original.path.c_str(), path.c_str()) == 0) {
                ++hardLinks;
            }
            ++made;
        } else if (kind < 75 && !originals.empty()) {  // symbolic links, some to folders
            const std::string path = newPath("s");
            const std::string target = random.below(4) == 0
                                           ? folders[random.below(folders.size())]
                                           : originals[random.below(originals.size())].path;
            if (::symlink(target.c_str(), path.c_str()) == 0) {
                ++symlinks;
            }
            ++made;
        } else {
            File file;
            file.path = newPath("f");
            file.size = pickSize(random, tiny);
            file.seed = random.next();
            file.mtime = now - 86400 * static_cast<std::int64_t>(random.below(3000)) -
                         static_cast<std::int64_t>(random.below(86400));
            writeContents(file.path, file.size, file.seed);
            setTime(file.path, file.mtime);
            originals.push_back(std::move(file));
            ++made;
        }
    }
    return {made, originals.size(), copies, nearMisses, empties, hardLinks, symlinks};
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!readOptions(argc, argv, o)) {
        return 2;
    }
    const std::string& root = o.root;
    long total = o.total;
    if (o.sameHead) {
        return makeSameHead(root, total, o.seed);
    }
    const long inCopies = o.copiedFolders ? total / 5 : 0;
    total -= inCopies;
    Random random{o.seed * 2654435761u + 1};
    if (::mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(root);
    }
    const std::vector<std::string> folders = makeFolders(root, total, random);
    const Counts c = makeFiles(folders, total, o.tiny, random);
    // A link loop, which no finder may follow.
    ::symlink(root.c_str(), (folders.back() + "/loop").c_str());
    std::printf(
        "%s: %ld entries in %zu folders: %zu originals, %ld copies, %ld near misses, %ld empty, "
        "%ld hard links, %ld symbolic links\n",
        root.c_str(), c.made, folders.size(), c.originals, c.copies, c.nearMisses, c.empties,
        c.hardLinks, c.symlinks);
    if (o.copiedFolders) {
        copyFolders(root, folders, inCopies);
    }
    return 0;
}
