// Which files of an overlay's layers a merged path shows, found the way the overlay finds them.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OverlayLookup.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/xattr.h>

namespace platform {

namespace {

// The overlay's mark of a whiteout: a character device 0:0.
bool isWhiteout(const struct stat& st)
{
    return S_ISCHR(st.st_mode) && st.st_rdev == 0;
}

// A redirect the overlay follows: a name without '/', or a path from the
// layers' roots of names that are neither empty, "." nor "..".
bool plainRedirect(const std::string& redirect)
{
    if (redirect.empty() || redirect.find('\0') != std::string::npos) {
        return false;
    }
    std::size_t begin = redirect[0] == '/' ? 1 : 0;
    if (begin == 0 && redirect.find('/') != std::string::npos) {
        return false;
    }
    while (begin <= redirect.size()) {
        const std::size_t end = std::min(redirect.find('/', begin), redirect.size());
        const std::string name = redirect.substr(begin, end - begin);
        if (name.empty() || name == "." || name == "..") {
            return false;
        }
        begin = end + 1;
    }
    return true;
}

// The name `wanted` (a name, or a path from the roots beginning with '/')
// once an entry found by it carries `redirect`: a path replaces it, a name
// replaces its last component.
std::string redirected(const std::string& wanted, const std::string& redirect)
{
    if (redirect[0] == '/') {
        return redirect;
    }
    const std::size_t slash = wanted.rfind('/');
    return slash == std::string::npos ? redirect : wanted.substr(0, slash + 1) + redirect;
}

}  // namespace

OverlayLookup::OverlayLookup(const OverlayMount& overlay)
    : m_prefix(overlay.userXattr ? "user.overlay." : "trusted.overlay.")
{
    if (!overlay.upper.empty()) {
        m_layers.push_back(overlay.upper);
    }
    m_layers.insert(m_layers.end(), overlay.lowers.begin(), overlay.lowers.end());
    for (const std::string& layer : m_layers) {
        m_roots.emplace_back(::open(layer.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
}

std::vector<LayerFolder> OverlayLookup::root() const
{
    std::vector<LayerFolder> folders;
    for (std::size_t layer = 0; layer < m_layers.size(); ++layer) {
        folders.push_back({layer, ""});
    }
    return folders;
}

bool OverlayLookup::folder(const std::vector<LayerFolder>& parent, const std::string& name,
                           std::vector<LayerFolder>& folders) const
{
    Found found;
    if (!lookUp(parent, name, found) || found.kind != Kind::Folder) {
        return false;
    }
    folders = std::move(found.folders);
    return true;
}

bool OverlayLookup::folderAt(const std::string& relative, std::vector<LayerFolder>& folders) const
{
    folders = root();
    std::size_t begin = 0;
    while (begin < relative.size()) {
        const std::size_t end = std::min(relative.find('/', begin), relative.size());
        std::vector<LayerFolder> next;
        if (!folder(folders, relative.substr(begin, end - begin), next)) {
            return false;
        }
        folders = std::move(next);
        begin = end + 1;
    }
    return true;
}

bool OverlayLookup::files(const std::vector<LayerFolder>& parent, const std::string& name,
                          ino_t merged, std::vector<LayerFile>& identities) const
{
    Found found;
    if (!lookUp(parent, name, found) || found.kind != Kind::File) {
        return false;
    }
    // The overlay gives a file the inode number of a layer file behind it
    // (with a layer's number in its top bits where it maps them into one range).
    constexpr ino_t kLowBits = ~static_cast<ino_t>(0) >> 16;
    bool borne = false;
    for (const LayerFile& identity : found.files) {
        borne = borne || identity.second == merged || identity.second == (merged & kLowBits);
    }
    if (!borne) {
        return false;
    }
    identities.insert(identities.end(), found.files.begin(), found.files.end());
    return true;
}

// Down the layers from the top: in each, the entry at the name wanted so far
// (below that layer's part of the parent, or from its root after a redirect
// to a path). A file is followed down past every layer, not only to its
// data, so that no lower file it may show is missed.
bool OverlayLookup::lookUp(const std::vector<LayerFolder>& parent, const std::string& name,
                           Found& found) const
{
    std::string wanted = name;
    for (std::size_t layer = 0; layer < m_layers.size(); ++layer) {
        std::string path;
        if (wanted[0] == '/') {
            path = wanted.substr(1);
        } else {
            const LayerFolder* part = nullptr;
            for (const LayerFolder& candidate : parent) {
                part = candidate.layer == layer ? &candidate : part;
            }
            if (part == nullptr) {
                continue;
            }
            path = part->path + wanted;
        }
        Entry entry;
        if (!inspect(layer, path, wanted[0] == '/', entry)) {
            return false;
        }
        if (entry.kind == Kind::Missing) {
            continue;
        }
        if (found.kind == Kind::Missing) {
            found.kind = entry.kind;
        }
        if (entry.kind != found.kind || entry.kind == Kind::Stop) {
            break;  // a whiteout, or an entry of another type, hides what lies below
        }
        if (entry.kind == Kind::Folder) {
            found.folders.push_back({layer, path + "/"});
        } else {
            found.files.push_back(entry.identity);
        }
        if (entry.opaque) {
            break;
        }
        if (!entry.redirect.empty()) {
            wanted = redirected(wanted, entry.redirect);
        }
    }
    return true;
}

// The entry at `path` below the layer's root, reached without following a
// link. With `checkWay`, the folders on the way must be neither renamed nor
// opaque, as the overlay would then look elsewhere.
bool OverlayLookup::inspect(std::size_t layer, const std::string& path, bool checkWay,
                            Entry& entry) const
{
    if (!m_roots[layer].ok()) {
        return false;
    }
    UniqueFd fd(openNoFollowAt(m_roots[layer].get(), path, O_PATH));
    if (!fd.ok()) {
        // ENOTDIR or ELOOP: a file or a link on the way ends the look-up there.
        const int error = errno;
        entry.kind = error == ENOENT ? Kind::Missing : Kind::Stop;
        return error == ENOENT || error == ENOTDIR || error == ELOOP;
    }
    struct stat st = {};
    if (::fstat(fd.get(), &st) != 0) {
        return false;
    }
    if (checkWay) {
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            Entry way;
            if (!inspect(layer, path.substr(0, slash), false, way) ||
                (way.kind == Kind::Folder && (way.opaque || !way.redirect.empty()))) {
                return false;
            }
        }
    }
    entry.identity = {st.st_dev, st.st_ino};
    if (isWhiteout(st) || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) {
        entry.kind = Kind::Stop;
        return true;
    }
    entry.kind = S_ISDIR(st.st_mode) ? Kind::Folder : Kind::File;
    std::string opaque;
    if (!attribute(fd.get(), "redirect", entry.redirect) ||
        (!entry.redirect.empty() && !plainRedirect(entry.redirect)) ||
        (entry.kind == Kind::Folder && !attribute(fd.get(), "opaque", opaque))) {
        return false;
    }
    // "y" hides the layers below; any other mark (whiteouts kept as files) is not understood.
    entry.opaque = !opaque.empty();
    return opaque.empty() || opaque == "y";
}

// The overlay's attribute `name` of the entry open as `fd` (O_PATH), "" when
// it has none. False when it cannot be read.
bool OverlayLookup::attribute(int fd, const char* name, std::string& value) const
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const std::string key = m_prefix + name;
    char buffer[4096];
    const ssize_t size = ::getxattr(self.c_str(), key.c_str(), buffer, sizeof buffer);
    if (size < 0) {
        value.clear();
        return errno == ENODATA || errno == ENOTSUP;
    }
    value.assign(buffer, static_cast<std::size_t>(size));
    return true;
}

}  // namespace platform
