#include "player/SetPreparer.h"

#include "decode/PooledBuffer.h"
#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "player/PhotoDecoder.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace qr {

namespace {

// Reads the bytes of one frame of `size` from the start of `file` into a pooled buffer: the raw frames
// are read into the same already mapped memory each time instead of faulting in 36 MB anew. Only the
// frame is read, whatever the file's length; nothing when the file holds less than the frame or
// changed while it was read.
std::optional<std::span<const std::uint8_t>> readFrame(RegularFile& file, FrameSize size,
                                                       PooledBuffer& buffer)
{
    if (!file.isOpen() || size.width <= 0 || size.height <= 0)
        return std::nullopt;
    const std::int64_t bytes = std::int64_t{size.width} * size.height * 3;
    if (file.size() < bytes) {
        qCDebug(lcPlayer).noquote() << file.path() << "skipped:" << file.size() << "bytes, a frame of"
                                    << size.width << "x" << size.height << "needs" << bytes;
        return std::nullopt;
    }
    if (!buffer.take(static_cast<std::size_t>(bytes)))
        return std::nullopt;
    const std::span<std::uint8_t> frame(buffer.data(), static_cast<std::size_t>(bytes));
    if (!file.readAt(0, frame) || !file.unchanged()) {
        qCDebug(lcPlayer).noquote() << file.path() << "skipped:" << file.errorString();
        return std::nullopt;
    }
    return frame;
}

std::optional<std::span<const std::uint8_t>> readFrame(const QString& path, FrameSize size,
                                                       PooledBuffer& buffer)
{
    RegularFile file(path);
    return readFrame(file, size, buffer);
}

// Converts (and turns) the frame in `rgb` into a new image over a pooled buffer; null when it cannot.
QImage convertFrame(std::span<const std::uint8_t> rgb, FrameSize size)
{
    if (size.width <= 0 || size.height <= 0)
        return {};
    const std::int64_t bytes = std::int64_t{size.width} * size.height * 4;
    if (static_cast<std::int64_t>(rgb.size()) < std::int64_t{size.width} * size.height * 3)
        return {};
    PooledBuffer out;
    if (!out.take(static_cast<std::size_t>(bytes)))
        return {};
    if (RawFrame::staysLandscape(bytes))
        return RawFrame::rgbToBgraInto(rgb, size, out.span()) ? out.toImage(size.width, size.height)
                                                              : QImage();
    return RawFrame::rgbToBgraTurnedInto(rgb, size, out.span()) ? out.toImage(size.height, size.width)
                                                                : QImage();
}

} // namespace

std::vector<FrameSize> SetPreparer::recogniseSizes(const QStringList& paths, FrameSize previous)
{
    std::vector<FrameSize> sizes;
    sizes.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        const QFileInfo info(path);
        previous = RawFrame::recognise(info.exists() ? info.size() : 0, previous);
        sizes.push_back(previous);
    }
    return sizes;
}

PhotoImage SetPreparer::prepareRawFrame(const QString& path, FrameSize size, QSize box)
{
    PooledBuffer buffer;
    const auto rgb = readFrame(path, size, buffer);
    if (!rgb)
        return {};
    QImage full = convertFrame(*rgb, size);
    if (full.isNull())
        return {};
    QImage display = box.isValid() ? PhotoDecoder::scaledToFit(full, box) : QImage();
    return PhotoImage::fromImage(std::move(full), std::move(display));
}

PhotoImage SetPreparer::prepareRawDisplay(const QString& path, FrameSize size, QSize box)
{
    QImage display;
    QSize natural;
    {
        PooledBuffer buffer;
        const auto rgb = readFrame(path, size, buffer);
        if (!rgb)
            return {};
        const QImage full = convertFrame(*rgb, size);
        if (full.isNull())
            return {};
        natural = full.size();
        display = PhotoDecoder::scaledToFit(full, box);
        // A copy that is the frame itself would keep the pooled buffer.
        if (display.constBits() == full.constBits())
            display = full.copy();
    }
    return PhotoImage::fromFrameCopy(std::move(display), natural);
}

PhotoImage SetPreparer::prepareRawPreview(const QString& path, FrameSize fallback, QSize box)
{
    RegularFile file(path);
    const FrameSize size = RawFrame::recognise(file.size(), fallback);
    PooledBuffer buffer;
    const auto rgb = readFrame(file, size, buffer);
    if (!rgb)
        return {};
    const QImage full = convertFrame(*rgb, size);
    if (full.isNull())
        return {};
    // Covering the panel: the side view crops it to fill and never enlarges it.
    QImage small = PhotoDecoder::scaledToFit(full, PhotoDecoder::coveringBox(full.size(), box));
    return PhotoImage::fromImage(small, small);
}

PhotoImage SetPreparer::preparePhoto(const QString& path, QSize box)
{
    if (!box.isValid() || box.isEmpty())
        return PhotoImage::fromFile(path, QImage(), PhotoDecoder::naturalSize(path));
    // One read of the file gives both the copy and the natural size.
    QSize size;
    QImage display = PhotoDecoder::decodeDisplayCopy(path, box, &size);
    if (display.isNull())
        size = PhotoDecoder::naturalSize(path);
    return PhotoImage::fromFile(path, std::move(display), size);
}

PhotoImage SetPreparer::preparePreview(const QString& path, QSize box)
{
    const QSize size = PhotoDecoder::naturalSize(path);
    // Covering the panel: the side view crops it to fill and never enlarges it.
    QImage display = box.isValid() && !box.isEmpty()
                         ? PhotoDecoder::decodePreview(path, PhotoDecoder::coveringBox(size, box))
                         : QImage();
    return PhotoImage::fromFile(path, std::move(display), size);
}

} // namespace qr
