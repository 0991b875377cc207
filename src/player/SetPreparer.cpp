#include "player/SetPreparer.h"

#include "decode/PooledBuffer.h"
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

// Reads the whole file into a pooled buffer: the raw frames are read into the same already mapped
// memory each time instead of faulting in 36 MB anew. The bytes read, or nothing when the file cannot
// be read completely (an empty file gives an empty span).
std::optional<std::span<const std::uint8_t>> readFile(const QString& path, PooledBuffer& buffer)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    const qint64 size = file.size();
    if (size <= 0)
        return size == 0 ? std::optional(std::span<const std::uint8_t>()) : std::nullopt;
    if (!buffer.take(static_cast<std::size_t>(size)))
        return std::nullopt;
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(reinterpret_cast<char*>(buffer.data()) + done, size - done);
        if (n <= 0)
            return std::nullopt;
        done += n;
    }
    return std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(size));
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
    const auto rgb = readFile(path, buffer);
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
        const auto rgb = readFile(path, buffer);
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
    PooledBuffer buffer;
    const auto rgb = readFile(path, buffer);
    if (!rgb)
        return {};
    const FrameSize size = RawFrame::recognise(static_cast<std::int64_t>(rgb->size()), fallback);
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
    QImage display = PhotoDecoder::decode(path, box, &size);
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
