// The identity a file system keeps wherever it is mounted, and whether the cache may trust it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cache/FileSystems.h"

#include <blkid/blkid.h>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/WholeFile.h"

namespace cache {

namespace {

std::string deviceText(dev_t device)
{
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The value of one option ("subvolid") in a comma list, or "".
std::string optionValue(const std::string& options, std::string_view name)
{
    std::size_t start = 0;
    while (start <= options.size()) {
        std::size_t end = options.find(',', start);
        if (end == std::string::npos) {
            end = options.size();
        }
        const std::string_view option(options.data() + start, end - start);
        if (option.size() > name.size() && option.substr(0, name.size()) == name &&
            option[name.size()] == '=') {
            return std::string(option.substr(name.size() + 1));
        }
        start = end + 1;
    }
    return "";
}

std::string resolved(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string uuidFromLinks(const std::string& source)
{
    const std::string device = resolved(source);
    DIR* folder = device.empty() ? nullptr : ::opendir("/dev/disk/by-uuid");
    if (folder == nullptr) {
        return "";
    }
    std::string uuid;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && resolved("/dev/disk/by-uuid/" + name) == device) {
            uuid = name;
            break;
        }
    }
    ::closedir(folder);
    return uuid;
}

}  // namespace

bool trustedType(std::string_view type, std::string* why)
{
    auto refuse = [why](const char* reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return false;
    };
    static const std::string_view fat[] = {"vfat", "msdos", "fat", "exfat", "umsdos"};
    static const std::string_view ntfs[] = {"ntfs", "ntfs3"};
    static const std::string_view network[] = {"nfs",    "nfs4",      "cifs", "smb3", "smbfs",
                                               "9p",     "ceph",      "afs",  "ncpfs", "coda",
                                               "gfs2",   "glusterfs", "lustre", "davfs", "ocfs2"};
    static const std::string_view pseudo[] = {"proc",   "sysfs",  "devtmpfs", "devpts", "cgroup",
                                              "cgroup2", "autofs", "debugfs",  "tracefs", "securityfs",
                                              "pstore", "bpf",    "configfs", "mqueue", "hugetlbfs"};
    for (std::string_view t : fat) {
        if (type == t) {
            return refuse("FAT and exFAT keep no change time");
        }
    }
    for (std::string_view t : ntfs) {
        if (type == t) {
            return refuse("NTFS times come from a driver");
        }
    }
    if (type == "fuse" || type == "fuseblk" || type.substr(0, 5) == "fuse.") {
        return refuse("FUSE file systems answer with times of their own making");
    }
    for (std::string_view t : network) {
        if (type == t) {
            return refuse("a network file system's times come from another clock");
        }
    }
    for (std::string_view t : pseudo) {
        if (type == t) {
            return refuse("no lasting files");
        }
    }
    return true;
}

FileSystemId identify(const platform::MountEntry& mount,
                      const std::vector<platform::MountEntry>& mounts,
                      const std::function<std::string(const std::string&)>& uuidOf)
{
    FileSystemId id;
    id.type = mount.type;
    if (!trustedType(mount.type, &id.why)) {
        return id;
    }
    std::string subvolume;
    if (mount.type == "btrfs") {
        subvolume = optionValue(mount.superOptions, "subvolid");
        for (const platform::MountEntry& other : mounts) {
            if (other.device == mount.device &&
                optionValue(other.superOptions, "subvolid") != subvolume) {
                id.why = "btrfs subvolumes that share a device number";
                return id;
            }
        }
    }
    const std::string uuid = mount.source.rfind("/dev/", 0) == 0 ? uuidOf(mount.source) : "";
    if (!uuid.empty()) {
        id.identity = "uuid:" + uuid;
    } else {
        id.identity = "device:" + mount.device;
        id.byDevice = true;
    }
    if (!subvolume.empty()) {
        id.identity += "/subvolume:" + subvolume;
    }
    return id;
}

// The UUID in the superblock of a device or image file, by libblkid; "".
namespace {

std::string probedUuid(const std::string& path)
{
    std::string uuid;
    if (blkid_probe probe = blkid_new_probe_from_filename(path.c_str())) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_UUID);
        const char* value = nullptr;
        std::size_t length = 0;
        if (blkid_do_safeprobe(probe) == 0 &&
            blkid_probe_lookup_value(probe, "UUID", &value, &length) == 0 && value != nullptr) {
            uuid.assign(value);
        }
        blkid_free_probe(probe);
    }
    return uuid;
}

// The file behind a loop device ("/dev/loop3"), or "".
std::string loopBackingFile(const std::string& source)
{
    const std::string name = source.substr(source.rfind('/') + 1);
    if (name.rfind("loop", 0) != 0) {
        return "";
    }
    std::string text;
    if (!platform::readWholeFile("/sys/block/" + name + "/loop/backing_file", text)) {
        return "";
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string deviceUuid(const std::string& source)
{
    // The device itself; else the names udev gave; else, for a loop device
    // the user may not open, the image behind it.
    std::string uuid = probedUuid(source);
    if (uuid.empty()) {
        uuid = uuidFromLinks(source);
    }
    if (const std::string image = uuid.empty() ? loopBackingFile(source) : "";
        !image.empty() && image[0] == '/') {
        uuid = probedUuid(image);
    }
    return uuid;
}

FileSystems::FileSystems()
{
    std::string text;
    if (platform::readWholeFile("/proc/self/mountinfo", text)) {
        m_mounts = platform::parseMountInfo(text);
    }
    m_uuidOf = deviceUuid;
}

FileSystems::FileSystems(std::vector<platform::MountEntry> mounts,
                         std::function<std::string(const std::string&)> uuidOf)
    : m_mounts(std::move(mounts)), m_uuidOf(std::move(uuidOf))
{
}

const FileSystemId& FileSystems::of(dev_t device)
{
    auto found = m_known.find(device);
    if (found != m_known.end()) {
        return found->second;
    }
    FileSystemId id;
    id.why = "not in the mount table";
    const std::string text = deviceText(device);
    for (const platform::MountEntry& mount : m_mounts) {
        if (mount.device == text) {
            id = identify(mount, m_mounts, m_uuidOf);
            break;
        }
    }
    return m_known.emplace(device, std::move(id)).first->second;
}

}  // namespace cache
