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

} // namespace qr
