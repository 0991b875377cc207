#include "mvc/MvcFrameDecoder.h"

#include "decode/FrameBufferPool.h"
#include "decode/Lz4FrameDecoder.h"
#include "decode/RawFrame.h"
#include "mvc/MvcMessageAssembler.h"

namespace qr {

namespace {

// A scratch buffer of at least `size` bytes, kept when it is already big enough.
bool ensure(FrameBuffer& b, std::size_t size)
{
    if (!b.isNull() && b.size() >= size)
        return true;
    b = FrameBuffer::allocate(size);
    return !b.isNull() && b.size() >= size;
}

// The shown frames' buffers: on huge pages, and a few kept for the next frames. A fresh small-page
// frame costs thousands of page faults, more than its decoding on a virtual machine: when a
// recording starts and its queues hold frames, the decoding thread took 30-80 ms a frame.
FrameBufferPool& framePool()
{
    constexpr std::size_t kIdleBytes = std::size_t(64) << 20;        // five frames of 1920 x 1440
    static auto* const pool = new FrameBufferPool(kIdleBytes, true); // images may outlive statics
    return *pool;
}

} // namespace

QImage MvcFrameDecoder::decode(const MvcMsgHeader& header, QByteArrayView payload)
{
    const FrameSize size{header.width, header.height};
    const std::size_t rgbBytes = std::size_t(size.width) * std::size_t(size.height) * 3;
    if (rgbBytes == 0 || rgbBytes > MvcMessageAssembler::kMaxFrameBytes)
        return {};
    // One byte of room beyond the frame tells a stream that decodes too long from an exact one.
    if (!ensure(m_rgb, rgbBytes + 1))
        return {};
    const auto in =
        std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), std::size_t(payload.size()));
    const std::size_t got = Lz4FrameDecoder::decodeInto(in, m_rgb.span().first(rgbBytes + 1));
    if (got != rgbBytes)
        return {};
    const std::size_t bgraBytes = rgbBytes / 3 * 4;
    const auto rgb = std::span<const std::uint8_t>(m_rgb.data(), rgbBytes);
    FrameBufferPool& pool = framePool();
    std::uint8_t* frame = pool.take(bgraBytes);
    if (!frame)
        return {};
    const std::span<std::uint8_t> out(frame, bgraBytes);
    if (header.deviceOrientation() != 0) {
        if (!RawFrame::rgbToBgraInto(rgb, size, out)) {
            pool.give(frame, bgraBytes);
            return {};
        }
        return pool.wrap(frame, bgraBytes, size.width, size.height);
    }
    if (!ensure(m_bgra, bgraBytes) || !RawFrame::rgbToBgraInto(rgb, size, m_bgra.span().first(bgraBytes)) ||
        !RawFrame::rotateBufferToPortInto(std::span<const std::uint8_t>(m_bgra.data(), bgraBytes), size,
                                          out)) {
        pool.give(frame, bgraBytes);
        return {};
    }
    return pool.wrap(frame, bgraBytes, size.height, size.width);
}

} // namespace qr
