#include "player/PhotoSignature.h"

#include "decode/HeifBoxCheck.h"
#include "player/HeifPointers.h"

#include "player/Playlist.h"

#include "platform/FileListing.h"
#include "platform/RegularFile.h"
#include "player/PhotoDecoder.h"

#include <QFile>
#include <QStringList>
#include <QtEndian>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace qr {

namespace {

void initialiseExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
}

std::optional<QString> commentFrom(const Exiv2::ExifData& exif)
{
    const auto it = exif.findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
    if (it == exif.end())
        return std::nullopt;
    if (const auto* comment = dynamic_cast<const Exiv2::CommentValue*>(&it->value()))
        return QString::fromStdString(comment->comment());
    return QString::fromStdString(it->value().toString());
}

std::optional<QString> jpegComment(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const Exiv2::byte*>(bytes.constData());
    try {
        // Read as a JPEG only: exiv2 picks its reader by the content, and some of its other readers
        // (QuickTime) loop for ever on a crafted file.
        if (Exiv2::ImageFactory::getType(data, static_cast<long>(bytes.size())) != Exiv2::ImageType::jpeg)
            return std::nullopt;
        auto image = Exiv2::ImageFactory::open(data, static_cast<long>(bytes.size()));
        if (image.get() == nullptr)
            return std::nullopt;
        image->readMetadata();
        return commentFrom(image->exifData());
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<QString> heicComment(const QByteArray& bytes)
{
    if (!HeifBoxCheck::wellFormed(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()))))
        return std::nullopt;
    HeifContext ctx(heif_context_alloc());
    if (!ctx)
        return std::nullopt;
    heif_context_set_maximum_image_size_limit(ctx.get(), 1 << 14);
    if (heif_context_read_from_memory_without_copy(ctx.get(), bytes.constData(), std::size_t(bytes.size()),
                                                   nullptr)
            .code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok)
        return std::nullopt;
    HeifHandle handle(raw);
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) < 1)
        return std::nullopt;
    const std::size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
    if (size < 4)
        return std::nullopt;
    std::vector<std::uint8_t> block(size);
    if (heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok)
        return std::nullopt;
    // The block starts with a big-endian offset to the TIFF header, counted after the offset itself.
    const std::uint32_t offset = qFromBigEndian<std::uint32_t>(block.data());
    std::size_t start = 4;
    if (offset > size - start)
        return std::nullopt;
    start += offset;
    static constexpr std::uint8_t kExifPrefix[] = {'E', 'x', 'i', 'f', 0, 0};
    if (size - start >= sizeof kExifPrefix && std::equal(std::begin(kExifPrefix), std::end(kExifPrefix),
                                                         block.begin() + static_cast<std::ptrdiff_t>(start)))
        start += sizeof kExifPrefix;
    try {
        Exiv2::ExifData exif;
        Exiv2::ExifParser::decode(exif, block.data() + start, static_cast<std::uint32_t>(size - start));
        return commentFrom(exif);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

std::optional<QString> PhotoSignature::userComment(const QString& path)
{
    initialiseExiv2();
    // Read once through the open file, which never blocks on a FIFO put in the photo's place.
    RegularFile file(path);
    QByteArray bytes;
    if (!file.readAll(bytes, PhotoDecoder::kMaxFileBytes))
        return std::nullopt;
    if (FileListing::extension(path) == QLatin1String("heic"))
        return heicComment(bytes);
    return jpegComment(bytes);
}

float PhotoSignature::leadingNumber(const QString& field)
{
    const QByteArray bytes = field.toLatin1();
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v'))
        ++p;
    std::string number;
    auto digits = [&] {
        bool any = false;
        while (p < end && *p >= '0' && *p <= '9') {
            number.push_back(*p++);
            any = true;
        }
        return any;
    };
    if (p < end && (*p == '+' || *p == '-'))
        number.push_back(*p++);
    bool mantissa = digits();
    if (p < end && *p == '.') {
        number.push_back(*p++);
        mantissa = digits() || mantissa;
    }
    if (!mantissa)
        return 0.0f;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* const mark = p;
        std::string exponent(1, 'e');
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            exponent.push_back(*p++);
        bool any = false;
        while (p < end && *p >= '0' && *p <= '9') {
            exponent.push_back(*p++);
            any = true;
        }
        if (any)
            number += exponent;
        else
            p = mark;
    }
    // from_chars is locale-independent; it takes no leading "+".
    const char* first = number.c_str();
    if (*first == '+')
        ++first;
    float value = 0.0f;
    const auto [ptr, ec] = std::from_chars(first, number.c_str() + number.size(), value);
    if (ec == std::errc::result_out_of_range)
        return number.find('e') != std::string::npos && number.find("e-") != std::string::npos
                   ? 0.0f
                   : (*first == '-' ? -HUGE_VALF : HUGE_VALF);
    return ec == std::errc() ? value : 0.0f;
}

QString PhotoSignature::commentFailure(const QString& comment)
{
    const QStringList fields = comment.split(QLatin1Char(','));
    if (fields.size() < kMinFields)
        return QStringLiteral("the comment has %1 fields, fewer than %2").arg(fields.size()).arg(kMinFields);
    if (fields.at(0) != QLatin1String("Quintaray"))
        return QStringLiteral("the comment's first field is \"%1\", not \"Quintaray\"").arg(fields.at(0));
    if (!(leadingNumber(fields.at(1)) >= kMinVersion))
        return QStringLiteral("the comment's version \"%1\" is below 9.58").arg(fields.at(1));
    return {};
}

bool PhotoSignature::commentPasses(const QString& comment)
{
    return commentFailure(comment).isEmpty();
}

QString PhotoSignature::photoFailure(const QString& path)
{
    if (FileListing::extension(path) == QLatin1String("rgb"))
        return {};
    if (!RegularFile::isRegular(path))
        return QStringLiteral("not a regular file");
    const auto comment = userComment(path);
    if (!comment)
        return QStringLiteral("no readable EXIF \"UserComment\"");
    return commentFailure(*comment);
}

bool PhotoSignature::photoPasses(const QString& path)
{
    return photoFailure(path).isEmpty();
}

} // namespace qr
