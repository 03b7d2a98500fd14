// The mount table and the drives made from it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// One line of /proc/self/mountinfo, with its escapes (\040 and the like)
// decoded.
struct MountEntry {
    int id = 0;
    int parent = 0;
    std::string device;  // "major:minor"
    std::string root;    // the folder of the file system mounted here
    std::string mountPoint;
    std::string type;
    std::string source;
    std::string superOptions;  // as written, escapes kept
};

std::vector<MountEntry> parseMountInfo(std::string_view text);

// An overlay mount: its merged folder, the device its files show there, and
// the folders it is made of.
struct OverlayMount {
    std::string mountPoint;
    dev_t device = 0;
    std::string upper;                // "" for a read-only overlay
    std::vector<std::string> lowers;  // topmost first, then the data-only ones
    bool userXattr = false;           // its marks are user.overlay.*, not trusted.overlay.*
};

// The overlays among the mounts, their layers read from the super options
// upperdir= and lowerdir= (or lowerdir+= and datadir+=, the data-only layers
// after "::"); one with a layer that is not an absolute, plain path is left
// out, as it cannot be told.
std::vector<OverlayMount> overlayMounts(const std::vector<MountEntry>& mounts);
// Those of this process's mount table.
std::vector<OverlayMount> systemOverlays();

enum class DriveType { Removable, Fixed, Remote, CdRom };

// A mounted file system that a user would call a drive.
struct Drive {
    char letter = ' ';
    DriveType type = DriveType::Fixed;
    std::string mountPoint;
    // The mount point without its trailing '/': "" for the root file system.
    std::string prefix;
    std::string label;
    std::string device;
    // The row caption: the label, else the mount point, then " (C:)".
    std::string caption() const;
};

// What the drive list needs of the machine beyond the mount table.
struct DriveProbe {
    // Whether the block device "major:minor" is removable.
    std::function<bool(const std::string& device)> removable;
    // The volume label of a mount's source ("/dev/sdb1"), or "".
    std::function<std::string(const std::string& source)> label;
};

// The drives among the mounts: the root file system, block-device and
// network file systems, never pseudo file systems; a file system mounted
// twice is listed once. Letters: removable drives A: and B:, the root C:,
// further fixed drives D:, E:, ... by mount path, then remote drives, then
// CD-ROMs; at most 26. Sorted by letter.
std::vector<Drive> drivesFromMounts(const std::vector<MountEntry>& mounts, const DriveProbe& probe);

// The drives of this machine, from /proc/self/mountinfo and /sys.
std::vector<Drive> systemDrives();
DriveProbe systemProbe();

}  // namespace platform
