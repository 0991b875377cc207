#pragma once

namespace qr {

// Scheduling of the calling thread relative to the rest of the process.
class ThreadPriority {
public:
    // Lowers the calling thread below the main thread once (later calls do nothing), so that work
    // on the pools never delays a tick's painting when every core is busy. A no-op where threads
    // have no priority of their own.
    static void lowerForBackgroundWork();
    // Lowers the calling thread to the lowest priority for good (a thread cannot raise itself again),
    // for work that may wait as long as anything else wants a core.
    static void lowerToIdle();
};

} // namespace qr
