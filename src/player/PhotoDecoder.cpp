#include "player/PhotoDecoder.h"

#include "player/Playlist.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>

#include <libheif/heif.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>

#include <memory>

namespace qr {

namespace {

struct HeifContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HeifHandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct HeifImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

using HeifContext = std::unique_ptr<heif_context, HeifContextDeleter>;
using HeifHandle = std::unique_ptr<heif_image_handle, HeifHandleDeleter>;

bool isHeic(const QString& path)
{
    return Playlist::extension(path) == QLatin1String("heic");
}

bool openHeic(const QString& path, HeifContext& ctx, HeifHandle& handle)
{
    ctx.reset(heif_context_alloc());
    if (!ctx || heif_context_read_from_file(ctx.get(), QFile::encodeName(path).constData(), nullptr).code !=
                    heif_error_Ok)
        return false;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok)
        return false;
    handle.reset(raw);
    return true;
}

QImage decodeHeic(const QString& path, QSize box)
{
    HeifContext ctx;
    HeifHandle handle;
    if (!openHeic(path, ctx, handle))
        return {};
    heif_image* raw = nullptr;
    if (heif_decode_image(handle.get(), &raw, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr)
            .code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_image, HeifImageDeleter> image(raw);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* rgb = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!rgb || width <= 0 || height <= 0 || stride < width * 3)
        return {};
    QImage out(width, height, QImage::Format_RGB32);
    if (out.isNull())
        return {};
    // libyuv's "RAW" is memory order R, G, B; its "ARGB" is memory order B, G, R, A.
    if (libyuv::RAWToARGB(rgb, stride, out.bits(), static_cast<int>(out.bytesPerLine()), width, height) != 0)
        return {};
    return PhotoDecoder::scaledToFit(out, box);
}

QImage decodeJpeg(const QString& path, QSize box)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (box.isValid() && stored.isValid()) {
        // The reader scales before the orientation is applied: fit the stored size to the box as the
        // photo will stand.
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize target = PhotoDecoder::fittedSize(stored, turned ? box.transposed() : box);
        if (target != stored)
            reader.setScaledSize(target);
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_RGB32);
    return image;
}

} // namespace

QSize PhotoDecoder::naturalSize(const QString& path)
{
    if (isHeic(path)) {
        HeifContext ctx;
        HeifHandle handle;
        if (!openHeic(path, ctx, handle))
            return {};
        return {heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get())};
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid() && reader.transformation().testFlag(QImageIOHandler::TransformationRotate90))
        size.transpose();
    return size.isValid() ? size : QSize();
}

QImage PhotoDecoder::decode(const QString& path, QSize box)
{
    return isHeic(path) ? decodeHeic(path, box) : decodeJpeg(path, box);
}

QSize PhotoDecoder::fittedSize(QSize size, QSize box)
{
    if (!box.isValid() || box.isEmpty() || size.isEmpty())
        return size;
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QImage PhotoDecoder::scaledToFit(const QImage& image, QSize box)
{
    if (image.isNull())
        return {};
    const QSize target = fittedSize(image.size(), box);
    if (target == image.size())
        return image;
    QImage source = image;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32)
        source = source.convertToFormat(QImage::Format_RGB32);
    QImage out(target, source.format());
    if (out.isNull())
        return {};
    if (libyuv::ARGBScale(source.constBits(), static_cast<int>(source.bytesPerLine()), source.width(),
                          source.height(), out.bits(), static_cast<int>(out.bytesPerLine()), out.width(),
                          out.height(), libyuv::kFilterBox) != 0)
        return source.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    out.setColorSpace(source.colorSpace());
    return out;
}

} // namespace qr
