// Tests of the mount table and the drives made from it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Mounts.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/sysmacros.h>

#include "platform/WholeFile.h"
#include "text/StringList.h"

using namespace platform;

namespace {

std::vector<Drive> drivesOf(const std::string& fixture, const std::set<std::string>& removable = {},
                            const std::map<std::string, std::string>& labels = {})
{
    std::string text;
    EXPECT_TRUE(readWholeFile(MOUNTINFO_DIR "/" + fixture, text)) << fixture;
    DriveProbe probe;
    probe.removable = [removable](const std::string& device) {
        return removable.count(device) != 0;
    };
    probe.label = [labels](const std::string& source) {
        const auto it = labels.find(source);
        return it == labels.end() ? std::string() : it->second;
    };
    return drivesFromMounts(parseMountInfo(text), probe);
}

std::vector<std::string> captions(const std::vector<Drive>& drives)
{
    std::vector<std::string> out;
    for (const Drive& d : drives) {
        out.push_back(d.caption() + " [" + d.prefix + "]");
    }
    return out;
}

}  // namespace

TEST(MountsTest, LinesAreSplitAndEscapesDecoded)
{
    const auto mounts =
        parseMountInfo("512 26 8:17 / /media/ann/TRAVEL\\040STICK rw,nosuid shared:321 master:2 - "
                       "vfat /dev/sdb1 rw\n"
                       "garbage line\n"
                       "60 28 259:3 /sub\\134dir /home rw - ext4 /dev/nvme0n1p3 rw\n");
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].id, 512);
    EXPECT_EQ(mounts[0].parent, 26);
    EXPECT_EQ(mounts[0].device, "8:17");
    EXPECT_EQ(mounts[0].mountPoint, "/media/ann/TRAVEL STICK");
    EXPECT_EQ(mounts[0].type, "vfat");
    EXPECT_EQ(mounts[0].source, "/dev/sdb1");
    EXPECT_EQ(mounts[1].root, "/sub\\dir");
}

TEST(MountsTest, ADesktopListsItsPartitionsAndTheStickAsFloppy)
{
    const auto drives = drivesOf("desktop.txt", {"8:17"}, {{"/dev/sdb1", "TRAVEL"}});
    EXPECT_EQ(captions(drives), (std::vector<std::string>{
                                    "TRAVEL (A:) [/media/ann/TRAVEL STICK]",
                                    "/ (C:) []",
                                    "/boot/efi (D:) [/boot/efi]",
                                    "/home (E:) [/home]",
                                }));
    EXPECT_EQ(drives[0].type, DriveType::Removable);
    EXPECT_EQ(drives[1].type, DriveType::Fixed);
}

TEST(MountsTest, MountsUnderMediaAreRemovableWithoutAProbe)
{
    const auto drives = drivesOf("desktop.txt");
    EXPECT_EQ(drives[0].letter, 'A');
    EXPECT_EQ(drives[0].mountPoint, "/media/ann/TRAVEL STICK");
}

TEST(MountsTest, AContainerHasItsOverlayRootAndTheVolumeItMounts)
{
    const auto drives = drivesOf("container.txt");
    // The files bound over /etc come from the same disk as /work: one drive,
    // named by its shortest mount path.
    EXPECT_EQ(captions(drives), (std::vector<std::string>{"/ (C:) []", "/work (D:) [/work]"}));
}

TEST(MountsTest, NetworkSharesComeAfterFixedDrivesAndCdRomsLast)
{
    const auto drives = drivesOf("network.txt");
    EXPECT_EQ(captions(drives), (std::vector<std::string>{
                                    "/ (C:) []",
                                    "/boot (D:) [/boot]",
                                    "/home/ann/remote (E:) [/home/ann/remote]",
                                    "/mnt/share (F:) [/mnt/share]",
                                    "/srv/nfs/projects (G:) [/srv/nfs/projects]",
                                    "/mnt/cdrom (H:) [/mnt/cdrom]",
                                }));
    EXPECT_EQ(drives[2].type, DriveType::Remote);
    EXPECT_EQ(drives[5].type, DriveType::CdRom);
}

TEST(MountsTest, AFileSystemMountedTwiceIsOneDrive)
{
    const auto drives = drivesOf("bind.txt");
    EXPECT_EQ(captions(drives), (std::vector<std::string>{"/ (C:) []", "/data (D:) [/data]",
                                                          "/mnt/backup (E:) [/mnt/backup]"}));
}

TEST(MountsTest, NoMoreThanTwentySixDrives)
{
    std::string text = "1 0 8:0 / / rw - ext4 /dev/sda rw\n";
    for (int i = 0; i < 40; ++i) {
        text += std::to_string(100 + i) + " 1 8:" + std::to_string(100 + i) + " / /mnt/d" +
                (i < 10 ? "0" : "") + std::to_string(i) + " rw - ext4 /dev/x" + std::to_string(i) +
                " rw\n";
    }
    const auto drives = drivesFromMounts(parseMountInfo(text), DriveProbe());
    ASSERT_EQ(drives.size(), 24u);  // C: to Z:
    EXPECT_EQ(drives.back().letter, 'Z');
    EXPECT_EQ(drives.back().mountPoint, "/mnt/d22");
}

TEST(MountsTest, ThisMachineHasARootDrive)
{
    const auto drives = systemDrives();
    ASSERT_FALSE(drives.empty());
    bool root = false;
    for (const Drive& d : drives) {
        root = root || (d.letter == 'C' && d.prefix.empty());
    }
    EXPECT_TRUE(root);
}

TEST(MountsTest, DamagedLinesAreIgnoredNotTurnedIntoDrives)
{
    // Found by fuzzing: a relative or doubled mount point became a drive
    // whose prefix pointed at the current folder or at "//".
    const std::string text = "26 1 254612 540 0:52 / / rw,relatime - overlay overlay rw\n"
                             "27 26 0:21 / c,relatime shared:1 - xfs /dev/sdz rw\n"
                             "40 26 25:1 / // rw - btrfs /dev/vpdc rw\n"
                             "42 26 8:2 / /data/./x rw - ext4 /dev/sdb1 rw\n"
                             "43 26 8:3 relative /mnt rw - ext4 /dev/sdc1 rw\n"
                             "41 26 8:1 / / rw - ext4 /dev/sda1 rw\n";
    const std::vector<MountEntry> mounts = parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].device, "8:1");
}

TEST(MountsTest, AnOverlaysLayersAreReadFromItsSuperOptions)
{
    const std::vector<OverlayMount> overlays = overlayMounts(parseMountInfo(
        "68 46 0:40 / /srv/merged rw - overlay ov rw,lowerdir=/srv/a\\:b:/srv/c\\054d::/srv/data,"
        "upperdir=/srv/up\\040per,workdir=/srv/work\n"
        "69 46 0:41 / /srv/ro ro - overlay ov ro,lowerdir+=/srv/one,datadir+=/srv/two,userxattr\n"
        "70 46 0:42 / /srv/relative rw - overlay ov rw,lowerdir=layer,upperdir=/srv/u\n"
        "71 46 8:1 / /srv/plain rw - ext4 /dev/sda1 rw,lowerdir=/srv/x\n"));
    ASSERT_EQ(overlays.size(), 2u);  // a relative layer cannot be told; ext4 is no overlay
    EXPECT_EQ(overlays[0].mountPoint, "/srv/merged");
    EXPECT_EQ(overlays[0].device, makedev(0, 40));
    EXPECT_EQ(overlays[0].upper, "/srv/up per");
    EXPECT_EQ(overlays[0].lowers, (std::vector<std::string>{"/srv/a:b", "/srv/c,d", "/srv/data"}));
    EXPECT_FALSE(overlays[0].userXattr);
    EXPECT_EQ(overlays[1].upper, "");
    EXPECT_EQ(overlays[1].lowers, (std::vector<std::string>{"/srv/one", "/srv/two"}));
    EXPECT_TRUE(overlays[1].userXattr);
}
