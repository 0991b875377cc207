#pragma once

#include <cstdint>
#include <functional>

namespace qr {

// The render timer seam: a one-shot timer on the main thread's event loop with a monotonic clock.
// Deadlines are absolute, so the engine can chain ticks from the previous deadline rather than from
// the moment a tick ran, which keeps a fast speed exact over a whole set. Tests substitute a manual
// clock and fire ticks themselves.
class RenderTimer {
public:
    virtual ~RenderTimer() = default;

    // Nanoseconds on a monotonic clock with an arbitrary origin.
    virtual std::int64_t nowNs() const = 0;
    // Arms the timer for `deadlineNs` (on the nowNs() clock), replacing any armed deadline. A deadline
    // in the past fires as soon as the event loop runs.
    virtual void armAt(std::int64_t deadlineNs) = 0;
    virtual void stop() = 0;
    virtual bool isArmed() const = 0;
    // Called on the main thread when an armed deadline is reached; the timer is no longer armed then.
    virtual void setCallback(std::function<void()> callback) = 0;
};

} // namespace qr
