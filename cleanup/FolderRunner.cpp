// Carries out a folder plan: each folder compared file by file, taken away whole, checked, finished.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <set>
#include <unistd.h>

#include "cleanup/Copy.h"
#include "cleanup/DeleteGuard.h"
#include "cleanup/FolderPlan.h"
#include "cleanup/FolderTree.h"
#include "cleanup/Rename.h"
#include "platform/FileContents.h"
#include "platform/FolderListing.h"
#include "platform/NoFollowOpen.h"
#include "platform/Trash.h"
#include "text/Text.h"

namespace cleanup {

std::int64_t FolderReport::count(Outcome outcome) const
{
    return std::count_if(results.begin(), results.end(),
                         [&](const FolderOutcome& r) { return r.outcome == outcome; });
}

std::int64_t FolderReport::bytesReclaimed() const
{
    std::int64_t total = 0;
    for (const FolderOutcome& r : results) {
        total += r.reclaimed;
    }
    return total;
}

namespace {

constexpr std::int64_t kChunk = 256 * 1024;

std::string shown(const std::string& path)
{
    return text::displayName(path);
}

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FolderOutcome untouched(const std::string& reason)
{
    FolderOutcome result;
    result.outcome = Outcome::Untouched;
    result.reason = reason;
    return result;
}

std::size_t trustedBelow(const std::string& path, const std::string& root)
{
    return !root.empty() && path.size() > root.size() && path.compare(0, root.size(), root) == 0
               ? root.size()
               : 0;
}

bool openNoFollow(const std::string& path, const std::string& root, platform::UniqueFd& fd)
{
    platform::PathPlace place;
    if (!platform::openPlaceNoFollow(path, trustedBelow(path, root), place)) {
        return false;
    }
    fd = platform::UniqueFd(::openat(place.folder.get(), place.name.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd.ok();
}

// Where a folder is while it is away from its name, and how it goes back.
struct Away {
    platform::UniqueFd folder;  // the folder its entry is in now (not for the trash)
    std::string name;           // that entry
    std::string where;          // its full path there
    platform::TrashEntry trash;
    bool inTrash = false;
};

}  // namespace

struct FolderRunner::Impl {
    FolderRunner& runner;
    FolderReport report;
    std::string runId;
    std::string stepId;
    std::int64_t sequence = 0;
    std::int64_t foldersDone = 0;
    std::string path;
    std::vector<char> buffers;
    // Per file of the folder at hand: its stamp when it was compared.
    std::map<std::string, platform::FileStamp> stamps;
    std::vector<CopyAtPlace> copies;
    // Every entry of the folder at hand as it was checked once away.
    std::map<std::string, struct stat> checked;

    bool stopping()
    {
        if (!report.stopped && runner.stopRequested && runner.stopRequested()) {
            report.stopped = true;
        }
        return report.stopped;
    }

    void progress(std::int64_t checked, std::int64_t toCheck)
    {
        if (runner.onProgress) {
            runner.onProgress({foldersDone, static_cast<std::int64_t>(runner.m_plan.folders.size()),
                               path, checked, toCheck});
        }
    }

    bool journal(const std::vector<std::string>& fields)
    {
        if (runner.m_journal == nullptr) {
            return true;
        }
        std::string error;
        if (runner.m_journal->write(fields, error)) {
            return true;
        }
        if (report.journalError.empty()) {
            report.journalError =
                "the journal " + runner.m_journal->path() + " cannot be written: " + error;
        }
        return false;
    }

    // Every file compared byte for byte with its copy, both reached without
    // following a link below their searched folders.
    bool compareAll(const PlanFolder& folder, FolderOutcome& result)
    {
        stamps.clear();
        copies.clear();
        const std::int64_t total = folder.bytes();
        std::int64_t checked = 0;
        for (const FolderFile& file : folder.files) {
            if (!compareOne(folder, file, checked, total, result)) {
                return false;
            }
        }
        return true;
    }

    bool compareOne(const PlanFolder& folder, const FolderFile& file, std::int64_t& checked,
                    std::int64_t total, FolderOutcome& result)
    {
        platform::UniqueFd mine;
        platform::UniqueFd theirs;
        platform::FileStamp before;
        platform::FileStamp copyBefore;
        if (!openNoFollow(file.path, folder.root, mine) || !platform::stampOf(mine.get(), before) ||
            !before.regular) {
            result = untouched(shown(file.path) + " is no longer a plain file there");
            return false;
        }
        if (!openNoFollow(file.copy, file.copyRoot, theirs) ||
            !platform::stampOf(theirs.get(), copyBefore) || !copyBefore.regular) {
            result = untouched("the copy " + shown(file.copy) + " of " + shown(file.path) +
                               " is no longer a plain file there");
            return false;
        }
        if (before.sameFile(copyBefore) || before.size != file.size ||
            copyBefore.size != file.size) {
            result = untouched(shown(file.path) + " and its copy " + shown(file.copy) +
                               (before.sameFile(copyBefore) ? " are one file"
                                                            : " are no longer of its size"));
            return false;
        }
        if (!sameBytes(mine.get(), theirs.get(), file.size, checked, total, result)) {
            if (result.outcome == Outcome::Untouched) {
                result.reason = shown(file.path) + ": " + result.reason + " " + shown(file.copy);
            }
            return false;
        }
        platform::FileStamp after;
        platform::FileStamp copyAfter;
        if (!platform::stampOf(mine.get(), after) || !after.unchangedFrom(before) ||
            !platform::stampOf(theirs.get(), copyAfter) || !copyAfter.unchangedFrom(copyBefore)) {
            result = untouched(shown(file.path) + " or its copy changed while they were compared");
            return false;
        }
        stamps[file.path.substr(folder.path.size())] = before;
        copies.push_back({file.copy, trustedBelow(file.copy, file.copyRoot), copyBefore,
                          "the copy of " + shown(file.path)});
        return true;
    }

    bool sameBytes(int mine, int theirs, std::int64_t size, std::int64_t& checked,
                   std::int64_t total, FolderOutcome& result)
    {
        buffers.resize(2 * static_cast<std::size_t>(kChunk));
        auto* a = reinterpret_cast<unsigned char*>(buffers.data());
        auto* b = a + kChunk;
        for (std::int64_t offset = 0; offset < size; offset += kChunk) {
            const auto length = static_cast<std::size_t>(std::min(kChunk, size - offset));
            if (!platform::readExactly(mine, offset, length, a) ||
                !platform::readExactly(theirs, offset, length, b)) {
                result = untouched("could not be read to the end beside");
                return false;
            }
            if (std::memcmp(a, b, length) != 0) {
                result = untouched("its contents differ now from");
                return false;
            }
            checked += static_cast<std::int64_t>(length);
            progress(checked, total);
            if (stopping()) {
                result = FolderOutcome();
                result.reason = "the run was stopped while its files were compared";
                return false;
            }
        }
        return true;
    }

    // Once away: the folder holds exactly what the plan accounts for, every
    // file unchanged since it was compared.
    bool holdsOnlyThePlan(const PlanFolder& folder, int fd, std::string& why)
    {
        std::vector<TreeEntry> entries;
        checked.clear();
        if (!listTree(fd, entries, why)) {
            return false;
        }
        for (const TreeEntry& entry : entries) {
            checked.emplace(entry.relative, entry.st);
        }
        const std::set<std::string> extras(folder.alsoRemoved.begin(), folder.alsoRemoved.end());
        std::size_t files = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const TreeEntry& entry = entries[i];
            if (entry.type == TreeEntry::File) {
                const auto at = stamps.find(entry.relative);
                if (at == stamps.end()) {
                    why = "it holds " + shown(entry.relative) + ", which the plan does not know";
                    return false;
                }
                if (!platform::stampFrom(entry.st).unchangedFrom(at->second)) {
                    why = shown(entry.relative) + " is another file or changed";
                    return false;
                }
                ++files;
                continue;
            }
            const bool holdsMore = entry.type == TreeEntry::Folder && i + 1 < entries.size() &&
                                   entries[i + 1].relative.compare(0, entry.relative.size(),
                                                                   entry.relative) == 0;
            if (!holdsMore && extras.count(entry.relative) == 0) {
                why = "it holds the " + entryKind(entry) + " " + shown(entry.relative) +
                      ", which the plan does not know";
                return false;
            }
        }
        if (files != stamps.size()) {
            why = "a file of it is gone";
            return false;
        }
        return true;
    }

    // An entry a delete may remove: the very one that was checked, unchanged.
    bool wasChecked(const std::string& relative, const struct stat& now) const
    {
        const auto at = checked.find(relative);
        return at != checked.end() && now.st_dev == at->second.st_dev &&
               now.st_ino == at->second.st_ino &&
               (now.st_mode & S_IFMT) == (at->second.st_mode & S_IFMT) &&
               now.st_size == at->second.st_size &&
               nanoseconds(now.st_ctim) == nanoseconds(at->second.st_ctim);
    }

    bool copiesHold(std::string& why)
    {
        for (const CopyAtPlace& copy : copies) {
            if (!copyStillAt(copy, nullptr, why)) {
                return false;
            }
        }
        return true;
    }

    FolderOutcome actOn(const PlanFolder& folder);
    bool takeAway(const PlanFolder& folder, const platform::PathPlace& place,
                  const struct stat& st, Away& away, FolderOutcome& result);
    bool putBack(const platform::PathPlace& place, Away& away, std::string& why);
    FolderOutcome finish(const PlanFolder& folder, const platform::PathPlace& place,
                         const struct stat& st, Away& away);
};

FolderRunner::FolderRunner(const FolderPlan& plan, const Action& action, Journal* journal)
    : m_plan(plan), m_action(action), m_journal(journal)
{
}

namespace {

std::string folderAction(ActionKind kind)
{
    return actionName(kind) + "-folder";
}

}  // namespace

bool FolderRunner::Impl::takeAway(const PlanFolder& folder, const platform::PathPlace& place,
                                  const struct stat& st, Away& away, FolderOutcome& result)
{
    const Action& action = runner.m_action;
    const std::string named = folder.path.substr(0, folder.path.size() - 1);
    std::vector<std::string> intent = {step::kIntent,
                                       stepId,
                                       folderAction(action.kind),
                                       named,
                                       folder.root,
                                       std::to_string(st.st_dev),
                                       std::to_string(st.st_ino),
                                       "",
                                       std::to_string(folder.bytes()),
                                       std::to_string(nanoseconds(st.st_mtim))};
    if (action.kind == ActionKind::Trash) {
        if (!journal(intent)) {
            return false;
        }
        const platform::FileIdentity identity{st.st_dev, st.st_ino};
        std::string error;
        const auto claimed = [&](const platform::TrashEntry& entry) {
            return journal({step::kTrashing, stepId, entry.file, entry.info});
        };
        if (!platform::moveToTrashAt(place.folder.get(), place.name, named, &identity, claimed,
                                     away.trash, error, true)) {
            result = untouched("it could not go to the trash: " + error);
            return false;
        }
        away.inTrash = true;
        away.where = away.trash.file;
        return true;
    }
    if (action.kind == ActionKind::Delete) {
        away.name = ".gemmora-" + stepId;
        away.folder = platform::UniqueFd(::dup(place.folder.get()));
        away.where = std::string(platform::folderOf(named)) + away.name;
        intent[7] = away.name;
    } else {
        const std::string relative = trustedBelow(named, folder.root) > 0
                                         ? named.substr(folder.root.size())
                                         : named.substr(1);
        std::string reason;
        if (!openOrMakeFoldersLike(action.folder, std::string(platform::folderOf(relative)),
                                   trustedBelow(named, folder.root) > 0 ? folder.root : "/",
                                   away.folder, reason)) {
            result = untouched(reason);
            return false;
        }
        away.name = std::string(platform::nameOf(relative));
        away.where = action.folder + relative;
        intent[7] = away.where;
    }
    if (!journal(intent)) {
        return false;
    }
    if (renameNoReplace(place.folder.get(), place.name, away.folder.get(), away.name) != 0) {
        result = untouched(errno == EEXIST  ? "something is in its place already at " +
                                                  shown(away.where)
                           : errno == EXDEV ? "a folder is moved only within its file system"
                                            : std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

bool FolderRunner::Impl::putBack(const platform::PathPlace& place, Away& away, std::string& why)
{
    const int from = away.inTrash ? AT_FDCWD : away.folder.get();
    const std::string& name = away.inTrash ? away.trash.file : away.name;
    if (renameNoReplace(from, name, place.folder.get(), place.name) != 0) {
        why += "; it could not be put back (" + std::string(std::strerror(errno)) +
               ") and is at " + shown(away.where);
        return false;
    }
    if (away.inTrash) {
        ::unlink(away.trash.info.c_str());
    }
    return true;
}

FolderOutcome FolderRunner::Impl::finish(const PlanFolder& folder,
                                         const platform::PathPlace& place, const struct stat& st,
                                         Away& away)
{
    FolderOutcome result;
    result.outcome = Outcome::Done;
    result.target = away.where;
    result.reclaimed = folder.bytes();
    if (!away.inTrash && runner.m_action.kind == ActionKind::Delete) {
        if (runner.beforeDelete) {
            runner.beforeDelete(folder);
        }
        // Only what was checked goes: what another program put in since stays.
        std::string why;
        const auto checkedOnly = [this](const std::string& relative, const struct stat& now) {
            return wasChecked(relative, now);
        };
        if (!removeTree(away.folder.get(), away.name, checkedOnly, why)) {
            result.reason = "only part of it was deleted (" + why + ")";
            result.reason += putBack(place, away, result.reason)
                                 ? "; the rest is back under its name"
                                 : "";
        }
        result.target.clear();
    }
    if (runner.m_action.kind == ActionKind::Move) {
        result.reclaimed = 0;
    }
    const std::string named = folder.path.substr(0, folder.path.size() - 1);
    journal({step::kDone, stepId, folderAction(runner.m_action.kind), named, folder.root,
             std::to_string(st.st_dev), std::to_string(st.st_ino), away.where,
             away.inTrash ? away.trash.info : runner.m_action.folder,
             std::to_string(folder.bytes()), std::to_string(nanoseconds(st.st_mtim)), "", ""});
    return result;
}

FolderOutcome FolderRunner::Impl::actOn(const PlanFolder& folder)
{
    FolderOutcome result;
    if (!compareAll(folder, result)) {
        return result;
    }
    if (runner.afterCheck) {
        runner.afterCheck(folder);
    }
    platform::PathPlace place;
    platform::UniqueFd fd;
    struct stat st = {};
    std::string why;
    if (!openPlannedFolder(folder.path, folder.root, place, fd, st, why)) {
        return untouched(why);
    }
    stepId = runId + "." + std::to_string(++sequence);
    Away away;
    if (!takeAway(folder, place, st, away, result)) {
        if (result.outcome == Outcome::Untouched) {
            journal({step::kUntouched, stepId, folder.path, result.reason});
        }
        return result;
    }
    // The entry that left its name must be the folder that was opened.
    struct stat taken = {};
    platform::UniqueFd held(
        away.inTrash ? ::open(away.trash.file.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                     : ::openat(away.folder.get(), away.name.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (runner.whileAway) {
        runner.whileAway(folder);
    }
    bool sound = held.ok() && ::fstat(held.get(), &taken) == 0 && taken.st_dev == st.st_dev &&
                 taken.st_ino == st.st_ino;
    if (!sound) {
        why = "another folder took its name in the instant before it was taken away";
    }
    sound = sound && holdsOnlyThePlan(folder, held.get(), why) && copiesHold(why);
    if (!sound) {
        putBack(place, away, why);
        journal({step::kUntouched, stepId, folder.path, why});
        return untouched(why);
    }
    return finish(folder, place, st, away);
}

FolderReport FolderRunner::run()
{
    Impl impl{*this, {}, {}, {}, 0, 0, {}, {}, {}, {}, {}};
    FolderReport& report = impl.report;
    report.results.resize(m_plan.folders.size());
    std::string error;
    if (!checkFolderPlan(m_plan, error)) {
        report.refused = true;
        report.refusal = "the plan is refused: " + error;
        return report;
    }
    if (m_action.kind == ActionKind::HardLink || m_action.kind == ActionKind::Reflink ||
        (m_action.kind == ActionKind::Move && m_action.folder.empty())) {
        report.refused = true;
        report.refusal = m_action.kind == ActionKind::Move
                             ? "no folder to move the folders into"
                             : "folders are trashed, deleted or moved, never linked";
        return report;
    }
    impl.runId = std::to_string(std::time(nullptr)) + "." + std::to_string(::getpid());
    if (!impl.journal({step::kRun, impl.runId, localTimeText(), actionName(m_action.kind),
                       m_action.folder})) {
        report.refused = true;
        report.refusal = report.journalError;
        return report;
    }
    for (std::size_t i = 0; i < m_plan.folders.size(); ++i) {
        if (!report.journalError.empty() || impl.stopping()) {
            break;
        }
        impl.path = m_plan.folders[i].path;
        impl.progress(0, m_plan.folders[i].bytes());
        report.results[i] = impl.actOn(m_plan.folders[i]);
        ++impl.foldersDone;
    }
    impl.journal({step::kEnd, impl.runId, localTimeText(),
                  std::to_string(report.count(Outcome::Done)) + " done, " +
                      std::to_string(report.count(Outcome::Untouched)) + " untouched, " +
                      std::to_string(report.count(Outcome::NotReached)) + " not reached"});
    if (m_journal != nullptr) {
        m_journal->sync();
    }
    impl.path.clear();
    impl.progress(0, 0);
    return report;
}

}  // namespace cleanup
