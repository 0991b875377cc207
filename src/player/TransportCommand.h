#pragma once

#include <cstdint>

namespace qr {

// The player's transport commands, as the controller bar, the keyboard and the engine number them.
enum class TransportCommand : std::int32_t {
    PlayPause = 1,
    NextPhoto = 2,
    PreviousPhoto = 3,
    LastPhoto = 4,
    FirstPhoto = 5,
    NextSet = 6,
    PreviousSet = 7,
};

} // namespace qr
