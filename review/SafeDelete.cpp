// Deletes one file from the review after asking, and shows why when that fails.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/SafeDelete.h"

#include <QMessageBox>

#include "platform/FolderListing.h"
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

bool deleteAsked(QWidget* parent, const std::string& path, bool permanent)
{
    std::string error;
    const bool done =
        permanent ? platform::deletePermanently(path, error) : platform::moveToTrash(path, error);
    if (!done) {
        const QString what = permanent
                                 ? QObject::tr("The file could not be deleted:")
                                 : QObject::tr("The file could not be moved to the trash, so it "
                                               "was left where it is:");
        QMessageBox::warning(parent, title(),
                             what + "\n" + QString::fromStdString(text::displayName(path)) +
                                 "\n\n" + QString::fromStdString(error));
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
