#pragma once

#include "decode/FrameBuffer.h"

#include <QImage>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qr {

// Width and height of a raw frame in pixels (32-bit signed, as the callers keep them).
struct FrameSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const FrameSize&) const = default;
};

// The frame dimensions that the RGB-to-BGRA conversion reads, chosen by its selector: 1001, 1002 and
// 1003 take the size of capture connection 1, 2 or 3; any other selector takes the size recognised
// from the last `.rgb` frame.
struct CaptureSizes {
    FrameSize capture;
    std::array<FrameSize, 3> connection{};

    FrameSize forSelector(std::int32_t selector) const;
};

// A frame of 4 bytes per pixel in memory order B, G, R, A (A = 255), rows of width x 4 bytes, no
// padding. A portrait frame is the same with width and height exchanged.
struct BgraFrame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    FrameBuffer buffer;

    bool isNull() const { return buffer.isNull(); }
    std::int64_t bytesPerLine() const { return std::int64_t{width} * 4; }
};

// Raw camera frames: packed 8-bit RGB (`.rgb`, 3 bytes per pixel in the order R, G, B), their
// conversion to BGRA, the quarter turn to portrait, and images over BGRA buffers.
// Every function is a pure function of its arguments and may run on any thread. Sizes are computed
// in 64-bit; an input shorter than the frame it should hold yields nothing.
class RawFrame {
public:
    // Byte counts of the four recognised `.rgb` frames and the one BGRA size kept in landscape.
    static constexpr std::int64_t kRgb4032x3024 = 36'578'304;
    static constexpr std::int64_t kRgb3840x2160 = 24'883'200;
    static constexpr std::int64_t kRgb3264x2448 = 23'970'816;
    static constexpr std::int64_t kRgb3088x2320 = 21'492'480;
    static constexpr std::int64_t kLandscapeBgraBytes = 33'177'600; // 3840 x 2160 x 4

    // The dimensions of a `.rgb` frame of `rgbByteCount` bytes, or nothing for any other count.
    static std::optional<FrameSize> recognisedSize(std::int64_t rgbByteCount);
    // The dimensions in force after seeing a frame of `rgbByteCount` bytes: a recognised size
    // replaces `previous`, any other count leaves `previous` in force.
    static FrameSize recognise(std::int64_t rgbByteCount, FrameSize previous);
    // True for the one BGRA frame size that stays landscape; every other is turned to portrait.
    static bool staysLandscape(std::int64_t bgraByteCount) { return bgraByteCount == kLandscapeBgraBytes; }

    // Packed RGB to BGRA for a frame of `size`; nothing when the size is not positive or `rgb`
    // holds fewer than width x height x 3 bytes (extra bytes are ignored), or allocation fails.
    static std::optional<BgraFrame> rgbToBgra(std::span<const std::uint8_t> rgb, FrameSize size);
    // The same into a caller's buffer of at least width x height x 4 bytes; false when nothing was
    // written.
    static bool rgbToBgraInto(std::span<const std::uint8_t> rgb, FrameSize size, std::span<std::uint8_t> out);
    // The conversion with the selector rule of CaptureSizes::forSelector.
    static std::optional<BgraFrame> getBgraImageDataFromRgbImageData(std::int32_t selector,
                                                                     std::span<const std::uint8_t> rgb,
                                                                     const CaptureSizes& sizes);

    // Turns a BGRA frame of `size` (landscape, width x height) a quarter turn clockwise into a new
    // frame of height x width: the source pixel at column x, row y lands at column height - 1 - y,
    // row x. Nothing when `bgra` holds fewer than width x height x 4 bytes or the size is not
    // positive.
    static std::optional<BgraFrame> rotateBufferToPort(std::span<const std::uint8_t> bgra, FrameSize size);
    static bool rotateBufferToPortInto(std::span<const std::uint8_t> bgra, FrameSize size,
                                       std::span<std::uint8_t> out);
    // The conversion and the quarter turn in one pass: the same bytes as rgbToBgraInto followed by
    // rotateBufferToPortInto, into a caller's buffer of at least width x height x 4 bytes.
    static bool rgbToBgraTurnedInto(std::span<const std::uint8_t> rgb, FrameSize size,
                                    std::span<std::uint8_t> out);

    // An image over the frame's buffer without copying it: QImage::Format_RGB32 (memory B, G, R,
    // ignored byte on little-endian machines) in the Display P3 colour space. The image owns the
    // buffer and frees it when its last copy goes. A null frame gives a null image.
    static QImage toImage(BgraFrame&& frame);
};

} // namespace qr
