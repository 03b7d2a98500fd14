// Lowers a thread's I/O priority to idle for a while and restores it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// Moves the calling thread's I/O priority to the idle class for its lifetime
// and restores the class it had. An ordinary user may lower CPU priority but
// never raise it again, so CPU priority is left alone. Where a switch is
// refused, nothing changes.
class IdleIoPriority {
public:
    IdleIoPriority();
    ~IdleIoPriority();
    IdleIoPriority(const IdleIoPriority&) = delete;
    IdleIoPriority& operator=(const IdleIoPriority&) = delete;

    bool switched() const { return m_switched; }

    // The calling thread's I/O priority value, or -1.
    static int current();

private:
    int m_previous = -1;
    bool m_switched = false;
};

}  // namespace platform
