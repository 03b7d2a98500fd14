#pragma once

#include <functional>
#include <string>

class QWidget;

namespace review {

enum class LastCopy {
    No,
    // No other file of the group still holds these contents.
    Contents,
    // No other file of the group exists any more (groups by name).
    Name,
};

// Asks before deleting (to the trash, or for good when `permanent`), then
// deletes the regular file at exactly these bytes, and shows the system's
// reason when that fails. Declining changes nothing. True when no file
// exists at the path afterwards.
bool confirmAndDelete(QWidget* parent, const std::string& path, bool permanent, LastCopy lastCopy);

// The question shown before a deletion.
std::string deleteQuestion(const std::string& path, bool permanent, LastCopy lastCopy);

}  // namespace review
