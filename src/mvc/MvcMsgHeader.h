#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qr {

// The 16-byte header in front of every message a capture phone sends. All fields are big-endian on
// the wire.
struct MvcMsgHeader {
    static constexpr std::size_t kSize = 16;
    static constexpr std::uint8_t kCloseFlag = 0x10;

    std::uint8_t ver = 0;       // version and flags
    std::uint8_t posOrient = 0; // high 4 bits view index, low 4 bits device orientation
    std::uint16_t cntr = 0;
    std::uint32_t mvcLen = 0; // payload bytes that follow the header
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t imageCaptureWidth = 0;
    std::uint16_t imageCaptureHeight = 0;

    bool isCloseRequest() const { return (ver & kCloseFlag) != 0; }
    // 0, 1, 2 name display positions 1 to 3; larger values are shown nowhere.
    int viewIndex() const { return posOrient >> 4; }
    // 0 means the frame is turned a quarter turn clockwise before it is shown.
    int deviceOrientation() const { return posOrient & 0x0F; }

    static MvcMsgHeader parse(std::span<const std::uint8_t, kSize> bytes);
    std::array<std::uint8_t, kSize> serialize() const;
};

} // namespace qr
