#pragma once

#include <cstdint>

namespace qr {

// The bookkeeping of one of the master's three connection slots; the connection object itself lives
// with the master.
struct MvcRxSlot {
    bool filled = false;            // has held a connection at some time in this run
    bool ready = false;             // the connection is in the ready state
    bool waitingForRestart = false; // the connection was cancelled: the slot may be given away
    std::int32_t cntr = 0;          // complete messages on the current connection
    std::int32_t viewIndex = 0;     // view index of the latest header; 0 until one is read
    std::int32_t paintedState = 0;  // the last reported state that gave the indicator a colour
};

} // namespace qr
