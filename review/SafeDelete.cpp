// Deletes one file from the review after asking, and shows why when that fails.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/SafeDelete.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMessageBox>

#include "cleanup/DeleteGuard.h"
#include "platform/FolderListing.h"
#include "platform/NoFollowOpen.h"
#include "text/Text.h"
#include "platform/Trash.h"

namespace review {

namespace {

// A few paths, one a line; the rest counted.
std::string pathLines(const std::vector<std::string>& paths)
{
    constexpr std::size_t kShown = 3;
    std::string lines;
    for (std::size_t i = 0; i < paths.size() && i < kShown; ++i) {
        lines += "\n" + text::displayName(paths[i]);
    }
    if (paths.size() > kShown) {
        lines += "\n(and " + std::to_string(paths.size() - kShown) + " more)";
    }
    return lines;
}

QString title()
{
    return QObject::tr("Gemmora - delete file");
}

}  // namespace

std::string deleteQuestion(const std::string& path, bool permanent, LastCopy lastCopy)
{
    std::string question = permanent ? "Delete this file permanently? This cannot be undone."
                                     : "Move this file to the trash?";
    question += "\n\n" + text::displayName(path);
    switch (lastCopy) {
    case LastCopy::Contents:
        question += "\n\nThis is the last remaining copy of these contents: no other file of its "
                    "group holds the same bytes.";
        break;
    case LastCopy::Name:
        question += "\n\nThis is the last remaining file of its group: no other file of it exists "
                    "any more.";
        break;
    case LastCopy::No:
        break;
    }
    return question;
}

std::string deleteQuestion(const std::string& path, bool permanent,
                           const platform::LastCopyAnswer& answer)
{
    std::string question = deleteQuestion(path, permanent, answer.lastCopy);
    std::vector<std::string> aliases;
    for (const std::string& alias : answer.aliases) {
        if (alias != path) {
            aliases.push_back(alias);
        }
    }
    if (!aliases.empty()) {
        question += aliases.size() == 1
                        ? "\n\nThis row of its group is no copy but this same file, reached by "
                          "another path (through a link or a hard link):"
                        : "\n\nThese rows of its group are no copies but this same file, reached "
                          "by other paths (through links or hard links):";
        question += pathLines(aliases);
    }
    if (answer.lastCopy != LastCopy::No) {
        if (!answer.fileRead && answer.fileStamp.inode != 0) {
            question += "\n\nThe file could not be read, so it was compared with no other file.";
        }
        if (!answer.unreadable.empty()) {
            question += answer.unreadable.size() == 1
                            ? "\n\nThis file of its group could not be read to compare:"
                            : "\n\nThese files of its group could not be read to compare:";
            question += pathLines(answer.unreadable);
        }
    }
    return question;
}

bool askBeforeDeleting(QWidget* parent, const std::string& question, bool permanent,
                       LastCopy lastCopy)
{
    // A permanent deletion, or the last copy, is only done on a deliberate Yes.
    const bool carefully = permanent || lastCopy != LastCopy::No;
    QMessageBox box(lastCopy != LastCopy::No ? QMessageBox::Warning : QMessageBox::Question,
                    title(), QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(carefully ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

namespace {

// How much of a path is taken as named: all but its folder and its name,
// neither of which may be a link.
std::size_t trustedPart(const std::string& path)
{
    std::string folder(platform::folderOf(path));
    if (folder.size() > 1) {
        folder.pop_back();
    }
    return platform::folderOf(folder).size();
}

void showFailure(QWidget* parent, const std::string& path, bool permanent, const std::string& error)
{
    const QString what = permanent ? QObject::tr("The file could not be deleted:")
                                   : QObject::tr("The file could not be moved to the trash, so it "
                                                 "was left where it is:");
    QMessageBox::warning(parent, title(),
                         what + "\n" + QString::fromStdString(text::displayName(path)) +
                             "\n\n" + QString::fromStdString(error));
}

}  // namespace

bool deleteAsked(QWidget* parent, const std::string& path, bool permanent)
{
    std::string error;
    const bool done =
        permanent ? platform::deletePermanently(path, error) : platform::moveToTrash(path, error);
    if (!done) {
        showFailure(parent, path, permanent, error);
    }
    return !platform::fileExists(path);
}

bool deleteAskedKeepingCopy(QWidget* parent, const std::string& path, bool permanent,
                            const platform::LastCopyAnswer& answer, bool& copyGone)
{
    copyGone = false;
    // The folders on the way are taken as named; the file, its copy and
    // their folders are never reached through a link.
    platform::PathPlace place;
    struct stat st = {};
    if (!platform::openPlaceNoFollow(path, trustedPart(path), place) ||
        ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return deleteAsked(parent, path, permanent);  // which says why
    }
    if (!platform::stampFrom(st).unchangedFrom(answer.fileStamp)) {
        copyGone = true;
        return false;
    }
    cleanup::CopyAtPlace copy;
    copy.path = answer.copy;
    copy.trusted = trustedPart(answer.copy);
    copy.stamp = answer.copyStamp;
    std::string reason;
    platform::TrashEntry entry;
    const cleanup::Guarded ended =
        permanent ? cleanup::deleteWhileCopyHolds(place.folder.get(), place.name,
                                                  ".gemmora-delete-" + std::to_string(::getpid()),
                                                  st, &copy, {}, reason)
                  : cleanup::trashWhileCopyHolds(place.folder.get(), place.name, path, st, &copy,
                                                 {}, {}, entry, reason);
    if (ended != cleanup::Guarded::Done) {
        showFailure(parent, path, permanent, reason);
    }
    return !platform::fileExists(path);
}

bool confirmAndDelete(QWidget* parent, const std::string& path, bool permanent, LastCopy lastCopy)
{
    if (!askBeforeDeleting(parent, deleteQuestion(path, permanent, lastCopy), permanent,
                           lastCopy)) {
        return !platform::fileExists(path);
    }
    return deleteAsked(parent, path, permanent);
}

}  // namespace review
