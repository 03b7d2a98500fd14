#include "review/SafeDelete.h"

#include <QMessageBox>

#include "platform/FolderListing.h"
#include "platform/Text.h"
#include "platform/Trash.h"

namespace review {

std::string deleteQuestion(const std::string& path, bool permanent, LastCopy lastCopy)
{
    std::string question = permanent ? "Delete this file permanently? This cannot be undone."
                                     : "Move this file to the trash?";
    question += "\n\n" + platform::displayName(path);
    switch (lastCopy) {
    case LastCopy::Contents:
        question += "\n\nThis is the last remaining copy of these contents: no other file of its "
                    "group holds them any more.";
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

bool confirmAndDelete(QWidget* parent, const std::string& path, bool permanent, LastCopy lastCopy)
{
    const QString title = QObject::tr("Gemmora - delete file");
    // A permanent deletion, or the last copy, is only done on a deliberate Yes.
    const bool carefully = permanent || lastCopy != LastCopy::No;
    QMessageBox question(lastCopy != LastCopy::No ? QMessageBox::Warning : QMessageBox::Question,
                         title, QString::fromStdString(deleteQuestion(path, permanent, lastCopy)),
                         QMessageBox::Yes | QMessageBox::No, parent);
    question.setDefaultButton(carefully ? QMessageBox::No : QMessageBox::Yes);
    question.setEscapeButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) {
        return !platform::fileExists(path);
    }
    std::string error;
    const bool done =
        permanent ? platform::deletePermanently(path, error) : platform::moveToTrash(path, error);
    if (!done) {
        const QString what = permanent
                                 ? QObject::tr("The file could not be deleted:")
                                 : QObject::tr("The file could not be moved to the trash, so it "
                                               "was left where it is:");
        QMessageBox::warning(parent, title,
                             what + "\n" + QString::fromStdString(platform::displayName(path)) +
                                 "\n\n" + QString::fromStdString(error));
    }
    return !platform::fileExists(path);
}

}  // namespace review
