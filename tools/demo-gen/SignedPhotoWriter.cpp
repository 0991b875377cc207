#include "SignedPhotoWriter.h"

#include <QBuffer>
#include <QStringList>
#include <QTemporaryFile>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <memory>

namespace qr {

namespace {
Exiv2::ExifData commentExif(const QString& comment)
{
    Exiv2::ExifData exif;
    exif["Exif.Photo.UserComment"] = "charset=Ascii " + comment.toStdString();
    return exif;
}

heif_error writeToBuffer(heif_context*, const void* data, size_t size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}
} // namespace

QString SignedPhotoWriter::signature(const QString& version)
{
    QStringList fields{QStringLiteral("Quintaray"), version};
    while (fields.size() < 16)
        fields << QStringLiteral("demo%1").arg(fields.size());
    return fields.join(QLatin1Char(','));
}

QByteArray SignedPhotoWriter::jpeg(const QImage& image, const QString& comment, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", quality))
        return {};
    try {
        auto exivImage = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                                   static_cast<long>(bytes.size()));
        exivImage->readMetadata();
        exivImage->setExifData(commentExif(comment));
        exivImage->writeMetadata();
        Exiv2::BasicIo& out = exivImage->io();
        out.seek(0, Exiv2::BasicIo::beg);
        Exiv2::DataBuf all = out.read(static_cast<long>(out.size()));
        return QByteArray(reinterpret_cast<const char*>(all.pData_), qsizetype(all.size_));
    } catch (const std::exception&) {
        return {};
    }
}

bool SignedPhotoWriter::heicAvailable()
{
    return heif_have_encoder_for_format(heif_compression_HEVC) != 0;
}

QByteArray SignedPhotoWriter::heic(const QImage& source, const QString& comment, int quality)
{
    std::unique_ptr<heif_context, void (*)(heif_context*)> ctx(heif_context_alloc(), heif_context_free);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &rawEncoder).code !=
        heif_error_Ok)
        return {};
    std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(rawEncoder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), quality);

    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    heif_image* rawImage = nullptr;
    if (heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          &rawImage)
            .code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_image, void (*)(const heif_image*)> image(rawImage, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);

    heif_image_handle* rawHandle = nullptr;
    if (heif_context_encode_image(ctx.get(), image.get(), encoder.get(), nullptr, &rawHandle).code !=
        heif_error_Ok)
        return {};
    std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(rawHandle,
                                                                                  heif_image_handle_release);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, commentExif(comment));
    if (heif_context_add_exif_metadata(ctx.get(), handle.get(), blob.data(), static_cast<int>(blob.size()))
            .code != heif_error_Ok)
        return {};
    QByteArray out;
    heif_writer writer{1, &writeToBuffer};
    if (heif_context_write(ctx.get(), &writer, &out).code != heif_error_Ok)
        return {};
    return out;
}

} // namespace qr
