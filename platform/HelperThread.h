// Starts a helper thread that never runs a handler of a signal sent to the whole process.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <signal.h>
#include <thread>
#include <utility>

namespace platform {

// Holds back, on the calling thread and for its lifetime, every signal that
// the kernel may hand to any thread of the process. The signals a fault
// raises on the thread that made it (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGTRAP, SIGSYS) stay open.
class ProcessSignalsHeld {
public:
    ProcessSignalsHeld();
    ~ProcessSignalsHeld();
    ProcessSignalsHeld(const ProcessSignalsHeld&) = delete;
    ProcessSignalsHeld& operator=(const ProcessSignalsHeld&) = delete;

private:
    sigset_t m_saved;
};

// A new thread running `body` with the process's signals held back from its
// start (a thread takes its mask from the thread that makes it), so that a
// signal sent to the process is handled by a thread that did not hold it:
// the one that set up the handlers. A handler that cleans up after the
// program (a temporary output file) then never runs beside a thread that
// holds the signals back while it changes what the handler looks at.
template <class Body>
std::thread startHelperThread(Body&& body)
{
    const ProcessSignalsHeld held;
    return std::thread(std::forward<Body>(body));
}

}  // namespace platform
