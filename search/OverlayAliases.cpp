// Tells apart the paths of one file seen through an overlay mount and in its layers.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/OverlayAliases.h"

#include <algorithm>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include "text/Text.h"

namespace search {

namespace {

// `folder` (ending with '/') lies at or below `top` (a mount table path).
bool isAtOrBelow(const std::string& folder, const std::string& top)
{
    if (top == "/") {
        return true;
    }
    return folder.size() > top.size() && folder.compare(0, top.size(), top) == 0 &&
           folder[top.size()] == '/';
}

// The device every layer of `overlay` is on, when they share one.
std::optional<dev_t> sharedDevice(const platform::OverlayMount& overlay)
{
    std::optional<dev_t> device;
    std::vector<std::string> layers = overlay.lowers;
    if (!overlay.upper.empty()) {
        layers.push_back(overlay.upper);
    }
    for (const std::string& layer : layers) {
        struct stat st = {};
        if (::stat(layer.c_str(), &st) != 0 || (device && *device != st.st_dev)) {
            return std::nullopt;
        }
        device = st.st_dev;
    }
    return device;
}

}  // namespace

void OverlayAliases::load(std::vector<platform::OverlayMount> overlays)
{
    // An overlay whose layers this process cannot all reach (one made in
    // another mount namespace, as a container's) cannot be told: which
    // layer shows a file would be a guess.
    auto reachable = [](const std::string& layer) {
        struct stat st = {};
        return ::stat(layer.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    m_overlays.clear();
    for (platform::OverlayMount& overlay : overlays) {
        const bool whole = (overlay.upper.empty() || reachable(overlay.upper)) &&
                           std::all_of(overlay.lowers.begin(), overlay.lowers.end(), reachable);
        if (whole && (!overlay.upper.empty() || !overlay.lowers.empty())) {
            m_overlays.push_back(std::move(overlay));
        }
    }
    m_layers.clear();
    m_layerDevices.clear();
    m_lookups.clear();
    m_mergedFolders.clear();
    for (const platform::OverlayMount& overlay : m_overlays) {
        m_lookups.emplace_back(overlay);
        m_layerDevices.push_back(sharedDevice(overlay));
        if (!overlay.upper.empty()) {
            m_layers.push_back(overlay.upper);
        }
        m_layers.insert(m_layers.end(), overlay.lowers.begin(), overlay.lowers.end());
    }
    m_overlay = -1;
    m_inLayer = false;
    m_takenThroughOverlay.clear();
    m_takenInLayer.clear();
}

void OverlayAliases::enterFolder(const std::string& folder)
{
    const int previous = m_overlay;
    m_overlay = -1;
    m_inLayer = false;
    if (m_overlays.empty()) {
        return;
    }
    // Of nested overlays the innermost holds the folder.
    std::size_t best = 0;
    for (std::size_t i = 0; i < m_overlays.size(); ++i) {
        const std::string& point = m_overlays[i].mountPoint;
        if (isAtOrBelow(folder, point) && (m_overlay < 0 || point.size() >= best)) {
            m_overlay = static_cast<int>(i);
            best = point.size();
        }
    }
    // Another file system mounted inside a merged folder is no overlay.
    struct statfs fs = {};
    if (m_overlay >= 0 && ::statfs(folder.c_str(), &fs) == 0 &&
        fs.f_type != OVERLAYFS_SUPER_MAGIC) {
        m_overlay = -1;
    }
    if (m_overlay != previous) {
        m_mergedFolders.clear();
    }
    if (m_overlay >= 0) {
        followMergedFolders(folder);
    }
    for (const std::string& layer : m_layers) {
        m_inLayer = m_inLayer || isAtOrBelow(folder, layer);
    }
}

void OverlayAliases::followMergedFolders(const std::string& folder)
{
    const std::string& point = m_overlays[static_cast<std::size_t>(m_overlay)].mountPoint;
    const platform::OverlayLookup& lookup = m_lookups[static_cast<std::size_t>(m_overlay)];
    while (!m_mergedFolders.empty() && !folder.starts_with(m_mergedFolders.back().path)) {
        m_mergedFolders.pop_back();
    }
    if (m_mergedFolders.empty()) {
        m_mergedFolders.push_back({point == "/" ? "/" : point + "/", true, lookup.root()});
    }
    while (m_mergedFolders.back().path.size() < folder.size()) {
        const MergedFolder& parent = m_mergedFolders.back();
        const std::size_t end = folder.find('/', parent.path.size());
        MergedFolder next{folder.substr(0, end + 1), false, {}};
        const std::string name = folder.substr(parent.path.size(), end - parent.path.size());
        next.known = parent.known && lookup.folder(parent.layers, name, next.layers);
        m_mergedFolders.push_back(std::move(next));
    }
}

bool OverlayAliases::isAlias(const platform::FileEntry& entry)
{
    if (m_overlay >= 0) {
        const auto index = static_cast<std::size_t>(m_overlay);
        const platform::OverlayMount& overlay = m_overlays[index];
        // Layers on several file systems give a file of the overlay the
        // device of its layer's own, not the overlay's.
        std::vector<Identity> backing;
        if (entry.device == overlay.device && m_layerDevices[index]) {
            backing.push_back({*m_layerDevices[index], entry.inode});
        }
        const MergedFolder& here = m_mergedFolders.back();
        if (here.known) {
            m_lookups[index].files(here.layers, entry.name, entry.inode, backing);
        }
        if (backing.empty()) {
            return true;
        }
        for (const Identity& identity : backing) {
            if (m_takenInLayer.count(identity) != 0) {
                return true;
            }
        }
        m_takenThroughOverlay.insert(backing.begin(), backing.end());
    }
    if (m_inLayer) {
        const Identity own = {entry.device, entry.inode};
        if (m_takenThroughOverlay.count(own) != 0) {
            return true;
        }
        m_takenInLayer.insert(own);
    }
    return false;
}

}  // namespace search
