#include "platform/ThreadPriority.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace qr {

void ThreadPriority::lowerForBackgroundWork()
{
#if defined(__linux__)
    // On Linux a thread has its own nice value. Five steps give the main thread about three times a
    // pool thread's share of a busy core, so a woken main thread runs at once.
    constexpr int kSteps = 5;
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // Relative to the main thread (whose id is the process's): a thread started by a lowered one
    // starts lowered already.
    errno = 0;
    const int main = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    const auto tid = static_cast<id_t>(gettid());
    const int own = getpriority(PRIO_PROCESS, tid);
    if (errno == 0 && own < main + kSteps)
        setpriority(PRIO_PROCESS, tid, main + kSteps);
#endif
}

void ThreadPriority::lowerToIdle()
{
#if defined(__linux__)
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
#endif
}

} // namespace qr
