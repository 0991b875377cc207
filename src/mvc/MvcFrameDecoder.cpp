#include "mvc/MvcFrameDecoder.h"

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
    if (header.deviceOrientation() != 0) {
        BgraFrame out{size.width, size.height, FrameBuffer::allocate(bgraBytes)};
        if (out.isNull() || out.buffer.size() < bgraBytes ||
            !RawFrame::rgbToBgraInto(rgb, size, out.buffer.span()))
            return {};
        return RawFrame::toImage(std::move(out));
    }
    if (!ensure(m_bgra, bgraBytes) || !RawFrame::rgbToBgraInto(rgb, size, m_bgra.span().first(bgraBytes)))
        return {};
    BgraFrame turned{size.height, size.width, FrameBuffer::allocate(bgraBytes)};
    if (turned.isNull() || turned.buffer.size() < bgraBytes ||
        !RawFrame::rotateBufferToPortInto(std::span<const std::uint8_t>(m_bgra.data(), bgraBytes), size,
                                          turned.buffer.span()))
        return {};
    return RawFrame::toImage(std::move(turned));
}

} // namespace qr
