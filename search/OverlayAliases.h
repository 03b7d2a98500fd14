// Tells apart the paths of one file seen through an overlay mount and in its layers.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "platform/FolderListing.h"
#include "platform/Mounts.h"

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
    // Whether the file at `path` of the current folder is another path to a
    // file already taken.
    bool isAlias(const std::string& path, const platform::FileEntry& entry);

private:
    using Identity = std::pair<dev_t, ino_t>;

    // The file of the overlay's layers that a merged path shows: the
    // topmost layer that holds the path.
    bool backingFile(const platform::OverlayMount& overlay, const std::string& relative,
                     Identity& identity) const;

    std::vector<platform::OverlayMount> m_overlays;
    // Layer folders, each ending with '/'.
    std::vector<std::string> m_layers;
    // The overlay whose merged folder holds the current folder, or -1.
    int m_overlay = -1;
    bool m_inLayer = false;
    std::set<Identity> m_takenThroughOverlay;  // the layers' files behind merged paths
    std::set<Identity> m_takenInLayer;
};

}  // namespace search
