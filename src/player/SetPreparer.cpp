#include "player/SetPreparer.h"

#include "player/PhotoDecoder.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <mutex>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace qr {

namespace {

// Frame-sized scratch kept per pool thread: touching fresh 36-49 MB buffers costs more in page faults
// than converting them. It goes with the thread (the engine's pool lets idle threads end).
struct Scratch {
    std::vector<std::uint8_t> rgb;
    std::vector<std::uint8_t> bgra;
};

Scratch& scratch()
{
    thread_local Scratch s;
    return s;
}

// Frame buffers given back when their images go (a set's frames evicted from the cache, a preview
// dropped) and taken again by the next conversion: a reused buffer is already mapped, a fresh one
// costs about as much in page faults as the conversion itself. Never destroyed, so that an image
// released late at exit can still give its buffer back.
class FramePool {
public:
    static FramePool& instance()
    {
        static auto* pool = new FramePool;
        return *pool;
    }
    std::uint8_t* take(std::size_t bytes)
    {
        {
            const std::lock_guard lock(mutex_);
            for (auto it = idle_.begin(); it != idle_.end(); ++it) {
                if (it->second == bytes) {
                    std::uint8_t* data = it->first;
                    idle_.erase(it);
                    return data;
                }
            }
        }
        return new (std::nothrow) std::uint8_t[bytes];
    }
    void give(std::uint8_t* data, std::size_t bytes)
    {
        {
            const std::lock_guard lock(mutex_);
            if (idle_.size() < kMaxIdle) {
                idle_.emplace_back(data, bytes);
                return;
            }
        }
        delete[] data;
    }

private:
    static constexpr std::size_t kMaxIdle = 6;
    std::mutex mutex_;
    std::vector<std::pair<std::uint8_t*, std::size_t>> idle_;
};

struct PooledFrame {
    std::uint8_t* data;
    std::size_t bytes;
};

void giveBack(void* info)
{
    auto* frame = static_cast<PooledFrame*>(info);
    FramePool::instance().give(frame->data, frame->bytes);
    delete frame;
}

// An image over a pooled buffer (BGRA memory order, alpha ignored, Display P3) that returns the buffer
// to the pool when its last copy goes.
QImage wrapPooled(std::uint8_t* data, std::size_t bytes, int width, int height)
{
    auto* info = new PooledFrame{data, bytes};
    QImage image(data, width, height, static_cast<qsizetype>(width) * 4, QImage::Format_RGB32, giveBack,
                 info);
    if (image.isNull()) {
        giveBack(info);
        return {};
    }
    static const QColorSpace displayP3(QColorSpace::DisplayP3);
    image.setColorSpace(displayP3);
    return image;
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
    const auto byteCount = static_cast<std::size_t>(bytes);
    std::uint8_t* out = FramePool::instance().take(byteCount);
    if (!out)
        return {};
    const std::span<std::uint8_t> target(out, byteCount);
    bool ok = false;
    int width = size.width;
    int height = size.height;
    if (RawFrame::staysLandscape(bytes)) {
        ok = RawFrame::rgbToBgraInto(rgb, size, target);
    } else {
        auto& bgra = scratch().bgra;
        bgra.resize(byteCount);
        ok = RawFrame::rgbToBgraInto(rgb, size, bgra) && RawFrame::rotateBufferToPortInto(bgra, size, target);
        std::swap(width, height);
    }
    if (!ok) {
        FramePool::instance().give(out, byteCount);
        return {};
    }
    return wrapPooled(out, byteCount, width, height);
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

} // namespace qr
