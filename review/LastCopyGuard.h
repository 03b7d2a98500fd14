// Runs the last-copy check off the window's thread, with a wait that can be cancelled.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>

#include "platform/LastCopyCheck.h"

class QWidget;

namespace review {

// How long a check may take before a wait with a Cancel button comes up.
constexpr std::chrono::milliseconds kLastCopyWaitDelay{300};

// Runs the last-copy check on a helper thread while the event loop keeps
// turning, so two large copies compared to their last byte leave the window
// live. User input waits until the wait comes up (after
// kLastCopyWaitDelay); then only the wait takes it, and its Cancel ends the
// check. The answer is back as soon as it is known. Nothing when the user
// cancelled.
std::optional<platform::LastCopyAnswer> waitForLastCopyCheck(QWidget* parent,
                                                             const platform::LastCopyQuery& query);

// Delete with the last-copy guard: checks whether another file of the group
// still holds the file's bytes, asks (saying so when it is the last copy,
// which makes No the default), and right before deleting checks that the
// file and the copy found are still what they were, asking again after a
// new check when they are not. A cancelled check deletes nothing. True when
// no file exists at the path afterwards.
bool deleteWithLastCopyGuard(QWidget* parent, const platform::LastCopyQuery& query, bool permanent);

}  // namespace review
