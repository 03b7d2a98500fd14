// Fuzz target: the mount table parser and the drives made from it.
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the mount table: any text parses without fault, and the
// drives made from it keep their promises (at most 26, letters distinct and
// in order, the prefix is the mount point without its last '/').
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

#include "platform/Mounts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<platform::MountEntry> mounts = platform::parseMountInfo(text);
    platform::DriveProbe probe;
    probe.removable = [](const std::string& device) { return device.size() % 2 == 1; };
    probe.label = [](const std::string& source) { return source.size() > 6 ? source : ""; };
    const std::vector<platform::Drive> drives = platform::drivesFromMounts(mounts, probe);
    if (drives.size() > 26) {
        std::abort();
    }
    std::set<std::string> points;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const platform::Drive& drive = drives[i];
        if (drive.letter < 'A' || drive.letter > 'Z' ||
            (i > 0 && drive.letter <= drives[i - 1].letter)) {
            std::abort();
        }
        if (!points.insert(drive.mountPoint).second) {
            std::abort();  // one file system mounted twice is one drive
        }
        // An absolute mount point; the root file system's prefix is "".
        const std::string expected = drive.mountPoint == "/" ? "" : drive.mountPoint;
        if (drive.mountPoint.empty() || drive.mountPoint[0] != '/' ||
            (drive.mountPoint.size() > 1 && drive.mountPoint.back() == '/') ||
            drive.prefix != expected || drive.caption().empty()) {
            std::abort();
        }
    }
    return 0;
}
