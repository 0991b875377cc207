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
    const auto tid = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, nice + kSteps);
#endif
}

} // namespace qr
