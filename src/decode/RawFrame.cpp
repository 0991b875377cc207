#include "decode/RawFrame.h"

#include "decode/RawFrameKernels.h"

#include <QColorSpace>

#include <climits>

namespace qr {

namespace {

// Positive, and small enough that a row of 4-byte pixels still fits the kernels' `int` strides.
bool usableSize(FrameSize size)
{
    return size.width > 0 && size.height > 0 && size.width <= INT_MAX / 4 && size.height <= INT_MAX / 4;
}

std::int64_t pixelCount(FrameSize size)
{
    return std::int64_t{size.width} * size.height;
}

// A usable size whose frame of `inBytes` per pixel fits `in` and whose result of `outBytes` per pixel
// fits `out`.
bool fits(FrameSize size, std::size_t in, int inBytes, std::size_t out, int outBytes)
{
    if (!usableSize(size))
        return false;
    const auto pixels = static_cast<std::uint64_t>(pixelCount(size));
    return pixels * std::uint64_t(inBytes) <= in && pixels * std::uint64_t(outBytes) <= out;
}

// Column blocks of the fused conversion and turn (0: whole rows), chosen in bench_decode.
constexpr int kTurnBlockColumns = 1024;

void freeFrameBuffer(void* info)
{
    delete[] static_cast<std::uint8_t*>(info);
}

} // namespace

FrameSize CaptureSizes::forSelector(std::int32_t selector) const
{
    if (selector >= 1001 && selector <= 1003)
        return connection[static_cast<std::size_t>(selector - 1001)];
    return capture;
}

std::optional<FrameSize> RawFrame::recognisedSize(std::int64_t rgbByteCount)
{
    switch (rgbByteCount) {
    case kRgb4032x3024:
        return FrameSize{4032, 3024};
    case kRgb3840x2160:
        return FrameSize{3840, 2160};
    case kRgb3264x2448:
        return FrameSize{3264, 2448};
    case kRgb3088x2320:
        return FrameSize{3088, 2320};
    default:
        return std::nullopt;
    }
}

FrameSize RawFrame::recognise(std::int64_t rgbByteCount, FrameSize previous)
{
    return recognisedSize(rgbByteCount).value_or(previous);
}

bool RawFrame::rgbToBgraInto(std::span<const std::uint8_t> rgb, FrameSize size, std::span<std::uint8_t> out)
{
    if (!fits(size, rgb.size(), 3, out.size(), 4))
        return false;
    if (!kernels::rgbToBgraShuffle(rgb.data(), out.data(), pixelCount(size)))
        kernels::rgbToBgraLibyuv(rgb.data(), out.data(), size.width, size.height);
    return true;
}

std::optional<BgraFrame> RawFrame::rgbToBgra(std::span<const std::uint8_t> rgb, FrameSize size)
{
    if (!usableSize(size) || static_cast<std::uint64_t>(pixelCount(size)) * 3 > rgb.size())
        return std::nullopt;
    BgraFrame frame{size.width, size.height,
                    FrameBuffer::allocate(static_cast<std::size_t>(pixelCount(size)) * 4)};
    if (frame.isNull() || !rgbToBgraInto(rgb, size, frame.buffer.span()))
        return std::nullopt;
    return frame;
}

std::optional<BgraFrame> RawFrame::getBgraImageDataFromRgbImageData(std::int32_t selector,
                                                                    std::span<const std::uint8_t> rgb,
                                                                    const CaptureSizes& sizes)
{
    return rgbToBgra(rgb, sizes.forSelector(selector));
}

bool RawFrame::rotateBufferToPortInto(std::span<const std::uint8_t> bgra, FrameSize size,
                                      std::span<std::uint8_t> out)
{
    if (!fits(size, bgra.size(), 4, out.size(), 4))
        return false;
    // Measured fastest: the SSE2 tile transpose in 1024-pixel blocks; libyuv on strips elsewhere.
    if (!kernels::rotateBlocked(bgra.data(), out.data(), size.width, size.height, 1024))
        kernels::rotateLibyuvStrips(bgra.data(), out.data(), size.width, size.height, 128);
    return true;
}

bool RawFrame::rgbToBgraTurnedInto(std::span<const std::uint8_t> rgb, FrameSize size,
                                   std::span<std::uint8_t> out)
{
    if (!fits(size, rgb.size(), 3, out.size(), 4))
        return false;
    if (!kernels::rgbToBgraTurned(rgb.data(), out.data(), size.width, size.height, kTurnBlockColumns))
        kernels::rgbToBgraTurnedNaive(rgb.data(), out.data(), size.width, size.height);
    return true;
}

std::optional<BgraFrame> RawFrame::rotateBufferToPort(std::span<const std::uint8_t> bgra, FrameSize size)
{
    if (!usableSize(size) || static_cast<std::uint64_t>(pixelCount(size)) * 4 > bgra.size())
        return std::nullopt;
    BgraFrame frame{size.height, size.width,
                    FrameBuffer::allocate(static_cast<std::size_t>(pixelCount(size)) * 4)};
    if (frame.isNull() || !rotateBufferToPortInto(bgra, size, frame.buffer.span()))
        return std::nullopt;
    return frame;
}

QImage RawFrame::toImage(BgraFrame&& frame)
{
    const FrameSize size{frame.width, frame.height};
    if (frame.isNull() || !usableSize(size) ||
        frame.buffer.size() < static_cast<std::uint64_t>(pixelCount(size)) * 4)
        return {};
    std::uint8_t* data = frame.buffer.release();
    QImage image(data, size.width, size.height, static_cast<qsizetype>(frame.bytesPerLine()),
                 QImage::Format_RGB32, freeFrameBuffer, data);
    if (image.isNull()) {
        // QImage refused the size and did not take the buffer.
        delete[] data;
        return {};
    }
    static const QColorSpace displayP3(QColorSpace::DisplayP3);
    // The only reference to the image data: setting the colour space does not copy it.
    image.setColorSpace(displayP3);
    return image;
}

} // namespace qr
