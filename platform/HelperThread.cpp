// Holds back the signals sent to the whole process on the threads that help the main one.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/HelperThread.h"

#include <pthread.h>

namespace platform {

ProcessSignalsHeld::ProcessSignalsHeld()
{
    sigset_t held;
    sigfillset(&held);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
        sigdelset(&held, fault);
    }
    ::pthread_sigmask(SIG_BLOCK, &held, &m_saved);
}

ProcessSignalsHeld::~ProcessSignalsHeld()
{
    ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
}

}  // namespace platform
