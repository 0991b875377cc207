#pragma once

namespace qr {

// The five states a network connection reports, numbered as the capture protocol's state machine
// expects them.
enum class ConnectionState : int {
    Waiting = 1,
    Preparing = 2,
    Ready = 3,
    Failed = 4,
    Cancelled = 5,
};

// The state's name for diagnostics.
constexpr const char* connectionStateName(int state)
{
    switch (static_cast<ConnectionState>(state)) {
    case ConnectionState::Waiting:
        return "waiting";
    case ConnectionState::Preparing:
        return "preparing";
    case ConnectionState::Ready:
        return "ready";
    case ConnectionState::Failed:
        return "failed";
    case ConnectionState::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

} // namespace qr
