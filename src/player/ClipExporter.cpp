#include "player/ClipExporter.h"

#include "platform/FileListing.h"
#include "player/ClipEncoder.h"
#include "player/PhotoDecoder.h"
#include "player/Playlist.h"
#include "player/SetPreparer.h"

#include <QFileInfo>
#include <QImage>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace qr {

namespace {

bool isRaw(const QString& path)
{
    return FileListing::extension(path).compare(QLatin1String("rgb"), Qt::CaseInsensitive) == 0;
}

QSize uprightRawSize(FrameSize size)
{
    if (size.width <= 0 || size.height <= 0)
        return {};
    if (RawFrame::staysLandscape(std::int64_t{size.width} * size.height * 4))
        return {size.width, size.height};
    return {size.height, size.width};
}

// The photos decoded ahead of the encoder, handed over whole under the mutex.
struct Pipeline {
    explicit Pipeline(int count) : images(static_cast<std::size_t>(count)), ready(images.size(), false) {}
    std::mutex mutex;
    std::condition_variable landed;
    std::vector<QImage> images;
    std::vector<bool> ready;
    std::atomic<bool> stop{false};
};

QImage decodeForClip(const QString& path, bool raw, FrameSize rawSize, QSize box)
{
    if (raw)
        return SetPreparer::prepareRawFrame(path, rawSize, box).displayImage();
    return PhotoDecoder::decode(path, box);
}

} // namespace

ClipExporter::ClipExporter(int threads)
    : threads_(threads > 0 ? threads : std::max(1, QThread::idealThreadCount()))
{}

QSize ClipExporter::photoSize(const QString& path, FrameSize rawSize)
{
    if (isRaw(path)) {
        const QFileInfo info(path);
        if (!info.isFile())
            return {};
        return uprightRawSize(RawFrame::recognise(info.size(), rawSize));
    }
    return PhotoDecoder::naturalSize(path);
}

ClipResult ClipExporter::run(const ClipRequest& request, const Progress& progress,
                             const std::atomic<bool>* cancel) const
{
    ClipResult result;
    const auto count = static_cast<int>(request.photos.size());
    if (count == 0) {
        result.message = QStringLiteral("no photos");
        return result;
    }

    // Raw frames take the size recognised from their own byte count, or the one in force before.
    std::vector<FrameSize> rawSizes(static_cast<std::size_t>(count));
    QStringList rawPaths;
    for (const QString& path : request.photos)
        if (isRaw(path))
            rawPaths.append(path);
    const std::vector<FrameSize> recognised = SetPreparer::recogniseSizes(rawPaths, request.rawSize);
    for (int i = 0, r = 0; i < count; ++i)
        if (isRaw(request.photos[i]))
            rawSizes[static_cast<std::size_t>(i)] = recognised[static_cast<std::size_t>(r++)];

    const QString& first = request.photos.first();
    const QSize firstSize = photoSize(first, request.rawSize);
    if (firstSize.isEmpty()) {
        result.status = ClipResult::Status::UnreadablePhoto;
        result.photo = first;
        result.message = QStringLiteral("%1: cannot be read as a photo").arg(first);
        return result;
    }
    const QSize frameSize = ClipEncoder::frameSizeFor(firstSize, request.maxHeight);
    ClipEncoder encoder;
    if (!encoder.open(request.output, frameSize, request.fps)) {
        result.message = encoder.errorString();
        return result;
    }
    result.frameSize = frameSize;

    auto pipeline = std::make_shared<Pipeline>(count);
    QThreadPool pool;
    pool.setMaxThreadCount(threads_);
    // Enough ahead to keep every decoding thread busy while the encoder takes the next photo; each
    // photo in flight is one frame-sized image (a raw frame also holds its full frame while it turns).
    const int ahead = threads_ + 2;
    int submitted = 0;
    auto submit = [&] {
        const int i = submitted++;
        const QString path = request.photos[i];
        const bool raw = isRaw(path);
        const FrameSize rawSize = rawSizes[static_cast<std::size_t>(i)];
        pool.start([pipeline, cancel, i, path, raw, rawSize, frameSize] {
            QImage image;
            if (!pipeline->stop && !(cancel && *cancel))
                image = decodeForClip(path, raw, rawSize, frameSize);
            const std::lock_guard lock(pipeline->mutex);
            pipeline->images[static_cast<std::size_t>(i)] = std::move(image);
            pipeline->ready[static_cast<std::size_t>(i)] = true;
            pipeline->landed.notify_all();
        });
    };
    while (submitted < std::min(ahead, count))
        submit();

    result.status = ClipResult::Status::Done;
    for (int i = 0; i < count && result.ok(); ++i) {
        QImage image;
        {
            std::unique_lock lock(pipeline->mutex);
            while (!pipeline->ready[static_cast<std::size_t>(i)] && !(cancel && *cancel))
                pipeline->landed.wait_for(lock, std::chrono::milliseconds(50));
            if (cancel && *cancel) {
                result.status = ClipResult::Status::Cancelled;
                break;
            }
            image = std::move(pipeline->images[static_cast<std::size_t>(i)]);
            pipeline->images[static_cast<std::size_t>(i)] = QImage();
        }
        if (image.isNull()) {
            result.status = ClipResult::Status::UnreadablePhoto;
            result.photo = request.photos[i];
            result.message = QStringLiteral("%1: cannot be read as a photo").arg(result.photo);
        } else if (!encoder.addFrame(image)) {
            result.status = ClipResult::Status::Failed;
            result.message = encoder.errorString();
        } else {
            if (submitted < count)
                submit();
            if (progress)
                progress(i + 1, count);
        }
    }
    if (result.ok() && cancel && *cancel)
        result.status = ClipResult::Status::Cancelled;

    if (!result.ok()) {
        pipeline->stop = true;
        pool.waitForDone();
        encoder.abort();
        if (result.status == ClipResult::Status::Cancelled)
            result.message = QStringLiteral("cancelled");
        return result;
    }
    pool.waitForDone();
    if (!encoder.finish()) {
        result.status = ClipResult::Status::Failed;
        result.message = encoder.errorString();
        return result;
    }
    result.frames = encoder.framesWritten();
    return result;
}

} // namespace qr
