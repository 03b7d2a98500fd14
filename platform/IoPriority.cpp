// Lowers a thread's I/O priority to idle for a while and restores it.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/IoPriority.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kWhoProcess = 1;  // with id 0: the calling thread
constexpr int kClassShift = 13;
constexpr int kClassIdle = 3;

}  // namespace

int IdleIoPriority::current()
{
    return static_cast<int>(::syscall(SYS_ioprio_get, kWhoProcess, 0));
}

IdleIoPriority::IdleIoPriority()
{
    m_previous = current();
    if (m_previous < 0) {
        return;
    }
    m_switched = ::syscall(SYS_ioprio_set, kWhoProcess, 0, kClassIdle << kClassShift) == 0;
}

IdleIoPriority::~IdleIoPriority()
{
    if (m_switched) {
        ::syscall(SYS_ioprio_set, kWhoProcess, 0, m_previous);
    }
}

}  // namespace platform
