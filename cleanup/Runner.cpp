// Carries out a cleanup plan on real files, one marked file at a time, with a kept copy checked.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleanup/Runner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "cleanup/Copy.h"
#include "cleanup/DeleteGuard.h"
#include "cleanup/Rename.h"
#include "platform/FileContents.h"
#include "platform/FolderListing.h"
#include "platform/NoFollowOpen.h"
#include "text/Text.h"
#include "platform/Trash.h"

namespace cleanup {

namespace {

// Each file is read this much at a time between two progress calls.
constexpr std::int64_t kChunk = 128 * 1024;
// The most one request to share data asks of the kernel: it reads both
// ranges to compare them, and a progress call must come between requests.
constexpr std::uint64_t kDedupeChunk = 1024 * 1024;

std::string shown(const std::string& path)
{
    return text::displayName(path);
}

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The same file, not changed since `before` was taken.
bool sameState(const struct stat& before, const struct stat& now)
{
    return before.st_dev == now.st_dev && before.st_ino == now.st_ino &&
           before.st_size == now.st_size && nanoseconds(before.st_mtim) == nanoseconds(now.st_mtim);
}

bool sameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string pathReason(int error)
{
    switch (error) {
    case ENOENT:
        return "it is gone";
    case ELOOP:
    case ENOTDIR:
        return "a folder on its path is a link or no folder now";
    default:
        return std::strerror(error);
    }
}

}  // namespace

bool parseAction(const std::string& text, const std::string& base, Action& action,
                 std::string& error)
{
    action = Action();
    if (text == "trash") {
        action.kind = ActionKind::Trash;
    } else if (text == "delete") {
        action.kind = ActionKind::Delete;
    } else if (text == "hardlink") {
        action.kind = ActionKind::HardLink;
    } else if (text == "reflink") {
        action.kind = ActionKind::Reflink;
    } else if (text.rfind("move:", 0) == 0 && text.size() > 5) {
        action.kind = ActionKind::Move;
        action.folder = plainPath(text.substr(5), base, true);
    } else {
        error = "unknown action " + text + " (trash, delete, hardlink, reflink, move:DIR)";
        return false;
    }
    return true;
}

std::string actionName(ActionKind kind)
{
    switch (kind) {
    case ActionKind::Trash:
        return "trash";
    case ActionKind::Delete:
        return "delete";
    case ActionKind::HardLink:
        return "hardlink";
    case ActionKind::Reflink:
        return "reflink";
    case ActionKind::Move:
        return "move";
    }
    return "";
}

std::string actionDoneWord(ActionKind kind)
{
    switch (kind) {
    case ActionKind::Trash:
        return "trashed";
    case ActionKind::Delete:
        return "deleted";
    case ActionKind::HardLink:
        return "linked";
    case ActionKind::Reflink:
        return "reflinked";
    case ActionKind::Move:
        return "moved";
    }
    return "";
}

std::int64_t Report::count(Outcome outcome) const
{
    std::int64_t total = 0;
    for (const std::vector<FileResult>& group : results) {
        for (const FileResult& result : group) {
            total += result.outcome == outcome ? 1 : 0;
        }
    }
    return total;
}

std::int64_t Report::bytesReclaimed() const
{
    std::int64_t total = 0;
    for (const std::vector<FileResult>& group : results) {
        for (const FileResult& result : group) {
            total += result.outcome == Outcome::Done ? result.reclaimed : 0;
        }
    }
    return total;
}

// A file reached for the step at hand: its folder and name, for the *at
// calls, and the file itself open for reading.
struct OpenedFile {
    const PlanFile* file = nullptr;
    platform::PathPlace place;
    platform::UniqueFd fd;
    struct stat st = {};      // of the open file, when it was compared
    struct stat folder = {};  // of its folder
};

Runner::Runner(const Plan& plan, const Action& action, Journal* journal)
    : m_plan(plan), m_action(action), m_journal(journal)
{
}

bool Runner::stopping()
{
    if (!m_report.stopped && stopRequested && stopRequested()) {
        m_report.stopped = true;
    }
    return m_report.stopped;
}

void Runner::progress(std::int64_t checked, std::int64_t toCheck)
{
    if (onProgress) {
        onProgress({m_filesDone, m_filesToDo, m_path, checked, toCheck});
    }
}

bool Runner::journal(const std::vector<std::string>& fields)
{
    if (m_journal == nullptr) {
        return true;
    }
    std::string error;
    if (m_journal->write(fields, error)) {
        return true;
    }
    if (m_report.journalError.empty()) {
        m_report.journalError = "the journal " + m_journal->path() + " cannot be written: " + error;
    }
    return false;
}

Report Runner::run()
{
    m_report = Report();
    m_filesDone = 0;
    for (const PlanGroup& group : m_plan.groups) {
        std::vector<FileResult> results(group.files.size());
        for (std::size_t i = 0; i < group.files.size(); ++i) {
            if (group.files[i].role == Role::Keep) {
                results[i].outcome = Outcome::Kept;
            }
        }
        m_report.results.push_back(std::move(results));
    }
    std::string error;
    if (!checkPlan(m_plan, error)) {
        m_report.refused = true;
        m_report.refusal = "the plan is refused: " + error;
        return m_report;
    }
    if (m_action.kind == ActionKind::Move && m_action.folder.empty()) {
        m_report.refused = true;
        m_report.refusal = "no folder to move the files into";
        return m_report;
    }
    m_filesToDo = m_plan.markedCount();
    m_runId = std::to_string(std::time(nullptr)) + "." + std::to_string(::getpid());
    if (!journal(
            {step::kRun, m_runId, localTimeText(), actionName(m_action.kind), m_action.folder})) {
        m_report.refused = true;
        m_report.refusal = m_report.journalError;
        return m_report;
    }
    for (std::size_t g = 0; g < m_plan.groups.size(); ++g) {
        const PlanGroup& group = m_plan.groups[g];
        for (std::size_t i = 0; i < group.files.size(); ++i) {
            if (group.files[i].role != Role::Mark) {
                continue;
            }
            if (!m_report.journalError.empty() || stopping()) {
                break;
            }
            m_path = group.files[i].file.path;
            progress(0, std::max<std::int64_t>(group.files[i].file.size, 0));
            m_report.results[g][i] = actOn(group, i);
            ++m_filesDone;
        }
    }
    const std::string summary =
        std::to_string(m_report.count(Outcome::Done)) + " done, " +
        std::to_string(m_report.count(Outcome::Untouched)) + " untouched, " +
        std::to_string(m_report.count(Outcome::NotReached)) + " not reached";
    journal({step::kEnd, m_runId, localTimeText(), summary});
    if (m_journal != nullptr) {
        m_journal->sync();
    }
    m_path = {};
    progress(0, 0);
    return m_report;
}

namespace {

bool openFile(const PlanFile& file, OpenedFile& opened, std::string& reason)
{
    opened.file = &file;
    if (!platform::openPlaceNoFollow(file.file.path, trustedLength(file.file), opened.place)) {
        reason = pathReason(errno);
        return false;
    }
    struct stat entry = {};
    if (::fstat(opened.place.folder.get(), &opened.folder) != 0 ||
        ::fstatat(opened.place.folder.get(), opened.place.name.c_str(), &entry,
                  AT_SYMLINK_NOFOLLOW) != 0) {
        reason = pathReason(errno);
        return false;
    }
    if (S_ISLNK(entry.st_mode)) {
        reason = "it is a link now";
        return false;
    }
    if (!S_ISREG(entry.st_mode)) {
        reason = "it is no longer a plain file";
        return false;
    }
    // Not blocking, in case a FIFO takes the name in the meantime.
    opened.fd.reset(::openat(opened.place.folder.get(), opened.place.name.c_str(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!opened.fd.ok()) {
        reason = errno == ELOOP ? "it is a link now" : pathReason(errno);
        return false;
    }
    if (::fstat(opened.fd.get(), &opened.st) != 0 || !S_ISREG(opened.st.st_mode) ||
        !sameInode(opened.st, entry)) {
        reason = "it was replaced while it was being opened";
        return false;
    }
    if (file.file.size >= 0 && opened.st.st_size != file.file.size) {
        reason = "its size changed since the plan (" + std::to_string(file.file.size) +
                 " bytes then, " + std::to_string(opened.st.st_size) + " now)";
        return false;
    }
    return true;
}

// The file as it was compared, still: same inode, size and modification time.
bool unchanged(const OpenedFile& opened)
{
    struct stat now = {};
    return ::fstat(opened.fd.get(), &now) == 0 && sameState(opened.st, now);
}

// The entry `name` of `folder` is still the file `opened` was compared as.
bool entryIs(int folder, const std::string& name, const OpenedFile& opened)
{
    return entryIsFile(folder, name, opened.st);
}

// The kept file as it was compared, to be checked again at its place.
CopyAtPlace keptPlace(const OpenedFile& kept)
{
    CopyAtPlace copy;
    copy.path = kept.file->file.path;
    copy.trusted = trustedLength(kept.file->file);
    copy.stamp = platform::stampFrom(kept.st);
    copy.role = "the kept file";
    return copy;
}

FileResult untouched(std::string reason)
{
    FileResult result;
    result.outcome = Outcome::Untouched;
    result.reason = std::move(reason);
    return result;
}

}  // namespace

FileResult Runner::actOn(const PlanGroup& group, std::size_t index)
{
    const PlanFile& file = group.files[index];
    m_stepId = m_runId + "." + std::to_string(++m_sequence);
    m_spare = ".gemmora-" + m_stepId;

    FileResult result;
    OpenedFile marked;
    OpenedFile kept;
    if (!check(group, index, marked, kept, result)) {
        if (result.outcome == Outcome::Untouched) {
            journal({step::kUntouched, m_stepId, file.file.path, result.reason});
        }
        return result;
    }
    if (afterCheck) {
        afterCheck(file);
    }
    std::string spare;
    if (m_action.kind == ActionKind::Delete || m_action.kind == ActionKind::HardLink) {
        spare = m_spare;
    } else if (m_action.kind == ActionKind::Move) {
        const std::string& root = file.file.root;
        spare = m_action.folder + (trustedLength(file.file) > 0 ? file.file.path.substr(root.size())
                                                                : file.file.path.substr(1));
    }
    const std::string size = std::to_string(marked.st.st_size);
    const std::string modified = std::to_string(nanoseconds(marked.st.st_mtim));
    if (!journal({step::kIntent, m_stepId, actionName(m_action.kind), file.file.path,
                  file.file.root, std::to_string(marked.st.st_dev),
                  std::to_string(marked.st.st_ino), spare, size, modified})) {
        return untouched(m_report.journalError);
    }
    m_copyDevice.clear();
    m_copyInode.clear();
    result = perform(file, marked, kept);
    if (result.outcome == Outcome::Done) {
        std::string where = result.target;
        std::string extra;
        if (m_action.kind == ActionKind::HardLink || m_action.kind == ActionKind::Reflink) {
            where = kept.file->file.path;
        } else if (m_action.kind == ActionKind::Move) {
            extra = m_action.folder;
        }
        if (m_action.kind == ActionKind::Trash) {
            extra = m_trashInfo;
        }
        journal({step::kDone, m_stepId, actionName(m_action.kind), file.file.path, file.file.root,
                 std::to_string(marked.st.st_dev), std::to_string(marked.st.st_ino), where, extra,
                 size, modified, m_copyDevice, m_copyInode});
    } else if (result.outcome == Outcome::Untouched) {
        journal({step::kUntouched, m_stepId, file.file.path, result.reason});
    }
    return result;
}

bool Runner::check(const PlanGroup& group, std::size_t index, OpenedFile& marked, OpenedFile& kept,
                   FileResult& result)
{
    const PlanFile& file = group.files[index];
    std::string reason;
    if (!openFile(file, marked, reason)) {
        result = untouched(reason);
        return false;
    }
    // Every kept file is reached first: a marked path that is a kept file
    // itself (through a bind mount, say) must never be touched.
    std::vector<OpenedFile> keptFiles;
    std::vector<std::string> keptReasons;
    for (const PlanFile& other : group.files) {
        if (other.role != Role::Keep) {
            continue;
        }
        OpenedFile opened;
        std::string why;
        if (!openFile(other, opened, why)) {
            keptReasons.push_back("the kept file " + shown(other.file.path) + ": " + why);
            continue;
        }
        if (sameInode(opened.folder, marked.folder) && opened.place.name == marked.place.name) {
            result = untouched("it is the kept file " + shown(other.file.path) +
                               " itself, reached by another path");
            return false;
        }
        keptFiles.push_back(std::move(opened));
    }
    for (OpenedFile& candidate : keptFiles) {
        if (candidate.st.st_size != marked.st.st_size) {
            keptReasons.push_back("its size differs from the kept file " +
                                  shown(candidate.file->file.path) + " now");
            continue;
        }
        if (!sameInode(candidate.st, marked.st)) {
            if (shownThroughOverlay(candidate.fd.get(), candidate.file->file.path, candidate.st,
                                    marked.st)) {
                keptReasons.push_back("it is the kept file " + shown(candidate.file->file.path) +
                                      " itself, seen through an overlay");
                continue;
            }
            if (!compare(marked, candidate, result)) {
                if (result.outcome == Outcome::NotReached) {
                    return false;
                }
                keptReasons.push_back(result.reason);
                continue;
            }
        }
        kept = std::move(candidate);
        return true;
    }
    result = untouched(keptReasons.empty() ? std::string("its group keeps no file")
                                           : keptReasons.front());
    return false;
}

bool Runner::compare(OpenedFile& marked, OpenedFile& kept, FileResult& result)
{
    const std::int64_t size = marked.st.st_size;
    if (m_buffers.size() < 2 * static_cast<std::size_t>(kChunk)) {
        m_buffers.resize(2 * static_cast<std::size_t>(kChunk));
    }
    char* mine = m_buffers.data();
    char* theirs = m_buffers.data() + kChunk;
    for (std::int64_t offset = 0; offset < size; offset += kChunk) {
        const std::int64_t length = std::min(kChunk, size - offset);
        if (!platform::readExactly(marked.fd.get(), offset, static_cast<std::size_t>(length),
                                   reinterpret_cast<unsigned char*>(mine)) ||
            !platform::readExactly(kept.fd.get(), offset, static_cast<std::size_t>(length),
                                   reinterpret_cast<unsigned char*>(theirs))) {
            result = untouched("it or the kept file " + shown(kept.file->file.path) +
                               " could not be read to the end: " +
                               (errno != 0 ? std::strerror(errno) : "it is shorter now"));
            return false;
        }
        if (std::memcmp(mine, theirs, static_cast<std::size_t>(length)) != 0) {
            result = untouched("its contents differ from the kept file " +
                               shown(kept.file->file.path) + " now");
            return false;
        }
        progress(offset + length, size);
        if (offset + length < size && stopping()) {
            result = FileResult();
            result.outcome = Outcome::NotReached;
            result.reason = "the run was stopped while it was compared";
            return false;
        }
    }
    if (!unchanged(marked) || !unchanged(kept)) {
        result = untouched("it or the kept file changed while they were compared");
        return false;
    }
    return true;
}

FileResult Runner::perform(const PlanFile& file, OpenedFile& marked, OpenedFile& kept)
{
    if (!unchanged(kept)) {
        return untouched("the kept file " + shown(kept.file->file.path) +
                         " changed just before this file was to be touched");
    }
    if (!unchanged(marked)) {
        return untouched("it changed just before it was to be touched");
    }
    FileResult result;
    switch (m_action.kind) {
    case ActionKind::Trash:
        result = trash(file, marked, kept);
        break;
    case ActionKind::Delete:
        result = remove(marked, kept);
        break;
    case ActionKind::HardLink:
        result = hardLink(marked, kept);
        break;
    case ActionKind::Reflink:
        result = reflink(marked, kept);
        break;
    case ActionKind::Move:
        result = move(file, marked, kept);
        break;
    }
    if (result.outcome == Outcome::Done && result.reclaimed == 0 && result.reason.empty()) {
        reclaimed(marked, result);
    }
    return result;
}

void Runner::reclaimed(const OpenedFile& marked, FileResult& result)
{
    struct stat now = {};
    if (::fstat(marked.fd.get(), &now) != 0) {
        return;
    }
    nlink_t links = now.st_nlink;
    // A name moved elsewhere on its file system still holds the file; what
    // the trash or the move folder frees later counts once no name of it is
    // left outside them.
    if (m_action.kind == ActionKind::Trash ||
        (m_action.kind == ActionKind::Move && m_copyDevice.empty())) {
        const std::pair<dev_t, ino_t> key(now.st_dev, now.st_ino);
        auto found = std::find_if(m_namesAway.begin(), m_namesAway.end(),
                                  [&](const auto& entry) { return entry.first == key; });
        if (found == m_namesAway.end()) {
            found = m_namesAway.insert(m_namesAway.end(), {key, 0});
        }
        ++found->second;
        links -= std::min(links, found->second);
    }
    if (links == 0) {
        result.reclaimed = marked.st.st_size;
    } else {
        result.reason = "another hard link of it remains, which keeps its data: no space is freed";
    }
}

FileResult Runner::trash(const PlanFile& file, OpenedFile& marked, OpenedFile& kept)
{
    const CopyAtPlace copy = keptPlace(kept);
    platform::TrashEntry entry;
    std::string reason;
    const auto beforeMove = [&](const platform::TrashEntry& claimed) {
        return journal({step::kTrashing, m_stepId, claimed.file, claimed.info});
    };
    m_trashInfo.clear();
    const Guarded ended =
        trashWhileCopyHolds(marked.place.folder.get(), marked.place.name, file.file.path, marked.st,
                            &copy, beforeMove, awayHook(file), entry, reason);
    if (ended == Guarded::PutBack) {
        return untouched(m_report.journalError.empty() ? reason : m_report.journalError);
    }
    FileResult result;
    result.outcome = Outcome::Done;
    result.target = entry.file;
    m_trashInfo = entry.info;
    if (ended == Guarded::Stranded) {
        result.reason = reason;
    }
    return result;
}

std::function<void()> Runner::awayHook(const PlanFile& file)
{
    if (!whileAway) {
        return {};
    }
    return [this, &file] { whileAway(file); };
}

FileResult Runner::remove(OpenedFile& marked, OpenedFile& kept)
{
    const CopyAtPlace copy = keptPlace(kept);
    std::string reason;
    if (deleteWhileCopyHolds(marked.place.folder.get(), marked.place.name, m_spare, marked.st,
                             &copy, awayHook(*marked.file), reason) != Guarded::Done) {
        return untouched(reason);
    }
    FileResult result;
    result.outcome = Outcome::Done;
    return result;
}

namespace {

// A file's extended attributes (ACLs among them), sorted by name; a
// marker entry when they cannot be read whole.
std::vector<std::pair<std::string, std::string>> attributesOf(int fd)
{
    std::vector<std::pair<std::string, std::string>> attributes;
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size <= 0) {
        return attributes;
    }
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got < 0) {
        return {{"", "unreadable"}};
    }
    names.resize(static_cast<std::size_t>(got));
    for (std::size_t begin = 0; begin < names.size();) {
        const std::string name = names.c_str() + begin;
        begin += name.size() + 1;
        const ssize_t length = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        std::string value(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
        if (length < 0 || ::fgetxattr(fd, name.c_str(), value.data(), value.size()) != length) {
            value = "\1unreadable";
        }
        attributes.emplace_back(name, value);
    }
    std::sort(attributes.begin(), attributes.end());
    return attributes;
}

// What a hard link to the kept file would change about the marked path
// (owner, group, permissions, extended attributes); "" when nothing.
std::string linkWouldChange(const OpenedFile& marked, const OpenedFile& kept)
{
    std::vector<std::string> parts;
    if (marked.st.st_uid != kept.st.st_uid) {
        parts.emplace_back("owner");
    }
    if (marked.st.st_gid != kept.st.st_gid) {
        parts.emplace_back("group");
    }
    if ((marked.st.st_mode & 07777) != (kept.st.st_mode & 07777)) {
        parts.emplace_back("permissions");
    }
    if (attributesOf(marked.fd.get()) != attributesOf(kept.fd.get())) {
        parts.emplace_back("extended attributes");
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    }
    return text;
}

}  // namespace

FileResult Runner::hardLink(OpenedFile& marked, OpenedFile& kept)
{
    if (marked.st.st_dev != kept.st.st_dev) {
        return untouched("the kept file " + shown(kept.file->file.path) +
                         " is on another file system, and a hard link cannot cross file systems");
    }
    FileResult result;
    result.outcome = Outcome::Done;
    if (sameInode(marked.st, kept.st)) {
        result.reason = "it was a hard link of the kept file already";
        return result;
    }
    if (!m_action.linkAnyOwner) {
        const std::string changes = linkWouldChange(marked, kept);
        if (!changes.empty()) {
            return untouched("its " + changes + " differ from the kept file " +
                             shown(kept.file->file.path) +
                             "'s, and a hard link would give it those");
        }
    }
    const int folder = marked.place.folder.get();
    const std::string& name = marked.place.name;
    // Named first, so that undo knows a link left by a killed run for its own.
    if (!journal({step::kLinking, m_stepId, kept.file->file.path, std::to_string(kept.st.st_dev),
                  std::to_string(kept.st.st_ino)})) {
        return untouched(m_report.journalError);
    }
    // Build first: the new link under a spare name beside the file.
    if (::linkat(kept.place.folder.get(), kept.place.name.c_str(), folder, m_spare.c_str(), 0) !=
        0) {
        if (errno == EXDEV) {
            return untouched("the kept file is on another file system, and a hard link cannot "
                             "cross file systems");
        }
        return untouched(std::string("no hard link can be made here: ") + std::strerror(errno));
    }
    struct stat built = {};
    if (::fstatat(folder, m_spare.c_str(), &built, AT_SYMLINK_NOFOLLOW) != 0 ||
        !entryIs(folder, m_spare, kept)) {
        ::unlinkat(folder, m_spare.c_str(), 0);
        return untouched("the kept file was replaced or changed just before it was linked");
    }
    if (whileAway) {
        whileAway(*marked.file);
    }
    // The link just made moved the kept file's change time; its name must
    // still hold it before the swap.
    CopyAtPlace copy = keptPlace(kept);
    copy.stamp.changeNs = platform::stampFrom(built).changeNs;
    std::string why;
    if (!copyStillAt(copy, nullptr, why)) {
        ::unlinkat(folder, m_spare.c_str(), 0);
        return untouched("the kept file " + shown(kept.file->file.path) + " " + why);
    }
    // Then swap the link and the file in one step, and check what came out.
    if (::renameat2(folder, m_spare.c_str(), folder, name.c_str(), RENAME_EXCHANGE) == 0) {
        if (!entryIs(folder, m_spare, marked)) {
            ::renameat2(folder, m_spare.c_str(), folder, name.c_str(), RENAME_EXCHANGE);
            ::unlinkat(folder, m_spare.c_str(), 0);
            return untouched("it was replaced or changed just before it was linked");
        }
        if (::unlinkat(folder, m_spare.c_str(), 0) != 0) {
            result.reason = "its old copy could not be removed and is in its folder as " +
                            shown(m_spare) + ": " + std::strerror(errno);
        }
        return result;
    }
    if (errno != EINVAL) {
        const std::string reason = std::strerror(errno);
        ::unlinkat(folder, m_spare.c_str(), 0);
        return untouched(reason);
    }
    // No exchange on this file system: check the entry, then rename over it.
    if (!entryIs(folder, name, marked)) {
        ::unlinkat(folder, m_spare.c_str(), 0);
        return untouched("it was replaced or changed just before it was linked");
    }
    if (::renameat(folder, m_spare.c_str(), folder, name.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlinkat(folder, m_spare.c_str(), 0);
        return untouched(reason);
    }
    return result;
}

FileResult Runner::reflink(OpenedFile& marked, OpenedFile& kept)
{
    FileResult result;
    result.outcome = Outcome::Done;
    if (sameInode(marked.st, kept.st)) {
        result.reason = "it was a hard link of the kept file already";
        return result;
    }
    if (marked.st.st_dev != kept.st.st_dev) {
        return untouched("the kept file is on another file system, and data cannot be shared "
                         "across file systems");
    }
    const CopyAtPlace copy = keptPlace(kept);
    std::string why;
    if (!copyStillAt(copy, nullptr, why)) {
        return untouched("the kept file " + shown(kept.file->file.path) + " " + why);
    }
    // The kernel compares the ranges itself and shares them only where they
    // are equal, so the file's contents never change: there is nothing to
    // build beside it first, and its owner, permissions and other links stay.
    const std::uint64_t size = static_cast<std::uint64_t>(marked.st.st_size);
    alignas(file_dedupe_range) unsigned char
        buffer[sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info)];
    std::uint64_t offset = 0;
    while (offset < size) {
        std::memset(buffer, 0, sizeof buffer);
        auto* range = reinterpret_cast<file_dedupe_range*>(buffer);
        auto* info = reinterpret_cast<file_dedupe_range_info*>(buffer + sizeof(file_dedupe_range));
        range->src_offset = offset;
        range->src_length = std::min(kDedupeChunk, size - offset);
        range->dest_count = 1;
        info->dest_fd = marked.fd.get();
        info->dest_offset = offset;
        // The kernel says "cannot" through the call or through the range's status.
        const auto cannot = [](int error) {
            return error == EOPNOTSUPP || error == ENOTTY || error == EINVAL || error == EXDEV
                       ? "this file system cannot share data between files (" +
                             std::string(std::strerror(error)) + ")"
                       : std::string(std::strerror(error));
        };
        std::string failure;
        if (::ioctl(kept.fd.get(), FIDEDUPERANGE, range) != 0) {
            failure = cannot(errno);
        } else if (info->status == FILE_DEDUPE_RANGE_DIFFERS) {
            failure = "the kernel found its contents differ from the kept file";
        } else if (info->status < 0) {
            failure = cannot(-info->status);
        } else if (info->bytes_deduped == 0) {
            failure = "the file system shared none of its data";
        }
        if (!failure.empty()) {
            if (offset > 0) {
                failure += "; its first " + std::to_string(offset) +
                           " bytes share storage with the kept file, its contents are unchanged";
            }
            return untouched(failure);
        }
        offset += info->bytes_deduped;
        progress(static_cast<std::int64_t>(offset), static_cast<std::int64_t>(size));
        if (offset < size && stopping()) {
            return untouched("the run was stopped part way: its first " + std::to_string(offset) +
                             " bytes share storage with the kept file, its contents are "
                             "unchanged");
        }
    }
    result.reclaimed = static_cast<std::int64_t>(size);
    return result;
}

FileResult Runner::moveAcross(OpenedFile& marked, OpenedFile& kept, int targetFolder,
                              const std::string& targetName, const std::string& target)
{
    struct stat copied = {};
    std::string reason;
    bool stopped = false;
    const auto onChunk = [&](std::int64_t done, std::int64_t total) {
        progress(done, total);
        return done >= total || !stopping();
    };
    if (!copyInto(marked.fd.get(), marked.st, targetFolder, m_spare, targetName, onChunk, copied,
                  reason, stopped)) {
        FileResult result =
            untouched(reason + (reason == "a file is in its place already" ? " at " + shown(target)
                                                                           : std::string()));
        if (stopped) {
            result.outcome = Outcome::NotReached;
        }
        return result;
    }
    // The copy is whole and checked; the file itself goes only if it is still
    // the file copied, else the copy goes again.
    const auto dropCopy = [&] {
        struct stat now = {};
        if (::fstatat(targetFolder, targetName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameInode(now, copied)) {
            ::unlinkat(targetFolder, targetName.c_str(), 0);
        }
    };
    const CopyAtPlace keptCopy = keptPlace(kept);
    std::string why;
    if (deleteWhileCopyHolds(marked.place.folder.get(), marked.place.name, m_spare, marked.st,
                             &keptCopy, awayHook(*marked.file), why) != Guarded::Done) {
        dropCopy();
        return untouched(why);
    }
    m_copyDevice = std::to_string(copied.st_dev);
    m_copyInode = std::to_string(copied.st_ino);
    FileResult result;
    result.outcome = Outcome::Done;
    result.target = target;
    return result;
}

FileResult Runner::move(const PlanFile& file, OpenedFile& marked, OpenedFile& kept)
{
    const std::string relative = trustedLength(file.file) > 0
                                     ? file.file.path.substr(file.file.root.size())
                                     : file.file.path.substr(1);
    const std::string target = m_action.folder + relative;
    platform::UniqueFd targetFolder;
    std::string reason;
    const std::string modelBase = trustedLength(file.file) > 0 ? file.file.root : "/";
    if (!openOrMakeFoldersLike(m_action.folder, std::string(platform::folderOf(relative)),
                               modelBase, targetFolder, reason)) {
        return untouched(reason);
    }
    const std::string targetName(platform::nameOf(relative));
    const int folder = marked.place.folder.get();
    if (renameNoReplace(folder, marked.place.name, targetFolder.get(), targetName) != 0) {
        if (errno == EEXIST) {
            return untouched("a file is in its place already at " + shown(target));
        }
        if (errno == EXDEV) {
            return moveAcross(marked, kept, targetFolder.get(), targetName, target);
        }
        return untouched(std::strerror(errno));
    }
    if (whileAway) {
        whileAway(file);
    }
    const CopyAtPlace copy = keptPlace(kept);
    std::string why;
    if (!entryIs(targetFolder.get(), targetName, marked)) {
        why = "it was replaced or changed just before it was moved";
    } else {
        copyHoldsWhileAway(targetFolder.get(), targetName, &copy, why);
    }
    if (!why.empty()) {
        if (renameNoReplace(targetFolder.get(), targetName, folder, marked.place.name) == 0) {
            return untouched(why);
        }
        FileResult result;
        result.outcome = Outcome::Done;
        result.target = target;
        result.reason = why + ", and it could not be moved back";
        return result;
    }
    FileResult result;
    result.outcome = Outcome::Done;
    result.target = target;
    return result;
}

}  // namespace cleanup
