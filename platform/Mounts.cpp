// The mount table and the drives made from it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Mounts.h"

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "text/Text.h"

namespace platform {

namespace {

// mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
std::string unescape(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() + 0 && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>(((field[i + 1] - '0') << 6) |
                                            ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<std::string_view> splitBlanks(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ') {
            ++i;
        }
        if (i > start) {
            fields.push_back(line.substr(start, i - start));
        }
    }
    return fields;
}

const std::set<std::string, std::less<>> kBlockTypes = {
    "ext2", "ext3",    "ext4",    "xfs",      "btrfs",  "vfat",  "msdos", "exfat",
    "ntfs", "ntfs3",   "fuseblk", "iso9660",  "udf",    "f2fs",  "jfs",   "reiserfs",
    "hfs",  "hfsplus", "zfs",     "bcachefs", "nilfs2", "minix",
};
const std::set<std::string, std::less<>> kNetworkTypes = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "ceph", "glusterfs", "afs",
};
const std::set<std::string, std::less<>> kCdTypes = {"iso9660", "udf"};

bool isDriveType(const MountEntry& m)
{
    if (kBlockTypes.count(m.type) != 0 || kNetworkTypes.count(m.type) != 0) {
        return true;
    }
    return false;
}

// The kernel writes absolute, canonical paths; anything else is a damaged
// line, and a drive made from it could point anywhere (a relative "prefix"
// would search the current folder).
bool isCanonicalPath(const std::string& path)
{
    if (path.empty() || path[0] != '/') {
        return false;
    }
    if (path == "/") {
        return true;
    }
    if (path.back() == '/') {
        return false;
    }
    std::size_t at = 1;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string_view part(path.data() + at, end - at);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        at = end + 1;
    }
    return true;
}

bool isDeviceNumber(std::string_view text)
{
    const std::size_t colon = text.find(':');
    auto digits = [](std::string_view part) {
        return !part.empty() && part.size() <= 10 &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return colon != std::string_view::npos && digits(text.substr(0, colon)) &&
           digits(text.substr(colon + 1));
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> mounts;
    for (const std::string& line : text::splitLines(text)) {
        const std::vector<std::string_view> fields = splitBlanks(line);
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 7 || dash == fields.end() || dash - fields.begin() < 6 ||
            fields.end() - dash < 3) {
            continue;
        }
        MountEntry m;
        std::int32_t number = 0;
        if (!text::parseInt32(fields[0], number)) {
            continue;
        }
        m.id = number;
        if (!text::parseInt32(fields[1], number)) {
            continue;
        }
        m.parent = number;
        if (!isDeviceNumber(fields[2])) {
            continue;
        }
        m.device = std::string(fields[2]);
        m.root = unescape(fields[3]);
        m.mountPoint = unescape(fields[4]);
        if (!isCanonicalPath(m.mountPoint) || m.root.empty() || m.root[0] != '/') {
            continue;
        }
        m.type = unescape(*(dash + 1));
        m.source = unescape(*(dash + 2));
        if (fields.end() - dash > 3) {
            m.superOptions = std::string(*(dash + 3));
        }
        mounts.push_back(std::move(m));
    }
    return mounts;
}

std::string Drive::caption() const
{
    return (label.empty() ? mountPoint : label) + " (" + letter + ":)";
}

namespace {

// The mounts that may be drives, each visible one once, in the order a
// file system mounted twice is best taken: the mount of its whole tree
// first, then the root file system, then the shortest path.
std::vector<const MountEntry*> driveCandidates(const std::vector<MountEntry>& mounts)
{
    // A later mount on the same point hides the earlier one.
    std::map<std::string, const MountEntry*> visible;
    for (const MountEntry& m : mounts) {
        visible[m.mountPoint] = &m;
    }
    std::vector<const MountEntry*> candidates;
    for (const auto& [point, m] : visible) {
        if (point == "/" || isDriveType(*m)) {
            candidates.push_back(m);
        }
    }
    std::sort(candidates.begin(), candidates.end(), [](const MountEntry* a, const MountEntry* b) {
        if ((a->root == "/") != (b->root == "/")) {
            return a->root == "/";
        }
        if ((a->mountPoint == "/") != (b->mountPoint == "/")) {
            return a->mountPoint == "/";
        }
        if (a->mountPoint.size() != b->mountPoint.size()) {
            return a->mountPoint.size() < b->mountPoint.size();
        }
        return a->mountPoint < b->mountPoint;
    });
    return candidates;
}

// The drive of one mount, not yet lettered.
Drive driveOf(const MountEntry& m, bool network, const DriveProbe& probe)
{
    Drive drive;
    drive.mountPoint = m.mountPoint;
    drive.prefix = m.mountPoint == "/" ? "" : m.mountPoint;
    while (!drive.prefix.empty() && drive.prefix.back() == '/') {
        drive.prefix.pop_back();
    }
    drive.device = m.device;
    if (m.mountPoint == "/") {
        drive.type = DriveType::Fixed;
    } else if (network) {
        drive.type = DriveType::Remote;
    } else if (kCdTypes.count(m.type) != 0) {
        drive.type = DriveType::CdRom;
    } else if (text::startsWith(m.mountPoint, "/media/") ||
               text::startsWith(m.mountPoint, "/run/media/") ||
               (probe.removable && probe.removable(m.device))) {
        drive.type = DriveType::Removable;
    } else {
        drive.type = DriveType::Fixed;
    }
    if (probe.label && !network) {
        drive.label = probe.label(m.source);
    }
    return drive;
}

// Letters for the drives: A and B for the first two removable ones, C for
// the root, then the other fixed (and further removable) drives by path,
// network shares and CD-ROMs; at most up to Z. Sorted by letter.
std::vector<Drive> letterDrives(std::vector<Drive> drives)
{
    auto byPath = [](const Drive& a, const Drive& b) { return a.mountPoint < b.mountPoint; };
    std::vector<Drive> removable;
    std::vector<Drive> fixed;
    std::vector<Drive> remote;
    std::vector<Drive> cdrom;
    Drive root;
    bool haveRoot = false;
    for (Drive& d : drives) {
        if (d.mountPoint == "/") {
            root = std::move(d);
            haveRoot = true;
            continue;
        }
        switch (d.type) {
        case DriveType::Removable:
            removable.push_back(std::move(d));
            break;
        case DriveType::Fixed:
            fixed.push_back(std::move(d));
            break;
        case DriveType::Remote:
            remote.push_back(std::move(d));
            break;
        case DriveType::CdRom:
            cdrom.push_back(std::move(d));
            break;
        }
    }
    for (auto* list : {&removable, &fixed, &remote, &cdrom}) {
        std::sort(list->begin(), list->end(), byPath);
    }

    std::vector<Drive> lettered;
    char next = 'A';
    for (std::size_t i = 0; i < removable.size() && i < 2; ++i) {
        removable[i].letter = next++;
        lettered.push_back(removable[i]);
    }
    next = 'C';
    if (haveRoot) {
        root.letter = next++;
        lettered.push_back(root);
    }
    std::vector<Drive> rest;
    rest.insert(rest.end(), fixed.begin(), fixed.end());
    // Removable drives past the first two queue with the fixed ones.
    for (std::size_t i = 2; i < removable.size(); ++i) {
        rest.push_back(removable[i]);
    }
    std::sort(rest.begin(), rest.end(), byPath);
    rest.insert(rest.end(), remote.begin(), remote.end());
    rest.insert(rest.end(), cdrom.begin(), cdrom.end());
    for (Drive& d : rest) {
        if (next > 'Z') {
            break;
        }
        d.letter = next++;
        lettered.push_back(d);
    }
    std::sort(lettered.begin(), lettered.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
    return lettered;
}

}  // namespace

std::vector<Drive> drivesFromMounts(const std::vector<MountEntry>& mounts, const DriveProbe& probe)
{
    std::set<std::string> seenDevices;
    std::vector<Drive> drives;
    for (const MountEntry* m : driveCandidates(mounts)) {
        const bool network = kNetworkTypes.count(m->type) != 0;
        // A file system mounted twice is one drive. Network shares have no
        // device of their own worth comparing.
        const std::string identity = network ? m->source + "|" + m->root : m->device;
        if (!seenDevices.insert(identity).second) {
            continue;
        }
        drives.push_back(driveOf(*m, network, probe));
    }
    return letterDrives(std::move(drives));
}

namespace {

std::string readSmallFile(const std::string& path)
{
    std::string text;
    readWholeFile(path, text);
    return text::trim(text);
}

// /dev/disk/by-label holds links named after labels, with \x20 escapes.
std::string decodeLabel(const std::string& name)
{
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            const std::string hex = name.substr(i + 2, 2);
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(name[i]);
    }
    return out;
}

}  // namespace

DriveProbe systemProbe()
{
    DriveProbe probe;
    probe.removable = [](const std::string& device) {
        char resolved[PATH_MAX];
        if (::realpath(("/sys/dev/block/" + device).c_str(), resolved) == nullptr) {
            return false;
        }
        std::string path = resolved;
        // A partition's own folder has no "removable"; its disk's has.
        for (int up = 0; up < 2; ++up) {
            const std::string value = readSmallFile(path + "/removable");
            if (!value.empty()) {
                return value == "1";
            }
            const std::size_t slash = path.rfind('/');
            if (slash == std::string::npos || slash == 0) {
                break;
            }
            path.resize(slash);
        }
        return false;
    };
    probe.label = [](const std::string& source) {
        char wanted[PATH_MAX];
        if (source.rfind("/dev/", 0) != 0 || ::realpath(source.c_str(), wanted) == nullptr) {
            return std::string();
        }
        DIR* dir = ::opendir("/dev/disk/by-label");
        if (dir == nullptr) {
            return std::string();
        }
        std::string label;
        while (const dirent* item = ::readdir(dir)) {
            char target[PATH_MAX];
            const std::string link = std::string("/dev/disk/by-label/") + item->d_name;
            if (item->d_name[0] != '.' && ::realpath(link.c_str(), target) != nullptr &&
                std::string(target) == wanted) {
                label = decodeLabel(item->d_name);
                break;
            }
        }
        ::closedir(dir);
        return label;
    };
    return probe;
}

std::vector<Drive> systemDrives()
{
    std::string text;
    if (!readWholeFile("/proc/self/mountinfo", text)) {
        return {};
    }
    return drivesFromMounts(parseMountInfo(text), systemProbe());
}

namespace {

// The super options split at their commas; an escaped comma (\054) is part
// of its value and is decoded with the rest.
std::vector<std::string> splitOptions(const std::string& options)
{
    std::vector<std::string> out;
    std::size_t begin = 0;
    while (begin <= options.size()) {
        const std::size_t end = std::min(options.find(',', begin), options.size());
        out.push_back(unescape(std::string_view(options).substr(begin, end - begin)));
        begin = end + 1;
    }
    return out;
}

// lowerdir= holds its folders joined by ':', a ':' in a name written "\:".
std::vector<std::string> splitLayers(const std::string& value)
{
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            out.back().push_back(value[++i]);
        } else if (value[i] == ':') {
            out.emplace_back();
        } else {
            out.back().push_back(value[i]);
        }
    }
    return out;
}

bool parseDevice(const std::string& text, dev_t& device)
{
    const std::size_t colon = text.find(':');
    std::int32_t major = 0;
    std::int32_t minor = 0;
    if (colon == std::string::npos || !text::parseInt32(text.substr(0, colon), major) ||
        !::text::parseInt32(text.substr(colon + 1), minor)) {
        return false;
    }
    device = ::makedev(static_cast<unsigned>(major), static_cast<unsigned>(minor));
    return true;
}

}  // namespace

std::vector<OverlayMount> overlayMounts(const std::vector<MountEntry>& mounts)
{
    std::vector<OverlayMount> overlays;
    for (const MountEntry& m : mounts) {
        OverlayMount overlay;
        if (m.type != "overlay" || !parseDevice(m.device, overlay.device)) {
            continue;
        }
        overlay.mountPoint = m.mountPoint;
        bool told = true;
        for (const std::string& option : splitOptions(m.superOptions)) {
            std::vector<std::string> layers;
            if (text::startsWith(option, "upperdir=")) {
                overlay.upper = option.substr(9);
            } else if (::text::startsWith(option, "lowerdir=")) {
                layers = splitLayers(option.substr(9));
            } else if (::text::startsWith(option, "lowerdir+=") ||
                       ::text::startsWith(option, "datadir+=")) {
                layers = {option.substr(option.find('=') + 1)};
            } else if (option == "userxattr") {
                overlay.userXattr = true;
            }
            for (std::size_t i = 0; i < layers.size(); ++i) {
                std::string& layer = layers[i];
                // "::" opens the data-only layers: no layer lies between.
                if (layer.empty() && i > 0 && i + 1 < layers.size()) {
                    continue;
                }
                told = told && isCanonicalPath(layer);
                overlay.lowers.push_back(std::move(layer));
            }
        }
        told = told && (overlay.upper.empty() || isCanonicalPath(overlay.upper));
        if (told) {
            overlays.push_back(std::move(overlay));
        }
    }
    return overlays;
}

std::vector<OverlayMount> systemOverlays()
{
    std::string text;
    if (!readWholeFile("/proc/self/mountinfo", text)) {
        return {};
    }
    return overlayMounts(parseMountInfo(text));
}

}  // namespace platform
