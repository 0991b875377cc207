#pragma once

#include <QString>

#include <optional>

namespace qr {

// The companion application's signature in a photo's EXIF "UserComment": at least 14 comma fields,
// the first exactly "Quintaray", the second a version of at least 9.58.
class PhotoSignature {
public:
    static constexpr int kMinFields = 14;
    static constexpr float kMinVersion = 9.58f;

    // The comment text without its character-code prefix, or nothing when the file is no readable
    // image or carries no EXIF "UserComment". JPEG files are read with exiv2, HEIC files through the
    // EXIF block that libheif returns (chosen by the extension "heic").
    static std::optional<QString> userComment(const QString& path);

    // The comment test alone.
    static bool commentPasses(const QString& comment);
    // Why a comment fails the test, in words; empty when it passes.
    static QString commentFailure(const QString& comment);

    // A field read as a number: leading white space skipped, the longest decimal number prefix (sign,
    // digits, point, exponent) in single precision; 0 when there is none.
    static float leadingNumber(const QString& field);

    // The test of a set's first or last photo: raw frames (".rgb") pass; JPEG and HEIC photos pass
    // when their comment does.
    static bool photoPasses(const QString& path);
    // Why a photo fails the test, in words; empty when it passes.
    static QString photoFailure(const QString& path);
};

} // namespace qr
