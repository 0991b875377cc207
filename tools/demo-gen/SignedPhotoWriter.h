#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace qr {

// Encodes photos as the phone application does: JPEG or HEIC with its signature in the EXIF
// "UserComment".
class SignedPhotoWriter {
public:
    // "Quintaray,<version>," followed by fillers up to 16 fields.
    static QString signature(const QString& version = QStringLiteral("10.1"));

    // Empty on failure.
    static QByteArray jpeg(const QImage& image, const QString& comment, int quality = 85);
    static bool heicAvailable();
    static QByteArray heic(const QImage& image, const QString& comment, int quality = 60);
};

} // namespace qr
