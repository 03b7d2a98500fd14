// Tells apart the paths of one file seen through an overlay mount and in its layers.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "platform/FolderListing.h"
#include "platform/Mounts.h"
#include "platform/OverlayLookup.h"

namespace search {

// An overlay's merged folder shows the files of its upper and lower folders
// under another device number: searched together, merged/x and upper/x would
// look like two copies of one content while they are one file, and removing
// one removes the other. Of such a pair, the walk takes whichever path it
// meets first. Only folders on an overlay or inside one of its layers cost
// anything; files elsewhere are not looked at.
class OverlayAliases {
public:
    // The overlays to tell, read as a run starts; forgets what was seen.
    void load(std::vector<platform::OverlayMount> overlays);
    // Called for each folder the walk enters (its path ends with '/').
    void enterFolder(const std::string& folder);
    // Whether the file `entry` of the current folder is another path to a
    // file already taken, or a file of an overlay whose layer files cannot be
    // told (which is then never taken): the overlay's own way down its
    // layers is followed, through renamed folders and files, to the lower
    // file that holds the data of a file copied up for its metadata only.
    bool isAlias(const platform::FileEntry& entry);
    // Whether the current folder is on an overlay or in a layer: only then
    // need isAlias be asked.
    bool watching() const { return m_overlay >= 0 || m_inLayer; }

private:
    using Identity = std::pair<dev_t, ino_t>;

    // A merged folder on the way to the current one, with its layer folders.
    struct MergedFolder {
        std::string path;    // ending with '/'
        bool known = false;  // whether its layer folders could be told
        std::vector<platform::LayerFolder> layers;
    };

    // Makes m_mergedFolders end with the current folder, looking up only
    // the folders below the deepest one it already holds.
    void followMergedFolders(const std::string& folder);

    std::vector<platform::OverlayMount> m_overlays;
    std::vector<platform::OverlayLookup> m_lookups;  // parallel to it
    // Parallel to it: the device of its layers when they all share one. Then
    // the overlay gives each file the inode of the layer file behind it, which
    // finds it even in a folder renamed through the overlay.
    std::vector<std::optional<dev_t>> m_layerDevices;
    // Layer folders, each ending with '/'.
    std::vector<std::string> m_layers;
    // The overlay whose merged folder holds the current folder, or -1.
    int m_overlay = -1;
    // From the merged root of that overlay down to the current folder.
    std::vector<MergedFolder> m_mergedFolders;
    bool m_inLayer = false;
    std::set<Identity> m_takenThroughOverlay;  // the layers' files behind merged paths
    std::set<Identity> m_takenInLayer;
};

}  // namespace search
