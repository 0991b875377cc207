#pragma once

// Photo files made at test time: JPEG and HEIC with an EXIF "UserComment", raw frames.

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qr::fixtures {

// A comment with `fields` comma-separated fields: "Quintaray", `version`, then fillers.
inline QString signature(const QString& version = QStringLiteral("9.58"), int fields = 14,
                         const QString& first = QStringLiteral("Quintaray"))
{
    QStringList parts{first, version};
    while (parts.size() < fields)
        parts.append(QStringLiteral("f%1").arg(parts.size()));
    return parts.mid(0, fields).join(QLatin1Char(','));
}

inline Exiv2::ExifData commentExif(const QString& comment)
{
    Exiv2::ExifData exif;
    exif["Exif.Photo.UserComment"] = "charset=Ascii " + comment.toStdString();
    return exif;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QImage testImage(QSize size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((seed * 37) % 360, 200, 200));
    return image;
}

// A JPEG photo; a comment is written with exiv2 unless it is null.
inline bool makeJpeg(const QString& path, const QString& comment, QSize size = {48, 64}, int seed = 0)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!testImage(size, seed).save(path, "JPG"))
        return false;
    if (comment.isNull())
        return true;
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        image->setExifData(commentExif(comment));
        image->writeMetadata();
        return true;
    } catch (...) {
        return false;
    }
}

inline bool heicEncoderAvailable()
{
    return heif_have_encoder_for_format(heif_compression_HEVC) != 0;
}

// A HEIC photo encoded by libheif; the comment goes into its EXIF block unless it is null.
inline bool makeHeic(const QString& path, const QString& comment, QSize size = {64, 64}, int seed = 0)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::unique_ptr<heif_context, void (*)(heif_context*)> ctx(heif_context_alloc(), heif_context_free);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &rawEncoder).code !=
        heif_error_Ok)
        return false;
    std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(rawEncoder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), 60);
    heif_image* rawImage = nullptr;
    if (heif_image_create(size.width(), size.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          &rawImage)
            .code != heif_error_Ok)
        return false;
    std::unique_ptr<heif_image, void (*)(const heif_image*)> image(rawImage, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, size.width(), size.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const QImage source = testImage(size, seed);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb c = source.pixel(x, y);
            std::uint8_t* p = plane + y * stride + x * 3;
            p[0] = static_cast<std::uint8_t>(qRed(c));
            p[1] = static_cast<std::uint8_t>(qGreen(c));
            p[2] = static_cast<std::uint8_t>(qBlue(c));
        }
    }
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_encode_image(ctx.get(), image.get(), encoder.get(), nullptr, &rawHandle).code !=
        heif_error_Ok)
        return false;
    std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(rawHandle,
                                                                                  heif_image_handle_release);
    if (!comment.isNull()) {
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, commentExif(comment));
        if (heif_context_add_exif_metadata(ctx.get(), handle.get(), blob.data(),
                                           static_cast<int>(blob.size()))
                .code != heif_error_Ok)
            return false;
    }
    return heif_context_write_to_file(ctx.get(), QFile::encodeName(path).constData()).code == heif_error_Ok;
}

} // namespace qr::fixtures
