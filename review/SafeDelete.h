// Deletes one file from the review after asking, and shows why when that fails.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "platform/LastCopyCheck.h"

class QWidget;

namespace review {

using platform::LastCopy;

// Asks before deleting (to the trash, or for good when `permanent`), then
// deletes the regular file at exactly these bytes, and shows the system's
// reason when that fails. Declining changes nothing. True when no file
// exists at the path afterwards.
bool confirmAndDelete(QWidget* parent, const std::string& path, bool permanent, LastCopy lastCopy);

// The two halves of confirmAndDelete. The question names the file and, when
// it is the last copy, says so and makes No the default; true on Yes.
bool askBeforeDeleting(QWidget* parent, const std::string& question, bool permanent,
                       LastCopy lastCopy);
// Deletes at once; true when no file exists at the path afterwards.
bool deleteAsked(QWidget* parent, const std::string& path, bool permanent);
// Deletes at once while the copy a check found still holds: the file leaves
// its name first (into the trash, or to a spare name), the copy is checked
// at its place, and only then is the file finished, else put back and the
// reason shown. True when no file exists at the path afterwards;
// `copyGone` (nothing done) when the file is not the one checked any more.
bool deleteAskedKeepingCopy(QWidget* parent, const std::string& path, bool permanent,
                            const platform::LastCopyAnswer& answer, bool& copyGone);

// The question shown before a deletion.
std::string deleteQuestion(const std::string& path, bool permanent, LastCopy lastCopy);
// The same with what a last-copy check found: the paths that are this very
// file, and the files that could not be read.
std::string deleteQuestion(const std::string& path, bool permanent,
                           const platform::LastCopyAnswer& answer);

}  // namespace review
