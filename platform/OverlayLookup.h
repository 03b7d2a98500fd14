// Which files of an overlay's layers a merged path shows, found the way the overlay finds them.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "platform/Mounts.h"
#include "platform/NoFollowOpen.h"

namespace platform {

using LayerFile = std::pair<dev_t, ino_t>;

// One layer's folder that takes part in a merged folder.
struct LayerFolder {
    std::size_t layer = 0;  // the upper layer first (when there is one), then the lowers
    std::string path;       // below the layer's root: "" or ending with '/'
};

// Follows a merged path down an overlay's layers as the overlay does: a
// folder or file renamed through the overlay by the redirect its upper entry
// carries (a path from the layers' roots, or a name in the same folder), a
// file copied up for its metadata only on to the lower file that holds its
// data, stopping at a whiteout, an opaque folder or an entry of another type.
// No link is followed on the way. Paths are bytes as the layers hold them.
class OverlayLookup {
public:
    explicit OverlayLookup(const OverlayMount& overlay);

    // The layer folders that make up the merged root.
    std::vector<LayerFolder> root() const;
    // Those of the merged folder `name` of the folder made of `parent`,
    // topmost first. False when they cannot be told (see files()).
    bool folder(const std::vector<LayerFolder>& parent, const std::string& name,
                std::vector<LayerFolder>& folders) const;
    // The same for `relative` (below the mount point, no '/' at its ends).
    bool folderAt(const std::string& relative, std::vector<LayerFolder>& folders) const;

    // Every layer file that the entry `name` of the merged folder made of
    // `parent` shows or passes over on its way down to its data; `merged` is
    // the inode number the overlay gives the entry. False when those files cannot be
    // told: an entry of a layer that cannot be reached without following a
    // link or read (its redirect, its opaque mark), a redirect that is no
    // plain name or path, a renamed folder in the middle of a redirect's
    // path, or a merged inode number that none of the files found bears (a
    // redirect this process may not read, as an ordinary user may not read
    // the trusted.* attributes, leads elsewhere).
    bool files(const std::vector<LayerFolder>& parent, const std::string& name, ino_t merged,
               std::vector<LayerFile>& identities) const;

private:
    enum class Kind { Missing, Stop, Folder, File };
    struct Entry {
        Kind kind = Kind::Missing;
        LayerFile identity;
        std::string redirect;
        bool opaque = false;
    };
    struct Found {
        Kind kind = Kind::Missing;
        std::vector<LayerFolder> folders;
        std::vector<LayerFile> files;
    };

    bool lookUp(const std::vector<LayerFolder>& parent, const std::string& name,
                Found& found) const;
    bool inspect(std::size_t layer, const std::string& path, bool checkWay, Entry& entry) const;
    bool attribute(int fd, const char* name, std::string& value) const;

    std::vector<std::string> m_layers;  // roots, topmost first
    std::vector<UniqueFd> m_roots;      // parallel to it, opened as named
    std::string m_prefix;               // of the overlay's extended attributes
};

}  // namespace platform
