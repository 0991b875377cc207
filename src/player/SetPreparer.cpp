#include "player/SetPreparer.h"

#include "player/PhotoDecoder.h"

#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <span>
#include <vector>

namespace qr {

namespace {

// Frame-sized scratch kept per pool thread: touching fresh 36-49 MB buffers costs more in page faults
// than converting them.
struct Scratch {
    std::vector<std::uint8_t> rgb;
    std::vector<std::uint8_t> bgra;
};

Scratch& scratch()
{
    thread_local Scratch s;
    return s;
}

// Reads the whole file into `out`; false when it cannot be read completely.
bool readWhole(const QString& path, std::vector<std::uint8_t>& out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 size = file.size();
    if (size < 0)
        return false;
    out.resize(static_cast<std::size_t>(size));
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(reinterpret_cast<char*>(out.data()) + done, size - done);
        if (n <= 0)
            break;
        done += n;
    }
    out.resize(static_cast<std::size_t>(done));
    return done == size;
}

// Converts (and turns) the frame in `rgb` into a new image; null when it cannot.
QImage convertFrame(std::span<const std::uint8_t> rgb, FrameSize size)
{
    if (size.width <= 0 || size.height <= 0)
        return {};
    const std::int64_t bytes = std::int64_t{size.width} * size.height * 4;
    if (static_cast<std::int64_t>(rgb.size()) < std::int64_t{size.width} * size.height * 3)
        return {};
    FrameBuffer out = FrameBuffer::allocate(static_cast<std::size_t>(bytes));
    if (out.isNull())
        return {};
    BgraFrame frame;
    if (RawFrame::staysLandscape(bytes)) {
        if (!RawFrame::rgbToBgraInto(rgb, size, out.span()))
            return {};
        frame.width = size.width;
        frame.height = size.height;
    } else {
        auto& bgra = scratch().bgra;
        bgra.resize(static_cast<std::size_t>(bytes));
        if (!RawFrame::rgbToBgraInto(rgb, size, bgra) ||
            !RawFrame::rotateBufferToPortInto(bgra, size, out.span()))
            return {};
        frame.width = size.height;
        frame.height = size.width;
    }
    frame.buffer = std::move(out);
    return RawFrame::toImage(std::move(frame));
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
    auto& rgb = scratch().rgb;
    if (!readWhole(path, rgb))
        return {};
    QImage full = convertFrame(rgb, size);
    if (full.isNull())
        return {};
    QImage display = box.isValid() ? PhotoDecoder::scaledToFit(full, box) : QImage();
    return PhotoImage::fromImage(std::move(full), std::move(display));
}

PhotoImage SetPreparer::prepareRawPreview(const QString& path, FrameSize fallback, QSize box)
{
    auto& rgb = scratch().rgb;
    if (!readWhole(path, rgb))
        return {};
    const FrameSize size = RawFrame::recognise(static_cast<std::int64_t>(rgb.size()), fallback);
    const QImage full = convertFrame(rgb, size);
    if (full.isNull())
        return {};
    QImage small = PhotoDecoder::scaledToFit(full, box);
    return PhotoImage::fromImage(small, small);
}

PhotoImage SetPreparer::preparePhoto(const QString& path, QSize box)
{
    const QSize size = PhotoDecoder::naturalSize(path);
    QImage display = box.isValid() && !box.isEmpty() ? PhotoDecoder::decode(path, box) : QImage();
    return PhotoImage::fromFile(path, std::move(display), size);
}

void SetPreparer::releaseScratch()
{
    Scratch& s = scratch();
    std::vector<std::uint8_t>().swap(s.rgb);
    std::vector<std::uint8_t>().swap(s.bgra);
}

} // namespace qr
