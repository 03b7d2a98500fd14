// Benchmark: the least work any exact duplicate finder must do on a tree, to compare against.
// SPDX-License-Identifier: GPL-3.0-or-later
// The floor under any exact duplicate finder: walk the tree and query every
// entry once, then read every byte of each file that shares its size with
// another file, once. Links are not followed; empty files are left out.
//
//   read_limit ROOT
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Candidate {
    std::int64_t size;
    dev_t device;
    ino_t inode;
    std::string path;
};

void walk(const std::string& folder, dev_t device, std::vector<Candidate>& files)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> folders;
    while (const dirent* item = ::readdir(dir)) {
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        struct stat st = {};
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode) && st.st_dev == device) {
            folders.push_back(folder + "/" + name);
        } else if (S_ISREG(st.st_mode) && st.st_size > 0) {
            files.push_back({st.st_size, st.st_dev, st.st_ino, folder + "/" + name});
        }
    }
    ::closedir(dir);
    for (const std::string& sub : folders) {
        walk(sub, device, files);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ROOT\n", argv[0]);
        return 2;
    }
    struct stat root = {};
    if (::stat(argv[1], &root) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<Candidate> files;
    walk(argv[1], root.st_dev, files);
    std::sort(files.begin(), files.end(), [](const Candidate& a, const Candidate& b) {
        return a.size != b.size ? a.size < b.size
                                : (a.device != b.device ? a.device < b.device : a.inode < b.inode);
    });
    std::vector<unsigned char> buffer(256 * 1024);
    std::uint64_t bytes = 0;
    std::uint64_t read = 0;
    unsigned char fold = 0;
    for (std::size_t i = 0; i < files.size();) {
        std::size_t j = i;
        while (j < files.size() && files[j].size == files[i].size) {
            ++j;
        }
        // A size held by one inode alone (however many links) needs no reading.
        bool shared = false;
        for (std::size_t k = i + 1; k < j; ++k) {
            shared =
                shared || files[k].inode != files[i].inode || files[k].device != files[i].device;
        }
        for (std::size_t k = i; shared && k < j; ++k) {
            if (k > i && files[k].inode == files[k - 1].inode &&
                files[k].device == files[k - 1].device) {
                continue;
            }
            const int fd = ::open(files[k].path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            ssize_t got;
            while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
                bytes += static_cast<std::uint64_t>(got);
                fold ^= buffer[0];
            }
            ::close(fd);
            ++read;
        }
        i = j;
    }
    std::printf("%zu files walked, %llu read, %llu bytes (%u)\n", files.size(),
                static_cast<unsigned long long>(read), static_cast<unsigned long long>(bytes),
                fold);
    return 0;
}
