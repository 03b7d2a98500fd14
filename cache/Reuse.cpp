// What the cache proves about one group of files of a size, and what must still be read.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cache/Reuse.h"

#include <algorithm>
#include <map>
#include <utility>

namespace cache {

namespace {

std::int64_t partOf(const std::vector<std::int64_t>& parts, std::size_t i)
{
    return parts.empty() ? 0 : parts[i];
}

// The files standing for themselves, by part.
std::map<std::int64_t, std::vector<std::size_t>> unitsByPart(const std::vector<Known>& files,
                                                             const std::vector<std::int64_t>& parts,
                                                             std::vector<std::size_t>& standsWith)
{
    std::map<std::pair<std::int64_t, std::int64_t>, std::size_t> firstOfClass;
    std::map<std::int64_t, std::vector<std::size_t>> units;
    for (std::size_t i = 0; i < files.size(); ++i) {
        standsWith[i] = i;
        const Known& k = files[i];
        if (k.trusted && k.classId != 0) {
            const auto [at, added] = firstOfClass.emplace(std::pair{partOf(parts, i), k.classId}, i);
            if (!added) {
                standsWith[i] = at->second;
                continue;
            }
        }
        units[partOf(parts, i)].push_back(i);
    }
    return units;
}

// Whether every file of a part has a trusted head digest of one length.
bool headsKnown(const std::vector<Known>& files, const std::vector<std::size_t>& units)
{
    const std::uint32_t length = files[units.front()].headLength;
    return length != 0 && std::all_of(units.begin(), units.end(), [&](std::size_t i) {
               return files[i].trusted && files[i].headLength == length;
           });
}

}  // namespace

GroupPlan planGroup(const std::vector<Known>& files, const std::vector<std::int64_t>& parts)
{
    GroupPlan plan;
    plan.standsWith.resize(files.size());
    plan.read.assign(files.size(), false);
    for (auto& [part, units] : unitsByPart(files, parts, plan.standsWith)) {
        if (units.size() < 2) {
            continue;  // nothing to compare it with
        }
        if (!headsKnown(files, units)) {
            for (std::size_t i : units) {
                plan.read[i] = true;
            }
            continue;
        }
        std::map<std::uint64_t, std::size_t> sharing;
        for (std::size_t i : units) {
            ++sharing[files[i].head];
        }
        for (std::size_t i : units) {
            // Different digests at the same place prove different bytes;
            // equal ones prove nothing, so those files are read.
            plan.read[i] = sharing[files[i].head] >= 2;
        }
    }
    return plan;
}

}  // namespace cache
