#include "player/SetPreparer.h"

#include "decode/FrameBufferPool.h"
#include "player/PhotoDecoder.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace qr {

namespace {

// A file's bytes in a pooled buffer, given back when this goes: the raw frames are read into the
// same already mapped memory each time instead of faulting in 36 MB anew.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() { FrameBufferPool::shared().give(data_, capacity_); }

    // Reads the whole file; false when it cannot be read completely.
    bool read(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        const qint64 size = file.size();
        if (size <= 0)
            return size == 0;
        capacity_ = static_cast<std::size_t>(size);
        data_ = FrameBufferPool::shared().take(capacity_);
        if (!data_)
            return false;
        qint64 done = 0;
        while (done < size) {
            const qint64 n = file.read(reinterpret_cast<char*>(data_) + done, size - done);
            if (n <= 0)
                break;
            done += n;
        }
        size_ = static_cast<std::size_t>(done);
        return done == size;
    }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

// Converts (and turns) the frame in `rgb` into a new image over a pooled buffer; null when it cannot.
QImage convertFrame(std::span<const std::uint8_t> rgb, FrameSize size)
{
    if (size.width <= 0 || size.height <= 0)
        return {};
    const std::int64_t bytes = std::int64_t{size.width} * size.height * 4;
    if (static_cast<std::int64_t>(rgb.size()) < std::int64_t{size.width} * size.height * 3)
        return {};
    const auto byteCount = static_cast<std::size_t>(bytes);
    auto& pool = FrameBufferPool::shared();
    std::uint8_t* out = pool.take(byteCount);
    if (!out)
        return {};
    const std::span<std::uint8_t> target(out, byteCount);
    if (RawFrame::staysLandscape(bytes)) {
        if (!RawFrame::rgbToBgraInto(rgb, size, target)) {
            pool.give(out, byteCount);
            return {};
        }
        return pool.wrap(out, byteCount, size.width, size.height);
    }
    if (!RawFrame::rgbToBgraTurnedInto(rgb, size, target)) {
        pool.give(out, byteCount);
        return {};
    }
    return pool.wrap(out, byteCount, size.height, size.width);
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
    FileBytes rgb;
    if (!rgb.read(path))
        return {};
    QImage full = convertFrame(rgb.bytes(), size);
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
        FileBytes rgb;
        if (!rgb.read(path))
            return {};
        const QImage full = convertFrame(rgb.bytes(), size);
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
    FileBytes rgb;
    if (!rgb.read(path))
        return {};
    const FrameSize size = RawFrame::recognise(static_cast<std::int64_t>(rgb.bytes().size()), fallback);
    const QImage full = convertFrame(rgb.bytes(), size);
    if (full.isNull())
        return {};
    QImage small = PhotoDecoder::scaledToFit(full, box);
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
    QImage display = box.isValid() && !box.isEmpty() ? PhotoDecoder::decodePreview(path, box) : QImage();
    return PhotoImage::fromFile(path, std::move(display), size);
}

} // namespace qr
