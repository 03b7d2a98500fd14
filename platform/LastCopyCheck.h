// Whether deleting a file would take the last copy of its contents.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/FileContents.h"

namespace platform {

// Whether deleting a file would take the last copy of its contents.
enum class LastCopy {
    No,
    // No other file of the group holds the same bytes.
    Contents,
    // No other file of the group exists any more (groups by name).
    Name,
};

// The file about to be deleted and the other files listed in its group.
struct LastCopyQuery {
    std::string path;
    std::vector<std::string> others;
    // The group was formed by name alone. When no other file of it exists,
    // the answer is then LastCopy::Name rather than LastCopy::Contents.
    bool byName = false;
};

struct LastCopyAnswer {
    LastCopy lastCopy = LastCopy::Contents;
    // When lastCopy is No: a file other than this one that holds the same
    // bytes, and both files as they were when compared.
    std::string copy;
    FileStamp copyStamp;
    // The file itself as it was checked; `fileRead` is false when it could
    // not be read, so it was compared with nothing.
    FileStamp fileStamp;
    bool fileRead = false;
    // Other paths of the group that reach this very file (a link to a
    // folder on the way, or a hard link): they are no copies.
    std::vector<std::string> aliases;
    // Other files of the group that exist but could not be read.
    std::vector<std::string> unreadable;
    bool cancelled = false;
};

// Shared between the thread that runs a check and the one that waits: a
// stop heard between two chunks, and how far the file has been compared.
struct LastCopyProgress {
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> bytesCompared{0};
    std::atomic<std::int64_t> bytesTotal{0};
};

// Whether another file of the group still holds the file's bytes. A path
// that reaches the same (device, inode) is never a copy. The others of the
// file's size are compared with it side by side, chunk by chunk, so the
// file is read once: a candidate drops out at its first differing byte, and
// the check ends as soon as one candidate is equal to the end or none is
// left. A file that changes while it is read is not confirmed. Reads with
// pread, never maps, never follows a link as the last part of a path. It
// touches nothing but the files, so it may run on a helper thread.
LastCopyAnswer checkLastCopy(const LastCopyQuery& query, LastCopyProgress& progress);

// Checked right before the deletion: the file at the path is still the one
// that was checked, unchanged, and the copy found (if any) is still a
// distinct file, unchanged since it was compared.
bool answerStillHolds(const LastCopyQuery& query, const LastCopyAnswer& answer);

}  // namespace platform
