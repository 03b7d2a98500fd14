// The identity a file system keeps wherever it is mounted, and whether the cache may trust it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "platform/Mounts.h"

namespace cache {

struct FileSystemId {
    // "uuid:<uuid>" (on btrfs followed by "/subvolume:<id>"), or
    // "device:<major>:<minor>" for a file system without a UUID, which then
    // keeps its entries only while its device number stays. Empty: the
    // cache leaves the file system alone, `why` says why.
    std::string identity;
    bool byDevice = false;
    std::string type;
    std::string why;
};

// Whether a file system of this type keeps times the cache can rely on:
// FAT and exFAT have no change time (and two-second write times), NTFS
// through the kernel or FUSE and every FUSE file system answer with times
// made up by a driver, network file systems with times of another clock
// that may be cached or rounded; pseudo file systems have no lasting files.
bool trustedType(std::string_view type, std::string* why = nullptr);

// The identity of the file system of one mount, `uuidOf` giving the UUID
// of a source device ("" when it has none or cannot be read). `mounts` is
// the whole table: a btrfs device mounted with different subvolumes cannot
// be told apart by its device number and is left alone.
FileSystemId identify(const platform::MountEntry& mount,
                      const std::vector<platform::MountEntry>& mounts,
                      const std::function<std::string(const std::string&)>& uuidOf);

// The UUID of a block device by libblkid, else from /dev/disk/by-uuid; "".
std::string deviceUuid(const std::string& source);

// The file systems of this machine by device number, read once.
class FileSystems {
public:
    FileSystems();
    explicit FileSystems(std::vector<platform::MountEntry> mounts,
                         std::function<std::string(const std::string&)> uuidOf);
    const FileSystemId& of(dev_t device);

private:
    std::vector<platform::MountEntry> m_mounts;
    std::function<std::string(const std::string&)> m_uuidOf;
    std::map<dev_t, FileSystemId> m_known;
};

}  // namespace cache
