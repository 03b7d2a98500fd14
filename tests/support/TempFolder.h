// Test helper: a temporary folder removed with everything in it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

// An empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path, ending with '/'.
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + relative; }

    // Writes a file, making its folders; returns its full path.
    std::string write(const std::string& relative, const std::string& contents);
    std::string mkdir(const std::string& relative);
    void symlink(const std::string& target, const std::string& relative);
    void fifo(const std::string& relative);
    void hardlink(const std::string& existing, const std::string& relative);
    void chmod(const std::string& relative, unsigned mode);
    // Sets the last-write time (Unix seconds).
    void touch(const std::string& relative, std::int64_t seconds);
    void remove(const std::string& relative);
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::string m_path;
};

// Runs `body` as an ordinary user when the tests run as root (who may read
// any folder), so that permission checks mean what they say. Returns the
// body's result, or -1 when it could not be run.
int runWithoutPrivileges(const std::function<int()>& body);

// Every name in a folder, hidden ones too (temporary files may be), sorted.
std::vector<std::string> namesIn(const std::string& folder);
// lstat of a path; all zero when there is nothing there.
struct stat statOf(const std::string& path);
// How many descriptors the process holds open.
int openDescriptorCount();
