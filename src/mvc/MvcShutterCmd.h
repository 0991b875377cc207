#pragma once

#include "mvc/MvcSecretCode.h"

#include <QByteArray>

#include <array>
#include <cstdint>

namespace qr {

// The 8-byte remote-shutter command sent to one phone: the six code bytes, then the command value
// 1 as a 16-bit little-endian number.
struct MvcShutterCmd {
    static constexpr std::size_t kSize = 8;
    static constexpr std::uint16_t kShutter = 1;

    std::array<std::uint8_t, 6> code{};
    std::uint16_t command = kShutter;

    static MvcShutterCmd fromCode(const MvcSecretCode& code);
    QByteArray serialize() const;
    // Reads a command from exactly 8 bytes (the phone's side); false for any other length.
    static bool parse(QByteArrayView bytes, MvcShutterCmd& out);
};

} // namespace qr
