// Test helper: a temporary folder removed with everything in it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

namespace fs = std::filesystem;

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "gemmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    ::chmod(pattern.c_str(), 0755);
    m_path = pattern + "/";
}

TempFolder::~TempFolder()
{
    // Give back every permission first, or a locked folder would stay behind.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(
             m_path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            ::chmod(it->path().c_str(), 0755);
        }
    }
    ::chmod(m_path.c_str(), 0755);
    // A second pass reaches folders that the first could not enter.
    for (int pass = 0; pass < 8; ++pass) {
        bool changed = false;
        for (auto it = fs::recursive_directory_iterator(m_path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            struct stat st = {};
            if (::lstat(it->path().c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                (st.st_mode & 0700) != 0700) {
                ::chmod(it->path().c_str(), 0755);
                changed = true;
            }
        }
        if (!changed) {
            break;
        }
    }
    fs::remove_all(m_path, ec);
}

std::string TempFolder::write(const std::string& relative, const std::string& contents)
{
    const std::string full = m_path + relative;
    fs::create_directories(fs::path(full).parent_path());
    const int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot write " + full);
    }
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + full);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return full;
}

std::string TempFolder::mkdir(const std::string& relative)
{
    const std::string full = m_path + relative;
    fs::create_directories(full);
    return full;
}

void TempFolder::symlink(const std::string& target, const std::string& relative)
{
    const std::string full = m_path + relative;
    fs::create_directories(fs::path(full).parent_path());
    if (::symlink(target.c_str(), full.c_str()) != 0) {
        throw std::runtime_error("cannot link " + full);
    }
}

void TempFolder::fifo(const std::string& relative)
{
    const std::string full = m_path + relative;
    if (::mkfifo(full.c_str(), 0644) != 0) {
        throw std::runtime_error("cannot make FIFO " + full);
    }
}

void TempFolder::hardlink(const std::string& existing, const std::string& relative)
{
    fs::create_directories(fs::path(m_path + relative).parent_path());
    if (::link((m_path + existing).c_str(), (m_path + relative).c_str()) != 0) {
        throw std::runtime_error("cannot hard-link " + relative);
    }
}

void TempFolder::chmod(const std::string& relative, unsigned mode)
{
    ::chmod((m_path + relative).c_str(), mode);
}

void TempFolder::touch(const std::string& relative, std::int64_t seconds)
{
    struct utimbuf times = {static_cast<time_t>(seconds), static_cast<time_t>(seconds)};
    ::utime((m_path + relative).c_str(), &times);
}

void TempFolder::remove(const std::string& relative)
{
    std::error_code ec;
    fs::remove_all(m_path + relative, ec);
}

std::string TempFolder::read(const std::string& relative) const
{
    std::string contents;
    const int fd = ::open((m_path + relative).c_str(), O_RDONLY);
    if (fd < 0) {
        return contents;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return contents;
}

bool TempFolder::exists(const std::string& relative) const
{
    struct stat st = {};
    return ::lstat((m_path + relative).c_str(), &st) == 0;
}

int runWithoutPrivileges(const std::function<int()>& body)
{
    if (::geteuid() != 0) {
        return body();
    }
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        const uid_t nobody = 65534;
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
            ::_exit(255);
        }
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* listing = ::opendir(folder.c_str());
    while (const dirent* entry = listing != nullptr ? ::readdir(listing) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (listing != nullptr) {
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct stat statOf(const std::string& path)
{
    struct stat st = {};
    ::lstat(path.c_str(), &st);
    return st;
}

int openDescriptorCount()
{
    int count = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    while (fds != nullptr && ::readdir(fds) != nullptr) {
        ++count;
    }
    if (fds != nullptr) {
        ::closedir(fds);
    }
    return count;
}
